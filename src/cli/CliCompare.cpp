#include "cli/CliCompare.h"

#include "chips/OscCal.h"
#include "hexfile/HexReader.h"
#include "view/HexText.h"

#include <cstdio>

namespace {

constexpr int32_t WordMask = 0x3FFF;
constexpr int32_t ByteMask = 0xFF;

void CompareList(std::vector<TDifference> &out, const char *region,
                 const std::vector<std::string> &chip, const std::vector<std::string> &image,
                 int32_t size, int32_t mask)
{
    for (int32_t addr = 0; addr < size; ++addr) {
        const int32_t read = ImageValue(chip, addr, mask);
        const int32_t wanted = ImageCell(image, addr, mask);
        if (read != wanted)
            out.push_back({region, addr, read, wanted});
    }
}

} // namespace

std::vector<TDifference> CompareImages(const TImageValues &chip, const TImageValues &image,
                                       int32_t romSize, int32_t eepSize)
{
    std::vector<TDifference> out;
    CompareList(out, "ROM", chip.Rom, image.Rom, romSize, WordMask);
    CompareList(out, "EEPROM", chip.Eep, image.Eep, eepSize, ByteMask);
    if (chip.Id != image.Id)
        out.push_back({"ID", IdRegionFirst, chip.Id, image.Id});
    if (chip.Fuse != image.Fuse)
        out.push_back({"Fuse", FuseAddress, chip.Fuse, image.Fuse});
    return out;
}

std::vector<std::string> DifferenceLines(const std::vector<TDifference> &differences,
                                         size_t limit)
{
    std::vector<std::string> lines = {"Region  Address  Chip  File"};
    for (size_t i = 0; i < differences.size() && i < limit; ++i) {
        const TDifference &d = differences[i];
        char line[64];
        std::snprintf(line, sizeof line, "%-7s %-7s  %s  %s", d.Region,
                      MyIntToHex(d.Address, 4).c_str(), MyIntToHex(d.Chip, 4).c_str(),
                      MyIntToHex(d.Image, 4).c_str());
        lines.emplace_back(line);
    }
    if (differences.size() > limit)
        lines.push_back("... and " + std::to_string(differences.size() - limit) + " more");
    return lines;
}

TOscCalChoice ChooseOscCal(int32_t chipWord, bool fileHasValue)
{
    if (IsOscCalWord(chipWord))
        return TOscCalChoice::KeepChip;
    return fileHasValue ? TOscCalChoice::UseFile : TOscCalChoice::Refuse;
}
