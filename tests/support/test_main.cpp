#include <gtest/gtest.h>

#include "archive/archive_reader.h"

int main(int argc, char** argv) {
    // The dialog does this once at start; every test process does it likewise.
    MakeMarkerSearchForm();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
