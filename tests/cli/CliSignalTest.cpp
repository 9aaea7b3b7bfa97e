// Signals in the middle of a board command: varnelpro-cli against varnel-board
// at wire speed on a pseudo-terminal, each a real process, signalled as a
// shell or a logout signals them. The board must be left between commands.
#include "board/BoardTestSupport.h"
#include "support/BoardProcess.h"
#include "support/ChildProcess.h"
#include "support/TestFiles.h"
#include "support/WorkFolder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

#ifndef VARNEL_CLI
#error "VARNEL_CLI must name the varnelpro-cli executable"
#endif
#ifndef VARNEL_BOARD
#error "VARNEL_BOARD must name the varnel-board executable"
#endif

namespace {

using namespace std::chrono_literals;
using TClock = std::chrono::steady_clock;

constexpr int Words877 = 8192;
constexpr uint16_t BlankWord = 0x3FFF;
const char Cancelled[] = "Cancelled.\n";
const char StopAtOnce[] = "Stopped at once. If the board was in the middle of an operation, "
                          "switch it off and on before the next one.";

// Every word of a 16F877 set, none of them blank.
uint16_t FileWord(int addr)
{
    const uint16_t w = static_cast<uint16_t>((addr * 5 + 1) & 0x3FFF);
    return w == BlankWord ? 0x1234 : w;
}

std::string Full877Hex()
{
    std::string text;
    for (int addr = 0; addr < Words877; addr += 8) {
        TBytes data;
        for (int a = addr; a < addr + 8; ++a) {
            data.push_back(static_cast<uint8_t>(FileWord(a) & 0xFF));
            data.push_back(static_cast<uint8_t>(FileWord(a) >> 8));
        }
        text += HexRecord(addr * 2, data) + "\n";
    }
    return text + ":00000001FF\n";
}

// An INHX8M file as byte address -> byte.
std::map<int, uint8_t> HexBytes(const std::string &path)
{
    std::map<int, uint8_t> bytes;
    std::istringstream lines(ReadBytes(path));
    std::string line;
    while (std::getline(lines, line)) {
        if (line.size() < 11 || line[0] != ':' || line.substr(7, 2) != "00")
            continue;
        const int count = std::stoi(line.substr(1, 2), nullptr, 16);
        const int addr = std::stoi(line.substr(3, 4), nullptr, 16);
        for (int i = 0; i < count; ++i)
            bytes[addr + i] =
                    static_cast<uint8_t>(std::stoi(line.substr(9 + 2 * i, 2), nullptr, 16));
    }
    return bytes;
}

uint16_t ProgramWord(const std::map<int, uint8_t> &bytes, int addr)
{
    const auto low = bytes.find(2 * addr);
    const auto high = bytes.find(2 * addr + 1);
    if (low == bytes.end() || high == bytes.end())
        return BlankWord;
    return static_cast<uint16_t>(high->second << 8 | low->second);
}

std::vector<std::string> Lines(const std::string &text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line))
        lines.push_back(line);
    return lines;
}

bool Has(const std::string &text, const std::string &part)
{
    return text.find(part) != std::string::npos;
}

bool EndsWith(const std::string &text, const std::string &end)
{
    return text.size() >= end.size()
            && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

class CliSignalTest : public testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(Folder.Ok()); }

    std::string File(const std::string &name) const { return Folder.Path + "/" + name; }

    // varnel-board with options, tracing to board.trace; its device path.
    void StartBoard(std::vector<std::string> options)
    {
        options.insert(options.begin(), {"--trace", File("board.trace")});
        ASSERT_TRUE(Board.Start(Folder.Path, "board", options)) << ReadBytes(File("board.err"));
    }

    void StartCli(std::vector<std::string> args)
    {
        args.insert(args.begin(), VARNEL_CLI);
        args.insert(args.end(), {"--device", Device});
        ASSERT_TRUE(Cli.Start(args, File("cli.out"), File("cli.err")));
    }

    // Runs a command to its end (at most 60 s); its exit status.
    int RunCli(std::vector<std::string> args)
    {
        StartCli(std::move(args));
        return Cli.Wait(60000);
    }

    // Sends signal after the command has run for afterMs; the time from the
    // signal to the end, and the exit status.
    int SignalCli(int signal, int afterMs, double &secondsToEnd, int secondSignalMs = -1)
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(afterMs));
        const auto sent = TClock::now();
        Cli.Signal(signal);
        if (secondSignalMs >= 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(secondSignalMs));
            Cli.Signal(signal);
        }
        const int status = Cli.Wait(30000);
        secondsToEnd = std::chrono::duration<double>(TClock::now() - sent).count();
        return status;
    }

    std::string Err() const { return ReadBytes(File("cli.err")); }
    // The trace, once the board has written what it holds (100 ms of quiet).
    std::vector<std::string> Trace() const
    {
        std::this_thread::sleep_for(300ms);
        return Lines(ReadBytes(File("board.trace")));
    }

    TWorkFolder Folder{"varnel-signal"};
    TBoardProcess Board;
    TChildProcess Cli;
    const std::string &Device = Board.Device;
};

// "  1.568 board "M"" followed by "  1.569 host  FF FF": the cancel answered
// the board's request for a word with the end marker.
bool EndMarkerAfterM(const std::vector<std::string> &trace)
{
    for (size_t i = 0; i + 1 < trace.size(); ++i) {
        if (EndsWith(trace[i], "board \"M\"") && EndsWith(trace[i + 1], "host  FF FF"))
            return true;
    }
    return false;
}

struct TSignalCase
{
    int Signal;
    int Status;
};

class CliProgramSignal : public CliSignalTest, public testing::WithParamInterface<TSignalCase>
{
};

// The board stops taking words at the next "M" and is between commands: the
// next command, with no restart, reads exactly the words written so far.
TEST_P(CliProgramSignal, StopsAtTheNextWordAndLeavesTheBoardReady)
{
    const TSignalCase c = GetParam();
    WriteBytes(File("full.hex"), Full877Hex());
    StartBoard({"--pace"});
    StartCli({"program", File("full.hex"), "--chip", "16F877", "--yes"});
    double seconds = 0;
    EXPECT_EQ(SignalCli(c.Signal, 1000, seconds), c.Status) << Err();
    EXPECT_LT(seconds, 2.0);
    EXPECT_TRUE(EndsWith(Err(), Cancelled)) << Err();
    EXPECT_FALSE(Has(Err(), "Programming complete.")) << Err();
    const std::vector<std::string> trace = Trace();
    EXPECT_TRUE(EndMarkerAfterM(trace)) << ReadBytes(File("board.trace")).substr(0, 2000);

    ASSERT_EQ(RunCli({"read", "--chip", "16F877", "-q", "-o", File("read.hex")}), 0) << Err();
    const std::map<int, uint8_t> chip = HexBytes(File("read.hex"));
    int written = 0;
    while (written < Words877 && ProgramWord(chip, written) != BlankWord)
        ++written;
    EXPECT_GT(written, 0);
    EXPECT_LT(written, Words877);
    for (int a = 0; a < Words877; ++a) {
        const uint16_t expected = a < written ? FileWord(a) : BlankWord;
        ASSERT_EQ(ProgramWord(chip, a), expected) << "word " << a << " of " << written;
    }
    // Neither EEPROM, ID nor configuration word was reached.
    for (int a = 0x2100; a < 0x2100 + 256; ++a)
        ASSERT_EQ(ProgramWord(chip, a) & 0xFF, 0xFF) << "EEPROM " << a - 0x2100;
    for (int a = 0x2000; a < 0x2004; ++a)
        EXPECT_EQ(ProgramWord(chip, a) & 0xF, 0xF) << "ID digit " << a - 0x2000;
    EXPECT_EQ(ProgramWord(chip, 0x2007), BlankWord);
}

INSTANTIATE_TEST_SUITE_P(Signals, CliProgramSignal,
                         testing::Values(TSignalCase{SIGINT, 130}, TSignalCase{SIGTERM, 143},
                                         TSignalCase{SIGHUP, 129}),
                         [](const testing::TestParamInfo<TSignalCase> &info) {
                             return std::string(sigabbrev_np(info.param.Signal));
                         });

// What the signals mend: a host that just goes leaves the board taking
// words, so the next command's Hello is burnt in as data and goes unanswered.
TEST_F(CliSignalTest, KilledMidProgramLeavesTheBoardWaitingForWords)
{
    // The killed host never gives up its exclusive hold on the line, which
    // the board keeps open: only root opens it again.
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to reopen a line a killed program held exclusively";
    WriteBytes(File("full.hex"), Full877Hex());
    StartBoard({"--pace"});
    StartCli({"program", File("full.hex"), "--chip", "16F877", "--yes"});
    double seconds = 0;
    EXPECT_EQ(SignalCli(SIGKILL, 1000, seconds), 128 + SIGKILL);
    EXPECT_EQ(RunCli({"read", "--chip", "16F877", "-q"}), 5) << Err();
    EXPECT_TRUE(Has(Err(), "No response from programmer board")) << Err();
}

// A Read ends at the next block: no output file, an existing one untouched,
// and the board closes the operation with End.
TEST_F(CliSignalTest, SignalDuringReadWritesNoFile)
{
    StartBoard({"--pace"});
    const struct
    {
        const char *Name;
        bool Existing;
    } cases[] = {{"fresh.hex", false}, {"kept.hex", true}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Name);
        const std::string out = File(c.Name);
        const std::string old = ":0400000001020304F2\n:00000001FF\n";
        if (c.Existing)
            WriteBytes(out, old);
        StartCli({"read", "--chip", "16F877", "-o", out});
        double seconds = 0;
        EXPECT_EQ(SignalCli(SIGINT, 1000, seconds), 130) << Err();
        EXPECT_LT(seconds, 2.0);
        EXPECT_TRUE(EndsWith(Err(), Cancelled)) << Err();
        EXPECT_EQ(access(out.c_str(), F_OK) == 0, c.Existing);
        if (c.Existing) {
            EXPECT_EQ(ReadBytes(out), old);
        }
        const std::vector<std::string> trace = Trace();
        ASSERT_GE(trace.size(), 2u);
        EXPECT_TRUE(EndsWith(trace[trace.size() - 2], "host  0E")) << trace[trace.size() - 2];
        EXPECT_TRUE(EndsWith(trace.back(), "board \"Q\"")) << trace.back();
    }
}

// The board cannot be stopped in a bulk erase: the command says so, lets it
// end and closes it; a second signal does not wait.
TEST_F(CliSignalTest, BulkEraseIsFinishedFirstUnlessSignalledTwice)
{
    // 32 "W"s and the "Y", 100 ms apart: an erase of about 3.3 s.
    StartBoard({"--split-delay", "100"});
    const std::string finishing =
            "Finishing the bulk erase first: the board cannot be stopped in the middle of it.";

    StartCli({"erase", "--chip", "16F877"});
    double seconds = 0;
    EXPECT_EQ(SignalCli(SIGINT, 1000, seconds), 130) << Err();
    EXPECT_GT(seconds, 1.0) << "ended before the erase did";
    const std::vector<std::string> lines = Lines(Err());
    ASSERT_GE(lines.size(), 2u) << Err();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), finishing), 1) << Err();
    EXPECT_EQ(lines.back(), "Cancelled.");
    std::vector<std::string> trace = Trace();
    ASSERT_GE(trace.size(), 3u);
    EXPECT_TRUE(EndsWith(trace[trace.size() - 3], "Y\"")) << trace[trace.size() - 3];
    EXPECT_TRUE(EndsWith(trace[trace.size() - 2], "host  0E")) << trace[trace.size() - 2];

    StartCli({"erase", "--chip", "16F877"});
    EXPECT_EQ(SignalCli(SIGINT, 1000, seconds, 200), 130) << Err();
    EXPECT_LT(seconds, 1.5) << "waited for the erase";
    EXPECT_TRUE(Has(Err(), finishing)) << Err();
    EXPECT_TRUE(EndsWith(Err(), std::string(StopAtOnce) + "\n")) << Err();
    EXPECT_FALSE(Has(Err(), Cancelled)) << Err();
}

} // namespace
