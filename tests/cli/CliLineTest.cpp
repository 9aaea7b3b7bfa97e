// The rough edges of a real line, through the real varnelpro-cli: a noisy
// start, a silent board, a failed word's reply cut short, and ports that
// cannot be used (another user's group, another program's hold).
#include "board/BoardTestSupport.h"
#include "cli/CliRun.h"
#include "support/BoardProcess.h"
#include "support/ChildProcess.h"
#include "support/WorkFolder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <thread>

#include <grp.h>
#include <pty.h>
#include <sys/file.h>

#ifndef VARNEL_BOARD
#error "VARNEL_BOARD must name the varnel-board executable"
#endif

namespace {

using namespace std::chrono_literals;

const std::string PortProblem = "There appears to be a problem accessing the COM Port\n";

int Count(const std::string &text, const std::string &part)
{
    int n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

class CliLineTest : public testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(Folder.Ok()); }
    std::string File(const std::string &name) const { return Folder.Path + "/" + name; }
    TRun Cli(const std::vector<std::string> &args, const std::string &prefix = "")
    {
        return RunCli(args, File("cli.err"), prefix);
    }
    // varnel-board with options; its device path.
    void StartBoard(std::vector<std::string> options)
    {
        ASSERT_TRUE(Board.Start(Folder.Path, "board", options)) << ReadBytes(File("board.err"));
    }
    // words program words of 0 for a 16F84, as INHX8M.
    std::string ZeroWords(int words)
    {
        std::string text;
        for (int addr = 0; addr < words; addr += 8)
            text += HexRecord(addr * 2, TBytes(16, 0)) + "\n";
        const std::string path = File("zeros.hex");
        WriteBytes(path, text + ":00000001FF\n");
        return path;
    }

    TWorkFolder Folder{"varnel-cli-line"};
    TBoardProcess Board;
    const std::string &Device = Board.Device;
};

// A board's power-on glitch before its "PP", or its noise waiting on the
// line before the port opens, does not hide it.
TEST_F(CliLineTest, NoisyStartFindsTheBoard)
{
    for (const char *fault : {"hello-glitch=0", "hello-glitch=0xFF", "early-bytes=5800FF51"}) {
        SCOPED_TRACE(fault);
        const TRun run = Cli({"read", "--chip", "16F84", "--simulate", "--board-fault", fault});
        EXPECT_EQ(run.Status, 0) << Show(run);
        EXPECT_NE(run.Err.find("PicVarnel board found"), std::string::npos) << Show(run);
    }
}

TEST_F(CliLineTest, SilentBoardSaysWhatToTry)
{
    const TRun run = Cli({"read", "--chip", "16F84", "--simulate", "--board-fault",
                          "silent-from=1"});
    EXPECT_EQ(run.Status, 5) << Show(run);
    EXPECT_NE(run.Err.find("No response from programmer board\nCheck the cable and the port, "
                           "then switch the board off and on (a board left in the middle of "
                           "a Program waits for words).\n"),
              std::string::npos)
        << Show(run);
}

// "F" and the address's high byte, then 2 s of nothing, then the rest, whose
// low byte reads "X" on the line: one message, and the next command on the
// same board works.
TEST_F(CliLineTest, CutShortFailedWordIsOneMessageAndTheNextCommandWorks)
{
    StartBoard({"--cut-f", "2000", "--fail-word", "0x158"});
    const auto start = std::chrono::steady_clock::now();
    TRun run = Cli({"program", ZeroWords(0x200), "--chip", "16F84", "--device", Device, "--yes"});
    const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(run.Status, 3) << Show(run);
    EXPECT_EQ(Count(run.Err, "ROM verify error at address 01??"), 1) << Show(run);
    EXPECT_EQ(Count(run.Err, "ROM verify error"), 1) << Show(run);
    for (const char *never : {"No response", "Serial data error.", "Warning"})
        EXPECT_EQ(run.Err.find(never), std::string::npos) << never << "\n" << Show(run);
    // It waited for the rest of the reply, and not much longer.
    EXPECT_LT(seconds, 10.0);

    run = Cli({"read", "--chip", "16F84", "--device", Device});
    EXPECT_EQ(run.Status, 0) << Show(run);
    EXPECT_EQ(run.Err.find("Serial data error."), std::string::npos) << Show(run);
}

// A device node of mode 0660 whose group the user is not in: the message
// names that group and the command that joins it.
TEST_F(CliLineTest, PermissionDeniedNamesTheDevicesGroup)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to give the device a group and run as another user";
    const group *dialout = ::getgrnam("dialout");
    ASSERT_NE(dialout, nullptr);
    const std::string name = dialout->gr_name;
    int master = -1, slave = -1;
    char path[128] = {};
    ASSERT_EQ(openpty(&master, &slave, path, nullptr, nullptr), 0);
    ASSERT_EQ(::chown(path, 0, dialout->gr_gid), 0);
    ASSERT_EQ(::chmod(path, 0660), 0);
    const TRun run = Cli({"read", "--chip", "16F84", "--device", path},
                         "setpriv --reuid=65534 --regid=65534 --clear-groups ");
    ::close(master);
    ::close(slave);
    EXPECT_EQ(run.Status, 3) << Show(run);
    EXPECT_NE(run.Err.find(PortProblem + "Your user is not in the group '" + name
                           + "' that owns " + path + ": sudo usermod -aG " + name
                           + " $USER, then log in again\n"),
              std::string::npos)
        << Show(run);
}

// Another program holds the port: the message names it.
TEST_F(CliLineTest, BusyPortNamesTheProgramThatHoldsIt)
{
    // A board that never answers keeps the first command waiting on the port.
    StartBoard({"--silent-from", "1"});
    TChildProcess holder;
    ASSERT_TRUE(holder.Start({VARNEL_CLI, "read", "--chip", "16F84", "--device", Device},
                             File("holder.out"), File("holder.err")));
    std::this_thread::sleep_for(500ms);
    const TRun run = Cli({"read", "--chip", "16F84", "--device", Device});
    EXPECT_EQ(run.Status, 3) << Show(run);
    EXPECT_NE(run.Err.find(PortProblem + Device + ": in use by process "
                           + std::to_string(holder.Pid) + " (varnelpro-cli)\n"),
              std::string::npos)
        << Show(run);
    EXPECT_EQ(holder.Wait(10000), 5);
}

} // namespace
