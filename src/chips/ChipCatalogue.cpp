#include "chips/ChipCatalogue.h"

#include "core/WorkState.h"

#include <cctype>

const std::array<TChipInfo, ChipCount> ChipCatalogue = {{
    {"12C671", 1024, 0, 1, '1', true, false, fl12C67x, cpOfLayout},
    {"12C672", 2048, 0, 1, '1', true, false, fl12C67x, cpOfLayout},
    {"12CE672", 1024, 0, 1, '1', true, false, fl12C67x, cpOfLayout},
    {"12CE674", 2048, 0, 1, '1', true, false, fl12C67x, cpOfLayout},
    {"16C554", 512, 0, 2, '1', false, false, fl16C55x, cp16C554},
    {"16C556", 1024, 0, 2, '1', false, false, fl16C55x, cp16C556},
    {"16C558", 2048, 0, 2, '1', false, false, fl16C55x, cp16C558},
    {"16C61", 1024, 0, 2, '1', false, true, fl16C61, cpOfLayout},
    {"16C62", 2048, 0, 3, '1', false, true, fl16C62, cpOfLayout},
    {"16C62A", 2048, 0, 3, '1', false, true, fl16C62A, cpOfLayout},
    {"16C63", 4096, 0, 3, '1', false, true, fl16C62A, cpOfLayout},
    {"16C64", 2048, 0, 5, '1', false, true, fl16C62, cpOfLayout},
    {"16C64A", 2048, 0, 5, '1', false, true, fl16C62A, cpOfLayout},
    {"16C65", 4096, 0, 5, '1', false, true, fl16C62, cpOfLayout},
    {"16C65A", 4096, 0, 5, '1', false, true, fl16C62A, cpOfLayout},
    {"16C66", 8192, 0, 3, '1', false, true, fl16C62A, cpOfLayout},
    {"16C67", 8192, 0, 5, '1', false, true, fl16C62A, cpOfLayout},
    {"16C71", 1024, 0, 2, '1', false, false, fl16C61, cpOfLayout},
    {"16C710", 512, 0, 2, '1', false, false, fl16C71x, cpOfLayout},
    {"16C711", 1024, 0, 2, '1', false, false, fl16C71x, cpOfLayout},
    {"16C72", 2048, 0, 3, '1', false, true, fl16C62A, cpOfLayout},
    {"16C73", 4096, 0, 3, '1', false, true, fl16C62, cpOfLayout},
    {"16C73A", 4096, 0, 3, '1', false, true, fl16C62A, cpOfLayout},
    {"16C74", 4096, 0, 5, '1', false, false, fl16C62, cpOfLayout},
    {"16C74A", 4096, 0, 5, '1', false, true, fl16C62A, cpOfLayout},
    {"16C74B", 4096, 0, 5, '1', false, true, fl16C62A, cpOfLayout},
    {"16C83", 512, 64, 2, '1', false, false, fl16C84, cpOfLayout},
    {"16C84", 1024, 64, 2, '1', false, false, fl16C84, cpOfLayout},
    {"16CR84", 1024, 64, 2, '1', false, false, fl16CR84, cpOfLayout},
    {"16F83", 512, 64, 2, '1', false, false, fl16F84, cpOfLayout},
    {"16F84", 1024, 64, 2, '1', false, false, fl16F84, cpOfLayout},
    {"16F870", 2048, 64, 3, '0', false, false, fl16F87x, cpOfLayout},
    {"16F871", 2048, 64, 5, '0', false, false, fl16F87x, cpOfLayout},
    {"16F872", 2048, 64, 3, '0', false, false, fl16F87x, cpOfLayout},
    {"16F873", 4096, 128, 3, '0', false, false, fl16F87x, cpOfLayout},
    {"16F874", 4096, 128, 5, '0', false, false, fl16F87x, cpOfLayout},
    {"16F876", 8192, 256, 3, '0', false, false, fl16F87x, cpOfLayout},
    {"16F877", 8192, 256, 5, '0', false, false, fl16F87x, cpOfLayout},
}};

int FindChip(const std::string &name)
{
    for (int i = 0; i < ChipCount; ++i) {
        const std::string chip = ChipCatalogue[i].Name;
        if (chip.size() != name.size())
            continue;
        bool same = true;
        for (size_t k = 0; k < chip.size() && same; ++k)
            same = std::toupper(static_cast<unsigned char>(name[k])) == chip[k];
        if (same)
            return i;
    }
    return -1;
}

std::string ChipNameList()
{
    std::string list;
    for (const TChipInfo &chip : ChipCatalogue) {
        if (!list.empty())
            list += ", ";
        list += chip.Name;
    }
    return list;
}

void ApplyChipRow(const TChipInfo &chip, TWorkState &state)
{
    state.FamilyChar = chip.FamilyChar;
    state.RomSize = chip.RomSize;
    state.EepSize = chip.EepSize;
    state.OscCalFamily = chip.OscCalFamily;
    state.CodeProtectWarn = chip.CodeProtectWarn;
}
