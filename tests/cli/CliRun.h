#pragma once

// Running varnelpro-cli as a script does: its exit status, standard output
// and standard error.
#include "support/TestFiles.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#ifndef VARNEL_CLI
#error "VARNEL_CLI must name the varnelpro-cli executable"
#endif
#ifndef VARNEL_HEX_TEST_DATA
#error "VARNEL_HEX_TEST_DATA must name the folder of the assembler sources"
#endif

struct TRun
{
    int Status = -1;
    std::string Out;
    std::string Err;
};

// text as one single-quoted shell word.
inline std::string Quote(const std::string &text)
{
    std::string quoted = "'";
    for (char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// Standard input is /dev/null, so no question can wait for an answer;
// standard error goes through errFile.
inline TRun RunCommand(const std::string &command, const std::string &errFile)
{
    TRun run;
    const std::string line = command + " </dev/null 2>" + Quote(errFile);
    std::FILE *pipe = popen(line.c_str(), "r");
    if (!pipe)
        return run;
    char buffer[4096];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        run.Out.append(buffer, got);
    const int status = pclose(pipe);
    run.Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.Err = ReadBytes(errFile);
    return run;
}

// varnelpro-cli with args, run through prefix (e.g. a time-out or another user).
inline TRun RunCli(const std::vector<std::string> &args, const std::string &errFile,
                   const std::string &prefix = "")
{
    std::string command = prefix + Quote(VARNEL_CLI);
    for (const std::string &arg : args)
        command += " " + Quote(arg);
    return RunCommand(command, errFile);
}

inline bool HaveGpasm()
{
    return std::system("command -v gpasm >/dev/null 2>&1") == 0;
}

// Assembles the test program name.asm into folder/name.hex.
inline bool AssembleTestProgram(const std::string &folder, const std::string &name)
{
    const std::string source = std::string(VARNEL_HEX_TEST_DATA) + "/" + name + ".asm";
    const std::string cmd = "cd " + Quote(folder) + " && gpasm -a inhx8m -o "
            + Quote(name + ".hex") + " " + Quote(source) + " >/dev/null";
    return std::system(cmd.c_str()) == 0;
}

inline std::string Show(const TRun &run)
{
    return "exit " + std::to_string(run.Status) + "\nstdout:\n" + run.Out + "stderr:\n" + run.Err;
}

// The value of the summary line "name:   value".
inline std::string FieldLine(const std::string &out, const std::string &name)
{
    std::istringstream lines(out);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.compare(0, name.size() + 1, name + ":") == 0)
            return line.substr(line.find_first_not_of(' ', name.size() + 1));
    }
    return "(no " + name + " line)";
}

struct TRepeatRun
{
    int Status = -1; // the exit status, -1 when killed
    size_t Prompts = 0;
    std::string Output;
};

// varnelpro-cli with args on a pseudo-terminal: each prompt gets the next
// answer, after atPrompt(n) has run for the n-th prompt (from 0).
inline TRepeatRun RunOnTerminal(const std::vector<std::string> &args, const std::string &prompt,
                                const std::vector<std::string> &answers,
                                const std::function<void(size_t)> &atPrompt = {})
{
    std::vector<std::string> all = {VARNEL_CLI};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char *> argv;
    for (std::string &arg : all)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    TRepeatRun run;
    int master = -1;
    const pid_t child = forkpty(&master, nullptr, nullptr, nullptr);
    if (child < 0)
        return run;
    if (child == 0) {
        execv(VARNEL_CLI, argv.data());
        _exit(127);
    }
    size_t seen = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    for (;;) {
        pollfd fd{master, POLLIN, 0};
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(child, SIGKILL);
            break;
        }
        if (::poll(&fd, 1, 200) <= 0)
            continue;
        char buffer[512];
        const ssize_t got = ::read(master, buffer, sizeof buffer);
        if (got <= 0)
            break; // the program has ended and closed the terminal
        run.Output.append(buffer, static_cast<size_t>(got));
        const size_t at = run.Output.find(prompt, seen);
        if (at == std::string::npos)
            continue;
        seen = at + prompt.size();
        if (run.Prompts < answers.size()) {
            if (atPrompt)
                atPrompt(run.Prompts);
            const std::string &answer = answers[run.Prompts];
            [[maybe_unused]] ssize_t n = ::write(master, answer.data(), answer.size());
        }
        ++run.Prompts;
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ::close(master);
    run.Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}
