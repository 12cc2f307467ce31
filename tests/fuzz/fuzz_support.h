#pragma once
// What every fuzz target shares: a host that answers like a cautious user, a
// private folder per process for the files an input turns into, and the checks
// that an extraction left nothing behind that it should not have.
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "platform/console/host.h"

namespace fuzz {

// Answers No to every question, types a fixed key, remembers finished files.
class FuzzHost : public platform::Host {
public:
    static constexpr const char* kKey = "fuzz";

    int ShowMessage(const char* text, const char* caption, unsigned type) override;
    void SendToDialog(unsigned message, intptr_t lParam) override;
    bool PromptKeyText(char* text, int size) override;
    bool IsRemovableDrive(const char*) override { return false; }

    // Output paths (relative to the destination, '/' separated) of the files reported done.
    std::set<std::string> done;
    int finished = 0;
};

// Runs once per process: the marker's search form, the host, the sandbox.
void InitOnce();
FuzzHost& Host();

// The process's own folder: setup.exe and its volumes at the top, out/ the
// destination, tmp/ the temporary folder. Everything in it is removed between inputs.
class Sandbox {
public:
    static Sandbox& Get();
    const std::string& root() const { return m_root; }
    std::string exe() const { return m_root + "/setup.exe"; }
    std::string out() const { return m_root + "/out"; }
    std::string tmp() const { return m_root + "/tmp"; }

    // Empties the folder, makes out/ and tmp/, resets the core's globals and flags.
    void Prepare();
    void WriteFile(const std::string& path, const uint8_t* data, size_t size) const;
    // The input's own files (top-level names) besides out/ and tmp/.
    void Expect(const std::string& name) { m_expected.insert(name); }

    // Aborts when an extraction wrote outside out/, left a temporary file or
    // left a file that was not reported done.
    void CheckAfterExtraction(const FuzzHost& host) const;

private:
    Sandbox();
    ~Sandbox();
    std::string m_root;
    std::set<std::string> m_expected;
};

// Every regular file below root, relative, '/' separated.
std::vector<std::string> FilesBelow(const std::string& root);
void RemoveTree(const std::string& path);

// Loads the archive that g_szModulePath names, extracts it into the sandbox
// and checks what the run left behind.
void ExtractAndCheck(const Sandbox& box);
[[noreturn]] void Fail(const char* what, const std::string& detail);

}  // namespace fuzz
