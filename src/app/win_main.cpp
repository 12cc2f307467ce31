#include <windows.h>

#include "platform/win32/main_window.h"

// Placeholder until the dialogs exist: the stub links and exits at once.
bool RunKeyDialog(unsigned char* key) {
    key[0] = 0;
    return false;
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return 0; }
