// Closing the window in the middle of a Program, by the user or by a signal:
// the board must be left between commands, against the virtual board at wire
// speed with a trace of both directions.
#include "app/prog2.h"
#include "board/SimulatedBoard.h"
#include "core/StopSignals.h"
#include "support/ChildProcess.h"
#include "support/EventLoop.h"
#include "support/PlaceChip.h"
#include "support/RecordingUi.h"
#include "support/TestFiles.h"
#include "support/WorkFolder.h"

#include <QElapsedTimer>
#include <QLabel>

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <sstream>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#ifndef VARNEL_APP
#error "VARNEL_APP must name the varnelpro executable"
#endif

namespace {

const char Question[] = "An operation is running. Stop it and close the window?";

uint16_t FileWord(int addr)
{
    return static_cast<uint16_t>(0x0100 + (addr * 3) % 0x3000);
}

bool EndsWith(const std::string &text, const std::string &end)
{
    return text.size() >= end.size()
            && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

class WindowClose : public testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(Folder.Ok()); }

    void StartWindow(const char *chip)
    {
        TBoardOptions options;
        options.Pace = true;
        options.TracePath = Folder.Path + "/board.trace";
        std::string error;
        Board = TSimulatedBoard::Start(options, error);
        ASSERT_TRUE(Board) << error;
        Fm = std::make_unique<TProjFm>(Ui);
        Fm->DeviceOverride = Board->DevicePath();
        Fm->show();
        ASSERT_TRUE(RunEventLoopUntil([this] { return Fm->BoardPanel->isVisible(); }, 5000));
        PlaceChip(*Fm, chip);
        TWorkState &ws = Fm->WorkState;
        ASSERT_GT(ws.RomSize, 0);
        ws.RomData.clear();
        for (int a = 0; a < ws.RomSize; ++a)
            ws.RomData.push_back(std::to_string(FileWord(a)));
        ws.EepData.assign(static_cast<size_t>(ws.EepSize), "90");
    }

    // Program until some words are on the chip.
    void ProgramAWhile()
    {
        Fm->ProgButtClick();
        ASSERT_TRUE(Fm->WorkState.Busy);
        ASSERT_TRUE(RunEventLoopUntil([this] {
            return Fm->StatusLabel->text() == "Programming" && Fm->WorkState.XferAddr > 100;
        }, 5000));
    }

    // Seconds until the window has gone, or -1 after limitMs.
    double SecondsToClose(int limitMs)
    {
        QElapsedTimer clock;
        clock.start();
        if (!RunEventLoopUntil([this] { return !Fm->isVisible(); }, limitMs))
            return -1;
        return clock.elapsed() / 1000.0;
    }

    int QuestionsAsked() const
    {
        const std::vector<std::string> texts = Ui.BoxTexts();
        return static_cast<int>(std::count(texts.begin(), texts.end(), Question));
    }

    // The board took the end marker in answer to a request for a word.
    bool EndMarkerAfterM() const
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(300)); // the trace's quiet flush
        std::istringstream in(ReadBytes(Folder.Path + "/board.trace"));
        std::string line, previous;
        while (std::getline(in, line)) {
            if (EndsWith(previous, "board \"M\"") && EndsWith(line, "host  FF FF"))
                return true;
            previous = line;
        }
        return false;
    }

    // A new start on the same board: Hello is answered "PP".
    bool BoardAnswersHello() const
    {
        const int fd = ::open(Board->DevicePath().c_str(), O_RDWR | O_NOCTTY);
        if (fd < 0)
            return false;
        termios tio{};
        ::tcgetattr(fd, &tio);
        ::cfmakeraw(&tio);
        ::tcsetattr(fd, TCSANOW, &tio);
        ::tcflush(fd, TCIFLUSH);
        const char hello = 0x01;
        std::string got;
        if (::write(fd, &hello, 1) == 1) {
            pollfd p{fd, POLLIN, 0};
            while (got.size() < 2 && ::poll(&p, 1, 1000) > 0) {
                char c;
                if (::read(fd, &c, 1) != 1)
                    break;
                got += c;
            }
        }
        ::close(fd);
        return got == "PP";
    }

    // Words below the first blank one are the image's, all above are blank.
    void ExpectChipHoldsAFirstPart(bool whole)
    {
        const TBoardChip chip = Board->Server().ChipSnapshot();
        const int size = Fm ? Fm->WorkState.RomSize : RomSize;
        int written = 0;
        while (written < size && chip.Rom[static_cast<size_t>(written)] != TBoardChip::ErasedWord)
            ++written;
        if (whole)
            EXPECT_EQ(written, size);
        else
            EXPECT_TRUE(written > 0 && written < size) << written;
        for (int a = 0; a < size; ++a) {
            const uint16_t expected = a < written ? FileWord(a) : TBoardChip::ErasedWord;
            ASSERT_EQ(chip.Rom[static_cast<size_t>(a)], expected) << "word " << a;
        }
    }

    TWorkFolder Folder{"varnel-close"};
    TRecordingUi Ui;
    std::unique_ptr<TSimulatedBoard> Board;
    std::unique_ptr<TProjFm> Fm;
    int RomSize = 0;
};

TEST_F(WindowClose, AnsweredYesStopsTheProgramAndCloses)
{
    StartWindow("16F877");
    ProgramAWhile();
    Ui.Answers.push_back(TAnswer::Yes);
    EXPECT_FALSE(Fm->close()) << "closed before the board was between commands";
    EXPECT_EQ(QuestionsAsked(), 1);
    const double seconds = SecondsToClose(3000);
    EXPECT_GE(seconds, 0.0) << "still open after 3 s";
    EXPECT_FALSE(Fm->WorkState.Busy);
    EXPECT_EQ(QuestionsAsked(), 1);
    EXPECT_EQ(Ui.Boxes.size(), 1u) << Ui.Boxes.back().Text;
    EXPECT_TRUE(EndMarkerAfterM());
    RomSize = Fm->WorkState.RomSize;
    Fm.reset();
    EXPECT_TRUE(BoardAnswersHello());
    ExpectChipHoldsAFirstPart(false);
}

TEST_F(WindowClose, AnsweredNoLetsTheProgramComplete)
{
    StartWindow("16F84");
    ProgramAWhile();
    EXPECT_FALSE(Fm->close()); // No is the recording's default answer
    EXPECT_EQ(QuestionsAsked(), 1);
    EXPECT_TRUE(Fm->isVisible());
    ASSERT_TRUE(RunEventLoopUntil([this] { return !Fm->OperationRunning(); }, 20000));
    const std::vector<std::string> texts = Ui.BoxTexts();
    EXPECT_EQ(texts.back(), "Programming complete.");
    EXPECT_TRUE(Fm->isVisible());
    ExpectChipHoldsAFirstPart(true);
}

// A real SIGTERM to this process, as a logout or kill sends it.
TEST_F(WindowClose, SigtermStopsTheProgramAndClosesWithoutAsking)
{
    std::string error;
    ASSERT_TRUE(InstallStopSignals(error)) << error;
    StartWindow("16F877");
    Fm->WatchStopSignals();
    ProgramAWhile();
    ASSERT_EQ(::kill(::getpid(), SIGTERM), 0);
    EXPECT_GE(SecondsToClose(3000), 0.0) << "still open after 3 s";
    EXPECT_EQ(StopSignal(), SIGTERM);
    EXPECT_TRUE(Ui.Boxes.empty()) << Ui.Boxes.front().Text;
    EXPECT_TRUE(EndMarkerAfterM());
    RomSize = Fm->WorkState.RomSize;
    Fm.reset();
    EXPECT_TRUE(BoardAnswersHello());
    ExpectChipHoldsAFirstPart(false);
}

// The program itself: the signal closes the window, and the process ends by
// itself with 128 + the signal instead of being killed by it.
TEST_F(WindowClose, ProgramEndsOnItsOwnAfterTermOrHangup)
{
    for (const int signal : {SIGTERM, SIGHUP}) {
        SCOPED_TRACE(signal);
        TChildProcess app;
        ASSERT_TRUE(app.Start({VARNEL_APP, "--simulate"}, Folder.Path + "/app.out",
                              Folder.Path + "/app.err"));
        // Started and greeted by its board: varnel.dat is written on the first tick.
        for (int i = 0; i < 500 && access((Folder.Path + "/varnel.dat").c_str(), F_OK) != 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        app.Signal(signal);
        EXPECT_EQ(app.Wait(5000), 128 + signal) << ReadBytes(Folder.Path + "/app.err");
        EXPECT_FALSE(app.KilledBySignal);
        std::remove((Folder.Path + "/varnel.dat").c_str());
    }
}

} // namespace
