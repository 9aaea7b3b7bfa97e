#include "hexfile/HexReader.h"

#include "HexTestSupport.h"

#include <sys/stat.h>

namespace {

const std::string Eof = EndOfFileRecord;
const std::string IdRecord = ":084000000100020003000400AE";  // ID 0x1234
const std::string FuseRecord = ":02400E00F53F7C";             // 0x3FF5
const std::string EepRecord = ":04420000AB00CD0042";          // bytes 171, 205
const std::string WordAt8 = ":020010003412A8";                // word 8 = 0x1234
const std::string Linear0 = ":020000040000FA";                // INHX32: upper address 0000
const std::string Segment0 = ":020000020000FC";
const std::string StartSegment = Rec(0, {0x12, 0x34, 0x56, 0x78}, 3);
const std::string StartLinear = Rec(0, {0x00, 0x00, 0x01, 0x00}, 5);

std::vector<std::string> Blanks(size_t n, const std::string &blank)
{
    return std::vector<std::string>(n, blank);
}

struct TScanCase
{
    const char *Name;
    std::vector<std::string> Lines;
    int Expected;
};

class ScanHexFileTest : public testing::TestWithParam<TScanCase>
{
};

TEST_P(ScanHexFileTest, FirstBadLineOrVerdict)
{
    EXPECT_EQ(ScanHexFile(GetParam().Lines), GetParam().Expected);
}

const std::string Record17 = Rec(0, std::vector<int>(17, 0x11));
const std::string Record32 = Rec(0, std::vector<int>(32, 0x11));

INSTANTIATE_TEST_SUITE_P(
        Lines, ScanHexFileTest,
        testing::Values(
                TScanCase{"Empty", {}, ScanAccepted},
                TScanCase{"OnlyEof", {Eof}, ScanAccepted},
                TScanCase{"NoEofLine", {WordAt8, IdRecord}, ScanAccepted},
                TScanCase{"BlankBeforeEof", {WordAt8, "", Eof}, 1},
                TScanCase{"BlankAfterEof", {WordAt8, Eof, ""}, ScanAccepted},
                TScanCase{"TrailingSpaces", {WordAt8 + "  ", Eof}, 0},
                TScanCase{"ElevenCharsEndTheFile", {"ABCDEFGHIJK", "garbage"}, ScanAccepted},
                TScanCase{"SeventeenBytes", {Record17, Eof}, 0},
                TScanCase{"ThirtyTwoBytes", {WordAt8, Record32}, 1},
                // Address records: upper address 0000 anywhere, start addresses of any value.
                TScanCase{"Inhx32FirstLine", {":020000040000FA", WordAt8, Eof}, ScanAccepted},
                TScanCase{"Type04BetweenRegions",
                          {WordAt8, Linear0, IdRecord, Linear0, EepRecord, FuseRecord, Eof},
                          ScanAccepted},
                TScanCase{"Type02Zero", {Segment0, WordAt8, Segment0, Eof}, ScanAccepted},
                TScanCase{"StartAddresses",
                          {StartSegment, WordAt8, StartLinear, Eof}, ScanAccepted},
                TScanCase{"AddressRecordsKeepTheOrderRule",
                          {Rec(0, {1, 2, 3, 4}), Linear0, Rec(2, {5, 6}), Eof}, 2},
                TScanCase{"Type04AboveSixtyFourKiB", {WordAt8, ":020000040001F9"}, 1},
                TScanCase{"Type02AboveZero", {Segment0, Rec(0, {0x10, 0x00}, 2)}, 1},
                TScanCase{"Type04WrongCount", {Rec(0, {0, 0, 0}, 4), Eof}, 0},
                TScanCase{"Type05WrongCount", {WordAt8, Rec(0, {0, 0}, 5), Eof}, 1},
                TScanCase{"Type04WrongChecksum", {":020000040000FB", Eof}, 0},
                TScanCase{"Type04WithoutStartCode", {"?020000040000FA"}, 0},
                TScanCase{"Type04NonHexDigit", {":02000004000GFA"}, 0},
                TScanCase{"NoStartCode", {";020010003412A8"}, 0},
                TScanCase{"NonHexDigit", {":02001000341G28"}, 0},
                TScanCase{"LowerCaseDigits", {":02400e00f53f7c", ":00000001ff"}, ScanAccepted},
                TScanCase{"LengthMismatch", {WordAt8, ":03001000341200"}, 1},
                TScanCase{"WrongChecksum", {WordAt8, IdRecord, ":02400E00F53F7D"}, 2},
                TScanCase{"ZeroChecksum", {":0100000001FE", ":01000200FD00"}, ScanAccepted},
                TScanCase{"TooLong", {Rec(0, std::vector<int>(16, 0)) + "0"}, 0},
                TScanCase{"TooShort", {":0000000"}, 0},
                // Record order: refused where the passes would misplace or skip a record.
                TScanCase{"WriterOrder",
                          {Rec(0, {1, 2, 3, 4}), IdRecord, EepRecord, FuseRecord, Eof},
                          ScanAccepted},
                TScanCase{"AssemblerOrder",
                          {Rec(0, {1, 2}), Rec(0x10, {3, 4}), IdRecord, FuseRecord, EepRecord},
                          ScanAccepted},
                TScanCase{"AdjacentRecords", {Rec(0, {1, 2, 3, 4}), Rec(4, {5, 6})}, ScanAccepted},
                TScanCase{"ProgramDescending", {WordAt8, Rec(0, {1, 2}), Eof}, 1},
                TScanCase{"ProgramOverlap", {Rec(0, {1, 2, 3, 4}), Rec(2, {5, 6}), Eof}, 1},
                TScanCase{"OddByteAddressOverlap", {Rec(0, {1, 2}), Rec(1, {5, 6})}, 1},
                TScanCase{"ProgramTypeDoesNotMatter", {WordAt8, Rec(0, {1, 2}, 2)}, 1},
                TScanCase{"ProgramAfterId", {IdRecord, WordAt8, Eof}, 1},
                TScanCase{"ProgramAfterFuse", {FuseRecord, WordAt8}, 1},
                TScanCase{"ProgramAfterEeprom", {EepRecord, WordAt8}, 1},
                TScanCase{"EepromDescending", {Rec(0x4210, {1, 0}), EepRecord}, 1},
                TScanCase{"EepromOverlap", {EepRecord, Rec(0x4202, {1, 0})}, 1},
                TScanCase{"EepromAfterBeyond", {Rec(0x4400, {1, 0}), EepRecord}, 1},
                TScanCase{"EepromAfterProgramAndId",
                          {WordAt8, IdRecord, EepRecord, Rec(0x4204, {1, 0})}, ScanAccepted},
                TScanCase{"IdTwiceIsNoOrderFault", {IdRecord, IdRecord, Eof}, ScanAccepted},
                TScanCase{"BeyondAllRegionsThenId", {Rec(0x4400, {1, 0}), IdRecord},
                          ScanAccepted}),
        [](const testing::TestParamInfo<TScanCase> &info) { return info.param.Name; });

TEST(CheckASCII, UpperCasesHexAndMarksTheRest)
{
    const std::string in = "09AFaf-Gg :\x7f";
    const std::string out = "09AFAF------";
    for (size_t i = 0; i < in.size(); ++i)
        EXPECT_EQ(CheckASCII(in[i]), out[i]) << "character " << int(in[i]);
}

TEST(SplitTextLines, BreaksAtCrLfLfOrCr)
{
    const struct
    {
        std::string Text;
        std::vector<std::string> Lines;
    } cases[] = {
        {"", {}},
        {"\r\n", {""}},
        {"a\r\nb\r\n", {"a", "b"}},
        {"a\nb", {"a", "b"}},
        {"a\rb\r", {"a", "b"}},
        {"a\n\rb", {"a", "", "b"}},
        {"a\r\n\r\nb", {"a", "", "b"}},
    };
    for (const auto &c : cases)
        EXPECT_EQ(SplitTextLines(c.Text), c.Lines) << testing::PrintToString(c.Text);
}

// The outcome of a whole load, with the image it leaves.
struct TLoaded
{
    THexLoadOutcome Outcome;
    TWorkState Ws;
};

TLoaded Load(std::vector<std::string> lines, TWorkState ws = Chip16F84(), bool insert = false)
{
    TLoaded result;
    result.Outcome = LoadHexLines(ws, std::move(lines), insert);
    result.Ws = std::move(ws);
    return result;
}

TEST(LoadHexLines, OnlyEndOfFileGivesABlankImage)
{
    const TLoaded r = Load({Eof});
    ASSERT_EQ(r.Outcome.Status, THexLoadStatus::Ok);
    EXPECT_EQ(r.Ws.RomData, Blanks(1024, "16383"));
    EXPECT_EQ(r.Ws.EepData, Blanks(64, "255"));
    EXPECT_EQ(r.Ws.IdValue, 0xFFFF);
    EXPECT_EQ(r.Ws.FuseWord, 0x3FFF);
}

TEST(LoadHexLines, RecordsLandInTheirRegions)
{
    const TLoaded r = Load({WordAt8, IdRecord, EepRecord, FuseRecord, Eof});
    ASSERT_EQ(r.Outcome.Status, THexLoadStatus::Ok) << r.Outcome.Message;
    std::vector<std::string> rom = Blanks(1024, "16383");
    rom[8] = "4660";
    EXPECT_EQ(r.Ws.RomData, rom);
    std::vector<std::string> eep = Blanks(64, "255");
    eep[0] = "171";
    eep[1] = "205";
    EXPECT_EQ(r.Ws.EepData, eep);
    EXPECT_EQ(r.Ws.IdValue, 0x1234);
    EXPECT_EQ(r.Ws.FuseWord, 0x3FF5);
}

// Address records place nothing: each one, wherever it stands, leaves the
// image of the same file without it. Their data would read as words 0 and 1.
TEST(LoadHexLines, AddressRecordsChangeNothing)
{
    const std::vector<std::string> plain = {Rec(0, {0x05, 0x28, 0x34, 0x12}), WordAt8,
                                            IdRecord, EepRecord, FuseRecord, Eof};
    const TLoaded expected = Load(plain);
    ASSERT_EQ(expected.Outcome.Status, THexLoadStatus::Ok);
    const std::string lowerLinear = ":020000040000fa";
    for (const std::string &extra :
         {Linear0, lowerLinear, Segment0, StartSegment, StartLinear}) {
        for (size_t at = 0; at < plain.size(); ++at) {
            std::vector<std::string> lines = plain;
            lines.insert(lines.begin() + long(at), extra);
            const TLoaded r = Load(lines);
            ASSERT_EQ(r.Outcome.Status, THexLoadStatus::Ok) << extra << " at " << at;
            EXPECT_EQ(r.Ws.RomData, expected.Ws.RomData) << extra << " at " << at;
            EXPECT_EQ(r.Ws.EepData, expected.Ws.EepData) << extra << " at " << at;
            EXPECT_EQ(r.Ws.IdValue, 0x1234) << extra << " at " << at;
            EXPECT_EQ(r.Ws.FuseWord, 0x3FF5) << extra << " at " << at;
        }
    }
}

TEST(LoadHexFile, ByteOrderMarkAtTheStartIsSkipped)
{
    TTempDir dir;
    const std::string body = Linear0 + "\r\n" + WordAt8 + "\r\n" + Eof + "\r\n";
    const struct
    {
        std::string Text;
        THexLoadStatus Status;
    } cases[] = {
        {"\xEF\xBB\xBF" + body, THexLoadStatus::Ok},
        {"\xEF\xBB\xBF" + WordAt8 + "\n" + Eof, THexLoadStatus::Ok},
        // Only at the very start: anywhere else it is a bad character.
        {WordAt8 + "\r\n\xEF\xBB\xBF" + Eof, THexLoadStatus::Refused},
        {"\xEF\xBB" + body, THexLoadStatus::Refused},
    };
    for (const auto &c : cases) {
        const std::string path = dir.File("bom.hex");
        std::ofstream(path, std::ios::binary) << c.Text;
        TWorkState ws = Chip16F84();
        std::string bytes;
        const THexLoadOutcome outcome = LoadHexFile(ws, path, false, &bytes);
        EXPECT_EQ(outcome.Status, c.Status) << testing::PrintToString(c.Text);
        EXPECT_EQ(bytes, c.Text) << "the digest sees the file as it is";
        if (c.Status == THexLoadStatus::Ok) {
            EXPECT_EQ(ws.RomData[8], "4660");
        }
    }
}

TEST(LoadHexLines, LowerCaseDigitsReadLikeUpperCase)
{
    const std::vector<std::string> upper = {Rec(0, {0xAB, 0x3C, 0xEF, 0x0D}), IdRecord,
                                            Rec(0x4200, {0xFE, 0}),
                                            Rec(0x400E, {0xBA, 0x3F}), Eof};
    std::vector<std::string> lower = upper;
    for (std::string &line : lower)
        for (char &c : line)
            c = char(std::tolower(static_cast<unsigned char>(c)));
    const TLoaded u = Load(upper);
    const TLoaded l = Load(lower);
    ASSERT_EQ(l.Outcome.Status, THexLoadStatus::Ok) << l.Outcome.Message;
    EXPECT_EQ(l.Ws.RomData, u.Ws.RomData);
    EXPECT_EQ(l.Ws.RomData[0], std::to_string(0x3CAB));
    EXPECT_EQ(l.Ws.EepData, u.Ws.EepData);
    EXPECT_EQ(l.Ws.FuseWord, 0x3FBA);
}

TEST(LoadHexLines, ValuesAreStoredUnmasked)
{
    const TLoaded r = Load({Rec(0, {0xFF, 0xFF}), Rec(0x400E, {0xFF, 0xFF}), Eof});
    EXPECT_EQ(r.Ws.RomData[0], "65535");
    EXPECT_EQ(r.Ws.FuseWord, 0xFFFF);
}

TEST(LoadHexLines, FileForALargerChipLeavesRomDataLonger)
{
    const TLoaded r = Load({Rec(0x0FFE, {0x34, 0x12}), Eof}); // word 0x7FF
    ASSERT_EQ(r.Outcome.Status, THexLoadStatus::Ok);
    ASSERT_EQ(r.Ws.RomData.size(), 2048u);
    EXPECT_EQ(r.Ws.RomData[2047], "4660");
    EXPECT_EQ(r.Ws.RomData[1023], "16383");
}

TEST(LoadHexLines, EepromBeyondTheChipIsKept)
{
    const TLoaded r = Load({Rec(0x4280, {7, 0}), Eof}); // byte 64 of a 64-byte EEPROM
    ASSERT_EQ(r.Ws.EepData.size(), 65u);
    EXPECT_EQ(r.Ws.EepData[64], "7");
}

// Each EEPROM byte is the low byte of its word; a file whose high bytes are
// not 00 (written by another tool) still gives the low bytes, nothing else.
TEST(LoadHexLines, EepromHighBytesAreIgnored)
{
    const TLoaded r = Load({Rec(0x4200, {0x12, 0xFF, 0x34, 0x01, 0x00, 0x3F}), Eof});
    ASSERT_EQ(r.Outcome.Status, THexLoadStatus::Ok) << r.Outcome.Message;
    std::vector<std::string> eep = Blanks(64, "255");
    eep[0] = "18";
    eep[1] = "52";
    eep[2] = "0";
    EXPECT_EQ(r.Ws.EepData, eep);
    EXPECT_EQ(r.Ws.RomData, Blanks(1024, "16383"));
}

TEST(LoadHexLines, ChipWithoutEepromIgnoresEepromRecords)
{
    const TLoaded r = Load({EepRecord, Eof}, Chip(1024, 0));
    ASSERT_EQ(r.Outcome.Status, THexLoadStatus::Ok);
    EXPECT_TRUE(r.Ws.EepData.empty());
}

TEST(IdPass, OneNibblePerLocationLeftFilledWithF)
{
    const struct
    {
        std::string Record;
        int Id;
    } cases[] = {
        {IdRecord, 0x1234},
        {Rec(0x4000, {5, 0}), 0xFFF5},
        {Rec(0x4000, {1, 0, 2, 0}), 0xFF12},
        {Rec(0x4000, {0x1A, 0, 0x2B, 0, 0x3C, 0}), 0xFABC},  // high digit of each byte dropped
        {Rec(0x4000, {1, 0, 2, 0, 3, 0, 4, 0, 5, 0}), 0x1234}, // stops after four
        {Rec(0x4006, {9, 0}), 0xFFF9},                         // position within 0x2000-3 unused
        {":084000000a000b000c000d00" + CheckSum("084000000A000B000C000D00"), 0xABCD},
    };
    for (const auto &c : cases) {
        TWorkState ws = Chip16F84();
        ws.HexLines = {Rec(0x4008, {1, 0}), c.Record, IdRecord}; // only the first ID record counts
        ASSERT_TRUE(ExtractIDdata(ws)) << c.Record;
        EXPECT_EQ(ws.IdValue, c.Id) << c.Record;
    }
}

TEST(IdPass, EndOfFileOrMissingRecord)
{
    TWorkState ws = Chip16F84();
    ws.HexLines = {WordAt8, Eof, IdRecord};
    EXPECT_TRUE(ExtractIDdata(ws));
    EXPECT_EQ(ws.IdValue, 0xFFFF);

    ws.HexLines = {Rec(0x4000, {1})};
    EXPECT_FALSE(ExtractIDdata(ws)) << "odd byte count";

    for (const std::vector<std::string> &lines : {std::vector<std::string>{},
                                                   std::vector<std::string>{WordAt8}}) {
        ws.HexLines = lines;
        EXPECT_THROW(ExtractIDdata(ws), THexFileError);
    }
}

TEST(FusePass, ExactlyOneWord)
{
    TWorkState ws = Chip16F84();
    ws.HexLines = {FuseRecord, ":02400E00F13F80"};
    EXPECT_TRUE(ExtractFuseData(ws));
    EXPECT_EQ(ws.FuseWord, 0x3FF5);

    ws.HexLines = {":04400E00F53FFF3F3C"};
    EXPECT_FALSE(ExtractFuseData(ws));
    ws.HexLines = {WordAt8};
    EXPECT_FALSE(ExtractFuseData(ws)) << "no record and no end-of-file line";
}

TEST(RomPass, OddByteCountFailsAfterItsFirstWord)
{
    TWorkState ws = Chip16F84();
    ws.HexLines = {":0300000034125661", Eof};
    EXPECT_FALSE(ExtractROMData(ws));
    EXPECT_EQ(ws.RomData, std::vector<std::string>{"4660"});
}

TEST(RomPass, StopsAtTheFirstRecordBeyondProgramMemory)
{
    // The scan refuses this order; the pass alone leaves the later record unread.
    TWorkState ws = Chip16F84();
    ws.HexLines = {IdRecord, WordAt8, Eof};
    EXPECT_TRUE(ExtractROMData(ws));
    EXPECT_TRUE(ws.RomData.empty());
}

struct TFailCase
{
    const char *Name;
    std::vector<std::string> Lines;
    THexLoadStatus Status;
    std::string Message;
};

class LoadFailureTest : public testing::TestWithParam<TFailCase>
{
};

// Every failure after the scan clears the image and resets the ID and
// configuration word, whatever they were.
TEST_P(LoadFailureTest, ResetsTheImage)
{
    TWorkState ws = Chip16F84();
    ws.RomData = Blanks(1024, "1");
    ws.EepData = Blanks(64, "2");
    ws.FuseWord = 0x1111;
    ws.IdValue = 0x2222;
    const THexLoadOutcome outcome = LoadHexLines(ws, GetParam().Lines, false);
    EXPECT_EQ(outcome.Status, GetParam().Status);
    EXPECT_EQ(outcome.Message, GetParam().Message);
    EXPECT_TRUE(ws.RomData.empty());
    EXPECT_TRUE(ws.EepData.empty());
    EXPECT_EQ(ws.FuseWord, 0x3FFF);
    EXPECT_EQ(ws.IdValue, 0xFFFF);
}

INSTANTIATE_TEST_SUITE_P(
        Passes, LoadFailureTest,
        testing::Values(
                TFailCase{"EmptyFile", {}, THexLoadStatus::Exception, LoadProblemMessage},
                TFailCase{"NoIdNoEof", {WordAt8}, THexLoadStatus::Exception, LoadProblemMessage},
                TFailCase{"OddProgramRecord", {":0300000034125661", Eof},
                          THexLoadStatus::PassFailed, RomProblemMessage},
                TFailCase{"OddEepromRecord", {Rec(0x4200, {1, 0, 2}), Eof},
                          THexLoadStatus::PassFailed, EepromProblemMessage},
                TFailCase{"OddIdRecord", {Rec(0x4000, {1}), Eof}, THexLoadStatus::PassFailed,
                          IdProblemMessage},
                TFailCase{"FourByteConfig", {":04400E00F53FFF3F3C", Eof},
                          THexLoadStatus::PassFailed, FuseProblemMessage},
                TFailCase{"IdButNoConfigNoEof", {WordAt8, IdRecord}, THexLoadStatus::PassFailed,
                          FuseProblemMessage}),
        [](const testing::TestParamInfo<TFailCase> &info) { return info.param.Name; });

// A refused file changes nothing, the ID and configuration word included.
TEST(LoadHexLines, RefusedFileChangesNothing)
{
    const struct
    {
        std::vector<std::string> Lines;
        std::string Message;
    } cases[] = {
        {{":020000040001F9", WordAt8, Eof},
         "There was a data problem in the HEX file on line 1."},
        {{WordAt8, IdRecord, ":02400E00F53F7D", Eof},
         "There was a data problem in the HEX file on line 3."},
        {{IdRecord, WordAt8, Eof}, "There was a data problem in the HEX file on line 2."},
        {{"", Eof}, "There was a data problem in the HEX file on line 1."},
    };
    for (const auto &c : cases) {
        TWorkState ws = Chip16F84();
        ws.RomData = Blanks(1024, "1");
        ws.EepData = Blanks(64, "2");
        ws.FuseWord = 0x1111;
        ws.IdValue = 0x2222;
        const THexLoadOutcome outcome = LoadHexLines(ws, c.Lines, false);
        EXPECT_EQ(outcome.Status, THexLoadStatus::Refused);
        EXPECT_EQ(outcome.Message, c.Message);
        EXPECT_EQ(ws.RomData, Blanks(1024, "1"));
        EXPECT_EQ(ws.EepData, Blanks(64, "2"));
        EXPECT_EQ(ws.FuseWord, 0x1111);
        EXPECT_EQ(ws.IdValue, 0x2222);
        EXPECT_EQ(ws.HexLines, c.Lines);
    }
}

TEST(LoadHexLines, InsertChangesOnlyTheFilesWords)
{
    TWorkState ws = Chip16F84();
    ws.RomData = Blanks(1024, "1");
    ws.EepData = Blanks(64, "2");
    ws.FuseWord = 0x1111;
    ws.IdValue = 0x2222;
    std::vector<int> bytes;
    for (int i = 0; i < 8; ++i)
        bytes.insert(bytes.end(), {0x10 + i, 0x20});
    const THexLoadOutcome outcome = LoadHexLines(ws, {Rec(0x20, bytes), Eof}, true);
    ASSERT_EQ(outcome.Status, THexLoadStatus::Ok);
    EXPECT_TRUE(ws.InsertMode);
    std::vector<std::string> rom = Blanks(1024, "1");
    for (int i = 0; i < 8; ++i)
        rom[size_t(0x10 + i)] = std::to_string(0x2010 + i);
    EXPECT_EQ(ws.RomData, rom);
    EXPECT_EQ(ws.EepData, Blanks(64, "2"));
    EXPECT_EQ(ws.FuseWord, 0x3FFF);
    EXPECT_EQ(ws.IdValue, 0xFFFF);
}

TEST(LoadHexLines, InsertKeepsAShortImageShortAndAppendsPastItsEnd)
{
    TWorkState ws = Chip16F84();
    ws.RomData = Blanks(4, "1");
    ASSERT_EQ(LoadHexLines(ws, {Rec(0x0C, {5, 0}), Eof}, true).Status, THexLoadStatus::Ok);
    EXPECT_EQ(ws.RomData, (std::vector<std::string>{"1", "1", "1", "1", "16383", "16383", "5"}));
    EXPECT_TRUE(ws.EepData.empty()) << "the EEPROM fill appends nothing when inserting";
}

TEST(LoadHexLines, InsertIntoAnEmptyImageReplaces)
{
    TWorkState ws = Chip16F84();
    ASSERT_EQ(LoadHexLines(ws, {WordAt8, Eof}, true).Status, THexLoadStatus::Ok);
    EXPECT_FALSE(ws.InsertMode);
    EXPECT_EQ(ws.RomData.size(), 1024u);
}

TEST(LoadHexFile, ReadsCrLfLfAndCrFiles)
{
    TTempDir dir;
    for (const char *eol : {"\r\n", "\n", "\r"}) {
        const std::string path = dir.File("f.hex");
        WriteBytes(path, WordAt8 + eol + IdRecord + eol + FuseRecord + eol + Eof + eol);
        TWorkState ws = Chip16F84();
        ASSERT_EQ(LoadHexFile(ws, path, false).Status, THexLoadStatus::Ok);
        EXPECT_EQ(ws.RomData[8], "4660");
        EXPECT_EQ(ws.IdValue, 0x1234);
        EXPECT_EQ(ws.FuseWord, 0x3FF5);
        EXPECT_EQ(ws.HexLines.size(), 4u);
    }
}

TEST(LoadHexFile, UnreadableFileChangesNothing)
{
    TTempDir dir;
    // A FIFO without a writer would block a plain open for ever.
    const std::string fifo = dir.File("pipe.hex");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0666), 0);
    for (const std::string &path :
         {dir.File("missing.hex"), dir.Path.string(), fifo, std::string("/dev/zero")}) {
        TWorkState ws = Chip16F84();
        ws.RomData = Blanks(1024, "1");
        ws.FuseWord = 0x1111;
        ws.IdValue = 0x2222;
        const THexLoadOutcome outcome = LoadHexFile(ws, path, false);
        EXPECT_EQ(outcome.Status, THexLoadStatus::Refused);
        EXPECT_EQ(outcome.Message, "There was a problem loading the HEX file.");
        EXPECT_EQ(ws.RomData, Blanks(1024, "1"));
        EXPECT_EQ(ws.FuseWord, 0x1111);
        EXPECT_EQ(ws.IdValue, 0x2222);
    }
}

TEST(OscCal, LastWordBlankOrMissing)
{
    const struct
    {
        bool OscCal;
        size_t Words;
        std::string LastWord;
        bool Missing;
    } cases[] = {
        {true, 1024, "16383", true},  {true, 1024, "13439", false},
        {true, 1023, "1", true},      {true, 0, "", true},
        {false, 1024, "16383", false}, {true, 2048, "16383", true},
    };
    for (const auto &c : cases) {
        TWorkState ws = Chip(1024, 0, c.OscCal);
        ws.RomData = Blanks(c.Words, "1");
        if (c.Words >= 1024)
            ws.RomData[1023] = c.LastWord;
        EXPECT_EQ(OscCalWordMissing(ws), c.Missing) << c.Words << " " << c.LastWord;
    }
}

} // namespace
