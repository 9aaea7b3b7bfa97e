// ProgEnd, shared by the Program command and hexinfo.
#include "core/WorkState.h"
#include "view/HexText.h"

#include <gtest/gtest.h>

TEST(ProgramEnd, RoundsOnePastTheLastWordUpToEight)
{
    const struct
    {
        int Size;      // words in the image
        int LastWord;  // the one non-blank word, -1 for none
        int RomSize;
        int Expected;
    } cases[] = {
        {1024, -1, 1024, 0}, {0, -1, 1024, 0},     {1024, 0, 1024, 8},
        {1024, 7, 1024, 8},  {1024, 8, 1024, 16},  {1024, 1023, 1024, 1024},
        {2048, 1500, 1024, 1024}, // an image longer than the chip stops at RomSize
    };
    for (const auto &c : cases) {
        std::vector<std::string> rom(static_cast<size_t>(c.Size), BlankWord);
        if (c.LastWord >= 0)
            rom[static_cast<size_t>(c.LastWord)] = "0";
        EXPECT_EQ(LastNonBlankWord(rom), c.LastWord) << c.LastWord;
        EXPECT_EQ(ProgramEnd(rom, c.RomSize), c.Expected) << c.LastWord;
    }
}
