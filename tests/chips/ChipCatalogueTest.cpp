#include "core/WorkState.h"
#include "chips/ChipCatalogue.h"
#include "chips/FusePanel.h"
#include "chips/FuseRules.h"

#include <gtest/gtest.h>

#include <set>

TEST(ChipCatalogue, RowsAreConsistentWithTheirFamily)
{
    std::set<std::string> names;
    for (int i = 0; i < ChipCount; ++i) {
        const TChipInfo &chip = ChipCatalogue[i];
        SCOPED_TRACE(chip.Name);
        EXPECT_TRUE(names.insert(chip.Name).second);
        EXPECT_EQ(FindChip(chip.Name), i);
        const std::set<int32_t> romSizes = {512, 1024, 2048, 4096, 8192};
        EXPECT_TRUE(romSizes.count(chip.RomSize));
        EXPECT_TRUE(std::set<int32_t>({0, 64, 128, 256}).count(chip.EepSize));
        EXPECT_TRUE(std::set<uint32_t>({1, 2, 3, 5}).count(chip.SocketType));
        // The family flags follow from the layout: only the 16F87x talk to
        // the board as family '0', only the 12C67x keep a calibration word.
        EXPECT_EQ(chip.FamilyChar == '0', chip.FuseLayout == fl16F87x);
        EXPECT_TRUE(chip.FamilyChar == '0' || chip.FamilyChar == '1');
        EXPECT_EQ(chip.OscCalFamily, chip.FuseLayout == fl12C67x);
        EXPECT_EQ(chip.SocketType == 1, chip.FuseLayout == fl12C67x);
        // Warnings go only to the OTP parts with a code-protect list.
        const bool eraseable = chip.EepSize > 0 || chip.FuseLayout == fl12C67x
                || chip.FuseLayout == fl16C55x || chip.FuseLayout == fl16C71x;
        if (eraseable) {
            EXPECT_FALSE(chip.CodeProtectWarn);
        }
        // The code-protect list comes from exactly one place: the row's own
        // column where its layout has none (the 16C55x), else the layout.
        const bool layoutHasList = LayoutRules(chip.FuseLayout).CodeProtect != nullptr;
        EXPECT_NE(chip.CodeProtectList != cpOfLayout, layoutHasList);
        EXPECT_NE(CodeProtectRuleFor(i), nullptr);
    }
    EXPECT_EQ(CodeProtectRuleFor(-1), nullptr);
    EXPECT_EQ(CodeProtectRuleFor(ChipCount), nullptr);
}

TEST(ChipCatalogue, LookupByName)
{
    EXPECT_EQ(FindChip("16f877"), 37);
    EXPECT_EQ(FindChip("12C671"), 0);
    EXPECT_EQ(FindChip("16C62"), 8);
    EXPECT_EQ(FindChip("16C62a"), 9);
    EXPECT_EQ(FindChip("16F85"), -1);
    EXPECT_EQ(FindChip(""), -1);
    EXPECT_NE(ChipNameList().find("16CR84, 16F83"), std::string::npos);
}

TEST(ChipCatalogue, WarningsOfTheSixteenC7x)
{
    EXPECT_FALSE(ChipCatalogue[FindChip("16C74")].CodeProtectWarn);
    EXPECT_TRUE(ChipCatalogue[FindChip("16C73")].CodeProtectWarn);
    EXPECT_TRUE(ChipCatalogue[FindChip("16C74A")].CodeProtectWarn);
}

TEST(ChipCatalogue, SelectionFillsTheWorkState)
{
    TWorkState state;
    TFusePanel panel;
    state.FuseWord = 0x1234;
    state.IdValue = 0x55;
    state.OscCalFamily = true;
    ASSERT_TRUE(ApplyChipSelection(FindChip("16F877"), state, panel));
    EXPECT_EQ(state.RomSize, 8192);
    EXPECT_EQ(state.EepSize, 256);
    EXPECT_EQ(state.FamilyChar, '0');
    EXPECT_EQ(state.SocketType, 5);
    EXPECT_FALSE(state.OscCalFamily);
    EXPECT_EQ(state.FuseWord, 0x3FFF);
    EXPECT_EQ(state.IdValue, 0xFFFF);

    ASSERT_TRUE(ApplyChipSelection(FindChip("12CE674"), state, panel));
    EXPECT_EQ(state.FamilyChar, '1');
    EXPECT_TRUE(state.OscCalFamily);

    EXPECT_FALSE(ApplyChipSelection(ChipCount, state, panel));
    EXPECT_FALSE(ApplyChipSelection(-1, state, panel));
    EXPECT_EQ(state.RomSize, 2048);
}
