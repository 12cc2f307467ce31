#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "archive/archive_reader.h"
#include "common/globals.h"
#include "common/messages.h"
#include "common/win_values.h"
#include "platform/platform.h"
#include "volumes/volume_name.h"

const char kVolumeNotFound[] = "A file of a split archive was not found";

enum class VolumeResult { Success, Cancelled, ReadError, WriteError, CrcError, NumberMismatch };

namespace {

const char kTempOpen[] = "Error while opening temporary file for writing";
const char kCannotOpen[] = "Could not open a file of a split archive";
const char kVolumeRead[] = "Error while reading split file/volume";
const char kTempWrite[] = "Error while writing the temporary file";
const char kVolumeCrc[] = "CRC error in split file/volume";
const char kVolumeNumber[] = "Volume number mismatch in split file/volume";
const char kInsertCaption[] = "Insert volume disk";
const char kInsertFormat[] = "Please insert in drive %s the disk with\nvolume #%i of the archive";

constexpr int kChunk = 16384;
constexpr int kFraming = 7;  // flags byte, volume number, stored CRC

// Asks for the disk until the volume is there; false when the user cancels.
bool PromptForDisk(const char* path, int n) {
    const char drive[3] = {path[0], ':', '\0'};
    char text[kPathSize];
    std::snprintf(text, sizeof text, kInsertFormat, drive, n + 1);
    do {
        platform::SoundBeep(MB_ICONQUESTION);
        if (platform::ShowMessage(text, kInsertCaption, MB_OKCANCEL | MB_ICONQUESTION) != IDOK) return false;
    } while (!platform::Exists(path));
    return true;
}

bool ReadExact(int fd, void* buffer, int n) { return platform::Read(fd, buffer, unsigned(n)) == n; }

}  // namespace

bool CArchiveReader::JoinVolumes() {
    m_fdIn = platform::CreateTemp(m_pszTempPath);
    if (m_fdIn == -1) {
        ReportReadError(kTempOpen);
        return false;
    }
    m_crcArchive.Reset();
    bool lastVolume = false;
    bool ok = true;
    for (int n = 0; ok && !lastVolume; ++n) {
        if (!OpenVolume(n)) {
            ok = false;
            break;
        }
        if (n == 0) ok = CopyExecutablePart();
        if (ok) ok = CopyVolume(n, lastVolume);
        platform::Close(m_fdOut);
        m_fdOut = -1;
        if (g_cancelRequested) ok = false;
    }
    platform::Close(m_fdIn);
    m_fdIn = -1;
    if (!ok) DeleteTempFile();
    return ok;
}

bool CArchiveReader::CopyExecutablePart() {
    std::unique_ptr<unsigned char[]> buffer(new (std::nothrow) unsigned char[size_t(m_archiveOffset)]);
    if (!buffer || !ReadExact(m_fdOut, buffer.get(), m_archiveOffset)) {
        ReportReadError(kVolumeRead);
        return false;
    }
    if (platform::Write(m_fdIn, buffer.get(), unsigned(m_archiveOffset)) != m_archiveOffset) {
        ReportReadError(kTempWrite);
        return false;
    }
    return true;
}

bool CArchiveReader::OpenVolume(int n) {
    char path[kPathSize];
    if (n > kLastVolumeNumber) {
        ReportReadError(kVolumeNotFound);
        return false;
    }
    if (!VolumePath(m_pszArchivePath, n, path, kPathSize)) {
        ReportReadError(kCannotOpen);
        return false;
    }
    if (platform::IsRemovableDrive(path) && !PromptForDisk(path, n)) {
        g_cancelRequested = 1;
        return false;
    }
    if (!platform::Exists(path)) {
        ReportReadError(kVolumeNotFound);
        return false;
    }
    m_fdOut = platform::OpenRead(path);
    if (m_fdOut == -1) {
        ReportReadError(kCannotOpen);
        return false;
    }
    // Synchronous: the dialog has shown the path before this buffer goes away.
    platform::SendToDialog(WM_EXTRACT_FILENAME, reinterpret_cast<intptr_t>(path));
    return true;
}

bool CArchiveReader::CopyVolume(int n, bool& lastVolume) {
    const int64_t leading = n == 0 ? m_archiveOffset : 0;
    const int64_t payload = platform::Length(m_fdOut) - leading - kFraming;
    VolumeResult result = VolumeResult::Success;

    unsigned char flags, number[2];
    if (!ReadExact(m_fdOut, &flags, 1)) {
        result = VolumeResult::ReadError;
    } else {
        lastVolume = (flags & kFlagLastVolume) != 0;
        if (!ReadExact(m_fdOut, number, 2))
            result = VolumeResult::ReadError;
        else if (int16_t(number[0] | number[1] << 8) != n)
            result = VolumeResult::NumberMismatch;  // a wrong disk: nothing of it is copied
    }
    if (result == VolumeResult::Success) result = CopyPayload(payload);
    if (result == VolumeResult::Success) {
        unsigned char stored[4];
        if (!ReadExact(m_fdOut, stored, 4))
            result = VolumeResult::ReadError;
        else if ((uint32_t(stored[0]) | uint32_t(stored[1]) << 8 | uint32_t(stored[2]) << 16 |
                  uint32_t(stored[3]) << 24) != ~m_crcArchive.Value())
            result = VolumeResult::CrcError;
    }

    const char* text = nullptr;
    switch (result) {
        case VolumeResult::Success: return true;
        case VolumeResult::Cancelled: return false;
        case VolumeResult::WriteError: ReportReadError(kTempWrite); return false;
        case VolumeResult::ReadError: text = kVolumeRead; break;
        case VolumeResult::CrcError: text = kVolumeCrc; break;
        case VolumeResult::NumberMismatch: text = kVolumeNumber; break;
    }
    char message[kPathSize];
    std::snprintf(message, sizeof message, "Volume #%i - %s", n, text);
    ReportReadError(message);
    return false;
}

VolumeResult CArchiveReader::CopyPayload(int64_t payload) {
    if (payload <= 0) return VolumeResult::Success;
    std::unique_ptr<unsigned char[]> buffer(new (std::nothrow) unsigned char[kChunk]);
    if (!buffer) return VolumeResult::ReadError;
    for (int64_t copied = 0; copied < payload;) {
        const int chunk = int(payload - copied < kChunk ? payload - copied : kChunk);
        VolumeResult result = VolumeResult::Success;
        if (!ReadExact(m_fdOut, buffer.get(), chunk)) {
            result = VolumeResult::ReadError;
        } else {
            m_crcArchive.Update(buffer.get(), size_t(chunk));
            if (platform::Write(m_fdIn, buffer.get(), unsigned(chunk)) != chunk)
                result = VolumeResult::WriteError;
            else
                copied += chunk;
        }
        platform::SendToDialog(WM_EXTRACT_FILEPROGRESS, intptr_t(copied * 100 / payload));
        if (result == VolumeResult::Success && g_cancelRequested) result = VolumeResult::Cancelled;
        if (result != VolumeResult::Success) return result;
    }
    return VolumeResult::Success;
}
