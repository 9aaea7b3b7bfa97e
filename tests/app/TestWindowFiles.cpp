// Files that reach the window from the desktop: named at start, dropped,
// rebuilt on disk while loaded; INHX32 in and out; the real Load dialog typed
// into. The window runs offscreen with no port; files are real files.
#include "app/FileWatch.h"
#include "app/Controls.h"
#include "app/QtUiServices.h"
#include "app/Settings.h"
#include "app/prog2.h"
#include "chips/ChipCatalogue.h"
#include "hexfile/HexReader.h"
#include "hexfile/HexTestSupport.h"
#include "support/PadPixels.h"
#include "support/NoPorts.h"
#include "support/PlaceChip.h"
#include "support/RecordingUi.h"
#include "support/TestFiles.h"
#include "support/WorkFolder.h"

#include <QApplication>
#include <QComboBox>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>

#include <pty.h>
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

// A 16F84 program: word 0 holds first, word 1 0x2805, ID 1234, config 3FF1.
std::string Program(int first)
{
    return Rec(0, {first & 0xFF, first >> 8, 0x05, 0x28}) + "\r\n"
           + ":084000000100020003000400AE\r\n:02400E00F13F80\r\n:00000001FF\r\n";
}

// Written beside and renamed over, as assemblers and editors replace a file.
void ReplaceByRename(const std::string &path, const std::string &text)
{
    WriteBytes(path + ".new", text);
    ASSERT_EQ(std::rename((path + ".new").c_str(), path.c_str()), 0);
}

class WindowFiles : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(Folder.Ok());
        Dir = Folder.Path;
        Hex = Dir + "/f.hex";
        WriteBytes(Hex, Program(0x0123));
    }
    void TearDown() override { Fm.reset(); }

    void StartWindow(int chip = -1, const std::string &file = {}, bool watch = true)
    {
        Fm = std::make_unique<TProjFm>(Ui);
        Fm->WatchFiles = watch;
        Fm->OpenAtStart(chip, file);
        Fm->show();
        ASSERT_TRUE(WaitFor([this] { return Fm->WorkState.Started; }));
        Ui.Boxes.clear(); // the box about the missing port
    }

    void StartWithLoadedFile(bool watch = true)
    {
        StartWindow(-1, {}, watch);
        PlaceChip(*Fm, "16F84");
        Ui.OpenNames = {Hex};
        Fm->LoadButt->click();
        ASSERT_EQ(Word(0), 0x0123);
    }

    int Word(size_t address) const
    {
        return address < Fm->WorkState.RomData.size()
                       ? std::stoi(Fm->WorkState.RomData[address])
                       : -1;
    }
    std::string Status() const { return Fm->StatusLabel->text().toStdString(); }
    std::string Caption() const { return Fm->windowTitle().toStdString(); }
    const std::string HexCaption = std::string(AppCaption) + "  <f.hex>";

    void DropHex() { Drop({QUrl::fromLocalFile(QString::fromStdString(Hex))}); }

    // A drop of urls on the window, as the desktop delivers it.
    void Drop(const QList<QUrl> &urls)
    {
        QMimeData data;
        data.setUrls(urls);
        QDragEnterEvent enter(QPoint(100, 100), Qt::CopyAction, &data, Qt::LeftButton,
                              Qt::NoModifier);
        QApplication::sendEvent(Fm.get(), &enter);
        QDropEvent drop(QPointF(100, 100), Qt::CopyAction, &data, Qt::LeftButton,
                        Qt::NoModifier);
        QApplication::sendEvent(Fm.get(), &drop);
        QApplication::processEvents();
    }

    TWorkFolder Folder{"varnel-files"};
    TNoPorts NoPorts; // no port to find: the start-up box is answered and recorded
    std::string Dir;
    std::string Hex;
    TRecordingUi Ui;
    std::unique_ptr<TProjFm> Fm;
};

TEST_F(WindowFiles, StartWithChipAndFileShowsTheFileAndRemembersTheChip)
{
    StartWindow(FindChip("16F84"), Hex);
    ASSERT_TRUE(WaitFor([this] { return Word(0) == 0x0123; }, 8000)) << Status();
    EXPECT_EQ(Fm->ChipSelect->currentText().toStdString(), "16F84");
    EXPECT_EQ(Word(1), 0x2805);
    EXPECT_EQ(Fm->WorkState.FuseWord, 0x3FF1);
    EXPECT_EQ(Fm->IDedit->text().toStdString(), "1234");
    EXPECT_TRUE(PadHasText(Fm->MemoPad->Canvas()));
    EXPECT_EQ(Caption(), HexCaption);
    EXPECT_EQ(Fm->WorkState.HexDir, Dir + "/");
    EXPECT_EQ(Status(), "Program Ready");
    // Beside varnel.dat, though the load made the program's folder current.
    EXPECT_EQ(ReadBytes(Dir + "/" + ChipSettingsFileName), "16F84\r\n");
    EXPECT_EQ(ReadRememberedChip(Dir + "/" + ChipSettingsFileName), FindChip("16F84"));
}

TEST_F(WindowFiles, FileWithoutAChipWaitsForTheChoice)
{
    StartWindow(-1, Hex);
    EXPECT_EQ(Status(), "Choose the chip for f.hex");
    EXPECT_TRUE(Fm->WorkState.RomData.empty());
    Fm->LoadButt->click(); // still the Load button's own rule
    EXPECT_EQ(Ui.BoxTexts().back(), "Please select a chip before loading data file.");

    PlaceChip(*Fm, "16F877");
    EXPECT_EQ(Word(0), 0x0123);
    EXPECT_EQ(Fm->WorkState.RomData.size(), 8192u);
    EXPECT_EQ(Caption(), HexCaption);
}

TEST(RememberedChip, OnlyOneLineNamingAChip)
{
    TWorkFolder folder("varnel-chipfile");
    const struct
    {
        const char *Text;
        const char *Chip; // nullptr: none
    } cases[] = {
        {"16F84\r\n", "16F84"}, {"16f877", "16F877"}, {"12C671\n", "12C671"},
        {"", nullptr},          {"16F84\r\n16F877\r\n", nullptr},
        {"PIC16F84", nullptr},  {" 16F84", nullptr},
    };
    for (const auto &c : cases) {
        WriteBytes(ChipSettingsFileName, c.Text);
        EXPECT_EQ(ReadRememberedChip(ChipSettingsFileName), c.Chip ? FindChip(c.Chip) : -1)
                << testing::PrintToString(std::string(c.Text));
    }
    std::remove(ChipSettingsFileName);
    EXPECT_EQ(ReadRememberedChip(ChipSettingsFileName), -1);
    EXPECT_FALSE(RememberChip(ChipSettingsFileName, -1));
    ASSERT_TRUE(RememberChip(ChipSettingsFileName, FindChip("12CE674")));
    EXPECT_EQ(ReadBytes(ChipSettingsFileName), "12CE674\r\n");
}

TEST_F(WindowFiles, DroppedHexFileLoadsAndOtherDropsAreIgnored)
{
    StartWindow();
    PlaceChip(*Fm, "16F84");
    const std::string text = Dir + "/notes.txt";
    WriteBytes(text, Program(0x0777));
    const size_t boxes = Ui.Boxes.size();
    Drop({QUrl::fromLocalFile(QString::fromStdString(text))});
    Drop({QUrl(QStringLiteral("https://example.org/f.hex"))});
    Drop({QUrl::fromLocalFile(QString::fromStdString(Hex)),
          QUrl::fromLocalFile(QString::fromStdString(Hex))});
    EXPECT_TRUE(Fm->WorkState.RomData.empty());
    EXPECT_EQ(Ui.Boxes.size(), boxes);

    DropHex();
    ASSERT_TRUE(WaitFor([this] { return Word(0) == 0x0123; }));
    EXPECT_EQ(Caption(), HexCaption);
    EXPECT_EQ(Status(), "Program Ready");
}

TEST_F(WindowFiles, DropDuringAPlacementIsRefused)
{
    StartWindow();
    Fm->ChipSelect->setCurrentIndex(FindChip("16F84"));
    Fm->ChipSelectChange(FindChip("16F84")); // the placement's ticks are pending
    Ui.Boxes.clear();
    DropHex();
    ASSERT_TRUE(WaitFor([this] { return !Ui.Boxes.empty(); }));
    EXPECT_EQ(Ui.Boxes[0].Text, LoadProblemMessage);
    EXPECT_EQ(Ui.Boxes[0].Kind, TBoxKind::Error);
    for (int step = 0; step < 4; ++step)
        Fm->Timer1Timer();
    EXPECT_TRUE(Fm->WorkState.RomData.empty()) << "the refused drop is not kept";
}

// A bulk erase and a blank test are not Busy, but a drop must not change
// the image under them either.
TEST_F(WindowFiles, DropDuringAnEraseOrBlankTestIsRefused)
{
    StartWindow();
    PlaceChip(*Fm, "16F84");
    for (bool TWorkState::*job : {&TWorkState::EraseRun, &TWorkState::BlankRun}) {
        Ui.Boxes.clear();
        Fm->WorkState.*job = true;
        DropHex();
        ASSERT_TRUE(WaitFor([this] { return !Ui.Boxes.empty(); }));
        EXPECT_EQ(Ui.Boxes[0].Text, LoadProblemMessage);
        EXPECT_TRUE(Fm->WorkState.RomData.empty()) << "the refused drop is not kept";
        Fm->WorkState.*job = false;
    }
}

TEST_F(WindowFiles, DropOverUnsavedDataAsksToSaveFirst)
{
    StartWindow();
    PlaceChip(*Fm, "16F84");
    Fm->WorkState.RomData.assign(1024, "42");
    Fm->WorkState.NewDataListed = true;

    Ui.Answers = {TAnswer::Cancel};
    DropHex();
    ASSERT_TRUE(WaitFor([this] { return !Ui.Boxes.empty(); }));
    EXPECT_EQ(Ui.BoxTexts(), std::vector<std::string>{NewDataQuestion});
    EXPECT_EQ(Word(0), 42);

    // No, then the insert question as the Load button asks it: No replaces.
    Ui.Boxes.clear();
    Ui.Answers = {TAnswer::No, TAnswer::No};
    DropHex();
    ASSERT_TRUE(WaitFor([this] { return Word(0) == 0x0123; }));
    EXPECT_EQ(Ui.BoxTexts(), (std::vector<std::string>{NewDataQuestion,
                                                       "Do you want to insert the new data?"}));
    EXPECT_FALSE(Fm->WorkState.NewDataListed);
    EXPECT_EQ(Word(2), 0x3FFF);
}

TEST_F(WindowFiles, FileReplacedByRenameIsReloaded)
{
    StartWithLoadedFile();
    QElapsedTimer since;
    since.start();
    ReplaceByRename(Hex, Program(0x0456));
    EXPECT_TRUE(WaitFor([this] { return Word(0) == 0x0456; }, 2000)) << Status();
    EXPECT_EQ(Status(), "Reloaded f.hex");
    std::printf("reloaded %lld ms after the rename\n", static_cast<long long>(since.elapsed()));

    // The name is watched again after the rename: a second rebuild, in place.
    WriteBytes(Hex, Program(0x0789));
    EXPECT_TRUE(WaitFor([this] { return Word(0) == 0x0789; }, 2000)) << Status();
    EXPECT_FALSE(Fm->WorkState.NewDataListed);
}

// A file written in pieces, each before the last has settled, is reported
// once, complete: an assembler's half-written output is never read.
TEST(FileWatch, ReportsAFileWrittenInPiecesOnceWhenComplete)
{
    TWorkFolder folder("varnel-watch");
    const std::string path = folder.Path + "/w.hex";
    const std::string whole = Program(0x0456);
    WriteBytes(path, Program(0x0123));
    TFileWatch watch;
    std::vector<std::string> seen; // the file as each report found it
    watch.OnChanged = [&] {
        seen.push_back(ReadBytes(path));
        watch.Handled();
    };
    watch.Watch(path, StampOf(path));
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        for (size_t at = 0; at < whole.size(); at += whole.size() / 4 + 1) {
            out << whole.substr(at, whole.size() / 4 + 1) << std::flush;
            QTest::qWait(TFileWatch::SettleMs / 3);
        }
    }
    EXPECT_TRUE(WaitFor([&] { return !seen.empty(); }, 2000));
    QTest::qWait(3 * TFileWatch::SettleMs);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0], whole);

    // A file deleted is reported with Exists false; after Stop nothing is.
    std::remove(path.c_str());
    EXPECT_TRUE(WaitFor([&] { return seen.size() == 2; }, 2000));
    EXPECT_FALSE(watch.Reported().Exists);
    watch.Stop();
    WriteBytes(path, whole);
    QTest::qWait(3 * TFileWatch::SettleMs);
    EXPECT_EQ(seen.size(), 2u) << "nothing after Stop";
}

TEST_F(WindowFiles, FileThatNoLongerLoadsOrIsGoneKeepsTheImage)
{
    StartWithLoadedFile();
    ReplaceByRename(Hex, ":020000040001F9\r\n" + Program(0x0456));
    EXPECT_TRUE(WaitFor([this] { return Status() == "f.hex not reloaded"; }, 2000)) << Status();
    EXPECT_EQ(Word(0), 0x0123);
    EXPECT_EQ(Word(1), 0x2805);
    EXPECT_EQ(Fm->WorkState.FuseWord, 0x3FF1);
    EXPECT_TRUE(PadHasText(Fm->MemoPad->Canvas()));
    EXPECT_NE(Fm->StatusLabel->toolTip().toStdString().find("on line 1."), std::string::npos);
    EXPECT_TRUE(Ui.Boxes.empty()) << "no box behind the user's back";

    std::remove(Hex.c_str());
    EXPECT_TRUE(WaitFor([this] { return Status() == "f.hex is gone"; }, 2000)) << Status();
    EXPECT_EQ(Word(0), 0x0123);

    WriteBytes(Hex, Program(0x0456)); // built again
    EXPECT_TRUE(WaitFor([this] { return Word(0) == 0x0456; }, 2000)) << Status();
}

TEST_F(WindowFiles, UnsavedReadIsNotReplacedUnasked)
{
    StartWithLoadedFile();
    Fm->WorkState.RomData[0] = "42"; // as a Read leaves it
    Fm->WorkState.NewDataListed = true;
    Ui.Boxes.clear();
    ReplaceByRename(Hex, Program(0x0456)); // the question is answered Cancel
    ASSERT_TRUE(WaitFor([this] { return !Ui.Boxes.empty(); }, 2000));
    EXPECT_EQ(Ui.BoxTexts(), std::vector<std::string>{NewDataQuestion});
    QTest::qWait(3 * TFileWatch::SettleMs);
    EXPECT_EQ(Word(0), 42);
    EXPECT_TRUE(Fm->WorkState.NewDataListed);

    Ui.Boxes.clear();
    Ui.Answers = {TAnswer::No};
    ReplaceByRename(Hex, Program(0x0789));
    EXPECT_TRUE(WaitFor([this] { return Word(0) == 0x0789; }, 2000));
    EXPECT_EQ(Ui.BoxTexts(), std::vector<std::string>{NewDataQuestion});
}

TEST_F(WindowFiles, ReloadWaitsForTheOperationToEnd)
{
    StartWithLoadedFile();
    Fm->WorkState.Busy = true;
    Fm->SetStatus("Programming");
    ReplaceByRename(Hex, Program(0x0456));
    QTest::qWait(6 * TFileWatch::SettleMs);
    EXPECT_EQ(Word(0), 0x0123);
    EXPECT_EQ(Status(), "Programming");
    Fm->WorkState.Busy = false;
    EXPECT_TRUE(WaitFor([this] { return Word(0) == 0x0456; }, 2000));
    EXPECT_EQ(Status(), "Reloaded f.hex");
}

// A status naming a long file does not fit the label: the label keeps the
// whole text, shows its middle elided, and offers it whole as the tip.
TEST_F(WindowFiles, AStatusTooLongForTheLabelIsWholeInItsTip)
{
    StartWindow();
    const std::string longName = "Reloaded firmware-release-candidate-7.hex";
    Fm->SetStatus(longName);
    EXPECT_EQ(Fm->StatusLabel->text().toStdString(), longName);
    EXPECT_EQ(Fm->StatusLabel->toolTip().toStdString(), longName);
    Fm->SetStatus("Program Ready");
    EXPECT_TRUE(Fm->StatusLabel->toolTip().isEmpty());
}

TEST_F(WindowFiles, NoWatchLeavesTheImageAlone)
{
    StartWithLoadedFile(false);
    ReplaceByRename(Hex, Program(0x0456));
    QTest::qWait(6 * TFileWatch::SettleMs);
    EXPECT_EQ(Word(0), 0x0123);
}

TEST_F(WindowFiles, SaveAsInhx32OnlyWhenThatTypeIsChosen)
{
    StartWithLoadedFile();
    Ui.SaveNames = {Dir + "/plain.hex", Dir + "/linear.hex"};
    Ui.SaveTypes = {0, 1};
    Fm->SaveButt->click();
    Fm->SaveButt->click();
    ASSERT_EQ(Ui.Dialogs.size(), 3u);
    EXPECT_EQ(Ui.Dialogs[1].Filter, "HexFiles|*.hex|INHX32|*.hex|All Files|*.*");
    const std::string plain = ReadBytes(Dir + "/plain.hex");
    EXPECT_EQ(plain.rfind(":100000002301052", 0), 0u) << plain.substr(0, 60);
    EXPECT_EQ(ReadBytes(Dir + "/linear.hex"), ":020000040000FA\r\n" + plain);

    TWorkState back = Fm->WorkState;
    ASSERT_EQ(LoadHexFile(back, Dir + "/linear.hex", false).Status, THexLoadStatus::Ok);
    EXPECT_EQ(back.RomData, Fm->WorkState.RomData);
}

// Every program of the corpus, assembled as INHX32 and as INHX8M, fills the
// window alike.
TEST_F(WindowFiles, AssembledInhx32LoadsAsItsInhx8mTwin)
{
    if (std::system("command -v gpasm >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "gpasm is not installed (Debian package gputils)";
    StartWindow();
    const struct
    {
        const char *Asm;
        const char *Chip;
    } programs[] = {{"eeprom84", "16F84"}, {"bank877", "16F877"}, {"osccal671", "12C671"}};
    for (const auto &p : programs) {
        PlaceChip(*Fm, p.Chip);
        TWorkState images[2];
        QImage pads[2];
        const char *formats[2] = {"inhx8m", "inhx32"};
        for (int f = 0; f < 2; ++f) {
            const std::string out = Dir + "/" + p.Asm + formats[f] + ".hex";
            const std::string cmd = std::string("gpasm -a ") + formats[f] + " -o '" + out
                                    + "' '" + VARNEL_HEX_TEST_DATA + "/" + p.Asm
                                    + ".asm' >/dev/null";
            ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
            Ui.OpenNames = {out};
            Ui.Answers = {TAnswer::No}; // replace what the first one loaded
            Fm->LoadButt->click();
            ASSERT_EQ(Status(), "Program Ready") << p.Asm << " " << formats[f];
            images[f] = Fm->WorkState;
            pads[f] = Fm->MemoPad->Canvas();
        }
        EXPECT_EQ(images[1].RomData, images[0].RomData) << p.Asm;
        EXPECT_EQ(images[1].EepData, images[0].EepData) << p.Asm;
        EXPECT_EQ(images[1].IdValue, images[0].IdValue) << p.Asm;
        EXPECT_EQ(images[1].FuseWord, images[0].FuseWord) << p.Asm;
        EXPECT_TRUE(pads[1] == pads[0]) << p.Asm;
        EXPECT_NE(images[0].RomData[0], BlankWord) << p.Asm;
    }
}

struct TDialogTypingResult
{
    std::string Typed;      // the name field before Enter
    bool StillOpen = false; // after Enter
};
using TDialogTyping = std::shared_ptr<TDialogTypingResult>;

// Once the next file dialog is open: types text into its name field as keys,
// presses Enter and notes whether the dialog stayed (then closes it).
TDialogTyping TypeIntoNextDialog(const std::string &text)
{
    auto result = std::make_shared<TDialogTypingResult>();
    QTimer::singleShot(0, [result, text] {
        WaitFor([] { return qobject_cast<QFileDialog *>(
                                    QApplication::activeModalWidget()) != nullptr; });
        auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        auto *name = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
        if (!name) {
            dialog->reject();
            return;
        }
        QTest::qWait(200); // the folder is listed
        name->setFocus();
        QTest::keyClicks(name, QString::fromStdString(text), Qt::NoModifier, 20);
        QTest::qWait(200);
        result->Typed = name->text().toStdString();
        QTest::keyClick(name, Qt::Key_Return);
        QTest::qWait(200);
        result->StillOpen = dialog->isVisible();
        if (result->StillOpen)
            dialog->reject();
    });
    return result;
}

// The real Load dialog, typed into as a new user does: the full path of a
// file in the folder it already shows, then Enter.
TEST_F(WindowFiles, FullPathTypedIntoTheLoadDialogLoadsThatFile)
{
    // A port that opens, so the start-up shows no real box.
    int master = -1;
    int slave = -1;
    char tty[128];
    ASSERT_EQ(openpty(&master, &slave, tty, nullptr, nullptr), 0);
    setenv("VARNEL_COM1", tty, 1);
    TQtUiServices qtUi;
    Fm = std::make_unique<TProjFm>(qtUi);
    Fm->show();
    ASSERT_TRUE(WaitFor([this] { return Fm->WorkState.Started; }));
    PlaceChip(*Fm, "16F84");
    // A project's build folder, shown by the dialog. The dialog's completion
    // left this folder selected in its list when the name was one letter.
    const std::string build = Dir + "/project/b";
    std::filesystem::create_directories(build);
    Hex = build + "/f.hex";
    WriteBytes(Hex, Program(0x0123));
    Fm->WorkState.HexDir = build + "/";

    TDialogTyping typing = TypeIntoNextDialog(Hex);
    Fm->LoadButt->click();
    EXPECT_EQ(typing->Typed, Hex);
    EXPECT_FALSE(typing->StillOpen);
    EXPECT_EQ(Word(0), 0x0123);
    EXPECT_EQ(Caption(), HexCaption);

    // The same in the Save dialog, for a new file beside it.
    const std::string saved = build + "/copy.hex";
    typing = TypeIntoNextDialog(saved);
    Fm->SaveButt->click();
    EXPECT_EQ(typing->Typed, saved);
    EXPECT_FALSE(typing->StillOpen);
    EXPECT_EQ(ReadBytes(saved).rfind(":100000002301", 0), 0u);
    Fm.reset();
    close(master);
    close(slave);
}

} // namespace
