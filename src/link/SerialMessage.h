#pragma once

#include <cstdint>
#include <string>

// Message assembly of the rxMessage mode: a message runs from the start byte
// through the end byte and a trailer of appendCount bytes, both ends included.
struct TMessageAssembly
{
    enum : int { Idle = 0, Collecting = 1, Appending = 2, Complete = 3 };

    int MessageState = Idle;
    uint16_t AppendLeft = 0;
    std::string MessageText;

    // Takes one received byte; true when it completed MessageText.
    bool Feed(uint8_t b, uint8_t startChar, uint8_t endChar, uint16_t appendCount);
};
