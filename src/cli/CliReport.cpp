#include "cli/CliReport.h"

#include "core/WorkState.h"
#include "chips/ChipCatalogue.h"
#include "chips/FusePanel.h"
#include "chips/OscCal.h"
#include "cli/CliArgs.h"
#include "hexfile/HexReader.h"
#include "view/HexText.h"

#include <cstdio>

namespace {

std::string Field(const char *name, const std::string &value)
{
    std::string line = name;
    line += ':';
    line.resize(17, ' ');
    return line + value;
}

std::string Hex4(int32_t value)
{
    return MyIntToHex(value, 4);
}

// Every pad line of one list, page by page as the scroll bar would show them.
void AppendPad(std::vector<std::string> &lines, const std::vector<std::string> &list,
               TPadView view)
{
    const int32_t lineCount =
            (static_cast<int32_t>(list.size()) + PadLineEntries - 1) / PadLineEntries;
    for (int32_t first = 0; first < lineCount; first += PadLineCount) {
        const std::vector<std::string> page = PadPage(list, first, view);
        for (int32_t n = 0; n < PadLineCount && first + n < lineCount; ++n)
            lines.push_back(page[static_cast<size_t>(n)]);
    }
}

// Joined: the text is exactly Text followed by End.
enum class TMatch { Exact, Prefix, Suffix, Joined };

// How a box shown during an operation counts. Code ecSuccess marks the
// operation's success box; VerifyCode (when not -1) replaces Code in a
// Verify, where a difference is a mismatch rather than a failed write.
struct TBoxRule
{
    TMatch Match;
    const char *Text;
    int Code;
    int VerifyCode;
    const char *End = nullptr;
};

const TBoxRule BoxRules[] = {
    {TMatch::Exact, MsgProgrammingComplete, ecSuccess, -1},
    {TMatch::Exact, MsgDataVerified, ecSuccess, -1},
    {TMatch::Joined, MsgChipIs, ecSuccess, -1, MsgBlankEnd},
    {TMatch::Exact, MsgSerialDataError, ecBoardFailure, -1},
    {TMatch::Prefix, MsgNoResponse, ecNoResponse, -1}, // and what to try
    {TMatch::Exact, LineLostMessage, ecNoResponse, -1},
    {TMatch::Prefix, MsgRomVerifyError, ecBoardFailure, ecVerifyMismatch},
    {TMatch::Prefix, MsgEepromVerifyError, ecBoardFailure, ecVerifyMismatch},
    {TMatch::Exact, MsgIdError, ecVerifyMismatch, -1},
    {TMatch::Exact, MsgFuseError, ecVerifyMismatch, -1},
    {TMatch::Exact, MsgProgrammingIdFailed, ecBoardFailure, -1},
    {TMatch::Exact, MsgProgrammingFuseFailed, ecBoardFailure, -1},
    {TMatch::Suffix, MsgBlankEnd, ecBoardFailure, -1}, // the blank test's other results
    {TMatch::Exact, MsgNothingToProgram, ecBadInput, -1},
    {TMatch::Exact, MsgNothingToVerify, ecBadInput, -1},
};

// A declined not-blank question leaves the chip as it was: a board-side
// stop. Any other declined question (code protection) stops before the board.
const TBoxRule DeclinedRules[] = {
    {TMatch::Suffix, MsgNotBlankQuestionEnd, ecBoardFailure, -1},
    {TMatch::Prefix, "", ecBadInput, -1},
};

bool Matches(const TBoxRule &rule, const std::string &text)
{
    const std::string wanted = rule.Text;
    switch (rule.Match) {
    case TMatch::Exact:
        return text == wanted;
    case TMatch::Prefix:
        return text.compare(0, wanted.size(), wanted) == 0;
    case TMatch::Joined:
        return text == wanted + rule.End;
    case TMatch::Suffix:
        return text.size() >= wanted.size()
                && text.compare(text.size() - wanted.size(), wanted.size(), wanted) == 0;
    }
    return false;
}

template <size_t N>
const TBoxRule *FindRule(const TBoxRule (&rules)[N], const std::string &text)
{
    for (const TBoxRule &rule : rules) {
        if (Matches(rule, text))
            return &rule;
    }
    return nullptr;
}

} // namespace

int SocketPins(int socketType)
{
    static const int Pins[] = {0, 8, 18, 28, 28, 40};
    return socketType >= 1 && socketType <= 5 ? Pins[socketType] : 0;
}

std::vector<std::string> ChipTableLines()
{
    std::vector<std::string> lines = {"Chip      Words  EEPROM  Pins  Code-protect warning"};
    for (const TChipInfo &chip : ChipCatalogue) {
        char line[80];
        std::snprintf(line, sizeof line, "%-8s %6d %7d %5d  %s", chip.Name,
                      static_cast<int>(chip.RomSize), static_cast<int>(chip.EepSize),
                      SocketPins(static_cast<int>(chip.SocketType)),
                      chip.CodeProtectWarn ? "yes" : "no");
        lines.emplace_back(line);
    }
    return lines;
}

std::vector<std::string> ImageSummaryLines(const TWorkState &ws, int chipIndex,
                                           const std::string &idText)
{
    std::vector<std::string> lines;
    const TChipInfo &chip = ChipCatalogue[static_cast<size_t>(chipIndex)];
    lines.push_back(Field("Chip", chip.Name));
    lines.push_back(Field("Program words", std::to_string(ws.RomData.size()) + " of "
                                                   + std::to_string(ws.RomSize)));
    lines.push_back(Field("EEPROM bytes", std::to_string(ws.EepData.size()) + " of "
                                                  + std::to_string(ws.EepSize)));
    const int32_t last = LastNonBlankWord(ws.RomData);
    if (last < 0) {
        lines.push_back(Field("Last word", "none, every word is blank"));
    } else {
        int32_t value = 0;
        DecimalValue(ws.RomData[static_cast<size_t>(last)], value);
        lines.push_back(Field("Last word", Hex4(last) + " = " + Hex4(value)));
    }
    const int32_t progEnd = ProgramEnd(ws.RomData, ws.RomSize);
    lines.push_back(Field("ProgEnd", Hex4(progEnd) + " (" + std::to_string(progEnd) + ")"));
    lines.push_back(Field("ID", PadIdText(idText)));
    lines.push_back(Field("Configuration",
                          Hex4(ws.FuseWord) + "  " + DescribeFuseWord(chipIndex, ws.FuseWord)));
    if (chip.OscCalFamily) {
        std::string text;
        const bool held = !OscCalWordMissing(ws) && OscCalEditText(ws, text);
        lines.push_back(Field("OSCCAL", held ? RetlwHighText + text + " (RETLW 0x" + text + ")"
                                             : std::string("none, the last word is blank")));
    }
    return lines;
}

std::vector<std::string> ImageDumpLines(const TWorkState &ws)
{
    std::vector<std::string> lines = {"Program memory:"};
    AppendPad(lines, ws.RomData, pvProgram);
    if (ws.EepSize != 0) {
        lines.emplace_back("EEPROM:");
        AppendPad(lines, ws.EepData, pvEeprom);
    }
    return lines;
}

int OperationExitCode(TCliOp op, bool blankTest, const std::vector<TShownBox> &boxes,
                      bool readComplete)
{
    bool succeeded = false;
    for (const TShownBox &box : boxes) {
        const TBoxRule *rule = nullptr;
        if (box.Kind == TBoxKind::Confirmation) {
            if (box.Answer == TAnswer::Yes)
                continue;
            rule = FindRule(DeclinedRules, box.Text);
        } else {
            rule = FindRule(BoxRules, box.Text);
        }
        if (!rule)
            continue;
        const int code = op == TCliOp::Verify && rule->VerifyCode >= 0 ? rule->VerifyCode
                                                                      : rule->Code;
        if (code != ecSuccess)
            return code;
        succeeded = true;
    }
    if (op == TCliOp::Read)
        return readComplete ? ecSuccess : ecBoardFailure;
    if (op == TCliOp::Erase && !blankTest)
        return ecSuccess;
    return succeeded ? ecSuccess : ecBoardFailure;
}

int WorseExitCode(int a, int b)
{
    if (a == ecSuccess)
        return b;
    if (b == ecSuccess)
        return a;
    return a > b ? a : b;
}
