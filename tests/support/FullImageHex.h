#pragma once

// An INHX8M file that fills program memory with one word: every word is
// programmed, so a run takes the chip's whole wire time.
#include <cstdint>
#include <cstdio>
#include <string>

inline std::string FullImageHex(int words, uint16_t word)
{
    std::string hex;
    for (int address = 0; address < words; address += 8) {
        const int byteAddress = address * 2;
        uint8_t sum = static_cast<uint8_t>(16 + (byteAddress >> 8) + (byteAddress & 0xFF));
        char data[40];
        for (int w = 0; w < 8; ++w) {
            std::snprintf(data + w * 4, 5, "%02X%02X", word & 0xFF, word >> 8);
            sum = static_cast<uint8_t>(sum + (word & 0xFF) + (word >> 8));
        }
        char line[64];
        std::snprintf(line, sizeof line, ":10%04X00%s%02X\n", byteAddress, data,
                      static_cast<uint8_t>(-sum) & 0xFF);
        hex += line;
    }
    return hex + ":00000001FF\n";
}
