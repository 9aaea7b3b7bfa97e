// The serial-port list against a device folder and a kernel device tree built
// in a temporary folder, shaped as Linux lays them out.
#include "cli/CliPorts.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

#include <sys/inotify.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

class CliPortsTest : public testing::Test
{
protected:
    void SetUp() override
    {
        std::random_device rd;
        Root = fs::temp_directory_path() / ("varnel-ports-" + std::to_string(rd()));
        fs::create_directories(Root);
        Roots.Dev = (Root / "dev").string();
        Roots.Sys = (Root / "sys").string();
        fs::create_directories(Roots.Dev);
        fs::create_directories(Sys("class/tty"));
    }
    void TearDown() override
    {
        std::error_code ec;
        fs::remove_all(Root, ec);
    }

    fs::path Sys(const std::string &rel) const { return fs::path(Roots.Sys) / rel; }
    fs::path Dev(const std::string &rel) const { return fs::path(Roots.Dev) / rel; }

    static void Write(const fs::path &file, const std::string &text)
    {
        fs::create_directories(file.parent_path());
        std::ofstream(file) << text << "\n";
    }
    void Node(const std::string &name) const { Write(Dev(name), ""); }

    // A device folder under sys/devices bound to a driver of the given bus.
    void Device(const std::string &path, const std::string &bus, const std::string &driver) const
    {
        const fs::path dir = Sys("devices/" + path);
        fs::create_directories(dir);
        const fs::path target = Sys("bus/" + bus + "/drivers/" + driver);
        fs::create_directories(target);
        fs::create_symlink(fs::relative(target, dir), dir / "driver");
    }
    // sys/class/tty/NAME with its device link and, when given, its port type.
    void Tty(const std::string &name, const std::string &devicePath,
             const std::string &type = "") const
    {
        const fs::path dir = Sys("class/tty/" + name);
        fs::create_directories(dir);
        if (!devicePath.empty())
            fs::create_symlink(fs::relative(Sys("devices/" + devicePath), dir), dir / "device");
        if (!type.empty())
            Write(dir / "type", type);
    }
    void UsbIdentity(const std::string &path, const std::string &vendor,
                     const std::string &product, const std::string &maker,
                     const std::string &name) const
    {
        const fs::path dir = Sys("devices/" + path);
        Write(dir / "idVendor", vendor);
        Write(dir / "idProduct", product);
        if (!maker.empty())
            Write(dir / "manufacturer", maker);
        if (!name.empty())
            Write(dir / "product", name);
    }
    void StableName(const std::string &name, const std::string &target) const
    {
        fs::create_directories(Dev("serial/by-id"));
        fs::create_symlink("../../" + target, Dev("serial/by-id/" + name));
    }

    std::vector<std::string> Lines() const { return SerialPortLines(FindSerialPorts(Roots)); }
    std::string Prefixed(const std::string &text) const
    {
        std::string out;
        for (size_t i = 0; i < text.size(); ++i) {
            if (text.compare(i, 5, "/dev/") == 0) {
                out += Roots.Dev + "/";
                i += 4;
            } else {
                out += text[i];
            }
        }
        return out;
    }

    fs::path Root;
    TPortRoots Roots;
};

TEST_F(CliPortsTest, NoPortsIsOneLine)
{
    for (const char *name : {"tty0", "console", "ttyS0", "ttyS1"})
        Node(name);
    Tty("ttyS0", "");                   // no device behind it at all
    Device("platform/serial8250", "platform", "serial8250");
    Tty("ttyS1", "platform/serial8250", "0"); // a driver, but no UART in the slot
    EXPECT_EQ(Lines(), std::vector<std::string>{"No serial ports found."});

    TPortRoots nowhere{(Root / "no-dev").string(), (Root / "no-sys").string()};
    EXPECT_EQ(SerialPortLines(FindSerialPorts(nowhere)),
              std::vector<std::string>{"No serial ports found."});
}

TEST_F(CliPortsTest, ListsAdaptersUartsAndStableNames)
{
    for (const char *name : {"ttyS0", "ttyS1", "ttyS2", "ttyS10", "ttyUSB0", "ttyUSB1",
                             "ttyACM0", "ttyEXAMPLE10", "tty1", "ttySAC", "ttyUSB"})
        Node(name);
    // A UART behind the serial core's port layer: the driver is the one above it.
    Device("pnp0/00:00", "pnp", "serial");
    Device("pnp0/00:00/00:00:0", "serial-base", "ctrl");
    Device("pnp0/00:00/00:00:0/00:00:0.0", "serial-base", "port");
    Tty("ttyS0", "pnp0/00:00/00:00:0/00:00:0.0", "4");
    Device("platform/serial8250", "platform", "serial8250");
    Tty("ttyS1", "platform/serial8250", "0");
    Tty("ttyS2", "platform/serial8250", "4");
    Tty("ttyS10", "platform/serial8250", "4");
    Device("pci/usb1/1-1/1-1:1.0/ttyUSB0", "usb-serial", "usbserial_generic");
    Device("pci/usb1/1-1/1-1:1.0", "usb", "usbserial_generic");
    Device("pci/usb1/1-1", "usb", "usb");
    UsbIdentity("pci/usb1/1-1", "1209", "0001", "Example", "Serial");
    Tty("ttyUSB0", "pci/usb1/1-1/1-1:1.0/ttyUSB0");
    Device("pci/usb1/1-2/1-2:1.0", "usb", "cdc_acm");
    UsbIdentity("pci/usb1/1-2", "abcd", "0002", "", "");
    Tty("ttyACM0", "pci/usb1/1-2/1-2:1.0");
    Device("pci/usb1/1-3/1-3:1.0", "usb", "usb_example");
    UsbIdentity("pci/usb1/1-3", "dcba", "0003", "", "USB Serial");
    Tty("ttyEXAMPLE10", "pci/usb1/1-3/1-3:1.0");
    StableName("usb-Example_USB_Serial_A50285BI-if00-port0", "ttyUSB0");
    StableName("usb-dcba_USB_Serial-if00-port0", "ttyEXAMPLE10");
    StableName("usb-gone-if00", "ttyUSB7"); // the adapter was pulled out

    const std::vector<std::string> expected = {
        "/dev/ttyUSB0       driver usbserial_generic, vendor 1209 Example, product 0001 Serial",
        "                   /dev/serial/by-id/usb-Example_USB_Serial_A50285BI-if00-port0",
        "/dev/ttyUSB1       driver unknown",
        "/dev/ttyACM0       driver cdc_acm, vendor abcd, product 0002",
        "/dev/ttyS0         driver serial",
        "/dev/ttyS2         driver serial8250",
        "/dev/ttyS10        driver serial8250",
        "/dev/ttyEXAMPLE10  driver usb_example, vendor dcba, product 0003 USB Serial",
        "                   /dev/serial/by-id/usb-dcba_USB_Serial-if00-port0",
    };
    const std::vector<std::string> lines = Lines();
    ASSERT_EQ(lines.size(), expected.size());
    // The temporary root lengthens every device name, and so the indent of the
    // stable names.
    const size_t shift = Roots.Dev.size() - 4;
    for (size_t i = 0; i < lines.size(); ++i) {
        std::string want = Prefixed(expected[i]);
        if (want[0] == ' ')
            want.insert(0, shift, ' ');
        EXPECT_EQ(lines[i], want);
    }
}

// Opening a UART's node raises DTR and RTS, which resets many boards: the
// list comes from sysfs alone, also where the kernel says less than usual.
TEST_F(CliPortsTest, ListingOpensNoDevice)
{
    for (const char *name : {"ttyS0", "ttyS1", "ttyS2", "ttyUSB0"})
        Node(name);
    Device("platform/serial8250", "platform", "serial8250");
    Tty("ttyS0", "platform/serial8250");      // a driver, the port type not published
    Tty("ttyS1", "platform/serial8250", "0"); // no UART in the slot
    // ttyS2: nothing in sysfs at all.
    const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    ASSERT_GE(inotify_add_watch(watch, Roots.Dev.c_str(), IN_OPEN), 0);

    EXPECT_EQ(Lines(), (std::vector<std::string>{Roots.Dev + "/ttyUSB0  driver unknown",
                                                 Roots.Dev + "/ttyS0    driver serial8250"}));
    std::vector<std::string> opened;
    alignas(inotify_event) char buf[4096];
    for (ssize_t n; (n = read(watch, buf, sizeof buf)) > 0;) {
        for (ssize_t at = 0; at < n;) {
            const auto *e = reinterpret_cast<const inotify_event *>(buf + at);
            if (e->len > 0 && !(e->mask & IN_ISDIR))
                opened.push_back(e->name);
            at += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
        }
    }
    close(watch);
    EXPECT_TRUE(opened.empty()) << opened.front();
}

} // namespace
