#include "board/BoardArgs.h"
#include "board/BoardServer.h"
#include "board/SimulatedBoard.h"

#include "BoardTestSupport.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <regex>
#include <sstream>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

using TClock = std::chrono::steady_clock;

// The host end as a plain program opens it: raw termios, no controlling tty.
class THostEnd
{
public:
    explicit THostEnd(const std::string &path)
    {
        Fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        termios tio{};
        if (Fd >= 0 && ::tcgetattr(Fd, &tio) == 0) {
            ::cfmakeraw(&tio);
            ::tcsetattr(Fd, TCSANOW, &tio);
        }
    }
    ~THostEnd()
    {
        if (Fd >= 0)
            ::close(Fd);
    }

    void Send(const TBytes &bytes)
    {
        ASSERT_EQ(::write(Fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }

    // Up to count bytes, waiting at most timeoutMs for each read; Gone is set
    // when the line was hung up.
    TBytes Read(size_t count, int timeoutMs = 3000)
    {
        TBytes got;
        while (got.size() < count) {
            pollfd p{Fd, POLLIN, 0};
            if (::poll(&p, 1, timeoutMs) <= 0)
                break;
            uint8_t buf[4096];
            const ssize_t n = ::read(Fd, buf, std::min(sizeof buf, count - got.size()));
            if (n <= 0) {
                Gone = n == 0 || errno == EIO;
                break;
            }
            got.insert(got.end(), buf, buf + n);
            Reads++;
        }
        return got;
    }

    int Fd = -1;
    int Reads = 0;
    bool Gone = false;
};

double SecondsSince(TClock::time_point t)
{
    return std::chrono::duration<double>(TClock::now() - t).count();
}

TEST(BoardServer, PtyRoundTripSurvivesTheHostReopening)
{
    TBoardServer server({});
    const std::string path = server.Start();
    ASSERT_FALSE(path.empty()) << server.LastError();
    {
        THostEnd host(path);
        ASSERT_GE(host.Fd, 0);
        host.Send({0x01});
        EXPECT_EQ(host.Read(2), Text("PP"));
        host.Send({0x0C, 0x32, 0x00, 0x08}); // bytes 0x0D and 0x0A must pass untranslated
        EXPECT_EQ(host.Read(2), Text("WY"));
    }
    THostEnd again(path);
    again.Send({0x05});
    EXPECT_EQ(again.Read(16), Words(std::vector<uint16_t>(8, 0x3FFF)));
    again.Send({0x0E});
    EXPECT_EQ(again.Read(1), Text("Q"));
    server.Stop();
    EXPECT_FALSE(server.Running());
}

TEST(BoardServer, PacingHoldsTheWireRate)
{
    TBoardOptions options;
    options.Pace = true;
    TBoardServer server(options);
    THostEnd host(server.Start());
    // 1919 "W" and the closing "Y": 1920 bytes, a second of line time.
    const auto t0 = TClock::now();
    host.Send({0x0C, 0x32, 0x3B, 0xF8});
    const TBytes got = host.Read(1920);
    const double seconds = SecondsSince(t0);
    ASSERT_EQ(got.size(), 1920u);
    EXPECT_EQ(got.back(), 'Y');
    EXPECT_GE(seconds, 0.9);
}

// On a cable both directions take their wire time: Hello reaches the board a
// byte time after it is written, and each "P" the host a byte time after it
// starts. Paced output alone would have the first "P" at once.
TEST(BoardServer, CableTakesBothDirectionsWireTime)
{
    TBoardOptions options;
    options.Pace = options.Cable = true;
    TBoardServer server(options);
    THostEnd host(server.Start());
    for (int round = 0; round < 3; ++round) {
        const auto t0 = TClock::now();
        host.Send({0x01});
        EXPECT_EQ(host.Read(2), Text("PP"));
        EXPECT_GE(SecondsSince(t0), 3 * 0.00052);
    }
}

TEST(BoardServer, SplitSendsRepliesByteByByte)
{
    TBoardOptions options;
    options.SplitDelayMs = 60;
    TBoardServer server(options);
    THostEnd host(server.Start());
    host.Send({0x01});
    EXPECT_EQ(host.Read(1), Text("P"));
    const auto t0 = TClock::now();
    EXPECT_EQ(host.Read(1), Text("P"));
    EXPECT_GE(SecondsSince(t0), 0.03);
    EXPECT_EQ(host.Reads, 2);
}

// Noise left on the line before the host opens it, a glitch before the
// announcement, and a failed word's reply that stalls after two bytes.
TEST(BoardServer, EarlyBytesGlitchAndCutReply)
{
    TBoardOptions options;
    options.EarlyBytes = "\xFFZ";
    options.Faults.HelloGlitch = 0;
    options.Faults.FailWordAt = 0;
    options.CutFailMs = 300;
    TBoardServer server(options);
    THostEnd host(server.Start());
    EXPECT_EQ(host.Read(2), Text("\xFFZ"));
    host.Send({0x01});
    EXPECT_EQ(host.Read(3), Cat({0}, Text("PP")));
    host.Send({0x00, '1', 0x02, '2', 0x04, 0x00, 0x00});
    EXPECT_EQ(host.Read(5), Cat(Text("PYMF"), {0x00}));
    const auto t0 = TClock::now();
    EXPECT_EQ(host.Read(2), (TBytes{0x00, 0x00}));
    EXPECT_GE(SecondsSince(t0), 0.2);
}

TEST(BoardServer, DelayComesBeforeEachReply)
{
    TBoardOptions options;
    options.DelayMs = 250;
    TBoardServer server(options);
    THostEnd host(server.Start());
    const auto t0 = TClock::now();
    host.Send({0x01});
    EXPECT_EQ(host.Read(2), Text("PP"));
    EXPECT_GE(SecondsSince(t0), 0.2);
}

// An adapter's latency timer holds a short reply; a full packet goes at once.
TEST(BoardServer, UsbLatencyHoldsOnlyShortReplies)
{
    TBoardOptions options;
    options.UsbLatencyMs = 250;
    TBoardServer server(options);
    THostEnd host(server.Start());
    auto t0 = TClock::now();
    host.Send({0x01});
    EXPECT_EQ(host.Read(2), Text("PP"));
    EXPECT_GE(SecondsSince(t0), 0.24);

    // 61 bytes are one short of a packet, 62 fill one.
    for (const auto &[eepSize, held] : {std::pair{0x1E0, true}, std::pair{0x1E8, false}}) {
        const size_t length = eepSize / 8 + 1;
        t0 = TClock::now();
        host.Send({0x0C, 0x32, static_cast<uint8_t>(eepSize >> 8),
                   static_cast<uint8_t>(eepSize & 0xFF)});
        const TBytes got = host.Read(length);
        const double seconds = SecondsSince(t0);
        ASSERT_EQ(got.size(), length);
        EXPECT_EQ(got.back(), 'Y');
        if (held)
            EXPECT_GE(seconds, 0.24) << length;
        else
            EXPECT_LT(seconds, 0.2) << length;
    }
}

// From the last byte of a reply to the host's next byte, once per reply; bytes
// the host sends unasked start no turnaround.
TEST(BoardServer, NotesTheHostsTurnaround)
{
    for (const bool timed : {true, false}) {
        TBoardOptions options;
        options.TimeTurnaround = timed;
        TBoardServer server(options);
        THostEnd host(server.Start());
        host.Send({0x01});
        EXPECT_EQ(host.Read(2), Text("PP"));
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        host.Send({'Y'});
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        host.Send({0x0E});
        EXPECT_EQ(host.Read(1), Text("Q"));
        const std::vector<double> turns = server.TakeTurnaroundUs();
        if (!timed) {
            EXPECT_TRUE(turns.empty());
            continue;
        }
        ASSERT_EQ(turns.size(), 1u);
        EXPECT_GE(turns[0], 30000.0);
        EXPECT_TRUE(server.TakeTurnaroundUs().empty());
    }
}

TEST(BoardServer, HangsUpAfterTheGivenBytes)
{
    TBoardOptions options;
    options.HangupAfter = 3;
    TBoardServer server(options);
    THostEnd host(server.Start());
    host.Send({0x01});
    EXPECT_EQ(host.Read(2), Text("PP"));
    host.Send({0x01}); // the third byte goes out, the fourth never
    EXPECT_EQ(host.Read(2), Text("P"));
    EXPECT_TRUE(host.Gone);
    EXPECT_TRUE(server.HungUp());
    EXPECT_EQ(server.BytesSent(), 3);
}

TEST(BoardServer, StopEndsEvenWhileRepliesWait)
{
    TBoardOptions options;
    options.Pace = true;
    TBoardServer server(options);
    THostEnd host(server.Start());
    host.Send({0x0C, 0x32, 0xFF, 0xF8}); // eight seconds of paced output
    EXPECT_EQ(host.Read(1), Text("W"));
    server.Stop();
    EXPECT_LT(server.BytesSent(), 8191);
}

TEST(BoardServer, TraceFileReadsLikeTheProtocol)
{
    TBoardOptions options;
    options.TracePath = ScratchPath("board-trace.txt");
    TBoardServer server(options);
    THostEnd host(server.Start());
    host.Send({0x01});
    host.Read(2);
    host.Send({'Y', 0x00, 0x31});
    host.Read(1);
    host.Send({0x08});
    host.Read(4);
    server.Stop();

    std::ifstream in(options.TracePath);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    const char *expected[] = {"host  01", "board \"PP\"", "host  59 00 31", "board \"P\"",
                              "host  08", "board FF FF 3F FF"};
    ASSERT_EQ(lines.size(), std::size(expected));
    for (size_t i = 0; i < lines.size(); ++i) {
        EXPECT_TRUE(std::regex_match(lines[i], std::regex(" +[0-9]+\\.[0-9]{3} .*")))
                << lines[i];
        EXPECT_EQ(lines[i].substr(9), expected[i]);
    }
    std::remove(options.TracePath.c_str());
}

TEST(BoardServer, SimulatedBoardLoadsItsImage)
{
    const std::string path = ScratchPath("sim-image.hex");
    {
        std::ofstream out(path);
        out << HexRecord(0x0000, {0x05, 0x28}) << "\n:00000001FF\n";
    }
    std::string error;
    auto board = TSimulatedBoard::Start(path, error);
    ASSERT_TRUE(board) << error;
    THostEnd host(board->DevicePath());
    host.Send({0x00, 0x31, 0x05});
    EXPECT_EQ(host.Read(17),
              Cat(Text("P"), Words({0x2805, 0x3FFF, 0x3FFF, 0x3FFF, 0x3FFF, 0x3FFF, 0x3FFF,
                                    0x3FFF})));
    EXPECT_EQ(board->Server().ChipSnapshot().Rom[0], 0x2805);

    TBoardOptions bad;
    bad.ImagePath = path + ".missing";
    EXPECT_EQ(StartSimulatedBoard(bad, &error), nullptr);
    EXPECT_NE(error.find(bad.ImagePath), std::string::npos);
    std::remove(path.c_str());
}

TEST(BoardArgs, OptionsMapToSwitches)
{
    struct TCase
    {
        std::vector<std::string> Args;
        bool (*Check)(const TBoardOptions &);
    };
    const TCase cases[] = {
        {{"--pace"}, [](const TBoardOptions &o) { return o.Pace; }},
        {{"--cable"}, [](const TBoardOptions &o) { return o.Pace && o.Cable; }},
        {{"--delay", "0x10"}, [](const TBoardOptions &o) { return o.DelayMs == 16; }},
        {{"--usb-latency", "16"}, [](const TBoardOptions &o) { return o.UsbLatencyMs == 16; }},
        {{"--x-on-command", "0x05"},
         [](const TBoardOptions &o) { return o.Faults.XOnCommand == 5; }},
        {{"--wrong-at", "3", "--wrong-byte", "?"},
         [](const TBoardOptions &o) {
             return o.Faults.WrongAt == 3 && o.Faults.WrongByte == '?';
         }},
        {{"--fail-word", "0x1FFF"},
         [](const TBoardOptions &o) { return o.Faults.FailWordAt == 0x1FFF; }},
        {{"--fail-eeprom", "255"},
         [](const TBoardOptions &o) { return o.Faults.FailEepAt == 255; }},
        {{"--fail-id", "--fail-config"},
         [](const TBoardOptions &o) { return o.Faults.FailId && o.Faults.FailConfig; }},
        {{"--trace", "t.txt", "--image", "a.hex"},
         [](const TBoardOptions &o) { return o.TracePath == "t.txt" && o.ImagePath == "a.hex"; }},
        {{"--cut-f", "2000"}, [](const TBoardOptions &o) { return o.CutFailMs == 2000; }},
        {{"--early-bytes", "0058fF"},
         [](const TBoardOptions &o) { return o.EarlyBytes == std::string("\0\x58\xFF", 3); }},
        {{"--hello-glitch", "0"},
         [](const TBoardOptions &o) { return o.Faults.HelloGlitch == 0; }},
    };
    for (const TCase &c : cases) {
        const TBoardArgs parsed = ParseBoardArgs(c.Args);
        EXPECT_EQ(parsed.Error, "") << c.Args[0];
        EXPECT_TRUE(c.Check(parsed.Options)) << c.Args[0];
    }
    EXPECT_TRUE(ParseBoardArgs({"--help"}).Help);
    for (const std::vector<std::string> &bad :
         {std::vector<std::string>{"--bogus"}, {"--delay"}, {"--delay", "x"},
          {"--fail-word", "8192"}, {"--split-delay", "0"},
          {"--usb-latency", "0"}, {"--usb-latency", "256"}, {"--x-at", "-1"}, {"--trace", ""},
          {"--early-bytes", "5"}, {"--early-bytes", "GG"}, {"--early-bytes", ""},
          {"--hello-glitch", "256"}, {"--cut-f", "0"}})
        EXPECT_NE(ParseBoardArgs(bad).Error, "") << bad[0];
}

} // namespace
