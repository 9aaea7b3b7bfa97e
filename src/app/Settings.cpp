#include "app/Settings.h"

#include "chips/ChipCatalogue.h"
#include "hexfile/FileIo.h"
#include "hexfile/HexReader.h"

#include <fstream>
#include <sstream>

int PortFromSettingsLines(const std::vector<std::string> &lines)
{
    if (lines.size() != 1)
        return -1;
    const std::string &s = lines.front();
    size_t i = 0;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
        negative = s[i] == '-';
        ++i;
    }
    if (i == s.size() || s.size() - i > 9)
        return -1;
    long value = 0;
    for (; i < s.size(); ++i) {
        if (s[i] < '0' || s[i] > '9')
            return -1;
        value = value * 10 + (s[i] - '0');
    }
    if (negative)
        value = -value;
    // Only COM1..COM9 exist; anything else is as unusable as text.
    return value >= 1 && value <= 9 ? int(value) : -1;
}

int ReadPortSetting(const std::string &path, std::vector<std::string> &lines)
{
    lines.clear();
    std::ifstream in(path, std::ios::binary);
    if (in) {
        std::ostringstream text;
        text << in.rdbuf();
        lines = SplitTextLines(text.str());
    }
    int port = in ? PortFromSettingsLines(lines) : -1;
    if (port == -1) {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << "1\r\n";
        lines = {"1"};
        port = 1;
    }
    return port;
}

int ReadRememberedChip(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return -1;
    std::ostringstream text;
    text << in.rdbuf();
    const std::vector<std::string> lines = SplitTextLines(text.str());
    return lines.size() == 1 ? FindChip(lines.front()) : -1;
}

bool RememberChip(const std::string &path, int chipIndex)
{
    if (!ValidChipIndex(chipIndex))
        return false;
    return SaveFileText(path, std::string(ChipCatalogue[size_t(chipIndex)].Name) + "\r\n");
}
