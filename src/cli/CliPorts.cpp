#include "cli/CliPorts.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <tuple>

#include <linux/serial.h>

namespace fs = std::filesystem;

namespace {

struct TPortKind
{
    const char *Prefix;
    bool NeedsHardware; // the kernel makes such a node for every possible UART slot
};

// In the order the report lists them.
const TPortKind Kinds[] = {{"ttyUSB", false}, {"ttyACM", false}, {"ttyS", true}};
constexpr int OtherKind = static_cast<int>(std::size(Kinds));

// Index into Kinds for a name such as ttyS12, with its number; OtherKind when
// the name is none of them.
int KindOf(const std::string &name, long &number)
{
    for (int i = 0; i < OtherKind; ++i) {
        const std::string prefix = Kinds[i].Prefix;
        if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0
            || name.find_first_not_of("0123456789", prefix.size()) != std::string::npos)
            continue;
        number = std::strtol(name.c_str() + prefix.size(), nullptr, 10);
        return i;
    }
    number = 0;
    return OtherKind;
}

std::string FirstLine(const fs::path &file)
{
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    while (!line.empty() && (line.back() == ' ' || line.back() == '\r'))
        line.pop_back();
    return line;
}

bool Exists(const fs::path &path)
{
    std::error_code ec;
    return fs::exists(path, ec);
}

// A ttyS node has a UART behind it when a driver holds the device and the
// port type, where the kernel publishes it, is not "unknown" (0). Decided
// from sysfs alone: opening a port to ask its driver raises DTR and RTS,
// which resets many boards.
bool HasHardware(const fs::path &ttyDir)
{
    if (!Exists(ttyDir / "device" / "driver"))
        return false;
    return !Exists(ttyDir / "type")
           || std::atoi(FirstLine(ttyDir / "type").c_str()) != PORT_UNKNOWN;
}

// Folders from the tty's device up to, not including, the device tree's root.
std::vector<fs::path> DeviceChain(const fs::path &ttyDir, const fs::path &sysRoot)
{
    std::error_code ec;
    const fs::path root = fs::canonical(sysRoot, ec);
    fs::path dir = fs::canonical(ttyDir / "device", ec);
    std::vector<fs::path> chain;
    if (ec || root.empty())
        return chain;
    const std::string prefix = (root / "").string();
    for (; dir.string().compare(0, prefix.size(), prefix) == 0 && dir != root;
         dir = dir.parent_path())
        chain.push_back(dir);
    return chain;
}

void Describe(TSerialPortInfo &port, const fs::path &ttyDir, const fs::path &sysRoot)
{
    for (const fs::path &dir : DeviceChain(ttyDir, sysRoot)) {
        std::error_code ec;
        const fs::path driver = fs::read_symlink(dir / "driver", ec);
        // The serial core's own port and controller layer says nothing useful.
        if (port.Driver.empty() && !ec
            && driver.string().find("/serial-base/") == std::string::npos)
            port.Driver = driver.filename().string();
        if (Exists(dir / "idVendor")) {
            port.VendorId = FirstLine(dir / "idVendor");
            port.ProductId = FirstLine(dir / "idProduct");
            port.Vendor = FirstLine(dir / "manufacturer");
            port.Product = FirstLine(dir / "product");
            break;
        }
    }
}

// Stable name -> the node's name it points at, e.g. "ttyUSB0".
std::map<std::string, std::string> StableNames(const fs::path &byId)
{
    std::map<std::string, std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(byId, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code linkEc;
        const fs::path target = fs::read_symlink(it->path(), linkEc);
        if (!linkEc)
            names[it->path().filename().string()] = target.filename().string();
    }
    return names;
}

} // namespace

std::vector<TSerialPortInfo> FindSerialPorts(const TPortRoots &roots)
{
    const fs::path dev = roots.Dev, sys = roots.Sys;
    const fs::path ttyClass = sys / "class" / "tty";
    std::vector<std::string> nodes;
    std::error_code ec;
    for (fs::directory_iterator it(dev, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        long number = 0;
        const int kind = KindOf(name, number);
        if (kind != OtherKind
            && (!Kinds[kind].NeedsHardware || HasHardware(ttyClass / name)))
            nodes.push_back(name);
    }
    // A stable name may point at a node of a name no pattern knows (a vendor's
    // own driver): it is a serial port all the same.
    const std::map<std::string, std::string> stable = StableNames(dev / "serial" / "by-id");
    for (const auto &link : stable) {
        if (std::find(nodes.begin(), nodes.end(), link.second) == nodes.end()
            && Exists(dev / link.second))
            nodes.push_back(link.second);
    }
    const auto order = [](const std::string &name) {
        long number = 0;
        const int kind = KindOf(name, number);
        return std::make_tuple(kind, number, name);
    };
    std::sort(nodes.begin(), nodes.end(),
              [&](const std::string &a, const std::string &b) { return order(a) < order(b); });

    std::vector<TSerialPortInfo> ports;
    for (const std::string &name : nodes) {
        TSerialPortInfo port;
        port.Device = (dev / name).string();
        Describe(port, ttyClass / name, sys);
        for (const auto &link : stable) {
            if (link.second == name)
                port.StableNames.push_back((dev / "serial" / "by-id" / link.first).string());
        }
        ports.push_back(port);
    }
    return ports;
}

std::vector<std::string> SerialPortLines(const std::vector<TSerialPortInfo> &ports)
{
    if (ports.empty())
        return {"No serial ports found."};
    size_t width = 0;
    for (const TSerialPortInfo &port : ports)
        width = std::max(width, port.Device.size());
    const auto named = [](const std::string &id, const std::string &name) {
        return name.empty() ? id : id + " " + name;
    };
    std::vector<std::string> lines;
    for (const TSerialPortInfo &port : ports) {
        std::string line = port.Device + std::string(width + 2 - port.Device.size(), ' ')
                + "driver " + (port.Driver.empty() ? "unknown" : port.Driver);
        if (!port.VendorId.empty())
            line += ", vendor " + named(port.VendorId, port.Vendor);
        if (!port.ProductId.empty())
            line += ", product " + named(port.ProductId, port.Product);
        lines.push_back(line);
        for (const std::string &name : port.StableNames)
            lines.push_back(std::string(width + 2, ' ') + name);
    }
    return lines;
}
