#pragma once

#include <csignal>
#include <string>

// SIGINT, SIGTERM and SIGHUP as a request to stop a front end that may be
// driving the board. The handler only notes the first signal and makes a
// pipe readable, so that the event loop turns it into an ordinary event and
// the running operation ends at its next cancel point. A second signal ends
// the process at once, with StopAtOnceText on standard error.
//
// A signal that was ignored when the process started (nohup, a background
// job of a script) stays ignored. Installed once per process, by the first
// caller from any thread; false with error set, for every caller, when the
// pipe cannot be made.
inline constexpr int StopSignals[] = {SIGINT, SIGTERM, SIGHUP};
bool InstallStopSignals(std::string &error);

// The first signal that came, 0 while none has.
int StopSignal();
// Readable from the first signal on (never drained), -1 before installing.
int StopSignalFd();
// The exit status of a process that a signal stopped: 128 + its number.
inline int StopExitCode(int signal)
{
    return 128 + signal;
}

extern const char StopAtOnceText[];
