// varnel-board: the virtual programmer board on a pseudo-terminal.

#include "board/BoardArgs.h"

#include <csignal>
#include <cstdio>
#include <pthread.h>

int main(int argc, char **argv)
{
    const TBoardArgs args = ParseBoardArgs(std::vector<std::string>(argv + 1, argv + argc));
    if (args.Help) {
        std::fputs(BoardUsage().c_str(), stdout);
        return 0;
    }
    if (!args.Error.empty()) {
        std::fprintf(stderr, "varnel-board: %s\n\n%s", args.Error.c_str(),
                     BoardUsage().c_str());
        return 2;
    }

    // Blocked before the serving thread starts, so that only sigwait sees them.
    sigset_t endSignals;
    sigemptyset(&endSignals);
    sigaddset(&endSignals, SIGINT);
    sigaddset(&endSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &endSignals, nullptr);

    TBoardServer server(args.Options);
    const std::string path = server.Start();
    if (path.empty()) {
        std::fprintf(stderr, "varnel-board: %s\n", server.LastError().c_str());
        return 1;
    }
    std::printf("%s\n", path.c_str());
    std::fflush(stdout);

    int signal = 0;
    sigwait(&endSignals, &signal);
    server.Stop();
    return 0;
}
