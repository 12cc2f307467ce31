#pragma once
#include <cstddef>

// Whether a stored path has the form ".\relative" that extraction expects.
bool HasStoredPathForm(const char* path);

// Whether the relative part (behind ".\") names a file below the destination
// folder on Windows and on POSIX: no ':' (drive letters, alternate streams),
// no '/', no component made only of dots and spaces (Windows trims trailing
// dots and spaces, so "..", ". ." and "..." can all climb out), no device
// name as a component, and a last component that is not empty (".\" and
// ".\a\" name a folder, not a file).
bool IsSafeRelativePath(const char* relative);

// Whether Windows opens a device instead of a file for this name: CON, PRN,
// AUX, NUL, COM1 to COM9 and LPT1 to LPT9, in any case, with or without an
// extension, and with spaces before the extension ("nul .txt").
bool IsDeviceName(const char* component, size_t length);
