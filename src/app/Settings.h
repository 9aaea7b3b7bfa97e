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

// The chip chosen last, beside varnel.dat: one line with its catalogue name.
// A file named at start without --chip loads for this chip.
inline const char *const ChipSettingsFileName = "varnelchip.dat";

// The chip's catalogue index from the file, or -1 when the file is missing,
// not one line, or names no chip of the catalogue.
int ReadRememberedChip(const std::string &path);

// Writes the chip's name as the file's one line; false when it failed.
bool RememberChip(const std::string &path, int chipIndex);
