// The window on serial lines that go away: a board whose end closes in the
// middle of an operation, and a port that comes back under the same name.
#include "app/prog2.h"
#include "board/SimulatedBoard.h"
#include "chips/ChipCatalogue.h"
#include "link/Serial2.h"
#include "support/EventLoop.h"
#include "support/PlaceChip.h"
#include "support/RecordingUi.h"
#include "support/WorkFolder.h"

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>

#include <unistd.h>

namespace {

bool WaitFor(const std::function<bool()> &done, int ms)
{
    return RunEventLoopUntil(done, ms);
}

double CpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec + t.tv_nsec / 1e9;
}

class WindowLine : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(Folder.Ok());
        Dir = Folder.Path;
        Link = Dir + "/com1";
        setenv("VARNEL_COM1", Link.c_str(), 1);
    }
    void TearDown() override
    {
        Fm.reset();
        Boards.clear();
        unsetenv("VARNEL_COM1");
    }

    TBoardServer &Board(const TBoardOptions &options)
    {
        std::string error;
        Boards.push_back(TSimulatedBoard::Start(options, error));
        EXPECT_TRUE(Boards.back()) << error;
        return Boards.back()->Server();
    }
    // Points the port's name at target, atomically, as udev does.
    void PointPortAt(const std::string &target)
    {
        const std::string fresh = Link + ".new";
        std::remove(fresh.c_str());
        ASSERT_EQ(symlink(target.c_str(), fresh.c_str()), 0);
        ASSERT_EQ(std::rename(fresh.c_str(), Link.c_str()), 0);
    }
    void StartWindow()
    {
        Fm = std::make_unique<TProjFm>(Ui);
        TSerial *serial = Fm->Serial1;
        serial->OnError = [this, serial](QObject *) { Errors.push_back(serial->ErrorCode()); };
        Fm->show();
        ASSERT_TRUE(WaitFor([this] { return Fm->WorkState.Started; }, 3000));
    }
    bool BoardPanelShown() const
    {
        return Fm->BoardPanel->isVisible() && Fm->BoardPanel->x() == 40;
    }
    void PlaceChip(const char *name)
    {
        ::PlaceChip(*Fm, name);
        ASSERT_GT(Fm->WorkState.RomSize, 0);
    }
    std::string Status() const { return Fm->StatusLabel->text().toStdString(); }

    TWorkFolder Folder{"varnel-line"};
    std::string Dir, Link;
    std::vector<std::unique_ptr<TSimulatedBoard>> Boards;
    std::vector<int> Errors;
    TRecordingUi Ui;
    std::unique_ptr<TProjFm> Fm;
};

TEST_F(WindowLine, BoardThatHangsUpMidOperationEndsItSoonAndQuietly)
{
    const int f84Words = 1024;
    const struct
    {
        const char *What;
        const char *Chip;
        QPushButton *TProjFm::*Button;
        long long HangupAfter; // board bytes, "PP" included
        const char *BusyStatus;
    } cases[] = {
        // 16-byte program blocks are streaming.
        {"read", "16F84", &TProjFm::ReadButt, 2 + 2 + 16 * 20, "Reading"},
        // "P", eight "W"s, "Y", "Y", then one "M" per word.
        {"program words", "16F84", &TProjFm::ProgButt, 2 + 11 + 300, "Erasing chip"},
        // In the middle of the erase's "W"s: the watchdog is off.
        {"bulk erase", "16F84", &TProjFm::EraseButt, 2 + 1 + 3, "Erasing chip"},
        // After the Select's "Y" the blank test runs with the watchdog off.
        {"blank test", "12C671", &TProjFm::EraseButt, 2 + 2, "Blank Testing"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.What);
        TBoardOptions options;
        options.HangupAfter = c.HangupAfter;
        TBoardServer &board = Board(options);
        PointPortAt(board.DevicePath());
        Errors.clear();
        Ui.Boxes.clear();
        StartWindow();
        ASSERT_TRUE(WaitFor([this] { return BoardPanelShown(); }, 3000));
        PlaceChip(c.Chip);
        Fm->WorkState.RomData.assign(f84Words, "0");
        Fm->WorkState.EepData.assign(size_t(Fm->WorkState.EepSize), "0");
        (Fm.get()->*c.Button)->click();
        EXPECT_EQ(Status(), c.BusyStatus);

        ASSERT_TRUE(WaitFor([&] { return board.HungUp(); }, 10000));
        // The kernel hands the freed name to the next pseudo-terminal, which
        // may be another test's: reconnecting there is no part of this test.
        PointPortAt(Dir + "/unplugged");
        QElapsedTimer since;
        since.start();
        const double cpu = CpuSeconds();
        const auto ended = [this] {
            return !Ui.Boxes.empty() && Fm->WorkState.OpStep == -1;
        };
        ASSERT_TRUE(WaitFor(ended, 4000)) << Status();
        const double seconds = since.elapsed() / 1000.0;
        // Waiting on a dead line must not spin.
        EXPECT_LT(CpuSeconds() - cpu, 0.5 * seconds + 0.1);
        EXPECT_EQ(Ui.Boxes.back().Text,
                  "No response from programmer board\nCheck the cable and the port, then switch "
                  "the board off and on (a board left in the middle of a Program waits for "
                  "words).");
        EXPECT_EQ(Ui.Boxes.size(), 1u);
        EXPECT_EQ(Status(), "Program Ready");
        // Recorded once; a pseudo-terminal's missing modem lines and the
        // quiet tries to reopen the port are the rest.
        EXPECT_EQ(std::count(Errors.begin(), Errors.end(), EIO), 1);
        EXPECT_FALSE(Fm->WorkState.Busy);
        if (c.Button == &TProjFm::ReadButt) {
            EXPECT_TRUE(Fm->WorkState.RomData.empty());
        }
        Fm.reset();
    }
}

TEST_F(WindowLine, LostBoardIsFoundAgainUnderTheSameName)
{
    TBoardOptions first;
    first.HangupAfter = 2; // "PP", then the adapter is pulled out
    TBoardServer &a = Board(first);
    PointPortAt(a.DevicePath());
    StartWindow();
    ASSERT_TRUE(WaitFor([&] { return a.HungUp(); }, 3000));
    // The kernel may hand A's freed name to B or to another test's
    // pseudo-terminal: until B is plugged in, the name leads nowhere.
    PointPortAt(Dir + "/unplugged");
    ASSERT_TRUE(WaitFor([this] { return !Fm->Serial1->Active(); }, 3000));
    // No board any more: the panel does not pretend there is one.
    ASSERT_TRUE(WaitFor([this] { return !Fm->BoardPanel->isVisible(); }, 2000));
    const auto triedInVain = [this] {
        return std::count(Errors.begin(), Errors.end(), ENOENT) >= 1;
    };
    ASSERT_TRUE(WaitFor(triedInVain, 3000));
    EXPECT_FALSE(Fm->Serial1->Active());
    EXPECT_TRUE(Ui.Boxes.empty());

    TBoardServer &b = Board(TBoardOptions());
    PointPortAt(b.DevicePath());
    QElapsedTimer since;
    since.start();
    ASSERT_TRUE(WaitFor([&] { return b.BytesSent() >= 2 && BoardPanelShown(); }, 3000));
    EXPECT_LT(since.elapsed(), 3000);
    EXPECT_TRUE(Fm->Serial1->Active());
    EXPECT_EQ(Status(), "Program Ready");
    EXPECT_TRUE(Ui.Boxes.empty());
}

TEST_F(WindowLine, PortMissingAtStartUpIsOpenedOnceItAppears)
{
    PointPortAt(Dir + "/nothing-yet");
    StartWindow();
    ASSERT_EQ(Ui.Boxes.size(), 1u);
    EXPECT_EQ(Ui.Boxes[0].Text, "There appears to be a problem accessing the COM Port\n" + Link
                                        + ": No such file or directory");
    QTest::qWait(1500);
    TBoardServer &board = Board(TBoardOptions());
    PointPortAt(board.DevicePath());
    ASSERT_TRUE(WaitFor([this] { return BoardPanelShown(); }, 3000));
    EXPECT_EQ(Ui.Boxes.size(), 1u); // the tries in between were quiet
}

TEST_F(WindowLine, NoReconnectUnderAnOpenDialog)
{
    PointPortAt(Dir + "/nothing-yet");
    StartWindow();
    ASSERT_EQ(Ui.Boxes.size(), 1u);
    // A Load's file dialog, say: the board's announcement would reset the
    // screen under it.
    QDialog dialog(Fm.get());
    dialog.setModal(true);
    dialog.show();
    TBoardServer &board = Board(TBoardOptions());
    PointPortAt(board.DevicePath());
    QTest::qWait(2500);
    EXPECT_EQ(board.BytesSent(), 0);
    EXPECT_FALSE(Fm->Serial1->Active());
    dialog.close();
    EXPECT_TRUE(WaitFor([this] { return BoardPanelShown(); }, 3000));
}

} // namespace

namespace {

// A board's power-on glitch before its "PP", or noise it left on the line
// before the window opened the port, does not hide it.
TEST_F(WindowLine, NoisyStartFindsTheBoard)
{
    TBoardOptions glitch;
    glitch.Faults.HelloGlitch = 0x00;
    TBoardOptions early;
    early.EarlyBytes = std::string("\x58\x00\xFF\x51", 4); // "X", noise, "Q"
    for (const TBoardOptions &options : {glitch, early}) {
        TBoardServer &board = Board(options);
        PointPortAt(board.DevicePath());
        StartWindow();
        EXPECT_TRUE(WaitFor([this] { return BoardPanelShown(); }, 3000));
        EXPECT_TRUE(Ui.Boxes.empty());
        Fm.reset();
    }
}

// A failed word's reply that stalls after "F" and the address's high byte
// for 2 s, then comes whole (its low byte reads "X" on the line): one box with
// "01??", no other box for 10 s, and the next Read works.
TEST_F(WindowLine, CutShortFailedWordGivesOneBox)
{
    TBoardOptions options;
    options.Faults.FailWordAt = 0x158;
    options.CutFailMs = 2000;
    TBoardServer &board = Board(options);
    PointPortAt(board.DevicePath());
    StartWindow();
    ASSERT_TRUE(WaitFor([this] { return BoardPanelShown(); }, 3000));
    PlaceChip("16F84");
    Fm->WorkState.RomData.assign(1024, "0");
    Fm->WorkState.EepData.assign(64, "0");
    Fm->ProgButt->click();
    ASSERT_TRUE(WaitFor([this] { return !Ui.Boxes.empty(); }, 10000));
    EXPECT_EQ(Ui.Boxes[0].Text, "ROM verify error at address 01??");
    EXPECT_EQ(Status(), "Program Ready");
    QTest::qWait(10000);
    EXPECT_EQ(Ui.Boxes.size(), 1u) << Ui.Boxes.back().Text;
    Fm->ReadButt->click();
    ASSERT_TRUE(WaitFor([this] { return Fm->WorkState.NewDataListed; }, 20000)) << Status();
    EXPECT_EQ(Ui.Boxes.size(), 1u) << Ui.Boxes.back().Text;
    EXPECT_EQ(Fm->WorkState.RomData.at(0x157), "0");
}

} // namespace
