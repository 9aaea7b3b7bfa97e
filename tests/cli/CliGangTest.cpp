// Several boards from one command: the real varnelpro-cli against several
// varnel-board processes, each on its own pseudo-terminal.
#include "cli/CliArgs.h"
#include "cli/CliGang.h"
#include "cli/CliRun.h"
#include "support/BoardProcess.h"
#include "support/FullImageHex.h"
#include "support/WorkFolder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <set>
#include <sstream>
#include <thread>

namespace {

TEST(GangNames, BaseNamesAndOutputFiles)
{
    const struct
    {
        const char *Device;
        const char *Name;
        const char *Output;
        const char *File;
    } cases[] = {
        {"/dev/ttyUSB1", "ttyUSB1", "dump-{port}.hex", "dump-ttyUSB1.hex"},
        {"/dev/pts/3", "pts3", "out/{port}/chip.hex", "out/pts3/chip.hex"},
        {"/dev/serial/by-id/usb-X-if00", "usb-X-if00", "/tmp/reads", "/tmp/reads/usb-X-if00.hex"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Device);
        EXPECT_EQ(DeviceBaseName(c.Device), c.Name);
        EXPECT_EQ(BoardOutputPath(c.Output, c.Device), c.File);
    }
}

TEST(GangArgs, DevicesAreCollectedAndReadNeedsAPlaceForEachFile)
{
    const struct
    {
        std::vector<std::string> Args;
        const char *Error; // nullptr: accepted
        size_t Devices;
    } cases[] = {
        {{"erase", "--chip", "16F84", "--device", "/dev/a", "--device", "/dev/b"}, nullptr, 2},
        {{"erase", "--chip", "16F84", "--devices", "/dev/a,/dev/b,/dev/c"}, nullptr, 3},
        {{"erase", "--chip", "16F84", "--devices", "/dev/a,,/dev/b"}, "separated by commas", 0},
        {{"erase", "--chip", "16F84", "--devices", "/dev/a", "--device", "/dev/a"},
         "named twice", 0},
        {{"read", "--chip", "16F84", "--devices", "/dev/a,/dev/b"}, "read needs -o", 0},
        {{"read", "--chip", "16F84", "--devices", "/dev/a,/dev/b", "-o", "/nowhere/x.hex"},
         "names a folder or contains {port}", 0},
        {{"read", "--chip", "16F84", "--devices", "/dev/a,/dev/b", "-o", "x-{port}.hex"},
         nullptr, 2},
        {{"read", "--chip", "16F84", "--devices", "/dev/a,/dev/b", "-o", "/tmp"}, nullptr, 2},
        {{"erase", "--chip", "16F84", "--devices", "/dev/a,/dev/b", "--simulate"},
         "only one of", 0},
        {{"read", "--chip", "16F84", "--devices", "/dev/a,/dev/b", "-o", "/tmp", "--dump"},
         "--dump is not available", 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Args.back());
        const TCliArgs args = ParseCliArgs(c.Args);
        if (c.Error) {
            EXPECT_NE(args.Error.find(c.Error), std::string::npos) << args.Error;
            continue;
        }
        EXPECT_EQ(args.Error, "");
        EXPECT_EQ(args.Devices.size(), c.Devices);
        EXPECT_EQ(args.Device, args.Devices.front());
    }
}

TEST(GangSummary, ColumnsLineUpAndCountsComeWithRepeat)
{
    const std::vector<TGangRow> rows = {
        {"/dev/ttyUSB0", "Data verified.", "0100", 15.24, 3, 0},
        {"/dev/ttyUSB10", "The serial line was lost.", "-", 0.5, 1, 2},
    };
    const std::vector<std::string> plain = GangSummaryLines(rows, false);
    ASSERT_EQ(plain.size(), 3u);
    EXPECT_EQ(plain[1].find("Data verified."), plain[2].find("The serial line was lost."));
    EXPECT_EQ(plain[0].find("RESULT"), plain[1].find("Data verified."));
    EXPECT_NE(plain[1].find("15.2 s"), std::string::npos) << plain[1];
    EXPECT_EQ(plain[0].find("CHIPS"), std::string::npos);
    const std::vector<std::string> counted = GangSummaryLines(rows, true);
    EXPECT_NE(counted[0].find("CHIPS  FAILED"), std::string::npos) << counted[0];
    EXPECT_NE(counted[2].find("    1       2"), std::string::npos) << counted[2];
}

// One program word at address 0 and the end record, as an INHX8M file.
std::string OneWordHex(uint16_t word)
{
    const uint8_t low = word & 0xFF;
    const uint8_t high = word >> 8;
    const uint8_t sum = static_cast<uint8_t>(-(2 + low + high));
    char line[64];
    std::snprintf(line, sizeof line, ":02000000%02X%02X%02X\n:00000001FF\n", low, high, sum);
    return line;
}

std::vector<std::string> LinesOf(const std::string &text, const std::string &prefix)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (line.compare(0, prefix.size(), prefix) == 0)
            lines.push_back(line.substr(prefix.size()));
    }
    return lines;
}

// The summary's row of device.
std::string SummaryRow(const std::string &out, const std::string &device)
{
    for (const std::string &line : LinesOf(out, device + " "))
        return device + " " + line;
    return "(no row for " + device + ")";
}

class CliGangTest : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(Folder.Ok());
        if (!HaveGpasm())
            GTEST_SKIP() << "gpasm is not installed";
        ASSERT_TRUE(AssembleTestProgram(Folder.Path, "eeprom84"));
    }

    std::string File(const std::string &name) const { return Folder.Path + "/" + name; }

    // Boards with the options given, one entry each; their devices joined
    // for --devices.
    std::string StartBoards(const std::vector<std::vector<std::string>> &options)
    {
        std::string devices;
        for (const auto &o : options) {
            Boards.push_back(std::make_unique<TBoardProcess>());
            const std::string name = "board" + std::to_string(Boards.size());
            EXPECT_TRUE(Boards.back()->Start(Folder.Path, name, o)) << name;
            devices += (devices.empty() ? "" : ",") + Boards.back()->Device;
        }
        return devices;
    }

    TRun Cli(const std::vector<std::string> &args)
    {
        return RunCli(args, File("cli.err"), "timeout 120 ");
    }

    // The lines of a board's own output, without its name.
    std::vector<std::string> BoardLines(const TRun &run, size_t board) const
    {
        return LinesOf(run.Err, DeviceBaseName(Boards[board]->Device) + ": ");
    }

    // What each board's chip holds, read by one command into one file each.
    std::vector<std::string> ReadBack(const std::string &devices)
    {
        const TRun run = Cli({"read", "--chip", "16F84", "--devices", devices, "-q", "-o",
                              File("back-{port}.hex")});
        EXPECT_EQ(run.Status, 0) << Show(run);
        std::vector<std::string> images;
        for (const auto &board : Boards) {
            const std::string path = BoardOutputPath(File("back-{port}.hex"), board->Device);
            images.push_back(Cli({"hexinfo", path, "--chip", "16F84", "--dump"}).Out);
        }
        return images;
    }

    std::string Id(const std::string &hexinfo) { return FieldLine(hexinfo, "ID"); }

    TWorkFolder Folder{"varnel-gang"};
    std::vector<std::unique_ptr<TBoardProcess>> Boards;
};

TEST_F(CliGangTest, FourBoardsProgramAndVerifyTheSameFile)
{
    const std::string devices = StartBoards({{}, {}, {}, {}});
    const TRun run = Cli({"program", File("eeprom84.hex"), "--chip", "16F84", "--verify",
                          "--devices", devices});
    ASSERT_EQ(run.Status, 0) << Show(run);
    const std::vector<std::string> states = {
            "PicVarnel board found", "Erasing chip", "Programming", "Program Fuse",
            "Programming complete.", "Verifying", "Data verified."};
    for (size_t b = 0; b < Boards.size(); ++b) {
        SCOPED_TRACE(Boards[b]->Device);
        EXPECT_EQ(BoardLines(run, b), states) << run.Err;
    }
    const std::vector<std::string> summary = LinesOf(run.Out, "");
    ASSERT_EQ(summary.size(), 5u) << run.Out;
    for (size_t b = 0; b < Boards.size(); ++b)
        EXPECT_NE(SummaryRow(run.Out, Boards[b]->Device).find("Data verified."),
                  std::string::npos) << run.Out;

    const std::string file = Cli({"hexinfo", File("eeprom84.hex"), "--chip", "16F84",
                                  "--dump"}).Out;
    for (const std::string &chip : ReadBack(devices))
        EXPECT_EQ(chip, file);
}

TEST_F(CliGangTest, EachBoardEndsInItsOwnResultAndTheWorstIsTheStatus)
{
    const std::string devices = StartBoards(
            {{"--hangup-after", "40"}, {"--x-on-command", "0x02"}, {"--fail-word", "5"}, {}});
    const std::string missing = File("no-such-board");
    const TRun run = Cli({"program", File("eeprom84.hex"), "--chip", "16F84", "--verify",
                          "--devices", devices + "," + missing});
    // The board that is not there is refused alone.
    const std::vector<std::string> refused = LinesOf(run.Err, "no-such-board: ");
    ASSERT_FALSE(refused.empty()) << run.Err;
    EXPECT_NE(SummaryRow(run.Out, missing).find(refused.front()), std::string::npos) << run.Out;
    EXPECT_EQ(run.Status, 5) << Show(run); // a lost line is the worst of the four
    const char *results[] = {"The serial line was lost.", "Serial data error.",
                             "ROM verify error at address 0005", "Data verified."};
    for (size_t b = 0; b < Boards.size(); ++b) {
        SCOPED_TRACE(Boards[b]->Device);
        const std::vector<std::string> lines = BoardLines(run, b);
        ASSERT_FALSE(lines.empty()) << run.Err;
        EXPECT_EQ(lines.back(), results[b]) << run.Err;
        EXPECT_NE(SummaryRow(run.Out, Boards[b]->Device).find(results[b]), std::string::npos)
                << run.Out;
    }
}

TEST_F(CliGangTest, SerialNumbersAreNeverSharedAndASkippedOneIsNamed)
{
    const std::string numbers = File("serial.txt");
    const std::string devices = StartBoards({{}, {"--fail-id"}, {}, {}});
    const TRun run = Cli({"program", File("eeprom84.hex"), "--chip", "16F84", "--verify",
                          "--serial", "0x0100+1", "--serial-file", numbers, "--devices",
                          devices, "-q"});
    EXPECT_EQ(run.Status, 3) << Show(run);
    EXPECT_EQ(ReadBytes(numbers), "0x0104\n");
    const std::vector<std::string> chips = ReadBack(devices);
    std::set<std::string> good;
    for (size_t b : {0u, 2u, 3u})
        good.insert(Id(chips[b]));
    EXPECT_EQ(good.size(), 3u);
    std::set<std::string> all = good;
    const std::vector<std::string> skipped =
            LinesOf(run.Out, "Serial numbers skipped (their ID write failed): ");
    ASSERT_EQ(skipped.size(), 1u) << run.Out;
    all.insert(skipped.front());
    EXPECT_EQ(all, (std::set<std::string>{"0100", "0101", "0102", "0103"}));
    // -q leaves only the summary.
    EXPECT_EQ(run.Err, "") << run.Err;
}

TEST_F(CliGangTest, TwoRunsOfFourBoardsSharingTheNumberFileHandOutEightNumbers)
{
    const std::string numbers = File("shared-serial.txt");
    const std::string first = StartBoards({{}, {}, {}, {}});
    const std::string second = StartBoards({{}, {}, {}, {}});
    TChildProcess runs[2];
    const std::string *devices[2] = {&first, &second};
    for (int r = 0; r < 2; ++r) {
        ASSERT_TRUE(runs[r].Start({VARNEL_CLI, "program", File("eeprom84.hex"), "--chip",
                                   "16F84", "--serial", "0x0200", "--serial-file", numbers,
                                   "--devices", *devices[r], "-q"},
                                  File("run" + std::to_string(r) + ".out"),
                                  File("run" + std::to_string(r) + ".err")));
    }
    for (TChildProcess &run : runs)
        EXPECT_EQ(run.Wait(120000), 0);
    EXPECT_EQ(ReadBytes(numbers), "0x0208\n");
    std::set<std::string> ids;
    for (const std::string &chip : ReadBack(first + "," + second))
        ids.insert(Id(chip));
    EXPECT_EQ(ids.size(), 8u);
}

TEST_F(CliGangTest, ReadWritesOneFileForEachBoardAndNoneForAFailingOne)
{
    std::vector<std::vector<std::string>> options;
    for (uint16_t word : {0x1111, 0x2222, 0x3333}) {
        const std::string image = File("image" + std::to_string(word) + ".hex");
        WriteBytes(image, OneWordHex(word));
        options.push_back({"--image", image});
    }
    options.push_back({"--silent-from", "1"});
    const std::string devices = StartBoards(options);
    const TRun run = Cli({"read", "--chip", "16F84", "--devices", devices, "-o",
                          File("dump-{port}.hex")});
    EXPECT_EQ(run.Status, 5) << Show(run);
    // Only the summary on standard output: no board's image among the rows.
    EXPECT_EQ(run.Out.find("Chip:"), std::string::npos) << run.Out;
    for (size_t b = 0; b < 3; ++b) {
        const std::string dump = File("dump-" + DeviceBaseName(Boards[b]->Device) + ".hex");
        const std::string expected = Cli({"hexinfo", options[b][1], "--chip", "16F84",
                                          "--dump"}).Out;
        // The image file holds no ID or fuses: compare the program words.
        const std::string got = Cli({"hexinfo", dump, "--chip", "16F84", "--dump"}).Out;
        char first[16];
        std::snprintf(first, sizeof first, "0000: %04X 3FFF",
                      static_cast<unsigned>(0x1111u * (b + 1)));
        EXPECT_NE(got.find(first), std::string::npos) << got;
        EXPECT_EQ(LinesOf(got, "0000"), LinesOf(expected, "0000")) << got;
        EXPECT_NE(SummaryRow(run.Out, Boards[b]->Device).find("Saved to " + dump),
                  std::string::npos) << run.Out;
    }
    const std::string silent = File("dump-" + DeviceBaseName(Boards[3]->Device) + ".hex");
    EXPECT_FALSE(std::filesystem::exists(silent));
}

// On a terminal each board's bar is a line of its own, redrawn in place
// below the boards' messages.
TEST_F(CliGangTest, OnATerminalEachBoardHasItsOwnProgressLine)
{
    const std::string devices = StartBoards({{"--pace"}, {"--pace"}});
    const TRepeatRun run = RunOnTerminal({"program", File("eeprom84.hex"), "--chip", "16F84",
                                          "--devices", devices},
                                         "(no prompt)", {});
    EXPECT_EQ(run.Status, 0) << run.Output;
    for (const auto &board : Boards) {
        const std::string name = DeviceBaseName(board->Device);
        EXPECT_NE(run.Output.find(name + ": Programming   ["), std::string::npos) << run.Output;
        // Each state change is a line as well.
        EXPECT_NE(run.Output.find(name + ": Programming\r\n"), std::string::npos) << run.Output;
    }
    // Back up over the block and clear it before a message or a new bar.
    EXPECT_NE(run.Output.find("\033[2A\033[J"), std::string::npos) << run.Output;
}

// Enter runs every board again, r only the boards that failed, q stops; the
// summary counts each board's chips.
TEST_F(CliGangTest, RepeatRunsRoundsOnEveryBoardOrRetriesTheFailedOnes)
{
    // The second board answers its third message with "X": only its first
    // chip fails, and the retry succeeds.
    const std::string devices = StartBoards({{}, {"--x-at", "3"}});
    const TRepeatRun run = RunOnTerminal(
            {"program", File("eeprom84.hex"), "--chip", "16F84", "--devices", devices,
             "--repeat", "-q"},
            "Next round: Enter for every board, r to retry the boards that failed, "
            "or q to stop: ",
            {"r\n", "\n", "q\n"});
    // A chip failed, whatever the last round did.
    EXPECT_EQ(run.Status, 3) << run.Output;
    EXPECT_EQ(run.Prompts, 3u) << run.Output;
    std::istringstream in(run.Output);
    std::string line;
    std::vector<std::string> rows;
    while (std::getline(in, line)) {
        if (line.compare(0, Boards[0]->Device.size(), Boards[0]->Device) == 0
            || line.compare(0, Boards[1]->Device.size(), Boards[1]->Device) == 0)
            rows.push_back(line);
    }
    ASSERT_EQ(rows.size(), 2u) << run.Output;
    // The good board ran in rounds 1 and 3, the other in all three.
    EXPECT_NE(rows[0].find("    2       0"), std::string::npos) << rows[0];
    EXPECT_NE(rows[1].find("    2       1"), std::string::npos) << rows[1];
}

// A full 16F877 at wire speed on three boards, then SIGINT: every board
// stops at its next "M" and is left between commands, as a read shows.
TEST_F(CliGangTest, ASignalCancelsEveryBoardAtItsCancelPoint)
{
    WriteBytes(File("full877.hex"), FullImageHex(8192, 0x2001));
    std::vector<std::vector<std::string>> options;
    for (int b = 0; b < 3; ++b)
        options.push_back({"--pace", "--trace", File("trace" + std::to_string(b))});
    const std::string devices = StartBoards(options);
    TChildProcess cli;
    ASSERT_TRUE(cli.Start({VARNEL_CLI, "program", File("full877.hex"), "--chip", "16F877",
                           "--devices", devices},
                          File("signal.out"), File("signal.err")));
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    cli.Signal(SIGINT);
    EXPECT_EQ(cli.Wait(10000), 130) << ReadBytes(File("signal.err"));
    const std::string err = ReadBytes(File("signal.err"));
    for (size_t b = 0; b < Boards.size(); ++b) {
        SCOPED_TRACE(Boards[b]->Device);
        const std::vector<std::string> lines = LinesOf(err, DeviceBaseName(Boards[b]->Device)
                                                                + ": ");
        ASSERT_FALSE(lines.empty()) << err;
        EXPECT_EQ(lines.back(), "Cancelled.") << err;
        // The board asked for a word and got the end marker instead.
        // The board writes its trace once the line has been quiet a while.
        std::string trace;
        for (int wait = 0; wait < 300 && trace.find("host  FF FF") == std::string::npos;
             ++wait) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            trace = ReadBytes(File("trace" + std::to_string(b)));
        }
        EXPECT_NE(trace.find("board \"M\"\n"), std::string::npos);
        const size_t end = trace.rfind("host  FF FF");
        ASSERT_NE(end, std::string::npos) << "no end marker";
        const size_t before = trace.rfind('\n', trace.rfind('\n', end) - 1);
        EXPECT_NE(trace.substr(before, end - before).find("board \"M\""), std::string::npos);
    }
    // A board still streaming words would take the read's Hello as a word.
    const TRun read = Cli({"read", "--chip", "16F877", "--devices", devices, "-q", "-o",
                           Folder.Path});
    EXPECT_EQ(read.Status, 0) << Show(read);
}

} // namespace
