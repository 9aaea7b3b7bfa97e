// What the user is told about a port that cannot be used: the group to join,
// the process that holds it, and the slow USB adapter.
#include "SerialFixture.h"

#include "link/BoardTexts.h"
#include "link/PortProblem.h"
#include "support/WorkFolder.h"

#include <cerrno>
#include <csignal>
#include <filesystem>
#include <fstream>

#include <grp.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>

extern char **environ;

namespace fs = std::filesystem;

namespace {

// A program that holds path open, with an exclusive lock as a port's user
// takes it, until the test ends. Nothing else of ours leaks into it.
class THolder
{
public:
    explicit THolder(const std::string &path)
    {
        const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd < 0 || ::flock(fd, LOCK_EX | LOCK_NB) != 0)
            return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fd, 3);
        posix_spawn_file_actions_addclosefrom_np(&actions, 4);
        char *argv[] = {const_cast<char *>("sleep"), const_cast<char *>("60"), nullptr};
        if (posix_spawnp(&Pid, "sleep", &actions, nullptr, argv, environ) != 0)
            Pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(fd); // the lock lives on in the child's copy
    }
    ~THolder()
    {
        if (Pid > 0) {
            ::kill(Pid, SIGKILL);
            ::waitpid(Pid, nullptr, 0);
        }
    }
    pid_t Pid = -1;
};

void WriteText(const fs::path &file, const std::string &text)
{
    fs::create_directories(file.parent_path());
    std::ofstream(file) << text;
}

// A group that this process is not in, by name.
std::string ForeignGroup()
{
    for (const char *name : {"dialout", "uucp", "tty", "nogroup"}) {
        const group *g = ::getgrnam(name);
        if (g && g->gr_gid != ::getegid())
            return name;
    }
    return std::string();
}

TEST(PortProblem, PermissionDeniedNamesTheGroupThatOwnsTheDevice)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to give the device node a group";
    TPty pty;
    ASSERT_FALSE(pty.Path.empty());
    const std::string foreign = ForeignGroup();
    ASSERT_FALSE(foreign.empty());
    const struct
    {
        std::string Group;
        mode_t Mode;
        std::string Named; // "": joining a group would not help
    } cases[] = {
        {foreign, 0660, foreign},
        {foreign, 0600, ""},  // the group may not read and write it either
        {"root", 0660, ""},   // a group we are in
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Group + " " + std::to_string(c.Mode));
        ASSERT_EQ(::chown(pty.Path.c_str(), 0, ::getgrnam(c.Group.c_str())->gr_gid), 0);
        ASSERT_EQ(::chmod(pty.Path.c_str(), c.Mode), 0);
        EXPECT_EQ(MissingDeviceGroup(pty.Path), c.Named);
        const std::string text = PortProblemText(pty.Path, EACCES, "Permission denied");
        EXPECT_EQ(text, std::string(MsgPortProblem) + "\n"
                                + (c.Named.empty()
                                           ? pty.Path + ": Permission denied"
                                           : "Your user is not in the group '" + c.Named
                                                     + "' that owns " + pty.Path
                                                     + ": sudo usermod -aG " + c.Named
                                                     + " $USER, then log in again"));
    }
}

TEST(PortProblem, HoldersAreFoundWhereTheSystemShowsThem)
{
    TPty pty;
    ASSERT_FALSE(pty.Path.empty());
    TWorkFolder folder("varnel-proc");
    ASSERT_TRUE(folder.Ok());
    const fs::path proc = folder.Path;
    WriteText(proc / "4242/comm", "minicom\n");
    fs::create_directories(proc / "4242/fd");
    fs::create_symlink("/dev/null", proc / "4242/fd/0");
    fs::create_symlink(pty.Path, proc / "4242/fd/5");
    WriteText(proc / "17/comm", "hidden\n"); // another user's: no fd folder to read
    WriteText(proc / "99/comm", "other\n");
    fs::create_directories(proc / "99/fd");
    fs::create_symlink("/dev/null", proc / "99/fd/1");
    // Our own descriptors on it do not make it busy.
    const std::string self = std::to_string(::getpid());
    fs::create_directories(proc / self / "fd");
    fs::create_symlink(pty.Path, proc / self / "fd/7");
    fs::create_directories(proc / "net");
    EXPECT_EQ(DeviceHolders(pty.Path, proc.string()),
              std::vector<std::string>{"process 4242 (minicom)"});
    EXPECT_TRUE(DeviceHolders(pty.Path, (proc / "missing").string()).empty());

    // Of those, the one with a lock on it is the one in the way.
    struct stat st{};
    ASSERT_EQ(::stat(pty.Path.c_str(), &st), 0);
    char file[64];
    std::snprintf(file, sizeof file, "%02x:%02x:%llu", major(st.st_dev), minor(st.st_dev),
                  static_cast<unsigned long long>(st.st_ino));
    WriteText(proc / "locks", "1: POSIX  ADVISORY  WRITE 99 00:1b:77 0 EOF\n"
                              "2: FLOCK  ADVISORY  WRITE 4242 " + std::string(file)
                                      + " 0 EOF\n"
                                        "2: -> FLOCK  ADVISORY  WRITE 99 " + file
                                      + " 0 EOF\n");
    EXPECT_EQ(DeviceLockHolders(pty.Path, proc.string()),
              (std::vector<std::string>{"process 4242 (minicom)", "process 99 (other)"}));
    EXPECT_TRUE(DeviceLockHolders(pty.Path, (proc / "missing").string()).empty());
    EXPECT_TRUE(DeviceHolders(proc / "4242/comm", proc.string()).empty()); // no device
}

// A real process holds the port: the serial component's open is refused and
// the message names that process; once it is gone nobody is named.
TEST_F(SerialTest, BusyPortNamesTheProgramThatHoldsIt)
{
    {
        THolder holder(Pty.Path);
        ASSERT_GT(holder.Pid, 0);
        Serial.SetActive(true);
        EXPECT_FALSE(Serial.Active());
        EXPECT_EQ(Serial.ErrorCode(), EBUSY);
        EXPECT_EQ(PortProblemText(Serial), std::string(MsgPortProblem) + "\n" + Pty.Path
                                                   + ": in use by process "
                                                   + std::to_string(holder.Pid) + " (sleep)");
    }
    EXPECT_EQ(PortProblemText(Pty.Path, EBUSY, "Device or resource busy"),
              std::string(MsgPortProblem) + "\n" + Pty.Path + ": in use by another program");
    Open();
}

TEST(PortProblem, OnlyAUsbAdapterIsWarnedOfRefusedLowLatency)
{
    TWorkFolder folder("varnel-sys");
    ASSERT_TRUE(folder.Ok());
    const fs::path sys = folder.Path;
    const fs::path usb = sys / "devices/pci0000:00/0000:00:14.0/usb1/1-2";
    const auto tty = [&](const std::string &name, const fs::path &device, const char *timer) {
        fs::create_directories(device);
        if (timer)
            WriteText(device / "latency_timer", timer);
        fs::create_directories(sys / "class/tty" / name);
        fs::create_directory_symlink(device, sys / "class/tty" / name / "device");
    };
    tty("ttyUSB0", usb / "1-2:1.0/ttyUSB0", "16\n");
    tty("ttyUSB1", usb / "1-3:1.0/ttyUSB1", "1\n"); // the udev rule has set it
    tty("ttyACM0", usb / "1-4:1.0", nullptr);
    tty("ttyS0", sys / "devices/platform/serial8250", nullptr);
    const struct
    {
        const char *Device;
        int Refusal;
        bool Warned;
    } cases[] = {
        {"/dev/ttyUSB0", EPERM, true},  {"/dev/ttyUSB0", 0, false},
        {"/dev/ttyUSB1", EPERM, false}, {"/dev/ttyACM0", EINVAL, true},
        {"/dev/ttyS0", EPERM, false},   {"/dev/pts/3", ENOTTY, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.Device) + " " + std::to_string(c.Refusal));
        const std::string warning = LowLatencyWarning(c.Device, c.Refusal, sys.string());
        EXPECT_EQ(!warning.empty(), c.Warned) << warning;
        EXPECT_EQ(UsbSerialDevice(c.Device, sys.string()),
                  std::string(c.Device).find("USB") != std::string::npos
                          || std::string(c.Device).find("ACM") != std::string::npos);
    }
    EXPECT_EQ(LowLatencyWarning("/dev/ttyUSB0", EPERM, sys.string()),
              "/dev/ttyUSB0 refused low-latency mode (Operation not permitted): transfers will "
              "be slow. Install the udev rule 60-varnelpro-latency.rules and plug the adapter "
              "in again, or run: echo 1 | sudo tee "
              "/sys/bus/usb-serial/devices/ttyUSB0/latency_timer");
}

// The pseudo-terminal refuses low latency too, but is no USB adapter.
TEST_F(SerialTest, PseudoTerminalGetsNoLatencyWarning)
{
    Open();
    EXPECT_NE(Serial.LowLatencyRefusal(), 0);
    EXPECT_EQ(LowLatencyWarning(Serial), "");
}

// Power-on noise of the board, or the rest of an earlier session, waits in
// the driver before the port opens: none of it is read.
TEST_F(SerialTest, BytesWaitingBeforeTheOpenAreDiscarded)
{
    termios raw = SlaveSettings();
    cfmakeraw(&raw);
    ASSERT_EQ(tcsetattr(Pty.Slave, TCSANOW, &raw), 0); // as the line was left last time
    Pty.Send(std::string("\0X\xFFQ", 4));
    ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                int waiting = 0;
                return ::ioctl(Pty.Slave, FIONREAD, &waiting) == 0 && waiting == 4;
            },
            2000));
    std::string received;
    DrainOnRxData(&received);
    Open();
    Pty.Send("PP");
    EXPECT_TRUE(QTest::qWaitFor([&] { return received.size() >= 2; }, 5000));
    QTest::qWait(50);
    EXPECT_EQ(received, "PP");
}

} // namespace
