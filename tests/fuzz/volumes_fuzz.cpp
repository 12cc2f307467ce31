// Volume joining and the extraction after it, from a set of volume files.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "archive/archive_reader.h"
#include "common/globals.h"
#include "fuzz_support.h"
#include "volume_split.h"
#include "volumes/volume_name.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::InitOnce();
    fuzz::Sandbox& box = fuzz::Sandbox::Get();
    box.Prepare();
    const auto volumes = fuzz::SplitVolumes(data, size);
    for (size_t n = 0; n < volumes.size(); ++n) {
        if (n > 0 && volumes[n].second == 0) continue;  // an empty piece stands for a missing volume
        char core[kPathSize], native[kPathSize];
        if (!VolumePath(g_szModulePath, int(n), core, kPathSize) || !platform::ToNativePath(core, native, kPathSize))
            fuzz::Fail("volume name", std::to_string(n));
        box.WriteFile(native, volumes[n].first, volumes[n].second);
        box.Expect(std::string(std::strrchr(native, '/') + 1));
    }

    fuzz::ExtractAndCheck(box);
    return 0;
}
