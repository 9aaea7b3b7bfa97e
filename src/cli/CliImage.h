#pragma once

#include <string>

struct TCliArgs;
struct TWorkState;
class TFusePanel;
class TTerminal;

// The window's chip selection and Load button for the command line: the
// same catalogue, reader and fuse panel, with the option overrides on top.
// Each returns an exit code, ecSuccess to go on; the message is printed.

// --chip through FindChip and ApplyChipSelection.
int SelectCliChip(const TCliArgs &args, TWorkState &ws, TFusePanel &fuses, TTerminal &term);

// Loads args.File as the Load button does into a fresh image, shows it in the
// fuse panel, then applies --osccal, --fuse and --id. forProgram: an OSCCAL
// chip whose file lacks the calibration word is refused unless --osccal
// gives it (or --keep-osccal takes it from the chip later): the window asks
// for the value there, and a script cannot. A file the system cannot read is
// named with the system's reason on a second line. sha256, when given,
// receives the lowercase hex digest of the very bytes that were loaded.
int LoadCliImage(const TCliArgs &args, TWorkState &ws, TFusePanel &fuses, TTerminal &term,
                 bool forProgram, std::string *sha256 = nullptr);

// The image summary on standard output (hexinfo, read), with every pad line
// after it for --dump.
void PrintCliImage(const TWorkState &ws, const TFusePanel &fuses, bool dump);
