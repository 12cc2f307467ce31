#include "ui/logic/prompt_logic.h"

#include <cstring>

#include "archive/crypt.h"
#include "common/globals.h"
#include "common/win_values.h"
#include "platform/platform.h"

namespace {

const char kNoDestination[] = "You must specify a valid destination folder";
const char kFileErrorCaption[] = "File error";

}  // namespace

bool AcceptDestination(const char* typed, BoxOwner& owner) {
    char text[kPathSize];
    CopyBounded(text, sizeof text, typed);
    if (text[0] == '\0') {
        owner.ShowBox(kNoDestination, kFileErrorCaption, MB_ICONEXCLAMATION);
        return false;
    }
    // Compared as text, case included: only an untouched TMP follows.
    if (std::strcmp(g_szTempDir, g_szDestDir) == 0) CopyBounded(g_szTempDir, kPathSize, text);
    CopyBounded(g_szDestDir, kPathSize, text);
    return true;
}

void AcceptKey(const char* typed, unsigned char* key) {
    char text[kPathSize];
    CopyBounded(text, sizeof text, typed);
    DeriveKey(text, key);
}

void InitStartPaths(const char* argv0) {
    CopyBounded(g_szModulePath, kPathSize, argv0 ? argv0 : "");
    // A directory that does not fit is not written: the destination dialog
    // then shows an empty field, which it refuses.
    char current[kPathSize];
    CopyBounded(g_szDestDir, kPathSize, platform::CurrentDir(current, sizeof current) ? current : "");
    const char* tmp = platform::GetEnv("TMP");
    CopyBounded(g_szTempDir, kPathSize, tmp ? tmp : g_szDestDir);
}
