#include "board/VirtualBoard.h"

#include "core/WorkState.h"
#include "hexfile/HexReader.h"

#include <cstdlib>

namespace {

// The image lists hold decimal text; anything unreadable counts as erased.
long DecimalOr(const std::string &text, long fallback)
{
    char *end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 10);
    return (text.empty() || *end != '\0') ? fallback : value;
}

} // namespace

std::string LoadBoardImage(TBoardChip &chip, const std::string &path)
{
    TWorkState ws;
    ws.RomSize = TBoardChip::RomWords;
    ws.EepSize = TBoardChip::EepBytes;
    ws.SetInitialFuseValue();
    const THexLoadOutcome outcome = LoadHexFile(ws, path, false);
    if (outcome.Status != THexLoadStatus::Ok)
        return LoadFailureText(outcome, path);

    TBoardChip loaded;
    for (size_t i = 0; i < ws.RomData.size() && i < loaded.Rom.size(); ++i) {
        loaded.Rom[i] = static_cast<uint16_t>(DecimalOr(ws.RomData[i], TBoardChip::ErasedWord)
                                              & TBoardChip::WordMask);
    }
    for (size_t i = 0; i < ws.EepData.size() && i < loaded.Eep.size(); ++i)
        loaded.Eep[i] = static_cast<uint8_t>(DecimalOr(ws.EepData[i], TBoardChip::ErasedByte));
    loaded.Id = static_cast<uint16_t>(ws.IdValue);
    loaded.Config = static_cast<uint16_t>(ws.FuseWord & TBoardChip::WordMask);
    chip = loaded;
    return {};
}
