#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Value of one upper-case hexadecimal digit: '0'-'9' give 0-9, 'A'-'E' give
// 10-14, and every other character, 'F' included, gives 15.
int HexToDec(char c);

// One hexadecimal digit for 0-15; any larger value saturates at 'F'.
char ToHex(uint32_t n);

// Two (Digits != 4) or four upper-case hex digits of Value: the low byte
// (Value mod 256), preceded by the next byte (Value div 256) for four digits.
// Quotient and remainder truncate toward zero, as the pad and writer expect.
std::string MyIntToHex(int32_t value, int32_t digits);

// Decimal text of a device-image entry back to its value. False (value
// untouched) for anything but an optionally signed run of decimal digits that
// fits 32 bits, so a damaged entry can be shown as missing instead of failing.
bool DecimalValue(const std::string &text, int32_t &value);

// The entry at addr of a device-image list as a number; a missing or
// unreadable entry reads as blank, so nothing fails on the image itself.
int32_t ImageValue(const std::vector<std::string> &list, int32_t addr, int32_t blank);
// The same cut to a memory's width (mask, also its blank value): what the
// chip holds for that entry.
int32_t ImageCell(const std::vector<std::string> &list, int32_t addr, int32_t mask);

// The ID text as the operations and the writer take it: left-filled with "F"
// to four characters; a longer text keeps its first four.
std::string PadIdText(const std::string &text);

// Value of the padded ID text, 4096 d1 + 256 d2 + 16 d3 + d4 by HexToDec, so a
// character that is not an upper-case hex digit counts as 15.
int32_t IdTextValue(const std::string &text);

// Index of the last program word whose text is not the blank "16383",
// searching from the end; -1 when every word is blank or the list is empty.
int32_t LastNonBlankWord(const std::vector<std::string> &romData);

// ProgEnd of the Program command: one past the last non-blank word, rounded
// up to a multiple of 8 and at most romSize; 0 when there is nothing to write.
int32_t ProgramEnd(const std::vector<std::string> &romData, int32_t romSize);

// Memory pad: 20 lines of 8 entries, every line 59 characters long.
inline constexpr int PadLineCount = 20;
inline constexpr int PadLineEntries = 8;
inline constexpr int PadLineLength = 59;

enum TPadView { pvProgram, pvEeprom };

// One pad line for the entries first .. first + 7 of list: address, the eight
// value fields ("---- " / "  -- " past the end of the list), four spaces, the
// character column and a trailing space.
std::string PadLine(const std::vector<std::string> &list, int32_t first, TPadView view);

// The 20 lines shown at scroll position (index of the first line).
std::vector<std::string> PadPage(const std::vector<std::string> &list, int32_t position,
                                 TPadView view);

// MemScroll maxima: RomSize div 8 - 20 for program memory; EepSize div 8 - 20
// for an EEPROM of at least 160 bytes, else 0. Never below 0.
int32_t RomScrollMax(int32_t romSize);
int32_t EepScrollMax(int32_t eepSize);
