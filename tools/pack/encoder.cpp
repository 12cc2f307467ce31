#include "pack/encoder.h"

namespace pack {

void EncodeBlock(const uint16_t* words, int count, BlockHistory& history, const EncodeOptions& options,
                 Bytes& out) {
    const BlockChoice choice = ChooseBlock(words, count, history, options);
    const size_t at = out.size();
    out.resize(at + kMaxBlockBytes + kBlockSlack);
    uint8_t* end = WriteBlock(words, count, history, choice.header, out.data() + at);
    out.resize(size_t(end - out.data()));
    history = HistoryAfter(words, count, history, choice.header);
}

namespace {

StoredEntry Entry(const std::string& path, const Bytes& content, const EncodeOptions& options,
                  const std::optional<EntryPlan>& plan) {
    StoredEntry e;
    e.path = path;
    MemorySource source(content);
    BytesSink sink(e.data);
    EntryCoder coder(options);
    EntryFacts facts;
    if (plan)
        coder.CodePlan(source, *plan, sink, facts);
    else
        coder.CodeFile(source, sink, facts);
    e.fileSize = int32_t(facts.fileSize);
    e.rawPrefixSize = int32_t(facts.rawPrefixSize);
    e.codedSize = int32_t(facts.codedSize);
    e.crc = facts.crc;
    return e;
}

}  // namespace

Bytes EncodeWords(const uint16_t* words, size_t count, const EncodeOptions& options) {
    Bytes content;
    content.reserve(2 * count);
    for (size_t i = 0; i < count; ++i) content.insert(content.end(), {uint8_t(words[i]), uint8_t(words[i] >> 8)});
    return Entry("", content, options, EntryPlan{0, count}).data;
}

StoredEntry CodedEntry(const std::string& path, const Bytes& content, size_t prefix, size_t wordCount,
                       const EncodeOptions& options) {
    return Entry(path, content, options, EntryPlan{prefix, wordCount});
}

StoredEntry RawEntry(const std::string& path, const Bytes& content, const EncodeOptions& options) {
    return Entry(path, content, options, EntryPlan{content.size(), 0});
}

StoredEntry EncodeFile(const std::string& storedPath, const Bytes& content, const EncodeOptions& options) {
    return Entry(storedPath, content, options, std::nullopt);
}

}  // namespace pack
