#include "cli/CliSerial.h"

#include "hexfile/FileIo.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

// A whole unsigned number, decimal or 0x hex, with nothing around it.
bool WholeNumber(const std::string &text, unsigned long long &value)
{
    if (text.empty() || text[0] < '0' || text[0] > '9')
        return false;
    char *end = nullptr;
    errno = 0;
    value = std::strtoull(text.c_str(), &end, 0);
    return errno == 0 && *end == '\0';
}

std::string SystemReason(const std::string &path)
{
    return path + ": " + std::strerror(errno);
}

} // namespace

bool ParseSerialNumbers(const std::string &text, TSerialNumbers &numbers)
{
    const size_t plus = text.find('+');
    unsigned long long start = 0;
    unsigned long long step = 1;
    if (!WholeNumber(text.substr(0, plus), start) || start > SerialLast)
        return false;
    if (plus != std::string::npos
        && (!WholeNumber(text.substr(plus + 1), step) || step == 0 || step > SerialLast))
        return false;
    numbers.Start = static_cast<uint32_t>(start);
    numbers.Step = static_cast<uint32_t>(step);
    return true;
}

bool LoadNextSerial(const std::string &path, uint32_t start, uint32_t &next,
                    std::string &error)
{
    std::string problem;
    const TFd file(OpenRegularFile(path, O_RDONLY, problem));
    if (file.Fd < 0) {
        if (errno == ENOENT) {
            next = start;
            return true;
        }
        error = path + ": " + problem;
        return false;
    }
    // The first line holds the number; a number is a few bytes.
    char buffer[64];
    const ssize_t got = ::read(file.Fd, buffer, sizeof buffer);
    if (got < 0) {
        error = SystemReason(path);
        return false;
    }
    const std::string content(buffer, static_cast<size_t>(got));
    const size_t end = content.find('\n');
    if (end == std::string::npos && got == static_cast<ssize_t>(sizeof buffer)) {
        error = path + ": holds no serial number (its first line is too long).";
        return false;
    }
    std::string text = content.substr(0, end);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
        text.pop_back();
    unsigned long long value = 0;
    // One step past the last ID is a valid content: the series has ended.
    if (!WholeNumber(text, value) || value > 2ull * SerialLast) {
        error = path + ": holds no serial number (\"" + text + "\").";
        return false;
    }
    next = static_cast<uint32_t>(value);
    return true;
}

bool SaveNextSerial(const std::string &path, uint32_t next, std::string &error)
{
    char text[32];
    std::snprintf(text, sizeof text, "0x%04X\n", static_cast<unsigned>(next));
    // Every run reads the number under the lock, so a shared file may be
    // rewritten in place (another user's, in a shared folder); the old number
    // survives any failure either way.
    if (SaveFileText(path, text))
        return true;
    error = SystemReason(path);
    return false;
}

bool CheckSerialFile(const std::string &path, std::string &error)
{
    std::string problem;
    if (CanSaveFile(path, problem))
        return true;
    error = path + ": " + problem;
    return false;
}

TSerialLock::~TSerialLock()
{
    if (Fd >= 0)
        ::close(Fd); // releases the lock
}

bool TSerialLock::Take(const std::string &path, std::string &error)
{
    namespace fs = std::filesystem;
    // Beside the file itself, so that every name for it takes the same lock;
    // the lock file stays, as removing it would let a waiting run lock a
    // file that is already gone.
    const fs::path target = FileBehindLinks(path);
    const std::string lockPath =
            (target.parent_path() / ("." + target.filename().string() + ".lock")).string();
    std::string problem;
    // Read-only: a lock needs no write access, so a file made by one user's
    // run serves every user who may use the number file. Created only when
    // missing: a shared sticky folder refuses O_CREAT on another's file.
    int fd = OpenRegularFile(lockPath, O_RDONLY, problem);
    if (fd < 0 && errno == ENOENT)
        fd = OpenRegularFile(lockPath, O_RDONLY | O_CREAT, problem, 0666);
    if (fd < 0) {
        error = lockPath + ": " + problem;
        return false;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        error = errno == EWOULDBLOCK
                ? path + ": in use by another run (" + lockPath + " is locked)."
                : SystemReason(lockPath);
        ::close(fd);
        return false;
    }
    Fd = fd;
    return true;
}
