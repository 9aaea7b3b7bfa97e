#include "hexfile/HexWriter.h"

#include "hexfile/HexReader.h"

#include "HexTestSupport.h"

#include <algorithm>

namespace {

TEST(CheckSum, MatchesKnownRecords)
{
    const struct
    {
        const char *Body;
        const char *Sum;
    } cases[] = {
        {"020010003412", "A8"},
        {"00000001", "FF"},
        {"084000000100020003000400", "AE"},
        {"02400E00F13F", "80"},
        {"01000000FF", "00"}, // low 8 bits of the sum are 0
        {"", "00"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(CheckSum(c.Body), c.Sum) << c.Body;
}

TEST(ASCIIToDec, SameMappingAsHexToDec)
{
    for (int c = 0; c < 256; ++c)
        EXPECT_EQ(ASCIIToDec(char(c)), HexToDec(char(c))) << c;
    EXPECT_EQ(ASCIIToDec('E'), 14);
    EXPECT_EQ(ASCIIToDec('a'), 15);
}

TWorkState Image84()
{
    TWorkState ws = Chip16F84();
    ws.RomData.assign(1024, "16383");
    ws.EepData.assign(64, "255");
    return ws;
}

TEST(BuildINHX8MLines, SixteenF84ImageLayout)
{
    TWorkState ws = Image84();
    ws.RomData[0] = "10245"; // 0x2805
    ws.RomData[1023] = "0";
    ws.EepData[63] = "90";
    ws.FuseWord = 0x3FF1;
    std::vector<std::string> lines;
    ASSERT_TRUE(BuildINHX8MLines(ws, "12", lines));
    ASSERT_EQ(lines.size(), 139u);
    EXPECT_EQ(lines[0], ":100000000528FF3FFF3FFF3FFF3FFF3FFF3FFF3F" + CheckSum(
                                "100000000528FF3FFF3FFF3FFF3FFF3FFF3FFF3F"));
    for (size_t i = 0; i < 128; ++i) {
        EXPECT_EQ(lines[i].size(), 43u) << i;
        EXPECT_EQ(lines[i].substr(3, 4), MyIntToHex(int(16 * i), 4)) << i;
    }
    EXPECT_EQ(lines[127].substr(37, 4), "0000");
    EXPECT_EQ(lines[128], ":084000000F000F000100020097");
    EXPECT_EQ(lines[129].substr(0, 9), ":10420000");
    EXPECT_EQ(lines[136].substr(0, 9), ":10427000");
    EXPECT_EQ(lines[136].substr(37, 4), "5A00");
    EXPECT_EQ(lines[137], ":02400E00F13F80");
    EXPECT_EQ(lines[138], ":00000001FF");
}

// INHX32 is the INHX8M file behind one extended linear address record of 0000,
// and reads back into the same image.
TEST(BuildINHX8MLines, Inhx32IsInhx8mBehindOneLinearAddressRecord)
{
    for (TWorkState ws : {Image84(), Chip(512, 0)}) {
        ws.RomData.assign(size_t(ws.RomSize), "16383");
        ws.RomData[3] = "10245";
        ws.FuseWord = 0x3FF1;
        std::vector<std::string> lines8;
        std::vector<std::string> lines32;
        ASSERT_TRUE(BuildINHX8MLines(ws, "C0DE", lines8));
        ASSERT_TRUE(BuildINHX8MLines(ws, "C0DE", lines32, THexFormat::Inhx32));
        ASSERT_EQ(lines32.size(), lines8.size() + 1);
        EXPECT_EQ(lines32.front(), ":020000040000FA");
        EXPECT_TRUE(std::equal(lines8.begin(), lines8.end(), lines32.begin() + 1));

        TWorkState back = ws;
        ASSERT_EQ(LoadHexLines(back, lines32, false).Status, THexLoadStatus::Ok);
        EXPECT_EQ(back.RomData, ws.RomData);
        EXPECT_EQ(back.EepData, ws.EepData);
        EXPECT_EQ(back.IdValue, 0xC0DE);
        EXPECT_EQ(back.FuseWord, 0x3FF1);
    }
}

TEST(HexFormatFromName, KnowsBothLayoutsInAnyCase)
{
    const struct
    {
        const char *Name;
        bool Known;
        THexFormat Format;
    } cases[] = {
        {"inhx8m", true, THexFormat::Inhx8m}, {"INHX32", true, THexFormat::Inhx32},
        {"inhx32", true, THexFormat::Inhx32}, {"Inhx8M", true, THexFormat::Inhx8m},
        {"inhx8s", false, {}},                {"", false, {}},
        {"inhx32 ", false, {}},
    };
    for (const auto &c : cases) {
        THexFormat format = c.Known ? THexFormat(-1) : THexFormat::Inhx32;
        const THexFormat before = format;
        EXPECT_EQ(HexFormatFromName(c.Name, format), c.Known) << c.Name;
        EXPECT_EQ(format, c.Known ? c.Format : before) << c.Name;
    }
}

TEST(BuildINHX8MLines, NoEepromRecordsWithoutEeprom)
{
    TWorkState ws = Chip(512, 0);
    ws.RomData.assign(512, "16383");
    ws.FuseWord = 0x3FFF;
    std::vector<std::string> lines;
    ASSERT_TRUE(BuildINHX8MLines(ws, "FFFF", lines));
    ASSERT_EQ(lines.size(), 64u + 3);
    EXPECT_EQ(lines[64].substr(0, 9), ":08400000");
    EXPECT_EQ(lines[65].substr(0, 9), ":02400E00");
}

TEST(BuildINHX8MLines, IdTextLeftFilledWithF)
{
    const struct
    {
        std::string Text;
        std::string Digits;
    } cases[] = {
        {"", "FFFF"}, {"7", "FFF7"}, {"12", "FF12"}, {"ABC", "FABC"}, {"1234", "1234"},
        {"12345", "1234"}, {"ab", "FFAB"}, {"1 ?4", "1FF4"},
    };
    for (const auto &c : cases) {
        TWorkState ws = Chip(512, 0);
        std::vector<std::string> lines;
        ASSERT_TRUE(BuildINHX8MLines(ws, c.Text, lines));
        std::string body = "08400000";
        for (char d : c.Digits)
            body += std::string("0") + d + "00";
        EXPECT_EQ(lines.at(0), ":" + body + CheckSum(body)) << c.Text;
    }
}

TEST(BuildINHX8MLines, RefusesWhatCannotBeWritten)
{
    const struct
    {
        const char *Name;
        size_t RomWords;
        size_t EepBytes;
        std::string BadEntry;
    } cases[] = {
        {"PartialProgramRecord", 1023, 64, ""},
        {"PartialEepromRecord", 1024, 65, ""},
        {"NotDecimal", 1024, 64, "12x"},
        {"Empty", 1024, 64, "-"},
        {"Hex", 1024, 64, "0x10"},
        {"OutOfRange", 1024, 64, "99999999999"},
        {"ProgramBeyond8K", 8200, 0, ""},
        {"EepromBeyond256", 0, 264, ""},
    };
    for (const auto &c : cases) {
        TWorkState ws = Chip16F84();
        ws.RomData.assign(c.RomWords, "0");
        ws.EepData.assign(c.EepBytes, "0");
        if (!c.BadEntry.empty())
            ws.RomData[5] = c.BadEntry == "-" ? "" : c.BadEntry;
        std::vector<std::string> lines;
        EXPECT_FALSE(BuildINHX8MLines(ws, "FFFF", lines)) << c.Name;
    }
}

TEST(SaveINHX8MFile, SavedFileLoadsBackIntoTheSameImage)
{
    TTempDir dir;
    TWorkState ws = Chip(2048, 128);
    for (int i = 0; i < 2048; ++i)
        ws.RomData.push_back(std::to_string((i * 37) % 0x4000));
    for (int i = 0; i < 128; ++i)
        ws.EepData.push_back(std::to_string((i * 11) % 256));
    ws.FuseWord = 0x3F4A;
    const std::string path = dir.File("image.hex");
    ASSERT_TRUE(SaveINHX8MFile(ws, "C0DE", path));
    EXPECT_EQ(ws.HexLines.size(), 256u + 1 + 16 + 2);
    const std::string bytes = ReadBytes(path);
    EXPECT_EQ(bytes.substr(bytes.size() - 13), ":00000001FF\r\n");
    EXPECT_EQ(dir.EntryCount(), 1u) << "no temporary file left behind";

    TWorkState back = Chip(2048, 128);
    ASSERT_EQ(LoadHexFile(back, path, false).Status, THexLoadStatus::Ok);
    EXPECT_EQ(back.RomData, ws.RomData);
    EXPECT_EQ(back.EepData, ws.EepData);
    EXPECT_EQ(back.IdValue, 0xC0DE);
    EXPECT_EQ(back.FuseWord, 0x3F4A);
}

TEST(SaveINHX8MFile, FailedBuildLeavesTheOldFileUntouched)
{
    TTempDir dir;
    const std::string path = dir.File("keep.hex");
    const std::string old = "old contents\nsecond line\n";
    WriteBytes(path, old);
    TWorkState ws = Image84();
    ws.EepData.push_back("7"); // a 65th EEPROM byte
    EXPECT_FALSE(SaveINHX8MFile(ws, "FFFF", path));
    EXPECT_EQ(ReadBytes(path), old);
    EXPECT_EQ(ws.HexLines.size(), 128u + 1 + 8) << "the lines built before the partial record";
    EXPECT_EQ(dir.EntryCount(), 1u);
}

TEST(SaveINHX8MFile, ReplacesAnExistingFile)
{
    TTempDir dir;
    const std::string path = dir.File("over.hex");
    WriteBytes(path, std::string(100000, 'x'));
    TWorkState ws = Image84();
    ASSERT_TRUE(SaveINHX8MFile(ws, "FFFF", path));
    EXPECT_EQ(ReadBytes(path).size(), 128u * 45 + 29 + 8 * 45 + 17 + 13);
}

TEST(SaveINHX8MFile, UnwritableTargetFailsCleanly)
{
    TTempDir dir;
    TWorkState ws = Image84();
    // A missing folder, a folder in place of the file, and a folder that no
    // one (not even the superuser) can create files in.
    const std::string targets[] = {dir.File("no/such/folder/x.hex"), dir.Path.string(),
                                   "/proc/varnel-test.hex"};
    for (const std::string &target : targets)
        EXPECT_FALSE(SaveINHX8MFile(ws, "FFFF", target)) << target;
    EXPECT_EQ(dir.EntryCount(), 0u) << "no temporary file left behind";
}

} // namespace
