// The POSIX side of the seam beyond the mapping of separators: what it
// remembers of a failed call, the mode of the files it makes, and output that
// goes nowhere.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cerrno>
#include <functional>
#include <string>

#include "platform/platform.h"
#include "platform/console/host.h"
#include "support/fixtures.h"

namespace {

std::string Core(std::string path) {
    for (char& c : path)
        if (c == '/') c = '\\';
    return path;
}

mode_t ModeOf(const std::string& path) {
    struct stat st {};
    stat(path.c_str(), &st);
    return st.st_mode & 07777;
}

TEST(PosixSeam, LastFailureIsTheSystemsReasonAndThePathOfTheCallThatFailed) {
    TempDir dir;
    WriteFileBytes(dir / "read-only", {'r'});
    chmod((dir / "read-only").c_str(), 0444);
    WriteFileBytes(dir / "plain", {'p'});
    // Each call gives the descriptor it leaves open, closed after the look.
    struct Case {
        const char* name;
        std::function<int()> call;
        int error;
        std::string path;
    };
    const Case cases[] = {
        {"create in a missing folder", [&] { return platform::CreateWrite(Core(dir / "none/a.txt").c_str()); },
         ENOENT, dir / "none/a.txt"},
        {"create over a read-only file", [&] { return platform::CreateWrite(Core(dir / "read-only").c_str()); },
         EACCES, dir / "read-only"},
        {"create below a plain file", [&] { return platform::CreateWrite(Core(dir / "plain/a.txt").c_str()); },
         ENOTDIR, dir / "plain/a.txt"},
        {"open a missing file", [&] { return platform::OpenRead(Core(dir / "gone").c_str()); }, ENOENT,
         dir / "gone"},
        {"look for a missing file", [&] { return platform::Exists(Core(dir / "gone").c_str()) ? 0 : -1; }, ENOENT,
         dir / "gone"},
        {"write to a full disk",
         [] {
             const int fd = platform::CreateWrite("\\dev\\full");
             platform::Write(fd, "x", 1);
             return fd;
         },
         ENOSPC, "/dev/full"},
        {"read a folder",
         [&] {
             const int fd = platform::OpenRead(Core(dir.path()).c_str());
             char c;
             platform::Read(fd, &c, 1);
             return fd;
         },
         EISDIR, dir.path()},
        // A short read is no failure of the system's: nothing to tell.
        {"read past the end",
         [&] {
             const int fd = platform::OpenRead(Core(dir / "plain").c_str());
             char c[2];
             platform::Read(fd, c, 2);
             return fd;
         },
         0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        platform::TakeLastFailure();
        const int fd = c.call();
        const platform::SystemFailure failure = platform::TakeLastFailure();
        if (fd > 0) platform::Close(fd);
        EXPECT_EQ(failure.error, c.error);
        if (c.error) {
            EXPECT_EQ(failure.path, c.path);
        }
        // Told once only.
        EXPECT_EQ(platform::TakeLastFailure().error, 0);
    }
    // A call that succeeds after a failure leaves nothing to tell about it.
    platform::Exists(Core(dir / "gone").c_str());
    platform::Exists(Core(dir / "plain").c_str());
    EXPECT_EQ(platform::TakeLastFailure().error, 0);
}

TEST(PosixSeam, OutputFilesTakeTheUmaskAndTheTemporaryFileStaysPrivate) {
    TempDir dir;
    const mode_t saved = umask(022);
    for (const mode_t mask : {mode_t(022), mode_t(077), mode_t(0)}) {
        SCOPED_TRACE(mask);
        umask(mask);
        const std::string out = dir / ("out-" + std::to_string(mask));
        const std::string temp = dir / ("temp-" + std::to_string(mask));
        platform::Close(platform::CreateWrite(Core(out).c_str()));
        platform::Close(platform::CreateTemp(Core(temp).c_str()));
        EXPECT_EQ(ModeOf(out), 0666 & ~mask);
        EXPECT_EQ(ModeOf(temp), mode_t(0600));
    }
    umask(saved);
}

TEST(PosixSeam, DiscardedOutputLeavesEverythingAsItWasButTheTemporaryFile) {
    TempDir dir;
    WriteFileBytes(dir / "kept.txt", {'o', 'l', 'd'});
    platform::DiscardOutput(true);
    const int fd = platform::CreateWrite(Core(dir / "kept.txt").c_str());
    EXPECT_NE(fd, -1);
    EXPECT_EQ(platform::Write(fd, "new bytes", 9), 9);
    platform::Close(fd);
    platform::Close(platform::CreateWrite(Core(dir / "new.txt").c_str()));
    EXPECT_EQ(platform::MakeDir(Core(dir / "folder").c_str()), 0);
    platform::Remove(Core(dir / "kept.txt").c_str());
    const int temp = platform::CreateTemp(Core(dir / "s1.tmp").c_str());
    EXPECT_NE(temp, -1);
    platform::Close(temp);
    EXPECT_EQ(dir.Files(), (std::vector<std::string>{"kept.txt", "s1.tmp"}));
    platform::Remove(Core(dir / "s1.tmp").c_str());
    platform::DiscardOutput(false);

    EXPECT_EQ(dir.Files(), std::vector<std::string>{"kept.txt"});
    EXPECT_EQ(ReadFileBytes(dir / "kept.txt"), (pack::Bytes{'o', 'l', 'd'}));
    // And back to real files.
    platform::Close(platform::CreateWrite(Core(dir / "new.txt").c_str()));
    EXPECT_TRUE(FileExists(dir / "new.txt"));
}

}  // namespace
