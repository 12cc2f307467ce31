#pragma once

// Volume n of a split archive: the archive's own path for n = 0; otherwise the
// path up to its last '.' (the whole path when it has none) followed by ".A01"
// for 1, ".A99" for 99, ".B00" for 100 and so on. False when it does not fit
// size bytes.
bool VolumePath(const char* archivePath, int n, char* path, int size);

// .Z99: past it the letter would run into punctuation.
constexpr int kLastVolumeNumber = 26 * 100 - 1;

// The report of a volume that is not there, which trelk-extract also gives
// when it stops answering the disk prompt.
extern const char kVolumeNotFound[];
