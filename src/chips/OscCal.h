#pragma once

#include <cstdint>
#include <string>

struct TWorkState;

// The 12C67x calibration value lives in the last program word as RETLW
// (0x3400 + value); the OSCAL dialog edits its low byte.
inline constexpr int32_t RetlwBase = 0x3400;
inline constexpr char RetlwHighText[] = "34";
inline constexpr int OscCalMaxLength = 2;

// A program word that holds a calibration value: RETLW with any constant.
constexpr bool IsOscCalWord(int32_t word)
{
    return (word & 0x3F00) == RetlwBase;
}

// The two digits Edit1 shows for a word: its low byte.
std::string OscCalText(int32_t word);

// Edit1's text for the image's last word (index RomSize - 1; a word missing
// from a short image counts as blank). False when there is nothing to edit:
// an empty image or no chip; the "Change" button then does nothing.
bool OscCalEditText(const TWorkState &state, std::string &text);

struct TOscCalKey
{
    int Key;   // the key to type, upper-cased; 0 = discarded
    bool Beep; // the caller sounds the default beep
};

// Edit1 key filter: hex digits in either case pass upper-cased; every other
// key, Backspace and Enter included, is discarded with a beep.
TOscCalKey FilterOscCalKey(int key);

// The word for Edit1's text: empty counts as "00", one digit d as "0d";
// RETLW base + 16 d1 + d2 with the digits read by HexToDec.
int32_t OscCalWord(const std::string &text);

// OK: stores OscCalWord(text) as decimal text at index RomSize - 1, first
// filling a short image with blank words up to RomSize. False (nothing
// stored) without a chip.
bool StoreOscCal(TWorkState &state, const std::string &text);
