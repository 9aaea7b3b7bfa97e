#pragma once

#include <string>
#include <vector>

// Where the device nodes and the kernel's device tree live; a test points
// them at a folder of its own.
struct TPortRoots
{
    std::string Dev = "/dev";
    std::string Sys = "/sys";
};

struct TSerialPortInfo
{
    std::string Device; // the node to open, e.g. /dev/ttyUSB0
    std::string Driver; // empty when the system does not say
    std::string VendorId, Vendor, ProductId, Product; // USB devices only
    std::vector<std::string> StableNames; // /dev/serial/by-id/ names of this node
};

// The serial devices present: USB and ACM adapters, the ttyS ports that a
// driver backs with real hardware, and whatever the stable names point at.
std::vector<TSerialPortInfo> FindSerialPorts(const TPortRoots &roots = {});

// The report of varnelpro-cli ports: one line per port and one per stable
// name, or a single line when there is none.
std::vector<std::string> SerialPortLines(const std::vector<TSerialPortInfo> &ports);
