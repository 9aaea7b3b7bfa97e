#include "view/HexText.h"

#include "core/WorkState.h"

int HexToDec(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'E')
        return c - 'A' + 10;
    return 15;
}

char ToHex(uint32_t n)
{
    static const char Digits[] = "0123456789ABCDEF";
    return Digits[n < 15 ? n : 15];
}

std::string MyIntToHex(int32_t value, int32_t digits)
{
    const int32_t lo = value % 256;
    const int32_t hi = value / 256;
    std::string text;
    if (digits == 4) {
        text += ToHex(static_cast<uint32_t>(hi / 16));
        text += ToHex(static_cast<uint32_t>(hi % 16));
    }
    text += ToHex(static_cast<uint32_t>(lo / 16));
    text += ToHex(static_cast<uint32_t>(lo % 16));
    return text;
}

int32_t ImageValue(const std::vector<std::string> &list, int32_t addr, int32_t blank)
{
    int32_t value = blank;
    if (addr >= 0 && static_cast<size_t>(addr) < list.size()
        && DecimalValue(list[static_cast<size_t>(addr)], value))
        return value;
    return blank;
}

int32_t ImageCell(const std::vector<std::string> &list, int32_t addr, int32_t mask)
{
    return ImageValue(list, addr, mask) & mask;
}

bool DecimalValue(const std::string &text, int32_t &value)
{
    size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
        negative = text[i] == '-';
        ++i;
    }
    if (i == text.size())
        return false;
    int64_t v = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c < '0' || c > '9')
            return false;
        v = v * 10 + (c - '0');
        if (v > int64_t(INT32_MAX) + 1)
            return false;
    }
    if (negative)
        v = -v;
    if (v > INT32_MAX)
        return false;
    value = static_cast<int32_t>(v);
    return true;
}

std::string PadIdText(const std::string &text)
{
    if (text.size() >= 4)
        return text.substr(0, 4);
    return std::string(4 - text.size(), 'F') + text;
}

int32_t IdTextValue(const std::string &text)
{
    int32_t value = 0;
    for (char c : PadIdText(text))
        value = value * 16 + HexToDec(c);
    return value;
}

int32_t LastNonBlankWord(const std::vector<std::string> &romData)
{
    int32_t last = static_cast<int32_t>(romData.size()) - 1;
    while (last >= 0 && romData[static_cast<size_t>(last)] == BlankWord)
        --last;
    return last;
}

int32_t ProgramEnd(const std::vector<std::string> &romData, int32_t romSize)
{
    const int32_t last = LastNonBlankWord(romData);
    if (last < 0)
        return 0;
    constexpr int32_t Round = 8; // ProgEnd is always a whole number of 8-word rows
    const int32_t end = (last + Round) / Round * Round;
    return end < romSize ? end : romSize;
}

namespace {

// Printable codes 33..126 stand for themselves; everything else, space
// included, shows as a dot.
char PadChar(int32_t value)
{
    const int code = value & 0xFF;
    return code >= 33 && code <= 126 ? static_cast<char>(code) : '.';
}

} // namespace

std::string PadLine(const std::vector<std::string> &list, int32_t first, TPadView view)
{
    std::string line = MyIntToHex(first, 4) + ": ";
    std::string chars;
    for (int32_t a = first; a < first + PadLineEntries; ++a) {
        int32_t value = 0;
        const bool held = a >= 0 && static_cast<size_t>(a) < list.size()
                && DecimalValue(list[static_cast<size_t>(a)], value);
        if (view == pvProgram)
            line += held ? MyIntToHex(value, 4) + " " : "---- ";
        else
            line += held ? "  " + MyIntToHex(value, 2) + " " : "  -- ";
        chars += held ? PadChar(value) : '.';
    }
    return line + "    " + chars + " ";
}

std::vector<std::string> PadPage(const std::vector<std::string> &list, int32_t position,
                                 TPadView view)
{
    std::vector<std::string> page;
    page.reserve(PadLineCount);
    for (int n = 0; n < PadLineCount; ++n)
        page.push_back(PadLine(list, PadLineEntries * (position + n), view));
    return page;
}

int32_t RomScrollMax(int32_t romSize)
{
    const int32_t max = romSize / PadLineEntries - PadLineCount;
    return max > 0 ? max : 0;
}

int32_t EepScrollMax(int32_t eepSize)
{
    // Below 160 bytes the whole EEPROM fits on one page of 20 lines.
    return eepSize >= 160 ? RomScrollMax(eepSize) : 0;
}
