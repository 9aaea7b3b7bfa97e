#include "app/Settings.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace {

struct TSettingsCase
{
    const char *Name;
    bool Exists;
    const char *Content;
    int Port;
    const char *After; // file content afterwards
};

class SettingsFile : public ::testing::TestWithParam<TSettingsCase>
{
protected:
    void SetUp() override
    {
        char dir[] = "/tmp/varnel-settings-XXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        Path = std::string(dir) + "/varnel.dat";
    }
    void TearDown() override
    {
        std::remove(Path.c_str());
        rmdir(Path.substr(0, Path.rfind('/')).c_str());
    }
    std::string Path;
};

TEST_P(SettingsFile, PortAndFileAfterwards)
{
    const TSettingsCase &c = GetParam();
    if (c.Exists) {
        std::ofstream out(Path, std::ios::binary);
        out << c.Content;
    }
    std::vector<std::string> lines;
    EXPECT_EQ(ReadPortSetting(Path, lines), c.Port);
    EXPECT_EQ(ReadBytes(Path), c.After);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SettingsFile,
    ::testing::Values(TSettingsCase{"Missing", false, "", 1, "1\r\n"},
                      TSettingsCase{"Three", true, "3\r\n", 3, "3\r\n"},
                      TSettingsCase{"ThreeNoBreak", true, "3", 3, "3"},
                      TSettingsCase{"NineLf", true, "9\n", 9, "9\n"},
                      TSettingsCase{"TwoLines", true, "3\r\n4\r\n", 1, "1\r\n"},
                      TSettingsCase{"Text", true, "abc\r\n", 1, "1\r\n"},
                      TSettingsCase{"MinusOne", true, "-1\r\n", 1, "1\r\n"},
                      TSettingsCase{"Zero", true, "0\r\n", 1, "1\r\n"},
                      TSettingsCase{"Twelve", true, "12\r\n", 1, "1\r\n"},
                      TSettingsCase{"Empty", true, "", 1, "1\r\n"},
                      TSettingsCase{"Spaces", true, " 3 \r\n", 1, "1\r\n"}),
    [](const ::testing::TestParamInfo<TSettingsCase> &info) { return info.param.Name; });

} // namespace
