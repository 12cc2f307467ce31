#include "archive/crypt.h"

#include "archive/archive_reader.h"

// Chosen once for this format; trelk-pack enciphers with the same table.
const unsigned char g_keyTable[kKeySize] = {
    0x5A, 0x0B, 0xC3, 0x71, 0x2E, 0x94, 0xE7, 0x38, 0x4D, 0xB6, 0x1F,
    0x82, 0x6C, 0xD9, 0x25, 0xF0, 0x47, 0xAB, 0x13, 0x7E, 0xC8, 0x39,
    0x64, 0x9D, 0x0E, 0xE2, 0x57, 0xBA, 0x2C, 0x81, 0xF5, 0x16, 0x6A,
    0xCF, 0x33, 0x98, 0x4B, 0xE4, 0x07, 0x7C, 0xA1, 0x5E, 0xD3,
};

void DeriveKey(const char* text, unsigned char* key) {
    // Keep printable characters other than space, in upper case.
    unsigned char cleaned[kKeySize];
    int n = 0;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p && n < kKeySize; ++p) {
        unsigned char c = *p;
        if (c <= 0x20 || c >= 0x7F) continue;
        if (c >= 'a' && c <= 'z') c = static_cast<unsigned char>(c - 'a' + 'A');
        cleaned[n++] = c;
    }
    for (int j = 0; j < kKeySize; ++j) key[j] = g_keyTable[j];
    // An empty cleaned text has nothing to mix in: the key is the table itself.
    if (n == 0) return;
    for (int j = 0, t = 0; j < kKeySize; ++j) {
        const unsigned char ch = cleaned[t];
        if (j & 1)
            key[j] = static_cast<unsigned char>(key[j] ^ (256 - ch));
        else
            key[j] = static_cast<unsigned char>(ch ^ (256 - key[j]));
        if (++t == n) t = 0;
    }
}

void CArchiveReader::DecryptStream(unsigned char* buffer, int length) {
    for (int i = 0; i < length; ++i) {
        buffer[i] ^= m_key[m_keyPos];
        if (++m_keyPos == kKeySize) m_keyPos = 0;
    }
}

void CArchiveReader::MaskWithKey(unsigned char* buffer, int length) {
    if (length <= 0) return;
    for (int i = 0; i < kKeySize; ++i) buffer[i % length] ^= m_key[i];
}
