#include "core/WorkState.h"
#include "chips/OscCal.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

TWorkState Image(int32_t romSize, size_t entries, const std::string &last)
{
    TWorkState state;
    state.RomSize = romSize;
    state.RomData.assign(entries, BlankWord);
    if (entries > 0)
        state.RomData.back() = last;
    return state;
}

} // namespace

TEST(OscCal, EditTextIsTheLowByteOfTheLastWord)
{
    std::string text;
    TWorkState state = Image(1024, 1024, "13440"); // 0x3480
    ASSERT_TRUE(OscCalEditText(state, text));
    EXPECT_EQ(text, "80");
    EXPECT_TRUE(OscCalEditText(Image(1024, 1024, BlankWord), text));
    EXPECT_EQ(text, "FF");
    EXPECT_EQ(OscCalText(0x3405), "05");

    // A short image counts its missing last word as blank.
    EXPECT_TRUE(OscCalEditText(Image(1024, 10, "13440"), text));
    EXPECT_EQ(text, "FF");
    text = "xx";
    EXPECT_FALSE(OscCalEditText(Image(1024, 0, ""), text));
    EXPECT_EQ(text, "xx");
}

TEST(OscCal, KeyFilterBeepsForEverythingButHexDigits)
{
    const struct
    {
        int Key;
        int Typed;
    } cases[] = {{'7', '7'}, {'c', 'C'}, {'F', 'F'}, {'G', 0}, {8, 0}, {13, 0}, {' ', 0}};
    for (const auto &c : cases) {
        const TOscCalKey result = FilterOscCalKey(c.Key);
        EXPECT_EQ(result.Key, c.Typed) << c.Key;
        EXPECT_EQ(result.Beep, c.Typed == 0) << c.Key;
    }
}

TEST(OscCal, OkStoresTheRetlwWord)
{
    const struct
    {
        const char *Text;
        const char *Stored;
    } cases[] = {{"7C", "13436"}, {"", "13312"}, {"5", "13317"}, {"FF", "13567"},
                 {"00", "13312"}};
    for (const auto &c : cases) {
        TWorkState state = Image(1024, 1024, "13440");
        ASSERT_TRUE(StoreOscCal(state, c.Text));
        EXPECT_EQ(state.RomData.back(), c.Stored) << c.Text;
        EXPECT_EQ(state.RomData.size(), 1024u);
        EXPECT_EQ(state.RomData[0], BlankWord);
    }
}

TEST(OscCal, OkOnAShortImageFillsItFirst)
{
    TWorkState state = Image(2048, 3, "100");
    ASSERT_TRUE(StoreOscCal(state, "7C"));
    ASSERT_EQ(state.RomData.size(), 2048u);
    EXPECT_EQ(state.RomData[2], "100");
    EXPECT_EQ(state.RomData[3], BlankWord);
    EXPECT_EQ(state.RomData[2047], "13436");

    // The OSCCAL dialog after a load pads through here: a short inserted image
    // grows to the chip's size, a longer one keeps its size.
    for (const size_t words : {size_t(0), size_t(1), size_t(2047), size_t(2048), size_t(4096)}) {
        TWorkState image = Image(2048, words, "5");
        ASSERT_TRUE(StoreOscCal(image, "7F"));
        EXPECT_EQ(image.RomData.size(), std::max<size_t>(words, 2048)) << words;
        EXPECT_EQ(image.RomData[2047], "13439") << words;
    }

    TWorkState noChip = Image(0, 5, "1");
    EXPECT_FALSE(StoreOscCal(noChip, "7C"));
    EXPECT_EQ(noChip.RomData.size(), 5u);
}
