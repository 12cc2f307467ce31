// trelk-pack as a whole: the archive it writes for a fixed input, byte for
// byte, whatever the number of threads.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "common/crc32.h"
#include "support/fixtures.h"

using pack::Bytes;

namespace {

// A stub as a linker writes one: MZ header, the offset of the PE header at
// 0x3C, the PE signature there, and code-like bytes after it.
Bytes PeStub() {
    Bytes stub(6144, 0);
    stub[0] = 'M';
    stub[1] = 'Z';
    stub[0x3C] = 0x80;
    const char pe[] = "PE\0\0";
    std::copy(pe, pe + 4, stub.begin() + 0x80);
    for (size_t i = 0x100; i < stub.size(); ++i) stub[i] = uint8_t((i * 167) ^ (i >> 5));
    return stub;
}

void PutLe(Bytes& out, uint32_t value, int width) {
    for (int i = 0; i < width; ++i) out.push_back(uint8_t(value >> (8 * i)));
}

// A 16-bit stereo PCM wave of two tones with a little noise, as recorded audio
// is: it codes well but not trivially.
Bytes Wave(size_t frames, unsigned seed) {
    Bytes samples;
    uint32_t x = seed;
    for (size_t i = 0; i < frames; ++i) {
        for (int channel = 0; channel < 2; ++channel) {
            x = x * 1103515245u + 12345u;
            const double t = double(i) / 44100.0;
            const double v = 9000 * std::sin(2 * M_PI * 220 * t) + 3000 * std::sin(2 * M_PI * 1375 * t);
            PutLe(samples, uint16_t(int16_t(std::lround(v)) + int((x >> 16) % 16) - 8), 2);
        }
    }
    Bytes wave;
    for (char c : std::string("RIFF")) wave.push_back(uint8_t(c));
    PutLe(wave, uint32_t(36 + samples.size()), 4);
    for (char c : std::string("WAVEfmt ")) wave.push_back(uint8_t(c));
    PutLe(wave, 16, 4);
    PutLe(wave, 1, 2);          // PCM
    PutLe(wave, 2, 2);          // channels
    PutLe(wave, 44100, 4);      // frames a second
    PutLe(wave, 44100 * 4, 4);  // bytes a second
    PutLe(wave, 4, 2);          // bytes a frame
    PutLe(wave, 16, 2);         // bits a sample
    for (char c : std::string("data")) wave.push_back(uint8_t(c));
    PutLe(wave, uint32_t(samples.size()), 4);
    wave.insert(wave.end(), samples.begin(), samples.end());
    return wave;
}

// Slowly changing words of odd length: coded, with a one-byte raw tail.
Bytes Smooth(size_t bytes) {
    Bytes out;
    for (size_t i = 0; out.size() < bytes; ++i) PutLe(out, uint16_t(1000 + (i * i) % 5000 + i / 3), 2);
    out.resize(bytes);
    return out;
}

Bytes Text(size_t bytes) {
    const std::string line = "Trelk packs files behind its stub; every line here is alike.\n";
    Bytes out;
    while (out.size() < bytes) out.insert(out.end(), line.begin(), line.end());
    out.resize(bytes);
    return out;
}

// The same files every time: a wave large enough to be coded in many pieces,
// small ones that are coded, stored raw, empty or of odd length.
void MakeTree(const TempDir& dir) {
    for (const char* folder : {"in", "in/media", "in/docs", "in/docs/deeper"}) mkdir((dir / folder).c_str(), 0777);
    WriteFileBytes(dir / "in/media/tone.wav", Wave(1400000, 7));
    WriteFileBytes(dir / "in/media/short.wav", Wave(300, 9));
    WriteFileBytes(dir / "in/docs/notes.txt", Text(20000));
    WriteFileBytes(dir / "in/docs/noise.bin", Pattern(300000, 5));
    WriteFileBytes(dir / "in/docs/deeper/odd.raw", Smooth(70001));
    WriteFileBytes(dir / "in/docs/empty", {});
}

// Runs trelk-pack; its exit code.
int RunPack(const std::vector<std::string>& args) {
    std::vector<char*> argv = {const_cast<char*>(TRELK_PACK)};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

struct Volume {
    size_t size;
    uint32_t crc;
    bool operator==(const Volume& o) const { return size == o.size && crc == o.crc; }
    friend void PrintTo(const Volume& v, std::ostream* os) {
        char text[40];
        std::snprintf(text, sizeof text, "{%zu, 0x%08x}", v.size, unsigned(v.crc));
        *os << text;
    }
};

std::vector<Volume> Volumes(const std::string& exe) {
    std::vector<Volume> out;
    for (int n = 0;; ++n) {
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, ".A%02d", n);
        const std::string path = n == 0 ? exe : exe.substr(0, exe.size() - 4) + suffix;
        if (!FileExists(path)) break;
        const Bytes bytes = ReadFileBytes(path);
        out.push_back({bytes.size(), pack::Crc32Of(bytes)});
    }
    return out;
}

TEST(PackOutput, IsPinnedByteForByteForEveryThreadCount) {
    TempDir dir;
    MakeTree(dir);
    WriteFileBytes(dir / "stub.exe", PeStub());
    const struct {
        const char* name;
        std::vector<std::string> options;
        std::vector<Volume> volumes;
    } cases[] = {
        {"plain", {}, {{3829092, 0xfa4bab4e}}},
        {"keyed", {"--key", "Open Sesame"}, {{3829092, 0x3c433ebf}}},
        {"split", {"--split", "1M"},
         {{1048576, 0x834f519c}, {1048576, 0x2ddbc72b}, {1048576, 0x0f088d6c}, {683392, 0x32e6d03c}}},
        {"split and keyed", {"--split", "1M", "--key", "Open Sesame"},
         {{1048576, 0xd25de92d}, {1048576, 0x72107686}, {1048576, 0xb3dd9caf}, {683392, 0x3a9dca25}}},
    };
    for (const auto& c : cases) {
        for (const char* threads : {"1", "2", "4"}) {
            SCOPED_TRACE(std::string(c.name) + ", -j " + threads);
            const std::string out = dir / (std::string(c.name) + "-" + threads + ".exe");
            std::vector<std::string> args = {"-q", "-j", threads, "--stub", dir / "stub.exe", "-o", out};
            args.insert(args.end(), c.options.begin(), c.options.end());
            args.push_back(dir / "in");
            ASSERT_EQ(RunPack(args), 0);
            EXPECT_EQ(Volumes(out), c.volumes);
        }
    }
}

}  // namespace
