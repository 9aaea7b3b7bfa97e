#pragma once

// Points all nine ports at a device that is not there, for the life of the
// object, so that a window's start-up finds no board and says so.
#include <cstdlib>
#include <string>

class TNoPorts
{
public:
    TNoPorts()
    {
        for (int n = 1; n <= 9; ++n)
            setenv(Name(n).c_str(), "/nonexistent/tty", 1);
    }
    ~TNoPorts()
    {
        for (int n = 1; n <= 9; ++n)
            unsetenv(Name(n).c_str());
    }
    static std::string Name(int n) { return "VARNEL_COM" + std::to_string(n); }
};
