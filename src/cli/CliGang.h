#pragma once

#include "cli/CliArgs.h"

#include <string>
#include <vector>

// One command on several boards at once (--device given more than once).
// The file is loaded and the options applied once; the questions a Program
// may ask are asked once, before anything is sent. Then every board runs the
// command in a thread of its own, with its own serial component, step table
// state and wire speed, so a board that fails, hangs up or stays silent ends
// in its own result while the others go on. Serial numbers come from one
// pool under the file's lock. With --repeat the boards run in rounds.
class TGangRun
{
public:
    explicit TGangRun(const TCliArgs &args);
    int Run();

private:
    const TCliArgs &Args;
};

// One line of the summary table.
struct TGangRow
{
    std::string Device;
    std::string Result;
    std::string Id; // the ID written, "-" for none
    double Seconds = 0;
    int Programmed = 0; // --repeat: chips that succeeded and failed
    int Failed = 0;
};

// The summary table: a heading and one row per board, columns aligned; the
// chip counts only with --repeat.
std::vector<std::string> GangSummaryLines(const std::vector<TGangRow> &rows, bool counts);

// A device's base name ("ttyUSB1" for /dev/ttyUSB1), the name its lines and
// files carry.
std::string DeviceBaseName(const std::string &device);

// read -o with several boards: a folder gets NAME.hex, and {port} in a file
// name is replaced by NAME.
std::string BoardOutputPath(const std::string &output, const std::string &device);
