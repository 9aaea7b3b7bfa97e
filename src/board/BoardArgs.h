#pragma once

#include "board/BoardServer.h"

#include <string>
#include <vector>

struct TBoardArgs
{
    TBoardOptions Options;
    bool Help = false;
    std::string Error; // non-empty: the arguments were refused
};

// Command line of varnel-board, without the program name.
TBoardArgs ParseBoardArgs(const std::vector<std::string> &args);
std::string BoardUsage();
