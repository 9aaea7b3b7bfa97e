#pragma once

#include <cstdint>
#include <string>

// The serial line as the board protocol sees it: TSerial in the program,
// a scripted line in unit tests.
class TByteLine
{
public:
    virtual ~TByteLine() = default;
    virtual void WriteChar(uint8_t ch) = 0;
    // Binary-safe: any byte value, 0x00 and 0xFF included.
    virtual void WriteString(const std::string &text) = 0;
    // 1 and ch set when a byte was waiting, else 0; never blocks.
    virtual int ReadChar(uint8_t &ch) = 0;
    // True when nothing can come any more on a line that was open: it hung
    // up or the adapter was pulled out. Not for a port that never opened.
    virtual bool LineLost() const { return false; }
};
