#pragma once

#include <cstdint>
#include <string>
#include <vector>

// verify --all and --keep-osccal: what a chip read in full says against the
// image. No Qt.

// One side of the comparison, as the device image holds it.
struct TImageValues
{
    std::vector<std::string> Rom; // decimal text per word; missing words are blank
    std::vector<std::string> Eep;
    int32_t Id = 0xFFFF;
    int32_t Fuse = 0x3FFF;
};

struct TDifference
{
    const char *Region; // "ROM", "EEPROM", "ID", "Fuse"
    int32_t Address;    // word or byte index; 2000 for the ID, 2007 for the fuses
    int32_t Chip;
    int32_t Image;
};

// Every difference within romSize words and eepSize bytes, then the ID and
// the configuration word, compared as the Verify button compares: the image's
// words taken as 14 bits and its bytes as 8.
std::vector<TDifference> CompareImages(const TImageValues &chip, const TImageValues &image,
                                       int32_t romSize, int32_t eepSize);

// A heading and one line per difference, at most limit of them, then a line
// with how many more there are.
std::vector<std::string> DifferenceLines(const std::vector<TDifference> &differences,
                                         size_t limit);

enum class TOscCalChoice {
    KeepChip, // the chip holds a calibration word: program that one
    UseFile,  // the chip holds none: program the file's
    Refuse    // neither holds one
};

// chipWord: the chip's last program word as read.
TOscCalChoice ChooseOscCal(int32_t chipWord, bool fileHasValue);
