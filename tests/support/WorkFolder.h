#pragma once

#include <cstdlib>
#include <string>

#include <unistd.h>

// A fresh folder under /tmp made the current directory for the life of the
// object, as the program's start folder; removed with everything in it.
class TWorkFolder
{
public:
    explicit TWorkFolder(const std::string &prefix)
    {
        std::string pattern = "/tmp/" + prefix + "-XXXXXX";
        if (!mkdtemp(pattern.data()))
            return;
        Path = pattern;
        if (char *old = getcwd(nullptr, 0)) {
            OldDir = old;
            free(old);
        }
        Entered = chdir(Path.c_str()) == 0;
    }
    ~TWorkFolder()
    {
        if (!OldDir.empty() && chdir(OldDir.c_str()) != 0)
            return;
        if (!Path.empty())
            std::system(("rm -rf '" + Path + "'").c_str());
    }
    TWorkFolder(const TWorkFolder &) = delete;
    TWorkFolder &operator=(const TWorkFolder &) = delete;

    bool Ok() const { return Entered; }

    std::string Path;

private:
    std::string OldDir;
    bool Entered = false;
};
