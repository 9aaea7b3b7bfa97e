#pragma once

#include <array>
#include <cstdint>
#include <string>

struct TWorkState;

// Which fuse panel a chip gets and how its configuration word is edited.
enum TFuseLayout {
    fl12C67x,
    fl16C55x,
    fl16C61,
    fl16C84,
    fl16C62,
    fl16C62A,
    fl16C71x,
    fl16CR84,
    fl16F84,
    fl16F87x
};
inline constexpr int FuseLayoutCount = 10;

// The code-protect list of a chip: its layout's, or, on the 16C55x chips,
// which share a layout but not the list, the chip's own.
enum TCodeProtectList { cpOfLayout, cp16C554, cp16C556, cp16C558 };

// One row of the chip catalogue.
struct TChipInfo
{
    const char *Name;      // the ChipSelect item
    int32_t RomSize;       // program words
    int32_t EepSize;       // EEPROM bytes, 0 = none
    uint32_t SocketType;   // 1 = 8-pin, 2 = 18-pin, 3 = 28-pin narrow, 5 = 40-pin
    char FamilyChar;       // sent to the board after every Start
    bool OscCalFamily;     // calibration RETLW in the last program word
    bool CodeProtectWarn;  // warn before programming with code protection ON
    TFuseLayout FuseLayout;
    TCodeProtectList CodeProtectList;
};

inline constexpr int ChipCount = 38;

// The supported chips in ChipSelect order: the list position is the index
// that every chip-dependent rule keys on.
extern const std::array<TChipInfo, ChipCount> ChipCatalogue;

// True for a valid ChipSelect position.
inline bool ValidChipIndex(int index) { return index >= 0 && index < ChipCount; }

// Catalogue index of a chip name (letters in either case), -1 when unknown.
int FindChip(const std::string &name);

// The ChipSelect items, comma separated, for messages that list the choices.
std::string ChipNameList();

// The work-state part of applying a row: FamilyChar, RomSize, EepSize and the
// two flags. SocketType is recorded when the chip is chosen, and the
// configuration word is reset once the panel is laid out.
void ApplyChipRow(const TChipInfo &chip, TWorkState &state);
