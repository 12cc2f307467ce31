#include "archive/archive_reader.h"

#include <cstdio>
#include <cstring>

#include "common/globals.h"
#include "common/win_values.h"
#include "platform/platform.h"

namespace {

const char kFatalCaption[] = "Fatal Error!";
const char kReadFormat[] = "Error while reading the archive %s.\n%s";
const char kWriteFormat[] = "Error while writing the file %s.\n%s";

}  // namespace

char* DuplicateText(const char* text) {
    const size_t n = std::strlen(text);
    char* copy = new char[n + 1];
    std::memcpy(copy, text, n + 1);
    return copy;
}

CArchiveReader::CArchiveReader()
    : m_queueHead(nullptr),
      m_pszArchiveName(nullptr),
      m_pszArchivePath(DuplicateText(g_szModulePath)),
      m_pszTempPath(nullptr),
      m_flags(0),
      m_magic{},
      m_entryCount(0),
      m_subVersion(0),
      m_version(0),
      m_fdIn(-1),
      m_fdOut(-1),
      m_keyPos(0),
      m_current(nullptr),
      m_consumed(0),
      m_decodedWritten(0),
      m_bufPos(0),
      m_bufFill(0),
      m_archiveOffset(0) {
    const char* slash = std::strrchr(m_pszArchivePath, '\\');
    m_pszArchiveName = slash ? slash + 1 : m_pszArchivePath;
    m_key[0] = 0;
    m_buffer[0] = 0;
}

CArchiveReader::~CArchiveReader() {
    FreeQueue();
    delete[] m_pszArchivePath;
    delete[] m_pszTempPath;
}

// Formats into the 260-byte box text. A name too long for it is cut so that
// the message, the part that says what went wrong, always shows whole.
void CArchiveReader::ShowFatal(const char* format, const char* name, const char* msg) {
    char text[kPathSize];
    const int fixed = std::snprintf(nullptr, 0, format, "", msg);
    int room = kPathSize - 1 - fixed;
    if (room < 0) room = 0;
    char cut[kPathSize];
    CopyBounded(cut, room + 1, name);
    std::snprintf(text, sizeof text, format, cut, msg);
    platform::ShowMessage(text, kFatalCaption, MB_ICONERROR);
}

void CArchiveReader::ReportArchiveError(const char* msg) {
    g_errorRaised = 1;
    ShowFatal(kReadFormat, m_pszArchiveName, msg);
}

void CArchiveReader::ReportWriteError(const char* msg) {
    g_errorRaised = 1;
    const char* name = "";
    if (m_current) {
        m_current->entry->status |= kEntryFailed;
        name = m_current->entry->displayName;
    }
    ShowFatal(kWriteFormat, name, msg);
}

void CArchiveReader::ReportReadError(const char* msg) {
    g_errorRaised = 1;
    if (m_current) m_current->entry->status |= kEntryFailed;
    ShowFatal(kReadFormat, m_pszArchiveName, msg);
}

bool CArchiveReader::ReadField(void* buffer, int n) {
    if (platform::Read(m_fdIn, buffer, unsigned(n)) != n) return false;
    if (m_flags & kFlagEncrypted) DecryptStream(static_cast<unsigned char*>(buffer), n);
    return true;
}
