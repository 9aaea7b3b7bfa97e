#pragma once

#include "hexfile/HexWriter.h"

#include <cstdint>
#include <string>
#include <vector>

// Exit status of varnelpro-cli; scripts test these, so they never change.
enum TExitCode {
    ecSuccess = 0,
    ecBadInput = 1,       // usage, unknown chip, bad option value
    ecFileRefused = 2,    // the HEX file was refused, or a file could not be written
    ecBoardFailure = 3,   // serial data error, a failed write, a declined question
    ecVerifyMismatch = 4, // the chip differs from the file
    ecNoResponse = 5      // the board did not answer
};

enum class TCliCommand { None, Chips, HexInfo, Read, Program, Verify, Erase, Ports };

struct TCliArgs
{
    TCliCommand Command = TCliCommand::None;
    std::string File; // the HEX file of hexinfo, program and verify
    std::string Chip;

    // The line: at most one of them; none means port 1.
    int Port = 0;
    std::string Device; // the first of Devices
    // Every --device and --devices in order; two or more run the command on
    // all of those boards at once.
    std::vector<std::string> Devices;
    bool Simulate = false;
    std::string BoardImage;
    std::string BoardSave;
    std::vector<std::string> BoardFaults; // "name[=value]" of varnel-board's options

    bool Icsp = false;
    std::string Id;     // upper-case hex digits, 1 to 4; empty: the file's ID
    std::string OscCal; // upper-case hex digits, 1 or 2
    std::vector<std::string> Fuses;
    bool Yes = false;
    std::string Output;
    THexFormat OutputFormat = THexFormat::Inhx8m;
    bool HasOutputFormat = false;
    bool Dump = false;
    bool Quiet = false;

    // Production runs.
    bool VerifyAfter = false; // program --verify
    bool All = false;         // verify --all
    bool KeepOscCal = false;
    bool HasSerial = false;
    uint32_t SerialStart = 0;
    uint32_t SerialStep = 1;
    std::string SerialFile;
    std::string LogFile;
    bool Repeat = false;

    bool Help = false;
    std::string Error; // non-empty: refused, exit ecBadInput
};

// In read's -o with several boards: replaced by each device's base name.
inline constexpr char OutputPortMark[] = "{port}";

// Arguments without the program name.
TCliArgs ParseCliArgs(const std::vector<std::string> &args);
std::string CliUsage();
// The command's name as typed: "program", "read", ...
std::string CliCommandName(TCliCommand command);
