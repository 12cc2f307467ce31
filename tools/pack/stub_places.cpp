#include "pack/stub_places.h"

#include "system/system.h"

namespace pack {

std::vector<std::string> StubPlaces(const std::string& self, const std::string& installed, const std::string& build) {
    std::vector<std::string> places;
    const size_t slash = self.rfind('/');
    if (slash != std::string::npos) {
        const std::string folder = self.substr(0, slash + 1);
        places.push_back(folder + installed);
        places.push_back(folder + "trelk-sfx.exe");
    }
    places.push_back(build);
    return places;
}

std::string FindStub(const std::vector<std::string>& places, std::string& problem) {
    std::string looked;
    for (size_t i = 0; i < places.size(); ++i) {
        if (sys::Exists(places[i])) return places[i];
        looked += (i == 0 ? "" : i + 1 == places.size() ? " and " : ", ") + places[i];
    }
    problem = "no stub found: looked for it at " + looked + "; give --stub FILE";
    return {};
}

}  // namespace pack
