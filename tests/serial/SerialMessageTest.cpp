#include "link/SerialMessage.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

struct TAssemblyCase
{
    const char *Name;
    uint8_t Start;
    uint8_t End;
    uint16_t Append;
    std::vector<uint8_t> Bytes;
    std::vector<std::string> Messages;
};

const TAssemblyCase AssemblyCases[] = {
    {"trailer of one", 2, 3, 1, {1, 2, 65, 3, 9, 4}, {"\x02" "A\x03\x09"}},
    {"no trailer", 2, 3, 0, {2, 7, 3, 3}, {"\x02\x07\x03"}},
    {"end byte outside a message is dropped", 2, 3, 0, {3, 9, 2, 3}, {"\x02\x03"}},
    {"start byte restarts and drops the text", 2, 3, 0, {2, 5, 2, 6, 3}, {"\x02\x06\x03"}},
    {"trailer takes start and end bytes", 2, 3, 2, {2, 3, 2, 3, 8}, {"\x02\x03\x02\x03"}},
    {"equal start and end always restart", 5, 5, 0, {5, 1, 5, 2}, {}},
    {"bytes after completion wait for a start", 2, 3, 0, {2, 3, 9, 3, 2, 4, 3},
     {"\x02\x03", "\x02\x04\x03"}},
    {"zero bytes are data", 2, 3, 0, {2, 0, 0, 3}, {std::string("\x02\0\0\x03", 4)}},
};

TEST(SerialMessageTest, AssemblesMessagesByMode)
{
    for (const TAssemblyCase &c : AssemblyCases) {
        TMessageAssembly assembly;
        std::vector<std::string> got;
        for (const uint8_t b : c.Bytes) {
            if (assembly.Feed(b, c.Start, c.End, c.Append))
                got.push_back(assembly.MessageText);
        }
        EXPECT_EQ(got, c.Messages) << c.Name;
    }
}

}  // namespace
