#include "core/StopSignals.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <mutex>
#include <string>

#include <fcntl.h>
#include <unistd.h>

const char StopAtOnceText[] =
        "Stopped at once. If the board was in the middle of an operation, switch it off "
        "and on before the next one.";

namespace {

// Touched by the handler: lock-free atomics and plain descriptors only.
std::atomic<int> FirstSignal{0};
int WakePipe[2] = {-1, -1};
// Where a progress bar may stand unfinished, the last words start a new line.
bool ErrIsTerminal = false;

static_assert(std::atomic<int>::is_always_lock_free, "the handler needs a lock-free flag");

void WriteErr(const char *text, size_t length)
{
    [[maybe_unused]] const ssize_t n = ::write(STDERR_FILENO, text, length);
}

void OnStopSignal(int signal)
{
    const int savedErrno = errno;
    int none = 0;
    if (FirstSignal.compare_exchange_strong(none, signal)) {
        const char wake = 1;
        [[maybe_unused]] const ssize_t n = ::write(WakePipe[1], &wake, 1);
        errno = savedErrno;
        return;
    }
    if (ErrIsTerminal)
        WriteErr("\n", 1);
    WriteErr(StopAtOnceText, sizeof StopAtOnceText - 1);
    WriteErr("\n", 1);
    ::_exit(StopExitCode(signal));
}

} // namespace

bool InstallStopSignals(std::string &error)
{
    // Once per process, whoever asks first; several boards' threads ask too.
    static std::mutex installing;
    static bool done = false;
    static bool installed = false;
    static std::string failure;
    std::lock_guard<std::mutex> hold(installing);
    if (done) {
        error = failure;
        return installed;
    }
    done = true;
    if (::pipe2(WakePipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        failure = error = std::string("pipe: ") + std::strerror(errno);
        return false;
    }
    ErrIsTerminal = ::isatty(STDERR_FILENO) == 1;
    for (const int signal : StopSignals) {
        struct sigaction old = {};
        if (::sigaction(signal, nullptr, &old) == 0 && old.sa_handler == SIG_IGN)
            continue;
        struct sigaction action = {};
        action.sa_handler = OnStopSignal;
        sigemptyset(&action.sa_mask);
        // Every blocking call that must notice a signal waits on the pipe too.
        action.sa_flags = SA_RESTART;
        ::sigaction(signal, &action, nullptr);
    }
    installed = true;
    return true;
}

int StopSignal()
{
    return FirstSignal.load();
}

int StopSignalFd()
{
    return WakePipe[0];
}
