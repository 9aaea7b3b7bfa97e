// varnel-screenshot <out.png> [chip [read|program]]: builds the main window on
// the virtual board, waits for the board to announce itself, optionally places
// a chip (as if picked from the list), optionally reads the virtual chip (which
// then holds a short program with a text table) or programs such a program
// into it, caught a third of the way, and saves the window as a PNG.
#include "core/UiServices.h"
#include "app/prog2.h"
#include "board/SimulatedBoard.h"
#include "chips/ChipCatalogue.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>

#include <cstdio>
#include <functional>

namespace {

// Nothing may wait for a human here: boxes are printed and answered safely.
class TQuietUi : public TUiServices
{
public:
    TAnswer MessageBox(TBoxKind, const std::string &text, TBoxButtons buttons) override
    {
        std::fprintf(stderr, "varnel-screenshot: box: %s\n", text.c_str());
        return buttons == TBoxButtons::Ok ? TAnswer::Ok
             : buttons == TBoxButtons::YesNo ? TAnswer::No : TAnswer::Cancel;
    }
    void Beep() override {}
    void PlaySound(TSound) override {}
    int AudioOutputCount() override { return 0; }
    void Pause(int) override {}
    std::string OpenFileName(const TFileDialog &) override { return {}; }
    std::string SaveFileName(const TFileDialog &) override { return {}; }
    void ShowHelpContents() override {}
    void CloseHelp() override {}
};

bool WaitFor(const std::function<bool()> &done, int ms)
{
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < ms)
        QApplication::processEvents(QEventLoop::AllEvents, 5);
    return done();
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const QStringList args = QApplication::arguments();
    if (args.size() < 2 || args.size() > 4
            || (args.size() == 4 && args[3] != "read" && args[3] != "program")) {
        std::fprintf(stderr, "usage: varnel-screenshot <out.png> [chip [read|program]]\n");
        return 2;
    }
    int chip = -1;
    if (args.size() >= 3) {
        chip = FindChip(args[2].toStdString());
        if (chip < 0) {
            std::fprintf(stderr, "varnel-screenshot: unknown chip %s (%s)\n",
                         qPrintable(args[2]), ChipNameList().c_str());
            return 2;
        }
    }

    std::string error;
    const std::unique_ptr<TSimulatedBoard> board = TSimulatedBoard::Start("", error);
    if (!board) {
        std::fprintf(stderr, "varnel-screenshot: the virtual board did not start: %s\n",
                     error.c_str());
        return 1;
    }
    const bool read = args.size() == 4 && args[3] == "read";
    const bool program = args.size() == 4 && args[3] == "program";
    TBoardChip image;
    const char text[] = "PicVarnel demo: RETLW text table ";
    for (int i = 0; i < 64; ++i)
        image.Rom[i] = uint16_t(0x3400 | uint8_t(text[i % (sizeof text - 1)]));
    for (int i = 0; i < 32; ++i)
        image.Eep[i] = uint8_t(i * 7);
    image.Id = 0x0102;
    image.Config = 0x3FF1;
    if (read)
        board->Server().SetChip(image);
    TQuietUi ui;
    TProjFm window(ui);
    window.DeviceOverride = board->DevicePath();
    window.show();
    if (!WaitFor([&] { return window.WorkState.Started; }, 5000)) {
        std::fprintf(stderr, "varnel-screenshot: no start-up tick\n");
        return 1;
    }
    // The board's "PP" brings the board panel into view.
    WaitFor([&] { return window.BoardPanel->isVisible(); }, 3000);
    if (chip >= 0) {
        window.ChipSelect->setCurrentIndex(chip);
        emit window.ChipSelect->activated(chip);
        if (!WaitFor([&] { return !window.Timer1->isActive(); }, 6000)) {
            std::fprintf(stderr, "varnel-screenshot: the placement did not end\n");
            return 1;
        }
    }
    if (read && chip >= 0) {
        window.ReadButt->click();
        if (!WaitFor([&] { return window.WorkState.NewDataListed; }, 30000)) {
            std::fprintf(stderr, "varnel-screenshot: the read did not end\n");
            return 1;
        }
    }
    if (program && chip >= 0) {
        // The demo program, as a load would leave it, with a text table
        // running through the whole of program memory.
        std::vector<std::string> &rom = window.WorkState.RomData;
        rom.resize(size_t(window.WorkState.RomSize));
        for (size_t i = 0; i < rom.size(); ++i)
            rom[i] = std::to_string(image.Rom[i % 64]);
        window.WorkState.EepData.assign(size_t(window.WorkState.EepSize), BlankByte);
        window.DrawHexScreen();
        window.ProgButt->click();
        const auto third = [&] {
            return window.StatusLabel->text() == "Programming"
                    && window.ProgressBar1->value() * 3 >= window.ProgressBar1->maximum();
        };
        if (!WaitFor(third, 30000)) {
            std::fprintf(stderr, "varnel-screenshot: the program did not get going\n");
            return 1;
        }
        // Grabbed at once below: the board goes on while the picture is taken.
    } else {
        WaitFor([] { return false; }, 200); // let the last paint land
    }
    if (!window.grab().save(args[1], "PNG")) {
        std::fprintf(stderr, "varnel-screenshot: cannot write %s\n", qPrintable(args[1]));
        return 1;
    }
    return 0;
}
