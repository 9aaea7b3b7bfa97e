// Saving over existing files: links, owners, permissions and a full disk.
// The permission cases run the save in a child process that has dropped to
// an unprivileged user, since the tests themselves run as root.
#include "hexfile/HexWriter.h"

#include "hexfile/HexReader.h"

#include "HexTestSupport.h"

#include <functional>

#include <grp.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr uid_t Nobody = 65534;
constexpr gid_t NoGroup = 65534;
const std::string OldText = "old contents\r\n";

TWorkState Image(int romWords)
{
    TWorkState ws = Chip(romWords, 64);
    ws.RomData.assign(size_t(romWords), "10245");
    ws.EepData.assign(64, "7");
    return ws;
}

bool Save(const std::string &path, int romWords = 1024)
{
    TWorkState ws = Image(romWords);
    return SaveINHX8MFile(ws, "1234", path);
}

// The saved image reads back from path.
bool HoldsTheImage(const std::string &path)
{
    TWorkState back = Chip(1024, 64);
    return LoadHexFile(back, path, false).Status == THexLoadStatus::Ok
            && back.RomData == Image(1024).RomData && back.IdValue == 0x1234;
}

struct stat StatOf(const std::string &path)
{
    struct stat st = {};
    EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
    return st;
}

enum TChildResult { Saved, Refused, NoDrop };

// Runs a save as the unprivileged user in a child process.
TChildResult SaveAsNobody(const std::string &path)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setresgid(NoGroup, NoGroup, NoGroup) != 0
                || ::setresuid(Nobody, Nobody, Nobody) != 0 || ::geteuid() != Nobody)
            ::_exit(NoDrop);
        ::_exit(Save(path) ? Saved : Refused);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? TChildResult(WEXITSTATUS(status)) : NoDrop;
}

class SafeSave : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (::geteuid() != 0)
            GTEST_SKIP() << "needs root to create another user's files";
    }
    void Own(const fs::path &path, uid_t uid, gid_t gid, mode_t mode)
    {
        ASSERT_EQ(::chown(path.c_str(), uid, gid), 0);
        ASSERT_EQ(::chmod(path.c_str(), mode), 0);
    }
    TTempDir Dir;
};

TEST_F(SafeSave, ThroughSymbolicLinksToTheTarget)
{
    fs::create_directory(Dir.Path / "real");
    const std::string target = Dir.File("real/target.hex");
    WriteBytes(target, OldText);
    fs::create_symlink("real/target.hex", Dir.Path / "near.hex"); // relative
    fs::create_symlink(Dir.Path / "near.hex", Dir.Path / "far.hex"); // a chain
    for (const char *link : {"near.hex", "far.hex"}) {
        SCOPED_TRACE(link);
        WriteBytes(target, OldText);
        ASSERT_TRUE(Save(Dir.File(link)));
        EXPECT_TRUE(fs::is_symlink(Dir.Path / link));
        EXPECT_TRUE(HoldsTheImage(target));
    }
    EXPECT_EQ(Dir.EntryCount(), 3u) << "no temporary or backup file left";
    EXPECT_EQ(fs::read_symlink(Dir.Path / "near.hex"), "real/target.hex");
}

TEST_F(SafeSave, AFileWithTwoNamesKeepsBoth)
{
    const std::string first = Dir.File("a.hex");
    const std::string second = Dir.File("b.hex");
    WriteBytes(first, OldText);
    fs::create_hard_link(first, second);
    const ino_t inode = StatOf(first).st_ino;
    ASSERT_TRUE(Save(first));
    EXPECT_EQ(StatOf(first).st_ino, inode);
    EXPECT_EQ(StatOf(second).st_nlink, 2u);
    EXPECT_TRUE(HoldsTheImage(second));
    EXPECT_EQ(Dir.EntryCount(), 2u) << "the backup copy is gone";
}

TEST_F(SafeSave, RootKeepsAnotherUsersOwnerGroupAndMode)
{
    const std::string path = Dir.File("theirs.hex");
    WriteBytes(path, OldText);
    Own(path, Nobody, NoGroup, 0640);
    ASSERT_TRUE(Save(path));
    const struct stat st = StatOf(path);
    EXPECT_EQ(st.st_uid, Nobody);
    EXPECT_EQ(st.st_gid, NoGroup);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_TRUE(HoldsTheImage(path));
}

TEST_F(SafeSave, AnUnprivilegedUserSavesOnlyWhereItMayWrite)
{
    const struct
    {
        const char *Name;
        bool FolderWritable; // by the user
        uid_t FileOwner;
        mode_t FileMode;
        TChildResult Expected;
    } cases[] = {
        {"own file, writable folder", true, Nobody, 0644, Saved},
        {"read-only file", true, Nobody, 0444, Refused},
        {"folder the user may not write", false, Nobody, 0644, Refused},
        {"root's file the user may not write", true, 0, 0644, Refused},
        // Writable for everyone but owned by root: written in place, so the
        // owner stays.
        {"root's file open to all", true, 0, 0666, Saved},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Name);
        TTempDir dir;
        Own(dir.Path, c.FolderWritable ? Nobody : 0, c.FolderWritable ? NoGroup : 0, 0755);
        const std::string path = dir.File("x.hex");
        WriteBytes(path, OldText);
        Own(path, c.FileOwner, c.FileOwner == 0 ? 0 : NoGroup, c.FileMode);
        const TChildResult result = SaveAsNobody(path);
        ASSERT_NE(result, NoDrop);
        EXPECT_EQ(result, c.Expected);
        if (c.Expected == Saved)
            EXPECT_TRUE(HoldsTheImage(path));
        else
            EXPECT_EQ(ReadBytes(path), OldText);
        const struct stat st = StatOf(path);
        EXPECT_EQ(st.st_uid, c.FileOwner);
        EXPECT_EQ(st.st_mode & 07777, c.FileMode);
        EXPECT_EQ(dir.EntryCount(), 1u) << "no temporary or backup file left";
    }
}

TEST_F(SafeSave, SpecialFilesAreNotWritten)
{
    const std::string fifo = Dir.File("pipe.hex");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0666), 0);
    EXPECT_FALSE(Save(fifo)); // would block on open
    EXPECT_TRUE(fs::is_fifo(fifo));
    EXPECT_FALSE(Save("/dev/null"));
}

// A small memory file system that the test fills up.
class FullDisk : public SafeSave
{
protected:
    void SetUp() override
    {
        SafeSave::SetUp();
        if (IsSkipped())
            return;
        Mount = Dir.Path / "disk";
        fs::create_directory(Mount);
        if (::mount("tmpfs", Mount.c_str(), "tmpfs", 0, "size=64k") != 0)
            GTEST_SKIP() << "cannot mount a small file system here";
        Mounted = true;
    }
    void TearDown() override
    {
        if (Mounted)
            ::umount2(Mount.c_str(), MNT_DETACH);
    }
    // Fills the disk until only keepFree bytes are left.
    void FillUpTo(size_t keepFree)
    {
        struct statvfs vfs = {};
        ASSERT_EQ(::statvfs(Mount.c_str(), &vfs), 0);
        const size_t free = size_t(vfs.f_bavail) * vfs.f_bsize;
        ASSERT_GT(free, keepFree);
        WriteBytes((Mount / "filler").string(), std::string(free - keepFree, 'f'));
    }
    size_t Entries() const
    {
        size_t n = 0;
        for ([[maybe_unused]] const auto &e : fs::directory_iterator(Mount))
            ++n;
        return n;
    }
    fs::path Mount;
    bool Mounted = false;
};

TEST_F(FullDisk, ReplacingFailsAndKeepsTheOldFile)
{
    const std::string path = (Mount / "x.hex").string();
    WriteBytes(path, OldText);
    FillUpTo(4096);
    EXPECT_FALSE(Save(path, 8192)); // about 47 kB
    EXPECT_EQ(ReadBytes(path), OldText);
    EXPECT_EQ(Entries(), 2u) << "no temporary file left";
}

TEST_F(FullDisk, InPlaceWriteIsUndoneFromTheBackup)
{
    const std::string path = (Mount / "x.hex").string();
    const std::string other = (Mount / "y.hex").string();
    WriteBytes(path, OldText);
    fs::create_hard_link(path, other);
    FillUpTo(4096); // room for the backup copy, not for the new text
    EXPECT_FALSE(Save(path, 8192));
    EXPECT_EQ(ReadBytes(path), OldText);
    EXPECT_EQ(ReadBytes(other), OldText);
    EXPECT_EQ(StatOf(path).st_nlink, 2u);
    EXPECT_EQ(Entries(), 3u) << "the backup copy is gone";
}

} // namespace
