#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

#include "archive/archive_reader.h"
#include "common/globals.h"
#include "common/messages.h"
#include "platform/platform.h"

namespace {

const char kOpenForReading[] = "Could not open the archive for reading";
const char kReadFailed[] = "Error while reading archive";
const char kWriteFailed[] = "Error while writing file";
const char kUnexpectedEnd[] = "Unexpected end of file";
const char kCrcError[] = "CRC error";

constexpr int kBlocksPerStep = 100;
constexpr int kRefillBelow = 65536;
// Raw prefixes and tails are copied in pieces of this size, so a huge one
// never needs one huge allocation.
constexpr int64_t kRawChunk = 1 << 20;

#ifdef TRELK_FUZZ_IGNORE_CRC
constexpr bool kCheckCrc = false;
#else
constexpr bool kCheckCrc = true;
#endif

bool Stopped() { return g_errorRaised || g_cancelRequested; }

// Percentage of the coded part written; an entry with nothing to decode is complete.
intptr_t Progress(int32_t written, int32_t codedSize) {
    if (codedSize == 0) return 100;
    return intptr_t(int64_t(written) * 100 / codedSize);
}

}  // namespace

uint32_t ExtractWorker(void* param) {
    auto* reader = static_cast<CArchiveReader*>(param);
    g_errorRaised = 0;
    reader->PrepareExtraction();
    // An empty queue leaves no current entry: there is no step to run.
    if (!Stopped() && reader->m_current) {
        while (reader->ExtractStep() && !Stopped()) {
        }
    }
    // A cancel seen while the first entry was being started leaves its file
    // open and half-made with no step to clean up after it: clean up here.
    if (Stopped())
        reader->AbortExtraction();
    else
        reader->FinishExtraction();
    // The dialog may free the reader as soon as it has this message.
    platform::SendToDialog(WM_EXTRACT_FINISHED, 0);
    return 0;
}

void CArchiveReader::PrepareExtraction() {
    const char* input = m_pszArchivePath;
    bool goOn = true;
    if (m_flags & kFlagSplit) {
        MakeTempPath();
        goOn = JoinVolumes();
        input = m_pszTempPath;
    }
    if (goOn) {
        m_fdIn = platform::OpenRead(input);
        if (m_fdIn == -1) {
            ReportReadError(kOpenForReading);
            if (m_pszTempPath) platform::Remove(m_pszTempPath);
            goOn = false;
        }
    }
    if (!goOn) {
        delete[] m_pszTempPath;
        m_pszTempPath = nullptr;
        return;
    }
    m_current = m_queueHead;
    if (m_current)
        StartEntry();
    else
        AbortExtraction();
}

void CArchiveReader::StartEntry() {
    const CatalogEntry* entry = m_current->entry;
    if (!CreateOutputFile()) {
        AbortExtraction();
        return;
    }
    platform::SendToDialog(WM_EXTRACT_FILENAME, reinterpret_cast<intptr_t>(entry->displayName));
    m_crcFile.Reset();
    m_consumed = 0;
    // Well-formed offsets start at 1; anything below still maps into the key.
    const int64_t position = (entry->dataOffset % kKeySize - 1) % kKeySize;
    m_keyPos = int32_t(position < 0 ? position + kKeySize : position);
    // Offsets are taken as stored: one too large to add is a seek that fails.
    // A failed seek would leave the reading wherever the last entry ended, so
    // the outcome would depend on the file system: it is a read error.
    const bool fits = entry->dataOffset <= INT64_MAX - m_archiveOffset;
    if (platform::Seek(m_fdIn, fits ? m_archiveOffset + entry->dataOffset : -1) == -1) {
        ReportReadError(kReadFailed);
        AbortExtraction();
        return;
    }
    // A cancel may cut the prefix short: the entry is abandoned then, as it is
    // before its first block, and a long prefix need not be copied to the end.
    if (!CopyRaw(entry->rawPrefixSize, true)) {
        AbortExtraction();
        return;
    }
    m_consumed = entry->rawPrefixSize;
    m_decoder.Reset();
    m_decodedWritten = 0;
    m_bufPos = m_bufFill = 0;
}

bool CArchiveReader::ExtractStep() {
    CatalogEntry* entry = m_current->entry;
    uint16_t words[kMaxBlockWords];
    DecodeBlock block{};
    block.wordCount = kMaxBlockWords;
    block.output = words;
    bool more = true;

    for (int i = 0; i < kBlocksPerStep; ++i) {
        // Once the coded part is complete a cancel waits for the step's filler
        // blocks, which are not part of the file: the entry is finished and
        // checked, and the run ends after it.
        if (g_cancelRequested && more) break;
        if (m_bufFill - m_bufPos < kRefillBelow && m_consumed + m_bufFill - m_bufPos < int64_t(entry->storedSize))
            RefillBuffer();
        if (g_errorRaised) break;

        // A block needs at least its header byte in the buffer.
        if (m_bufPos >= m_bufFill) {
            ReportReadError(kUnexpectedEnd);
            AbortExtraction();
            break;
        }
        block.header = m_buffer[m_bufPos++];
        block.input = m_buffer + m_bufPos;
        block.available = m_bufFill - m_bufPos;

        const int64_t rem = int64_t(entry->codedSize) - m_decodedWritten;
        if ((rem & ~int64_t(1)) < 2 * kMaxBlockWords) block.wordCount = rem > 0 ? int32_t(rem / 2) : 0;
        m_decoder.Decode(block);
        if (block.bytesUsed > block.available) {
            ReportReadError(kUnexpectedEnd);
            AbortExtraction();
            break;
        }
        m_bufPos += block.bytesUsed;
        m_consumed += block.bytesUsed + 1;

        const unsigned bytes = unsigned(block.wordCount) * 2;
        if (platform::Write(m_fdOut, words, bytes) != int(bytes)) {
            ReportWriteError(kWriteFailed);
            AbortExtraction();
            break;
        }
        m_crcFile.Update(words, bytes);
        m_decodedWritten += int32_t(bytes);
        // The step still runs to its 100th block: the filler blocks behind the end.
        if (m_decodedWritten >= entry->codedSize) more = false;
    }

    platform::SendToDialog(WM_EXTRACT_FILEPROGRESS, Progress(m_decodedWritten, entry->codedSize));

    if (!more && !g_errorRaised) {
        if (CompleteEntry()) {
            platform::SendToDialog(WM_EXTRACT_FILEDONE, reinterpret_cast<intptr_t>(entry));
            m_current = m_current->next;
            if (m_current) {
                StartEntry();
                more = true;
            }
        }
    }
    if (!g_errorRaised && g_cancelRequested) AbortExtraction();
    return more;
}

bool CArchiveReader::CompleteEntry() {
    const CatalogEntry* entry = m_current->entry;
    if (!FlushBuffer()) {
        ReportWriteError(kWriteFailed);
        AbortExtraction();
        return false;
    }
    // The tail is copied whole: a cancel from here on lets the entry finish.
    if (!CopyRaw(int64_t(entry->storedSize) - m_consumed, false)) {
        AbortExtraction();
        return false;
    }
    platform::Close(m_fdOut);
    m_fdOut = -1;
    m_consumed = entry->storedSize;
    if (kCheckCrc && entry->crc != ~m_crcFile.Value()) {
        ReportWriteError(kCrcError);
        AbortExtraction();
        return false;
    }
    return true;
}

void CArchiveReader::RefillBuffer() {
    const int32_t left = m_bufFill - m_bufPos;
    if (left > 0) std::memmove(m_buffer, m_buffer + m_bufPos, size_t(left));
    m_bufFill = left;
    m_bufPos = 0;

    int64_t length = kBufferSize - m_bufFill;
    const int64_t storedSize = m_current->entry->storedSize;
    if (m_consumed + kBufferSize > storedSize) length = storedSize - m_bufFill - m_consumed;
    // Sizes are not checked when the catalog is read: never ask for a negative count.
    length = std::max<int64_t>(length, 0);
    if (platform::Read(m_fdIn, m_buffer + m_bufFill, unsigned(length)) != int(length)) {
        ReportReadError(kReadFailed);
        AbortExtraction();
        return;
    }
    if (m_flags & kFlagEncrypted) DecryptStream(m_buffer + m_bufFill, int(length));
    m_bufFill += int32_t(length);
}

bool CArchiveReader::CopyRaw(int64_t n, bool stopOnCancel) {
    if (n <= 0) return true;
    const int64_t chunk = std::min(n, kRawChunk);
    std::unique_ptr<unsigned char[]> buffer(new (std::nothrow) unsigned char[size_t(chunk)]);
    if (!buffer) {
        ReportReadError(kReadFailed);
        return false;
    }
    for (int64_t left = n; left > 0;) {
        if (stopOnCancel && g_cancelRequested) return false;
        const int piece = int(std::min(left, chunk));
        if (platform::Read(m_fdIn, buffer.get(), unsigned(piece)) != piece) {
            ReportReadError(kReadFailed);
            return false;
        }
        if (m_flags & kFlagEncrypted) DecryptStream(buffer.get(), piece);
        m_crcFile.Update(buffer.get(), size_t(piece));
        if (platform::Write(m_fdOut, buffer.get(), unsigned(piece)) != piece) {
            ReportWriteError(kWriteFailed);
            return false;
        }
        left -= piece;
    }
    return true;
}

bool CArchiveReader::FlushBuffer() {
    const int32_t n = m_bufFill - m_bufPos;
    if (n == 0) return true;
    m_crcFile.Update(m_buffer + m_bufPos, size_t(n));
    m_consumed += n;
    return platform::Write(m_fdOut, m_buffer + m_bufPos, unsigned(n)) == n;
}

void CArchiveReader::FinishExtraction() {
    if (m_fdIn != -1) platform::Close(m_fdIn);
    m_fdIn = -1;
    DeleteTempFile();
}

void CArchiveReader::AbortExtraction() {
    if (m_fdIn != -1) platform::Close(m_fdIn);
    m_fdIn = -1;
    DeleteTempFile();
    if (m_fdOut != -1) platform::Close(m_fdOut);
    m_fdOut = -1;
    RemovePartialOutput();
}

void CArchiveReader::DeleteTempFile() {
    if (!m_pszTempPath) return;
    platform::Remove(m_pszTempPath);
    delete[] m_pszTempPath;
    m_pszTempPath = nullptr;
}
