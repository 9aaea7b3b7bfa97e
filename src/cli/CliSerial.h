#pragma once

#include <cstdint>
#include <mutex>
#include <set>
#include <string>
#include <vector>

// Serial numbers for the ID of each programmed chip: the next number lives in
// a small file between runs. No Qt.

inline constexpr uint32_t SerialLast = 0xFFFF; // the ID holds four hex digits

struct TSerialNumbers
{
    uint32_t Start = 0;
    uint32_t Step = 1;
};

// A serial number in at least four hex digits; unlike the pad's MyIntToHex
// it also shows one past FFFF, in the message that refuses it.
std::string SerialNumberText(uint32_t value);

// "START" or "START+STEP", each decimal or 0x hex. False for anything else,
// a start above 0xFFFF, or a step of 0 or above 0xFFFF.
bool ParseSerialNumbers(const std::string &text, TSerialNumbers &numbers);

// What the number file holds: the next new number on its first line, then
// one line for each number a failed chip gave back, taken before new ones.
struct TSerialFile
{
    uint32_t Next = 0;
    std::set<uint32_t> Returned;
};

// The file's content, or start and nothing returned when there is no file.
// False with error when the file cannot be read, is not a regular file (a
// FIFO would block the open) or holds anything but numbers.
bool LoadSerialFile(const std::string &path, uint32_t start, TSerialFile &content,
                    std::string &error);
// Written as any saved file is written (a temporary file and a rename, or in
// place after a backup copy for another user's file): a crash or a full disk
// never leaves half a number behind.
bool SaveSerialFile(const std::string &path, const TSerialFile &content, std::string &error);

// The first line alone: the number the next new chip takes.
bool LoadNextSerial(const std::string &path, uint32_t start, uint32_t &next,
                    std::string &error);
bool SaveNextSerial(const std::string &path, uint32_t next, std::string &error);

// True when SaveNextSerial could write path now; false with error naming the
// file and the reason, so that it is refused before any chip is burnt.
bool CheckSerialFile(const std::string &path, std::string &error);

// Keeps other runs from the serial-number file from the load of a number to
// the save of the next: two programmers sharing one file must not hand out
// the same number. An exclusive flock on ".NAME.lock" beside it, held until
// destruction.
class TSerialLock
{
public:
    TSerialLock() = default;
    TSerialLock(const TSerialLock &) = delete;
    TSerialLock &operator=(const TSerialLock &) = delete;
    ~TSerialLock();

    // False with error when another run holds the lock longer than waitMs
    // or it cannot be made.
    bool Take(const std::string &path, std::string &error, int waitMs = 0);

private:
    int Fd = -1;
};

// FileProblem's error says which: the lock, the read or the write.
enum class TSerialTake { Taken, UsedUp, Unlocked, Unread, Unwritten };

// The message for a number file that failed a take: "The serial number file
// cannot be used/read/written." and the reason on the next line.
std::string SerialFileProblemText(TSerialTake problem, const std::string &error);

// The serial numbers of one run, shared by all its boards: each chip takes
// its number under the file's lock just before it is programmed, and the
// file moves on at once, so no two chips of this run, of other boards or of
// other runs sharing the file meet on a number. A chip that fails before its
// ID could be on it gives the number back for the next chip; one whose ID
// write itself failed may hold part of it, so its number is skipped. Safe to
// use from several threads.
class TSerialPool
{
public:
    // An empty file keeps the numbers in this run only.
    void Start(uint32_t start, uint32_t step, const std::string &file);
    bool Active() const { return Started; }

    // UsedUp sets number to the first one past FFFF and changes nothing;
    // the other failures leave error naming the file and the reason.
    TSerialTake Take(uint32_t &number, std::string &error);
    // Found now, not after the first chip was burnt: the file can be read,
    // locked and written, and a number is left (number as for Take).
    TSerialTake Check(uint32_t &number, std::string &error);
    bool GiveBack(uint32_t number, std::string &error);
    void Skip(uint32_t number);
    std::vector<uint32_t> Skipped() const;

private:
    // Runs change on the current content under both locks and saves it when
    // change returns true.
    template <typename TChange>
    TSerialTake Update(TChange change, std::string &error);

    bool Started = false;
    uint32_t Step = 1;
    std::string File;
    TSerialFile Memory; // without a file
    mutable std::mutex Mutex;
    std::vector<uint32_t> SkippedNumbers;
};
