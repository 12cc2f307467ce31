#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "common/crc32.h"

TEST(Crc32, KnownValues) {
    struct Case { std::string text; uint32_t crc; };
    const Case cases[] = {
        {"", 0x00000000u},
        {"a", 0xE8B7BE43u},
        {"123456789", 0xCBF43926u},
        {"The quick brown fox jumps over the lazy dog", 0x414FA339u},
    };
    for (const Case& c : cases) {
        CCrc32 crc;
        EXPECT_EQ(~crc.Update(c.text.data(), c.text.size()), c.crc) << c.text;
    }
}

TEST(Crc32, SliceBy8MatchesBytewiseAtEveryLengthAndSplit) {
    std::mt19937 rng(7);
    std::vector<unsigned char> data(300);
    for (auto& b : data) b = static_cast<unsigned char>(rng());
    for (size_t length = 0; length <= data.size(); ++length) {
        const uint32_t expected = CCrc32::UpdateBytewise(0xFFFFFFFFu, data.data(), length);
        const size_t split = length / 3;  // an unaligned second call
        CCrc32 crc;
        crc.Update(data.data(), split);
        ASSERT_EQ(crc.Update(data.data() + split, length - split), expected) << length;
    }
}

TEST(Crc32, ResetStartsAgain) {
    CCrc32 crc;
    crc.Update("xyz", 3);
    crc.Reset();
    EXPECT_EQ(crc.Value(), 0xFFFFFFFFu);
    EXPECT_EQ(~crc.Update("123456789", 9), 0xCBF43926u);
}
