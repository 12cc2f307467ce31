#pragma once
#include <cstdint>

class CArchiveReader;

// One file of the archive, as its descriptor gave it. The dialog owns the
// entries and their two texts.
struct CatalogEntry {
    CatalogEntry* next;     // the descriptor read before this one; null at the end
    CatalogEntry* prev;     // the descriptor read after this one; null at the head
    CArchiveReader* reader; // the reader that read it
    char* displayName;      // file-name part of the stored path
    int32_t fileSize;
    int32_t storedSize;
    int32_t rawPrefixSize;
    int32_t codedSize;
    int64_t dataOffset;     // from the archive start
    uint32_t crc;
    uint32_t status;        // 1 when read; value 4 added when an error hits it
    int32_t destPrefixLen;  // 0 while path holds the stored path
    char* path;             // stored path (".\a\b"), later the full output path
};

// A node of the extraction queue; the reader owns the nodes, not the entries.
struct QueueNode {
    QueueNode* next;
    QueueNode* prev;
    CatalogEntry* entry;
};

constexpr uint32_t kEntryRead = 1;
constexpr uint32_t kEntryFailed = 4;

// Frees the entries of a catalog list from head along next, with their texts.
void FreeCatalog(CatalogEntry* head);
