#pragma once
#include <string>
#include <vector>

namespace pack {

// Where trelk-pack looks for its stub, in this order: installed (`installed`
// is relative to trelk-pack's folder), beside trelk-pack, and in the build
// tree it was built from. `self` is trelk-pack's own path ("" when unknown).
std::vector<std::string> StubPlaces(const std::string& self, const std::string& installed, const std::string& build);

// The first place that holds a file; "" with `problem` naming every place when none does.
std::string FindStub(const std::vector<std::string>& places, std::string& problem);

}  // namespace pack
