#include "chips/FuseRules.h"

namespace {

constexpr int32_t Keep = -1; // AND mask that keeps every bit

constexpr TOscillatorRule Osc12C67x = {
    8, {"EXTCK", "EXTIO", "INTCK", "INTIO", "Don't use", "HS", "XT", "LP"}, 0x0007, 0xFFF8};
constexpr TOscillatorRule Osc16C = {
    4, {"RC", "HS", "XT", "LP"}, 0x0003, 0xFFFC};

// Four-entry lists: AND the clear mask, then OR the pattern of the position
// repeated in every code-protect pair of the chip.
constexpr std::array<int, 4> Descending = {3, 2, 1, 0};

constexpr TCodeProtectRule Cp12C67x = {
    4, {"OFF", "1/2", "3/4", "ON"},
    {{{0x009F, 0x3F60}, {0x009F, 0x2A40}, {0x009F, 0x1520}, {0x009F, 0}}},
    5, 3, Descending};
constexpr TCodeProtectRule Cp16C554 = {
    4, {"OFF", "Don't use", "Don't use", "ON"},
    {{{0x00CF, 0x3F30}, {0x00CF, 0x2A20}, {0x00CF, 0x1510}, {0x00CF, 0}}},
    4, 3, Descending};
constexpr TCodeProtectRule Cp16C556 = {
    4, {"OFF", "Don't use", "1/2", "ON"},
    {{{0x00CF, 0x3F30}, {0x00CF, 0x2A20}, {0x00CF, 0x1510}, {0x00CF, 0}}},
    4, 3, Descending};
// The 16C558 lists 3/4 (pattern 01) before 1/2 (pattern 10).
constexpr TCodeProtectRule Cp16C558 = {
    4, {"OFF", "3/4", "1/2", "ON"},
    {{{0x00CF, 0x3F30}, {0x00CF, 0x1510}, {0x00CF, 0x2A20}, {0x00CF, 0}}},
    4, 3, {3, 1, 2, 0}};
constexpr TCodeProtectRule Cp16C62 = {
    4, {"OFF", "1/2", "3/4", "ON"},
    {{{0x3FCF, 0x0030}, {0x3FCF, 0x0020}, {0x3FCF, 0x0010}, {0x3FCF, 0}}},
    4, 3, Descending};
constexpr TCodeProtectRule Cp16C62A = {
    4, {"OFF", "1/2", "3/4", "ON"},
    {{{0x00CF, 0x3FB0}, {0x00CF, 0x2AA0}, {0x00CF, 0x1590}, {0x00CF, 0}}},
    4, 3, Descending};
constexpr TCodeProtectRule Cp16F87x = {
    4, {"OFF", "1/2", "3/4", "ON"},
    {{{0x0FCF, 0x3030}, {0x0FCF, 0x2020}, {0x0FCF, 0x1010}, {0x0FCF, 0}}},
    4, 3, Descending};

// Two-entry lists: the OFF and ON operations; bit 4 tells which is shown.
constexpr TCodeProtectRule Cp16C61 = {
    2, {"OFF", "ON"}, {{{Keep, 0x0010}, {0x3FEF, 0}}}, 4, 1, {1, 0}};
constexpr TCodeProtectRule Cp16C84 = {
    2, {"OFF", "ON"}, {{{Keep, 0x3FF0}, {0x000F, 0}}}, 4, 1, {1, 0}};
constexpr TCodeProtectRule Cp16C71x = {
    2, {"OFF", "ON"}, {{{Keep, 0x3FB0}, {0x004F, 0}}}, 4, 1, {1, 0}};
constexpr TCodeProtectRule Cp16CR84 = {
    2, {"OFF", "ON"}, {{{Keep, 0x3F70}, {0x008F, 0}}}, 4, 1, {1, 0}};

constexpr TFuseBoxRule None = {nullptr, 0, false, false};
constexpr TFuseBoxRule Wdt = {"WDT", 0x0004, true, true};
constexpr TFuseBoxRule PwrteHigh = {"PWRTE", 0x0008, true, true};
constexpr TFuseBoxRule PwrteLow = {"PWRTE", 0x0008, false, false};
constexpr TFuseBoxRule Boden = {"BODEN", 0x0040, true, true};

const std::array<TFuseLayoutRules, FuseLayoutCount> Layouts = {{
    {fl12C67x,
     {{{"WDT", 0x0008, true, true}, {"MCLRE", 0x0080, true, true},
       {"PWRTE", 0x0010, false, false}, {"OSCCAL", 0, false, false}, None, None, None}},
     true, &Osc12C67x, &Cp12C67x},
    {fl16C55x, {{Wdt, PwrteLow, None, None, None, None, None}}, false, &Osc16C, nullptr},
    {fl16C61, {{Wdt, PwrteHigh, None, None, None, None, None}}, false, &Osc16C, &Cp16C61},
    {fl16C84, {{Wdt, PwrteHigh, None, None, None, None, None}}, false, &Osc16C, &Cp16C84},
    {fl16C62, {{Wdt, PwrteHigh, None, None, None, None, None}}, false, &Osc16C, &Cp16C62},
    {fl16C62A, {{Wdt, PwrteLow, Boden, None, None, None, None}}, false, &Osc16C, &Cp16C62A},
    {fl16C71x, {{Wdt, PwrteLow, Boden, None, None, None, None}}, false, &Osc16C, &Cp16C71x},
    {fl16CR84,
     {{Wdt, PwrteLow, {"DP", 0x0080, false, false}, None, None, None, None}},
     false, &Osc16C, &Cp16CR84},
    {fl16F84, {{Wdt, PwrteLow, None, None, None, None, None}}, false, &Osc16C, &Cp16C84},
    {fl16F87x,
     {{Wdt, PwrteLow, Boden, {"LVP", 0x0080, true, true}, {"CPD", 0x0100, false, false},
       {"WRT", 0x0200, true, true}, {"DEBUG", 0x0800, false, false}}},
     false, &Osc16C, &Cp16F87x},
}};

// The chips' own code-protect lists, by TCodeProtectList.
constexpr const TCodeProtectRule *ChipCodeProtect[] = {nullptr, &Cp16C554, &Cp16C556,
                                                        &Cp16C558};

} // namespace

const TFuseLayoutRules &LayoutRules(TFuseLayout layout)
{
    return Layouts[static_cast<size_t>(layout)];
}

const TCodeProtectRule *CodeProtectRuleFor(int chipIndex)
{
    if (!ValidChipIndex(chipIndex))
        return nullptr;
    const TChipInfo &chip = ChipCatalogue[static_cast<size_t>(chipIndex)];
    if (const TCodeProtectRule *own = ChipCodeProtect[chip.CodeProtectList])
        return own;
    return LayoutRules(chip.FuseLayout).CodeProtect;
}

int32_t BoxClick(const TFuseBoxRule &box, bool checked, int32_t word)
{
    if (!box.Caption || box.Bit == 0)
        return word;
    // The AND masks keep bits 0..13 only, as the word is a 14-bit value.
    if (checked == box.SenseSet)
        return word | box.Bit;
    return word & (0x3FFF & ~box.Bit);
}

bool BoxShownChecked(const TFuseBoxRule &box, int32_t word)
{
    return ((word & box.Bit) != 0) == box.SenseSet;
}

int32_t OscillatorWrite(const TOscillatorRule &rule, int position, int32_t word)
{
    if (position < 0 || position >= rule.Count)
        return word;
    return (word & rule.AndMask) | (rule.FieldMask - position);
}

int OscillatorShown(const TOscillatorRule &rule, int32_t word)
{
    return rule.FieldMask - (word & rule.FieldMask);
}

int32_t CodeProtectWrite(const TCodeProtectRule &rule, int position, int32_t word)
{
    if (position < 0 || position >= rule.Count)
        return word;
    return rule.Ops[static_cast<size_t>(position)].Apply(word);
}

int CodeProtectShown(const TCodeProtectRule &rule, int32_t word)
{
    return rule.ShownPos[static_cast<size_t>((word >> rule.Shift) & rule.PatternMask)];
}

int FilterIdKey(int key, int currentLength, int selectedLength)
{
    if (key == 8 || key == 13)
        return key;
    if (key >= 'a' && key <= 'z')
        key = key - 'a' + 'A';
    const bool hexDigit = (key >= '0' && key <= '9') || (key >= 'A' && key <= 'F');
    if (!hexDigit || currentLength - selectedLength >= IdMaxLength)
        return 0;
    return key;
}
