#pragma once

#include "core/UiServices.h"
#include "link/BoardTexts.h"

#include <string>
#include <vector>

struct TWorkState;

// The warning when the stop signals could not be caught.
inline std::string SignalsUnwatchedWarning(const std::string &error)
{
    return "a signal will end the command at once (" + error + ").";
}

// Said instead of the no-response text when the port itself went away.
inline constexpr char LineLostMessage[] = "The serial line was lost.";

// What the command line prints about chips and images, and how the boxes
// that an operation showed turn into its exit status. No Qt.

// Pins of the ZIF socket position: 8, 18, 28 or 40 (0 when unknown).
int SocketPins(int socketType);

// The chips command: one line per catalogue row under a heading.
std::vector<std::string> ChipTableLines();

// hexinfo: sizes, last non-blank word and ProgEnd, ID, the configuration word
// in hex and as the fuse panel shows it, and the OSCCAL word on 12C67x chips.
std::vector<std::string> ImageSummaryLines(const TWorkState &ws, int chipIndex,
                                           const std::string &idText);

// --dump: every pad line of program memory, then of the EEPROM.
std::vector<std::string> ImageDumpLines(const TWorkState &ws);

enum class TCliOp { Read, Program, Verify, Erase };

// A box as the terminal showed it; Answer is the reply to a question.
struct TShownBox
{
    TBoxKind Kind;
    std::string Text;
    TAnswer Answer;
};

// The exit status of one board operation from the boxes it showed, in order:
// the first failure decides; without one, the operation's own success box
// must have come (for Read: completed, the image read in full; for Erase of a
// chip with EEPROM there is no box at all).
int OperationExitCode(TCliOp op, bool blankTest, const std::vector<TShownBox> &boxes,
                      bool readComplete);

// The status of a run of several results: any failure is worse than
// success, and of two failures the higher status counts.
int WorseExitCode(int a, int b);
