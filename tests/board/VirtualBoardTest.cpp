#include "board/VirtualBoard.h"

#include "BoardTestSupport.h"

#include <gtest/gtest.h>

#include <fstream>

namespace {

// One host message and the board's complete answer to it.
struct TStep
{
    TBytes Host;
    TBytes Board;
};

void RunSteps(TVirtualBoard &board, const std::vector<TStep> &steps)
{
    for (size_t i = 0; i < steps.size(); ++i) {
        board.Feed(steps[i].Host);
        EXPECT_EQ(board.TakeOutput(), steps[i].Board) << "step " << i;
    }
}

const TBytes Start1 = {0x00, 0x31};
const TBytes Select2 = {0x02, 0x32};
const TBytes End = {0x0E};

// The program's start-up: Hello, "PP", our acknowledge taken silently.
const std::vector<TStep> Greeting = {{{0x01}, Text("PP")}, {Text("Y"), {}}};

void Append(std::vector<TStep> &to, const std::vector<TStep> &steps)
{
    to.insert(to.end(), steps.begin(), steps.end());
}

uint16_t PatternWord(int i)
{
    return static_cast<uint16_t>((i * 37 + 5) & TBoardChip::WordMask);
}

uint8_t PatternByte(int i)
{
    return static_cast<uint8_t>(i * 11 + 3);
}

TEST(VirtualBoard, ReadOf16F84GivesTheChipBackUnchanged)
{
    TVirtualBoard board;
    for (int i = 0; i < 1024; ++i)
        board.Chip().Rom[i] = PatternWord(i);
    for (int i = 0; i < 64; ++i)
        board.Chip().Eep[i] = PatternByte(i);
    board.Chip().Id = 0x1234;
    board.Chip().Config = 0x3FF1;
    const TBoardChip before = board.Chip();

    std::vector<TStep> steps = Greeting;
    Append(steps, {{Start1, Text("P")}, {Select2, Text("Y")}});
    for (int block = 0; block < 128; ++block) {
        TBytes words;
        for (int i = 0; i < 8; ++i)
            words = Cat(words, Word(PatternWord(block * 8 + i)));
        steps.push_back({{0x05}, words});
    }
    Append(steps, {{End, Text("Q")}, {Start1, Text("P")}, {Select2, Text("Y")}});
    for (int block = 0; block < 8; ++block) {
        TBytes bytes;
        for (int i = 0; i < 8; ++i)
            bytes.push_back(PatternByte(block * 8 + i));
        steps.push_back({{0x09}, bytes});
    }
    Append(steps, {{{0x08}, {0x12, 0x34, 0x3F, 0xF1}}, {End, Text("Q")}});
    // Start rewinds the address counters.
    const TStep firstRom = steps[Greeting.size() + 2];
    const TStep firstEep = steps[Greeting.size() + 2 + 128 + 3];
    Append(steps, {{Start1, Text("P")}, firstRom, firstEep});
    RunSteps(board, steps);

    EXPECT_EQ(board.FamilyChar(), '1');
    EXPECT_EQ(board.SocketChar(), '2');
    EXPECT_EQ(board.Chip().Rom, before.Rom);
    EXPECT_EQ(board.Chip().Eep, before.Eep);
}

TEST(VirtualBoard, ProgramOf16F84WritesWordsEepromConfigAndId)
{
    TVirtualBoard board;
    board.Chip().Rom.assign(TBoardChip::RomWords, 0);
    board.Chip().Eep.assign(TBoardChip::EepBytes, 0);
    board.Chip().Id = 0;
    board.Chip().Config = 0;

    std::vector<TStep> steps = Greeting;
    Append(steps, {{Start1, Text("P")},
                   {{0x0C, 0x32, 0x00, 0x40}, Text("WWWWWWWWY")},
                   {Select2, Text("Y")},
                   {{0x04}, Text("M")}});
    for (int i = 0; i < 16; ++i)
        steps.push_back({Word(PatternWord(i)), Text("M")});
    Append(steps, {{{0xFF, 0xFF}, {}}, {Start1, Text("P")}, {Select2, Text("Y")},
                   {{0x0A}, Text("M")}});
    for (int block = 0; block < 8; ++block) {
        TBytes bytes = Text("Y");
        for (int i = 0; i < 8; ++i)
            bytes.push_back(PatternByte(block * 8 + i));
        steps.push_back({bytes, Text("M")});
    }
    Append(steps, {{Text("N"), {}}, {Start1, Text("P")}, {Select2, Text("Y")},
                   {{0x07, 0x3F, 0xF2, 0xAB, 0xCD}, Text("Y")}, {End, Text("Q")}});
    RunSteps(board, steps);

    const TBoardChip &chip = board.Chip();
    for (int i = 0; i < TBoardChip::RomWords; ++i)
        ASSERT_EQ(chip.Rom[i], i < 16 ? PatternWord(i) : TBoardChip::ErasedWord) << i;
    for (int i = 0; i < TBoardChip::EepBytes; ++i)
        ASSERT_EQ(chip.Eep[i], i < 64 ? PatternByte(i) : TBoardChip::ErasedByte) << i;
    EXPECT_EQ(chip.Config, 0x3FF2);
    EXPECT_EQ(chip.Id, 0xABCD);
}

TEST(VirtualBoard, ProgramOf12C671TakesTheOtpPath)
{
    TVirtualBoard board;
    std::vector<TStep> steps = Greeting;
    Append(steps, {{Start1, Text("P")}, {Select2, Text("Y")}, {{0x0B, 0x04, 0x00}, Text("Y")},
                   {End, Text("Q")}, {Start1, Text("P")}, {Select2, Text("Y")},
                   {{0x03}, Text("M")}});
    for (int i = 0; i < 1024; ++i)
        steps.push_back({Word(PatternWord(i)), Text("M")});
    Append(steps, {{{0xFF, 0xFF}, {}}, {Start1, Text("P")}, {Select2, Text("Y")},
                   {{0x06, 0x3F, 0x84, 0x12, 0x34}, Text("Y")}, {End, Text("Q")}});
    RunSteps(board, steps);

    for (int i = 0; i < 1024; ++i)
        ASSERT_EQ(board.Chip().Rom[i], PatternWord(i)) << i;
    EXPECT_EQ(board.Chip().Rom[1024], TBoardChip::ErasedWord);
    EXPECT_EQ(board.Chip().Config, 0x3F84);
    EXPECT_EQ(board.Chip().Id, 0x1234);
}

TEST(VirtualBoard, OtpWordsCanOnlyLoseBits)
{
    struct TCase
    {
        uint16_t Old, New;
        TBytes Reply;
        uint16_t Stored;
    };
    // Address 0x0102: the failure names it as high, filler, low byte.
    const TBytes failed = {'F', 0x01, 0x00, 0x02};
    const TCase cases[] = {
        {0x1234, 0x3FFF, failed, 0x1234},
        {0x1234, 0x1230, Text("M"), 0x1230},
        {0x1234, 0x1234, Text("M"), 0x1234},
        {0x0000, 0x0001, failed, 0x0000},
    };
    for (const TCase &c : cases) {
        TVirtualBoard board;
        board.Chip().Rom[0x102] = c.Old;
        board.Feed(Cat(Start1, {0x03}));
        for (int i = 0; i < 0x102; ++i)
            board.Feed(Word(TBoardChip::ErasedWord));
        board.TakeOutput();
        board.Feed(Word(c.New));
        EXPECT_EQ(board.TakeOutput(), c.Reply) << std::hex << c.Old << " <- " << c.New;
        EXPECT_EQ(board.Chip().Rom[0x102], c.Stored);
    }

    // The same words through 0x04 are simply stored.
    TVirtualBoard board;
    board.Chip().Rom[0] = 0x1234;
    board.Feed(Cat(Cat(Start1, {0x04}), Word(0x3FFF)));
    EXPECT_EQ(board.TakeOutput(), Text("PMM"));
    EXPECT_EQ(board.Chip().Rom[0], 0x3FFF);
}

TEST(VirtualBoard, OtpConfigAndIdCanOnlyLoseBits)
{
    struct TCase
    {
        uint16_t OldConfig, OldId, NewConfig, NewId;
        TBytes Reply;
    };
    const TCase cases[] = {
        {0x3FFF, 0xFFFF, 0x3F84, 0x1234, Text("Y")},
        {0x3F84, 0xFFFF, 0x3FFF, 0x1234, Text("F")},
        {0x3FFF, 0x1234, 0x3F84, 0xFFFF, Text("I")},
        {0x3F84, 0x1234, 0x3FFF, 0xFFFF, Text("I")}, // the ID is reported first
    };
    for (const TCase &c : cases) {
        TVirtualBoard board;
        board.Chip().Config = c.OldConfig;
        board.Chip().Id = c.OldId;
        board.Feed(Cat({0x06}, Cat(Word(c.NewConfig), Word(c.NewId))));
        EXPECT_EQ(board.TakeOutput(), c.Reply);
        EXPECT_EQ(board.Chip().Config, c.OldConfig & c.NewConfig);
        EXPECT_EQ(board.Chip().Id, c.OldId & c.NewId);
    }
}

TEST(VirtualBoard, BlankTestChecksProgramThenIdThenConfig)
{
    struct TCase
    {
        const char *Name;
        void (*Spoil)(TBoardChip &);
        char Reply;
    };
    const TCase cases[] = {
        {"erased", [](TBoardChip &) {}, 'Y'},
        {"last word", [](TBoardChip &c) { c.Rom[1023] = 0; }, 'R'},
        {"beyond size", [](TBoardChip &c) { c.Rom[1024] = 0; }, 'Y'},
        {"id", [](TBoardChip &c) { c.Id = 0x1234; }, 'I'},
        {"config", [](TBoardChip &c) { c.Config = 0x3F84; }, 'F'},
        {"rom and id", [](TBoardChip &c) { c.Rom[0] = 0; c.Id = 0; }, 'R'},
        {"id and config", [](TBoardChip &c) { c.Id = 0; c.Config = 0; }, 'I'},
    };
    for (const TCase &c : cases) {
        TVirtualBoard board;
        c.Spoil(board.Chip());
        board.Feed({0x0B, 0x04, 0x00});
        EXPECT_EQ(board.TakeOutput(), TBytes{static_cast<uint8_t>(c.Reply)}) << c.Name;
    }
}

TEST(VirtualBoard, BulkEraseBlanksTheWholeChip)
{
    TVirtualBoard board;
    board.Chip().Rom.assign(TBoardChip::RomWords, 0);
    board.Chip().Eep.assign(TBoardChip::EepBytes, 0);
    board.Chip().Id = 0;
    board.Chip().Config = 0;
    board.Feed({0x0C, 0x35, 0x00, 0x00});
    EXPECT_EQ(board.TakeOutput(), Text("Y"));
    EXPECT_EQ(board.SocketChar(), '5');
    const TBoardChip erased;
    EXPECT_EQ(board.Chip().Rom, erased.Rom);
    EXPECT_EQ(board.Chip().Eep, erased.Eep);
    EXPECT_EQ(board.Chip().Id, 0xFFFF);
    EXPECT_EQ(board.Chip().Config, 0x3FFF);

    board.Feed({0x0C, 0x35, 0x01, 0x00});
    EXPECT_EQ(board.TakeOutput(), Cat(TBytes(32, 'W'), Text("Y")));
}

TEST(VirtualBoard, AbortAndStrayBytesReturnToCommandMode)
{
    TVirtualBoard board;
    RunSteps(board, {{{0x0A}, Text("M")},
                {{0x0D}, {}}, // Abort ends the EEPROM stream
                {End, Text("Q")},
                {{0x0A}, Text("M")},
                {{0x42}, Text("X")}, // neither "Y" nor "N"
                {{0x42}, Text("X")}, // an unknown command
                {{0x0D}, {}},
                {Text("Y"), {}},
                {End, Text("Q")}});
    // Inside a program word 0x0D is data.
    RunSteps(board, {{{0x04}, Text("M")}, {{0x0D, 0x0D}, Text("M")}, {{0xFF, 0xFF}, {}}});
    EXPECT_EQ(board.Chip().Rom[0], 0x0D0D);
}

TEST(VirtualBoard, EachFaultSwitchActs)
{
    struct TCase
    {
        const char *Name;
        TBoardFaults Faults;
        std::vector<TStep> Steps;
    };
    auto faults = [](auto set) {
        TBoardFaults f;
        set(f);
        return f;
    };
    const TBytes config = {0x07, 0x3F, 0xF2, 0x12, 0x34};
    const std::vector<TCase> cases = {
        {"silent from 3", faults([](TBoardFaults &f) { f.SilentFrom = 3; }),
         {{{0x01}, Text("PP")}, {Text("Y"), {}}, {Start1, {}}, {End, {}}}},
        {"X at 2", faults([](TBoardFaults &f) { f.XAt = 2; }),
         {{Start1, Text("P")}, {{0x04}, Text("X")}, {End, Text("Q")}}},
        {"X at a word", faults([](TBoardFaults &f) { f.XAt = 3; }),
         {{{0x04}, Text("M")}, {Word(1), Text("M")}, {Word(2), Text("X")}, {End, Text("Q")}}},
        {"X on read block", faults([](TBoardFaults &f) { f.XOnCommand = 0x05; }),
         {{Start1, Text("P")}, {{0x05}, Text("X")}, {{0x05}, Text("X")},
          {{0x08}, {0xFF, 0xFF, 0x3F, 0xFF}}}},
        {"wrong byte at 2", faults([](TBoardFaults &f) { f.WrongAt = 2; f.WrongByte = '?'; }),
         {{Start1, Text("P")}, {{0x04}, Text("?")}, {End, Text("Q")}}},
        {"wrong byte in a block", faults([](TBoardFaults &f) { f.WrongAt = 1; }),
         {{{0x08}, {'Z', 0xFF, 0x3F, 0xFF}}}},
        {"failed word", faults([](TBoardFaults &f) { f.FailWordAt = 1; }),
         {{{0x04}, Text("M")}, {Word(0x1111), Text("M")}, {Word(0x2222), {'F', 0, 0, 1}},
          {End, Text("Q")}}},
        {"failed EEPROM byte", faults([](TBoardFaults &f) { f.FailEepAt = 9; }),
         {{{0x0A}, Text("M")}, {Cat(Text("Y"), TBytes(8, 1)), Text("M")},
          {Cat(Text("Y"), TBytes(8, 2)), {'N', 10}}, {End, Text("Q")}}},
        {"failed ID", faults([](TBoardFaults &f) { f.FailId = true; }), {{config, Text("I")}}},
        {"failed config", faults([](TBoardFaults &f) { f.FailConfig = true; }),
         {{config, Text("F")}}},
        {"corrupt word", faults([](TBoardFaults &f) { f.CorruptWordAt = 1; }),
         {{{0x04}, Text("M")}, {Word(0x1111), Text("M")}, {Word(0x2222), Text("M")},
          {{0xFF, 0xFF}, {}}, {Start1, Text("P")},
          {{0x05}, Words({0x1111, 0x2223, 0x3FFF, 0x3FFF, 0x3FFF, 0x3FFF, 0x3FFF, 0x3FFF})}}},
        {"Q lost from the second End", faults([](TBoardFaults &f) { f.LoseQFrom = 2; }),
         {{End, Text("Q")}, {Start1, Text("P")}, {End, {}}, {End, {}}}},
        {"new chip after the first End", faults([](TBoardFaults &f) { f.NewChipAfter = 1; }),
         {{{0x04}, Text("M")}, {Word(0x1111), Text("M")}, {{0xFF, 0xFF}, {}}, {End, Text("Q")},
          {Start1, Text("P")}, {{0x05}, Words(std::vector<uint16_t>(8, 0x3FFF))}}},
    };
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.Name);
        TVirtualBoard board(c.Faults);
        RunSteps(board, c.Steps);
        // A failed write leaves the cell as it was.
        const TBoardChip &chip = board.Chip();
        EXPECT_EQ(chip.Rom[1], c.Faults.FailWordAt == 1 ? TBoardChip::ErasedWord : chip.Rom[1]);
        EXPECT_EQ(chip.Eep[9], c.Faults.FailEepAt == 9 ? TBoardChip::ErasedByte : chip.Eep[9]);
        EXPECT_EQ(chip.Id, c.Faults.FailId ? TBoardChip::ErasedId : chip.Id);
        EXPECT_EQ(chip.Config, c.Faults.FailConfig ? TBoardChip::ErasedConfig : chip.Config);
        EXPECT_EQ(chip.Rom[1], c.Faults.CorruptWordAt == 1 ? 0x2223 : chip.Rom[1]);
    }
}

TEST(VirtualBoard, TraceGroupsEachDirection)
{
    TVirtualBoard board;
    board.SetTraceEnabled(true);
    board.Feed({0x01, 'Y', 0x00, 0x31, 0x08});
    const auto &entries = board.Trace().Entries();
    ASSERT_EQ(entries.size(), 6u);
    EXPECT_EQ(entries[2].Dir, TTraceDir::Host);
    EXPECT_EQ(entries[2].Bytes, TBytes({'Y', 0x00, 0x31}));
    EXPECT_EQ(FormatTrace(entries), "   0.000 host  01\n"
                                    "   0.000 board \"PP\"\n"
                                    "   0.000 host  59 00 31\n"
                                    "   0.000 board \"P\"\n"
                                    "   0.000 host  08\n"
                                    "   0.000 board FF FF 3F FF\n");
    EXPECT_EQ(FormatTraceLine({TTraceDir::Board, {'F', 0x01, 0x00, 0x02}, 12.3456}),
              "  12.346 board \"F\" 01 00 02");
}

TEST(VirtualBoard, ImageComesFromAnInhx8mFile)
{
    const std::string path = ScratchPath("board-image.hex");
    {
        std::ofstream out(path);
        out << HexRecord(0x0000, {0x05, 0x28, 0xF0, 0x3F}) << "\n"
            << HexRecord(0x4000, {0x01, 0x00, 0x02, 0x00, 0x03, 0x00, 0x04, 0x00}) << "\n"
            << HexRecord(0x400E, {0xF1, 0x3F}) << "\n"
            << HexRecord(0x4200, {0x11, 0x00, 0x22, 0x00}) << "\n"
            << ":00000001FF\n";
    }
    TBoardChip chip;
    ASSERT_EQ(LoadBoardImage(chip, path), "");
    EXPECT_EQ(chip.Rom[0], 0x2805);
    EXPECT_EQ(chip.Rom[1], 0x3FF0);
    EXPECT_EQ(chip.Rom[2], TBoardChip::ErasedWord);
    EXPECT_EQ(chip.Id, 0x1234);
    EXPECT_EQ(chip.Config, 0x3FF1);
    EXPECT_EQ(chip.Eep[0], 0x11);
    EXPECT_EQ(chip.Eep[1], 0x22);
    EXPECT_EQ(chip.Eep[2], TBoardChip::ErasedByte);

    chip.Rom[0] = 0;
    EXPECT_NE(LoadBoardImage(chip, path + ".missing"), "");
    EXPECT_EQ(chip.Rom[0], 0); // a refused file changes nothing
    std::remove(path.c_str());
}

} // namespace
