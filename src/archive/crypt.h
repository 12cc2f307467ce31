#pragma once

constexpr int kKeySize = 43;

// The table every key starts from; the writer uses the same bytes.
extern const unsigned char g_keyTable[kKeySize];

// Turns a typed text into the 43-byte key.
void DeriveKey(const char* text, unsigned char* key);
