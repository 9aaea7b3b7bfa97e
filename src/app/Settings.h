#pragma once

#include <string>
#include <vector>

// varnel.dat: one line holding the serial port number 1..9.
inline const char *const SettingsFileName = "varnel.dat";

// The port named by the settings lines, or -1 when they are unusable:
// not exactly one line, not a decimal integer, or outside 1..9.
int PortFromSettingsLines(const std::vector<std::string> &lines);

// Reads the settings file at path into lines (which the window keeps in
// HexLines); when it is missing or unusable writes it anew as "1" CR LF.
// Returns the port to open.
int ReadPortSetting(const std::string &path, std::vector<std::string> &lines);
