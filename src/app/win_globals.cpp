#include "platform/win32/main_window.h"

HWND g_hMainDlg = nullptr;
