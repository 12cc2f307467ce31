#pragma once

// User messages from the worker to the extraction dialog; wParam is always 0.
constexpr unsigned kWmUser = 0x0400;
constexpr unsigned WM_EXTRACT_FILEPROGRESS = kWmUser + 1;  // lParam: percentage 0..100
constexpr unsigned WM_EXTRACT_FILEDONE = kWmUser + 2;      // lParam: CatalogEntry* just finished
constexpr unsigned WM_EXTRACT_START = kWmUser + 3;         // posted by the dialog to itself
constexpr unsigned WM_EXTRACT_FILENAME = kWmUser + 4;      // lParam: const char* name or volume path
constexpr unsigned WM_EXTRACT_FINISHED = kWmUser + 5;      // the worker's last act
