#pragma once

#include "support/TestFiles.h"

#include "core/WorkState.h"
#include "hexfile/HexWriter.h"
#include "view/HexText.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

// One data record at a byte address; the checksum comes from CheckSum, which
// has its own tests against literal records.
inline std::string Rec(int byteAddr, const std::vector<int> &bytes, int type = 0)
{
    std::string body = MyIntToHex(int(bytes.size()), 2) + MyIntToHex(byteAddr, 4)
            + MyIntToHex(type, 2);
    for (int b : bytes)
        body += MyIntToHex(b, 2);
    return ":" + body + CheckSum(body);
}

inline TWorkState Chip(int romSize, int eepSize, bool oscCal = false)
{
    TWorkState ws;
    ws.RomSize = romSize;
    ws.EepSize = eepSize;
    ws.OscCalFamily = oscCal;
    ws.SetInitialFuseValue();
    return ws;
}

inline TWorkState Chip16F84()
{
    return Chip(1024, 64);
}

// A fresh folder under the system's temporary folder, removed afterwards.
class TTempDir
{
public:
    TTempDir()
    {
        std::random_device rd;
        Path = std::filesystem::temp_directory_path()
                / ("varnel-hex-" + std::to_string(rd()) + std::to_string(rd()));
        std::filesystem::create_directories(Path);
    }
    ~TTempDir()
    {
        std::error_code ec;
        std::filesystem::remove_all(Path, ec);
    }
    std::string File(const std::string &name) const { return (Path / name).string(); }
    size_t EntryCount() const
    {
        size_t n = 0;
        for ([[maybe_unused]] const auto &entry : std::filesystem::directory_iterator(Path))
            ++n;
        return n;
    }

    std::filesystem::path Path;
};

