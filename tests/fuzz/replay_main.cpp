// Runs a fuzz target's entry point on saved inputs without libFuzzer, so that
// every finding stays fixed in the ordinary builds:
//   fuzz_replay_TARGET FILE_OR_FOLDER...
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

void Collect(const std::string& path, std::vector<std::string>& files) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) {
        std::fprintf(stderr, "no such input: %s\n", path.c_str());
        std::exit(1);
    }
    if (!S_ISDIR(st.st_mode)) {
        files.push_back(path);
        return;
    }
    std::vector<std::string> children;
    if (DIR* d = opendir(path.c_str())) {
        while (dirent* e = readdir(d))
            if (e->d_name[0] != '.') children.push_back(path + "/" + e->d_name);
        closedir(d);
    }
    std::sort(children.begin(), children.end());
    for (const std::string& c : children) Collect(c, files);
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) Collect(argv[i], files);
    if (files.empty()) {
        std::fprintf(stderr, "no inputs given\n");
        return 1;
    }
    for (const std::string& f : files) {
        std::ifstream in(f, std::ios::binary);
        const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        // A heap copy of exactly the input's length, as libFuzzer gives it.
        std::unique_ptr<uint8_t[]> data(new uint8_t[bytes.size() + !bytes.size()]);
        std::copy(bytes.begin(), bytes.end(), data.get());
        std::printf("%s (%zu bytes)\n", f.c_str(), bytes.size());
        std::fflush(stdout);
        LLVMFuzzerTestOneInput(data.get(), bytes.size());
    }
    std::printf("%zu inputs ran\n", files.size());
    return 0;
}
