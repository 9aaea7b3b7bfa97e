#include "cli/CliSerial.h"

#include "hexfile/FileIo.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

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
    std::FILE *file = std::fopen(path.c_str(), "r");
    if (!file) {
        if (errno == ENOENT) {
            next = start;
            return true;
        }
        error = SystemReason(path);
        return false;
    }
    char line[64] = {};
    const bool got = std::fgets(line, sizeof line, file) != nullptr;
    std::fclose(file);
    std::string text = got ? line : "";
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
    // Replaced whole or not at all: a run cut short never loses the number.
    if (SaveFileText(path, text))
        return true;
    error = SystemReason(path);
    return false;
}
