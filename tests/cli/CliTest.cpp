// The command line as a script sees it: the real executable, its output and
// its exit status, against gpasm-built images and the built-in virtual board.
#include "CliRun.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

// A fresh folder, removed afterwards.
struct TTempDir
{
    TTempDir()
    {
        std::random_device rd;
        Path = fs::temp_directory_path()
                / ("varnel-cli-" + std::to_string(rd()) + std::to_string(rd()));
        fs::create_directories(Path);
    }
    ~TTempDir()
    {
        std::error_code ec;
        fs::remove_all(Path, ec);
    }
    std::string File(const std::string &name) const { return (Path / name).string(); }

    fs::path Path;
};

class CliTest : public testing::Test
{
protected:
    // The HEX test programs, assembled once for the whole suite.
    static void SetUpTestSuite()
    {
        if (!HaveGpasm())
            return;
        Dir = new TTempDir;
        for (const char *name : {"eeprom84", "bank877", "osccal671"}) {
            Assembled = AssembleTestProgram(Dir->Path.string(), name);
            if (!Assembled)
                return;
        }
    }
    static void TearDownTestSuite()
    {
        delete Dir;
        Dir = nullptr;
    }

    void SetUp() override
    {
        if (!HaveGpasm())
            GTEST_SKIP() << "gpasm is not installed (Debian package gputils)";
        ASSERT_TRUE(Assembled) << "gpasm failed on the HEX test programs";
    }

public:
    static std::string Hex(const std::string &name) { return Dir->File(name + ".hex"); }
    static std::string Scratch(const std::string &name) { return Dir->File(name); }

protected:
    static TRun Cli(const std::vector<std::string> &args, const std::string &prefix = "")
    {
        return RunCli(args, (Dir->Path / "stderr.txt").string(), prefix);
    }

    static TTempDir *Dir;
    static bool Assembled;
};

TTempDir *CliTest::Dir = nullptr;
bool CliTest::Assembled = false;

struct TImageCase
{
    const char *File;
    const char *Chip;
    const char *Id;
    const char *Configuration; // as the assembler's __config line asks
    const char *LastWord;
    const char *ProgEnd;
    std::vector<std::string> PadLines; // lines of the --dump output
    const char *OscCal;                // nullptr: no OSCCAL line
};

// Each image also as INHX32, which today's toolchains write: it must load
// into the same image as its INHX8M twin.
TEST_F(CliTest, HexInfoShowsTheAssembledImagesInEitherFormat)
{
    const TImageCase cases[] = {
        {"eeprom84", "16F84", "1A2B", "3FF1  WDT off, PWRTE on, Oscillator XT, Code Protect OFF",
         "03FB = 2ABC", "0400 (1024)",
         {"03F8: 0000 3FFF 1234 2ABC 3FFF 3FFF 3FFF 3FFF",
          "0000:   48   65   6C   6C   6F   2C   20   63     Hello,.c"},
         nullptr},
        {"bank877", "16F877", "FFFF", nullptr, "1FFF = 0ABC", "2000 (8192)",
         {"1FF8: 0001 0002 0003 0004 0005 0006 1234 0ABC"}, nullptr},
        {"osccal671", "12C671", "00C5",
         "3F74  WDT off, MCLRE off, PWRTE off, Oscillator INTIO, Code Protect OFF",
         "03FF = 347C", "0400 (1024)", {"03F8: 3FFF 3FFF 3FFF 3FFF 3FFF 3FFF 3FFF 347C"},
         "347C (RETLW 0x7C)"},
    };
    for (const TImageCase &c : cases) {
        SCOPED_TRACE(c.File);
        const TRun run = Cli({"hexinfo", Hex(c.File), "--chip", c.Chip, "--dump"});
        ASSERT_EQ(run.Status, 0) << Show(run);
        EXPECT_EQ(run.Err, "");
        EXPECT_EQ(FieldLine(run.Out, "ID"), c.Id);
        const std::pair<const char *, const char *> fields[] = {
            {"Configuration", c.Configuration}, {"Last word", c.LastWord},
            {"ProgEnd", c.ProgEnd}};
        for (const auto &[name, value] : fields) {
            if (value) {
                EXPECT_EQ(FieldLine(run.Out, name), value);
            }
        }
        EXPECT_EQ(FieldLine(run.Out, "OSCCAL"), c.OscCal ? c.OscCal : "(no OSCCAL line)");
        for (const std::string &pad : c.PadLines)
            EXPECT_NE(run.Out.find("\n" + pad), std::string::npos) << run.Out;

        const std::string twin = Scratch(std::string(c.File) + "-32.hex");
        const std::string cmd = "gpasm -a inhx32 -o " + Quote(twin) + " "
                + Quote(std::string(VARNEL_HEX_TEST_DATA) + "/" + c.File + ".asm")
                + " >/dev/null";
        ASSERT_EQ(std::system(cmd.c_str()), 0);
        ASSERT_EQ(ReadBytes(twin).rfind(":020000040000FA", 0), 0u);
        const TRun inhx32 = Cli({"hexinfo", twin, "--chip", c.Chip, "--dump"});
        ASSERT_EQ(inhx32.Status, 0) << Show(inhx32);
        EXPECT_EQ(inhx32.Out, run.Out);
    }
}

// program -> read -> verify through the virtual board, chained by files: the
// chip that one run leaves is the next run's board image.
TEST_F(CliTest, ProgramReadVerifyRoundTrips)
{
    const struct
    {
        const char *File;
        const char *Chip;
    } cases[] = {{"eeprom84", "16F84"}, {"bank877", "16F877"}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Chip);
        const std::string chip = Scratch(std::string(c.Chip) + "-chip.hex");
        const std::string read = Scratch(std::string(c.Chip) + "-read.hex");
        TRun run = Cli({"program", Hex(c.File), "--chip", c.Chip, "--simulate", "--board-save",
                        chip});
        ASSERT_EQ(run.Status, 0) << Show(run);
        EXPECT_NE(run.Err.find("Programming complete."), std::string::npos) << run.Err;

        run = Cli({"read", "--chip", c.Chip, "--simulate", "--board-image", chip, "-o", read});
        ASSERT_EQ(run.Status, 0) << Show(run);

        run = Cli({"verify", Hex(c.File), "--chip", c.Chip, "--simulate", "--board-image", read});
        EXPECT_EQ(run.Status, 0) << Show(run);
        EXPECT_NE(run.Err.find("Data verified."), std::string::npos) << run.Err;

        const TRun original = Cli({"hexinfo", Hex(c.File), "--chip", c.Chip, "--dump"});
        const TRun copy = Cli({"hexinfo", read, "--chip", c.Chip, "--dump"});
        ASSERT_EQ(copy.Status, 0) << Show(copy);
        EXPECT_EQ(copy.Out, original.Out);
    }
}

// "@name" in text is the assembled file name.hex, "%name" the scratch file name.
std::string Expand(const std::string &text)
{
    std::string out;
    for (size_t at = 0; at < text.size();) {
        const size_t mark = text.find_first_of("@%", at);
        out += text.substr(at, mark - at);
        if (mark == std::string::npos)
            break;
        at = std::min(text.find_first_of(" :", mark), text.size());
        const std::string name = text.substr(mark + 1, at - mark - 1);
        out += text[mark] == '@' ? CliTest::Hex(name) : CliTest::Scratch(name);
    }
    return out;
}

TEST_F(CliTest, EachFailureHasItsExitCodeAndMessage)
{
    std::ofstream(Scratch("bad.hex")) << ":020000000528D1\n:08000800090083168601831232X\n"
                                         ":00000001FF\n";
    // Neither a file nor a FIFO given as the device may be written to; the
    // FIFO is held open for reading so that a write would land in the pipe.
    const std::string file = Scratch("not-a-port.hex");
    const std::string fifo = Scratch("not-a-port.fifo");
    WriteBytes(file, ":00000001FF\n");
    ::unlink(fifo.c_str());
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    // A line that nobody answers: a pseudo-terminal whose master stays unread.
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    const std::string silent = ptsname(master);
    const struct
    {
        const char *Name;
        std::string Args; // split at spaces, then expanded
        int Status;
        const char *Message; // expanded
    } cases[] = {
        {"unknown chip", "hexinfo @eeprom84 --chip 16F85", 1, "Unknown chip \"16F85\""},
        {"bad ID", "program @eeprom84 --chip 16F84 --id 12G4", 1, "--id takes"},
        {"no file", "verify --chip 16F84 --simulate", 1, "needs a HEX file"},
        {"unknown fuse", "hexinfo @eeprom84 --chip 16F84 --fuse FOO=on", 1,
         "Unknown fuse \"FOO\" for 16F84"},
        {"code protect declined",
         "program @eeprom84 --chip 16C61 --simulate --fuse CodeProtect=ON", 1,
         "No terminal to answer on"},
        {"unknown format", "read --chip 16F84 --simulate --format inhx16 -o %never.hex", 1,
         "--format takes inhx8m or inhx32, not \"inhx16\"."},
        {"format without a file", "read --chip 16F84 --simulate --format inhx32", 1,
         "--format needs --output FILE."},
        {"refused file", "program %bad.hex --chip 16F84 --simulate", 2,
         "There was a data problem in the HEX file on line 2."},
        {"no OSCCAL value", "program @eeprom84 --chip 12C671 --simulate", 2,
         "There is no OSCCAL value listed in the HEX file."},
        {"failed word", "program @eeprom84 --chip 16F84 --simulate --board-fault fail-word=3", 3,
         "ROM verify error at address 0003"},
        {"board error report", "program @eeprom84 --chip 16F84 --simulate --board-fault x-at=5",
         3, "Serial data error."},
        {"failed ID", "program @bank877 --chip 16F877 --simulate --board-fault fail-id", 3,
         "Programming ID failed."},
        {"not blank, declined",
         "program @osccal671 --chip 12C671 --simulate --board-image @osccal671", 3,
         "ROM is not blank. Continue?"},
        {"port cannot be opened", "erase --chip 16F84 --device %missing-tty", 3,
         "There appears to be a problem accessing the COM Port"},
        {"file as device", "erase --chip 16F84 --device %not-a-port.hex", 3,
         "There appears to be a problem accessing the COM Port\n%not-a-port.hex: not a serial "
         "device"},
        {"FIFO as device", "erase --chip 16F84 --device %not-a-port.fifo", 3,
         "There appears to be a problem accessing the COM Port\n%not-a-port.fifo: not a serial "
         "device"},
        // A FIFO as the HEX file would wait for a writer forever.
        {"FIFO as HEX file", "hexinfo %not-a-port.fifo --chip 16F84", 2,
         "There was a problem loading the HEX file.\n%not-a-port.fifo: not a regular file"},
        {"FIFO as HEX file to verify",
         "verify %not-a-port.fifo --chip 16F84 --simulate --log %fifo-log.jsonl", 2,
         "There was a problem loading the HEX file.\n%not-a-port.fifo: not a regular file"},
        {"ROM mismatch", "verify @eeprom84 --chip 16F84 --simulate", 4,
         "ROM verify error at address 0000"},
        {"ID mismatch",
         "verify @eeprom84 --chip 16F84 --simulate --board-image @eeprom84 --id 0", 4,
         "ID error."},
        {"fuse mismatch",
         "verify @eeprom84 --chip 16F84 --simulate --board-image @eeprom84 --fuse WDT=on", 4,
         "Fuse error."},
        {"board falls silent",
         "program @eeprom84 --chip 16F84 --simulate --board-fault silent-from=6", 5,
         "No response from programmer board"},
        {"nobody answers", "read --chip 16F84 --device " + silent, 5,
         "No response from programmer board"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Name);
        std::vector<std::string> args;
        std::istringstream words(c.Args);
        for (std::string arg; words >> arg;)
            args.push_back(Expand(arg));
        const TRun run = Cli(args, "timeout -s KILL 20 ");
        EXPECT_EQ(run.Status, c.Status) << Show(run);
        EXPECT_NE(run.Err.find(Expand(c.Message)), std::string::npos) << Show(run);
    }
    ::close(master);
    EXPECT_FALSE(fs::exists(Scratch("never.hex")));
    EXPECT_EQ(ReadBytes(file), ":00000001FF\n");
    char byte = 0;
    EXPECT_LE(::read(reader, &byte, 1), 0);
    ::close(reader);
}

// For the commands that need no test program.
TRun CliAlone(const std::vector<std::string> &args)
{
    const TTempDir dir;
    return RunCli(args, dir.File("stderr.txt"));
}

TEST(CliChips, ListsTheCatalogue)
{
    const TRun run = CliAlone({"chips"});
    ASSERT_EQ(run.Status, 0) << Show(run);
    // A heading and 38 chips.
    ASSERT_EQ(std::count(run.Out.begin(), run.Out.end(), '\n'), 39) << run.Out;
    // Name, program words, EEPROM bytes, socket pins, code-protect warning.
    const auto has = [&](const std::string &row) {
        return run.Out.find(row + "\n") != std::string::npos;
    };
    EXPECT_TRUE(has("12C671     1024       0     8  no"));
    EXPECT_TRUE(has("16C61      1024       0    18  yes"));
    EXPECT_TRUE(has("16F84      1024      64    18  no"));
    EXPECT_TRUE(has("16F877     8192     256    40  no"));
}

// The real machine, with adapters or without: either way the list ends well.
TEST(CliPorts, ListsThisMachine)
{
    const TRun run = CliAlone({"ports"});
    ASSERT_EQ(run.Status, 0) << Show(run);
    EXPECT_EQ(run.Err, "");
    std::istringstream lines(run.Out);
    std::string line;
    int count = 0;
    while (std::getline(lines, line)) {
        ++count;
        const bool none = line == "No serial ports found.";
        EXPECT_TRUE(none ? count == 1 && run.Out == line + "\n"
                         : line.compare(line.find_first_not_of(' '), 5, "/dev/") == 0)
                << line;
    }
    EXPECT_GE(count, 1);
    const TRun chip = CliAlone({"ports", "--chip", "16F84"});
    EXPECT_EQ(chip.Status, 1) << Show(chip);
    EXPECT_NE(chip.Err.find("--chip does not apply to ports."), std::string::npos);
}

// --fuse runs the fuse panel's rule for its control: exactly its bits change.
TEST_F(CliTest, FuseOverridesChangeTheirRuleBits)
{
    const struct
    {
        const char *File;
        const char *Chip;
        const char *Setting;
        const char *Word; // the file's word with the control's rule applied
    } cases[] = {
        {"eeprom84", "16F84", "WDT=on", "3FF5"},         // 3FF1 OR 0x0004
        {"eeprom84", "16F84", "Oscillator=HS", "3FF2"},  // bits 1..0 become 10
        {"bank877", "16F877", "BODEN=off", "3F3A"},      // 3F7A AND 0x3FBF
        {"bank877", "16F877", "CodeProtect=ON", "0F4A"}, // both pairs 00
        {"osccal671", "12C671", "MCLRE=on", "3FF4"},     // 3F74 OR 0x0080
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Setting);
        const TRun run = Cli({"hexinfo", Hex(c.File), "--chip", c.Chip, "--fuse", c.Setting});
        ASSERT_EQ(run.Status, 0) << Show(run);
        EXPECT_EQ(FieldLine(run.Out, "Configuration").substr(0, 4), c.Word);
    }

    // Written to the chip and read back, then switched off again.
    const std::string on = Scratch("wdt-on.hex");
    TRun run = Cli({"program", Hex("eeprom84"), "--chip", "16F84", "--simulate", "--fuse",
                    "WDT=on", "--board-save", on, "-q"});
    ASSERT_EQ(run.Status, 0) << Show(run);
    run = Cli({"hexinfo", on, "--chip", "16F84"});
    EXPECT_EQ(FieldLine(run.Out, "Configuration"),
              "3FF5  WDT on, PWRTE on, Oscillator XT, Code Protect OFF");
    run = Cli({"hexinfo", on, "--chip", "16F84", "--fuse", "WDT=off"});
    EXPECT_EQ(FieldLine(run.Out, "Configuration"),
              "3FF1  WDT off, PWRTE on, Oscillator XT, Code Protect OFF");
}

// read -o in INHX32 only when asked: the INHX8M file behind one linear address
// record of 0000, which srec_cat, gpdasm and the program itself read as the same.
TEST_F(CliTest, ReadSavesInhx32OnlyWhenAsked)
{
    const std::string plain = Scratch("format-plain.hex");
    const std::string named = Scratch("format-named.hex");
    const std::string linear = Scratch("format-linear.hex");
    const std::vector<std::pair<std::string, std::vector<std::string>>> reads = {
        {plain, {}}, {named, {"--format", "INHX8M"}}, {linear, {"--format", "inhx32"}}};
    for (const auto &r : reads) {
        std::vector<std::string> args = {"read", "--chip", "16F84", "--simulate",
                                         "--board-image", Hex("eeprom84"), "-o", r.first};
        args.insert(args.end(), r.second.begin(), r.second.end());
        const TRun run = Cli(args);
        ASSERT_EQ(run.Status, 0) << Show(run);
    }
    EXPECT_EQ(ReadBytes(named), ReadBytes(plain));
    EXPECT_EQ(ReadBytes(plain).rfind(":02000004", 0), std::string::npos);
    EXPECT_EQ(ReadBytes(linear), ":020000040000FA\r\n" + ReadBytes(plain));

    const TRun back = Cli({"hexinfo", linear, "--chip", "16F84", "--dump"});
    ASSERT_EQ(back.Status, 0) << Show(back);
    EXPECT_EQ(back.Out, Cli({"hexinfo", plain, "--chip", "16F84", "--dump"}).Out);

    for (const std::string &tool : {std::string("srec_cat %s -intel -o - -hex-dump"),
                                    std::string("gpdasm -p p16f84 %s")}) {
        std::string outputs[2];
        for (int i = 0; i < 2; ++i) {
            std::string cmd = tool;
            cmd.replace(cmd.find("%s"), 2, Quote(i ? linear : plain));
            const TRun t = RunCommand(cmd, Scratch("tool-err.txt"));
            ASSERT_EQ(t.Status, 0) << cmd << " " << t.Err;
            outputs[i] = t.Out;
        }
        EXPECT_FALSE(outputs[0].empty()) << tool;
        EXPECT_EQ(outputs[1], outputs[0]) << tool;
    }
}

} // namespace
