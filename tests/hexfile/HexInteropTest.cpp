// Files from tools that nobody here wrote: assembler output must load into
// what the disassembler lists, and what we write must satisfy both tools.
#include "hexfile/HexReader.h"
#include "hexfile/HexWriter.h"

#include "HexTestSupport.h"

#include <array>
#include <cstdio>
#include <map>
#include <regex>

#ifndef VARNEL_HEX_TEST_DATA
#error "VARNEL_HEX_TEST_DATA must name the folder of the assembler sources"
#endif

namespace {

struct TRun
{
    int Status = -1;
    std::string Output;
};

TRun RunCommand(const std::string &command)
{
    TRun run;
    std::FILE *pipe = popen((command + " 2>&1").c_str(), "r");
    if (!pipe)
        return run;
    std::array<char, 4096> buffer;
    size_t got;
    while ((got = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0)
        run.Output.append(buffer.data(), got);
    run.Status = pclose(pipe);
    return run;
}

bool HaveTool(const char *name)
{
    return RunCommand(std::string("command -v ") + name).Status == 0;
}

#define REQUIRE_TOOL(name) \
    if (!HaveTool(name)) \
    GTEST_SKIP() << name << " is not installed (Debian package " \
                 << (std::string(name) == "srec_cat" ? "srecord" : "gputils") << ")"

// What the disassembler lists: words by word address, and the EEPROM as the
// bytes of the file from 0x2100 on (each EEPROM byte followed by its high byte).
struct TListing
{
    std::map<int, int> Words;
    std::map<int, int> EepromFileBytes;
};

TListing Disassemble(const std::string &proc, const std::string &hex)
{
    const TRun run = RunCommand("gpdasm -p " + proc + " '" + hex + "'");
    EXPECT_EQ(run.Status, 0) << run.Output;
    TListing listing;
    static const std::regex Line(R"(^([0-9a-f]{4}):\s+([0-9a-f]{2,4})\s)");
    std::istringstream text(run.Output);
    std::string line;
    while (std::getline(text, line)) {
        std::smatch m;
        if (!std::regex_search(line, m, Line))
            continue;
        const int address = std::stoi(m[1], nullptr, 16);
        const int value = std::stoi(m[2], nullptr, 16);
        if (address >= EepRegionFirst)
            listing.EepromFileBytes[address - EepRegionFirst] = value;
        else
            listing.Words[address] = value;
    }
    return listing;
}

// The loaded image holds exactly what the listing shows, blanks elsewhere.
void ExpectImageMatches(const TWorkState &ws, const TListing &listing)
{
    ASSERT_EQ(ws.RomData.size(), size_t(ws.RomSize));
    for (int a = 0; a < ws.RomSize; ++a) {
        const auto it = listing.Words.find(a);
        EXPECT_EQ(ws.RomData[size_t(a)], it == listing.Words.end()
                          ? BlankWord : std::to_string(it->second)) << "word " << a;
    }
    ASSERT_EQ(ws.EepData.size(), size_t(ws.EepSize));
    for (int k = 0; k < ws.EepSize; ++k) {
        const auto it = listing.EepromFileBytes.find(2 * k);
        EXPECT_EQ(ws.EepData[size_t(k)], it == listing.EepromFileBytes.end()
                          ? BlankByte : std::to_string(it->second)) << "EEPROM byte " << k;
    }
    int id = 0;
    for (int a = IdRegionFirst; a <= IdRegionLast; ++a) {
        const auto it = listing.Words.find(a);
        id = id * 16 + (it == listing.Words.end() ? 15 : it->second & 0xF);
    }
    EXPECT_EQ(ws.IdValue, id);
    const auto fuse = listing.Words.find(FuseAddress);
    EXPECT_EQ(ws.FuseWord, fuse == listing.Words.end() ? 0x3FFF : fuse->second);
}

void ExpectSameImage(const TWorkState &got, const TWorkState &expected)
{
    EXPECT_EQ(got.RomData, expected.RomData);
    EXPECT_EQ(got.EepData, expected.EepData);
    EXPECT_EQ(got.IdValue, expected.IdValue);
    EXPECT_EQ(got.FuseWord, expected.FuseWord);
}

struct TProgram
{
    const char *Source;
    const char *Proc;
    int RomSize;
    int EepSize;
    bool OscCal;
};

class AssembledProgramTest : public testing::TestWithParam<TProgram>
{
protected:
    void SetUp() override
    {
        REQUIRE_TOOL("gpasm");
        REQUIRE_TOOL("gpdasm");
        const std::string source = std::string(VARNEL_HEX_TEST_DATA) + "/" + GetParam().Source;
        Hex = Dir.File("program.hex");
        const TRun run = RunCommand("gpasm -a inhx8m -o '" + Hex + "' '" + source + "'");
        ASSERT_EQ(run.Status, 0) << run.Output;
    }

    TWorkState LoadedChip(const std::string &path)
    {
        TWorkState ws = Chip(GetParam().RomSize, GetParam().EepSize, GetParam().OscCal);
        const THexLoadOutcome outcome = LoadHexFile(ws, path, false);
        EXPECT_EQ(outcome.Status, THexLoadStatus::Ok) << outcome.Message;
        return ws;
    }

    TTempDir Dir;
    std::string Hex;
};

TEST_P(AssembledProgramTest, LoadsWhatTheDisassemblerLists)
{
    const TListing listing = Disassemble(GetParam().Proc, Hex);
    ASSERT_FALSE(listing.Words.empty());
    const TWorkState ws = LoadedChip(Hex);
    ExpectImageMatches(ws, listing);
    EXPECT_FALSE(OscCalWordMissing(ws));
}

TEST_P(AssembledProgramTest, OurCopyPassesBothToolsAndListsTheSameWords)
{
    REQUIRE_TOOL("srec_cat");
    const TWorkState ws = LoadedChip(Hex);
    TWorkState saver = ws;
    const std::string copy = Dir.File("copy.hex");
    ASSERT_TRUE(SaveINHX8MFile(saver, MyIntToHex(ws.IdValue, 4), copy));

    const TRun check = RunCommand("srec_cat '" + copy + "' -intel -o /dev/null");
    EXPECT_EQ(check.Status, 0) << check.Output;

    const TListing original = Disassemble(GetParam().Proc, Hex);
    const TListing listing = Disassemble(GetParam().Proc, copy);
    ASSERT_EQ(listing.Words.size(), size_t(ws.RomSize) + 5) << "every word, ID and config";
    for (int a = 0; a < ws.RomSize; ++a)
        EXPECT_EQ(std::to_string(listing.Words.at(a)), ws.RomData[size_t(a)]) << "word " << a;
    // We write each ID location as its nibble; an absent one reads as F.
    for (int a = IdRegionFirst; a <= IdRegionLast; ++a)
        EXPECT_EQ(listing.Words.at(a), original.Words.count(a) ? original.Words.at(a) & 0xF : 0xF)
                << "ID location " << a - IdRegionFirst;
    EXPECT_EQ(listing.Words.at(FuseAddress), original.Words.at(FuseAddress));
    EXPECT_EQ(LoadedChip(copy).EepData, ws.EepData);
}

// The same image from srec_cat's copy with an extended linear address record,
// in records of at most 16 bytes as INHX8M lines must be.
TEST_P(AssembledProgramTest, ExtendedAddressCopyLoadsAsTheOriginal)
{
    REQUIRE_TOOL("srec_cat");
    const std::string copy = Dir.File("linear.hex");
    const TRun run = RunCommand("srec_cat '" + Hex + "' -intel -o '" + copy
                                + "' -intel -address-length=4 -output_block_size=16");
    ASSERT_EQ(run.Status, 0) << run.Output;
    ASSERT_NE(ReadBytes(copy).find(":02000004"), std::string::npos) << ReadBytes(copy);
    ExpectSameImage(LoadedChip(copy), LoadedChip(Hex));
}

// What today's toolchains write: the INHX32 twin of the assembled program.
TEST_P(AssembledProgramTest, Inhx32TwinLoadsIntoTheSameImage)
{
    const std::string source = std::string(VARNEL_HEX_TEST_DATA) + "/" + GetParam().Source;
    const std::string twin = Dir.File("program32.hex");
    const TRun run = RunCommand("gpasm -a inhx32 -o '" + twin + "' '" + source + "'");
    ASSERT_EQ(run.Status, 0) << run.Output;
    ASSERT_EQ(ReadBytes(twin).rfind(":020000040000FA", 0), 0u) << "an INHX32 file";
    ExpectSameImage(LoadedChip(twin), LoadedChip(Hex));
}

// Our INHX32 file: both tools read the image of our INHX8M file, and it loads back.
TEST_P(AssembledProgramTest, OurInhx32CopyReadsAsOurInhx8mCopy)
{
    REQUIRE_TOOL("srec_cat");
    const TWorkState ws = LoadedChip(Hex);
    const std::string copy8 = Dir.File("copy8.hex");
    const std::string copy32 = Dir.File("copy32.hex");
    TWorkState saver = ws;
    ASSERT_TRUE(SaveINHX8MFile(saver, MyIntToHex(ws.IdValue, 4), copy8));
    ASSERT_TRUE(SaveINHX8MFile(saver, MyIntToHex(ws.IdValue, 4), copy32, THexFormat::Inhx32));
    EXPECT_EQ(ReadBytes(copy32), std::string(LinearAddressZeroRecord) + "\r\n" + ReadBytes(copy8));

    // srec_cat's own dump of each: the same bytes at the same addresses (its
    // warnings, which name the file, left out).
    const auto dump = [](const std::string &path) {
        TRun run = RunCommand("srec_cat '" + path + "' -intel -o - -hex-dump");
        static const std::regex DumpLine(R"(^[0-9A-F]{8}: .*$)");
        std::istringstream text(run.Output);
        std::string line;
        run.Output.clear();
        while (std::getline(text, line)) {
            if (std::regex_match(line, DumpLine))
                run.Output += line + "\n";
        }
        return run;
    };
    const TRun dump8 = dump(copy8);
    const TRun dump32 = dump(copy32);
    ASSERT_EQ(dump8.Status, 0) << dump8.Output;
    ASSERT_EQ(dump32.Status, 0) << dump32.Output;
    EXPECT_EQ(dump32.Output, dump8.Output);
    EXPECT_FALSE(dump8.Output.empty());

    const TListing listing8 = Disassemble(GetParam().Proc, copy8);
    const TListing listing32 = Disassemble(GetParam().Proc, copy32);
    EXPECT_EQ(listing32.Words, listing8.Words);
    EXPECT_EQ(listing32.EepromFileBytes, listing8.EepromFileBytes);
    ExpectSameImage(LoadedChip(copy32), ws);
}

INSTANTIATE_TEST_SUITE_P(Gpasm, AssembledProgramTest,
                         testing::Values(TProgram{"eeprom84.asm", "p16f84", 1024, 64, false},
                                         TProgram{"bank877.asm", "p16f877", 8192, 256, false},
                                         TProgram{"osccal671.asm", "p12c671", 1024, 0, true}),
                         [](const testing::TestParamInfo<TProgram> &info) {
                             return std::string(info.param.Proc).substr(1);
                         });

} // namespace
