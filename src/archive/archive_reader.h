#pragma once
#include <cstdint>

#include "archive/catalog.h"
#include "archive/crypt.h"
#include "common/crc32.h"
#include "extract/block_decoder.h"

constexpr int kMarkerLength = 12;
constexpr int kWindowSize = 0x100000;   // the marker must lie in the first MiB
constexpr int kBufferSize = 524288;     // input buffer for the coded part
constexpr int kMaxVersion = 10;
constexpr int kFlagEncrypted = 1;
constexpr int kFlagSplit = 2;
constexpr int kFlagLastVolume = 4;

// The stored marker; MakeMarkerSearchForm turns it into what the search looks for.
extern char g_szMarker[kMarkerLength + 1];
// Adds one to every marker byte. Must run exactly once per process.
void MakeMarkerSearchForm();

// The archive's whole state for one run: loading on the dialog's thread, then
// extraction on the worker. Its methods live in one file per concern.
enum class VolumeResult;

class CArchiveReader {
public:
    CArchiveReader();
    virtual ~CArchiveReader();
    CArchiveReader(const CArchiveReader&) = delete;
    CArchiveReader& operator=(const CArchiveReader&) = delete;

    // Loading: header.cpp, catalog.cpp.
    CatalogEntry* LoadCatalog();
    bool FindMarker(const unsigned char* buffer, int length);
    bool ReadHeader();
    bool ReadDescriptor(CatalogEntry* entry);
    CatalogEntry* ReadCatalog();
    QueueNode* EnqueueEntry(CatalogEntry* entry);
    // Takes a node out of the queue and frees it; never the current one, which
    // the engine still works on. The stub queues every entry; trelk-extract
    // leaves out what it skips.
    void DequeueEntry(QueueNode* node);
    void FreeQueue();

    // Decryption: crypt.cpp.
    void DecryptStream(unsigned char* buffer, int length);
    void MaskWithKey(unsigned char* buffer, int length);

    // Error reports: archive_reader.cpp.
    void ReportArchiveError(const char* msg);
    void ReportWriteError(const char* msg);
    void ReportReadError(const char* msg);

    // Extraction: engine.cpp.
    void PrepareExtraction();
    void StartEntry();
    bool ExtractStep();
    void RefillBuffer();
    // Copies n stored bytes to the output in pieces. With stopOnCancel a cancel
    // ends the copy between two pieces: false, with nothing reported.
    bool CopyRaw(int64_t n, bool stopOnCancel);
    bool FlushBuffer();
    void FinishExtraction();
    void AbortExtraction();
    // Flush, raw tail, close and CRC check of the current entry; false after
    // a report and the abort clean-up.
    bool CompleteEntry();
    void DeleteTempFile();

    // Output files and paths: output_files.cpp.
    bool CreateOutputFile();
    void CreateFolders(const char* path, int start);
    void RemovePartialOutput();
    void MakeTempPath();

    // Split archives: join.cpp.
    bool JoinVolumes();
    bool OpenVolume(int n);
    bool CopyVolume(int n, bool& lastVolume);
    // Volume 0's first m_archiveOffset bytes, copied whole into the joined file.
    bool CopyExecutablePart();
    // Streams a volume's payload into the joined file in 16 KiB chunks.
    VolumeResult CopyPayload(int64_t payload);

    CCrc32 m_crcArchive;
    CCrc32 m_crcFile;
    CBlockDecoder m_decoder;
    QueueNode* m_queueHead;
    const char* m_pszArchiveName;
    char* m_pszArchivePath;
    char* m_pszTempPath;
    int32_t m_flags;
    char m_magic[5];
    int32_t m_entryCount;
    int32_t m_subVersion;
    int32_t m_version;
    int m_fdIn;
    int m_fdOut;
    unsigned char m_key[kKeySize];
    int32_t m_keyPos;
    QueueNode* m_current;
    int64_t m_consumed;
    int32_t m_decodedWritten;
    unsigned char m_buffer[kBufferSize];
    int32_t m_bufPos;
    int32_t m_bufFill;
    int32_t m_archiveOffset;

private:
    // Reads exactly n bytes from m_fdIn, deciphering them when the archive is encrypted.
    bool ReadField(void* buffer, int n);
    void ShowFatal(const char* format, const char* name, const char* msg);
};

// The worker thread's routine; param is the CArchiveReader. Always returns 0.
uint32_t ExtractWorker(void* param);

// A heap copy of text that the entries and the reader own (freed with delete[]).
char* DuplicateText(const char* text);
