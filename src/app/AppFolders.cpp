#include "app/AppFolders.h"

#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

#ifndef VARNEL_DATA_FROM_BIN
#define VARNEL_DATA_FROM_BIN "../share/varnelpro"
#endif

std::string WithSeparator(std::string folder)
{
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    if (folder != "/")
        folder += '/';
    return folder;
}

TStartFolders StartFolders(const TStartPlace &place)
{
    if (place.DataFolder.empty()) {
        const std::string own = WithSeparator(place.ProgramFolder);
        return {own, own};
    }
    const std::string current = WithSeparator(place.CurrentFolder);
    const std::string &hex = place.FromDesktop && !place.HomeFolder.empty() ? place.HomeFolder
                                                                           : place.CurrentFolder;
    return {current, WithSeparator(hex)};
}

std::string InstalledDataFolder(const std::string &programFolder)
{
    if (programFolder.empty())
        return {};
    std::error_code ec;
    const fs::path data = fs::path(programFolder) / VARNEL_DATA_FROM_BIN;
    if (!fs::is_directory(data, ec))
        return {};
    return WithSeparator(fs::weakly_canonical(data, ec).string());
}

std::vector<std::string> DataSearchFolders(const std::string &currentFolder,
                                           const std::string &dataFolder)
{
    std::vector<std::string> folders;
    for (const std::string *f : {&currentFolder, &dataFolder}) {
        if (!f->empty())
            folders.push_back(WithSeparator(*f));
    }
    return folders;
}

std::string FindDataFile(const std::string &name, const std::vector<std::string> &folders)
{
    for (const std::string &folder : folders) {
        std::error_code ec;
        const std::string path = WithSeparator(folder) + name;
        if (fs::is_regular_file(path, ec))
            return path;
    }
    return {};
}

std::string SettingsFolder(const char *xdgConfigHome, const std::string &homeFolder)
{
    // The base directory rules say a relative value is to be ignored.
    if (xdgConfigHome && xdgConfigHome[0] == '/')
        return WithSeparator(xdgConfigHome) + "varnelpro";
    if (homeFolder.empty())
        return {};
    return WithSeparator(homeFolder) + ".config/varnelpro";
}
