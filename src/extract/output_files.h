#pragma once
#include "common/globals.h"

// The full output path of a stored path (".\docs\a.txt"): the destination
// folder, '\', then the stored path from its third character on. False when
// the whole path would not fit; prefixLength is the destination's share.
bool BuildOutputPath(const char* storedPath, char (&buffer)[kPathSize], int& prefixLength);

// The overwrite prompt: its caption, and its text for a file name, which is
// cut when the whole text would not fit.
extern const char kOverwriteCaption[];
void FormatOverwritePrompt(const char* displayName, char (&text)[kPathSize]);
