#include "link/BoardLink.h"

#include "LinkFakes.h"
#include "core/WorkState.h"
#include "board/VirtualBoard.h"
#include "link/BoardTexts.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

std::string Bytes(std::initializer_list<int> list)
{
    std::string text;
    for (int b : list)
        text += static_cast<char>(b);
    return text;
}

std::string Repeat(const std::string &part, int times)
{
    std::string text;
    for (int i = 0; i < times; ++i)
        text += part;
    return text;
}

struct TChipKind
{
    int RomSize, EepSize, SocketType;
    char Family;
};
const TChipKind F84 = {1024, 64, 2, '1'};
const TChipKind C671 = {1024, 0, 1, '1'};
const TChipKind F877 = {8192, 256, 5, '0'};

class LinkTest : public ::testing::Test
{
protected:
    TLog Log;
    TWorkState Ws;
    TScriptLine Line{Log};
    TRecPanel Panel{Log};
    TRecUi Ui{Log};
    TBoardLink Link{Ws, Panel, Ui, Line};
    TVirtualBoard Board;
    TBoardChip &Mem = Board.Chip();

    void Chip(const TChipKind &chip)
    {
        Ws.RomSize = chip.RomSize;
        Ws.EepSize = chip.EepSize;
        Ws.SocketType = chip.SocketType;
        Ws.FamilyChar = chip.Family;
        Ws.SocketChar = chip.SocketType <= 2 ? '2' : '1';
    }
    void AttachBoard()
    {
        Board.SetReplySink([this](const std::vector<uint8_t> &reply) {
            Line.Queue.insert(Line.Queue.end(), reply.begin(), reply.end());
        });
        Line.OnWrite = [this](const std::string &bytes) {
            Board.Feed(std::vector<uint8_t>(bytes.begin(), bytes.end()));
        };
    }
    // Board bytes in one receive event.
    void Rx(const std::string &bytes)
    {
        Line.Queue.insert(Line.Queue.end(), bytes.begin(), bytes.end());
        Line.Released = Line.Queue.size();
        Link.Serial1RxData();
    }
    // Delivers the board's answers in receive events of at most chunk bytes.
    void Pump(size_t chunk)
    {
        for (int guard = 0; !Line.Queue.empty() && guard < 100000; ++guard) {
            Line.Released = std::min(chunk, Line.Queue.size());
            Link.Serial1RxData();
        }
    }
    // Idle again, with nothing logged or sent, for the next case of a table.
    void Fresh()
    {
        Ws.ResetVars(Panel);
        Log.clear();
        Line.Sent.clear();
    }
    // Puts a running operation at step without its earlier replies.
    void At(bool TWorkState::*flag, int step)
    {
        Ws.*flag = true;
        Ws.Busy = flag != &TWorkState::EraseRun && flag != &TWorkState::BlankRun;
        Ws.OpStep = step;
    }
    void Image(int words, int bytes)
    {
        Ws.RomData.clear();
        Ws.EepData.clear();
        for (int i = 0; i < words; ++i)
            Ws.RomData.push_back(std::to_string((i * 37 + 1) & 0x3FFF));
        for (int i = 0; i < bytes; ++i)
            Ws.EepData.push_back(std::to_string((i * 5 + 3) & 0xFF));
    }
    bool Ready() const
    {
        return Ws.OpStep == -1 && !Ws.AnyOperationFlag() && !Ws.Busy && !Ws.CancelAsked
               && Panel.Status == "Program Ready";
    }
    TLog Boxes() const { return Only(Log, {"box:"}); }
    // Program words sent: two-byte writes between Write program memory and
    // the end marker.
    int WordsSent() const
    {
        int words = 0;
        bool inside = false;
        for (const std::string &e : Log) {
            if (e == "c:04" || e == "c:03")
                inside = true;
            else if (e == "s:FF FF")
                inside = false;
            else if (inside && e.size() == 7 && e[0] == 's')
                ++words;
        }
        return words;
    }
};

// Start routine, watchdog, ICSP

TEST_F(LinkTest, StartChoosesSocketAndTakesTheIdField)
{
    const struct
    {
        TChipKind Chip;
        bool Icsp;
        const char *IdIn;
        char Socket;
        const char *IdOut;
        int IdValue;
    } cases[] = {
        {C671, false, "", '2', "FFFF", 0xFFFF}, {C671, true, "A", '1', "FFFA", 0xFFFA},
        {F84, false, "12", '2', "FF12", 0xFF12},
        {{4096, 0, 3, '1'}, false, "1B3", '1', "F1B3", 0xF1B3},
        {F877, false, "12G4", '1', "12G4", 0x12F4},
    };
    for (const auto &c : cases) {
        Chip(c.Chip);
        Ws.IcspOn = c.Icsp;
        Panel.Id = c.IdIn;
        Line.Sent.clear();
        Link.EnableProgrammer();
        EXPECT_EQ(Ws.SocketChar, c.Socket) << c.IdIn;
        EXPECT_EQ(Panel.Id, c.IdOut);
        EXPECT_EQ(Ws.IdValue, c.IdValue);
        EXPECT_EQ(Line.Sent, Bytes({0x00, c.Chip.Family}));
        EXPECT_TRUE(Panel.TimerOn);
        EXPECT_FALSE(Panel.PanelsEnabled);
        EXPECT_EQ(Ws.OpStep, 0);
    }
}

TEST_F(LinkTest, IcspToggleIsRefusedDuringPlacementAndOperations)
{
    EXPECT_TRUE(Link.ICSPbuttClick());
    EXPECT_EQ(TBoardLink::IcspCaption(true), "&ICSP - ON");
    Ws.Busy = true;
    EXPECT_TRUE(Link.ICSPbuttClick());
    Ws.Busy = false;
    Panel.Placement = true;
    EXPECT_TRUE(Link.ICSPbuttClick());
    Panel.Placement = false;
    EXPECT_FALSE(Link.ICSPbuttClick());
    EXPECT_EQ(TBoardLink::IcspCaption(false), "&ICSP - OFF");
}

// Whole operations against the answering board, byte for byte

class LinkChunks : public LinkTest, public ::testing::WithParamInterface<size_t>
{
};

TEST_P(LinkChunks, ProgramOf16F84WithProgEnd16ThenReadAndVerify)
{
    Chip(F84);
    AttachBoard();
    Image(16, 64);
    Ws.RomData.resize(1024, BlankWord);
    Ws.FuseWord = 0x3FF1;
    Panel.Id = "1234";
    Link.ProgButtClick();
    EXPECT_EQ(Ws.ProgEnd, 16);
    Pump(GetParam());
    const std::string start = Bytes({0x00, 0x31}), select = Bytes({0x02, 0x32});
    std::string words, blocks;
    for (int i = 0; i < 16; ++i)
        words += Bytes({((i * 37 + 1) & 0x3FFF) >> 8, (i * 37 + 1) & 0xFF});
    for (int b = 0; b < 8; ++b) {
        blocks += "Y";
        for (int i = b * 8; i < b * 8 + 8; ++i)
            blocks += static_cast<char>((i * 5 + 3) & 0xFF);
    }
    EXPECT_EQ(HexBytes(Line.Sent),
              HexBytes(start + Bytes({0x0C, 0x32, 0x00, 0x40}) + select + "\x04" + words
                       + "\xFF\xFF" + start + select + "\x0A" + blocks + "N" + start + select
                       + Bytes({0x07, 0x3F, 0xF1, 0x12, 0x34, 0x0E})));
    // The watchdog sleeps through the 300 and 500 ms pauses, not the 200.
    EXPECT_EQ(Only(Log, {"pause", "timer", "box"}),
              (TLog{"timer:stop", "timer:start", "timer:stop", "timer:start", "pause:200",
                    "timer:stop", "pause:300", "timer:start", "timer:stop", "pause:500",
                    "timer:start", "timer:stop", "box:info:Programming complete.",
                    "timer:stop", "timer:start", "timer:stop"}));
    EXPECT_TRUE(Ready());

    const std::vector<std::string> image = Ws.RomData, eeprom = Ws.EepData;
    Line.Sent.clear();
    Log.clear();
    Link.ReadButtClick();
    Pump(GetParam());
    EXPECT_EQ(HexBytes(Line.Sent), HexBytes(start + select + Repeat("\x05", 128) + "\x0E" + start
                                            + select + Repeat("\x09", 8) + "\x08\x0E"));
    EXPECT_EQ(Ws.RomData, image);
    EXPECT_EQ(Ws.EepData, eeprom);
    EXPECT_EQ(Ws.IdValue, 0x1234);
    EXPECT_EQ(Ws.FuseWord, 0x3FF1);
    EXPECT_TRUE(Ws.NewDataListed);
    EXPECT_EQ(Only(Log, {"pause", "box", "pad:redraw", "fuses"}),
              (TLog{"fuses", "pause:500", "pad:redraw", "fuses"}));
    EXPECT_TRUE(Ready());
    EXPECT_FALSE(Panel.TimerOn);
    Log.clear();
    Link.VerfButtClick();
    Pump(GetParam());
    EXPECT_EQ(Boxes(), TLog{"box:info:Data verified."});
}

TEST_P(LinkChunks, ProgramOf12C671WithOscCalWord)
{
    Chip(C671);
    AttachBoard();
    Image(1024, 0);
    Ws.RomData[1023] = std::to_string(0x3480);
    Ws.FuseWord = 0x3F94;
    Panel.Id = "00AB";
    Link.ProgButtClick();
    EXPECT_EQ(Ws.ProgEnd, 1024);
    Pump(GetParam());
    const std::string open = Bytes({0x00, 0x31, 0x02, 0x32});
    std::string words;
    for (int i = 0; i < 1024; ++i) {
        const int w = i == 1023 ? 0x3480 : (i * 37 + 1) & 0x3FFF;
        words += Bytes({w >> 8, w & 0xFF});
    }
    EXPECT_EQ(HexBytes(Line.Sent), HexBytes(open + Bytes({0x0B, 0x04, 0x00, 0x0E}) + open + "\x03"
                                            + words + "\xFF\xFF" + open
                                            + Bytes({0x06, 0x3F, 0x94, 0x00, 0xAB, 0x0E})));
    EXPECT_EQ(Only(Log, {"pause", "box"}),
              (TLog{"pause:500", "pause:500", "box:info:Programming complete."}));
    EXPECT_TRUE(Ready());

    // Without EEPROM the read goes from the last block straight to the ID.
    const std::vector<std::string> image = Ws.RomData;
    Line.Sent.clear();
    Link.ReadButtClick();
    Pump(GetParam());
    EXPECT_EQ(HexBytes(Line.Sent), HexBytes(open + Repeat("\x05", 128) + "\x08\x0E"));
    EXPECT_EQ(Ws.RomData, image);
    EXPECT_EQ(Ws.IdValue, 0x00AB);
}

INSTANTIATE_TEST_SUITE_P(Pieces, LinkChunks, ::testing::Values(1, 5, 1000));

// Reply tables: serial data errors and rows that wait

TEST_F(LinkTest, UnexpectedReplyRaisesSerialDataError)
{
    const struct
    {
        bool TWorkState::*Flag;
        std::vector<int> Steps;
    } cases[] = {
        {&TWorkState::ReadRun, {0, 2, 4, 5, 7}},
        {&TWorkState::VerifyRun, {0, 3, 5, 6}},
        {&TWorkState::EraseRun, {0, 1}},
        {&TWorkState::BlankRun, {0, 3}},
        {&TWorkState::EraseProgramRun, {0, 1, 3, 4, 5, 7, 8, 9, 11}},
        {&TWorkState::ProgramRun, {0, 2, 4, 5, 7, 8, 9}},
    };
    Chip(F84);
    for (const auto &c : cases) {
        for (int step : c.Steps) {
            for (const char *reply : {"Z", "X"}) {
                Image(8, 8);
                Log.clear();
                At(c.Flag, step);
                Rx(reply);
                EXPECT_EQ(Only(Log, {"beep", "c:", "s:", "box"}),
                          (TLog{"beep", "c:0D", "box:error:Serial data error."}))
                    << step << reply;
                EXPECT_TRUE(Ready());
                // Only a read drops what it took.
                EXPECT_EQ(Ws.RomData.empty(), c.Flag == &TWorkState::ReadRun);
            }
        }
    }
}

TEST_F(LinkTest, RowsThatWaitKeepTheBytes)
{
    const struct
    {
        bool TWorkState::*Flag;
        int Step;
        std::string Held;
    } cases[] = {
        {&TWorkState::ReadRun, 2, "YY"},           {&TWorkState::ReadRun, 3, std::string(15, 1)},
        {&TWorkState::ReadRun, 3, std::string(17, 1)}, {&TWorkState::ReadRun, 9, "abc"},
        {&TWorkState::VerifyRun, 8, "YZ"},          {&TWorkState::VerifyRun, 8, "Z"},
        {&TWorkState::VerifyRun, 9, std::string(9, 1)}, {&TWorkState::EraseProgramRun, 4, "F\x01"},
        {&TWorkState::EraseProgramRun, 4, "F\x01\x02"}, {&TWorkState::ProgramRun, 8, "F"},
        {&TWorkState::EraseProgramRun, 8, "N"},    {&TWorkState::ProgramRun, 11, "Z"},
        {&TWorkState::ProgramRun, 6, "P"},         {&TWorkState::ReadRun, 1, "P"},
    };
    Chip(F84);
    for (const auto &c : cases) {
        Fresh();
        At(c.Flag, c.Step);
        Rx(c.Held);
        EXPECT_EQ(Only(Log, {"c:", "s:", "box", "beep"}), TLog{}) << c.Step << c.Held;
        EXPECT_EQ(Ws.OpStep, c.Step);
        EXPECT_EQ(Ws.RxCount, static_cast<int>(std::min<size_t>(c.Held.size(), 19)));
    }
}

TEST_F(LinkTest, ProgramBlockInPiecesIsTakenOnceComplete)
{
    Chip(F84);
    At(&TWorkState::ReadRun, 3);
    Rx(std::string(5, '\x3F'));
    Rx(std::string(10, '\x3F'));
    EXPECT_TRUE(Ws.RomData.empty());
    Rx("\x3F");
    EXPECT_EQ(Ws.RomData, std::vector<std::string>(8, "16191"));
    EXPECT_EQ(Line.Sent, "\x05");
    EXPECT_EQ(Ws.XferAddr, 8);
    // Past 19 bytes each further byte overwrites the last position.
    Rx(std::string(24, '\x01') + "\x02");
    EXPECT_EQ(Ws.RxCount, 19);
    EXPECT_EQ(Ws.RxBuf[18], 1);
    EXPECT_EQ(Ws.RxBuf[19], 2);
    EXPECT_EQ(Ws.RxBuf[20], 0);
    EXPECT_EQ(Line.Sent, "\x05");
}

// Idle handling

// The announcement "PP" is answered and "BL" ignored; a power-on glitch or any
// stray byte in front of them is dropped; "X" and "Q" keep their meaning
// wherever they stand.
TEST_F(LinkTest, IdleBytes)
{
    struct TCase
    {
        std::string What;
        std::vector<std::string> Events; // board bytes, one receive event each
        std::string Sent;
        int Held;                        // RxCount afterwards
    };
    std::vector<TCase> cases = {
        {"announcement in two events", {"P", "P"}, "Y", 0},
        {"BL", {"BL"}, "", 0},
        {"glitch before PP", {std::string("\0PP", 3)}, "Y", 0},
        {"glitch alone first", {"\xFF", "PP"}, "Y", 0},
        {"P then noise", {std::string("P\0PP", 4)}, "Y", 0},
        {"more noise than the buffer holds", {Repeat(std::string("\0\xFF", 2), 15), "PP"}, "Y", 0},
        {"noise before BL", {std::string("\0BL", 3)}, "", 0},
        {"P waits for its pair", {"ZP"}, "", 1},
        {"B waits for its L", {"\x80" "B"}, "", 1},
        {"X behind a glitch", {std::string("\0X", 2)}, "\x0D", 0},
        {"Q behind a glitch", {std::string("\0Q", 2)}, "", 0},
    };
    for (int pos = 0; pos < 22; ++pos) {
        const std::string noise(static_cast<size_t>(pos), 'A');
        cases.push_back({"X behind " + std::to_string(pos), {noise + 'X'}, "\x0D", 0});
        cases.push_back({"Q behind " + std::to_string(pos), {noise + 'Q'}, "", 0});
    }
    for (const auto &c : cases) {
        SCOPED_TRACE(c.What);
        Ws.CleanRxBuffer();
        Log.clear();
        Line.Sent.clear();
        for (const std::string &bytes : c.Events)
            Rx(bytes);
        EXPECT_EQ(HexBytes(Line.Sent), HexBytes(c.Sent));
        EXPECT_EQ(Ws.RxCount, c.Held);
        EXPECT_EQ(Boxes().size(), c.Sent == "\x0D" ? 1u : 0u);
        const TLog shown = {"c:59", "default", "boardpanel"};
        EXPECT_EQ(Only(Log, shown), c.Sent == "Y" ? shown : TLog{});
        const char last = c.Events.back().back();
        if (last == 'X' || last == 'Q') {
            EXPECT_EQ(Panel.Status, "Program Ready");
        }
    }
}

// Verify

TEST_F(LinkTest, VerifyMismatchesAndTheirOrder)
{
    Chip(F84);
    AttachBoard();
    const struct
    {
        std::function<void()> Change;
        TLog Expected;
    } cases[] = {
        {[this] { Mem.Rom[0x1A3] ^= 1; },
         {"beep", "box:error:ROM verify error at address 01A3", "timer:start", "c:0E"}},
        {[this] { Mem.Eep[0x2C] ^= 1; },
         {"c:0E", "beep", "box:error:EEPROM verify error at address 002C", "timer:start"}},
        {[this] { Mem.Id = 0x1235; Mem.Config = 0; },
         {"c:0E", "beep", "box:error:ID error.", "timer:start"}},
        {[this] { Mem.Config = 0x3FF0; },
         {"c:0E", "beep", "box:error:Fuse error.", "timer:start"}},
        {[this] { Ws.SoundAvailable = true; },
         {"c:0E", "sound:chek", "box:info:Data verified.", "timer:start"}},
        {[] {}, {"c:0E", "box:info:Data verified.", "timer:start"}},
    };
    for (const auto &c : cases) {
        Image(1024, 64);
        for (size_t i = 0; i < 1024; ++i)
            Mem.Rom[i] = static_cast<uint16_t>(std::stoi(Ws.RomData[i]));
        for (size_t i = 0; i < 64; ++i)
            Mem.Eep[i] = static_cast<uint8_t>(std::stoi(Ws.EepData[i]));
        Mem.Id = 0x1234;
        Mem.Config = 0x3FF1;
        Ws.FuseWord = 0x3FF1;
        Ws.SoundAvailable = false;
        Panel.Id = "1234";
        Log.clear();
        c.Change();
        Link.VerfButtClick();
        Pump(1000);
        TLog tail = Only(Log, {"beep", "box", "timer:start", "c:0E", "sound"});
        tail.erase(tail.begin(), tail.end() - static_cast<long>(c.Expected.size()));
        EXPECT_EQ(tail, c.Expected);
        EXPECT_TRUE(Ready());
        EXPECT_FALSE(Panel.TimerOn); // the board's "Q" ended the wait
    }
}

// Erase and blank test

TEST_F(LinkTest, EraseWithEepromRunsWithoutWatchdog)
{
    Chip(F84);
    Panel.Id = "1234";
    Link.EraseButtClick();
    EXPECT_EQ(Panel.Id, "FFFF");
    EXPECT_EQ(Panel.ProgressMax, 64);
    EXPECT_FALSE(Ws.Busy);
    Rx("P");
    EXPECT_FALSE(Panel.TimerOn);
    EXPECT_EQ(HexBytes(Line.Sent.substr(2)), "0C 32 00 40");
    Rx("W");
    Rx("WWY"); // several replies in one read are all taken
    EXPECT_EQ(Ws.XferAddr, 24);
    EXPECT_EQ(Line.Sent.back(), '\x0E');
    EXPECT_TRUE(Ready());
    // A whole 256-byte erase at once: more replies than the buffer holds.
    Chip(F877);
    Link.EraseButtClick();
    Rx("P");
    Rx(std::string(32, 'W') + "Y");
    EXPECT_EQ(Ws.XferAddr, 256);
    EXPECT_EQ(Line.Sent.back(), '\x0E');
    EXPECT_TRUE(Ready());
    EXPECT_TRUE(Panel.TimerOn);
}

// The watchdog gives up after its ticks; a bulk erase, a blank test and word
// streaming wait for the long-job guard, which soon gives up on a lost line.
TEST_F(LinkTest, SilentOrLostBoardEndsTheOperationAtItsGuard)
{
    const auto W = &TBoardLink::WaitTimerTimer, L = &TBoardLink::LongJobTimer;
    const auto Read = &TBoardLink::ReadButtClick, Erase = &TBoardLink::EraseButtClick;
    const int Lost = TBoardLink::LostLineLimit;
    const struct
    {
        const char *What;
        TChipKind Kind;
        void (TBoardLink::*Button)();
        std::vector<std::string> Events; // one receive event each
        std::string Again;               // restarts the count; empty: the line is lost
        void (TBoardLink::*Tick)();
        int Limit;
    } cases[] = {
        {"read, one block held", F84, Read, {"P", "Y", std::string(16, 1)},
         std::string(3, 1), W, TBoardLink::WatchdogLimit},
        {"bulk erase", F84, Erase, {"P", "W"}, "W", L, TBoardLink::LongJobLimit},
        {"bulk erase, lost", F84, Erase, {"P", "W"}, "", L, Lost},
        {"blank test, lost", C671, Erase, {"P", "Y"}, "", L, Lost},
        {"program, lost", C671, &TBoardLink::ProgButtClick, {"P", "Y"}, "", L, Lost},
        {"read, lost", F84, Read, {"P", "Y"}, "", L, Lost},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.What);
        Chip(c.Kind);
        Image(8, c.Kind.EepSize ? 8 : 0);
        Ws.NewDataListed = false;
        Log.clear();
        (Link.*c.Button)();
        for (const std::string &bytes : c.Events)
            Rx(bytes);
        if (c.Button == Read) { // a whole block is taken, the lost read has none
            ASSERT_EQ(Ws.RomData.size(), c.Again.empty() ? 0u : 8u);
        }
        Line.Lost = c.Again.empty();
        if (!Line.Lost) {
            EXPECT_EQ(Panel.TimerOn, c.Tick == W); // an erase runs without the watchdog
            for (int i = 0; i < c.Limit - 1; ++i)
                (Link.*c.Tick)();
            Rx(c.Again);
        }
        for (int i = 0; i < c.Limit - 1; ++i)
            (Link.*c.Tick)();
        EXPECT_TRUE(Boxes().empty());
        (Link.*c.Tick)();
        EXPECT_EQ(Boxes(), TLog{"box:error:" + NoResponseText()});
        EXPECT_TRUE(Ready());
        EXPECT_FALSE(Panel.TimerOn);
        if (c.Button == Read) {
            EXPECT_TRUE(Ws.RomData.empty());
        }
        Line.Lost = false;
        if (c.Tick == L) { // idle, the guard never acts
            for (int i = 0; i < 2 * TBoardLink::LongJobLimit; ++i)
                Link.LongJobTimer();
            EXPECT_EQ(Boxes().size(), 1u);
        }
    }
}

TEST_F(LinkTest, BytesBehindAFullBufferErrorWaitForTheNextEvent)
{
    // The board's "PP" sent while the error box was open is answered.
    Chip(F84);
    At(&TWorkState::EraseRun, 1);
    Rx("Z" + std::string(18, 'W') + "PP");
    EXPECT_EQ(Boxes(), TLog{"box:error:Serial data error."});
    EXPECT_EQ(Line.Queue.size(), 2u);
    Link.Serial1RxData();
    EXPECT_EQ(Line.Sent, std::string("\x0DY"));
}

// Programming: failures and questions

TEST_F(LinkTest, ProgrammingFailureMessages)
{
    const auto EP = &TWorkState::EraseProgramRun, P = &TWorkState::ProgramRun;
    // Board with EEPROM: End, watchdog stop, beep, box, finish, watchdog start.
    const auto eep = [](const std::string &box) {
        return TLog{"c:0E", "timer:stop", "beep", box, "timer:stop", "timer:start"};
    };
    // Cut short: the operation ends before the box, a missing address byte
    // reads "??", and nothing waits on the board afterwards.
    const TLog lateEep = {"c:0E", "timer:stop", "beep",
                          "box:error:ROM verify error at address 01??"};
    const TLog lateNoEep = {"timer:stop", "beep", "box:error:ROM verify error at address 01??"};
    const struct
    {
        bool TWorkState::*Flag;
        int Step;
        std::string Reply;
        int Ticks; // silent watchdog ticks after the reply
        TLog Expected;
    } cases[] = {
        {EP, 4, "F\x01\x02\x03", 0, eep("box:error:ROM verify error at address 0103")},
        // A whole "F" owes nothing, and an "X" in it is no abort.
        {EP, 4, std::string("F\x01\x00X", 4), 0,
         eep("box:error:ROM verify error at address 0158")},
        {P, 8, "F\x02\x07\x05", 0,
         {"timer:stop", "beep", "box:error:ROM verify error at address 0205"}},
        // "F" with its address short: taken after a whole tick without data.
        {EP, 4, "F\x01\x02", 1, {}},
        {EP, 4, "F\x01\x02", 2, lateEep},
        {P, 8, "F\x01", 2, lateNoEep},
        {P, 8, "F\x01\x00", 2, lateNoEep},
        {P, 8, "F", 2, {"timer:stop", "beep", "box:error:ROM verify error at address ????"}},
        {EP, 8, "N\x05", 0, eep("box:error:EEPROM verify error at address 0004")},
        // The last byte of a 256-byte EEPROM: address + 1 wraps to 0 in its byte.
        {EP, 8, std::string("N\0", 2), 0, eep("box:error:EEPROM verify error at address 00FF")},
        {EP, 12, "Y", 0, eep("box:info:Programming complete.")},
        {EP, 12, "I", 0, eep("box:error:Programming ID failed.")},
        {EP, 12, "Z", 0, eep("box:error:Programming fuse failed.")},
        {P, 12, "I", 0, {"timer:stop", "c:0E", "beep", "box:error:Programming ID failed.",
                         "timer:stop", "timer:start"}},
    };
    // Each case comes long after the last: no rest of a cut reply is owed.
    TBoardLink::TClock::time_point now{};
    Link.Now = [&now] { return now; };
    Chip(F84);
    for (const auto &c : cases) {
        now += std::chrono::hours(1);
        Fresh();
        Ws.RxBuf[3] = 0x55; // stale, where the address's last byte would be
        At(c.Flag, c.Step);
        Rx(c.Reply);
        for (int i = 0; i < c.Ticks; ++i)
            Link.WaitTimerTimer();
        EXPECT_EQ(Only(Log, {"c:", "s:", "beep", "box", "timer"}), c.Expected) << c.Reply;
        EXPECT_EQ(Ready(), !c.Expected.empty()) << c.Reply;
        if (c.Ticks == 0) {
            EXPECT_FALSE(Link.CutReplySettling()) << c.Reply;
        }
        if (!c.Expected.empty() && c.Expected.back() == "timer:start") {
            Rx("Q"); // End's answer ends the wait
            EXPECT_FALSE(Panel.TimerOn) << c.Reply;
        }
    }
}

// The board sends "F" and the address's high byte, stalls, and sends the
// rest later: whatever the rest holds (0x58 "X", 0x51 "Q"), it is dropped,
// also behind a new operation's Start, and nothing reports on the old one.
TEST_F(LinkTest, RestOfACutShortFailedWordIsDroppedWhenItComes)
{
    const auto EP = &TWorkState::EraseProgramRun, P = &TWorkState::ProgramRun;
    enum TWhen { AfterBox, DuringBox, BehindNextStart, AfterTheWatchdogPeriod };
    const struct
    {
        bool TWorkState::*Flag;
        int Step;
        uint8_t Low;
        TWhen When;
    } cases[] = {
        {EP, 4, 0x58, AfterBox},   {P, 8, 0x51, AfterBox},       {EP, 4, 0x51, DuringBox},
        {P, 8, 0x58, DuringBox},   {EP, 4, 0x58, BehindNextStart}, {P, 8, 0x23, BehindNextStart},
        {P, 8, 0x58, AfterTheWatchdogPeriod},
    };
    TBoardLink::TClock::time_point now{};
    Link.Now = [&now] { return now; };
    Chip(F84);
    for (const auto &c : cases) {
        SCOPED_TRACE(std::to_string(c.When) + (c.Flag == EP ? " EEPROM" : "") + " low "
                     + std::to_string(c.Low));
        Fresh();
        const bool endSent = c.Flag == EP;
        // What the board still owes: the filler, the low byte and End's "Q".
        const std::string rest = std::string(1, '\0') + char(c.Low) + (endSent ? "Q" : "");
        if (c.When == DuringBox)
            Ui.WhileBoxOpen = [&] { Rx(rest); };
        At(c.Flag, c.Step);
        Rx("F\x01");
        Link.WaitTimerTimer();
        Link.WaitTimerTimer();
        ASSERT_EQ(Boxes(), TLog{"box:error:ROM verify error at address 01??"});
        EXPECT_TRUE(Ready());
        EXPECT_FALSE(Panel.TimerOn);
        EXPECT_EQ(HexBytes(Line.Sent), endSent ? "0E" : "");
        Ui.WhileBoxOpen = nullptr;
        switch (c.When) {
        case AfterBox:
            now += std::chrono::milliseconds(TBoardLink::WatchdogPeriodMs - 1);
            Rx(rest);
            break;
        case DuringBox:
            break;
        case BehindNextStart:
            Link.ReadButtClick();
            Rx(rest + "P");
            EXPECT_EQ(Ws.OpStep, 2); // "P" taken, Select sent
            Ws.ResetVars(Panel);
            break;
        case AfterTheWatchdogPeriod:
            now += std::chrono::milliseconds(TBoardLink::WatchdogPeriodMs + 1);
            Rx(rest);
            EXPECT_EQ(Boxes().back(), "box:error:Serial data error.");
            continue;
        }
        EXPECT_FALSE(Link.CutReplySettling());
        EXPECT_EQ(Boxes().size(), 1u);
        EXPECT_EQ(Line.Sent.find('\x0D'), std::string::npos); // no Abort
        // Nothing left over: the board's next announcement is answered.
        Rx("PP");
        EXPECT_EQ(Line.Sent.back(), 'Y');
    }
}

// The blank test's answer: told after Erase on a chip without EEPROM, asked
// about before programming.
TEST_F(LinkTest, BlankTestAnswers)
{
    const auto Erase = &TBoardLink::EraseButtClick, Prog = &TBoardLink::ProgButtClick;
    const auto told = [](const char *signal, const std::string &box) {
        return signal ? TLog{signal, "c:0E", box, "timer:start"}
                      : TLog{"c:0E", box, "timer:start"};
    };
    const auto asked = [](const std::string &what) {
        return TLog{"box:ask:" + what + " is not blank. Continue?", "c:0E", "timer:start"};
    };
    const struct
    {
        void (TBoardLink::*Button)();
        char Reply;
        TAnswer Answer;
        TLog Expected;
    } cases[] = {
        {Erase, 'Y', TAnswer::Ok, told("sound:chek", "box:info:Chip is blank.")},
        {Erase, 'R', TAnswer::Ok, told("beep", "box:info:ROM is not blank.")},
        {Erase, 'I', TAnswer::Ok, told("beep", "box:info:ID is not blank.")},
        {Erase, 'F', TAnswer::Ok, told("beep", "box:info:Fuse is not blank.")},
        {Erase, '?', TAnswer::Ok, told(nullptr, "box:info: blank.")},
        {Prog, 'R', TAnswer::Yes, asked("ROM")},
        {Prog, 'I', TAnswer::No, asked("ID")},
        {Prog, 'F', TAnswer::Yes, asked("Fuse")},
        {Prog, '?', TAnswer::No, asked("")},
    };
    Chip(C671);
    for (const auto &c : cases) {
        SCOPED_TRACE((c.Button == Erase ? "erase " : "program ") + std::string(1, c.Reply));
        Fresh();
        Image(8, 0);
        Ws.SoundAvailable = c.Button == Erase;
        (Link.*c.Button)();
        Rx("P");
        Rx("Y");
        if (c.Button == Erase) {
            EXPECT_FALSE(Panel.TimerOn);
        }
        Log.clear();
        Ui.Answers = {c.Answer};
        Rx(std::string(1, c.Reply));
        EXPECT_EQ(Only(Log, {"beep", "sound", "c:", "box", "timer:start"}), c.Expected);
        EXPECT_EQ(Line.Sent.back(), '\x0E');
        EXPECT_TRUE(Panel.TimerOn);
        if (c.Answer == TAnswer::Yes) {
            EXPECT_EQ(Ws.OpStep, 4);
            EXPECT_EQ(Panel.Status, "Programming");
            Rx("Q");
            EXPECT_EQ(Line.Sent.substr(Line.Sent.size() - 2), Bytes({0x00, 0x31}));
            EXPECT_EQ(Ws.OpStep, 5);
        } else {
            EXPECT_TRUE(Ready());
        }
    }
}

TEST_F(LinkTest, CancelPoints)
{
    const auto R = &TWorkState::ReadRun, V = &TWorkState::VerifyRun,
               EP = &TWorkState::EraseProgramRun, P = &TWorkState::ProgramRun;
    const struct
    {
        bool TWorkState::*Flag;
        int Step, Xfer;
        std::string Reply, Sent;
        bool TimerAfter, ImageKept;
    } cases[] = {
        {R, 3, 0, std::string(16, 0), "\x0E", true, false},
        {R, 8, 0, std::string(8, 0), "\x0E", true, false},
        {V, 4, 0, std::string(16, 0), "\x0E", true, true},
        {V, 9, 0, std::string(8, 0), "\x0E", true, true},
        {EP, 1, 0, "Y", "\x0E", true, true},
        {EP, 4, 3, "M", "\xFF\xFF", false, true},
        {EP, 8, 0, "M", "Y" + std::string(8, 0), false, true}, // blocks still go out
        {EP, 8, 64, "M", "N", false, true},
        {P, 4, 0, "Q", "", false, true},
        {P, 8, 3, "M", "\xFF\xFF", false, true},
    };
    Chip(F84);
    for (const auto &c : cases) {
        Fresh();
        Ws.RomData.assign(1024, "0");
        Ws.EepData.assign(64, "0");
        Ws.ProgEnd = 16;
        At(c.Flag, c.Step);
        Ws.XferAddr = c.Xfer;
        Link.CancButtClick();
        ASSERT_TRUE(Ws.CancelAsked);
        Rx(c.Reply);
        EXPECT_EQ(HexBytes(Line.Sent), HexBytes(c.Sent)) << c.Step;
        EXPECT_TRUE(Boxes().empty());
        EXPECT_EQ(Panel.TimerOn, c.TimerAfter) << c.Step;
        EXPECT_EQ(!Ws.RomData.empty(), c.ImageKept);
        EXPECT_EQ(Ready(), c.Sent.size() != 9) << c.Step; // only a block goes on
    }
    // Cancel does nothing without Busy: idle, or during an erase.
    Ws.ResetVars(Panel);
    Link.CancButtClick();
    At(&TWorkState::EraseRun, 1);
    Link.CancButtClick();
    EXPECT_FALSE(Ws.CancelAsked);
}

// Operation buttons

TEST_F(LinkTest, CommandGuardRefusesAllFourButtons)
{
    const std::vector<std::function<void()>> blockers = {
        [this] { Panel.Placement = true; }, [this] { Ws.Busy = true; },
        [this] { Ws.RomSize = Ws.EepSize = 0; }, [this] { At(&TWorkState::EraseRun, 1); },
        [this] { At(&TWorkState::BlankRun, 4); }};
    const std::vector<std::function<void()>> buttons = {
        [this] { Link.ProgButtClick(); }, [this] { Link.ReadButtClick(); },
        [this] { Link.VerfButtClick(); }, [this] { Link.EraseButtClick(); }};
    for (const auto &block : blockers) {
        for (const auto &press : buttons) {
            Chip(F84);
            Fresh();
            Panel.Placement = false;
            Image(8, 8);
            block();
            const int step = Ws.OpStep;
            press();
            EXPECT_EQ(Line.Sent, "");
            EXPECT_TRUE(Boxes().empty());
            EXPECT_EQ(Ws.OpStep, step);
            EXPECT_EQ(Ws.RomData.size(), 8u);
        }
    }
}

TEST_F(LinkTest, NothingToProgramOrVerify)
{
    Chip(F84);
    Link.ProgButtClick();
    Link.VerfButtClick();
    EXPECT_EQ(Line.Sent, "");
    EXPECT_EQ(Only(Log, {"beep", "box"}), (TLog{"beep", "box:info:Nothing to program.", "beep",
                                                "box:info:Nothing to verify."}));
    // A blank image is found only after the start routine.
    Ws.RomData.assign(1024, BlankWord);
    Log.clear();
    Link.ProgButtClick();
    EXPECT_EQ(Line.Sent, Bytes({0x00, 0x31}));
    EXPECT_EQ(Only(Log, {"beep", "box"}), (TLog{"beep", "box:info:Nothing to program."}));
    EXPECT_TRUE(Ready());
    EXPECT_FALSE(Panel.TimerOn);
}

TEST_F(LinkTest, CodeProtectWarning)
{
    const std::string warning = "box:ask:WARNING - Code Protect fuse is set.\rIf chip is the OTP "
                                "or JW type you may not be able to re-use it.\rDo you wish to "
                                "continue?";
    Chip(C671);
    Image(8, 0);
    Ws.CodeProtectWarn = true;
    Panel.CodeProtectOn = true;
    Ui.Answers = {TAnswer::No};
    Link.ProgButtClick();
    EXPECT_EQ(Boxes(), TLog{warning});
    EXPECT_EQ(Line.Sent, "");
    Ui.Answers = {TAnswer::Yes};
    Link.ProgButtClick();
    EXPECT_EQ(Line.Sent, Bytes({0x00, 0x31}));
    EXPECT_TRUE(Ws.ProgramRun);
    EXPECT_EQ(Panel.Status, "Blank Testing");
    Fresh();
    Panel.CodeProtectOn = false;
    Link.ProgButtClick();
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(LinkTest, ProgEndFromTheLastWrittenWord)
{
    const struct
    {
        int Last, ProgEnd;
    } cases[] = {{0, 8}, {7, 8}, {8, 16}, {1020, 1024}};
    Chip(F84);
    AttachBoard();
    for (const auto &c : cases) {
        Ws.RomData.assign(1024, BlankWord);
        Ws.RomData[static_cast<size_t>(c.Last)] = "0";
        Log.clear();
        Link.ProgButtClick();
        EXPECT_EQ(Ws.ProgEnd, c.ProgEnd);
        EXPECT_EQ(Panel.Status, "Erasing chip");
        Pump(1000);
        EXPECT_EQ(WordsSent(), c.ProgEnd);
        EXPECT_EQ(Mem.Rom[static_cast<size_t>(c.Last)], 0);
        EXPECT_TRUE(Ready());
    }
}

TEST_F(LinkTest, ReadAsksToSaveNewData)
{
    const struct
    {
        TAnswer Answer;
        bool SaveWorks, Saved, Reads;
    } cases[] = {{TAnswer::Cancel, true, false, false},
                 {TAnswer::Yes, false, true, false},
                 {TAnswer::Yes, true, true, true},
                 {TAnswer::No, true, false, true}};
    Chip(F84);
    for (const auto &c : cases) {
        Fresh();
        Image(1024, 64);
        Ws.NewDataListed = true;
        Panel.SaveResult = c.SaveWorks;
        Ui.Answers = {c.Answer};
        Link.ReadButtClick();
        EXPECT_EQ(Boxes(), TLog{"box:ask:New data file listed. Do you wish to save it?"});
        EXPECT_EQ(Only(Log, {"save"}).size(), c.Saved ? 1u : 0u);
        EXPECT_EQ(Ws.ReadRun, c.Reads);
        EXPECT_EQ(Ws.RomData.empty(), c.Reads);
        EXPECT_EQ(Ws.NewDataListed, !c.Reads);
        if (c.Reads) {
            EXPECT_EQ(Panel.Status, "Reading");
            EXPECT_EQ(Ws.FuseWord, 0x3FFF);
            EXPECT_EQ(Ws.IdValue, 0xFFFF);
        }
    }
}

// Mends

// Program words go out and are compared as fourteen bits, EEPROM bytes as one
// byte; what the image lacks, or cannot read as a number, counts as blank.
TEST_F(LinkTest, ImageAsSentAndAsCompared)
{
    const std::vector<std::string> shortRom = {"1", "2", "x"}, shortEep = {"7"};
    const struct
    {
        const char *What;
        std::vector<std::string> Rom, Eep;
        int Step, Xfer;
        std::string Sent;
    } sent[] = {
        {"words above 14 bits", {"65535", "16384"}, {}, 4, 0, "3F FF 00 00"},
        {"words past the image", shortRom, shortEep, 4, 2, "3F FF 3F FF"},
        {"bytes past the image", shortRom, shortEep, 8, 0,
         "59 07 FF FF FF FF FF FF FF 59 FF FF FF FF FF FF FF FF"},
    };
    Chip(F84);
    for (const auto &c : sent) {
        Fresh();
        Ws.RomData = c.Rom;
        Ws.EepData = c.Eep;
        Ws.ProgEnd = 8;
        At(&TWorkState::EraseProgramRun, c.Step);
        Ws.XferAddr = c.Xfer;
        Rx("M");
        Rx("M");
        EXPECT_EQ(HexBytes(Line.Sent), c.Sent) << c.What;
    }
    const std::string blankBlock = Repeat("\x3F\xFF", 8);
    const struct
    {
        const char *What;
        std::vector<std::string> Rom, Eep;
        int Step, Xfer;
        std::string Reply;
        int StepAfter, XferAfter;
    } compared[] = {
        {"words above 14 bits", std::vector<std::string>(1024, "65535"), {}, 4, 0, blankBlock,
         4, 8},
        {"words past an EEPROM-only image", {}, {"256"}, 4, 1016, blankBlock, 5, 1024},
        {"byte as sent", {}, {"256"}, 9, 0, std::string(1, '\0') + std::string(7, '\xFF'), 9, 8},
    };
    for (const auto &c : compared) {
        Fresh();
        Ws.RomData = c.Rom;
        Ws.EepData = c.Eep;
        At(&TWorkState::VerifyRun, c.Step);
        Ws.XferAddr = c.Xfer;
        Rx(c.Reply);
        EXPECT_TRUE(Boxes().empty()) << c.What;
        EXPECT_EQ(Ws.OpStep, c.StepAfter) << c.What;
        EXPECT_EQ(Ws.XferAddr, c.XferAfter) << c.What;
    }
}

TEST_F(LinkTest, EventDuringABoxIsHandledAfterIt)
{
    Chip(C671);
    Ws.FuseWord = 0x3FFF;
    Ws.IdValue = 0xFFFF;
    At(&TWorkState::VerifyRun, 10);
    // The board's "Q" comes while "Data verified." is still open.
    Ui.WhileBoxOpen = [this] {
        Ui.WhileBoxOpen = nullptr;
        Rx("Q");
    };
    Rx("\xFF\xFF\x3F\xFF");
    EXPECT_EQ(Boxes(), TLog{"box:info:Data verified."});
    EXPECT_TRUE(Ready());
    EXPECT_FALSE(Panel.TimerOn);
}

} // namespace
