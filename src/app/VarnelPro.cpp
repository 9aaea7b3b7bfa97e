// Program entry of the Varnel Programmer.
#include "app/QtUiServices.h"
#include "app/prog2.h"
#include "board/SimulatedBoard.h"

#include <QApplication>
#include <QCommandLineParser>

#include <cstdio>

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
    parser.addOptions({simulate, boardImage, device});
    parser.process(app);

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
    ui.OpenSounds();
    TProjFm window(ui);
    window.DeviceOverride = devicePath;
    window.show();
    const int rc = app.exec();
    return rc;
}
