// Our block decoder against libFLAC, both decoding the same audio from memory
// into 16-bit samples in memory. Usage:
//   trelk_decoder_bench --audio-dir=DIR [benchmark options]
// DIR holds NAME.wav and NAME.flac (`flac -0`) for NAME in speech, music
// (bench/make_audio.sh makes them).
#include <benchmark/benchmark.h>

#include <FLAC/stream_decoder.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "extract/block_decoder.h"
#include "pack/encoder.h"

namespace {

using pack::Bytes;

struct Audio {
    std::string name;
    std::vector<uint16_t> samples;
    Bytes coded;  // our coded part of the samples
    Bytes flac;   // the `flac -0` file
    size_t waveBytes = 0;
    size_t storedBytes = 0;  // our whole stored entry: header prefix, coded part, tail
};

bool ReadFile(const std::string& path, Bytes& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

// Decodes a coded part as the extractor does: steps of 100 blocks into one
// 768-word array, each block's words then copied out as the engine writes them.
bool TrelkDecode(const Bytes& coded, uint16_t* out, size_t wordCount) {
    CBlockDecoder decoder;
    uint16_t block[kMaxBlockWords];
    DecodeBlock b{};
    b.output = block;
    size_t pos = 0, done = 0;
    do {
        for (int i = 0; i < pack::kBlocksPerStep; ++i) {
            if (pos >= coded.size()) return false;
            b.header = coded[pos++];
            const size_t rem = wordCount - done;
            b.wordCount = rem >= size_t(kMaxBlockWords) ? kMaxBlockWords : int32_t(rem);
            b.input = coded.data() + pos;
            b.available = int32_t(coded.size() - pos);
            decoder.Decode(b);
            if (b.bytesUsed > b.available) return false;
            pos += size_t(b.bytesUsed);
            std::memcpy(out + done, block, sizeof(uint16_t) * size_t(b.wordCount));
            done += size_t(b.wordCount);
        }
    } while (done < wordCount);
    return true;
}

// libFLAC reading from memory and writing 16-bit samples to memory.
struct FlacState {
    const Bytes* file;
    size_t pos;
    int16_t* out;
    size_t written;
    size_t capacity;
};

FLAC__StreamDecoderReadStatus FlacRead(const FLAC__StreamDecoder*, FLAC__byte buffer[], size_t* bytes,
                                       void* data) {
    FlacState& s = *static_cast<FlacState*>(data);
    const size_t n = std::min(*bytes, s.file->size() - s.pos);
    std::memcpy(buffer, s.file->data() + s.pos, n);
    s.pos += n;
    *bytes = n;
    return n ? FLAC__STREAM_DECODER_READ_STATUS_CONTINUE : FLAC__STREAM_DECODER_READ_STATUS_END_OF_STREAM;
}

FLAC__StreamDecoderWriteStatus FlacWrite(const FLAC__StreamDecoder*, const FLAC__Frame* frame,
                                         const FLAC__int32* const channels[], void* data) {
    FlacState& s = *static_cast<FlacState*>(data);
    const unsigned n = frame->header.blocksize;
    if (s.written + n > s.capacity) return FLAC__STREAM_DECODER_WRITE_STATUS_ABORT;
    const FLAC__int32* in = channels[0];
    for (unsigned i = 0; i < n; ++i) s.out[s.written + i] = int16_t(in[i]);
    s.written += n;
    return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
}

void FlacError(const FLAC__StreamDecoder*, FLAC__StreamDecoderErrorStatus, void*) {}

bool FlacDecode(const Bytes& file, int16_t* out, size_t capacity, size_t& written) {
    FlacState state{&file, 0, out, 0, capacity};
    FLAC__StreamDecoder* d = FLAC__stream_decoder_new();
    FLAC__stream_decoder_set_md5_checking(d, false);
    bool ok = FLAC__stream_decoder_init_stream(d, FlacRead, nullptr, nullptr, nullptr, nullptr, FlacWrite,
                                               nullptr, FlacError, &state) == FLAC__STREAM_DECODER_INIT_STATUS_OK;
    ok = ok && FLAC__stream_decoder_process_until_end_of_stream(d);
    FLAC__stream_decoder_delete(d);
    written = state.written;
    return ok;
}

bool LoadAudio(const std::string& dir, const std::string& name, Audio& audio) {
    Bytes wave;
    if (!ReadFile(dir + "/" + name + ".wav", wave) || !ReadFile(dir + "/" + name + ".flac", audio.flac)) {
        std::fprintf(stderr, "missing %s/%s.wav or .flac (run bench/make_audio.sh)\n", dir.c_str(), name.c_str());
        return false;
    }
    const auto samples = pack::FindWaveSamples(wave);
    if (!samples) {
        std::fprintf(stderr, "%s.wav is not 16-bit PCM\n", name.c_str());
        return false;
    }
    audio.name = name;
    audio.waveBytes = wave.size();
    audio.samples.resize(samples->size / 2);
    for (size_t i = 0; i < audio.samples.size(); ++i)
        audio.samples[i] = uint16_t(wave[samples->offset + 2 * i] | wave[samples->offset + 2 * i + 1] << 8);
    audio.coded = pack::EncodeWords(audio.samples.data(), audio.samples.size());
    audio.storedBytes = pack::EncodeFile(name + ".wav", wave).data.size();

    // Both decoders must give the samples back before their speed means anything.
    std::vector<uint16_t> ours(audio.samples.size());
    std::vector<int16_t> theirs(audio.samples.size());
    size_t written = 0;
    if (!TrelkDecode(audio.coded, ours.data(), ours.size()) || ours != audio.samples) {
        std::fprintf(stderr, "%s: our decoder does not give the samples back\n", name.c_str());
        return false;
    }
    if (!FlacDecode(audio.flac, theirs.data(), theirs.size(), written) || written != theirs.size() ||
        std::memcmp(theirs.data(), audio.samples.data(), 2 * written) != 0) {
        std::fprintf(stderr, "%s: libFLAC does not give the samples back\n", name.c_str());
        return false;
    }
    return true;
}

void SetCounters(benchmark::State& state, const Audio& a) {
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(2 * a.samples.size()));
    state.counters["pcm_bytes"] = double(2 * a.samples.size());
    state.counters["wave_bytes"] = double(a.waveBytes);
    state.counters["stored_bytes"] = double(a.storedBytes);
    state.counters["flac_bytes"] = double(a.flac.size());
}

void BM_Trelk(benchmark::State& state, const Audio* a) {
    std::vector<uint16_t> out(a->samples.size());
    for (auto _ : state) {
        bool ok = TrelkDecode(a->coded, out.data(), out.size());
        benchmark::DoNotOptimize(ok);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    SetCounters(state, *a);
}

void BM_Flac(benchmark::State& state, const Audio* a) {
    std::vector<int16_t> out(a->samples.size());
    for (auto _ : state) {
        size_t written = 0;
        bool ok = FlacDecode(a->flac, out.data(), out.size(), written);
        benchmark::DoNotOptimize(ok);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    SetCounters(state, *a);
}

}  // namespace

int main(int argc, char** argv) {
    std::string dir = "build/bench/audio";
    std::vector<char*> args;
    for (int i = 0; i < argc; ++i) {
        if (std::strncmp(argv[i], "--audio-dir=", 12) == 0) {
            dir = argv[i] + 12;
        } else {
            args.push_back(argv[i]);
        }
    }
    static Audio audio[2];
    const char* names[] = {"speech", "music"};
    for (int i = 0; i < 2; ++i) {
        if (!LoadAudio(dir, names[i], audio[i])) return 1;
        benchmark::RegisterBenchmark(("trelk/" + audio[i].name).c_str(), BM_Trelk, &audio[i])
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("flac/" + audio[i].name).c_str(), BM_Flac, &audio[i])
            ->Unit(benchmark::kMillisecond);
    }
    int count = int(args.size());
    benchmark::Initialize(&count, args.data());
    if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
