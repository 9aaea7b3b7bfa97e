#include "chips/FusePanel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

TFusePanel Applied(int chip)
{
    TFusePanel panel;
    EXPECT_TRUE(panel.Apply(chip));
    return panel;
}

TFusePanel Applied(const char *name)
{
    return Applied(FindChip(name));
}

const TFuseLayoutRules &RulesOf(int chip)
{
    return LayoutRules(ChipCatalogue[chip].FuseLayout);
}

bool BoundToBit(const TFuseLayoutRules &rules, int box)
{
    return rules.Boxes[box].Caption && rules.Boxes[box].Bit != 0;
}

// What the panel shows, for comparing two panels.
struct TShown
{
    std::vector<bool> Checked;
    int Osc;
    int Cp;
    bool operator==(const TShown &o) const
    {
        return Checked == o.Checked && Osc == o.Osc && Cp == o.Cp;
    }
};

TShown ShownOf(const TFusePanel &panel)
{
    TShown shown{{}, panel.OscillatorIndex(), panel.CodeProtectIndex()};
    for (int b = 0; b < FuseBoxCount; ++b)
        shown.Checked.push_back(panel.Box(b).Visible && panel.Box(b).Checked);
    return shown;
}

TShown ShownFor(int chip, int32_t word)
{
    TFusePanel panel = Applied(chip);
    panel.Show(word);
    return ShownOf(panel);
}

const std::vector<int32_t> SampleWords = {0x3FFF, 0x0000, 0x15DF, 0x2AEF, 0x3F87, 0x0F0F,
                                          0x30F0, 0x2A5A, 0xFFFF, 0xC000, 0x8008};

} // namespace

TEST(FusePanel, LayoutTablesAreIndexedByLayoutAndBitsDoNotOverlap)
{
    for (int l = 0; l < FuseLayoutCount; ++l) {
        const TFuseLayoutRules &rules = LayoutRules(static_cast<TFuseLayout>(l));
        EXPECT_EQ(rules.Layout, l);
        int32_t used = 0;
        for (int b = 0; b < FuseBoxCount; ++b) {
            EXPECT_EQ(used & rules.Boxes[b].Bit, 0) << "layout " << l << " box " << b;
            used |= rules.Boxes[b].Bit;
        }
        // A box never shares its bit with the oscillator field.
        EXPECT_EQ(used & rules.Oscillator->FieldMask, 0);
    }
}

TEST(FusePanel, DefaultsAreWhatTheErasedWordShows)
{
    for (int chip = 0; chip < ChipCount; ++chip) {
        SCOPED_TRACE(ChipCatalogue[chip].Name);
        TFusePanel panel = Applied(chip);
        const TFuseLayoutRules &rules = RulesOf(chip);
        for (int b = 0; b < FuseBoxCount; ++b) {
            EXPECT_EQ(panel.Box(b).Visible, rules.Boxes[b].Caption != nullptr);
            if (panel.Box(b).Visible) {
                EXPECT_EQ(panel.Box(b).Place.Left, FuseBoxPlaces[b].Left);
                EXPECT_EQ(panel.Box(b).Place.Top, FuseBoxPlaces[b].Top);
            }
        }
        EXPECT_EQ(panel.OscillatorIndex(), 0);
        EXPECT_EQ(panel.CodeProtectIndex(), 0);
        EXPECT_TRUE(ShownOf(panel) == ShownFor(chip, 0x3FFF));
        EXPECT_TRUE(panel.ListsVisible() && panel.IdVisible());
        EXPECT_EQ(panel.CodeProtectItems().back(), "ON");
    }
}

TEST(FusePanel, ShowingAWordNeverChangesIt)
{
    for (int chip = 0; chip < ChipCount; ++chip) {
        SCOPED_TRACE(ChipCatalogue[chip].Name);
        // From the defaults and from the opposite of every box, so that each
        // box changes state, and its click rule runs, for some words.
        TFusePanel fromDefaults = Applied(chip);
        TFusePanel fromZero = Applied(chip);
        int32_t zero = 0;
        fromZero.Show(zero);
        std::vector<int32_t> words(SampleWords);
        for (int32_t w = 0; w < 0x4000; ++w)
            words.push_back(w);
        for (int32_t word : words) {
            for (TFusePanel *panel : {&fromDefaults, &fromZero}) {
                int32_t shown = word;
                panel->Show(shown);
                ASSERT_EQ(shown, word);
            }
        }
    }
}

TEST(FusePanel, EveryClickShowsBackAndLeavesTheOtherControlsAlone)
{
    for (int chip = 0; chip < ChipCount; ++chip) {
        SCOPED_TRACE(ChipCatalogue[chip].Name);
        const TFuseLayoutRules &rules = RulesOf(chip);
        for (int32_t base : SampleWords) {
            const TShown before = ShownFor(chip, base);
            // Runs one user action on a panel showing base, then shows the
            // resulting word on a fresh panel.
            auto check = [&](auto action, auto expect, const std::string &what) {
                TFusePanel panel = Applied(chip);
                int32_t word = base;
                panel.Show(word);
                ASSERT_TRUE(action(panel, word)) << what;
                TShown expected = before;
                expect(expected);
                EXPECT_TRUE(ShownFor(chip, word) == expected) << what;
            };
            for (int b = 0; b < FuseBoxCount; ++b) {
                for (bool on : {true, false}) {
                    if (BoundToBit(rules, b))
                        check([&](TFusePanel &p, int32_t &w) { return p.ClickBox(b, on, w); },
                              [&](TShown &e) { e.Checked[b] = on; }, "box " + std::to_string(b));
                }
            }
            const TFusePanel panel = Applied(chip);
            for (int p = 0; p < static_cast<int>(panel.OscillatorItems().size()); ++p)
                check([&](TFusePanel &f, int32_t &w) { return f.SelectOscillator(p, w); },
                      [&](TShown &e) { e.Osc = p; }, "oscillator " + std::to_string(p));
            for (int p = 0; p < static_cast<int>(panel.CodeProtectItems().size()); ++p)
                check([&](TFusePanel &f, int32_t &w) { return f.SelectCodeProtect(p, w); },
                      [&](TShown &e) { e.Cp = p; }, "code protect " + std::to_string(p));
        }
    }
}

TEST(FusePanel, ControlsOutsideTheLayoutChangeNothing)
{
    for (int chip = -1; chip < ChipCount; ++chip) {
        TFusePanel panel;
        panel.Apply(chip);
        int32_t word = 0x1234;
        for (int b = -1; b <= FuseBoxCount; ++b) {
            if (b < 0 || b == FuseBoxCount || !panel.Box(b).Visible) {
                EXPECT_FALSE(panel.ClickBox(b, b % 2 == 0, word));
            }
        }
        EXPECT_FALSE(panel.SelectOscillator(static_cast<int>(panel.OscillatorItems().size()),
                                            word));
        EXPECT_FALSE(panel.SelectCodeProtect(-1, word));
        panel.Show(word);
        EXPECT_EQ(word, 0x1234);
    }
}

namespace {

enum TAction { Box, Osc, Cp };

struct TEdgeCase
{
    const char *Chip;
    TAction Action;
    int Index;
    bool Checked;
    int32_t Before;
    int32_t After;
};

} // namespace

TEST(FusePanel, RulesOnKnownWords)
{
    const TEdgeCase cases[] = {
        {"16F877", Box, 0, false, 0x3FFF, 0x3FFB}, // WDT
        {"16F877", Box, 4, true, 0x3FFF, 0x3EFF},  // CPD
        {"16C558", Cp, 1, false, 0x3FFF, 0x15DF},  // "3/4"
        {"16C554", Cp, 1, false, 0x3FFF, 0x2AEF},  // first "Don't use"
        {"16C84", Cp, 1, false, 0x3FFF, 0x000F},
        {"16C84", Cp, 0, false, 0x000F, 0x3FFF},
        {"16C710", Cp, 1, false, 0x3FFF, 0x004F},
        {"16CR84", Cp, 1, false, 0x3FFF, 0x008F},
        {"12C671", Osc, 7, false, 0x3FFF, 0x3FF8}, // "LP"
        {"12C671", Cp, 1, false, 0x3FFF, 0x2ADF},  // "1/2"
        {"12C671", Box, 3, true, 0x3FFF, 0x3FFF},  // OSCCAL
        {"12C671", Box, 3, false, 0x1234, 0x1234},
        {"16C64A", Box, 2, false, 0x3FFF, 0x3FBF}, // BODEN
        {"16F84", Box, 1, true, 0xFFFF, 0x3FF7},   // the AND masks strip bits 14, 15
    };
    for (const TEdgeCase &c : cases) {
        SCOPED_TRACE(std::string(c.Chip) + " action " + std::to_string(c.Action) + " "
                     + std::to_string(c.Index));
        TFusePanel panel = Applied(c.Chip);
        int32_t word = c.Before;
        if (c.Action == Box)
            EXPECT_TRUE(panel.ClickBox(c.Index, c.Checked, word));
        else if (c.Action == Osc)
            EXPECT_TRUE(panel.SelectOscillator(c.Index, word));
        else
            EXPECT_TRUE(panel.SelectCodeProtect(c.Index, word));
        EXPECT_EQ(word, c.After);
    }
}

TEST(FusePanel, PanelsOfKnownChips)
{
    TFusePanel panel = Applied("16C558");
    EXPECT_EQ(panel.CodeProtectItems(), (std::vector<std::string>{"OFF", "3/4", "1/2", "ON"}));
    int32_t word = 0x3FFF;
    panel.SelectCodeProtect(2, word); // "1/2"
    EXPECT_EQ((word >> 4) & 3, 2);
    word = 0x15DF;
    panel.Show(word);
    EXPECT_EQ(panel.CodeProtectItems()[panel.CodeProtectIndex()], "3/4");
    EXPECT_EQ(Applied("16C554").CodeProtectItems(),
              (std::vector<std::string>{"OFF", "Don't use", "Don't use", "ON"}));

    panel.Apply(FindChip("12C671"));
    word = 0x3F87;
    panel.Show(word);
    EXPECT_EQ(word, 0x3F87);
    EXPECT_FALSE(panel.Box(0).Checked); // WDT
    EXPECT_TRUE(panel.Box(1).Checked);  // MCLRE
    EXPECT_TRUE(panel.Box(2).Checked);  // PWRTE
    EXPECT_EQ(panel.OscillatorItems()[panel.OscillatorIndex()], "EXTCK");
    EXPECT_TRUE(panel.CodeProtectOnSelected());
    EXPECT_EQ(panel.OscChButtPlace().Left, 99);
    EXPECT_EQ(panel.OscChButtPlace().Top, 78);
    panel.ShowId(0x12A);
    EXPECT_EQ(panel.IdText(), "012A");

    // The next chip parks the button, resets IDedit and fills the lists anew.
    panel.Apply(FindChip("16F84"));
    EXPECT_EQ(panel.OscChButtPlace().Left, 300);
    EXPECT_FALSE(panel.Box(2).Visible);
    EXPECT_EQ(panel.IdText(), "FFFF");
    EXPECT_EQ(panel.OscillatorItems().size(), 4u);

    panel.Apply(FindChip("16F877"));
    std::vector<std::string> checked;
    for (int b = 0; b < FuseBoxCount; ++b) {
        EXPECT_TRUE(panel.Box(b).Visible);
        if (panel.Box(b).Checked)
            checked.push_back(panel.Box(b).Caption);
    }
    EXPECT_EQ(checked, (std::vector<std::string>{"WDT", "BODEN", "LVP", "WRT"}));

    panel.Apply(FindChip("16C72"));
    EXPECT_FALSE(panel.Box(1).Checked); // PWRTE
    EXPECT_TRUE(panel.Box(2).Checked);  // BODEN
    word = 0x3FBF;
    panel.Show(word);
    EXPECT_FALSE(panel.Box(2).Checked);

    // The default screen empties the lists but leaves them, their labels and
    // IDedit in view; a new chip choice hides them too.
    panel.Clear();
    EXPECT_FALSE(panel.ChipApplied());
    EXPECT_TRUE(panel.ListsVisible() && panel.IdVisible());
    EXPECT_FALSE(panel.Box(0).Visible);
    EXPECT_TRUE(panel.OscillatorItems().empty() && panel.CodeProtectItems().empty());
    EXPECT_EQ(panel.OscChButtPlace().Left, 300);
    panel.Apply(FindChip("16C72"));
    panel.ClearAndHide();
    EXPECT_FALSE(panel.ChipApplied() || panel.ListsVisible() || panel.IdVisible());
}

TEST(FusePanel, DescribeAndSettings)
{
    EXPECT_EQ(DescribeFuseWord(FindChip("16F84"), 0x3FFA),
              "WDT off, PWRTE off, Oscillator HS, Code Protect OFF");
    EXPECT_EQ(DescribeFuseWord(FindChip("12C671"), 0x3F87),
              "WDT off, MCLRE on, PWRTE on, Oscillator EXTCK, Code Protect ON");

    struct TSettingCase
    {
        const char *Chip;
        const char *Setting;
        bool Ok;
        int32_t After;
    };
    const TSettingCase cases[] = {
        {"16F84", "WDT=off", true, 0x3FFB},
        {"16F84", " wdt = OFF ", true, 0x3FFB},
        {"16F84", "PWRTE=on", true, 0x3FF7},
        {"16F84", "Oscillator=xt", true, 0x3FFD},
        {"16F84", "CodeProtect=ON", true, 0x000F},
        {"16F84", "Code Protect=1", true, 0x000F},
        {"16C554", "CodeProtect=Don't use", true, 0x2AEF},
        {"16C554", "CodeProtect=2", true, 0x15DF},
        {"12C671", "OSCCAL=on", true, 0x3FFF},
        {"16F84", "BODEN=on", false, 0x3FFF},
        {"16F84", "WDT=maybe", false, 0x3FFF},
        {"16F84", "Oscillator=EXTCK", false, 0x3FFF},
        {"16F84", "CodeProtect=4", false, 0x3FFF},
        {"16F84", "WDT", false, 0x3FFF},
    };
    for (const TSettingCase &c : cases) {
        SCOPED_TRACE(std::string(c.Chip) + " " + c.Setting);
        TFusePanel panel = Applied(c.Chip);
        int32_t word = 0x3FFF;
        std::string reason;
        EXPECT_EQ(panel.ApplySetting(c.Setting, word, reason), c.Ok);
        EXPECT_EQ(word, c.After);
        EXPECT_EQ(reason.empty(), c.Ok);
    }

    // Every description reads back through the settings to the same text.
    for (int chip = 0; chip < ChipCount; ++chip) {
        for (int32_t word : SampleWords) {
            const std::string text = DescribeFuseWord(chip, word);
            TFusePanel panel = Applied(chip);
            int32_t edited = 0x3FFF;
            for (size_t start = 0, end = 0; start < text.size(); start = end + 2) {
                end = std::min(text.find(", ", start), text.size());
                std::string part = text.substr(start, end - start);
                if (part.rfind("Code Protect ", 0) == 0)
                    part.erase(4, 1); // "CodeProtect ..."
                part[part.find(' ')] = '=';
                std::string reason;
                EXPECT_TRUE(panel.ApplySetting(part, edited, reason)) << reason;
            }
            EXPECT_EQ(DescribeFuseWord(chip, edited), text);
        }
    }
}

TEST(FusePanel, IdKeyFilter)
{
    struct TKeyCase
    {
        int Key;
        int Length;
        int Selected;
        int Typed;
    };
    const TKeyCase cases[] = {
        {'a', 0, 0, 'A'}, {'f', 3, 0, 'F'}, {'0', 0, 0, '0'}, {'9', 2, 0, '9'},
        {'G', 0, 0, 0},   {'g', 0, 0, 0},   {' ', 0, 0, 0},   {'-', 0, 0, 0},
        {'5', 4, 0, 0},   {'5', 4, 1, '5'}, {8, 4, 0, 8},     {13, 4, 0, 13},
        {127, 0, 0, 0},   {200, 0, 0, 0},
    };
    for (const TKeyCase &c : cases)
        EXPECT_EQ(FilterIdKey(c.Key, c.Length, c.Selected), c.Typed) << c.Key;
}
