#include "hexfile/FileIo.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <random>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>

#include <unistd.h>

namespace fs = std::filesystem;

bool TFd::Close()
{
    const bool ok = Fd < 0 || ::close(Fd) == 0;
    Fd = -1;
    return ok;
}

bool ReadAll(int fd, std::string &text, size_t limit)
{
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got == 0)
            return true;
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (text.size() + static_cast<size_t>(got) > limit)
            return false;
        text.append(buffer, static_cast<size_t>(got));
    }
}

bool WriteAll(int fd, const std::string &text)
{
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

namespace {

// errno is set too, so that no earlier value passes for this one's.
std::string NotRegularReason(const struct stat &info)
{
    errno = S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
    return S_ISDIR(info.st_mode) ? std::strerror(EISDIR) : "not a regular file";
}

// Replaces the content of an open file with text, in place.
bool Overwrite(int fd, const std::string &text)
{
    return ::lseek(fd, 0, SEEK_SET) == 0 && WriteAll(fd, text)
            && ::ftruncate(fd, static_cast<off_t>(text.size())) == 0 && ::fsync(fd) == 0;
}

// A new, empty file beside target that nobody else has opened.
bool CreateNear(const fs::path &target, mode_t mode, std::string &name, int &fd)
{
    // Per thread: boards of one run save at the same time.
    thread_local std::mt19937 generator{std::random_device{}()};
    for (int attempt = 0; attempt < 16; ++attempt) {
        const fs::path file = "." + target.filename().string() + ".tmp"
                + std::to_string(generator() % 1000000);
        name = (target.parent_path() / file).string();
        fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd >= 0 || errno != EEXIST)
            return fd >= 0;
    }
    return false;
}

// The file that path names once its symbolic links are followed, so that a
// save through a link changes the link's target and keeps the link.
fs::path FollowLinks(fs::path path)
{
    for (int hops = 0; hops < 40; ++hops) {
        std::error_code ec;
        if (!fs::is_symlink(path, ec))
            return path;
        const fs::path next = fs::read_symlink(path, ec);
        if (ec)
            return path;
        path = next.is_absolute() ? next : path.parent_path() / next;
    }
    return path; // a loop: the open below fails on it
}

// For a file that has other names, or whose owner cannot be kept: a backup
// copy in the same folder first, then the new text in place, and the old
// text put back on any failure. Without room for the copy nothing is written.
bool WriteInPlace(const fs::path &target, const std::string &text)
{
    TFd file(::open(target.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW));
    std::string old;
    if (file.Fd < 0 || !ReadAll(file.Fd, old)) // from the start: just opened
        return false;
    std::string backupName;
    int backupFd = -1;
    if (!CreateNear(target, 0600, backupName, backupFd))
        return false;
    TFd backup(backupFd);
    if (!WriteAll(backup.Fd, old) || ::fsync(backup.Fd) != 0 || !backup.Close()) {
        ::unlink(backupName.c_str());
        return false;
    }
    if (Overwrite(file.Fd, text) && file.Close()) {
        ::unlink(backupName.c_str());
        return true;
    }
    // Put the old text back; if even that fails, the backup copy stays for
    // the user.
    TFd again(::open(target.c_str(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW));
    if (again.Fd >= 0 && Overwrite(again.Fd, old) && again.Close())
        ::unlink(backupName.c_str());
    return false;
}

// A rename lasts through a power cut only once its folder is on disk too.
bool SyncFolder(const fs::path &folder)
{
    const TFd dir(::open(folder.empty() ? "." : folder.c_str(),
                         O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return dir.Fd >= 0 && ::fsync(dir.Fd) == 0;
}

// Writes text to a new file beside target and renames it over target. The
// new file gets the old one's owner, group and mode; when the owner cannot
// be kept (the file belongs to someone else), the file is written in place.
bool ReplaceFile(const fs::path &target, const std::string &text, const struct stat *old)
{
    std::string tempName;
    int tempFd = -1;
    if (!CreateNear(target, old ? 0600 : 0666, tempName, tempFd))
        return false;
    TFd temp(tempFd);
    bool ok = WriteAll(temp.Fd, text) && ::fsync(temp.Fd) == 0;
    if (ok && old) {
        struct stat mine = {};
        ok = ::fstat(temp.Fd, &mine) == 0;
        if (ok && (mine.st_uid != old->st_uid || mine.st_gid != old->st_gid)
                && ::fchown(temp.Fd, old->st_uid, old->st_gid) != 0) {
            temp.Close();
            ::unlink(tempName.c_str());
            return WriteInPlace(target, text);
        }
        ok = ok && ::fchmod(temp.Fd, old->st_mode & 07777) == 0;
    }
    ok = temp.Close() && ok;
    // Past the rename the new text is in place; a folder that does not reach
    // the disk is still told as a failure, since a power cut would undo it.
    if (ok && ::rename(tempName.c_str(), target.c_str()) == 0)
        return SyncFolder(target.parent_path());
    ::unlink(tempName.c_str());
    return false;
}

// What a save meets at target: false with problem (and errno) set when it
// must not write there; otherwise exists tells whether old describes a file.
bool CheckTarget(const fs::path &target, struct stat &old, bool &exists, std::string &problem)
{
    exists = ::lstat(target.c_str(), &old) == 0;
    if (!exists && errno != ENOENT) {
        problem = std::strerror(errno);
        return false;
    }
    if (exists && !S_ISREG(old.st_mode)) {
        problem = NotRegularReason(old);
        return false;
    }
    if (exists && ::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0) {
        problem = std::strerror(errno);
        return false;
    }
    return true;
}

} // namespace

bool SaveFileText(const std::string &path, const std::string &text)
{
    const fs::path target = FollowLinks(path);
    struct stat old = {};
    bool exists = false;
    std::string problem;
    if (!CheckTarget(target, old, exists, problem))
        return false;
    if (!exists)
        return ReplaceFile(target, text, nullptr);
    if (old.st_nlink > 1)
        return WriteInPlace(target, text);
    return ReplaceFile(target, text, &old);
}

int OpenRegularFile(const std::string &path, int flags, std::string &problem, int mode)
{
    // Looked at first: a FIFO opened for writing without a reader fails with
    // a reason that does not say what is wrong.
    struct stat info = {};
    if (::stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
        problem = NotRegularReason(info);
        return -1;
    }
    TFd file(::open(path.c_str(), flags | O_NONBLOCK | O_CLOEXEC, static_cast<mode_t>(mode)));
    if (file.Fd < 0 || ::fstat(file.Fd, &info) != 0) {
        const int error = errno;
        problem = std::strerror(error);
        errno = error;
        return -1;
    }
    if (!S_ISREG(info.st_mode)) { // swapped since the look
        problem = NotRegularReason(info);
        return -1;
    }
    const int fd = file.Fd;
    file.Fd = -1;
    return fd;
}

std::string FileBehindLinks(const std::string &path)
{
    return FollowLinks(path).string();
}

bool CanSaveFile(const std::string &path, std::string &problem)
{
    const fs::path target = FollowLinks(path);
    struct stat old = {};
    bool exists = false;
    if (!CheckTarget(target, old, exists, problem))
        return false;
    // Every way of saving writes a file beside the target first.
    std::string name;
    int fd = -1;
    if (!CreateNear(target, 0600, name, fd)) {
        problem = std::strerror(errno);
        return false;
    }
    ::close(fd);
    ::unlink(name.c_str());
    return true;
}
