#include "fuzz_support.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "archive/archive_reader.h"
#include "archive/catalog.h"
#include "common/globals.h"
#include "common/messages.h"
#include "common/win_values.h"

namespace fuzz {

int FuzzHost::ShowMessage(const char*, const char*, unsigned type) {
    // An error box only has OK; every question (overwrite, next disk) is refused.
    switch (type & 0x0F) {
        case MB_OK: return IDOK;
        case MB_YESNOCANCEL: return IDNO;
        default: return IDCANCEL;
    }
}

void FuzzHost::SendToDialog(unsigned message, intptr_t lParam) {
    if (message == WM_EXTRACT_FINISHED) ++finished;
    if (message != WM_EXTRACT_FILEDONE) return;
    const auto* entry = reinterpret_cast<const CatalogEntry*>(lParam);
    std::string relative = entry->path + entry->destPrefixLen;
    for (char& c : relative)
        if (c == '\\') c = '/';
    // An empty component is harmless, a leading one too: dest\\a is dest/a.
    relative.erase(0, relative.find_first_not_of('/'));
    done.insert(std::filesystem::path(relative).lexically_normal().string());
}

bool FuzzHost::PromptKeyText(char* text, int size) {
    std::snprintf(text, size_t(size), "%s", kKey);
    return true;
}

void InitOnce() {
    static bool done = false;
    if (done) return;
    done = true;
    MakeMarkerSearchForm();
    platform::SetHost(&Host());
    Sandbox::Get();
}

FuzzHost& Host() {
    static FuzzHost host;
    return host;
}

void Fail(const char* what, const std::string& detail) {
    std::fprintf(stderr, "fuzz check failed: %s: %s\n", what, detail.c_str());
    std::abort();
}

void RemoveTree(const std::string& path) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) return;
    if (S_ISDIR(st.st_mode)) {
        chmod(path.c_str(), 0700);
        if (DIR* d = opendir(path.c_str())) {
            while (dirent* e = readdir(d)) {
                const std::string name = e->d_name;
                if (name != "." && name != "..") RemoveTree(path + "/" + name);
            }
            closedir(d);
        }
        rmdir(path.c_str());
    } else {
        unlink(path.c_str());
    }
}

namespace {

void ListFiles(const std::string& root, const std::string& rel, std::vector<std::string>& out) {
    DIR* d = opendir((root + "/" + rel).c_str());
    if (!d) return;
    while (dirent* e = readdir(d)) {
        const std::string name = e->d_name;
        if (name == "." || name == "..") continue;
        const std::string child = rel.empty() ? name : rel + "/" + name;
        struct stat st;
        if (lstat((root + "/" + child).c_str(), &st) != 0) continue;
        if (S_ISDIR(st.st_mode))
            ListFiles(root, child, out);
        else
            out.push_back(child);
    }
    closedir(d);
}

std::string PrivateRoot() {
    // Memory-backed when there is one: inputs turn into many small files.
    std::string base = "/dev/shm";
    if (const char* t = std::getenv("TRELK_FUZZ_TMP")) base = t;
    if (access(base.c_str(), W_OK) != 0) {
        const char* t = std::getenv("TMPDIR");
        base = t && *t ? t : "/tmp";
    }
    std::string templ = base + "/trelk-fuzz-XXXXXX";
    if (!mkdtemp(templ.data())) Fail("cannot make the sandbox", templ);
    return templ;
}

void SetGlobal(char* global, const std::string& path) {
    if (!platform::ToCorePath(path.c_str(), global, kPathSize)) Fail("sandbox path too long", path);
}

}  // namespace

std::vector<std::string> FilesBelow(const std::string& root) {
    std::vector<std::string> out;
    ListFiles(root, "", out);
    return out;
}

Sandbox& Sandbox::Get() {
    static Sandbox sandbox;
    return sandbox;
}

Sandbox::Sandbox() : m_root(PrivateRoot()) {}

Sandbox::~Sandbox() { RemoveTree(m_root); }

void Sandbox::Prepare() {
    if (DIR* d = opendir(m_root.c_str())) {
        while (dirent* e = readdir(d)) {
            const std::string name = e->d_name;
            if (name != "." && name != "..") RemoveTree(m_root + "/" + name);
        }
        closedir(d);
    }
    m_expected.clear();
    mkdir(out().c_str(), 0700);
    mkdir(tmp().c_str(), 0700);
    SetGlobal(g_szModulePath, exe());
    SetGlobal(g_szDestDir, out());
    SetGlobal(g_szTempDir, tmp());
    g_cancelRequested = 0;
    g_errorRaised = 0;
    Host().done.clear();
    Host().finished = 0;
}

void Sandbox::WriteFile(const std::string& path, const uint8_t* data, size_t size) const {
    const int fd = open(path.c_str(), O_CREAT | O_TRUNC | O_WRONLY | O_CLOEXEC, 0600);
    if (fd < 0) Fail("cannot write an input file", path);
    for (size_t done = 0; done < size;) {
        const ssize_t w = write(fd, data + done, size - done);
        if (w <= 0) Fail("cannot write an input file", path);
        done += size_t(w);
    }
    close(fd);
}

void Sandbox::CheckAfterExtraction(const FuzzHost& host) const {
    if (host.finished != 1) Fail("WM_EXTRACT_FINISHED not sent exactly once", std::to_string(host.finished));
    for (const std::string& f : FilesBelow(m_root)) {
        if (m_expected.count(f)) continue;
        if (f.rfind("tmp/", 0) == 0) Fail("temporary file left behind", f);
        if (f.rfind("out/", 0) != 0) Fail("file written outside the destination", f);
        if (!host.done.count(f.substr(4))) Fail("file left that was not reported done", f);
    }
    for (const std::string& f : host.done) {
        struct stat st;
        if (stat((out() + "/" + f).c_str(), &st) != 0 || !S_ISREG(st.st_mode))
            Fail("file reported done is missing", f);
    }
}

}  // namespace fuzz

namespace fuzz {

void ExtractAndCheck(const Sandbox& box) {
    auto* reader = new CArchiveReader;
    CatalogEntry* catalog = reader->LoadCatalog();
    if (catalog) {
        for (CatalogEntry* e = catalog; e; e = e->next) reader->EnqueueEntry(e);
        ExtractWorker(reader);
        if (reader->m_fdIn != -1 || reader->m_fdOut != -1) Fail("a descriptor left open", "");
        if (reader->m_pszTempPath) Fail("temporary path still set", reader->m_pszTempPath);
        box.CheckAfterExtraction(Host());
    }
    delete reader;
    FreeCatalog(catalog);
}

}  // namespace fuzz
