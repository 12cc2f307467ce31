#pragma once
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "pack/archive_stream.h"

namespace pack {

// Removes every temporary file of the run on SIGINT, SIGTERM and SIGHUP, then
// ends the process as the signal would; a file-size limit fails the write.
void RemoveTemporariesOnSignals();

// The volumes of an archive as temporary files beside it, each in the folder
// of its final name, given their names only once all are complete: a failure
// or an interrupted run never leaves a half archive under the archive's name
// and never harms an existing file of that name. Temporary files not
// committed are removed when the object goes.
class OutputFiles : public VolumeFiles {
public:
    explicit OutputFiles(std::string archivePath);
    ~OutputFiles() override;
    OutputFiles(const OutputFiles&) = delete;
    OutputFiles& operator=(const OutputFiles&) = delete;

    // Volume 0 may be created early; creating it again then does nothing.
    bool Create(size_t n) override;
    bool Append(const uint8_t* data, size_t size) override;
    bool Patch(size_t n, uint64_t offset, const uint8_t* data, size_t size) override;

    // Gives each volume its mode (volume 0 executable) and its name, volume 0
    // last so that the archive's name appears once everything is in place.
    bool Commit();

    // The name volume n will have, and what went wrong with which file.
    std::string FinalName(size_t n) const;
    const std::string& Error() const { return m_error; }
    // Whether a volume past the last name (.Z99) was asked for.
    bool OutOfNames() const { return m_outOfNames; }
    // Volume 0's temporary file, for the walk over the inputs to leave out.
    bool TemporaryId(uint64_t& device, uint64_t& inode) const;

private:
    struct Volume {
        std::string temporary;
        std::string final;
        int fd = -1;
    };

    // Notes why volume n could not be written (errno), for Error().
    bool Fail(size_t n);
    bool FlushPending();
    int Descriptor(size_t n);

    std::string m_archive;
    std::deque<Volume> m_volumes;  // deque: the registered names never move
    std::vector<uint8_t> m_pending;  // appends waiting to be written to the newest volume
    std::string m_error;
    bool m_committed = false;
    bool m_outOfNames = false;
};

}  // namespace pack
