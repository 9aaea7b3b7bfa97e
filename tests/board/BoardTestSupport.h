#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <unistd.h>

// A file name in the temporary folder of this process alone: the plain and
// the sanitizer suites run at once, and another user may have left a file of
// the same name that this one cannot replace.
inline std::string ScratchPath(const std::string &name)
{
    const char *dir = std::getenv("TMPDIR");
    return std::string(dir && *dir ? dir : "/tmp") + "/varnel-" + std::to_string(::getpid())
            + "-" + name;
}

using TBytes = std::vector<uint8_t>;

inline TBytes Text(const std::string &s)
{
    return TBytes(s.begin(), s.end());
}

inline TBytes Cat(TBytes a, const TBytes &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

inline TBytes Word(uint16_t w)
{
    return {static_cast<uint8_t>(w >> 8), static_cast<uint8_t>(w & 0xFF)};
}

inline TBytes Words(const std::vector<uint16_t> &words)
{
    TBytes out;
    for (uint16_t w : words)
        out = Cat(out, Word(w));
    return out;
}

// One INHX8M record of type 00 at a byte address.
inline std::string HexRecord(int byteAddr, const TBytes &data)
{
    char buf[16];
    int sum = static_cast<int>(data.size()) + (byteAddr >> 8) + (byteAddr & 0xFF);
    std::snprintf(buf, sizeof buf, ":%02X%04X00", static_cast<unsigned>(data.size()),
                  static_cast<unsigned>(byteAddr));
    std::string line = buf;
    for (uint8_t b : data) {
        std::snprintf(buf, sizeof buf, "%02X", b);
        line += buf;
        sum += b;
    }
    std::snprintf(buf, sizeof buf, "%02X", (-sum) & 0xFF);
    return line + buf;
}
