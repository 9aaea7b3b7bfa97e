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
// start. False with error when the file cannot be read or holds no number.
bool LoadNextSerial(const std::string &path, uint32_t start, uint32_t &next,
                    std::string &error);

// Writes next through a temporary file in the same folder and a rename, so
// that a crash or a full disk never leaves half a number behind.
bool SaveNextSerial(const std::string &path, uint32_t next, std::string &error);
