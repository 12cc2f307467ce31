#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <new>

#include "archive/archive_reader.h"
#include "common/globals.h"
#include "platform/platform.h"

namespace {

const char kCouldNotOpen[] = "Could not open archive file";
const char kCatalogRead[] = "Error while reading catalog";
const char kInvalid[] = "This is an invalid or corrupted archive";
const char kHeaderRead[] = "Could not read the archive header";
const char kTooNew[] = "The current version of the program\ncannot process this archive";

}  // namespace

CatalogEntry* CArchiveReader::LoadCatalog() {
    m_fdIn = platform::OpenRead(m_pszArchivePath);
    if (m_fdIn == -1) {
        ReportArchiveError(kCouldNotOpen);
        return nullptr;
    }
    CatalogEntry* head = nullptr;
    const int64_t length = platform::Length(m_fdIn);
    // An unknown length reads like a window that could not be read.
    const int n = length < 0 ? -1 : int(std::min<int64_t>(length, kWindowSize));
    std::unique_ptr<unsigned char[]> window(n < 0 ? nullptr : new (std::nothrow) unsigned char[size_t(n) + 1]);
    if (!window || platform::Read(m_fdIn, window.get(), unsigned(n)) != n) {
        ReportArchiveError(kCatalogRead);
    } else if (window[n] = 0, !FindMarker(window.get(), n)) {
        ReportArchiveError(kInvalid);
    } else {
        platform::Seek(m_fdIn, m_archiveOffset);
        if (ReadHeader()) head = ReadCatalog();
    }
    platform::Close(m_fdIn);
    m_fdIn = -1;
    return head;
}

bool CArchiveReader::FindMarker(const unsigned char* buffer, int length) {
    const size_t markerLength = std::strlen(g_szMarker);
    if (length <= 0 || markerLength == 0) return false;
    // The lowest position where the whole marker lies inside the window.
    const auto* marker = reinterpret_cast<const unsigned char*>(g_szMarker);
    const unsigned char* end = buffer + length;
    const unsigned char* at =
        std::search(buffer, end, std::boyer_moore_horspool_searcher(marker, marker + markerLength));
    if (at == end) return false;
    m_archiveOffset = int32_t(at - buffer + int(markerLength));
    return true;
}

bool CArchiveReader::ReadHeader() {
    unsigned char flags;
    if (platform::Read(m_fdIn, &flags, 1) != 1) {
        ReportArchiveError(kHeaderRead);
        return false;
    }
    m_flags = static_cast<signed char>(flags);
    if (m_flags & kFlagEncrypted) {
        if (!platform::PromptKey(m_key)) {
            g_cancelRequested = 1;
            return false;
        }
    }
    unsigned char skipped[3];
    if ((m_flags & kFlagSplit) && platform::Read(m_fdIn, skipped, 3) != 3) {
        ReportArchiveError(kHeaderRead);
        return false;
    }
    if (!ReadField(m_magic, 4)) {
        ReportArchiveError(kHeaderRead);
        return false;
    }
    if (m_flags & kFlagEncrypted) MaskWithKey(reinterpret_cast<unsigned char*>(m_magic), 4);
    m_magic[4] = '\0';
    if (std::strcmp(m_magic, "TRKA") != 0) {
        ReportArchiveError(kInvalid);
        return false;
    }
    unsigned char count[2], version[2];
    if (!ReadField(count, 2) || !ReadField(version, 2)) {
        ReportArchiveError(kHeaderRead);
        return false;
    }
    m_entryCount = static_cast<int16_t>(count[0] | count[1] << 8);
    m_subVersion = static_cast<signed char>(version[0]);
    m_version = static_cast<signed char>(version[1]);
    if (m_version > kMaxVersion) {
        ReportArchiveError(kTooNew);
        return false;
    }
    return true;
}
