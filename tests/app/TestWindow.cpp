// The main window through its real controls, offscreen, with the serial port
// on a real pseudo-terminal.
#include "app/prog2.h"
#include "support/TestFiles.h"
#include "app/Controls.h"
#include "board/SimulatedBoard.h"
#include "chips/ChipCatalogue.h"
#include "support/PadPixels.h"
#include "support/NoPorts.h"
#include "support/PlaceChip.h"
#include "support/RecordingUi.h"
#include "support/WorkFolder.h"
#include "chips/FuseRules.h"
#include "app/osc.h"
#include "hexfile/HexReader.h"
#include "hexfile/HexTestSupport.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QPainter>
#include <QProxyStyle>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QStyleOptionButton>
#include <QTest>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <fcntl.h>
#include <fstream>
#include <pty.h>
#include <sys/stat.h>
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
        ASSERT_TRUE(Folder.Ok());
        Dir = Folder.Path;
    }
    void TearDown() override { ClosePty(); }

    void ClosePty()
    {
        Fm.reset();
        if (Master >= 0)
            close(Master);
        if (Slave >= 0)
            close(Slave);
        Master = Slave = -1;
    }

    // A pseudo-terminal standing in for COM port n.
    void PortOnPty(int n)
    {
        char name[128];
        ASSERT_EQ(openpty(&Master, &Slave, name, nullptr, nullptr), 0);
        fcntl(Master, F_SETFL, O_NONBLOCK);
        setenv(TNoPorts::Name(n).c_str(), name, 1);
    }

    void StartWindow(const char *chip = nullptr)
    {
        Fm = std::make_unique<TProjFm>(Ui);
        Fm->show();
        ASSERT_TRUE(WaitFor([this] { return Fm->WorkState.Started; }));
        if (chip)
            Place(chip);
    }

    // The window on the built-in virtual board, once its panel has slid in.
    std::unique_ptr<TSimulatedBoard> StartOnBoard()
    {
        std::string error;
        auto board = TSimulatedBoard::Start(std::string(), error);
        EXPECT_TRUE(board) << error;
        if (!board)
            return board;
        Fm = std::make_unique<TProjFm>(Ui);
        Fm->DeviceOverride = board->DevicePath();
        Fm->show();
        EXPECT_TRUE(WaitFor([this] { return Fm->BoardPanel->x() == 40; }));
        return board;
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

    // As the user picks it from the list, with the placement's four ticks.
    void Place(const char *chip)
    {
        const int i = PlaceChip(*Fm, chip);
        ASSERT_EQ(Fm->ChipSelect->currentIndex(), i);
    }

    bool PadHasText() const { return ::PadHasText(Fm->MemoPad->Canvas()); }

    // Picks path in the open dialog and presses Load; answers go to the boxes.
    void Load(const std::string &path, std::initializer_list<TAnswer> answers = {})
    {
        Ui.Boxes.clear();
        Ui.Answers.assign(answers.begin(), answers.end());
        Ui.OpenNames = {path};
        Fm->LoadButt->click();
    }

    // The caption names file, the HEX folder is hexDir and the program's
    // folder is current again.
    void ExpectShowing(const std::string &file, const std::string &hexDir)
    {
        EXPECT_EQ(Fm->windowTitle().toStdString(), std::string(AppCaption) + "  <" + file + ">");
        EXPECT_EQ(Fm->WorkState.HexDir, hexDir);
        EXPECT_EQ(QDir::currentPath().toStdString() + "/", Fm->WorkState.ProgramDir);
    }

    TWorkFolder Folder{"varnel-window"};
    TNoPorts NoPorts; // no port to find: the start-up box is answered and recorded
    std::string Dir;
    int Master = -1;
    int Slave = -1;
    TRecordingUi Ui;
    std::unique_ptr<TProjFm> Fm;
};

// A missing settings file is written naming port 1.
TEST_F(Window, StartsReadyOnThePortOfTheSettingsFileAndSaysHello)
{
    const struct
    {
        const char *Settings; // nullptr: no file
        int Port;
        const char *Written;
    } cases[] = {{"3\r\n", 3, "3\r\n"}, {nullptr, 1, "1\r\n"}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Port);
        ClosePty();
        Ui.Boxes.clear();
        std::remove("varnel.dat");
        if (c.Settings)
            std::ofstream("varnel.dat", std::ios::binary) << c.Settings;
        PortOnPty(c.Port);
        StartWindow();
        EXPECT_EQ(MasterBytes(1), std::string(1, '\x01'));
        EXPECT_TRUE(Ui.Boxes.empty());
        EXPECT_EQ(Fm->windowTitle().toStdString(), AppCaption);
        EXPECT_EQ(Fm->StatusLabel->text().toStdString(), "Program Ready");
        EXPECT_EQ(ReadBytes("varnel.dat"), c.Written);
    }
}

TEST_F(Window, ReadyBeforeTheFirstTick)
{
    Fm = std::make_unique<TProjFm>(Ui);
    EXPECT_EQ(Fm->StatusLabel->text().toStdString(), "Program Ready");
    EXPECT_EQ(Fm->windowTitle().toStdString(), AppTitle);
    EXPECT_EQ(Fm->WorkState.OpStep, -1);
}

TEST_F(Window, PortThatCannotBeOpenedGivesOneBoxAndStartUpGoesOn)
{
    { std::ofstream("varnel.dat", std::ios::binary) << "2\r\n"; }
    StartWindow();
    ASSERT_EQ(Ui.Boxes.size(), 1u);
    EXPECT_EQ(Ui.Boxes[0].Text, "There appears to be a problem accessing the COM Port\n"
                                "/nonexistent/tty: No such file or directory");
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

// The program as the README's run command starts it.
TEST_F(Window, VirtualBoardAnnouncesItselfAndReadReturnsItsChip)
{
    auto board = StartOnBoard();
    ASSERT_TRUE(board);
    TBoardChip chip;
    for (int i = 0; i < TBoardChip::RomWords; ++i)
        chip.Rom[i] = uint16_t((i * 37) & 0x3FFF);
    for (int i = 0; i < TBoardChip::EepBytes; ++i)
        chip.Eep[i] = uint8_t(255 - i);
    chip.Id = 0x1234;
    chip.Config = 0x3FF1;
    board->Server().SetChip(chip);
    EXPECT_TRUE(Fm->BoardPanel->isVisible());
    EXPECT_TRUE(Ui.Boxes.empty());

    Place("16F84");
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
    StartWindow("16F84");
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

// Relative luminance and contrast ratio as the accessibility guidelines
// define them.
double Luminance(QRgb c)
{
    const auto lin = [](int v) {
        const double x = v / 255.0;
        return x <= 0.03928 ? x / 12.92 : std::pow((x + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * lin(qRed(c)) + 0.7152 * lin(qGreen(c)) + 0.0722 * lin(qBlue(c));
}

double Contrast(QRgb a, QRgb b)
{
    const double la = Luminance(a);
    const double lb = Luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// The contrast of the strongest pixel in rect against the rect's most common
// colour: of the text against its background.
double TextContrast(const QImage &image, const QRect &rect)
{
    std::map<QRgb, int> counts;
    for (int y = rect.top(); y <= rect.bottom(); ++y)
        for (int x = rect.left(); x <= rect.right(); ++x)
            ++counts[image.pixel(x, y) | 0xFF000000u];
    if (counts.empty())
        return 0;
    QRgb background = counts.begin()->first;
    for (const auto &[colour, n] : counts)
        if (n > counts[background])
            background = colour;
    double best = 1;
    for (const auto &entry : counts)
        best = std::max(best, Contrast(entry.first, background));
    return best;
}

QRect RectIn(const QWidget *w, const QWidget *window, const QRect &inner)
{
    return inner.translated(w->mapTo(window, QPoint(0, 0)));
}

// Where a check box draws its caption, beside the indicator.
QRect CaptionRect(const QCheckBox *box)
{
    QStyleOptionButton opt;
    opt.initFrom(box);
    opt.text = box->text();
    return box->style()->subElementRect(QStyle::SE_CheckBoxContents, &opt, box);
}

// A style that etches the text of disabled labels, whatever the palette
// says, as some desktop styles do.
class TEtchingStyle : public QProxyStyle
{
public:
    TEtchingStyle() : QProxyStyle(QStringLiteral("Fusion")) {}
    void drawItemText(QPainter *painter, const QRect &rect, int flags, const QPalette &pal,
                      bool enabled, const QString &text,
                      QPalette::ColorRole textRole) const override
    {
        if (!enabled) {
            painter->save();
            painter->setPen(Qt::white);
            painter->drawText(rect.translated(1, 1), flags, text);
            painter->restore();
        }
        QProxyStyle::drawItemText(painter, rect, flags, pal, enabled, text, textRole);
    }
};

TEST_F(Window, StatusAndFuseCaptionsStayReadableWhileAReadRunsAndRefuseInput)
{
    auto board = StartOnBoard();
    ASSERT_TRUE(board);
    Place("16F877");
    const int32_t word = Fm->WorkState.FuseWord;

    Fm->ReadButt->click();
    ASSERT_TRUE(Fm->WorkState.Busy);
    ASSERT_FALSE(Fm->StatusPan->isEnabled());
    ASSERT_FALSE(Fm->FusePan->isEnabled());
    const QImage shot = Fm->grab().toImage();
    const QWidget *window = Fm.get();
    for (const QLabel *l : {Fm->StatusLabel, Fm->Label1, Fm->Label2, Fm->Label3})
        EXPECT_GE(TextContrast(shot, RectIn(l, window, l->rect())), 4.5)
                << l->text().toStdString();
    for (int i = 0; i < FuseBoxCount; ++i) {
        const QCheckBox *box = Fm->FuseBox(i);
        EXPECT_GE(TextContrast(shot, RectIn(box, window, CaptionRect(box))), 4.5)
                << box->text().toStdString();
    }
    EXPECT_EQ(Fm->StatusLabel->text(), "Reading");

    // The panels still refuse the mouse and the keys.
    const bool wdt = Fm->CB1->isChecked();
    QTest::mouseClick(Fm->CB1, Qt::LeftButton);
    EXPECT_EQ(Fm->CB1->isChecked(), wdt);
    QTest::keyClicks(Fm->IDedit, "a1");
    EXPECT_EQ(Fm->IDedit->text(), "FFFF");
    for (QComboBox *list : {Fm->ChipSelect, Fm->Oscillator}) {
        QTest::mouseClick(list, Qt::LeftButton);
        EXPECT_FALSE(list->view()->isVisible());
    }
    EXPECT_EQ(Fm->WorkState.FuseWord, word);
    ASSERT_TRUE(WaitFor([this] { return Fm->WorkState.NewDataListed; }, 15000));
    EXPECT_TRUE(Fm->StatusPan->isEnabled() && Fm->FusePan->isEnabled());
    EXPECT_TRUE(Ui.Boxes.empty());

    // The status label looks exactly as it does on an enabled panel, also in
    // a style that embosses the text of disabled labels.
    const QRect label = RectIn(Fm->StatusLabel, window, Fm->StatusLabel->rect());
    Fm->SetStatus("Programming");
    TEtchingStyle embossing;
    for (QStyle *style : {QApplication::style(), static_cast<QStyle *>(&embossing)}) {
        SCOPED_TRACE(style == &embossing ? "etching style" : "application style");
        Fm->StatusLabel->setStyle(style);
        const QImage enabled = Fm->grab().toImage().copy(label);
        Fm->SetPanelsEnabled(false);
        const QImage disabled = Fm->grab().toImage().copy(label);
        Fm->SetPanelsEnabled(true);
        EXPECT_TRUE(enabled == disabled);
    }
    Fm->StatusLabel->setStyle(QApplication::style());
}

TEST_F(Window, ChipListDropsSixRowsAndScrollsToTheLast)
{
    StartWindow();
    QComboBox *list = Fm->ChipSelect;
    list->showPopup();
    QAbstractItemView *view = list->view();
    ASSERT_TRUE(WaitFor([view] { return view->isVisible(); }));
    const int row = view->sizeHintForRow(0);
    ASSERT_GT(row, 0);
    EXPECT_EQ((view->viewport()->height() + row / 2) / row, 6);
    EXPECT_LT(view->window()->height(), 12 * row);
    EXPECT_GT(view->verticalScrollBar()->maximum(), 0);
    const QModelIndex last = list->model()->index(FindChip("16F877"), 0);
    view->scrollTo(last);
    EXPECT_TRUE(view->viewport()->rect().contains(view->visualRect(last)));
    list->hidePopup();
}

TEST_F(Window, FrameIsCentredOnTheScreen)
{
    StartWindow();
    const QRect screen = Fm->screen()->availableGeometry();
    const QPoint off = Fm->frameGeometry().center() - screen.center();
    EXPECT_LE(std::abs(off.x()), 1);
    EXPECT_LE(std::abs(off.y()), 1);
}

// HEX files written for the load tests: a program record, an ID, a
// configuration word, and for the 16F84 an EEPROM record.
std::string HexFile(const std::vector<std::string> &records)
{
    std::string text;
    for (const std::string &r : records)
        text += r + "\r\n";
    return text + ":00000001FF\r\n";
}

const std::string Word8 = Rec(0x0010, {0x34, 0x12});            // word 8 = 0x1234
const std::string Id1234 = Rec(0x4000, {1, 0, 2, 0, 3, 0, 4, 0}); // ID 1234
const std::string Fuse3FF5 = Rec(0x400E, {0xF5, 0x3F});
const std::string Eep0 = Rec(0x4200, {0xAB, 0x00});

TEST_F(Window, LoadNeedsAChip)
{
    StartWindow();
    Ui.Boxes.clear();
    Fm->LoadButt->click();
    ASSERT_EQ(Ui.Boxes.size(), 1u);
    EXPECT_EQ(Ui.Boxes[0].Text, "Please select a chip before loading data file.");
    EXPECT_EQ(Ui.Boxes[0].Kind, TBoxKind::Error);
    EXPECT_EQ(Ui.Beeps, 1);
    EXPECT_TRUE(Ui.Dialogs.empty());
}

TEST_F(Window, LoadAndSaveSetCaptionFoldersAndTheWholeView)
{
    StartWindow("16F84");
    mkdir((Dir + "/in").c_str(), 0755);
    mkdir((Dir + "/out").c_str(), 0755);
    const std::string in = Dir + "/in/first.hex";
    WriteBytes(in, HexFile({Word8, Id1234, Eep0, Fuse3FF5}));
    // The dialog opens in the HEX folder; the program's folder is current
    // again afterwards.
    Fm->WorkState.HexDir = Dir + "/in/";
    ASSERT_NE(Fm->WorkState.ProgramDir, Fm->WorkState.HexDir);
    Load(in);
    EXPECT_EQ(Ui.DialogDirs.back(), Dir + "/in");
    EXPECT_TRUE(Ui.Boxes.empty());
    ExpectShowing("first.hex", Dir + "/in/");
    EXPECT_EQ(Fm->IDedit->text(), "1234");
    EXPECT_EQ(Fm->WorkState.FuseWord, 0x3FF5);
    EXPECT_EQ(Fm->StatusLabel->text(), "Program Ready");
    EXPECT_EQ(Fm->MemScroll->maximum(), 108);

    // Loading while the EEPROM view is on screen shows program memory with
    // its own scroll range.
    Fm->RomEepButt->click();
    ASSERT_EQ(Fm->RomEepButt->text(), "RO&M");
    ASSERT_EQ(Fm->MemScroll->maximum(), 0);
    Load(in, {TAnswer::No});
    EXPECT_EQ(Fm->RomEepButt->text(), "EEPRO&M");
    EXPECT_EQ(Fm->MemScroll->maximum(), 108);
    Fm->MemScroll->setValue(108);
    EXPECT_EQ(Fm->MemScroll->value(), 108);

    Fm->WorkState.NewDataListed = true;
    Ui.SaveNames = {Dir + "/out/second.hex"};
    ASSERT_TRUE(QDir::setCurrent(QString::fromStdString(Dir)));
    Fm->SaveButt->click();
    ExpectShowing("second.hex", Dir + "/out/");
    EXPECT_FALSE(Fm->WorkState.NewDataListed);
    TWorkState back = Chip16F84();
    ASSERT_EQ(LoadHexFile(back, Dir + "/out/second.hex", false).Status, THexLoadStatus::Ok);
    EXPECT_EQ(back.RomData, Fm->WorkState.RomData);

    // A save that fails changes neither caption nor folder.
    Ui.SaveNames = {Dir + "/missing/third.hex"};
    Fm->SaveButt->click();
    EXPECT_EQ(Ui.Boxes.back().Text, "A problem occurred while trying to save the HEX file.");
    ExpectShowing("second.hex", Dir + "/out/");
    EXPECT_EQ(Fm->StatusLabel->text(), "Program Ready");
}

TEST_F(Window, RefusedLoadKeepsTheImageWordAndId)
{
    StartWindow("16F84");
    const std::string good = Dir + "/good.hex";
    WriteBytes(good, HexFile({Word8, Id1234, Fuse3FF5}));
    Load(good);
    const std::vector<std::string> image = Fm->WorkState.RomData;
    const std::string caption = Fm->windowTitle().toStdString();

    std::string bad = Word8;
    bad.back() = bad.back() == '0' ? '1' : '0'; // a wrong checksum
    const std::string refused = Dir + "/refused.hex";
    WriteBytes(refused, HexFile({bad}));
    const std::string fifo = Dir + "/pipe.hex";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0666), 0);
    const struct
    {
        std::string Path;
        std::string Message;
    } cases[] = {{refused, "There was a data problem in the HEX file on line 1."},
                 {fifo, "There was a problem loading the HEX file."},
                 {Dir, "There was a problem loading the HEX file."}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Path);
        Load(c.Path, {TAnswer::No});
        ASSERT_EQ(Ui.Boxes.size(), 2u); // the insert question, then the error
        EXPECT_EQ(Ui.Boxes[1].Text, c.Message);
        EXPECT_EQ(Fm->StatusLabel->text(), "File Error");
        EXPECT_EQ(Fm->WorkState.RomData, image);
        EXPECT_EQ(Fm->WorkState.FuseWord, 0x3FF5);
        EXPECT_EQ(Fm->WorkState.IdValue, 0x1234);
        EXPECT_EQ(Fm->IDedit->text(), "1234");
        EXPECT_EQ(Fm->windowTitle().toStdString(), caption);
        EXPECT_TRUE(PadHasText());
    }
}

TEST_F(Window, FailedLoadEmptiesThePadAndForgetsTheUnsavedRead)
{
    StartWindow("16F84");
    // As after a read from the chip.
    Fm->WorkState.RomData.assign(1024, "10245");
    Fm->WorkState.EepData.assign(64, "1");
    Fm->WorkState.NewDataListed = true;
    Fm->DrawHexScreen();
    ASSERT_TRUE(PadHasText());
    const std::string failing = Dir + "/odd.hex";
    WriteBytes(failing, HexFile({":0300000034125661"})); // three bytes: no whole word
    Load(failing, {TAnswer::No});
    ASSERT_EQ(Ui.Boxes.size(), 2u);
    EXPECT_EQ(Ui.Boxes[1].Text, "There was a ROM data problem in the HEX file.");
    EXPECT_EQ(Fm->StatusLabel->text(), "File Error");
    EXPECT_TRUE(Fm->WorkState.RomData.empty());
    EXPECT_FALSE(PadHasText());
    EXPECT_FALSE(Fm->WorkState.NewDataListed);
    EXPECT_EQ(Fm->IDedit->text(), "FFFF");
    Ui.Boxes.clear();
    EXPECT_TRUE(Fm->close()); // nothing left to ask about
    EXPECT_TRUE(Ui.Boxes.empty());
}

// The OSCCAL question after a 12C671 load and the dialog it opens.
class OscCalLoad : public Window
{
protected:
    // Loads path answering answers; the dialog, if it opens, gets typed + OK.
    void LoadWithDialog(const std::string &path, std::initializer_list<TAnswer> answers,
                        const char *typed)
    {
        DialogShown = false;
        Fm->OscCalFm->OnShown = [this, typed](TOscCalFm &d) {
            DialogShown = true;
            d.Edit1->selectAll();
            QTest::keyClicks(d.Edit1, typed);
            d.BitBtn1->click();
        };
        Load(path, answers);
        Fm->OscCalFm->OnShown = nullptr;
    }
    bool DialogShown = false;
};

TEST_F(OscCalLoad, AskedForAFileWithoutTheValue)
{
    StartWindow("12C671");
    const std::string blank = Dir + "/blank.hex";
    WriteBytes(blank, HexFile({}));
    LoadWithDialog(blank, {TAnswer::Yes}, "7c");
    ASSERT_EQ(Ui.Boxes.size(), 1u);
    EXPECT_EQ(Ui.Boxes[0].Text,
              "There is no OSCCAL value listed in the HEX file.\r\rWould you like to insert one?");
    EXPECT_EQ(Ui.Boxes[0].Kind, TBoxKind::Confirmation);
    EXPECT_EQ(Ui.Events.back(), "box:" + Ui.Boxes[0].Text);
    EXPECT_EQ(Ui.Events[Ui.Events.size() - 2], "beep");
    EXPECT_TRUE(DialogShown);
    EXPECT_EQ(Fm->WorkState.RomData.back(), "13436"); // RETLW 0x7C
    EXPECT_EQ(Fm->StatusLabel->text(), "Program Ready");

    // No leaves the blank word.
    LoadWithDialog(blank, {TAnswer::No, TAnswer::No}, "11");
    EXPECT_FALSE(DialogShown);
    EXPECT_EQ(Fm->WorkState.RomData.back(), BlankWord);
}

TEST_F(OscCalLoad, InsertIntoAShortImageStoresTheLastWord)
{
    StartWindow("12C671");
    Fm->WorkState.RomData.assign(8, "0");
    const std::string part = Dir + "/part.hex";
    WriteBytes(part, HexFile({Word8}));
    LoadWithDialog(part, {TAnswer::Yes, TAnswer::Yes}, "7C");
    ASSERT_EQ(Ui.Boxes.size(), 2u);
    EXPECT_EQ(Ui.Boxes[0].Text, "Do you want to insert the new data?");
    EXPECT_TRUE(DialogShown);
    ASSERT_EQ(Fm->WorkState.RomData.size(), 1024u);
    EXPECT_EQ(Fm->WorkState.RomData[0], "0");
    EXPECT_EQ(Fm->WorkState.RomData[8], "4660");
    EXPECT_EQ(Fm->WorkState.RomData[1023], "13436");
}

} // namespace
