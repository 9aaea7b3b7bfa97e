#pragma once

#include <cstdint>
#include <string>

// Serial numbers for the ID of each programmed chip: the next number lives in
// a small file between runs. No Qt.

inline constexpr uint32_t SerialLast = 0xFFFF; // the ID holds four hex digits

struct TSerialNumbers
{
    uint32_t Start = 0;
    uint32_t Step = 1;
};

// "START" or "START+STEP", each decimal or 0x hex. False for anything else,
// a start above 0xFFFF, or a step of 0 or above 0xFFFF.
bool ParseSerialNumbers(const std::string &text, TSerialNumbers &numbers);

// The number the next chip takes: the file's when the file exists, else
// start. False with error when the file cannot be read, is not a regular
// file (a FIFO would block the open) or holds no number.
bool LoadNextSerial(const std::string &path, uint32_t start, uint32_t &next,
                    std::string &error);

// Writes next as any saved file is written (a temporary file and a rename,
// or in place after a backup copy for another user's file): a crash or a
// full disk never leaves half a number behind.
bool SaveNextSerial(const std::string &path, uint32_t next, std::string &error);

// True when SaveNextSerial could write path now; false with error naming the
// file and the reason, so that it is refused before any chip is burnt.
bool CheckSerialFile(const std::string &path, std::string &error);

// Keeps other runs from the serial-number file from the load of the number
// to the save of the last one: two programmers sharing one file must not
// hand out the same number. An exclusive flock on ".NAME.lock" beside it,
// held until destruction.
class TSerialLock
{
public:
    TSerialLock() = default;
    TSerialLock(const TSerialLock &) = delete;
    TSerialLock &operator=(const TSerialLock &) = delete;
    ~TSerialLock();

    // False with error when another run holds the lock or it cannot be made.
    bool Take(const std::string &path, std::string &error);

private:
    int Fd = -1;
};
