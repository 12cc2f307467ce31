#pragma once
#include <cstdint>
#include <string>

namespace platform {

// Whoever runs the core on POSIX installs a Host: the test harness a scripted
// one, trelk-extract a console one. It stands in for the dialog and the boxes.
class Host {
public:
    virtual ~Host() = default;
    virtual int ShowMessage(const char* text, const char* caption, unsigned type) = 0;
    virtual void SoundBeep(unsigned /*type*/) {}
    virtual void SendToDialog(unsigned message, intptr_t lParam) = 0;
    // Fills text (size bytes, zero-terminated) with the typed key; false when declined.
    virtual bool PromptKeyText(char* text, int size) = 0;
    // Defaults to asking the system whether the path lies on removable media.
    virtual bool IsRemovableDrive(const char* path);
};

// Installs the host for this process; the previous one is returned.
Host* SetHost(Host* host);

// Why the last file call failed, as the system said: its errno and the native
// path it was about (for a descriptor, the file it was opened on). error is 0
// when that call succeeded. Taking it clears it, so that it is told once.
struct SystemFailure {
    int error = 0;
    std::string path;
};
SystemFailure TakeLastFailure();

// While on, output files go nowhere: CreateWrite opens /dev/null, MakeDir
// makes nothing, and Remove removes only the joined temporary file that
// CreateTemp really created. For testing an archive without writing.
void DiscardOutput(bool on);

// Whether the file system holding path lives on a removable block device.
bool PathOnRemovableDevice(const char* path);

class CodePage;

// The code page of the core's texts (the archive's names), which the
// file-system names (UTF-8) are converted to and from; none (the default)
// leaves the bytes as they are. The code page must outlive its use.
void SetNameCodePage(const CodePage* codePage);

// The file-system form of a core path: every '\' becomes '/'. Returns false
// when it does not fit the buffer or a name cannot be converted.
bool ToNativePath(const char* path, char* out, int size);

// The core form of a file-system path: every '/' becomes '\'. Returns false
// when it does not fit the buffer or a name cannot be converted.
bool ToCorePath(const char* path, char* out, int size);

// A core text (a box's, a name) for the terminal: converted when it can be,
// else as it is.
std::string CoreTextToLocal(const char* text);

}  // namespace platform
