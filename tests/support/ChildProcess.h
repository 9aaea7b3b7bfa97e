#pragma once

// A program started as a shell starts a foreground command, so that signals
// sent to it act as they do for a user: SIGINT, SIGTERM and SIGHUP at their
// defaults and unblocked, whatever the test runner inherited.
#include <chrono>
#include <csignal>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

class TChildProcess
{
public:
    TChildProcess() = default;
    TChildProcess(const TChildProcess &) = delete;
    TChildProcess &operator=(const TChildProcess &) = delete;
    // A child still running when the test ends is not left behind.
    ~TChildProcess()
    {
        if (Pid > 0) {
            ::kill(Pid, SIGKILL);
            ::waitpid(Pid, nullptr, 0);
        }
    }

    // Standard input from /dev/null, output and error to the files named.
    bool Start(const std::vector<std::string> &args, const std::string &outFile,
               const std::string &errFile)
    {
        posix_spawn_file_actions_t files;
        posix_spawn_file_actions_init(&files);
        posix_spawn_file_actions_addopen(&files, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&files, STDOUT_FILENO, outFile.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&files, STDERR_FILENO, errFile.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawnattr_t attr;
        posix_spawnattr_init(&attr);
        sigset_t defaults;
        sigemptyset(&defaults);
        for (int s : {SIGINT, SIGTERM, SIGHUP})
            sigaddset(&defaults, s);
        sigset_t none;
        sigemptyset(&none);
        posix_spawnattr_setsigdefault(&attr, &defaults);
        posix_spawnattr_setsigmask(&attr, &none);
        posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
        std::vector<char *> argv;
        for (const std::string &a : args)
            argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        const int failed = posix_spawn(&Pid, argv[0], &files, &attr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&files);
        posix_spawnattr_destroy(&attr);
        if (failed != 0)
            Pid = -1;
        return failed == 0;
    }

    void Signal(int signal) const { ::kill(Pid, signal); }

    // Waits up to ms for the child to end; its exit status, 128 + the signal
    // that killed it (KilledBySignal set), or -1 while it still runs.
    int Wait(int ms)
    {
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        for (;;) {
            int status = 0;
            if (Pid > 0 && ::waitpid(Pid, &status, WNOHANG) == Pid) {
                Pid = -1;
                KilledBySignal = WIFSIGNALED(status);
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            if (std::chrono::steady_clock::now() >= until)
                return -1;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }

    pid_t Pid = -1;
    bool KilledBySignal = false;
};
