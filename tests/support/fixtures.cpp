#include "support/fixtures.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <cstdlib>
#include <fstream>
#include <atomic>
#include <functional>
#include <iterator>

#include "common/globals.h"
#include "platform/console/host.h"

namespace {

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

void ListTree(const std::string& root, const std::string& rel, std::vector<std::string>& out) {
    DIR* d = opendir((root + "/" + rel).c_str());
    if (!d) return;
    while (dirent* e = readdir(d)) {
        const std::string name = e->d_name;
        if (name == "." || name == "..") continue;
        const std::string child = rel.empty() ? name : rel + "/" + name;
        struct stat st;
        lstat((root + "/" + child).c_str(), &st);
        if (S_ISDIR(st.st_mode))
            ListTree(root, child, out);
        else
            out.push_back(child);
    }
    closedir(d);
}

std::atomic<int> g_accessesLeft{0};
std::atomic<int> g_accessesSeen{0};

void OnFileAccess(int) {
    ++g_accessesSeen;
    if (g_accessesLeft.load() > 0 && g_accessesLeft.fetch_sub(1) == 1) g_cancelRequested = 1;
}

}  // namespace

TempDir::TempDir() {
    const char* base = std::getenv("TMPDIR");
    std::string templ = std::string(base && *base ? base : "/tmp") + "/trelk-test-XXXXXX";
    m_path = mkdtemp(templ.data()) ? templ : std::string();
}

TempDir::~TempDir() { RemoveTree(m_path); }

std::vector<std::string> TempDir::Files() const {
    std::vector<std::string> out;
    ListTree(m_path, "", out);
    std::sort(out.begin(), out.end());
    return out;
}

void WriteFileBytes(const std::string& path, const pack::Bytes& bytes) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

pack::Bytes ReadFileBytes(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return pack::Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

bool FileExists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

pack::Bytes FakeStub(size_t size) {
    pack::Bytes stub(size, 0);
    const char mz[] = "MZ this stands in for the stub image";
    std::copy(mz, mz + std::min(size, sizeof mz - 1), stub.begin());
    for (size_t i = 64; i < size; i += 7) stub[i] = uint8_t(i * 31);
    // The offset of the PE header, and its signature: what makes it a Windows program.
    constexpr size_t kPe = 0x80;
    if (size >= kPe + 4) {
        stub[0x3C] = uint8_t(kPe);
        stub[0x3D] = stub[0x3E] = stub[0x3F] = 0;
        const char pe[] = "PE\0";
        std::copy(pe, pe + 4, stub.begin() + kPe);
    }
    return stub;
}

pack::Bytes Pattern(size_t size, unsigned seed) {
    pack::Bytes out(size);
    uint32_t x = seed * 2654435761u + 1;
    for (auto& b : out) {
        x = x * 1103515245u + 12345u;
        b = uint8_t(x >> 16);
    }
    return out;
}

void SetCorePath(char* global, const std::string& path) {
    ASSERT_TRUE(platform::ToCorePath(path.c_str(), global, kPathSize)) << path;
}

CoreTest::CoreTest() {
    g_cancelRequested = 0;
    g_errorRaised = 0;
    exePath = dir / "setup.exe";
    SetCorePath(g_szModulePath, exePath);
    SetCorePath(g_szDestDir, dir / "out");
    SetCorePath(g_szTempDir, dir.path());
}

CoreTest::~CoreTest() {
    delete reader;
    FreeCatalog(catalog);
}

CatalogEntry* CoreTest::Load(const pack::Bytes& image) {
    WriteFileBytes(exePath, image);
    delete reader;
    reader = new CArchiveReader;
    catalog = reader->LoadCatalog();
    return catalog;
}

void CoreTest::EnqueueAll() {
    for (CatalogEntry* e = catalog; e; e = e->next) reader->EnqueueEntry(e);
}

pack::StoredEntry CodedEntry(const std::string& path, const pack::Bytes& prefix, const pack::Bytes& coded,
                             const pack::Bytes& tail) {
    pack::Bytes file = prefix;
    file.insert(file.end(), coded.begin(), coded.end());
    file.insert(file.end(), tail.begin(), tail.end());
    return pack::CodedEntry(path, file, prefix.size(), coded.size() / 2);
}

void CoreTest::NextCase() {
    std::filesystem::remove_all(dir / "out");
    mkdir((dir / "out").c_str(), 0700);
    host.boxes.clear();
    host.messages.clear();
    g_cancelRequested = 0;
    g_errorRaised = 0;
    FreeCatalog(catalog);
    catalog = nullptr;
}

CancelDuringFileAccess::CancelDuringFileAccess(const std::string& folder, int n) : m_previous{} {
    g_accessesLeft = n;
    g_accessesSeen = 0;
    struct sigaction action {};
    action.sa_handler = OnFileAccess;
    sigemptyset(&action.sa_mask);
    sigaction(SIGRTMIN, &action, &m_previous);
    m_fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    EXPECT_NE(m_fd, -1) << folder;
    // Each access in the folder, by this thread, signals this thread.
    const f_owner_ex owner{F_OWNER_TID, gettid()};
    EXPECT_EQ(fcntl(m_fd, F_SETSIG, SIGRTMIN), 0);
    EXPECT_EQ(fcntl(m_fd, F_NOTIFY, DN_ACCESS | DN_MODIFY | DN_MULTISHOT), 0);
    EXPECT_EQ(fcntl(m_fd, F_SETOWN_EX, &owner), 0);
}

CancelDuringFileAccess::~CancelDuringFileAccess() {
    close(m_fd);
    sigaction(SIGRTMIN, &m_previous, nullptr);
    g_accessesLeft = 0;
}

int CancelDuringFileAccess::Accesses() const { return g_accessesSeen; }
