#include "view/HexText.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

TEST(HexText, DigitsAndSaturation)
{
    const struct
    {
        int32_t Value;
        int32_t Digits;
        const char *Text;
    } cases[] = {
        {255, 2, "FF"},     {16383, 4, "3FFF"}, {300, 2, "2C"},      {5, 4, "0005"},
        {0x1F000, 4, "F000"}, {0xFFFF, 4, "FFFF"}, {0xABCD, 3, "CD"}, {0, 4, "0000"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(MyIntToHex(c.Value, c.Digits), c.Text) << c.Value;
    EXPECT_EQ(ToHex(14), 'E');
    EXPECT_EQ(ToHex(15), 'F');
    EXPECT_EQ(ToHex(16), 'F');
    EXPECT_EQ(HexToDec('E'), 14);
    EXPECT_EQ(HexToDec('F'), 15);
    EXPECT_EQ(HexToDec('a'), 15);
    EXPECT_EQ(HexToDec('7'), 7);
}

TEST(HexText, IdTextIsLeftFilledWithF)
{
    const struct
    {
        const char *Text;
        const char *Padded;
        int32_t Value;
    } cases[] = {
        {"", "FFFF", 0xFFFF}, {"A", "FFFA", 0xFFFA}, {"12", "FF12", 0xFF12},
        {"123", "F123", 0xF123}, {"0000", "0000", 0}, {"12345", "1234", 0x1234},
        {"1G", "FF1G", 0xFF1F},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(PadIdText(c.Text), c.Padded) << c.Text;
        EXPECT_EQ(IdTextValue(c.Text), c.Value) << c.Text;
    }
}

TEST(HexText, DecimalEntries)
{
    int32_t v = 7;
    EXPECT_TRUE(DecimalValue("-2147483648", v));
    EXPECT_EQ(v, INT32_MIN);
    for (const char *bad : {"", "-", "12a", " 1", "2147483648", "99999999999999999999"})
        EXPECT_FALSE(DecimalValue(bad, v)) << bad;
    EXPECT_EQ(v, INT32_MIN);
}

TEST(PadLine, ErasedWordsAndCharacters)
{
    const std::vector<std::string> erased(8, "16383");
    EXPECT_EQ(PadLine(erased, 0, pvProgram),
              "0000: 3FFF 3FFF 3FFF 3FFF 3FFF 3FFF 3FFF 3FFF     ........ ");

    const std::vector<std::string> chars = {"65", "32", "127", "33", "126", "321"};
    EXPECT_EQ(PadLine(chars, 0, pvProgram),
              "0000: 0041 0020 007F 0021 007E 0141 ---- ----     A..!~A.. ");
    EXPECT_EQ(PadLine(chars, 0, pvEeprom),
              "0000:   41   20   7F   21   7E   41   --   --     A..!~A.. ");
    // A damaged entry shows like a missing one.
    EXPECT_EQ(PadLine({"x1", "255"}, 0, pvEeprom),
              "0000:   --   FF   --   --   --   --   --   --     ........ ");
}

TEST(PadLine, EveryLineOfEveryPageIs59Characters)
{
    std::vector<std::string> list;
    for (int i = 0; i < 300; ++i)
        list.push_back(std::to_string(i * 61));
    for (TPadView view : {pvProgram, pvEeprom}) {
        const std::vector<std::string> page = PadPage(list, 17, view);
        ASSERT_EQ(page.size(), size_t(PadLineCount));
        for (int n = 0; n < PadLineCount; ++n) {
            EXPECT_EQ(page[n].size(), size_t(PadLineLength));
            EXPECT_EQ(page[n].substr(0, 4), MyIntToHex(8 * (17 + n), 4));
        }
    }
}

TEST(PadPage, SmallEepromAndLastProgramPage)
{
    const std::vector<std::string> eeprom(64, "255");
    const std::vector<std::string> page = PadPage(eeprom, 0, pvEeprom);
    for (int n = 0; n < PadLineCount; ++n) {
        const bool values = n < 8;
        EXPECT_EQ(page[n].find("  -- ") == std::string::npos, values) << n;
        EXPECT_EQ(page[n].find("  FF ") == std::string::npos, !values) << n;
    }
    EXPECT_EQ(page[8], "0040:   --   --   --   --   --   --   --   --     ........ ");
    EXPECT_EQ(EepScrollMax(64), 0);

    const std::vector<std::string> rom(512, "16383");
    const std::vector<std::string> last = PadPage(rom, RomScrollMax(512), pvProgram);
    EXPECT_EQ(last.front().substr(0, 6), "0160: ");
    EXPECT_EQ(last.back().substr(0, 6), "01F8: ");
    EXPECT_EQ(last.back().find('-'), std::string::npos);
}

TEST(PadPage, ScrollMaximaEndOnTheLastEntry)
{
    const struct
    {
        int32_t Size;
        int32_t Rom;
        int32_t Eep;
    } cases[] = {{64, 0, 0},     {128, 0, 0},     {256, 12, 12},    {512, 44, 44},
                 {1024, 108, 108}, {2048, 236, 236}, {4096, 492, 492}, {8192, 1004, 1004},
                 {0, 0, 0}};
    for (const auto &c : cases) {
        EXPECT_EQ(RomScrollMax(c.Size), c.Rom) << c.Size;
        EXPECT_EQ(EepScrollMax(c.Size), c.Eep) << c.Size;
        // Scrolled to the end, the last line holds the last entry.
        if (c.Size >= 160) {
            EXPECT_EQ(PadLineEntries * (c.Rom + PadLineCount), c.Size);
        }
    }
}
