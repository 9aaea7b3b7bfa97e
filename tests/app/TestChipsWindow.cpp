// Chip selection, the fuse panel and the OSCAL dialog through the real main
// window, offscreen, with a recording UI and no serial port.
#include "app/Controls.h"
#include "app/prog2.h"
#include "chips/ChipCatalogue.h"
#include "chips/FusePanel.h"
#include "app/osc.h"
#include "support/PadPixels.h"
#include "support/RecordingUi.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstdlib>
#include <unistd.h>

namespace {

class ChipsWindow : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        // The first tick writes varnel.dat into the current directory.
        char dir[] = "/tmp/varnel-chips-XXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        Dir = dir;
        char *old = getcwd(nullptr, 0);
        OldDir = old;
        free(old);
        ASSERT_EQ(chdir(dir), 0);
    }
    static void TearDownTestSuite()
    {
        ASSERT_EQ(chdir(OldDir.c_str()), 0);
        std::system(("rm -rf " + Dir).c_str());
    }

    void Start(int outputs = 0)
    {
        Ui.Outputs = outputs;
        Fm = std::make_unique<TProjFm>(Ui);
        Fm->DeviceOverride = "/nonexistent/tty";
        Fm->show();
        Fm->Timer1Timer(); // the start-up tick
        Ui.Boxes.clear();  // the port that cannot be opened
        Ui.Events.clear();
    }
    // As the user picks it from the list.
    void Select(const char *name)
    {
        const int i = FindChip(name);
        Fm->ChipSelect->setCurrentIndex(i);
        emit Fm->ChipSelect->activated(i);
    }
    void Place(const char *name)
    {
        Select(name);
        for (int step = 0; step < 4; ++step)
            Fm->Timer1Timer();
    }
    // Where the socket image differs from the picture placed at (x, y), or
    // "same".
    std::string SocketShows(const char *picture, int x, int y) const
    {
        const QImage want = ResourcePicture(QString::fromLatin1(picture));
        if (want.isNull())
            return "no picture";
        const QImage &got = Fm->SocketImage->Canvas();
        for (int py = 0; py < want.height(); ++py) {
            for (int px = 0; px < want.width(); ++px) {
                if (got.pixel(x + px, y + py) != want.pixel(px, py))
                    return "differs at " + std::to_string(px) + "," + std::to_string(py);
            }
        }
        return "same";
    }
    bool PadHasText() const { return ::PadHasText(Fm->MemoPad->Canvas()); }
    // Every control of the fuse panel shows what the model holds.
    void ExpectPanelIsModel()
    {
        const TFusePanel &m = *Fm->FuseModel;
        for (int i = 0; i < FuseBoxCount; ++i) {
            SCOPED_TRACE(i);
            const QCheckBox *box = Fm->FuseBox(i);
            EXPECT_EQ(!box->isHidden(), m.Box(i).Visible);
            EXPECT_EQ(box->isChecked(), m.Box(i).Checked);
            if (m.Box(i).Visible) {
                EXPECT_EQ(box->text().toStdString(), m.Box(i).Caption);
                EXPECT_EQ(box->pos(), QPoint(m.Box(i).Place.Left, m.Box(i).Place.Top));
            }
        }
        const std::pair<QComboBox *, const std::vector<std::string> *> lists[] = {
            {Fm->Oscillator, &m.OscillatorItems()}, {Fm->CodeProtect, &m.CodeProtectItems()}};
        for (const auto &[list, items] : lists) {
            ASSERT_EQ(list->count(), int(items->size()));
            for (int p = 0; p < list->count(); ++p)
                EXPECT_EQ(list->itemText(p).toStdString(), (*items)[size_t(p)]);
            EXPECT_EQ(!list->isHidden(), m.ListsVisible());
        }
        EXPECT_EQ(Fm->Oscillator->currentIndex(), m.OscillatorIndex());
        EXPECT_EQ(Fm->CodeProtect->currentIndex(), m.CodeProtectIndex());
        EXPECT_EQ(!Fm->IDedit->isHidden(), m.IdVisible());
        EXPECT_EQ(!Fm->Label3->isHidden(), m.IdVisible());
        EXPECT_EQ(!Fm->Label1->isHidden(), m.ListsVisible());
        EXPECT_EQ(Fm->IDedit->text().toStdString(), m.IdText());
        EXPECT_EQ(Fm->OscChButt->pos(), QPoint(m.OscChButtPlace().Left, m.OscChButtPlace().Top));
    }

    static inline std::string Dir;
    static inline std::string OldDir;
    TRecordingUi Ui;
    std::unique_ptr<TProjFm> Fm;
};

TEST_F(ChipsWindow, PlacementEndsWithTheChipAppliedAndTheImageEmptied)
{
    const struct { const char *Chip; int ScrollMax; int Boxes; } cases[] = {
        {"16C554", 44, 2}, {"16F877", 1004, 7}, {"12C671", 108, 4}};
    Start();
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Chip);
        Fm->WorkState.RomData.assign(16, "0");
        Fm->WorkState.EepData.assign(8, "0");
        Fm->WorkState.FuseWord = 0x1234;
        Fm->WorkState.NewDataListed = true;
        Fm->DrawHexScreen();
        Select(c.Chip);
        EXPECT_EQ(Fm->StatusLabel->text(), "Placing Chip");
        EXPECT_FALSE(Fm->ChipSelect->isEnabled());
        EXPECT_FALSE(Fm->WorkState.NewDataListed);
        EXPECT_TRUE(Fm->CB1->isHidden());
        EXPECT_TRUE(Fm->IDedit->isHidden());
        for (int step = 0; step < 4; ++step)
            Fm->Timer1Timer();
        EXPECT_FALSE(Fm->Timer1->isActive());
        EXPECT_EQ(Fm->StatusLabel->text(), "Program Ready");
        EXPECT_TRUE(Fm->ChipSelect->isEnabled());
        EXPECT_TRUE(Fm->WorkState.RomData.empty());
        EXPECT_TRUE(Fm->WorkState.EepData.empty());
        EXPECT_EQ(Fm->WorkState.FuseWord, 0x3FFF);
        EXPECT_EQ(Fm->MemScroll->maximum(), c.ScrollMax);
        EXPECT_EQ(Fm->MemScroll->value(), 0);
        EXPECT_EQ(Fm->ProgressBar1->maximum(), Fm->WorkState.RomSize + Fm->WorkState.EepSize);
        EXPECT_EQ(Fm->RomEepButt->text(), "EEPRO&M");
        EXPECT_EQ(Fm->IDedit->text(), "FFFF");
        EXPECT_FALSE(PadHasText());
        int shown = 0;
        for (int i = 0; i < FuseBoxCount; ++i)
            shown += !Fm->FuseBox(i)->isHidden();
        EXPECT_EQ(shown, c.Boxes);
        ExpectPanelIsModel();
    }
}

TEST_F(ChipsWindow, PlacementRunsOnItsOwnTimer)
{
    Start();
    Select("16F84");
    EXPECT_EQ(Fm->Timer1->interval(), 700);
    QElapsedTimer t;
    t.start();
    while (Fm->Timer1->isActive() && t.elapsed() < 6000)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    EXPECT_EQ(Fm->StatusLabel->text(), "Program Ready");
    EXPECT_EQ(Fm->CB2->text(), "PWRTE");
    EXPECT_FALSE(Fm->CB2->isHidden());
}

TEST_F(ChipsWindow, CommandsDoNothingWhilePlacing)
{
    Start();
    Place("16F84");
    Fm->WorkState.RomData.assign(1024, "0");
    Fm->WorkState.EepData.assign(64, "0");
    Select("16F877");
    for (QPushButton *b : {Fm->ProgButt, Fm->ReadButt, Fm->VerfButt, Fm->EraseButt,
                           Fm->LoadButt, Fm->SaveButt, Fm->RomEepButt, Fm->HelpButt})
        b->click();
    EXPECT_TRUE(Ui.Boxes.empty());
    EXPECT_TRUE(Ui.Dialogs.empty());
    EXPECT_TRUE(Ui.Events.empty());
    EXPECT_EQ(Ui.HelpShown, 0);
    EXPECT_FALSE(Fm->WorkState.Busy);
    EXPECT_EQ(Fm->RomEepButt->text(), "EEPRO&M");
    EXPECT_EQ(Fm->StatusLabel->text(), "Placing Chip");
}

TEST_F(ChipsWindow, SoundsOnlyWithAnOutput)
{
    for (int outputs : {0, 1}) {
        Start(outputs);
        Place("16F84");
        const std::vector<std::string> sounds = {"sound:Click", "sound:ChipIn", "sound:Tick",
                                                 "sound:Chek"};
        EXPECT_EQ(Ui.Events, outputs ? sounds : std::vector<std::string>());
    }
}

TEST_F(ChipsWindow, ChipIsDrawnInTheSocketRowOfItsPinOne)
{
    const struct { const char *Chip, *Picture; int X, Y; const char *Label; int LabelY; }
    cases[] = {{"12C671", "pin8", 43, 182, "eleven", 184},
               {"16F84", "pin18", 43, 92, "two", 94},
               {"16F876", "pin28n", 43, 82, "one", 84},
               {"16F877", "pin40", 28, 82, "one", 84}};
    Start();
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Chip);
        Select(c.Chip);
        Fm->Timer1Timer();
        EXPECT_EQ(SocketShows("sktup", 0, 44), "same"); // lever up
        Fm->Timer1Timer();
        Fm->Timer1Timer();
        EXPECT_EQ(SocketShows(c.Picture, c.X, c.Y), "same");
        EXPECT_EQ(SocketShows(c.Label, 5, c.LabelY), "same");
        Fm->Timer1Timer();
    }
}

TEST_F(ChipsWindow, PanelFollowsTheChip)
{
    Start();
    Place("12C671");
    ExpectPanelIsModel();
    EXPECT_EQ(Fm->OscChButt->pos(), QPoint(99, 78));
    EXPECT_EQ(Fm->CB4->text(), "OSCCAL");
    EXPECT_EQ(Fm->CB4->width(), 68);
    EXPECT_TRUE(Fm->CB1->isChecked() && Fm->CB2->isChecked() && !Fm->CB3->isChecked());

    Place("16F84");
    ExpectPanelIsModel();
    EXPECT_EQ(Fm->OscChButt->x(), 300);
    EXPECT_TRUE(Fm->CB3->isHidden() && Fm->CB4->isHidden());

    Fm->SetDefaultScreen();
    ExpectPanelIsModel();
    EXPECT_FALSE(Fm->Oscillator->isHidden()); // empty, but in view
    EXPECT_TRUE(Fm->CB1->isHidden());
    EXPECT_EQ(Fm->Oscillator->count(), 0);
    EXPECT_EQ(Fm->ChipSelect->currentIndex(), -1);
    Fm->WorkState.FuseWord = 0x1234;
    Fm->UpDateFuseSettings(); // no chip: the word stays, the ID is shown
    EXPECT_EQ(Fm->WorkState.FuseWord, 0x1234);
    EXPECT_EQ(Fm->IDedit->text(), "FFFF");
}

TEST_F(ChipsWindow, ControlsEditTheWordAndShowItBack)
{
    Start();
    Place("16F877");
    Fm->CB1->click(); // WDT off
    EXPECT_EQ(Fm->WorkState.FuseWord, 0x3FFB);
    Fm->CB5->click(); // CPD on
    EXPECT_EQ(Fm->WorkState.FuseWord, 0x3EFB);
    Fm->WorkState.FuseWord = 0x3F7F; // LVP off, the rest as erased
    Fm->WorkState.IdValue = 0x12AB;
    Fm->UpDateFuseSettings();
    EXPECT_EQ(Fm->WorkState.FuseWord, 0x3F7F);
    EXPECT_TRUE(Fm->CB1->isChecked());
    EXPECT_FALSE(Fm->CB4->isChecked());
    EXPECT_FALSE(Fm->CB5->isChecked());
    EXPECT_EQ(Fm->IDedit->text(), "12AB");
    ExpectPanelIsModel();

    Place("12C671");
    Fm->CB4->click(); // OSCCAL is bound to no bit
    EXPECT_EQ(Fm->WorkState.FuseWord, 0x3FFF);
    emit Fm->Oscillator->activated(7); // LP
    EXPECT_EQ(Fm->WorkState.FuseWord, 0x3FF8);
    Fm->WorkState.FuseWord = 0x3F87;
    Fm->UpDateFuseSettings();
    EXPECT_EQ(Fm->WorkState.FuseWord, 0x3F87);
    EXPECT_TRUE(!Fm->CB1->isChecked() && Fm->CB2->isChecked() && Fm->CB3->isChecked());
    EXPECT_EQ(Fm->Oscillator->currentText(), "EXTCK");
    EXPECT_EQ(Fm->CodeProtect->currentText(), "ON");

    Place("16C554");
    emit Fm->CodeProtect->activated(1); // the first "Don't use"
    EXPECT_EQ(Fm->WorkState.FuseWord, 0x2AEF);
}

TEST_F(ChipsWindow, IdEditTypesUpperCaseHexOnly)
{
    Start();
    Place("16F84");
    const struct { const char *Typed, *Shown; } cases[] = {
        {"a1g-", "A1"}, {"abcdef", "ABCD"}, {" 0x9", "09"}};
    for (const auto &c : cases) {
        Fm->IDedit->clear();
        QTest::keyClicks(Fm->IDedit, c.Typed);
        EXPECT_EQ(Fm->IDedit->text().toStdString(), c.Shown) << c.Typed;
    }
    QTest::keyClick(Fm->IDedit, Qt::Key_Backspace);
    EXPECT_EQ(Fm->IDedit->text(), "0");
    EXPECT_EQ(Fm->IdText(), "0"); // what the operations and the save take
    Fm->IDedit->selectAll();
    QTest::keyClicks(Fm->IDedit, "e");
    EXPECT_EQ(Fm->IDedit->text(), "E");
}

TEST_F(ChipsWindow, ChoosingBeforeTheStartUpTickIsIgnored)
{
    Fm = std::make_unique<TProjFm>(Ui);
    Select("16F84");
    EXPECT_EQ(Fm->ChipSelect->currentIndex(), -1);
    EXPECT_TRUE(Fm->ChipSelect->isEnabled());
    EXPECT_EQ(Fm->StatusLabel->text(), "Program Ready");
}

class OscCalDialog : public ChipsWindow
{
protected:
    // Opens the dialog with "Change" on a 12C671 image whose last word is
    // last, lets answer act on it and returns the stored last word.
    std::string Change(const std::string &last, const std::function<void(TOscCalFm &)> &answer)
    {
        Fm->WorkState.RomData.assign(1024, BlankWord);
        Fm->WorkState.RomData.back() = last;
        Fm->ClearPad();
        Opened.clear();
        Fm->OscCalFm->OnShown = [&](TOscCalFm &d) {
            Opened = d.RetlwLab->text().toStdString() + d.Edit1->text().toStdString();
            answer(d);
            if (d.isVisible())
                d.reject(); // never leave a test waiting
        };
        Fm->OscChButt->click();
        Fm->OscCalFm->OnShown = nullptr;
        Redrawn = PadHasText();
        return Fm->WorkState.RomData.back();
    }
    std::string Opened;
    bool Redrawn = false;
};

TEST_F(OscCalDialog, StoresTheTypedValueOnOkOnly)
{
    Start();
    Place("12C671");
    const struct { const char *Keys; bool Ok; const char *Stored; } cases[] = {
        {"7c", true, "13436"}, {"", true, "13312"}, {"5", true, "13317"},
        {"7C", false, "13440"}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Keys);
        const std::string stored = Change("13440", [&](TOscCalFm &d) {
            d.Edit1->clear();
            QTest::keyClicks(d.Edit1, c.Keys);
            (c.Ok ? d.BitBtn1 : d.BitBtn2)->click();
        });
        EXPECT_EQ(Opened, "3480");
        EXPECT_EQ(stored, c.Stored);
        EXPECT_TRUE(Redrawn);
    }
    EXPECT_EQ(Fm->OscCalFm->windowTitle(), "OSCAL");
    EXPECT_EQ(Fm->OscCalFm->size(), QSize(258, 131));
}

TEST_F(OscCalDialog, BackspaceAndEnterBeepDeleteDeletes)
{
    Start();
    Place("12C671");
    std::string typed;
    const std::string stored = Change(BlankWord, [&](TOscCalFm &d) {
        d.Edit1->setCursorPosition(2);
        QTest::keyClick(d.Edit1, Qt::Key_Backspace);
        QTest::keyClick(d.Edit1, Qt::Key_Return);
        typed = d.Edit1->text().toStdString();
        d.Edit1->setCursorPosition(0);
        QTest::keyClick(d.Edit1, Qt::Key_Delete);
        QTest::keyClicks(d.Edit1, "x3");
        typed += "," + d.Edit1->text().toStdString();
        d.BitBtn2->click();
    });
    EXPECT_EQ(Opened, "34FF");
    EXPECT_EQ(typed, "FF,3F");
    EXPECT_EQ(Ui.Beeps, 3); // Backspace, Enter, x
    EXPECT_EQ(stored, BlankWord);
}

TEST_F(OscCalDialog, ChangeDoesNothingWithoutAnImage)
{
    Start();
    Place("12C671");
    bool shown = false;
    Fm->OscCalFm->OnShown = [&](TOscCalFm &d) {
        shown = true;
        d.reject();
    };
    Fm->OscChButt->click();
    EXPECT_FALSE(shown);
    EXPECT_TRUE(Fm->WorkState.RomData.empty());
}

} // namespace
