// The main window through its real controls, offscreen, with the serial port
// on a real pseudo-terminal.
#include "app/prog2.h"
#include "support/TestFiles.h"
#include "app/Controls.h"
#include "board/SimulatedBoard.h"
#include "chips/ChipCatalogue.h"
#include "support/RecordingUi.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <pty.h>
#include <sstream>
#include <unistd.h>

namespace {

bool WaitFor(const std::function<bool()> &done, int ms = 3000)
{
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < ms)
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    return done();
}

class Window : public ::testing::Test
{
protected:
    void SetUp() override
    {
        char dir[] = "/tmp/varnel-window-XXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        Dir = dir;
        char *old = getcwd(nullptr, 0);
        OldDir = old;
        free(old);
        ASSERT_EQ(chdir(Dir.c_str()), 0);
        for (int n = 1; n <= 9; ++n)
            setenv(("VARNEL_COM" + std::to_string(n)).c_str(), "/nonexistent/tty", 1);
    }
    void TearDown() override
    {
        Fm.reset();
        if (Master >= 0)
            close(Master);
        if (Slave >= 0)
            close(Slave);
        for (int n = 1; n <= 9; ++n)
            unsetenv(("VARNEL_COM" + std::to_string(n)).c_str());
        ASSERT_EQ(chdir(OldDir.c_str()), 0);
        std::system(("rm -rf " + Dir).c_str());
    }

    // A pseudo-terminal standing in for COM port n.
    void PortOnPty(int n)
    {
        char name[128];
        ASSERT_EQ(openpty(&Master, &Slave, name, nullptr, nullptr), 0);
        fcntl(Master, F_SETFL, O_NONBLOCK);
        setenv(("VARNEL_COM" + std::to_string(n)).c_str(), name, 1);
    }

    void StartWindow()
    {
        Fm = std::make_unique<TProjFm>(Ui);
        Fm->show();
        ASSERT_TRUE(WaitFor([this] { return Fm->WorkState.Started; }));
    }

    std::string MasterBytes(int atLeast)
    {
        std::string got;
        WaitFor([&] {
            char buf[64];
            const ssize_t n = read(Master, buf, sizeof buf);
            if (n > 0)
                got.append(buf, size_t(n));
            return int(got.size()) >= atLeast;
        });
        return got;
    }

    std::string Dir;
    std::string OldDir;
    int Master = -1;
    int Slave = -1;
    TRecordingUi Ui;
    std::unique_ptr<TProjFm> Fm;
};

TEST_F(Window, StartsReadyOnThePortOfTheSettingsFileAndSaysHello)
{
    { std::ofstream("varnel.dat", std::ios::binary) << "3\r\n"; }
    PortOnPty(3);
    StartWindow();
    EXPECT_EQ(MasterBytes(1), std::string(1, '\x01'));
    EXPECT_TRUE(Ui.Boxes.empty());
    EXPECT_EQ(Fm->windowTitle().toStdString(), AppCaption);
    EXPECT_EQ(Fm->StatusLabel->text().toStdString(), "Program Ready");
    EXPECT_EQ(ReadBytes("varnel.dat"), "3\r\n");
}

TEST_F(Window, ReadyBeforeTheFirstTick)
{
    Fm = std::make_unique<TProjFm>(Ui);
    EXPECT_EQ(Fm->StatusLabel->text().toStdString(), "Program Ready");
    EXPECT_EQ(Fm->windowTitle().toStdString(), AppTitle);
    EXPECT_EQ(Fm->WorkState.OpStep, -1);
}

TEST_F(Window, MissingSettingsFileIsWrittenAndPortOneUsed)
{
    PortOnPty(1);
    StartWindow();
    EXPECT_EQ(ReadBytes("varnel.dat"), "1\r\n");
    EXPECT_EQ(MasterBytes(1), std::string(1, '\x01'));
    EXPECT_TRUE(Ui.Boxes.empty());
}

TEST_F(Window, PortThatCannotBeOpenedGivesOneBoxAndStartUpGoesOn)
{
    { std::ofstream("varnel.dat", std::ios::binary) << "2\r\n"; }
    StartWindow();
    ASSERT_EQ(Ui.Boxes.size(), 1u);
    EXPECT_EQ(Ui.Boxes[0].Text, "There appears to be a problem accessing the COM Port");
    EXPECT_EQ(Ui.Boxes[0].Kind, TBoxKind::Error);
    EXPECT_EQ(Fm->windowTitle().toStdString(), AppCaption);
}

TEST_F(Window, HelpOnlyWhenNothingRuns)
{
    Fm = std::make_unique<TProjFm>(Ui);
    Fm->HelpButt->click(); // the start-up tick is still pending
    EXPECT_EQ(Ui.HelpShown, 0);
    ASSERT_TRUE(WaitFor([this] { return Fm->WorkState.Started; }));
    Fm->WorkState.Busy = true;
    Fm->HelpButt->click();
    EXPECT_EQ(Ui.HelpShown, 0);
    Fm->WorkState.Busy = false;
    Fm->HelpButt->click();
    EXPECT_EQ(Ui.HelpShown, 1);
}

TEST_F(Window, CloseAsksAboutUnsavedDataAndKeepsItUnlessSaved)
{
    StartWindow();
    Ui.Boxes.clear();
    Fm->WorkState.NewDataListed = true;
    Fm->WorkState.RomData.assign(8, "16383");

    Ui.Answers = {TAnswer::Cancel};
    EXPECT_FALSE(Fm->close());
    EXPECT_EQ(Ui.Boxes.back().Text, "New data file listed. Do you wish to save it?");
    EXPECT_EQ(Ui.Boxes.back().Buttons, TBoxButtons::YesNoCancel);
    EXPECT_EQ(Fm->WorkState.RomData.size(), 8u);

    // Yes, then the save dialog is cancelled: nothing was saved, so stay open.
    Ui.Answers = {TAnswer::Yes};
    EXPECT_FALSE(Fm->close());
    EXPECT_EQ(Fm->WorkState.RomData.size(), 8u);

    // Yes and a file name: saved, so the window closes.
    Ui.Answers = {TAnswer::Yes};
    Ui.SaveNames = {Dir + "/kept.hex"};
    EXPECT_TRUE(Fm->close());
    EXPECT_FALSE(ReadBytes(Dir + "/kept.hex").empty());
    EXPECT_EQ(Ui.HelpClosed, 1);
}

TEST_F(Window, CloseWithoutAskingWhenNothingIsUnsavedOrAnswerNo)
{
    StartWindow();
    const size_t boxes = Ui.Boxes.size();
    EXPECT_TRUE(Fm->close());
    EXPECT_EQ(Ui.Boxes.size(), boxes);

    Fm = std::make_unique<TProjFm>(Ui);
    ASSERT_TRUE(WaitFor([this] { return Fm->WorkState.Started; }));
    Fm->WorkState.NewDataListed = true;
    Ui.Answers = {TAnswer::No};
    EXPECT_TRUE(Fm->close());
}

// The program as the README's run command starts it: the built-in virtual
// board announces itself, and a Read brings back the emulated chip.
TEST_F(Window, VirtualBoardAnnouncesItselfAndReadReturnsItsChip)
{
    std::string error;
    auto board = TSimulatedBoard::Start(std::string(), error);
    ASSERT_TRUE(board) << error;
    TBoardChip chip;
    for (int i = 0; i < TBoardChip::RomWords; ++i)
        chip.Rom[i] = uint16_t((i * 37) & 0x3FFF);
    for (int i = 0; i < TBoardChip::EepBytes; ++i)
        chip.Eep[i] = uint8_t(255 - i);
    chip.Id = 0x1234;
    chip.Config = 0x3FF1;
    board->Server().SetChip(chip);

    Fm = std::make_unique<TProjFm>(Ui);
    Fm->DeviceOverride = board->DevicePath();
    Fm->show();
    ASSERT_TRUE(WaitFor([this] { return Fm->BoardPanel->x() == 40; }));
    EXPECT_TRUE(Fm->BoardPanel->isVisible());
    EXPECT_TRUE(Ui.Boxes.empty());

    const int f84 = FindChip("16F84");
    Fm->ChipSelect->setCurrentIndex(f84);
    Fm->ChipSelectChange(f84);
    for (int step = 0; step < 4; ++step)
        Fm->Timer1Timer();
    ASSERT_EQ(Fm->WorkState.RomSize, 1024);

    Fm->ReadButt->click();
    EXPECT_EQ(Fm->StatusLabel->text().toStdString(), "Reading");
    ASSERT_TRUE(WaitFor([this] { return Fm->WorkState.NewDataListed; }, 15000));
    ASSERT_EQ(Fm->WorkState.RomData.size(), 1024u);
    ASSERT_EQ(Fm->WorkState.EepData.size(), 64u);
    EXPECT_EQ(Fm->WorkState.RomData[1], std::to_string(37));
    EXPECT_EQ(Fm->WorkState.RomData[1023], std::to_string((1023 * 37) & 0x3FFF));
    EXPECT_EQ(Fm->WorkState.EepData[63], "192");
    EXPECT_EQ(Fm->IDedit->text().toStdString(), "1234");
    EXPECT_EQ(Fm->WorkState.FuseWord, 0x3FF1);
    EXPECT_EQ(Fm->StatusLabel->text().toStdString(), "Program Ready");
    EXPECT_TRUE(Ui.Boxes.empty());
}

TEST_F(Window, DefaultScreenKeepsTheImageButShowsNoChip)
{
    StartWindow();
    const int f84 = FindChip("16F84");
    Fm->ChipSelect->setCurrentIndex(f84);
    Fm->ChipSelectChange(f84);
    for (int step = 0; step < 4; ++step)
        Fm->Timer1Timer();
    Fm->WorkState.RomData.assign(1024, "16383");
    Fm->WorkState.EepData.assign(64, "255");
    Fm->SetDefaultScreen();
    EXPECT_EQ(Fm->WorkState.RomData.size(), 1024u);
    EXPECT_EQ(Fm->WorkState.EepData.size(), 64u);
    EXPECT_EQ(Fm->ChipSelect->currentIndex(), -1);
    EXPECT_EQ(Fm->WorkState.RomSize, 0);
    EXPECT_EQ(Fm->StatusLabel->text().toStdString(), "Program Ready");
    EXPECT_EQ(Fm->MemoPad->Canvas().pixelColor(200, 150), QColor(Qt::white));
}

} // namespace
