#include <gtest/gtest.h>

#include <cstring>

#include "archive/stored_path.h"

namespace {

TEST(IsSafeRelativePath, KeepsEveryFileBelowTheDestination) {
    const struct {
        const char* relative;  // behind ".\"
        bool safe;
    } cases[] = {
        {"a.txt", true},         {"docs\\read me.txt", true}, {"..a\\b", true},       {"a..\\b.txt", true},
        {".hidden", true},       {"a\\\\b", true},            {"\\p.bin", true},      {"nul1.txt", true},
        {"console\\a", true},    {"com0", true},              {"lpt10", true},        {"a.con", true},
        {"xnul", true},          {"com", true},               {"con.d\\x", false},    {"..", false},
        {"a\\..\\..\\b", false}, {".\\a", false},             {"...\\a", false},      {". .\\a", false},
        {"a\\.. ", false},       {"C:\\evil.dll", false},     {"a:stream", false},    {"a/../b", false},
        // The last component names the file: an empty one is the folder itself.
        {"", false},             {"a\\", false},              {"a\\b\\", false},      {"\\", false},
        // Devices, in any component and any case, with or without an extension.
        {"CON", false},          {"nul.txt", false},          {"a\\COM1", false},     {"LPT9", false},
        {"Aux.tar.gz", false},   {"prn \\x", false},          {"nul .txt", false},    {"cOm5\\a.txt", false},
        {"a\\lpt1.", false},
    };
    for (const auto& c : cases) EXPECT_EQ(IsSafeRelativePath(c.relative), c.safe) << c.relative;
}

TEST(IsDeviceName, LooksOnlyAtTheGivenLength) {
    EXPECT_TRUE(IsDeviceName("nul\\x.txt", 3));
    EXPECT_TRUE(IsDeviceName("COM7.a\\b", 6));
    EXPECT_FALSE(IsDeviceName("con", 2));
    EXPECT_FALSE(IsDeviceName("com1", 3));
    EXPECT_FALSE(IsDeviceName("", 0));
    for (const char* name : {"CON", "PRN", "AUX", "NUL", "COM1", "COM9", "LPT1", "LPT9", "con", "lPt3"})
        EXPECT_TRUE(IsDeviceName(name, std::strlen(name))) << name;
}

}  // namespace
