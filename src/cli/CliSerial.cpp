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

std::string SerialNumberText(uint32_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "%04X", static_cast<unsigned>(value));
    return text;
}

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

namespace {

constexpr size_t FirstLineLimit = 64;   // a number is a few bytes
constexpr size_t SerialFileLimit = 1 << 16;

void TrimLine(std::string &text)
{
    while (!text.empty() && (text.back() == '\r' || text.back() == ' '))
        text.pop_back();
}

} // namespace

bool LoadSerialFile(const std::string &path, uint32_t start, TSerialFile &content,
                    std::string &error)
{
    std::string problem;
    const TFd file(OpenRegularFile(path, O_RDONLY, problem));
    if (file.Fd < 0) {
        if (errno == ENOENT) {
            content = TSerialFile{start, {}};
            return true;
        }
        error = path + ": " + problem;
        return false;
    }
    std::string bytes;
    char buffer[4096];
    for (;;) {
        const ssize_t got = ::read(file.Fd, buffer, sizeof buffer);
        if (got < 0) {
            error = SystemReason(path);
            return false;
        }
        if (got == 0)
            break;
        bytes.append(buffer, static_cast<size_t>(got));
        if (bytes.size() > SerialFileLimit) {
            error = path + ": holds no serial number (it is too long).";
            return false;
        }
    }
    const size_t firstEnd = bytes.find('\n');
    if ((firstEnd == std::string::npos ? bytes.size() : firstEnd) >= FirstLineLimit) {
        error = path + ": holds no serial number (its first line is too long).";
        return false;
    }
    TSerialFile read;
    size_t from = 0;
    for (bool first = true; from < bytes.size() || first; first = false) {
        size_t end = bytes.find('\n', from);
        if (end == std::string::npos)
            end = bytes.size();
        std::string text = bytes.substr(from, end - from);
        from = end + 1;
        TrimLine(text);
        if (!first && text.empty())
            continue;
        unsigned long long value = 0;
        // One step past the last ID is a valid next number: the series has
        // ended. A number given back was a real ID.
        if (!WholeNumber(text, value) || value > (first ? 2ull : 1ull) * SerialLast) {
            error = path + ": holds no serial number (\"" + text + "\").";
            return false;
        }
        if (first)
            read.Next = static_cast<uint32_t>(value);
        else
            read.Returned.insert(static_cast<uint32_t>(value));
    }
    content = read;
    return true;
}

bool SaveSerialFile(const std::string &path, const TSerialFile &content, std::string &error)
{
    std::string text;
    char line[32];
    std::snprintf(line, sizeof line, "0x%04X\n", static_cast<unsigned>(content.Next));
    text += line;
    for (const uint32_t number : content.Returned) {
        std::snprintf(line, sizeof line, "0x%04X\n", static_cast<unsigned>(number));
        text += line;
    }
    // Every run reads the file under the lock, so a shared file may be
    // rewritten in place (another user's, in a shared folder); the old
    // content survives any failure either way.
    if (SaveFileText(path, text))
        return true;
    error = SystemReason(path);
    return false;
}

bool LoadNextSerial(const std::string &path, uint32_t start, uint32_t &next,
                    std::string &error)
{
    TSerialFile content;
    if (!LoadSerialFile(path, start, content, error))
        return false;
    next = content.Next;
    return true;
}

bool SaveNextSerial(const std::string &path, uint32_t next, std::string &error)
{
    return SaveSerialFile(path, TSerialFile{next, {}}, error);
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

bool TSerialLock::Take(const std::string &path, std::string &error, int waitMs)
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
    // Others hold it only while they take or give back a number.
    constexpr int PollMs = 5;
    int locked = 0;
    for (int waited = 0; (locked = ::flock(fd, LOCK_EX | LOCK_NB)) != 0
         && errno == EWOULDBLOCK && waited < waitMs; waited += PollMs)
        ::usleep(PollMs * 1000);
    if (locked != 0) {
        error = errno == EWOULDBLOCK
                ? path + ": in use by another run (" + lockPath + " is locked)."
                : SystemReason(lockPath);
        ::close(fd);
        return false;
    }
    Fd = fd;
    return true;
}

namespace {

// Longer than any other run holds the lock to take a number.
constexpr int SerialLockWaitMs = 10000;

bool NumberLeft(const TSerialFile &content)
{
    return !content.Returned.empty() || content.Next <= SerialLast;
}

uint32_t NextNumber(const TSerialFile &content)
{
    return content.Returned.empty() ? content.Next : *content.Returned.begin();
}

} // namespace

std::string SerialFileProblemText(TSerialTake problem, const std::string &error)
{
    const char *what = problem == TSerialTake::Unlocked ? "used"
                       : problem == TSerialTake::Unread ? "read"
                                                        : "written";
    return std::string("The serial number file cannot be ") + what + ".\n" + error;
}

void TSerialPool::Start(uint32_t start, uint32_t step, const std::string &file)
{
    std::lock_guard<std::mutex> hold(Mutex);
    Started = true;
    Step = step;
    File = file;
    Memory = TSerialFile{start, {}};
    SkippedNumbers.clear();
}

template <typename TChange>
TSerialTake TSerialPool::Update(TChange change, std::string &error)
{
    std::lock_guard<std::mutex> hold(Mutex);
    if (File.empty()) {
        change(Memory);
        return TSerialTake::Taken;
    }
    TSerialLock lock;
    if (!lock.Take(File, error, SerialLockWaitMs))
        return TSerialTake::Unlocked;
    TSerialFile content;
    if (!LoadSerialFile(File, Memory.Next, content, error))
        return TSerialTake::Unread;
    if (change(content) && !SaveSerialFile(File, content, error))
        return TSerialTake::Unwritten;
    return TSerialTake::Taken;
}

TSerialTake TSerialPool::Take(uint32_t &number, std::string &error)
{
    bool left = false;
    const TSerialTake done = Update([&](TSerialFile &content) {
        left = NumberLeft(content);
        number = NextNumber(content);
        if (!left)
            return false;
        if (content.Returned.empty())
            content.Next += Step;
        else
            content.Returned.erase(content.Returned.begin());
        return true;
    }, error);
    if (done != TSerialTake::Taken)
        return done;
    return left ? TSerialTake::Taken : TSerialTake::UsedUp;
}

TSerialTake TSerialPool::Check(uint32_t &number, std::string &error)
{
    if (!File.empty() && !CheckSerialFile(File, error))
        return TSerialTake::Unwritten;
    bool left = false;
    const TSerialTake done = Update([&](TSerialFile &content) {
        left = NumberLeft(content);
        number = NextNumber(content);
        return false;
    }, error);
    if (done != TSerialTake::Taken)
        return done;
    return left ? TSerialTake::Taken : TSerialTake::UsedUp;
}

bool TSerialPool::GiveBack(uint32_t number, std::string &error)
{
    return Update([&](TSerialFile &content) {
        // Taken again straight away when it was the last one handed out; a
        // number the file has not reached yet comes again anyway.
        if (number + Step == content.Next && content.Returned.empty())
            content.Next = number;
        else if (number < content.Next)
            content.Returned.insert(number);
        else
            return false;
        return true;
    }, error) == TSerialTake::Taken;
}

void TSerialPool::Skip(uint32_t number)
{
    std::lock_guard<std::mutex> hold(Mutex);
    SkippedNumbers.push_back(number);
}

std::vector<uint32_t> TSerialPool::Skipped() const
{
    std::lock_guard<std::mutex> hold(Mutex);
    return SkippedNumbers;
}
