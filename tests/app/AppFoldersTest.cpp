#include "app/AppFolders.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <ostream>
#include <stdlib.h>

namespace fs = std::filesystem;

namespace {

struct TFoldersCase
{
    const char *Name;
    TStartPlace Place;
    const char *ProgramDir;
    const char *HexDir;
};

const TFoldersCase FoldersCases[] = {
    // A build folder keeps the program's own folder for both, however started.
    {"BuildShell", {"/src/build", "/tmp/work", "/home/ann", "", false}, "/src/build/",
     "/src/build/"},
    {"BuildDesktop", {"/src/build/", "/home/ann/.config/varnelpro", "/home/ann", "", true},
     "/src/build/", "/src/build/"},
    // Installed: never the system bin/.
    {"InstalledShell", {"/usr/bin", "/tmp/work", "/home/ann", "/usr/share/varnelpro/", false},
     "/tmp/work/", "/tmp/work/"},
    {"InstalledDesktop",
     {"/usr/bin", "/home/ann/.config/varnelpro", "/home/ann", "/usr/share/varnelpro/", true},
     "/home/ann/.config/varnelpro/", "/home/ann/"},
    {"InstalledDesktopNoHome", {"/usr/bin", "/var/tmp", "", "/usr/share/varnelpro/", true},
     "/var/tmp/", "/var/tmp/"},
    {"RootFolder", {"/usr/bin", "/", "/", "/usr/share/varnelpro/", true}, "/", "/"},
    {"DoubledSeparators", {"/opt/vp/bin//", "/w//", "/h", "", false}, "/opt/vp/bin/",
     "/opt/vp/bin/"},
};

// Shown by a failing case instead of the struct's raw bytes.
void PrintTo(const TFoldersCase &c, std::ostream *os)
{
    const TStartPlace &p = c.Place;
    *os << c.Name << " {program " << p.ProgramFolder << ", current " << p.CurrentFolder
        << ", home " << p.HomeFolder << ", data " << (p.DataFolder.empty() ? "-" : p.DataFolder)
        << (p.FromDesktop ? ", from the menu}" : ", from a shell}");
}

class StartFolderRules : public ::testing::TestWithParam<TFoldersCase>
{
};

TEST_P(StartFolderRules, ProgramAndHexFolder)
{
    const TStartFolders f = StartFolders(GetParam().Place);
    EXPECT_EQ(f.ProgramDir, GetParam().ProgramDir);
    EXPECT_EQ(f.HexDir, GetParam().HexDir);
}

INSTANTIATE_TEST_SUITE_P(AppFolders, StartFolderRules, ::testing::ValuesIn(FoldersCases),
                         [](const auto &info) { return std::string(info.param.Name); });

TEST(AppFolders, SettingsFolderFollowsXdgConfigHome)
{
    struct
    {
        const char *Xdg;
        const char *Home;
        const char *Expected;
    } const cases[] = {
        {"/tmp/cfg", "/home/ann", "/tmp/cfg/varnelpro"},
        {"/tmp/cfg/", "/home/ann", "/tmp/cfg/varnelpro"},
        {nullptr, "/home/ann", "/home/ann/.config/varnelpro"},
        {"", "/home/ann/", "/home/ann/.config/varnelpro"},
        {"relative/cfg", "/home/ann", "/home/ann/.config/varnelpro"},
        {nullptr, "", ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Xdg ? c.Xdg : "(unset)");
        EXPECT_EQ(SettingsFolder(c.Xdg, c.Home), c.Expected);
    }
}

class DataFolders : public ::testing::Test
{
protected:
    void SetUp() override
    {
        char dir[] = "/tmp/varnel-folders-XXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        Root = dir;
    }
    void TearDown() override { fs::remove_all(Root); }
    std::string Make(const std::string &relative)
    {
        fs::create_directories(Root + "/" + relative);
        return Root + "/" + relative;
    }
    std::string Root;
};

TEST_F(DataFolders, InstalledDataFolderOnlyWhereThePrefixHasOne)
{
    const std::string bin = Make("prefix/bin");
    EXPECT_EQ(InstalledDataFolder(bin), "");
    Make("prefix/share/varnelpro");
    EXPECT_EQ(InstalledDataFolder(bin), Root + "/prefix/share/varnelpro/");
    EXPECT_EQ(InstalledDataFolder(bin + "/"), Root + "/prefix/share/varnelpro/");
    EXPECT_EQ(InstalledDataFolder(""), "");
    // A prefix whose share/ holds other programs' data only is no install of ours.
    Make("other/share/doc");
    EXPECT_EQ(InstalledDataFolder(Make("other/bin")), "");
}

TEST_F(DataFolders, CurrentFolderFirstThenDataFolder)
{
    const std::string cwd = Make("work");
    const std::string data = Make("share/varnelpro");
    WriteBytes(data + "/chin.wav", "data");
    WriteBytes(data + "/tick.wav", "data");
    WriteBytes(cwd + "/tick.wav", "cwd");
    Make("work/chek.wav"); // a folder of that name is no sound
    WriteBytes(data + "/chek.wav", "data");

    const std::vector<std::string> folders = DataSearchFolders(cwd, data);
    ASSERT_EQ(folders.size(), 2u);
    EXPECT_EQ(FindDataFile("tick.wav", folders), cwd + "/tick.wav");
    EXPECT_EQ(FindDataFile("chin.wav", folders), data + "/chin.wav");
    EXPECT_EQ(FindDataFile("chek.wav", folders), data + "/chek.wav");
    EXPECT_EQ(FindDataFile("click.wav", folders), ""); // the built-in copy then
    // A build folder has no data folder: only the current folder is searched.
    EXPECT_EQ(DataSearchFolders(cwd, ""), std::vector<std::string>{cwd + "/"});
    EXPECT_EQ(FindDataFile("chin.wav", DataSearchFolders(cwd, "")), "");
}

} // namespace
