// Whole operations through the serial component and a pseudo-terminal
// against the virtual board, checked on the board's own trace.
#include "LinkSession.h"
#include "serial/SerialFixture.h"

#include <gtest/gtest.h>

#include <unistd.h>

namespace {

std::string B(std::initializer_list<int> list)
{
    std::string text;
    for (int b : list)
        text += static_cast<char>(b & 0xFF);
    return text;
}

std::string Times(const std::string &part, int n)
{
    std::string text;
    for (int i = 0; i < n; ++i)
        text += part;
    return text;
}

// What the host must send, command by command, for each operation.
struct TExpect
{
    TChipKind Chip;
    char Socket;

    std::string Open() const { return B({0x00, Chip.Family, 0x02, Socket}); }
    std::string Read() const
    {
        std::string text = Open() + Times("\x05", Chip.RomSize / 8);
        if (Chip.EepSize)
            text += "\x0E" + Open() + Times("\x09", Chip.EepSize / 8);
        return text + "\x08\x0E";
    }
    std::string RomMismatch(int addr) const
    {
        return Open() + Times("\x05", addr / 8 + 1) + "\x0E";
    }
    std::string Erase() const
    {
        if (Chip.EepSize)
            return B({0x00, Chip.Family, 0x0C, Socket, Chip.EepSize >> 8, Chip.EepSize, 0x0E});
        return Open() + B({0x0B, Chip.RomSize >> 8, Chip.RomSize, 0x0E});
    }
    std::string Program(const TWorkState &ws) const
    {
        std::string words;
        for (int i = 0; i < ws.ProgEnd; ++i) {
            const int w = std::stoi(ws.RomData[static_cast<size_t>(i)]);
            words += B({w >> 8, w});
        }
        const std::string fuses = B({ws.FuseWord >> 8, ws.FuseWord, ws.IdValue >> 8, ws.IdValue});
        if (!Chip.EepSize)
            return Open() + B({0x0B, Chip.RomSize >> 8, Chip.RomSize, 0x0E}) + Open() + "\x03"
                   + words + "\xFF\xFF" + Open() + "\x06" + fuses + "\x0E";
        std::string blocks;
        for (int a = 0; a < Chip.EepSize; a += 8) {
            blocks += "Y";
            for (int i = a; i < a + 8; ++i)
                blocks += static_cast<char>(std::stoi(ws.EepData[static_cast<size_t>(i)]));
        }
        return B({0x00, Chip.Family, 0x0C, Socket, Chip.EepSize >> 8, Chip.EepSize, 0x02, Socket,
                  0x04})
               + words + "\xFF\xFF" + Open() + "\x0A" + blocks + "N" + Open() + "\x07" + fuses
               + "\x0E";
    }
};

class LinkEndToEnd : public ::testing::Test
{
protected:
    void SetUp() override
    {
        char dir[] = "/tmp/varnel-linkXXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        TracePath = std::string(dir) + "/trace.txt";
        TBoardOptions options;
        options.TracePath = TracePath;
        S = std::make_unique<TLinkSession>(options);
        ASSERT_TRUE(S->Up());
    }
    void TearDown() override
    {
        S.reset();
        std::remove(TracePath.c_str());
        std::remove(TracePath.substr(0, TracePath.size() - 10).c_str());
    }

    // An image of `words` written words (the rest blank) and a full EEPROM.
    void Image(const TChipKind &chip, int words, int fuses, const char *id)
    {
        S->Chip(chip);
        S->Ws.RomData.assign(static_cast<size_t>(chip.RomSize), BlankWord);
        for (int i = 0; i < words; ++i)
            S->Ws.RomData[static_cast<size_t>(i)] = std::to_string((i * 131 + 7) & 0x3FFF);
        S->Ws.EepData.clear();
        for (int i = 0; i < chip.EepSize; ++i)
            S->Ws.EepData.push_back(std::to_string((i * 3 + 1) & 0xFF));
        S->Ws.FuseWord = fuses;
        S->Panel.Id = id;
    }
    bool Do(void (TBoardLink::*button)())
    {
        S->Log.clear();
        return S->Run([this, button] { (S->Link.*button)(); });
    }
    TLog Boxes() const { return Only(S->Log, {"box:"}); }
    // Program, read back and verify; the expected host bytes are appended.
    void ProgramReadVerify(const TExpect &expect, std::string &host)
    {
        ASSERT_TRUE(Do(&TBoardLink::ProgButtClick));
        EXPECT_EQ(Boxes(), TLog{"box:info:Programming complete."});
        host += expect.Program(S->Ws);
        const TWorkState before = S->Ws;
        S->Ws.NewDataListed = false; // the save question has its own tests
        ASSERT_TRUE(Do(&TBoardLink::ReadButtClick));
        EXPECT_TRUE(Boxes().empty());
        EXPECT_EQ(S->Ws.RomData, before.RomData);
        EXPECT_EQ(S->Ws.EepData, before.EepData);
        EXPECT_EQ(S->Ws.FuseWord, before.FuseWord);
        EXPECT_EQ(S->Ws.IdValue, before.IdValue);
        host += expect.Read();
        ASSERT_TRUE(Do(&TBoardLink::VerfButtClick));
        EXPECT_EQ(Boxes(), TLog{"box:info:Data verified."});
        host += expect.Read();
    }
    // The board's trace once the line is closed.
    TTraceBytes Trace()
    {
        S->Serial.SetActive(false);
        S->Server.Stop();
        return ReadTrace(TracePath);
    }

    std::string TracePath;
    std::unique_ptr<TLinkSession> S;
};

TEST_F(LinkEndToEnd, TwelveC671WithOscCalWordAndVerifyFailures)
{
    const TExpect expect{C671, '2'};
    Image(C671, 1023, 0x3F94, "1234");
    S->Ws.RomData[1023] = std::to_string(0x3480); // the OSCCAL RETLW
    std::string host;
    ProgramReadVerify(expect, host);
    EXPECT_EQ(S->Ws.ProgEnd, 1024);

    const struct
    {
        std::function<void(TBoardChip &)> Change;
        const char *Box;
        int Addr;
    } failures[] = {
        {[](TBoardChip &c) { c.Id = 0x1235; }, "box:error:ID error.", -1},
        {[](TBoardChip &c) { c.Config = 0x3F90; }, "box:error:Fuse error.", -1},
        {[](TBoardChip &c) { c.Rom[0x123] ^= 0x40; },
         "box:error:ROM verify error at address 0123", 0x123},
    };
    for (const auto &f : failures) {
        TBoardChip chip = S->Server.ChipSnapshot();
        const TBoardChip good = chip;
        f.Change(chip);
        S->Server.SetChip(chip);
        ASSERT_TRUE(Do(&TBoardLink::VerfButtClick));
        EXPECT_EQ(Boxes(), TLog{f.Box});
        host += f.Addr < 0 ? expect.Read() : expect.RomMismatch(f.Addr);
        S->Server.SetChip(good);
    }
    ASSERT_TRUE(Do(&TBoardLink::EraseButtClick));
    EXPECT_EQ(Boxes(), TLog{"box:info:ROM is not blank."});
    host += expect.Erase();

    const TTraceBytes trace = Trace();
    EXPECT_EQ(HexBytes(trace.Host), HexBytes(host));
    // The board's replies to the programming, byte for byte.
    const std::string board = "PYYQPY" + Times("M", 1025) + "PYYQ";
    EXPECT_EQ(trace.Board.substr(0, board.size()), board);
}

TEST_F(LinkEndToEnd, SixteenF84IcspOffThenOn)
{
    Image(F84, 9, 0x3FF1, "0A0B");
    std::string host;
    ProgramReadVerify({F84, '2'}, host);
    EXPECT_EQ(S->Ws.ProgEnd, 16);

    EXPECT_TRUE(S->Link.ICSPbuttClick());
    ASSERT_TRUE(Do(&TBoardLink::EraseButtClick));
    EXPECT_TRUE(Boxes().empty());
    EXPECT_EQ(S->Panel.Id, "FFFF");
    host += TExpect{F84, '1'}.Erase();
    S->Panel.Id = "0A0B";
    ASSERT_TRUE(Do(&TBoardLink::VerfButtClick));
    EXPECT_EQ(Boxes(), TLog{"box:error:ROM verify error at address 0000"});
    host += TExpect{F84, '1'}.RomMismatch(0);
    ProgramReadVerify({F84, '1'}, host);

    const TTraceBytes trace = Trace();
    EXPECT_EQ(HexBytes(trace.Host), HexBytes(host));
    const std::string board = "P" + Times("W", 8) + "YY" + Times("M", 17) + "PY" + Times("M", 9)
                              + "PYYQ";
    EXPECT_EQ(trace.Board.substr(0, board.size()), board);
}

TEST_F(LinkEndToEnd, SixteenF877WithFamilyZero)
{
    Image(F877, 300, 0x3F72, "BEEF");
    std::string host;
    ProgramReadVerify({F877, '1'}, host);
    EXPECT_EQ(S->Ws.ProgEnd, 304);
    EXPECT_EQ(HexBytes(Trace().Host), HexBytes(host));
}

TEST_F(LinkEndToEnd, SixteenC73BlankThenProgrammed)
{
    const TExpect expect{C73, '1'};
    S->Chip(C73);
    ASSERT_TRUE(Do(&TBoardLink::EraseButtClick));
    EXPECT_EQ(Boxes(), TLog{"box:info:Chip is blank."});
    std::string host = expect.Erase();
    Image(C73, 4096, 0x3FB1, "77");
    ProgramReadVerify(expect, host);
    EXPECT_EQ(S->Ws.IdValue, 0xFF77);
    EXPECT_EQ(HexBytes(Trace().Host), HexBytes(host));
}

} // namespace

namespace {

// A real board sends "F" and its three address bytes one by one at wire
// speed; one whose line drops after the second byte leaves the rest unsent.
TEST(LinkWireSpeed, FailedWordReportsTheAddressThatArrived)
{
    constexpr int Failing = 0x123;
    const struct
    {
        TChipKind Chip;
        // Board bytes before the "F": "P", the erase's "W"s and "Y", or the
        // blank test's replies and a second opening; then one "M" per word.
        long long Before;
    } chips[] = {{F84, 1 + F84.EepSize / 8 + 1 + 1 + 1 + Failing},
                 {C73, 1 + 1 + 1 + 1 + 1 + 1 + 1 + Failing}};
    for (const auto &c : chips) {
        for (const bool cut : {false, true}) {
            TBoardOptions options;
            options.Faults.FailWordAt = Failing;
            options.SplitDelayMs = 2;
            if (cut)
                options.HangupAfter = c.Before + 3; // "F", 01 and the filler 00
            TLinkSession s(options);
            ASSERT_TRUE(s.Up());
            s.Chip(c.Chip);
            s.Ws.RomData.assign(static_cast<size_t>(c.Chip.RomSize), "0");
            s.Ws.EepData.assign(static_cast<size_t>(c.Chip.EepSize), "0");
            s.Panel.Id = "1234";
            s.Link.ProgButtClick();
            const auto failure = [&s] { return Only(s.Log, {"box:error:ROM"}); };
            ASSERT_TRUE(RunEventLoopUntil([&] { return !failure().empty(); }, 10000))
                << c.Chip.Name << cut;
            EXPECT_EQ(failure(), TLog{std::string("box:error:ROM verify error at address ")
                                      + (cut ? "01??" : "0123")})
                << c.Chip.Name << cut;
            EXPECT_EQ(s.Server.HungUp(), cut);
        }
    }
}

} // namespace

namespace {

// The board restarts and announces itself while the host's "Serial data
// error." box is open after a full buffer: its "PP" must still be answered.
TEST(LinkWireSpeed, AnnouncementDuringAFullBufferErrorBoxIsAnswered)
{
    TPty pty;
    ASSERT_FALSE(pty.Path.empty());
    TLog log;
    TWorkState ws;
    TRecPanel panel(log);
    TRecUi ui(log);
    TSerial serial;
    TBoardLink link(ws, panel, ui, serial);
    SetBoardLineFormat(serial);
    serial.NotifyErrors = neNone;
    serial.SetDevicePath(pty.Path);
    serial.OnRxData = [&link](QObject *) { link.Serial1RxData(); };
    serial.SetActive(true);
    ASSERT_TRUE(serial.Active());
    ui.WhileBoxOpen = [&] {
        pty.Send("PP");
        QThread::msleep(100); // the box stays open; the bytes wait in the driver
    };
    ws.RomSize = F84.RomSize;
    ws.EepSize = F84.EepSize;
    ws.EraseRun = true; // erasing: "W"s and a "Y" expected, a stray "Z" is an error
    ws.OpStep = 1;
    pty.Send("Z" + std::string(18, 'W')); // one write: the 19 bytes arrive together
    std::string host;
    ASSERT_TRUE(RunEventLoopUntil(
            [&] {
                host += pty.Receive(1, 1);
                return host.size() >= 2;
            },
            5000));
    EXPECT_EQ(Only(log, {"box:"}), TLog{"box:error:Serial data error."});
    EXPECT_EQ(host, "\x0DY");
}

} // namespace

namespace {

// A board that stalls after "F" and the address's high byte, and sends the
// rest 2 s later: the low byte reads "X" (0x58) or "Q" (0x51) on the line.
// One message with the byte that never came as "??", nothing after it for
// 10 s, and the next operation works on the same line.
TEST(LinkWireSpeed, CutShortFailedWordGivesOneMessageAndLeavesTheLineClean)
{
    const struct
    {
        TChipKind Chip;
        int Failing;
    } cases[] = {{F84, 0x158}, {C671, 0x151}};
    std::vector<std::unique_ptr<TLinkSession>> sessions;
    for (const auto &c : cases) {
        TBoardOptions options;
        options.Faults.FailWordAt = c.Failing;
        options.CutFailMs = 2000;
        sessions.push_back(std::make_unique<TLinkSession>(options));
        TLinkSession &s = *sessions.back();
        ASSERT_TRUE(s.Up());
        s.Chip(c.Chip);
        s.Ws.RomData.assign(static_cast<size_t>(c.Chip.RomSize), "0");
        s.Ws.EepData.assign(static_cast<size_t>(c.Chip.EepSize), "0");
        s.Panel.Id = "1234";
        s.Link.ProgButtClick();
    }
    const auto boxes = [](const TLinkSession &s) { return Only(s.Log, {"box:"}); };
    ASSERT_TRUE(RunEventLoopUntil(
            [&] {
                return std::all_of(sessions.begin(), sessions.end(),
                                   [&](const auto &s) { return !boxes(*s).empty(); });
            },
            10000));
    RunEventLoopUntil([] { return false; }, 10000);
    for (size_t i = 0; i < sessions.size(); ++i) {
        TLinkSession &s = *sessions[i];
        SCOPED_TRACE(cases[i].Chip.Name);
        EXPECT_EQ(boxes(s), TLog{"box:error:ROM verify error at address 01??"});
        EXPECT_TRUE(Only(s.Log, {"c:0D"}).empty()); // no Abort for a "Serial data error."
        EXPECT_EQ(s.Ws.OpStep, -1);
        EXPECT_FALSE(s.Panel.TimerOn);
        EXPECT_FALSE(s.Link.CutReplySettling());

        s.Ws.NewDataListed = false;
        ASSERT_TRUE(s.Run([&] { s.Link.ReadButtClick(); }, 30000));
        EXPECT_EQ(boxes(s).size(), 1u);
        ASSERT_EQ(s.Ws.RomData.size(), static_cast<size_t>(cases[i].Chip.RomSize));
        // The words before the failing one were written, the rest not.
        EXPECT_EQ(s.Ws.RomData[static_cast<size_t>(cases[i].Failing) - 1], "0");
        EXPECT_EQ(s.Ws.RomData[static_cast<size_t>(cases[i].Failing) + 1], "16383");
    }
}

} // namespace
