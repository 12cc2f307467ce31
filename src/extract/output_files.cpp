#include <cstdio>
#include <cstring>
#include <string>

#include "archive/archive_reader.h"
#include "common/globals.h"
#include "common/win_values.h"
#include "extract/output_files.h"
#include "platform/platform.h"

const char kOverwriteCaption[] = "Overwrite?";

namespace {

const char kCouldNotCreate[] = "Could not create file";
const char kOverwriteFormat[] = "The file %s already exists.\nDo you want to overwrite it?";

bool ConfirmOverwrite(const char* displayName) {
    char text[kPathSize];
    FormatOverwritePrompt(displayName, text);
    return platform::ShowMessage(text, kOverwriteCaption, MB_YESNOCANCEL | MB_ICONQUESTION) == IDYES;
}

}  // namespace

bool BuildOutputPath(const char* storedPath, char (&buffer)[kPathSize], int& prefixLength) {
    const int n = std::snprintf(buffer, sizeof buffer, "%s\\", g_szDestDir);
    if (n < 0 || n >= kPathSize) return false;
    prefixLength = n;
    const int m = std::snprintf(buffer + n, sizeof buffer - size_t(n), "%s", storedPath + 2);
    return m >= 0 && n + m < kPathSize;
}

// The prompt names the file only; a name too long for the box text is cut.
void FormatOverwritePrompt(const char* displayName, char (&text)[kPathSize]) {
    char name[kPathSize - (sizeof kOverwriteFormat - 3)];  // the wording takes 54 characters
    CopyBounded(name, int(sizeof name), displayName);
    std::snprintf(text, sizeof text, kOverwriteFormat, name);
}

bool CArchiveReader::CreateOutputFile() {
    CatalogEntry* entry = m_current->entry;
    char full[kPathSize];
    int prefixLength = 0;
    if (!BuildOutputPath(entry->path, full, prefixLength)) {
        ReportWriteError(kCouldNotCreate);
        return false;
    }
    // Folders first: they stay even when the user then refuses to overwrite.
    CreateFolders(full, prefixLength);
    if (platform::Exists(full) && !ConfirmOverwrite(entry->displayName)) {
        g_cancelRequested = 1;
        return false;
    }
    m_fdOut = platform::CreateWrite(full);
    if (m_fdOut == -1) {
        ReportWriteError(kCouldNotCreate);
        return false;
    }
    delete[] entry->path;
    entry->path = DuplicateText(full);
    entry->destPrefixLen = prefixLength;
    return true;
}

void CArchiveReader::CreateFolders(const char* path, int start) {
    char folder[kPathSize];
    CopyBounded(folder, kPathSize, path);
    // Each '\' after start closes a folder; the last component is the file itself.
    for (char* sep = std::strchr(folder + start, '\\'); sep; sep = std::strchr(sep + 1, '\\')) {
        *sep = '\0';
        if (!platform::Exists(folder)) platform::MakeDir(folder);
        *sep = '\\';
    }
}

void CArchiveReader::RemovePartialOutput() {
    if (!m_current) return;
    CatalogEntry* entry = m_current->entry;
    // Only a created file has a destination prefix. The path's spelling cannot
    // tell: below a relative destination (.\out, ..\x, .) an output path
    // begins with '.' as a stored path does.
    if (entry->destPrefixLen == 0) return;
    platform::Remove(entry->path);
    const std::string stored = std::string(".\\") + (entry->path + entry->destPrefixLen);
    delete[] entry->path;
    entry->path = DuplicateText(stored.c_str());
    entry->destPrefixLen = 0;
}

void CArchiveReader::MakeTempPath() {
    static const char kDigits[] = "0123456789abcdefghijklmnopqrstuv";
    char id[16];
    int n = 0;
    unsigned long pid = platform::ProcessId();
    do {
        id[n++] = kDigits[pid % 32];
        pid /= 32;
    } while (pid);
    char name[20] = "s";
    for (int i = 0; i < n; ++i) name[1 + i] = id[n - 1 - i];
    std::strcpy(name + 1 + n, ".tmp");

    char path[kPathSize];
    const int length = std::snprintf(path, sizeof path, "%s\\%s", g_szTempDir, name);
    // A cut path could name some other file, which joining would truncate: an
    // over-long one is left empty, so opening it fails and is reported.
    if (length < 0 || length >= kPathSize) path[0] = '\0';
    delete[] m_pszTempPath;
    m_pszTempPath = DuplicateText(path);
}
