#pragma once

#include <ctime>
#include <string>

// --log: one line of JSON per command, appended. No Qt.

struct TLogEntry
{
    std::time_t Time = 0;
    std::string Operation; // program, read, verify, erase
    std::string Chip;
    std::string Port;      // the device opened
    std::string File;      // the HEX file, "" for none
    std::string Sha256;    // of the HEX file, "" for none
    std::string Id;        // four hex digits sent or read, "" when unknown
    std::string Config;    // four hex digits sent or read, "" when unknown
    std::string Result;    // the result message
    int Exit = 0;
};

// text as a JSON string, quotes included; bytes that are not valid UTF-8
// become U+FFFD so that every line parses.
std::string JsonText(const std::string &text);

// The entry as one JSON object on one line, without the line break.
std::string LogLine(const TLogEntry &entry);

// Opens path for appending, creating it; false with error when it cannot or
// when it is not a regular file.
bool CheckLogFile(const std::string &path, std::string &error);

// Appends line and a line break in one write, so that runs sharing a log
// never interleave within a line.
bool AppendLogLine(const std::string &path, const std::string &line, std::string &error);
