#pragma once
#include <cstddef>
#include <cstdint>

// CRC-32 (IEEE 802.3, reflected, polynomial 0xEDB88320). The running value
// starts at 0xFFFFFFFF; stored checksums are compared with its complement.
class CCrc32 {
public:
    CCrc32() { Reset(); }
    virtual ~CCrc32() = default;

    void Reset() { m_value = 0xFFFFFFFFu; }
    // Eight bytes per step with slice-by-8 tables; same result as UpdateBytewise.
    uint32_t Update(const void* data, size_t length);
    uint32_t Value() const { return m_value; }

    // The plain one-table loop, kept as the reference for Update.
    static uint32_t UpdateBytewise(uint32_t value, const void* data, size_t length);

private:
    uint32_t m_value;
};
