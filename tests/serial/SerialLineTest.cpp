// The serial component on lines as they are outside a test: far ends that
// hang up, devices that are no terminal, drivers asked for low latency.
#include "serial/SerialFixture.h"

#include <linux/serial.h>
#include <sys/ioctl.h>
#include <sys/stat.h>

#include <dirent.h>
#include <time.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <set>

namespace {

double CpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec + t.tv_nsec / 1e9;
}

std::string FileText(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Descriptors of this process that are pseudo-terminal masters.
std::set<int> MasterFds()
{
    std::set<int> fds;
    DIR *dir = opendir("/proc/self/fd");
    while (dirent *e = dir ? readdir(dir) : nullptr) {
        char target[256] = {};
        const std::string link = std::string("/proc/self/fd/") + e->d_name;
        if (readlink(link.c_str(), target, sizeof target - 1) > 0
            && std::string(target) == "/dev/ptmx")
            fds.insert(std::atoi(e->d_name));
    }
    if (dir)
        closedir(dir);
    return fds;
}

TEST_F(SerialTest, HangUpIsRecordedOnceAndThePortGoesQuiet)
{
    int calls = 0;
    std::string received;
    Serial.OnRxData = [&](QObject *) {
        ++calls;
        for (uint8_t ch = 0; Serial.ReadChar(ch) == 1;)
            received += char(ch);
    };
    Open();
    Pty.Send("PP");
    ASSERT_TRUE(QTest::qWaitFor([&] { return received == "PP"; }, 5000));
    const int callsBefore = calls;
    const double cpuBefore = CpuSeconds();
    Pty.HangUp();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !Serial.Active(); }, 3000));
    QTest::qWait(1000);
    // A loop raising empty receive events would burn a whole core.
    EXPECT_LT(CpuSeconds() - cpuBefore, 0.3);
    EXPECT_EQ(calls, callsBefore);
    EXPECT_EQ(Errors, std::vector<int>{EIO});
    EXPECT_EQ(Serial.ErrorCode(), EIO);
    EXPECT_TRUE(Boxes.Boxes.empty());
    EXPECT_TRUE(Serial.LineLost());
}

// The loss told to a handler that shows a box (an event loop of its own) or
// that deletes the component: told once, never from inside itself.
TEST_F(SerialTest, HangUpIsToldOnceToAHandlerThatWaitsOrDeletes)
{
    for (const bool deletes : {false, true}) {
        TPty pty;
        auto *serial = new TSerial;
        Configure(*serial);
        serial->SetDevicePath(pty.Path);
        serial->OnRxData = [serial](QObject *) {
            for (uint8_t ch = 0; serial->ReadChar(ch) == 1;) {
            }
        };
        serial->SetActive(true);
        ASSERT_TRUE(serial->Active());
        int calls = 0, depth = 0, deepest = 0;
        bool deleted = false;
        serial->OnError = [&](QObject *) {
            ++calls;
            deepest = std::max(deepest, ++depth);
            if (deletes && !deleted) {
                deleted = true;  // its close reports errors on the way too
                delete serial;
            } else if (!deletes && depth < 20) {
                QTest::qWait(50);
            }
            --depth;
        };
        pty.HangUp();
        ASSERT_TRUE(QTest::qWaitFor([&] { return calls > 0; }, 3000)) << deletes;
        QTest::qWait(300);
        EXPECT_EQ(deepest, 1 + deletes) << deletes;
        if (!deletes) {
            EXPECT_EQ(calls, 1);
        }
        if (!deleted) {
            EXPECT_FALSE(serial->Active());
            delete serial;
        }
    }
}

TEST_F(SerialTest, WriteToAHungUpLineLosesItOnce)
{
    Open();
    Pty.HangUp();
    // Before the event loop hears of it: the write itself finds the line gone.
    Serial.WriteChar(0x01);
    Serial.WriteString("abc");
    EXPECT_FALSE(Serial.Active());
    ASSERT_FALSE(Errors.empty());
    EXPECT_EQ(Errors.front(), EIO);
    QTest::qWait(300);
    // Later writes meet a closed port, recorded as such.
    for (size_t i = 1; i < Errors.size(); ++i)
        EXPECT_EQ(Errors[i], EBADF);
}

TEST_F(SerialTest, BytesSentBeforeTheHangUpAreDeliveredFirst)
{
    // The master end of a pseudo-terminal keeps what its slave sent before
    // closing and reports the hang-up next to it: open one through ptmx.
    const std::set<int> before = MasterFds();
    Serial.SetDevicePath("/dev/ptmx");
    std::string received;
    DrainOnRxData(&received);
    Open();
    int master = -1;
    for (int fd : MasterFds()) {
        if (!before.count(fd))
            master = fd;
    }
    ASSERT_GE(master, 0);
    int unlock = 0;
    int number = -1;
    ASSERT_EQ(ioctl(master, TIOCSPTLCK, &unlock), 0);
    ASSERT_EQ(ioctl(master, TIOCGPTN, &number), 0);
    const int board = open(("/dev/pts/" + std::to_string(number)).c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(board, 0);
    termios tio{};
    tcgetattr(board, &tio);
    cfmakeraw(&tio);
    tcsetattr(board, TCSANOW, &tio);
    ASSERT_EQ(write(board, "FQ", 2), 2);
    close(board);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !Serial.Active(); }, 3000));
    EXPECT_EQ(received, "FQ");
    EXPECT_EQ(Errors, std::vector<int>{EIO});
}

// Only a line that was open and then went away counts as lost: an operation
// on a port that never opened waits out the normal watchdog.
TEST_F(SerialTest, OnlyALineThatWasOpenIsLost)
{
    const std::string path = Pty.Path;
    Serial.SetDevicePath("/nonexistent/varnel-tty");
    Serial.SetActive(true);
    ASSERT_FALSE(Serial.Active());
    EXPECT_FALSE(Serial.LineLost()) << "never opened";
    Serial.SetDevicePath(path);
    Open();
    EXPECT_FALSE(Serial.LineLost()) << "open";
    Serial.SetActive(false);
    EXPECT_FALSE(Serial.LineLost()) << "closed on purpose";
    Open();
    Pty.HangUp();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !Serial.Active(); }, 3000));
    EXPECT_TRUE(Serial.LineLost()) << "hung up";
    // Reconnect tries that fail keep it lost; one that succeeds ends it.
    Serial.SetDevicePath("/nonexistent/varnel-tty");
    Serial.SetActive(true);
    EXPECT_TRUE(Serial.LineLost()) << "reopen failed";
    TPty second;
    Serial.SetDevicePath(second.Path);
    Serial.SetActive(true);
    ASSERT_TRUE(Serial.Active());
    EXPECT_FALSE(Serial.LineLost()) << "reopened";
}

TEST_F(SerialTest, OnlyTerminalsAreOpened)
{
    char folder[] = "/tmp/varnel-notty-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const std::string dir = folder;
    const std::string file = dir + "/firmware.hex";
    const std::string fifo = dir + "/fifo";
    std::ofstream(file) << ":00000001FF\n";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const struct
    {
        std::string Path;
        int Code;
    } cases[] = {{file, ENOTTY}, {fifo, ENOTTY}, {"/dev/null", ENOTTY}, {dir, EISDIR}};
    for (const auto &c : cases) {
        Errors.clear();
        Serial.SetDevicePath(c.Path);
        Serial.SetActive(true);
        EXPECT_FALSE(Serial.Active()) << c.Path;
        EXPECT_EQ(Serial.ErrorCode(), c.Code) << c.Path;
        EXPECT_EQ(Serial.ErrorText(), c.Code == ENOTTY ? "not a serial device"
                                                       : std::strerror(c.Code))
            << c.Path;
        // The window sends Hello after a failed open too.
        Serial.WriteChar(0x01);
    }
    EXPECT_EQ(FileText(file), ":00000001FF\n");
    const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    char byte = 0;
    EXPECT_LE(read(reader, &byte, 1), 0);  // nothing was written into the FIFO
    close(reader);
    unlink(fifo.c_str());
    unlink(file.c_str());
    rmdir(folder);

    // A pseudo-terminal is a terminal, although it refuses the modem-line
    // calls: their failure is told in the system's words.
    TPty pty;
    Serial.SetDevicePath(pty.Path);
    Serial.SetActive(true);
    ASSERT_TRUE(Serial.Active());
    Serial.SetSignal(1, true);
    ASSERT_EQ(Serial.ErrorCode(), ENOTTY);
    EXPECT_NE(Serial.ErrorText(), "not a serial device");
    Serial.SetActive(false);
}

// A driver that keeps its serial flags, as a USB adapter's does.
class TAdapterSerial : public TSerial
{
public:
    int Flags = 0x0040;  // something unrelated that must survive
    std::vector<std::string> Calls;

protected:
    int SerialInfo(int, bool set, serial_struct &info) override
    {
        Calls.push_back(set ? "set" : "get");
        if (set)
            Flags = info.flags;
        else
            info.flags = Flags;
        return 0;
    }
};

TEST_F(SerialTest, LowLatencyIsAskedAndTheDriversFlagsRestored)
{
    TAdapterSerial adapter;
    Configure(adapter);
    adapter.SetActive(true);
    ASSERT_TRUE(adapter.Active());
    EXPECT_TRUE(adapter.LowLatencyOn());
    EXPECT_EQ(adapter.Flags, 0x0040 | ASYNC_LOW_LATENCY);
    adapter.SetActive(false);
    EXPECT_EQ(adapter.Flags, 0x0040);
    EXPECT_EQ(adapter.Calls, (std::vector<std::string>{"get", "set", "get", "set"}));
    // A driver already in low latency is left as it is, also on close.
    adapter.Flags = ASYNC_LOW_LATENCY;
    adapter.Calls.clear();
    adapter.SetActive(true);
    adapter.SetActive(false);
    EXPECT_EQ(adapter.Flags, ASYNC_LOW_LATENCY);
    EXPECT_EQ(adapter.Calls, std::vector<std::string>{"get"});
}

TEST_F(SerialTest, PseudoTerminalRefusesLowLatencySilently)
{
    // What an open records when the driver grants low latency...
    TAdapterSerial adapter;
    Configure(adapter);
    std::vector<int> granted;
    adapter.OnError = [&](QObject *) { granted.push_back(adapter.ErrorCode()); };
    adapter.SetActive(true);
    const std::vector<int> opened = granted;
    adapter.SetActive(false);
    // ...and when the pseudo-terminal refuses it: nothing more.
    Serial.SetActive(true);
    ASSERT_TRUE(Serial.Active());
    EXPECT_NE(Serial.LowLatencyRefusal(), 0);
    EXPECT_FALSE(Serial.LowLatencyOn());
    EXPECT_EQ(Errors, opened);
    EXPECT_TRUE(Boxes.Boxes.empty());
    std::string received;
    DrainOnRxData(&received);
    Pty.Send("PP");
    EXPECT_TRUE(QTest::qWaitFor([&] { return received == "PP"; }, 5000));
    Serial.WriteChar('Y');
    EXPECT_EQ(Pty.Receive(1, 2000), "Y");
}

}  // namespace
