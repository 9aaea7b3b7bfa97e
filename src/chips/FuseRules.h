#pragma once

#include "chips/ChipCatalogue.h"

#include <array>
#include <cstdint>

// Configuration-word rules of every fuse layout, as data. Each control of
// the fuse panel has one row; clicking it writes bits of the word, showing a
// word reads the same bits back.

inline constexpr int FuseBoxCount = 7; // CB1..CB7

struct TFuseBoxRule
{
    const char *Caption; // nullptr: the layout does not show the box
    int32_t Bit;         // 0: shown, but bound to no bit (the 12C67x OSCCAL box)
    bool SenseSet;       // checked exactly when the bit is 1 (else when it is 0)
    bool Default;        // check state right after the chip is applied
};

// word := (word AND And) OR Or
struct TMaskOp
{
    int32_t And;
    int32_t Or;
    int32_t Apply(int32_t word) const { return (word & And) | Or; }
};

// Position p writes the field value FieldMask - p after AND AndMask and shows
// at FieldMask - field.
struct TOscillatorRule
{
    int Count;
    std::array<const char *, 8> Items;
    int32_t FieldMask;
    int32_t AndMask;
};

// Position p applies Ops[p]. The shown position is ShownPos of the pattern
// (word >> Shift) AND PatternMask: the low code-protect pair, or bit 4 of the
// two-entry lists.
struct TCodeProtectRule
{
    int Count;
    std::array<const char *, 4> Items;
    std::array<TMaskOp, 4> Ops;
    int Shift;
    int32_t PatternMask;
    std::array<int, 4> ShownPos;
};

struct TFuseLayoutRules
{
    TFuseLayout Layout;
    std::array<TFuseBoxRule, FuseBoxCount> Boxes;
    bool OscChButt; // the OSCCAL "Change" button sits in the panel
    const TOscillatorRule *Oscillator;
    const TCodeProtectRule *CodeProtect; // nullptr: each chip names its own list
};

const TFuseLayoutRules &LayoutRules(TFuseLayout layout);

// The code-protect list of a catalogue row: the row's own list where it names
// one, else its layout's; nullptr for an invalid index or a row with neither.
const TCodeProtectRule *CodeProtectRuleFor(int chipIndex);

// The word after the box becomes checked or unchecked; a box bound to no bit
// (or not shown) leaves it alone.
int32_t BoxClick(const TFuseBoxRule &box, bool checked, int32_t word);
// The check state that word gives a box bound to a bit.
bool BoxShownChecked(const TFuseBoxRule &box, int32_t word);

// List rules; a position outside the list leaves the word alone.
int32_t OscillatorWrite(const TOscillatorRule &rule, int position, int32_t word);
int OscillatorShown(const TOscillatorRule &rule, int32_t word);
int32_t CodeProtectWrite(const TCodeProtectRule &rule, int position, int32_t word);
int CodeProtectShown(const TCodeProtectRule &rule, int32_t word);

// IDedit key filter: the key to type (upper-cased) or 0 to discard it.
// Backspace and Enter pass; hex digits pass while the box, less the selected
// characters that typing replaces, holds fewer than 4.
int FilterIdKey(int key, int currentLength, int selectedLength = 0);
inline constexpr int IdMaxLength = 4;
