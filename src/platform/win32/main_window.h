#pragma once
#include <windows.h>

// The extraction dialog's window: owner of every box and target of the worker's messages.
extern HWND g_hMainDlg;

// Runs the key dialog modally over the main window; true when the user confirmed
// it, with the derived key in key[43].
bool RunKeyDialog(unsigned char* key);
