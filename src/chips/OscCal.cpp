#include "chips/OscCal.h"

#include "core/WorkState.h"
#include "view/HexText.h"

#include <cctype>

std::string OscCalText(int32_t word)
{
    return MyIntToHex(word, 4).substr(2);
}

bool OscCalEditText(const TWorkState &state, std::string &text)
{
    if (state.RomData.empty() || state.RomSize <= 0)
        return false;
    const size_t last = static_cast<size_t>(state.RomSize) - 1;
    int32_t word = 0x3FFF;
    if (last < state.RomData.size() && !DecimalValue(state.RomData[last], word))
        word = 0x3FFF;
    text = OscCalText(word);
    return true;
}

TOscCalKey FilterOscCalKey(int key)
{
    const int upper = key >= 'a' && key <= 'z' ? key - 'a' + 'A' : key;
    if ((upper >= '0' && upper <= '9') || (upper >= 'A' && upper <= 'F'))
        return {upper, false};
    return {0, true};
}

int32_t OscCalWord(const std::string &text)
{
    std::string digits = text.substr(0, OscCalMaxLength);
    for (char &c : digits)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (digits.empty())
        digits = "00";
    else if (digits.size() == 1)
        digits = "0" + digits;
    return RetlwBase + 16 * HexToDec(digits[0]) + HexToDec(digits[1]);
}

bool StoreOscCal(TWorkState &state, const std::string &text)
{
    if (state.RomSize <= 0)
        return false;
    const size_t size = static_cast<size_t>(state.RomSize);
    if (state.RomData.size() < size)
        state.RomData.resize(size, BlankWord);
    state.RomData[size - 1] = std::to_string(OscCalWord(text));
    return true;
}
