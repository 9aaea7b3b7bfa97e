// Production runs as a script drives them: the real varnelpro-cli against
// the built-in virtual board and its faults, with gpasm-built and hand-made
// images. Each result is checked by what the virtual chip holds afterwards.
#include "board/BoardTestSupport.h"
#include "CliRun.h"

#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QJsonDocument>
#include <QJsonObject>

#include <chrono>
#include <filesystem>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

bool Has(const std::string &text, const std::string &part)
{
    return text.find(part) != std::string::npos;
}

std::string Sha256(const std::string &bytes)
{
    return QCryptographicHash::hash(QByteArray::fromStdString(bytes), QCryptographicHash::Sha256)
            .toHex()
            .toStdString();
}

// INHX8M text from records at byte addresses; words go low byte first.
struct THexBuilder
{
    std::string Text;
    // Eight words a record at most, as the format allows.
    THexBuilder &Words(int wordAddr, const std::vector<uint16_t> &words)
    {
        for (size_t first = 0; first < words.size(); first += 8) {
            TBytes data;
            for (size_t i = first; i < words.size() && i < first + 8; ++i) {
                data.push_back(static_cast<uint8_t>(words[i] & 0xFF));
                data.push_back(static_cast<uint8_t>(words[i] >> 8));
            }
            Text += HexRecord(2 * (wordAddr + static_cast<int>(first)), data) + "\n";
        }
        return *this;
    }
    std::string End() const { return Text + ":00000001FF\n"; }
};

class ProductionTest : public testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        std::random_device rd;
        Dir = fs::temp_directory_path() / ("varnel-prod-" + std::to_string(rd()));
        fs::create_directories(Dir);
        Assembled = HaveGpasm() && AssembleTestProgram(Dir.string(), "eeprom84");
    }
    static void TearDownTestSuite()
    {
        std::error_code ec;
        fs::remove_all(Dir, ec);
    }
    void SetUp() override
    {
        if (!Assembled)
            GTEST_SKIP() << "gpasm is not installed (Debian package gputils)";
    }

    static std::string File(const std::string &name) { return (Dir / name).string(); }
    static std::string Write(const std::string &name, const std::string &text)
    {
        WriteBytes(File(name), text);
        return File(name);
    }

    static TRun Cli(const std::vector<std::string> &args, const std::string &prefix = "")
    {
        return RunCli(args, (Dir / "stderr.txt").string(), prefix);
    }

    // The virtual chip after a run, as hexinfo shows it.
    static TRun ChipInfo(const std::string &saved, const std::string &chip)
    {
        return Cli({"hexinfo", saved, "--chip", chip});
    }

    static fs::path Dir;
    static bool Assembled;
};

fs::path ProductionTest::Dir;
bool ProductionTest::Assembled = false;

TEST_F(ProductionTest, KeepOscCalKeepsTheChipsFactoryValue)
{
    const std::string chip = Write("chip3480.hex", THexBuilder().Words(0x3FF, {0x3480}).End());
    const struct
    {
        const char *Name;
        std::string File;
    } files[] = {
        {"blank last word", Write("noval.hex", THexBuilder().Words(0, {0x2805}).End())},
        {"other value", Write("val34ff.hex",
                              THexBuilder().Words(0, {0x2805}).Words(0x3FF, {0x34FF}).End())},
    };
    for (const auto &f : files) {
        SCOPED_TRACE(f.Name);
        const std::string saved = File("kept.hex");
        const TRun run = Cli({"program", f.File, "--chip", "12C671", "--simulate", "--yes",
                              "--keep-osccal", "--board-image", chip, "--board-save", saved});
        EXPECT_EQ(run.Status, 0) << Show(run);
        EXPECT_TRUE(Has(run.Err, "Keeping the chip's calibration word 3480.")) << Show(run);
        const TRun info = ChipInfo(saved, "12C671");
        EXPECT_EQ(FieldLine(info.Out, "OSCCAL"), "3480 (RETLW 0x80)");
        EXPECT_TRUE(Has(info.Out, "ProgEnd:         0400")) << info.Out;
    }

    // A blank chip and a file without a value: refused after the Read,
    // before anything is written.
    const std::string saved = File("blank-after.hex");
    const TRun run = Cli({"program", files[0].File, "--chip", "12C671", "--simulate", "--yes",
                          "--keep-osccal", "--board-save", saved});
    EXPECT_EQ(run.Status, 2) << Show(run);
    EXPECT_TRUE(Has(run.Err, "The chip holds no calibration word (its last word reads 3FFF) "
                             "and the HEX file lists none.")) << Show(run);
    EXPECT_FALSE(Has(run.Err, "Blank Testing")) << Show(run);
    const TRun info = ChipInfo(saved, "12C671");
    EXPECT_EQ(FieldLine(info.Out, "Last word"), "none, every word is blank");
    EXPECT_EQ(FieldLine(info.Out, "ID"), "FFFF");
}

// Each run is program --verify, which ends with the verify's result.
TEST_F(ProductionTest, SerialNumbersStayWithChipsThatSucceed)
{
    const std::string numbers = File("serial.txt");
    fs::remove(numbers);
    const struct
    {
        const char *Fault; // nullptr: a good board
        int Status;
        const char *ChipId;   // the ID the virtual chip holds afterwards
        const char *FileNext; // the serial file afterwards
        const char *Last;     // after "Programming complete.", which a failed ID never sees
    } runs[] = {
        {nullptr, 0, "0100", "0x0101\n", "Data verified."},
        {nullptr, 0, "0101", "0x0102\n", "Data verified."},
        // The ID write failed: 0102 is skipped.
        {"fail-id", 3, "FFFF", "0x0103\n", "Serial number 0102 skipped."},
        {"corrupt-word=5", 4, "0103", "0x0103\n", "ROM verify error at address 0005"},
        {nullptr, 0, "0103", "0x0104\n", "Data verified."},
    };
    for (const auto &r : runs) {
        SCOPED_TRACE(r.FileNext);
        const std::string saved = File("serial-chip.hex");
        std::vector<std::string> args = {"program", File("eeprom84.hex"), "--chip", "16F84",
                                         "--simulate", "--verify", "--serial", "0x0100+1",
                                         "--serial-file", numbers, "--board-save", saved};
        if (r.Fault) {
            args.push_back("--board-fault");
            args.push_back(r.Fault);
        }
        const TRun run = Cli(args);
        EXPECT_EQ(run.Status, r.Status) << Show(run);
        EXPECT_EQ(Has(run.Err, "skipped"), r.Status == 3) << Show(run);
        const size_t programmed = run.Err.find("Programming complete.");
        EXPECT_EQ(programmed == std::string::npos, r.Status == 3) << Show(run);
        EXPECT_NE(run.Err.find(r.Last, r.Status == 3 ? 0 : programmed), std::string::npos)
                << Show(run);
        EXPECT_EQ(FieldLine(ChipInfo(saved, "16F84").Out, "ID"), r.ChipId);
        EXPECT_EQ(ReadBytes(numbers), r.FileNext);
    }

    // The last ID FFFF is used; the number after it is refused before
    // the board is even started.
    const std::string last = File("serial-last.txt");
    const std::string saved = File("serial-last-chip.hex");
    fs::remove(last);
    const std::vector<std::string> args = {"program", File("eeprom84.hex"), "--chip", "16F84",
                                           "--simulate", "--serial", "0xFFFF+1",
                                           "--serial-file", last, "--board-save", saved};
    TRun run = Cli(args);
    EXPECT_EQ(run.Status, 0) << Show(run);
    EXPECT_EQ(FieldLine(ChipInfo(saved, "16F84").Out, "ID"), "FFFF");
    EXPECT_EQ(ReadBytes(last), "0x10000\n");
    fs::remove(saved);
    run = Cli(args);
    EXPECT_EQ(run.Status, 1) << Show(run);
    EXPECT_TRUE(Has(run.Err, "The next serial number, 10000, does not fit the four-digit ID; "
                             "nothing was sent.")) << Show(run);
    EXPECT_FALSE(fs::exists(saved));
    EXPECT_EQ(ReadBytes(last), "0x10000\n");
}

TEST_F(ProductionTest, VerifyAllListsEveryDifference)
{
    std::vector<uint16_t> words;
    for (uint16_t i = 0; i < 16; ++i)
        words.push_back(static_cast<uint16_t>(0x2000 + i));
    // In ascending order: the reader refuses records that go back.
    auto image = [&](const std::vector<uint16_t> &rom, uint8_t eep5, uint16_t config) {
        std::vector<uint16_t> eep;
        for (uint16_t i = 0; i < 8; ++i)
            eep.push_back(i == 5 ? eep5 : static_cast<uint16_t>(0x10 + i));
        return THexBuilder()
                .Words(0, rom)
                .Words(0x2000, {1, 2, 3, 4})
                .Words(0x2007, {config})
                .Words(0x2100, eep)
                .End();
    };
    const std::string file = Write("all-file.hex", image(words, 0x15, 0x3FF1));
    std::vector<uint16_t> changed = words;
    changed[3] = 0x0003;
    changed[9] = 0x3FFF;
    changed[15] = 0x1111;
    const std::string chip = Write("all-chip.hex", image(changed, 0x99, 0x3FF5));

    TRun run = Cli({"verify", file, "--chip", "16F84", "--simulate", "--all", "--board-image",
                    chip});
    EXPECT_EQ(run.Status, 4) << Show(run);
    EXPECT_EQ(run.Out, "Region  Address  Chip  File\n"
                       "ROM     0003     0003  2003\n"
                       "ROM     0009     3FFF  2009\n"
                       "ROM     000F     1111  200F\n"
                       "EEPROM  0005     0099  0015\n"
                       "Fuse    2007     3FF5  3FF1\n");
    EXPECT_TRUE(Has(run.Err, "5 differences between the chip and the file.")) << Show(run);

    run = Cli({"verify", file, "--chip", "16F84", "--simulate", "--all", "--board-image", file});
    EXPECT_EQ(run.Status, 0) << Show(run);
    EXPECT_EQ(run.Out, "");
    EXPECT_TRUE(Has(run.Err, "Data verified.")) << Show(run);

    // Against a blank chip every word differs: the list is capped, the count is not.
    const std::string zeros =
            Write("zeros.hex", THexBuilder().Words(0, std::vector<uint16_t>(40, 0)).End());
    run = Cli({"verify", zeros, "--chip", "16F84", "--simulate", "--all"});
    EXPECT_EQ(run.Status, 4) << Show(run);
    EXPECT_TRUE(Has(run.Out, "ROM     001F     3FFF  0000\n... and 8 more\n")) << run.Out;
    EXPECT_TRUE(Has(run.Err, "40 differences between the chip and the file.")) << Show(run);
}

TEST_F(ProductionTest, LogLinesAreJsonWithTheFilesHash)
{
    const std::string log = File("log.jsonl");
    fs::remove(log);
    const std::string hex = File("eeprom84.hex");
    const std::string missing = File("missing.hex");
    const struct
    {
        std::vector<std::string> Args;
        const char *Operation;
        int Exit;
        const char *Result;
        const char *Id;
    } runs[] = {
        {{"program", hex, "--serial", "0x0200"}, "program", 0, "Programming complete.", "0200"},
        {{"verify", hex, "--all"}, "verify", 4, "differences between the chip and the file.",
         "FFFF"},
        {{"program", missing}, "program", 2, "There was a problem loading the HEX file.",
         nullptr},
    };
    for (const auto &r : runs) {
        std::vector<std::string> args = r.Args;
        args.insert(args.end(), {"--chip", "16F84", "--simulate", "--log", log});
        const TRun run = Cli(args);
        EXPECT_EQ(run.Status, r.Exit) << Show(run);
    }
    const std::string sha = Sha256(ReadBytes(hex));
    std::istringstream lines(ReadBytes(log));
    std::string line;
    size_t n = 0;
    while (std::getline(lines, line)) {
        ASSERT_LT(n, std::size(runs)) << line;
        const auto &r = runs[n++];
        SCOPED_TRACE(line);
        QJsonParseError error{};
        const QJsonObject o = QJsonDocument::fromJson(QByteArray::fromStdString(line), &error)
                                      .object();
        ASSERT_EQ(error.error, QJsonParseError::NoError);
        EXPECT_EQ(o["operation"].toString().toStdString(), r.Operation);
        EXPECT_EQ(o["chip"].toString().toStdString(), "16F84");
        EXPECT_EQ(o["exit"].toInt(), r.Exit);
        EXPECT_TRUE(Has(o["result"].toString().toStdString(), r.Result));
        EXPECT_EQ(o["file"].toString().toStdString(), r.Args[1]);
        EXPECT_EQ(o["sha256"].toString().toStdString(), r.Exit == 2 ? "" : sha);
        if (r.Id) {
            EXPECT_EQ(o["id"].toString().toStdString(), r.Id);
            EXPECT_TRUE(Has(o["port"].toString().toStdString(), "/dev/"));
        } else {
            EXPECT_TRUE(o["id"].isNull());
        }
        EXPECT_EQ(o["time"].toString().size(), 20);
    }
    EXPECT_EQ(n, std::size(runs));
}

TEST_F(ProductionTest, ALostClosingQIsOnlyAWarning)
{
    const struct
    {
        std::vector<std::string> Args;
        const char *Fault; // the End that goes unanswered
        const char *Result;
    } cases[] = {
        {{"program", File("eeprom84.hex")}, "lose-q=1", "Programming complete."},
        {{"read"}, "lose-q=2", "PicVarnel board found"},
        {{"verify", File("eeprom84.hex"), "--board-image", File("eeprom84.hex")}, "lose-q=2",
         "Data verified."},
        {{"erase"}, "lose-q=1", "Erasing chip"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Args[0]);
        std::vector<std::string> args = c.Args;
        args.insert(args.end(), {"--chip", "16F84", "--simulate", "--board-fault", c.Fault});
        const TRun run = Cli(args);
        EXPECT_EQ(run.Status, 0) << Show(run);
        EXPECT_TRUE(Has(run.Err, c.Result)) << Show(run);
        EXPECT_TRUE(Has(run.Err, "Warning: the board did not close the operation with \"Q\"."))
                << Show(run);
        EXPECT_FALSE(Has(run.Err, "No response")) << Show(run);
    }
}

TEST_F(ProductionTest, ALateClosingQDoesNotSpoilTheVerifyAfterIt)
{
    // Each "Q" comes after the 3 s the command waits for it, so the
    // program's "Q" arrives when the Verify has already sent its Start.
    const TRun run = Cli({"program", File("eeprom84.hex"), "--chip", "16F84", "--simulate",
                          "--verify", "--board-fault", "late-q=3500", "-q"});
    EXPECT_EQ(run.Status, 0) << Show(run);
    EXPECT_TRUE(Has(run.Err, "Data verified.")) << Show(run);
    EXPECT_FALSE(Has(run.Err, "Serial data error.")) << Show(run);
}

TEST_F(ProductionTest, StartAndFileProblemsHaveTheirOwnStatus)
{
    fs::create_directories(Dir / "folder.hex");
    const std::string locked = Write("locked.hex", ReadBytes(File("eeprom84.hex")));
    // Root reads any file, so root reads it as another user; anyone else is
    // kept out of their own file by its mode.
    const bool root = ::geteuid() == 0;
    fs::permissions(locked, root ? fs::perms::owner_read | fs::perms::owner_write
                                 : fs::perms::none);
    const char *asOther = root ? "setpriv --reuid=65534 --regid=65534 --clear-groups " : "";
    const std::string fifo = File("fifo");
    fs::remove(fifo);
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    const std::string hex = File("eeprom84.hex");
    const std::string nowhere = File("no/folder/serial");
    // A FIFO would block an open for good: the command must not wait on it.
    const char *guard = "timeout -s KILL 20 ";
    const auto loading = [](const std::string &path, const char *why) {
        return "There was a problem loading the HEX file.\n" + path + ": " + why + "\n";
    };
    const struct
    {
        const char *Name;
        std::vector<std::string> Args; // all for a 16F84 on the built-in board
        const char *Prefix; // run the command through this, e.g. as another user
        int Status;
        std::string Message;
    } cases[] = {
        {"X answers Hello", {"read", "--board-fault", "x-on-command=1"}, "", 3,
         "Serial data error."},
        {"missing file", {"program", File("none.hex")}, "", 2,
         loading(File("none.hex"), "No such file or directory")},
        {"a folder", {"verify", File("folder.hex")}, "", 2,
         loading(File("folder.hex"), "Is a directory")},
        {"no permission", {"program", locked}, asOther, 2, loading(locked, "Permission denied")},
        {"repeat without a terminal", {"program", hex, "--repeat"}, "", 1,
         "--repeat waits on the terminal between chips"},
        {"unwritable log", {"erase", "--log", File("folder.hex")}, "", 2,
         "The log file cannot be written.\n" + File("folder.hex") + ": Is a directory"},
        {"serial file in a missing folder",
         {"program", hex, "--serial", "1", "--serial-file", nowhere}, "", 2,
         "The serial number file cannot be written.\n" + nowhere + ": No such file or directory"},
        {"FIFO as serial file", {"program", hex, "--serial", "1", "--serial-file", fifo}, guard,
         2, "The serial number file cannot be written.\n" + fifo + ": not a regular file"},
        {"read into a FIFO", {"read", "-o", fifo}, guard, 2,
         "A problem occurred while trying to save the HEX file.\n" + fifo
                 + ": not a regular file"},
        {"read into a missing folder", {"read", "-o", nowhere}, "", 2,
         "A problem occurred while trying to save the HEX file.\n" + nowhere
                 + ": No such file or directory"},
        {"FIFO as log", {"program", hex, "--log", fifo}, guard, 2,
         "The log file cannot be written.\n" + fifo + ": not a regular file"},
        {"missing board image", {"program", hex, "--board-image", File("none.hex")}, "", 2,
         loading(File("none.hex"), "No such file or directory")},
    };
    fs::permissions(Dir, fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Name);
        std::vector<std::string> args = c.Args;
        args.insert(args.end(), {"--chip", "16F84", "--simulate"});
        const TRun run = Cli(args, c.Prefix);
        EXPECT_EQ(run.Status, c.Status) << Show(run);
        EXPECT_TRUE(Has(run.Err, c.Message)) << Show(run);
        // Refused before anything was sent to the board.
        EXPECT_FALSE(Has(run.Err, "Programming")) << Show(run);
        EXPECT_FALSE(Has(run.Err, "Reading")) << Show(run);
    }
    EXPECT_FALSE(fs::exists(nowhere));
}

// The board's end closes before and during each phase, or after the result
// but before the closing "Q"; the board bytes count "PP". One line says so,
// and the command ends soon and quietly.
TEST_F(ProductionTest, ALostLineEndsTheCommandSoonWithOneLine)
{
    std::vector<uint16_t> words(512);
    for (size_t i = 0; i < words.size(); ++i)
        words[i] = static_cast<uint16_t>(i);
    const std::string image = Write("lost-line.hex", THexBuilder().Words(0, words).End());
    const std::string lost = "The serial line was lost.\n";
    const struct
    {
        const char *What;
        std::vector<std::string> Args;
        int HangupAfter;
        int Status; // 5: as a board that does not answer
        std::string Err;
    } cases[] = {
        {"before the erase", {"erase", "--chip", "16F84"}, 2, 5, lost},
        {"read", {"read", "--chip", "16F84"}, 2 + 2 + 16 * 20, 5, lost},
        {"program words", {"program", image, "--chip", "16F84"}, 2 + 11 + 300, 5, lost},
        {"bulk erase", {"erase", "--chip", "16F84"}, 2 + 1 + 3, 5, lost},
        {"blank test", {"erase", "--chip", "12C671"}, 2 + 2, 5, lost},
        // "P", eight "W"s and the erase's "Y": the result stands.
        {"before the Q", {"erase", "--chip", "16F84"}, 2 + 1 + 8 + 1, 0,
         "Warning: the serial line was lost before the board closed the operation.\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.What);
        std::vector<std::string> args = c.Args;
        args.insert(args.end(), {"--simulate", "--board-fault",
                                 "hangup-after=" + std::to_string(c.HangupAfter), "-q"});
        rusage before{};
        getrusage(RUSAGE_CHILDREN, &before);
        const auto start = std::chrono::steady_clock::now();
        const TRun run = Cli(args, "timeout -s KILL 20 ");
        const double wall =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        rusage after{};
        getrusage(RUSAGE_CHILDREN, &after);
        const auto seconds = [](const timeval &t) { return t.tv_sec + t.tv_usec / 1e6; };
        const double cpu = seconds(after.ru_utime) - seconds(before.ru_utime)
                + seconds(after.ru_stime) - seconds(before.ru_stime);
        EXPECT_EQ(run.Status, c.Status) << Show(run);
        EXPECT_EQ(run.Err, c.Err) << Show(run);
        // Start-up, the operation up to the hang-up, and at most 4 s after it.
        EXPECT_LT(wall, 4.0);
        // Waiting on a dead line must not spin; start-up's own CPU aside, a
        // spinning wait would use about as much CPU as time passed.
        EXPECT_LT(cpu, 0.25 + 0.5 * wall) << cpu << " s of CPU in " << wall << " s";
    }
}

// program --repeat on a pseudo-terminal: each prompt for the next chip gets
// the next answer, after atPrompt(n) has run for the n-th prompt (from 0).
TRepeatRun RunRepeat(const std::vector<std::string> &args,
                     const std::vector<std::string> &answers,
                     const std::function<void(size_t)> &atPrompt = {})
{
    std::vector<std::string> all = {"program"};
    all.insert(all.end(), args.begin(), args.end());
    all.push_back("--repeat");
    return RunOnTerminal(all, "Next chip: Enter, or q to stop: ", answers, atPrompt);
}

std::vector<std::string> LogValues(const std::string &log, const char *field)
{
    std::istringstream lines(ReadBytes(log));
    std::string line;
    std::vector<std::string> values;
    while (std::getline(lines, line))
        values.push_back(QJsonDocument::fromJson(QByteArray::fromStdString(line))
                                 .object()[field]
                                 .toString()
                                 .toStdString());
    return values;
}

// --repeat on a real terminal: Enter programs the next chip, q stops.
TEST_F(ProductionTest, RepeatProgramsChipAfterChipUntilQ)
{
    const std::string numbers = File("repeat-serial.txt");
    const std::string log = File("repeat-log.jsonl");
    fs::remove(numbers);
    fs::remove(log);
    const std::string original = ReadBytes(File("eeprom84.hex"));
    const std::string hex = Write("repeat.hex", original);
    // The file is rebuilt while the run waits for the second chip: the log
    // still names what was loaded and programmed.
    const TRepeatRun run = RunRepeat({hex, "--chip", "16F84", "--simulate", "--verify",
                                      "--serial", "0x0A00+0x10", "--serial-file", numbers,
                                      "--log", log, "-q"},
                                     {"\n", "\n", "q\n"}, [&](size_t prompt) {
                                         if (prompt == 0)
                                             Write("repeat.hex",
                                                   THexBuilder().Words(0, {0x1234}).End());
                                     });
    EXPECT_EQ(run.Status, 0) << run.Output;
    EXPECT_EQ(run.Prompts, 3u) << run.Output;
    EXPECT_TRUE(Has(run.Output, "Programmed: 3, failed: 0.")) << run.Output;
    EXPECT_EQ(ReadBytes(numbers), "0x0A30\n");
    EXPECT_EQ(LogValues(log, "id"), (std::vector<std::string>{"0A00", "0A10", "0A20"}));
    EXPECT_EQ(LogValues(log, "sha256"), std::vector<std::string>(3, Sha256(original)));
}

// Ctrl-C on the terminal while the run waits for the next chip: the run ends
// with its summary and the status of SIGINT; the numbers handed out stay.
TEST_F(ProductionTest, CtrlCBetweenChipsEndsTheRunWithItsSummary)
{
    const std::string numbers = File("repeat-ctrl-c-serial.txt");
    WriteBytes(numbers, "0x0B00\n");
    const TRepeatRun run = RunRepeat({File("eeprom84.hex"), "--chip", "16F84", "--simulate",
                                      "--serial", "0x0B00", "--serial-file", numbers, "-q"},
                                     {"\n", "\x03"});
    EXPECT_EQ(run.Status, 130) << run.Output;
    EXPECT_EQ(run.Prompts, 2u) << run.Output;
    EXPECT_TRUE(Has(run.Output, "Programmed: 2, failed: 0.")) << run.Output;
    EXPECT_FALSE(Has(run.Output, "Cancelled.")) << run.Output;
    EXPECT_EQ(ReadBytes(numbers), "0x0B02\n");
}

TEST_F(ProductionTest, RepeatCountsFailedChipsAndStopsWhenANumberIsNotKept)
{
    const std::string numbers = File("repeat-fail-serial.txt");
    const std::vector<std::string> common = {File("eeprom84.hex"), "--chip", "16F84",
                                             "--simulate", "--verify", "--serial", "0x0A00",
                                             "--serial-file", numbers, "-q"};

    // Every chip fails its verify: none takes a number.
    WriteBytes(numbers, "0x0A00\n");
    std::vector<std::string> args = common;
    args.insert(args.end(), {"--board-fault", "corrupt-word=3"});
    TRepeatRun run = RunRepeat(args, {"\n", "q\n"});
    EXPECT_EQ(run.Status, 4) << run.Output;
    EXPECT_EQ(run.Prompts, 2u) << run.Output;
    EXPECT_TRUE(Has(run.Output, "Programmed: 0, failed: 2.")) << run.Output;
    EXPECT_EQ(ReadBytes(numbers), "0x0A00\n");

    // The file cannot give the second chip its number: no third chip is
    // asked for, as it would find none either.
    run = RunRepeat(common, {"\n", "\n", "q\n"}, [&](size_t prompt) {
        if (prompt == 0) {
            fs::remove(numbers);
            fs::create_directory(numbers);
        }
    });
    EXPECT_EQ(run.Status, 2) << run.Output;
    EXPECT_EQ(run.Prompts, 1u) << run.Output;
    EXPECT_TRUE(Has(run.Output, "The serial number file cannot be read.")) << run.Output;
    EXPECT_TRUE(Has(run.Output, "Programmed: 1, failed: 1.")) << run.Output;
    fs::remove(numbers);
}

// Each chip's calibration word is its own: the second, blank chip gets the
// file's value, not the one kept from the first chip.
TEST_F(ProductionTest, RepeatKeepsEachChipsOwnCalibrationWord)
{
    const std::string chip = Write("repeat-3480.hex", THexBuilder().Words(0x3FF, {0x3480}).End());
    const std::string file = Write(
            "repeat-34ff.hex", THexBuilder().Words(0, {0x2805}).Words(0x3FF, {0x34FF}).End());
    const std::string saved = File("repeat-osccal.hex");
    // Read, blank test and Program of the first chip end with the third End.
    const TRepeatRun run = RunRepeat({file, "--chip", "12C671", "--simulate", "--yes",
                                      "--keep-osccal", "--board-image", chip, "--board-fault",
                                      "new-chip-after=3", "--board-save", saved},
                                     {"\n", "q\n"});
    EXPECT_EQ(run.Status, 0) << run.Output;
    EXPECT_TRUE(Has(run.Output, "Keeping the chip's calibration word 3480.")) << run.Output;
    EXPECT_TRUE(Has(run.Output, "The chip holds no calibration word (3FFF); the file's is "
                                "programmed.")) << run.Output;
    EXPECT_TRUE(Has(run.Output, "Programmed: 2, failed: 0.")) << run.Output;
    EXPECT_EQ(FieldLine(ChipInfo(saved, "12C671").Out, "OSCCAL"), "34FF (RETLW 0xFF)");
}

} // namespace
