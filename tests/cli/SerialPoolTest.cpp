// Serial numbers shared by several boards and several runs: each number is
// handed out once, a failed chip's number comes back, and the file tells
// the next run what is left.
#include "cli/CliSerial.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <random>
#include <set>
#include <thread>

#include <sys/file.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

namespace {

struct TScratch
{
    TScratch()
    {
        std::random_device rd;
        Path = std::filesystem::temp_directory_path()
                / ("varnel-serial-" + std::to_string(rd()));
        std::filesystem::create_directories(Path);
    }
    ~TScratch()
    {
        std::error_code ec;
        std::filesystem::remove_all(Path, ec);
    }
    std::string File(const std::string &name) const { return (Path / name).string(); }
    std::filesystem::path Path;
};

TEST(SerialPoolFile, ReadsTheNextNumberAndTheNumbersGivenBack)
{
    const struct
    {
        const char *Content;
        bool Ok;
        uint32_t Next;
        std::set<uint32_t> Returned;
    } cases[] = {
        {"0x0105\n", true, 0x105, {}},
        {"0x0105\n0x0101\n0x0103\n", true, 0x105, {0x101, 0x103}},
        {"0x0105\r\n\r\n0x0103", true, 0x105, {0x103}},
        {"0x10000\n", true, 0x10000, {}},     // the series has ended
        {"0x0105\n0x10000\n", false, 0, {}},  // a number given back was a real ID
        {"0x0105\nnext\n", false, 0, {}},
        {"", false, 0, {}},
    };
    TScratch dir;
    const std::string path = dir.File("serial");
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Content);
        WriteBytes(path, c.Content);
        TSerialFile content;
        std::string error;
        ASSERT_EQ(LoadSerialFile(path, 1, content, error), c.Ok) << error;
        if (!c.Ok) {
            EXPECT_NE(error.find(path), std::string::npos) << error;
            continue;
        }
        EXPECT_EQ(content.Next, c.Next);
        EXPECT_EQ(content.Returned, c.Returned);
    }
}

TEST(SerialPool, HandsOutEachNumberOnceAndTakesGivenBackNumbersFirst)
{
    TScratch dir;
    const std::string path = dir.File("serial");
    TSerialPool pool;
    pool.Start(0x100, 2, path);
    std::string error;
    uint32_t a = 0, b = 0, c = 0, d = 0;
    ASSERT_EQ(pool.Take(a, error), TSerialTake::Taken) << error;
    ASSERT_EQ(pool.Take(b, error), TSerialTake::Taken) << error;
    ASSERT_EQ(pool.Take(c, error), TSerialTake::Taken) << error;
    EXPECT_EQ(std::vector<uint32_t>({a, b, c}), std::vector<uint32_t>({0x100, 0x102, 0x104}));
    EXPECT_EQ(ReadBytes(path), "0x0106\n"); // moved on at once, not after the chip

    // The chip of 0x102 failed before its ID: its number waits in the file.
    ASSERT_TRUE(pool.GiveBack(b, error)) << error;
    EXPECT_EQ(ReadBytes(path), "0x0106\n0x0102\n");
    ASSERT_EQ(pool.Take(d, error), TSerialTake::Taken);
    EXPECT_EQ(d, 0x102u);
    EXPECT_EQ(ReadBytes(path), "0x0106\n");

    // The last number handed out comes back as the next new one.
    ASSERT_TRUE(pool.GiveBack(c, error));
    EXPECT_EQ(ReadBytes(path), "0x0104\n");

    pool.Skip(a);
    EXPECT_EQ(pool.Skipped(), std::vector<uint32_t>{0x100});
}

TEST(SerialPool, PastFFFFNothingIsTakenButAGivenBackNumberStillIs)
{
    TScratch dir;
    const std::string path = dir.File("serial");
    WriteBytes(path, "0x10000\n");
    TSerialPool pool;
    pool.Start(1, 1, path);
    std::string error;
    uint32_t number = 0;
    EXPECT_EQ(pool.Check(number, error), TSerialTake::UsedUp);
    EXPECT_EQ(pool.Take(number, error), TSerialTake::UsedUp);
    EXPECT_EQ(number, 0x10000u);
    EXPECT_EQ(ReadBytes(path), "0x10000\n");
    ASSERT_TRUE(pool.GiveBack(0xFFFF, error));
    EXPECT_EQ(pool.Take(number, error), TSerialTake::Taken);
    EXPECT_EQ(number, 0xFFFFu);

    // Without a file the numbers live in the run.
    TSerialPool memory;
    memory.Start(0xFFFE, 1, "");
    EXPECT_EQ(memory.Take(number, error), TSerialTake::Taken);
    EXPECT_EQ(memory.Take(number, error), TSerialTake::Taken);
    EXPECT_EQ(memory.Take(number, error), TSerialTake::UsedUp);
    EXPECT_EQ(number, 0x10000u);
}

// Eight boards of one run, each on its own thread.
TEST(SerialPool, ThreadsNeverShareANumber)
{
    TScratch dir;
    TSerialPool pool;
    pool.Start(0x100, 1, dir.File("serial"));
    std::vector<std::vector<uint32_t>> taken(8);
    std::vector<std::thread> boards;
    for (auto &mine : taken) {
        boards.emplace_back([&pool, &mine] {
            for (int chip = 0; chip < 12; ++chip) {
                uint32_t number = 0;
                std::string error;
                if (pool.Take(number, error) != TSerialTake::Taken)
                    return;
                mine.push_back(number);
                // Every third chip fails and gives its number back.
                if (chip % 3 == 2) {
                    pool.GiveBack(number, error);
                    mine.pop_back();
                }
            }
        });
    }
    for (std::thread &board : boards)
        board.join();
    std::set<uint32_t> all;
    size_t count = 0;
    for (const auto &mine : taken) {
        count += mine.size();
        all.insert(mine.begin(), mine.end());
    }
    EXPECT_EQ(all.size(), count);
    EXPECT_EQ(count, 8u * 8u);
}

// Two runs sharing the file: each takes numbers under the lock, and the
// file ends one past the last.
TEST(SerialPool, TwoProcessesSharingTheFileNeverShareANumber)
{
    TScratch dir;
    const std::string path = dir.File("serial");
    int pipes[2];
    ASSERT_EQ(::pipe(pipes), 0);
    std::vector<pid_t> children;
    for (int run = 0; run < 2; ++run) {
        const pid_t child = ::fork();
        if (child == 0) {
            TSerialPool pool;
            pool.Start(0x200, 1, path);
            for (int chip = 0; chip < 40; ++chip) {
                uint32_t number = 0;
                std::string error;
                if (pool.Take(number, error) != TSerialTake::Taken)
                    ::_exit(1);
                if (::write(pipes[1], &number, sizeof number) != sizeof number)
                    ::_exit(1);
            }
            ::_exit(0);
        }
        children.push_back(child);
    }
    ::close(pipes[1]);
    std::vector<uint32_t> numbers;
    uint32_t number = 0;
    while (::read(pipes[0], &number, sizeof number) == sizeof number)
        numbers.push_back(number);
    ::close(pipes[0]);
    for (const pid_t child : children) {
        int status = 0;
        ::waitpid(child, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    std::sort(numbers.begin(), numbers.end());
    ASSERT_EQ(numbers.size(), 80u);
    EXPECT_EQ(std::adjacent_find(numbers.begin(), numbers.end()), numbers.end());
    EXPECT_EQ(numbers.front(), 0x200u);
    EXPECT_EQ(numbers.back(), 0x200u + 79);
    EXPECT_EQ(ReadBytes(path), "0x0250\n");
}

TEST(SerialLock, WaitsForAnotherRunsTakeAndGivesUpAfterItsTime)
{
    TScratch dir;
    const std::string path = dir.File("serial");
    std::atomic<bool> held{false};
    std::thread other([&] {
        TSerialLock lock;
        std::string error;
        held = lock.Take(path, error);
        ::usleep(300 * 1000);
    });
    while (!held)
        ::usleep(1000);
    std::string error;
    TSerialLock impatient;
    EXPECT_FALSE(impatient.Take(path, error, 20));
    EXPECT_NE(error.find("in use by another run"), std::string::npos) << error;
    TSerialLock patient;
    EXPECT_TRUE(patient.Take(path, error, 10000)) << error;
    other.join();
}

} // namespace
