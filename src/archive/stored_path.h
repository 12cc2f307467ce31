#pragma once

// Whether a stored path has the form ".\relative" that extraction expects.
bool HasStoredPathForm(const char* path);

// Whether the relative part (behind ".\") stays below the destination folder
// on Windows and on POSIX: no ':' (drive letters, alternate streams), no '/',
// and no component made only of dots and spaces (Windows trims trailing dots
// and spaces, so "..", ". ." and "..." can all climb out).
bool IsSafeRelativePath(const char* relative);
