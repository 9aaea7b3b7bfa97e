// Program entry of the Varnel Programmer.
#include "app/QtUiServices.h"
#include "app/Settings.h"
#include "app/prog2.h"
#include "board/SimulatedBoard.h"
#include "core/StopSignals.h"
#include "chips/ChipCatalogue.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <cstdlib>

namespace {

// The desktop entry starts programs in the home folder; varnel.dat belongs
// in the settings folder instead. When that cannot be made, the program
// says so and works where it was started.
void EnterSettingsFolder()
{
    const std::string folder =
        SettingsFolder(std::getenv("XDG_CONFIG_HOME"), QDir::homePath().toStdString());
    const QString path = QString::fromStdString(folder);
    if (folder.empty() || !QDir().mkpath(path) || !QDir::setCurrent(path)) {
        std::fprintf(stderr, "varnelpro: cannot use the settings folder %s; "
                             "varnel.dat stays in %s\n",
                     folder.empty() ? "(no home folder)" : folder.c_str(),
                     qPrintable(QDir::currentPath()));
    }
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QString::fromLatin1(AppTitle));
    QApplication::setApplicationVersion(QStringLiteral("V080401"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Front end for the PicVarnel serial PIC programmer board."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption simulate(
        QStringLiteral("simulate"),
        QStringLiteral("Use the built-in virtual board instead of a serial port."));
    const QCommandLineOption boardImage(
        QStringLiteral("board-image"),
        QStringLiteral("Load the virtual board's chip from an INHX8M file."),
        QStringLiteral("file"));
    const QCommandLineOption device(
        QStringLiteral("device"),
        QStringLiteral("Open this serial device instead of the port in varnel.dat."),
        QStringLiteral("path"));
    const QCommandLineOption desktop(
        QStringLiteral("desktop"),
        QStringLiteral("Started from the desktop menu: keep varnel.dat in "
                       "$XDG_CONFIG_HOME/varnelpro."));
    // Lets scripted checks start the whole window and see it end by itself.
    QCommandLineOption quitAfter(QStringLiteral("quit-after"),
                                 QStringLiteral("Close the window after ms milliseconds."),
                                 QStringLiteral("ms"));
    quitAfter.setFlags(QCommandLineOption::HiddenFromHelp);
    const QCommandLineOption chip(
        QStringLiteral("chip"),
        QStringLiteral("Place this chip at start (default with a file: the chip chosen "
                       "last time)."),
        QStringLiteral("name"));
    const QCommandLineOption noWatch(
        QStringLiteral("no-watch"),
        QStringLiteral("Do not load a loaded file again when it changes on disk."));
    parser.addOptions({simulate, boardImage, device, desktop, chip, noWatch, quitAfter});
    parser.addPositionalArgument(QStringLiteral("file"),
                                 QStringLiteral("HEX file to load once the chip is placed."),
                                 QStringLiteral("[file]"));
    parser.process(app);

    bool quitOk = true;
    const int quitMs = parser.isSet(quitAfter) ? parser.value(quitAfter).toInt(&quitOk) : -1;
    if (!quitOk || (parser.isSet(quitAfter) && quitMs < 0)) {
        std::fprintf(stderr, "varnelpro: --quit-after takes milliseconds, not \"%s\"\n",
                     qPrintable(parser.value(quitAfter)));
        return 1;
    }
    if (parser.positionalArguments().size() > 1) {
        std::fprintf(stderr, "varnelpro: name one HEX file, not %d\n",
                     int(parser.positionalArguments().size()));
        return 1;
    }
    int startChip = -1;
    if (parser.isSet(chip)) {
        startChip = FindChip(parser.value(chip).toStdString());
        if (startChip < 0) {
            std::fprintf(stderr, "varnelpro: unknown chip \"%s\"; the chips are: %s\n",
                         qPrintable(parser.value(chip)), ChipNameList().c_str());
            return 1;
        }
    }
    // Named from where the program was started, before it may change folder.
    const std::string startFile =
        parser.positionalArguments().isEmpty()
            ? std::string()
            : QFileInfo(parser.positionalArguments().first()).absoluteFilePath().toStdString();
    if (parser.isSet(desktop))
        EnterSettingsFolder();
    SetStartedFromDesktop(parser.isSet(desktop));
    if (startChip < 0 && !startFile.empty())
        startChip = ReadRememberedChip(ChipSettingsFileName);

    std::unique_ptr<TSimulatedBoard> board;
    std::string devicePath = parser.value(device).toStdString();
    if (parser.isSet(simulate)) {
        std::string error;
        board = TSimulatedBoard::Start(parser.value(boardImage).toStdString(), error);
        if (!board) {
            std::fprintf(stderr, "varnelpro: the virtual board did not start: %s\n",
                         error.c_str());
            return 2;
        }
        devicePath = board->DevicePath();
    }

    TQtUiServices ui;
    ui.OpenDataFiles();
    TProjFm window(ui);
    window.DeviceOverride = devicePath;
    window.WatchFiles = !parser.isSet(noWatch);
    window.OpenAtStart(startChip, startFile);
    // A logout or kill in the middle of a Program must not leave the board
    // waiting for words: the window stops the operation first, then closes.
    std::string signalError;
    if (InstallStopSignals(signalError))
        window.WatchStopSignals();
    else
        std::fprintf(stderr, "varnelpro: signals will end the program at once: %s\n",
                     signalError.c_str());
    window.show();
    if (quitMs >= 0)
        QTimer::singleShot(quitMs, &window, &QWidget::close);
    const int rc = app.exec();
    return StopSignal() != 0 ? StopExitCode(StopSignal()) : rc;
}
