#pragma once

#include <string>
#include <vector>

class TSerial;

// What to tell the user about a port that cannot be used, in words that say
// what to do. Plain C++ over the system's files; no Qt.

// "There appears to be a problem accessing the COM Port" and, on the line
// after it, why, for the open that failed with errno code (reason: the
// system's text for it, or the serial component's own words).
std::string PortProblemText(const std::string &device, int code, const std::string &reason);
std::string PortProblemText(const TSerial &serial);

// Permission denied: the group that owns device and would let us in, when
// this process is not in it; "" when joining a group would not help.
std::string MissingDeviceGroup(const std::string &device);

// "process 1234 (minicom)" for each other process that holds a lock on
// device, from procRoot's list of file locks.
std::vector<std::string> DeviceLockHolders(const std::string &device,
                                           const std::string &procRoot = "/proc");

// "process 1234 (minicom)" for each other process that holds device open, as
// far as procRoot lets us look; processes of other users are often hidden.
std::vector<std::string> DeviceHolders(const std::string &device,
                                       const std::string &procRoot = "/proc");

// The tty device sits on the USB bus (a USB serial adapter), as sysRoot's
// device tree says; a pseudo-terminal or a built-in port does not.
bool UsbSerialDevice(const std::string &device, const std::string &sysRoot = "/sys");

// One warning when a USB adapter refused the low-latency mode asked at open
// (refusal: its errno): transfers will be slow, and how to fix it. "" for a
// grant, and for a device that is no USB adapter.
std::string LowLatencyWarning(const std::string &device, int refusal,
                              const std::string &sysRoot = "/sys");
std::string LowLatencyWarning(const TSerial &serial);
