#include <cstring>

#include "archive/archive_reader.h"
#include "archive/stored_path.h"

namespace {

const char kBadDescriptor[] = "Error while reading catalog.\nCould not read a file descriptor";
const char kUnsafePath[] = "Error while reading catalog.\nUnsafe file path in the archive";

int32_t Int32At(const unsigned char* p) {
    return int32_t(uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24);
}

int64_t Int64At(const unsigned char* p) {
    return int64_t(uint64_t(uint32_t(Int32At(p))) | uint64_t(uint32_t(Int32At(p + 4))) << 32);
}

void FreeEntry(CatalogEntry* entry) {
    delete[] entry->displayName;
    delete[] entry->path;
    delete entry;
}

}  // namespace

void FreeCatalog(CatalogEntry* head) {
    while (head) {
        CatalogEntry* next = head->next;
        FreeEntry(head);
        head = next;
    }
}

bool CArchiveReader::ReadDescriptor(CatalogEntry* entry) {
    unsigned char fields[30];
    // Field by field, so the key stream advances exactly as the writer's did.
    static const int kWidths[] = {4, 4, 4, 4, 8, 4, 2};
    int at = 0;
    for (int width : kWidths) {
        if (!ReadField(fields + at, width)) return false;
        at += width;
    }
    entry->fileSize = Int32At(fields);
    entry->storedSize = Int32At(fields + 4);
    entry->rawPrefixSize = Int32At(fields + 8);
    entry->codedSize = Int32At(fields + 12);
    entry->dataOffset = Int64At(fields + 16);
    entry->crc = uint32_t(Int32At(fields + 24));
    const int16_t length = int16_t(fields[28] | fields[29] << 8);
    if (length < 0) return false;  // no valid reading for a negative name length

    char* path = new char[size_t(length) + 1];
    if (length > 0 && !ReadField(path, length)) {
        delete[] path;
        return false;
    }
    path[length] = '\0';
    const char* slash = std::strrchr(path, '\\');
    entry->path = path;
    entry->displayName = DuplicateText(slash ? slash + 1 : path);
    return true;
}

CatalogEntry* CArchiveReader::ReadCatalog() {
    CatalogEntry* head = nullptr;
    for (int i = 0; i < m_entryCount; ++i) {
        auto* entry = new CatalogEntry{};
        const char* failure = nullptr;
        if (!ReadDescriptor(entry)) {
            delete entry;
            failure = kBadDescriptor;
        } else if (!HasStoredPathForm(entry->path)) {
            // Such an entry could never be extracted safely: refuse the archive.
            FreeEntry(entry);
            failure = kBadDescriptor;
        } else if (!IsSafeRelativePath(entry->path + 2)) {
            FreeEntry(entry);
            failure = kUnsafePath;
        }
        if (failure) {
            FreeCatalog(head);
            ReportArchiveError(failure);
            return nullptr;
        }
        if (head) head->prev = entry;
        entry->next = head;
        entry->prev = nullptr;
        entry->reader = this;
        entry->status = kEntryRead;
        entry->destPrefixLen = 0;
        head = entry;
    }
    return head;
}

QueueNode* CArchiveReader::EnqueueEntry(CatalogEntry* entry) {
    auto* node = new QueueNode{m_queueHead, nullptr, entry};
    if (m_queueHead) m_queueHead->prev = node;
    m_queueHead = node;
    return node;
}

void CArchiveReader::DequeueEntry(QueueNode* node) {
    if (node->prev)
        node->prev->next = node->next;
    else
        m_queueHead = node->next;
    if (node->next) node->next->prev = node->prev;
    delete node;
}

void CArchiveReader::FreeQueue() {
    while (m_queueHead) {
        QueueNode* node = m_queueHead;
        m_queueHead = node->next;
        delete node;
    }
}
