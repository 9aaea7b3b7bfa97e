// The Qt-free pieces of production runs: serial numbers and their file, the
// JSON log line, the chip-against-file comparison and the OSCCAL choice.
#include "cli/CliArgs.h"
#include "cli/CliCompare.h"
#include "cli/CliLog.h"
#include "cli/CliReport.h"
#include "cli/CliSerial.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <filesystem>
#include <random>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

struct TScratch
{
    TScratch()
    {
        std::random_device rd;
        Path = fs::temp_directory_path() / ("varnel-units-" + std::to_string(rd()));
        fs::create_directories(Path);
    }
    ~TScratch()
    {
        std::error_code ec;
        fs::permissions(Path, fs::perms::owner_all, ec);
        fs::remove_all(Path, ec);
    }
    std::string File(const std::string &name) const { return (Path / name).string(); }
    // The names in the folder, sorted: leftovers of a save show up here.
    std::vector<std::string> Names() const
    {
        std::vector<std::string> names;
        for (const fs::directory_entry &entry : fs::directory_iterator(Path))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    fs::path Path;
};

// A call that would wait on a FIFO kills the test instead of hanging it.
struct THangGuard
{
    THangGuard() { ::alarm(20); }
    ~THangGuard() { ::alarm(0); }
};

TEST(SerialNumbers, TakesStartAndStepUpToFourHexDigits)
{
    const struct
    {
        const char *Text;
        bool Ok;
        uint32_t Start;
        uint32_t Step;
    } cases[] = {
        {"0x0100+1", true, 0x100, 1}, {"256", true, 256, 1},      {"0xFFFF", true, 0xFFFF, 1},
        {"10+0x10", true, 10, 16},    {"0+0xFFFF", true, 0, 0xFFFF},
        {"0x10000", false, 0, 0},     {"1+0", false, 0, 0},        {"1+0x10000", false, 0, 0},
        {"", false, 0, 0},            {"+1", false, 0, 0},         {"-1", false, 0, 0},
        {"1+", false, 0, 0},          {"12AB", false, 0, 0},       {"1+2+3", false, 0, 0},
        {"99999999999999999999", false, 0, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Text);
        TSerialNumbers numbers;
        numbers.Start = 77;
        ASSERT_EQ(ParseSerialNumbers(c.Text, numbers), c.Ok);
        if (c.Ok) {
            EXPECT_EQ(numbers.Start, c.Start);
            EXPECT_EQ(numbers.Step, c.Step);
        } else {
            EXPECT_EQ(numbers.Start, 77u);
        }
    }
}

TEST(SerialFile, KeepsTheNextNumberAndRefusesGarbage)
{
    TScratch dir;
    const std::string path = dir.File("serial");
    uint32_t next = 0;
    std::string error;
    ASSERT_TRUE(LoadNextSerial(path, 0x100, next, error)) << error;
    EXPECT_EQ(next, 0x100u); // no file yet: the start

    ASSERT_TRUE(SaveNextSerial(path, 0x10000, error)) << error;
    EXPECT_EQ(ReadBytes(path), "0x10000\n");
    ASSERT_TRUE(LoadNextSerial(path, 0x100, next, error)) << error;
    EXPECT_EQ(next, 0x10000u); // the file wins over the start
    EXPECT_EQ(dir.Names(), std::vector<std::string>{"serial"});

    // A number whose first line runs on past what is read must not pass for
    // the digits that were read.
    const std::string longLine = "0x" + std::string(70, '0') + "102\n";
    for (const std::string &content : {std::string(), std::string("next\n"),
                                       std::string("0x1FFFF\n"), std::string("-3\n"),
                                       longLine}) {
        SCOPED_TRACE(content);
        WriteBytes(path, content);
        next = 5;
        error.clear();
        EXPECT_FALSE(LoadNextSerial(path, 0x100, next, error));
        EXPECT_NE(error.find(path), std::string::npos) << error;
        EXPECT_EQ(next, 5u);
    }
}

// Run as another user in a child, so that a folder's permissions apply even
// when the tests run as root; the child's exit status is the verdict.
template <typename TCheck>
int AsNobody(TCheck check)
{
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setresgid(65534, 65534, 65534) != 0 || ::setresuid(65534, 65534, 65534) != 0)
            ::_exit(99);
        ::_exit(check() ? 0 : 1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(SerialFile, AFailedSaveLeavesTheOldNumber)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to act as another user";
    TScratch dir;
    const std::string path = dir.File("serial");
    std::string error;
    ASSERT_TRUE(SaveNextSerial(path, 0x0101, error));
    ::chmod(dir.Path.c_str(), 0755);
    ::chmod(path.c_str(), 0666); // the number itself is writable, the folder is not
    const int verdict = AsNobody([&] {
        std::string why;
        return !SaveNextSerial(path, 0x0102, why)
                && why.find("Permission denied") != std::string::npos;
    });
    EXPECT_EQ(verdict, 0);
    EXPECT_EQ(ReadBytes(path), "0x0101\n");
    EXPECT_EQ(dir.Names(), std::vector<std::string>{"serial"});
}

// What a save would meet is found before any chip takes a number.
TEST(SerialFile, CheckFindsWhatASaveWouldMeet)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to act as another user";
    TScratch dir;
    const THangGuard guard;
    WriteBytes(dir.File("serial"), "0x0100\n");
    fs::create_directories(dir.Path / "folder");
    ASSERT_EQ(::mkfifo(dir.File("fifo").c_str(), 0644), 0);
    const struct
    {
        const char *Name;
        const char *Problem; // nullptr: taken
    } cases[] = {
        {"serial", nullptr},
        {"new", nullptr},
        {"no/such/folder/serial", "No such file or directory"},
        {"folder", "Is a directory"},
        {"fifo", "not a regular file"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Name);
        const std::string path = dir.File(c.Name);
        std::string error;
        EXPECT_EQ(CheckSerialFile(path, error), c.Problem == nullptr) << error;
        if (c.Problem) {
            EXPECT_EQ(error, path + ": " + c.Problem);
        }
    }
    // The check leaves nothing behind, and a FIFO is refused at once.
    EXPECT_EQ(dir.Names(), (std::vector<std::string>{"fifo", "folder", "serial"}));
    uint32_t next = 7;
    std::string error;
    EXPECT_FALSE(LoadNextSerial(dir.File("fifo"), 1, next, error));
    EXPECT_EQ(error, dir.File("fifo") + ": not a regular file");
    EXPECT_EQ(next, 7u);

    // A folder the user may not write is found as the save would find it.
    ::chmod(dir.Path.c_str(), 0755);
    const int verdict = AsNobody([&] {
        std::string why;
        return !CheckSerialFile(dir.File("new"), why)
                && why.find("Permission denied") != std::string::npos;
    });
    EXPECT_EQ(verdict, 0);
}

TEST(SerialFile, OneRunAtATimeHoldsTheFile)
{
    TScratch dir;
    const std::string path = dir.File("serial");
    std::string error;
    {
        TSerialLock first;
        ASSERT_TRUE(first.Take(path, error)) << error;
        TSerialLock second;
        EXPECT_FALSE(second.Take(path, error));
        EXPECT_NE(error.find("in use by another run"), std::string::npos) << error;
        // Another name for the same file takes the same lock.
        fs::create_symlink(path, dir.File("link"));
        TSerialLock third;
        EXPECT_FALSE(third.Take(dir.File("link"), error));
    }
    TSerialLock again;
    EXPECT_TRUE(again.Take(path, error)) << error; // released with its holder
}

// A lab's shared folder (sticky, open to all) with one user's number file
// and the lock file that user's run left behind: the next user takes the
// lock and the next number, and the file stays the first user's, mode and
// other name included.
TEST(SerialFile, AnotherUserAdvancesASharedFile)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to act as another user";
    TScratch dir;
    ASSERT_EQ(::chmod(dir.Path.c_str(), 01777), 0);
    const std::string path = dir.File("serial");
    std::string error;
    {
        TSerialLock mine;
        ASSERT_TRUE(mine.Take(path, error)) << error;
        ASSERT_TRUE(SaveNextSerial(path, 0x0101, error)) << error;
    }
    ASSERT_EQ(::chmod(path.c_str(), 0666), 0);
    fs::create_hard_link(path, dir.File("serial-too"));
    struct stat old = {};
    ASSERT_EQ(::stat(path.c_str(), &old), 0);
    EXPECT_EQ(AsNobody([&] {
        TSerialLock theirs;
        std::string why;
        uint32_t next = 0;
        return theirs.Take(path, why) && LoadNextSerial(path, 1, next, why)
                && next == 0x0101 && SaveNextSerial(path, next + 1, why);
    }), 0);
    struct stat now = {};
    ASSERT_EQ(::stat(path.c_str(), &now), 0);
    EXPECT_EQ(ReadBytes(path), "0x0102\n");
    EXPECT_EQ(ReadBytes(dir.File("serial-too")), "0x0102\n");
    EXPECT_EQ(now.st_uid, old.st_uid);
    EXPECT_EQ(now.st_gid, old.st_gid);
    EXPECT_EQ(now.st_mode & 07777, 0666u);
}

TEST(LogLine, EscapesEveryTextSoTheLineParses)
{
    const struct
    {
        std::string Text;
        std::string Json;
    } cases[] = {
        {"plain", "\"plain\""},
        {"a \"b\" \\c", "\"a \\\"b\\\" \\\\c\""},
        {"two\nlines", "\"two\\nlines\""},
        {std::string("tab\tbell\x07", 9), "\"tab\\u0009bell\\u0007\""},
        {"caf\xC3\xA9", "\"caf\xC3\xA9\""},      // valid UTF-8 stays
        {"bad\xFF\xC3", "\"bad\\ufffd\\ufffd\""}, // broken bytes are replaced
        {"\xF0\x9F\x98\x80", "\"\xF0\x9F\x98\x80\""},   // a four-byte character stays
        // An overlong "/", a surrogate and a value past U+10FFFF: each
        // byte replaced, as a reader would refuse them.
        {"\xE0\x80\xAF", "\"\\ufffd\\ufffd\\ufffd\""},
        {"\xED\xA0\x80", "\"\\ufffd\\ufffd\\ufffd\""},
        {"\xF4\x90\x80\x80", "\"\\ufffd\\ufffd\\ufffd\\ufffd\""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Json);
        EXPECT_EQ(JsonText(c.Text), c.Json);
    }

    TLogEntry entry;
    entry.Time = 86400 * 366 + 3661; // 1971-01-02 01:01:01 UTC
    entry.Operation = "program";
    entry.Chip = "16F84";
    entry.Port = "/dev/ttyUSB0";
    entry.File = "dir \"x\"/a\xFF.hex";
    entry.Sha256 = "ab";
    entry.Id = "0100";
    entry.Config = "3FF1";
    entry.Result = "There was a problem loading the HEX file.\nx: No such file";
    entry.Exit = 2;
    const std::string line = LogLine(entry);
    EXPECT_EQ(line.find('\n'), std::string::npos);
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(line), &error);
    ASSERT_EQ(error.error, QJsonParseError::NoError) << line;
    const QJsonObject o = doc.object();
    EXPECT_EQ(o["time"].toString().toStdString(), "1971-01-02T01:01:01Z");
    EXPECT_EQ(o["file"].toString().toStdString(), "dir \"x\"/a\xEF\xBF\xBD.hex");
    EXPECT_EQ(o["result"].toString().toStdString(), entry.Result);
    EXPECT_EQ(o["exit"].toInt(), 2);

    entry.File.clear();
    entry.Id.clear();
    const QJsonObject bare =
            QJsonDocument::fromJson(QByteArray::fromStdString(LogLine(entry))).object();
    EXPECT_TRUE(bare["file"].isNull());
    EXPECT_TRUE(bare["id"].isNull());
}

TEST(LogFile, AppendsWholeLines)
{
    TScratch dir;
    const std::string path = dir.File("log.jsonl");
    std::string error;
    ASSERT_TRUE(CheckLogFile(path, error)) << error;
    ASSERT_TRUE(AppendLogLine(path, "{\"a\":1}", error));
    ASSERT_TRUE(AppendLogLine(path, "{\"a\":2}", error));
    EXPECT_EQ(ReadBytes(path), "{\"a\":1}\n{\"a\":2}\n");
    EXPECT_FALSE(CheckLogFile(dir.File("no/such/folder/log"), error));
    EXPECT_NE(error.find("No such file or directory"), std::string::npos) << error;
    EXPECT_FALSE(CheckLogFile(dir.Path.string(), error)); // a folder

    // A FIFO would hold the run until something reads it.
    const THangGuard guard;
    const std::string fifo = dir.File("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    EXPECT_FALSE(CheckLogFile(fifo, error));
    EXPECT_EQ(error, fifo + ": not a regular file");
    EXPECT_FALSE(AppendLogLine(fifo, "{}", error));
    EXPECT_EQ(error, fifo + ": not a regular file");
}

std::vector<std::string> Decimal(std::initializer_list<int> values)
{
    std::vector<std::string> out;
    for (int v : values)
        out.push_back(std::to_string(v));
    return out;
}

TEST(CompareImages, ListsEachDifferenceAsVerifyWouldSeeIt)
{
    TImageValues image;
    image.Rom = Decimal({0x2805, 0x0000, 0xFFFF, 0x1234});
    image.Rom.push_back("junk"); // unreadable: blank, as the link takes it
    image.Eep = Decimal({1, 2, 0x1FF});
    image.Id = 0x0100;
    image.Fuse = 0x3FF1;
    // What a chip holding the image reads back: 14-bit words, 8-bit bytes.
    TImageValues chip = image;
    chip.Rom = Decimal({0x2805, 0x0000, 0x3FFF, 0x1234, 0x3FFF});
    chip.Eep = Decimal({1, 2, 0xFF});
    EXPECT_TRUE(CompareImages(chip, image, 5, 3).empty());

    chip.Rom = Decimal({0x2805, 0x0001, 0x3FFF, 0x1234, 0x3FFF, 0x0000});
    chip.Eep = Decimal({1, 3, 0xFF, 0x00});

    chip.Id = 0x0101;
    chip.Fuse = 0x3FF5;
    const std::vector<TDifference> found = CompareImages(chip, image, 6, 4);
    const struct
    {
        std::string Region;
        int32_t Address, Chip, Image;
    } expected[] = {
        {"ROM", 1, 0x0001, 0x0000},  {"ROM", 5, 0x0000, 0x3FFF}, // short image: blank
        {"EEPROM", 1, 3, 2},         {"EEPROM", 3, 0x00, 0xFF},
        {"ID", 0x2000, 0x0101, 0x0100}, {"Fuse", 0x2007, 0x3FF5, 0x3FF1},
    };
    ASSERT_EQ(found.size(), std::size(expected));
    for (size_t i = 0; i < found.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(found[i].Region, expected[i].Region);
        EXPECT_EQ(found[i].Address, expected[i].Address);
        EXPECT_EQ(found[i].Chip, expected[i].Chip);
        EXPECT_EQ(found[i].Image, expected[i].Image);
    }

    const std::vector<std::string> lines = DifferenceLines(found, 2);
    const std::vector<std::string> capped = {"Region  Address  Chip  File",
                                             "ROM     0001     0001  0000",
                                             "ROM     0005     0000  3FFF", "... and 4 more"};
    EXPECT_EQ(lines, capped);
    EXPECT_EQ(DifferenceLines(found, 6).size(), 7u);
}

TEST(OscCalChoice, KeepsOnlyACalibrationWord)
{
    const struct
    {
        int32_t ChipWord;
        bool FileHasValue;
        TOscCalChoice Choice;
    } cases[] = {
        {0x3480, false, TOscCalChoice::KeepChip}, {0x3480, true, TOscCalChoice::KeepChip},
        {0x34FF, true, TOscCalChoice::KeepChip},  {0x3400, false, TOscCalChoice::KeepChip},
        {0x3FFF, true, TOscCalChoice::UseFile},   {0x3FFF, false, TOscCalChoice::Refuse},
        {0x3580, false, TOscCalChoice::Refuse},   {0x0480, true, TOscCalChoice::UseFile},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.ChipWord);
        EXPECT_EQ(ChooseOscCal(c.ChipWord, c.FileHasValue), c.Choice);
    }
}

TEST(WorseExitCode, AnyFailureBeatsSuccessAndTheHigherFailureWins)
{
    const int cases[][3] = {{0, 0, 0}, {0, 3, 3}, {4, 0, 4}, {3, 4, 4}, {5, 1, 5}, {2, 2, 2}};
    for (const auto &c : cases)
        EXPECT_EQ(WorseExitCode(c[0], c[1]), c[2]) << c[0] << " " << c[1];
}

TEST(CliArgs, ProductionOptionsAndTheirRules)
{
    const struct
    {
        std::vector<std::string> Args;
        const char *Error; // "" when taken
    } cases[] = {
        {{"program", "f.hex", "--chip", "16F84", "--verify", "--serial", "0x100+2",
          "--serial-file", "s", "--log", "l", "--repeat"}, ""},
        {{"verify", "f.hex", "--chip", "16F84", "--all", "--log", "l"}, ""},
        {{"program", "f.hex", "--chip", "12C671", "--keep-osccal"}, ""},
        {{"program", "f.hex", "--chip", "16F84", "--serial-file", "s"}, "--serial-file needs"},
        {{"program", "f.hex", "--chip", "16F84", "--serial", "1", "--id", "5"},
         "only one of --id and --serial"},
        {{"program", "f.hex", "--chip", "12C671", "--keep-osccal", "--osccal", "80"},
         "only one of --osccal and --keep-osccal"},
        {{"program", "f.hex", "--chip", "16F84", "--serial", "0x10000"}, "--serial takes"},
        {{"verify", "f.hex", "--chip", "16F84", "--verify"}, "does not apply to verify"},
        {{"program", "f.hex", "--chip", "16F84", "--all"}, "does not apply to program"},
        {{"read", "--chip", "16F84", "--repeat"}, "does not apply to read"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Args.back());
        const TCliArgs args = ParseCliArgs(c.Args);
        if (*c.Error == '\0') {
            EXPECT_EQ(args.Error, "");
        } else {
            EXPECT_NE(args.Error.find(c.Error), std::string::npos) << args.Error;
        }
    }
    const TCliArgs args = ParseCliArgs(cases[0].Args);
    EXPECT_TRUE(args.VerifyAfter && args.Repeat && args.HasSerial);
    EXPECT_EQ(args.SerialStart, 0x100u);
    EXPECT_EQ(args.SerialStep, 2u);
    EXPECT_EQ(CliCommandName(args.Command), "program");
}

} // namespace
