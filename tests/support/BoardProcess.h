#pragma once

// varnel-board as a process of its own, serving one pseudo-terminal.
#include "support/ChildProcess.h"
#include "support/TestFiles.h"

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#ifndef VARNEL_BOARD
#error "VARNEL_BOARD must name the varnel-board executable"
#endif

class TBoardProcess
{
public:
    // Starts the board with options, its output in folder/name.out and .err;
    // false when it printed no device path within 5 s.
    bool Start(const std::string &folder, const std::string &name,
               std::vector<std::string> options = {})
    {
        const std::string out = folder + "/" + name + ".out";
        options.insert(options.begin(), VARNEL_BOARD);
        if (!Process.Start(options, out, folder + "/" + name + ".err"))
            return false;
        for (int i = 0; i < 500; ++i) {
            const std::string text = ReadBytes(out);
            if (!text.empty() && text.back() == '\n') {
                Device = text.substr(0, text.size() - 1);
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }
    ~TBoardProcess()
    {
        if (Process.Pid > 0) {
            Process.Signal(SIGTERM);
            Process.Wait(5000);
        }
    }

    TChildProcess Process;
    std::string Device;
};
