#pragma once

#include <string>
#include <vector>

// Where the program looks for its data files and which folders it starts in.
// Plain C++ over std::filesystem, so the rules can be checked without a window.

// Where this run of the program stands when the window is created.
struct TStartPlace
{
    std::string ProgramFolder; // folder of the program's own file
    std::string CurrentFolder; // working folder (the settings folder from the menu)
    std::string HomeFolder;
    std::string DataFolder;    // installed data folder; empty in a build folder
    bool FromDesktop = false;  // started by the desktop entry
};

struct TStartFolders
{
    std::string ProgramDir;
    std::string HexDir;
};

// ProgramDir and HexDir at window creation, each with a trailing separator.
// A build folder keeps both at the program's own folder; an installed program
// (whose folder is a system bin/) works in its current folder and opens HEX
// files from the home folder when started from the menu.
TStartFolders StartFolders(const TStartPlace &place);

// The installed data folder seen from the program's folder (…/bin ->
// …/share/varnelpro), or empty when it does not exist there.
std::string InstalledDataFolder(const std::string &programFolder);

// The folders searched for a data file, in order: current folder first, then
// the installed data folder. Copies built into the program come after these.
std::vector<std::string> DataSearchFolders(const std::string &currentFolder,
                                           const std::string &dataFolder);

// The first existing regular file name in folders, or empty.
std::string FindDataFile(const std::string &name, const std::vector<std::string> &folders);

// $XDG_CONFIG_HOME/varnelpro, or ~/.config/varnelpro when the variable is
// unset, empty or not an absolute path. Empty when neither is known.
std::string SettingsFolder(const char *xdgConfigHome, const std::string &homeFolder);

// folder with exactly one trailing '/'.
std::string WithSeparator(std::string folder);
