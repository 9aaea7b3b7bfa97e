// Saving over existing files: links, owners, permissions and a full disk.
// The permission cases run the save in a child process that has dropped to
// an unprivileged user, since the tests themselves run as root; a full disk
// is a small memory file system where mounting is allowed, otherwise a file
// size limit on the child that saves.
#include "hexfile/HexWriter.h"

#include "hexfile/HexReader.h"

#include "HexTestSupport.h"

#include <functional>

#include <csignal>

#include <grp.h>
#include <sys/mount.h>
#include <sys/resource.h>
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

// Runs a save in a child process that first sets itself up (drops to the
// unprivileged user, or limits the size of the files it writes).
TChildResult SaveInChild(const std::function<bool()> &setUp, const std::string &path,
                         int romWords = 1024)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (!setUp())
            ::_exit(NoDrop);
        ::_exit(Save(path, romWords) ? Saved : Refused);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? TChildResult(WEXITSTATUS(status)) : NoDrop;
}

TChildResult SaveAsNobody(const std::string &path)
{
    return SaveInChild([] {
        return ::setgroups(0, nullptr) == 0 && ::setresgid(NoGroup, NoGroup, NoGroup) == 0
                && ::setresuid(Nobody, Nobody, Nobody) == 0 && ::geteuid() == Nobody;
    }, path);
}

class SafeSave : public ::testing::Test
{
protected:
    TTempDir Dir;
};

// Cases that create files owned by another user.
class SafeSaveOwners : public SafeSave
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

// Whoever runs it, no root needed: the user's own file keeps its mode.
TEST_F(SafeSave, OwnFileOfMode0640Keeps0640)
{
    const std::string path = Dir.File("mine.hex");
    WriteBytes(path, OldText);
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    const struct stat before = StatOf(path);
    ASSERT_TRUE(Save(path));
    const struct stat after = StatOf(path);
    EXPECT_EQ(after.st_mode & 07777, 0640u);
    EXPECT_EQ(after.st_uid, before.st_uid);
    EXPECT_EQ(after.st_gid, before.st_gid);
    EXPECT_TRUE(HoldsTheImage(path));
    EXPECT_EQ(Dir.EntryCount(), 1u) << "no temporary or backup file left";
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

TEST_F(SafeSaveOwners, RootKeepsAnotherUsersOwnerGroupAndMode)
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

TEST_F(SafeSaveOwners, AnUnprivilegedUserSavesOnlyWhereItMayWrite)
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
        // No room for a copy beside it: writing in place could lose it.
        {"own file, folder the user may not write", false, Nobody, 0644, Refused},
        {"read-only file, folder the user may not write", false, Nobody, 0444, Refused},
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

// A disk with little room left: a small memory file system filled up where
// mounting is allowed, otherwise a limit on the size of each file that the
// saving child writes. Either way the write runs out of room part way.
class FullDisk : public SafeSave
{
protected:
    void SetUp() override
    {
        Disk = Dir.Path / "disk";
        fs::create_directory(Disk);
        Mounted = ::geteuid() == 0
                && ::mount("tmpfs", Disk.c_str(), "tmpfs", 0, "size=64k") == 0;
    }
    void TearDown() override
    {
        if (Mounted)
            ::umount2(Disk.c_str(), MNT_DETACH);
    }
    TChildResult SaveWithRoomFor(size_t room, const std::string &path, int romWords)
    {
        if (!Mounted) {
            return SaveInChild([room] {
                std::signal(SIGXFSZ, SIG_IGN);
                const struct rlimit limit = {room, room};
                return ::setrlimit(RLIMIT_FSIZE, &limit) == 0;
            }, path, romWords);
        }
        struct statvfs vfs = {};
        EXPECT_EQ(::statvfs(Disk.c_str(), &vfs), 0);
        const size_t free = size_t(vfs.f_bavail) * vfs.f_bsize;
        EXPECT_GT(free, room);
        WriteBytes((Disk / "filler").string(), std::string(free - room, 'f'));
        return SaveInChild([] { return true; }, path, romWords);
    }
    // Entries beside the filler.
    size_t Entries() const
    {
        size_t n = 0;
        for (const auto &e : fs::directory_iterator(Disk))
            n += e.path().filename() != "filler";
        return n;
    }
    fs::path Disk;
    bool Mounted = false;
};

TEST_F(FullDisk, ReplacingFailsAndKeepsTheOldFile)
{
    const std::string path = (Disk / "x.hex").string();
    WriteBytes(path, OldText);
    EXPECT_EQ(SaveWithRoomFor(4096, path, 8192), Refused); // about 47 kB
    EXPECT_EQ(ReadBytes(path), OldText);
    EXPECT_EQ(Entries(), 1u) << "no temporary file left";
}

TEST_F(FullDisk, InPlaceWriteIsUndoneFromTheBackup)
{
    const std::string path = (Disk / "x.hex").string();
    const std::string other = (Disk / "y.hex").string();
    WriteBytes(path, OldText);
    fs::create_hard_link(path, other);
    // Room for the backup copy, not for the new text.
    EXPECT_EQ(SaveWithRoomFor(4096, path, 8192), Refused);
    EXPECT_EQ(ReadBytes(path), OldText);
    EXPECT_EQ(ReadBytes(other), OldText);
    EXPECT_EQ(StatOf(path).st_nlink, 2u);
    EXPECT_EQ(Entries(), 2u) << "the backup copy is gone";
}

} // namespace
