#include "link/PortProblem.h"

#include "link/BoardTexts.h"
#include "link/Serial2.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include <cstdio>

#include <grp.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr size_t HoldersNamed = 3;  // a longer list helps nobody
// Shipped in res/udev and installed with the program.
constexpr char LatencyRuleName[] = "60-varnelpro-latency.rules";

bool DeviceNumber(const std::string &path, dev_t &number)
{
    struct stat st{};
    if (::stat(path.c_str(), &st) != 0 || !S_ISCHR(st.st_mode))
        return false;
    number = st.st_rdev;
    return true;
}

std::string FirstLine(const fs::path &file)
{
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    return line;
}

// "process 1234 (minicom)"
std::string ProcessText(const std::string &procRoot, const std::string &pid)
{
    return "process " + pid + " (" + FirstLine(fs::path(procRoot) / pid / "comm") + ")";
}

std::string GroupName(gid_t gid)
{
    std::vector<char> buffer(4096);
    group entry{};
    group *found = nullptr;
    if (::getgrgid_r(gid, &entry, buffer.data(), buffer.size(), &found) == 0 && found)
        return found->gr_name;
    return std::to_string(gid);
}

bool InGroup(gid_t gid)
{
    if (::getegid() == gid)
        return true;
    const int count = ::getgroups(0, nullptr);
    if (count <= 0)
        return false;
    std::vector<gid_t> groups(static_cast<size_t>(count));
    const int got = ::getgroups(count, groups.data());
    return got > 0 && std::find(groups.begin(), groups.begin() + got, gid) != groups.begin() + got;
}

std::string BusyDetail(const std::string &device)
{
    // The lock's owner is the one in the way. The list of locks names the
    // process that took it, which may have handed the port on and ended;
    // without a live one (or a lock: a terminal program's exclusive mode)
    // anyone who has the port open may be.
    const std::vector<std::string> open = DeviceHolders(device);
    std::vector<std::string> holders;
    for (const std::string &locker : DeviceLockHolders(device)) {
        if (std::find(open.begin(), open.end(), locker) != open.end())
            holders.push_back(locker);
    }
    if (holders.empty())
        holders = open;
    if (holders.empty())
        return device + ": in use by another program";
    std::string text = device + ": in use by ";
    for (size_t i = 0; i < holders.size() && i < HoldersNamed; ++i)
        text += (i ? ", " : "") + holders[i];
    return text;
}

// The name the kernel gives the tty behind device: ttyUSB0 for a by-id link.
std::string TtyName(const std::string &device)
{
    std::error_code ec;
    const fs::path real = fs::canonical(device, ec);
    return (ec ? fs::path(device) : real).filename().string();
}

} // namespace

std::string MissingDeviceGroup(const std::string &device)
{
    struct stat st{};
    if (::stat(device.c_str(), &st) != 0)
        return std::string();
    // Only a group that may read and write the device is worth joining.
    if ((st.st_mode & (S_IRGRP | S_IWGRP)) != (S_IRGRP | S_IWGRP) || InGroup(st.st_gid))
        return std::string();
    return GroupName(st.st_gid);
}

std::vector<std::string> DeviceLockHolders(const std::string &device,
                                           const std::string &procRoot)
{
    std::vector<std::string> holders;
    struct stat st{};
    if (::stat(device.c_str(), &st) != 0)
        return holders;
    // "1: FLOCK  ADVISORY  WRITE 1234 00:1a:3 0 EOF": the file as
    // major:minor:inode of the file system that holds the node.
    char wanted[64];
    std::snprintf(wanted, sizeof wanted, "%02x:%02x:%llu", major(st.st_dev), minor(st.st_dev),
                  static_cast<unsigned long long>(st.st_ino));
    const std::string self = std::to_string(::getpid());
    std::ifstream locks(fs::path(procRoot) / "locks");
    std::string number, kind, mode, access, pid, file;
    std::string rest;
    while (locks >> number >> kind) {
        if (kind == "->") // a waiter: "2: -> FLOCK ..."
            locks >> kind;
        locks >> mode >> access >> pid >> file;
        std::getline(locks, rest);
        if (file != wanted || pid == self)
            continue;
        const std::string holder = ProcessText(procRoot, pid);
        if (std::find(holders.begin(), holders.end(), holder) == holders.end())
            holders.push_back(holder);
    }
    return holders;
}

std::vector<std::string> DeviceHolders(const std::string &device, const std::string &procRoot)
{
    std::vector<std::string> holders;
    dev_t wanted = 0;
    if (!DeviceNumber(device, wanted))
        return holders;
    const std::string self = std::to_string(::getpid());
    std::error_code ec;
    for (fs::directory_iterator p(procRoot, ec), end; !ec && p != end; p.increment(ec)) {
        const std::string pid = p->path().filename().string();
        if (pid.find_first_not_of("0123456789") != std::string::npos || pid == self)
            continue;
        // Another user's process hides its descriptors: it is skipped.
        std::error_code fdError;
        for (fs::directory_iterator fd(p->path() / "fd", fdError), fdEnd;
             !fdError && fd != fdEnd; fd.increment(fdError)) {
            dev_t number = 0;
            if (DeviceNumber(fd->path().string(), number) && number == wanted) {
                holders.push_back(ProcessText(procRoot, pid));
                break;
            }
        }
    }
    std::sort(holders.begin(), holders.end());
    return holders;
}

std::string PortProblemText(const std::string &device, int code, const std::string &reason)
{
    std::string detail = device + ": " + reason;
    if (code == EACCES) {
        const std::string group = MissingDeviceGroup(device);
        if (!group.empty())
            detail = "Your user is not in the group '" + group + "' that owns " + device
                     + ": sudo usermod -aG " + group + " $USER, then log in again";
    } else if (code == EBUSY) {
        detail = BusyDetail(device);
    }
    return std::string(MsgPortProblem) + "\n" + detail;
}

std::string PortProblemText(const TSerial &serial)
{
    return PortProblemText(serial.DeviceName(), serial.ErrorCode(), serial.ErrorText());
}

bool UsbSerialDevice(const std::string &device, const std::string &sysRoot)
{
    std::error_code ec;
    const fs::path node = fs::canonical(fs::path(sysRoot) / "class/tty" / TtyName(device)
                                                / "device",
                                        ec);
    if (ec)
        return false;
    // The adapter's interface hangs below a USB bus: .../usb1/1-1/1-1:1.0/...
    return std::any_of(node.begin(), node.end(), [](const fs::path &part) {
        return part.string().compare(0, 3, "usb") == 0;
    });
}

std::string LowLatencyWarning(const std::string &device, int refusal, const std::string &sysRoot)
{
    if (refusal == 0 || !UsbSerialDevice(device, sysRoot))
        return std::string();
    // The udev rule may have set the adapter's timer already.
    const std::string tty = TtyName(device);
    const std::string timer =
            FirstLine(fs::path(sysRoot) / "class/tty" / tty / "device/latency_timer");
    if (!timer.empty() && std::atoi(timer.c_str()) <= 1)
        return std::string();
    return device + " refused low-latency mode (" + std::strerror(refusal)
           + "): transfers will be slow. Install the udev rule " + LatencyRuleName
           + " and plug the adapter in again, or run: echo 1 | sudo tee "
             "/sys/bus/usb-serial/devices/"
           + tty + "/latency_timer";
}

std::string LowLatencyWarning(const TSerial &serial)
{
    return LowLatencyWarning(serial.DeviceName(), serial.LowLatencyRefusal());
}
