// Writes the seed corpora of the fuzz targets, built with the archive writer:
//   fuzz_make_seeds OUTDIR  ->  OUTDIR/{block_decoder,catalog,extract,volumes}/seed-NN
#include <sys/stat.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "fuzz_support.h"  // the key the fuzz host types
#include "pack/archive_writer.h"
#include "pack/encoder.h"
#include "volume_split.h"

using pack::Bytes;

namespace {

Bytes Noise(size_t size, uint32_t seed) {
    Bytes out(size);
    for (auto& b : out) {
        seed = seed * 1103515245u + 12345u;
        b = uint8_t(seed >> 16);
    }
    return out;
}

// A sampled tone with a little noise: what the coder is made for.
std::vector<uint16_t> Tone(size_t count, double period, int noise, uint32_t seed) {
    std::vector<uint16_t> out(count);
    const Bytes n = Noise(count, seed);
    for (size_t i = 0; i < count; ++i)
        out[i] = uint16_t(int16_t(6000 * std::sin(double(i) / period) + (n[i] % (noise + 1))));
    return out;
}

Bytes LittleEndian(const std::vector<uint16_t>& words) {
    Bytes out;
    for (uint16_t w : words) {
        out.push_back(uint8_t(w));
        out.push_back(uint8_t(w >> 8));
    }
    return out;
}

// An entry from its raw prefix, coded words and raw tail.
pack::StoredEntry Coded(const std::string& path, const Bytes& prefix, const std::vector<uint16_t>& words,
                        const Bytes& tail, const pack::EncodeOptions& options = {}) {
    pack::StoredEntry e;
    e.path = path;
    e.rawPrefixSize = int32_t(prefix.size());
    e.codedSize = int32_t(2 * words.size());
    e.data = prefix;
    const Bytes blocks = pack::EncodeWords(words.data(), words.size(), options);
    e.data.insert(e.data.end(), blocks.begin(), blocks.end());
    e.data.insert(e.data.end(), tail.begin(), tail.end());
    Bytes file = prefix;
    const Bytes coded = LittleEndian(words);
    file.insert(file.end(), coded.begin(), coded.end());
    file.insert(file.end(), tail.begin(), tail.end());
    e.fileSize = int32_t(file.size());
    e.crc = pack::Crc32Of(file);
    return e;
}

// A small stand-in for the stub image, with zero bytes in it.
Bytes Stub() {
    Bytes stub(96, 0);
    const char mz[] = "MZ stub";
    for (size_t i = 0; i < sizeof mz - 1; ++i) stub[i] = uint8_t(mz[i]);
    for (size_t i = 32; i < stub.size(); i += 5) stub[i] = uint8_t(i * 29);
    return stub;
}

class SeedWriter {
public:
    explicit SeedWriter(std::string dir) : m_dir(std::move(dir)) { mkdir(m_dir.c_str(), 0755); }
    void Add(const Bytes& bytes) {
        char name[32];
        std::snprintf(name, sizeof name, "/seed-%02d", m_count++);
        FILE* f = std::fopen((m_dir + name).c_str(), "wb");
        if (!f || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) {
            std::perror(name);
            std::exit(1);
        }
        std::fclose(f);
    }

private:
    std::string m_dir;
    int m_count = 0;
};

std::vector<std::vector<pack::StoredEntry>> ArchiveContents() {
    pack::EncodeOptions padded;
    padded.filler = pack::FillerKind::Padded;
    padded.order = 3;
    padded.k = 4;
    pack::EncodeOptions alternating;
    alternating.filler = pack::FillerKind::Alternating;
    alternating.order = 1;
    pack::EncodeOptions noZeroFlag;
    noZeroFlag.zeroBlocks = false;

    return {
        {pack::RawEntry(".\\a.txt", Noise(40, 1))},
        {Coded(".\\tone.wav", Noise(44, 2), Tone(900, 30, 7, 3), Noise(5, 4))},
        {pack::RawEntry(".\\docs\\readme.txt", Noise(60, 5)), Coded(".\\docs\\img\\b.raw", {}, Tone(800, 12, 255, 6), {}),
         pack::RawEntry(".\\c", {})},
        {Coded(".\\p.bin", Noise(3, 7), Tone(1600, 50, 3, 8), Noise(9, 9), padded)},
        {Coded(".\\alt.bin", {}, Tone(300, 20, 1, 10), {}, alternating)},
        {Coded(".\\flat.bin", {}, std::vector<uint16_t>(1700, 0x1234), Noise(2, 11), noZeroFlag)},
        {Coded(".\\flat2.bin", {}, std::vector<uint16_t>(2000, 0), {})},
        {Coded(".\\one.bin", {}, Tone(1, 5, 0, 12), Noise(1, 13)), Coded(".\\empty.bin", Noise(4, 14), {}, Noise(4, 15))},
    };
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTDIR\n", argv[0]);
        return 2;
    }
    const std::string root = argv[1];
    mkdir(root.c_str(), 0755);
    SeedWriter decoder(root + "/block_decoder"), catalog(root + "/catalog"), extract(root + "/extract"),
        volumes(root + "/volumes");

    // The decoder: two bytes seeding its choices, then a coded part.
    const uint8_t control[][2] = {{0, 0}, {1, 0}, {7, 3}, {42, 42}};
    int i = 0;
    for (const auto& contents : ArchiveContents()) {
        for (const pack::StoredEntry& e : contents) {
            if (e.codedSize == 0) continue;
            Bytes seed = {control[i % 4][0], control[i % 4][1]};
            seed.insert(seed.end(), e.data.begin() + e.rawPrefixSize, e.data.end());
            decoder.Add(seed);
            ++i;
        }
    }

    // Whole images: plain, encrypted with the key the fuzz host types, and with
    // a catalog that claims more than it holds.
    const Bytes stub = Stub();
    for (const auto& contents : ArchiveContents()) {
        const Bytes image = pack::BuildArchive(stub, contents, {});
        catalog.Add(image);
        extract.Add(image);
    }
    pack::ArchiveOptions encrypted;
    encrypted.encrypted = true;
    encrypted.key = fuzz::FuzzHost::kKey;
    for (size_t n : {size_t(1), size_t(2)}) {
        const Bytes image = pack::BuildArchive(stub, ArchiveContents()[n], encrypted);
        catalog.Add(image);
        extract.Add(image);
    }
    pack::ArchiveOptions overclaimed;
    overclaimed.entryCount = 5;
    catalog.Add(pack::BuildArchive(stub, ArchiveContents()[0], overclaimed));

    // Volume sets: one, two and several volumes, plain and encrypted.
    auto addVolumes = [&](const std::vector<Bytes>& set) {
        Bytes seed;
        for (size_t n = 0; n < set.size(); ++n) {
            if (n) seed.insert(seed.end(), fuzz::kVolumeSeparator, fuzz::kVolumeSeparator + sizeof fuzz::kVolumeSeparator - 1);
            seed.insert(seed.end(), set[n].begin(), set[n].end());
        }
        volumes.Add(seed);
    };
    const auto contents = ArchiveContents();
    addVolumes(pack::BuildSplitArchive(stub, contents[0], {}, 4096));
    addVolumes(pack::BuildSplitArchive(stub, contents[2], {}, stub.size() + 12 + 7 + 400));
    addVolumes(pack::BuildSplitArchive(stub, contents[1], {}, 700));
    addVolumes(pack::BuildSplitArchive(stub, contents[3], encrypted, 1500));
    return 0;
}
