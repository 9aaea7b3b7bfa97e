// libFuzzer target: arbitrary bytes through the HEX load, the OSCCAL padding
// and the writer. Besides crashes and undefined behaviour it checks that an
// accepted file puts every program and EEPROM record at its own address, that
// a refused one changes nothing, and that whatever the writer builds loads back.
#include "core/WorkState.h"
#include "chips/OscCal.h"
#include "hexfile/HexReader.h"
#include "hexfile/HexWriter.h"
#include "view/HexText.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

void Require(bool condition)
{
    if (!condition)
        std::abort();
}

int Field(const std::string &line, size_t pos, size_t count)
{
    int value = 0;
    for (size_t i = pos; i < pos + count; ++i)
        value = value * 16 + HexToDec(CheckASCII(line[i]));
    return value;
}

// Every data word of an accepted file sits at its record's address.
void CheckPlacement(const TWorkState &ws)
{
    for (const std::string &line : ws.HexLines) {
        if (line.size() == 11)
            break;
        const int w = Field(line, 3, 4) / 2;
        const int words = Field(line, 1, 2) / 2;
        for (int j = 0; j < words; ++j) {
            const int low = Field(line, 9 + 4 * j, 2);
            const int high = Field(line, 11 + 4 * j, 2);
            if (w <= RomRegionLast)
                Require(ws.RomData.at(size_t(w + j)) == std::to_string(high * 256 + low));
            else if (w >= EepRegionFirst && w <= EepRegionLast && ws.EepSize > 0)
                Require(ws.EepData.at(size_t(w - EepRegionFirst + j)) == std::to_string(low));
        }
    }
}

TWorkState ChipState(uint8_t chip)
{
    static const int32_t RomSizes[] = {512, 1024, 2048, 4096, 8192};
    static const int32_t EepSizes[] = {0, 64, 128, 256};
    TWorkState ws;
    ws.RomSize = RomSizes[chip % 5];
    ws.EepSize = EepSizes[(chip / 5) % 4];
    ws.OscCalFamily = (chip & 0x80) != 0;
    return ws;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const uint8_t chip = data[0];
    const bool insert = (chip & 0x40) != 0;
    const std::vector<std::string> lines =
            SplitTextLines(std::string(reinterpret_cast<const char *>(data + 1), size - 1));

    // The passes must also survive lines that the scan would refuse.
    TWorkState raw = ChipState(chip);
    raw.HexLines = lines;
    try {
        ExtractROMData(raw);
        ExtractEEPROMData(raw);
        ExtractIDdata(raw);
        ExtractFuseData(raw);
    } catch (const THexFileError &) {
    }

    TWorkState ws = ChipState(chip);
    ws.FuseWord = 0x1234;
    ws.IdValue = 0x5678;
    if (insert) {
        ws.RomData.assign(size_t(ws.RomSize / 2), "7");
        if (ws.EepSize > 0)
            ws.EepData.assign(size_t(ws.EepSize), "9");
    }
    const TWorkState before = ws;
    const THexLoadOutcome outcome = LoadHexLines(ws, lines, insert);
    switch (outcome.Status) {
    case THexLoadStatus::Refused:
        Require(ws.RomData == before.RomData && ws.EepData == before.EepData);
        Require(ws.FuseWord == before.FuseWord && ws.IdValue == before.IdValue);
        return 0;
    case THexLoadStatus::PassFailed:
    case THexLoadStatus::Exception:
        Require(ws.RomData.empty() && ws.EepData.empty());
        return 0;
    case THexLoadStatus::Ok:
        break;
    }
    CheckPlacement(ws);
    if (!insert)
        Require(ws.RomData.size() >= size_t(ws.RomSize));
    if (OscCalWordMissing(ws)) {
        Require(StoreOscCal(ws, "7F"));
        Require(ws.RomData.at(size_t(ws.RomSize - 1)) == "13439");
        Require(!OscCalWordMissing(ws));
    }

    std::vector<std::string> built;
    if (!BuildINHX8MLines(ws, MyIntToHex(ws.IdValue, 4), built))
        return 0;
    Require(ScanHexFile(built) == ScanAccepted);
    TWorkState back = ChipState(chip);
    Require(LoadHexLines(back, built, false).Status == THexLoadStatus::Ok);
    // An inserted image may be shorter than the chip; the reload fills it up.
    std::vector<std::string> rom = ws.RomData;
    if (rom.size() < size_t(ws.RomSize))
        rom.resize(size_t(ws.RomSize), BlankWord);
    Require(back.RomData == rom && back.FuseWord == ws.FuseWord);
    Require(back.IdValue == ws.IdValue);
    if (ws.EepSize > 0)
        Require(back.EepData == ws.EepData);
    return 0;
}
