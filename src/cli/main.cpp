// varnelpro-cli: the program's operations for scripts and makefiles.
#include "chips/FusePanel.h"
#include "cli/CliArgs.h"
#include "cli/CliGang.h"
#include "cli/CliImage.h"
#include "cli/CliPorts.h"
#include "cli/CliReport.h"
#include "cli/CliSession.h"
#include "cli/CliTerminal.h"

#include <QCoreApplication>

#include <cstdio>

namespace {

int RunHexInfo(const TCliArgs &args, TTerminal &term)
{
    TWorkState ws;
    TFusePanel fuses;
    int code = SelectCliChip(args, ws, fuses, term);
    if (code == ecSuccess)
        code = LoadCliImage(args, ws, fuses, term, false);
    if (code == ecSuccess)
        PrintCliImage(ws, fuses, args.Dump);
    return code;
}

} // namespace

int main(int argc, char **argv)
{
    // The serial component hands its events to this thread's event loop.
    QCoreApplication app(argc, argv);
    const TCliArgs args = ParseCliArgs(std::vector<std::string>(argv + 1, argv + argc));
    if (args.Help) {
        std::fputs(CliUsage().c_str(), stdout);
        return ecSuccess;
    }
    if (!args.Error.empty()) {
        std::fprintf(stderr, "varnelpro-cli: %s\nTry varnelpro-cli --help.\n",
                     args.Error.c_str());
        return ecBadInput;
    }
    TTerminal term(args.Quiet);
    switch (args.Command) {
    case TCliCommand::Chips:
        for (const std::string &line : ChipTableLines())
            std::printf("%s\n", line.c_str());
        return ecSuccess;
    case TCliCommand::Ports:
        for (const std::string &line : SerialPortLines(FindSerialPorts()))
            std::printf("%s\n", line.c_str());
        return ecSuccess;
    case TCliCommand::HexInfo:
        return RunHexInfo(args, term);
    default: {
        if (args.Devices.size() > 1)
            return TGangRun(args).Run();
        TCliSession session(args, term);
        return session.Run();
    }
    }
}
