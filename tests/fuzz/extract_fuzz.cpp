// A whole extraction: the catalog of an executable image, every entry queued
// as the dialog does, and the worker run to its end in a private folder.
#include <cstddef>
#include <cstdint>

#include "archive/archive_reader.h"
#include "common/globals.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::InitOnce();
    fuzz::Sandbox& box = fuzz::Sandbox::Get();
    box.Prepare();
    box.WriteFile(box.exe(), data, size);
    box.Expect("setup.exe");

    fuzz::ExtractAndCheck(box);
    return 0;
}
