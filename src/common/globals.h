#pragma once
#include <atomic>
#include <cstdint>

// Paths are fixed buffers of 260 characters: at most 259 plus the terminator.
constexpr int kPathSize = 260;

extern char g_szModulePath[kPathSize];  // the running executable, as argv[0] named it
extern char g_szDestDir[kPathSize];     // destination folder, as chosen or typed
extern char g_szTempDir[kPathSize];     // folder of the joined temporary archive

// Shared between the dialog's thread and the worker. Atomic bytes so that the
// worker's polling is well defined; relaxed order is all the protocol needs.
extern std::atomic<uint8_t> g_cancelRequested;  // only ever goes 0 -> 1
extern std::atomic<uint8_t> g_errorRaised;      // cleared by the worker, set by every report

// Copies text into a fixed buffer, cutting it to size - 1 characters.
void CopyBounded(char* dest, int size, const char* text);
