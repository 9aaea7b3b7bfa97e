#include "cli/CliArgs.h"

#include "chips/FuseRules.h"
#include "chips/OscCal.h"
#include "cli/CliSerial.h"

#include <algorithm>
#include <filesystem>
#include <functional>

namespace {

bool IsFolder(const std::string &path)
{
    std::error_code ec;
    return std::filesystem::is_directory(path, ec);
}

enum : unsigned {
    cbChips = 1,
    cbHexInfo = 2,
    cbRead = 4,
    cbProgram = 8,
    cbVerify = 16,
    cbErase = 32,
    cbBoard = cbRead | cbProgram | cbVerify | cbErase,
    cbImage = cbHexInfo | cbProgram | cbVerify, // commands that load a HEX file
    cbAll = 63,
    cbPorts = 64 // takes no option
};

struct TCommandRow
{
    const char *Name;
    TCliCommand Command;
    unsigned Bit;
    const char *Usage;
};

const TCommandRow Commands[] = {
    {"chips", TCliCommand::Chips, cbChips, "chips"},
    {"hexinfo", TCliCommand::HexInfo, cbHexInfo, "hexinfo FILE --chip NAME [--dump]"},
    {"read", TCliCommand::Read, cbRead, "read --chip NAME [-o FILE] [--dump]"},
    {"program", TCliCommand::Program, cbProgram, "program FILE --chip NAME"},
    {"verify", TCliCommand::Verify, cbVerify, "verify FILE --chip NAME"},
    {"erase", TCliCommand::Erase, cbErase, "erase --chip NAME"},
    {"ports", TCliCommand::Ports, cbPorts, "ports   (the serial devices present)"},
};

using TApply = std::function<std::string(TCliArgs &, const std::string &)>;

struct TOptionRow
{
    const char *Name;
    const char *Alias; // nullptr: none
    const char *Arg;   // nullptr: a flag
    unsigned Commands;
    const char *Help;
    TApply Apply; // returns the refusal, empty when taken
};

// The ID as IDedit would take it when typed: hex digits only, at most four.
std::string TakeId(TCliArgs &a, const std::string &value)
{
    std::string text;
    for (char c : value) {
        const int key = FilterIdKey(static_cast<unsigned char>(c), static_cast<int>(text.size()));
        if (key == 0 || key == 8 || key == 13)
            return "--id takes 1 to 4 hexadecimal digits, not \"" + value + "\".";
        text += static_cast<char>(key);
    }
    if (text.empty())
        return "--id takes 1 to 4 hexadecimal digits.";
    a.Id = text;
    return {};
}

// The calibration value as the OSCCAL dialog's edit box takes it.
std::string TakeOscCal(TCliArgs &a, const std::string &value)
{
    std::string text;
    for (char c : value) {
        const TOscCalKey key = FilterOscCalKey(static_cast<unsigned char>(c));
        if (key.Key == 0 || static_cast<int>(text.size()) >= OscCalMaxLength)
            return "--osccal takes 1 or 2 hexadecimal digits, not \"" + value + "\".";
        text += static_cast<char>(key.Key);
    }
    if (text.empty())
        return "--osccal takes 1 or 2 hexadecimal digits.";
    a.OscCal = text;
    return {};
}

std::string TakeSerial(TCliArgs &a, const std::string &value)
{
    TSerialNumbers numbers;
    if (!ParseSerialNumbers(value, numbers))
        return "--serial takes START[+STEP], numbers from 0 to 0xFFFF (STEP from 1), not \""
                + value + "\".";
    a.HasSerial = true;
    a.SerialStart = numbers.Start;
    a.SerialStep = numbers.Step;
    return {};
}

std::string TakePort(TCliArgs &a, const std::string &value)
{
    if (value.size() != 1 || value[0] < '1' || value[0] > '9')
        return "--port takes a port number from 1 to 9, not \"" + value + "\".";
    a.Port = value[0] - '0';
    return {};
}

std::string TakeFormat(TCliArgs &a, const std::string &value)
{
    if (!HexFormatFromName(value, a.OutputFormat))
        return "--format takes inhx8m or inhx32, not \"" + value + "\".";
    a.HasOutputFormat = true;
    return {};
}

std::string TakeDevices(TCliArgs &a, const std::string &value)
{
    size_t from = 0;
    for (;;) {
        const size_t comma = value.find(',', from);
        const std::string device = value.substr(from, comma - from);
        if (device.empty())
            return "--devices takes device paths separated by commas, not \"" + value + "\".";
        if (std::find(a.Devices.begin(), a.Devices.end(), device) != a.Devices.end())
            return "The device " + device + " is named twice.";
        a.Devices.push_back(device);
        if (comma == std::string::npos)
            break;
        from = comma + 1;
    }
    a.Device = a.Devices.front();
    return {};
}

const std::vector<TOptionRow> &Options()
{
    static const std::vector<TOptionRow> List = {
        {"--chip", nullptr, "NAME", cbAll & ~cbChips, "the chip, as in the chip list",
         [](TCliArgs &a, const std::string &v) { a.Chip = v; return std::string(); }},
        {"--port", nullptr, "N", cbBoard,
         "serial port N (1-9): $VARNEL_COM<N>, else /dev/ttyS<N-1>; default 1", TakePort},
        {"--device", nullptr, "PATH", cbBoard,
         "open this serial device instead of a port; again for more boards at once",
         TakeDevices},
        {"--devices", nullptr, "A,B,...", cbBoard, "several boards at once, as --device A ...",
         TakeDevices},
        {"--simulate", nullptr, nullptr, cbBoard, "use the built-in virtual board",
         [](TCliArgs &a, const std::string &) { a.Simulate = true; return std::string(); }},
        {"--board-image", nullptr, "FILE", cbBoard,
         "with --simulate: the virtual chip starts with this INHX8M file",
         [](TCliArgs &a, const std::string &v) { a.BoardImage = v; return std::string(); }},
        {"--board-save", nullptr, "FILE", cbBoard,
         "with --simulate: save the virtual chip as INHX8M at exit",
         [](TCliArgs &a, const std::string &v) { a.BoardSave = v; return std::string(); }},
        {"--board-fault", nullptr, "NAME[=V]", cbBoard,
         "with --simulate: a fault of varnel-board (fail-word=3, x-at=5, ...)",
         [](TCliArgs &a, const std::string &v) {
             a.BoardFaults.push_back(v);
             return std::string();
         }},
        {"--icsp", nullptr, nullptr, cbBoard, "in-circuit programming (ICSP - ON)",
         [](TCliArgs &a, const std::string &) { a.Icsp = true; return std::string(); }},
        {"--id", nullptr, "HEX", cbImage, "the ID instead of the file's (as IDedit)", TakeId},
        {"--fuse", nullptr, "NAME=VALUE", cbImage,
         "set a fuse control: WDT=off, PWRTE=on, Oscillator=XT, CodeProtect=OFF",
         [](TCliArgs &a, const std::string &v) {
             a.Fuses.push_back(v);
             return std::string();
         }},
        {"--osccal", nullptr, "HEX", cbImage, "12C67x: the calibration value (RETLW 34xx)",
         TakeOscCal},
        {"--yes", "-y", nullptr, cbProgram,
         "answer Yes to the not-blank and code-protect questions",
         [](TCliArgs &a, const std::string &) { a.Yes = true; return std::string(); }},
        {"--output", "-o", "FILE", cbRead, "save what was read as an INHX8M file",
         [](TCliArgs &a, const std::string &v) { a.Output = v; return std::string(); }},
        {"--format", nullptr, "FORMAT", cbRead,
         "the layout of the --output file: inhx8m (the default) or inhx32", TakeFormat},
        {"--dump", nullptr, nullptr, cbHexInfo | cbRead, "print the memory pad lines",
         [](TCliArgs &a, const std::string &) { a.Dump = true; return std::string(); }},
        {"--quiet", "-q", nullptr, cbAll, "no status or progress lines",
         [](TCliArgs &a, const std::string &) { a.Quiet = true; return std::string(); }},
        {"--verify", nullptr, nullptr, cbProgram, "verify the chip right after programming",
         [](TCliArgs &a, const std::string &) { a.VerifyAfter = true; return std::string(); }},
        {"--all", nullptr, nullptr, cbVerify,
         "read the whole chip and list every difference",
         [](TCliArgs &a, const std::string &) { a.All = true; return std::string(); }},
        {"--keep-osccal", nullptr, nullptr, cbProgram,
         "12C67x: keep the calibration word the chip holds",
         [](TCliArgs &a, const std::string &) { a.KeepOscCal = true; return std::string(); }},
        {"--serial", nullptr, "START[+STEP]", cbProgram,
         "each programmed chip takes the next number as its ID", TakeSerial},
        {"--serial-file", nullptr, "FILE", cbProgram,
         "keeps the next serial number between runs",
         [](TCliArgs &a, const std::string &v) { a.SerialFile = v; return std::string(); }},
        {"--log", nullptr, "FILE", cbBoard, "append one JSON line per command to FILE",
         [](TCliArgs &a, const std::string &v) { a.LogFile = v; return std::string(); }},
        {"--repeat", nullptr, nullptr, cbProgram,
         "after each chip wait for Enter (next chip) or q (stop)",
         [](TCliArgs &a, const std::string &) { a.Repeat = true; return std::string(); }},
    };
    return List;
}

const TOptionRow *FindOption(const std::string &name)
{
    for (const TOptionRow &row : Options()) {
        if (name == row.Name || (row.Alias && name == row.Alias))
            return &row;
    }
    return nullptr;
}

const TCommandRow *FindCommand(const std::string &name)
{
    for (const TCommandRow &row : Commands) {
        if (name == row.Name)
            return &row;
    }
    return nullptr;
}

// The rules between options, once all are read.
std::string CheckCombination(const TCliArgs &a, unsigned bit)
{
    const bool needsFile = (bit & cbImage) != 0;
    if (needsFile && a.File.empty())
        return "This command needs a HEX file.";
    if ((bit & (cbChips | cbPorts)) == 0 && a.Chip.empty())
        return "Name the chip with --chip NAME.";
    if (a.Devices.size() > 1 && (bit & cbRead) != 0 && !a.Output.empty()
        && a.Output.find(OutputPortMark) == std::string::npos && !IsFolder(a.Output))
        return std::string("With several boards, -o names a folder or contains ")
                + OutputPortMark + ".";
    if (a.Devices.size() > 1 && (bit & cbRead) != 0 && a.Output.empty())
        return std::string("With several boards, read needs -o naming a folder or "
                           "containing ") + OutputPortMark + ".";
    if (a.Devices.size() > 1 && a.Dump)
        return "With several boards, --dump is not available: each board's read goes to its "
               "own file.";
    const int lines = (a.Port != 0) + !a.Device.empty() + a.Simulate;
    if (lines > 1)
        return "Give only one of --port, --device and --simulate.";
    if (!a.Simulate && (!a.BoardImage.empty() || !a.BoardSave.empty() || !a.BoardFaults.empty()))
        return "--board-image, --board-save and --board-fault need --simulate.";
    if (!a.SerialFile.empty() && !a.HasSerial)
        return "--serial-file needs --serial START[+STEP].";
    if (a.HasSerial && !a.Id.empty())
        return "Give only one of --id and --serial.";
    if (a.KeepOscCal && !a.OscCal.empty())
        return "Give only one of --osccal and --keep-osccal.";
    if (a.HasOutputFormat && a.Output.empty())
        return "--format needs --output FILE.";
    return {};
}

} // namespace

TCliArgs ParseCliArgs(const std::vector<std::string> &args)
{
    TCliArgs result;
    const TCommandRow *command = nullptr;
    std::vector<std::string> files;
    std::vector<const TOptionRow *> seen;
    for (size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        if (name == "--help" || name == "-h") {
            result.Help = true;
            return result;
        }
        if (name.size() < 2 || name[0] != '-') {
            if (!command) {
                command = FindCommand(name);
                if (!command) {
                    result.Error = "Unknown command \"" + name + "\".";
                    return result;
                }
            } else {
                files.push_back(name);
            }
            continue;
        }
        std::string value;
        bool inlineValue = false;
        const size_t equals = name.find('=');
        if (name.compare(0, 2, "--") == 0 && equals != std::string::npos) {
            value = name.substr(equals + 1);
            name = name.substr(0, equals);
            inlineValue = true;
        }
        const TOptionRow *row = FindOption(name);
        if (!row) {
            result.Error = "Unknown option \"" + name + "\".";
            return result;
        }
        if (row->Arg && !inlineValue) {
            if (i + 1 >= args.size()) {
                result.Error = name + " needs a value (" + row->Arg + ").";
                return result;
            }
            value = args[++i];
        } else if (!row->Arg && inlineValue) {
            result.Error = name + " takes no value.";
            return result;
        }
        seen.push_back(row);
        const std::string refusal = row->Apply(result, value);
        if (!refusal.empty()) {
            result.Error = refusal;
            return result;
        }
    }
    if (!command) {
        result.Error = "Name a command.";
        return result;
    }
    // Options may come before the command, so they are checked against it here.
    for (const TOptionRow *row : seen) {
        if ((row->Commands & command->Bit) == 0) {
            result.Error = std::string(row->Name) + " does not apply to " + command->Name + ".";
            return result;
        }
    }
    result.Command = command->Command;
    const bool takesFile = (command->Bit & cbImage) != 0;
    if (files.size() > (takesFile ? 1u : 0u)) {
        result.Error = "Unexpected argument \"" + files.back() + "\".";
        return result;
    }
    if (!files.empty())
        result.File = files.front();
    result.Error = CheckCombination(result, command->Bit);
    return result;
}

std::string CliUsage()
{
    std::string text = "Usage: varnelpro-cli COMMAND [FILE] [options]\n"
                       "Drives the PicVarnel programmer board from scripts.\n\nCommands:\n";
    for (const TCommandRow &row : Commands)
        text += std::string("  ") + row.Usage + "\n";
    text += "\nOptions:\n";
    for (const TOptionRow &row : Options()) {
        std::string left = row.Name;
        if (row.Alias)
            left = std::string(row.Alias) + ", " + left;
        if (row.Arg)
            left += std::string(" ") + row.Arg;
        left.resize(std::max<size_t>(left.size() + 1, 26), ' ');
        text += "  " + left + row.Help + "\n";
    }
    text += "  -h, --help                show this text\n"
            "\nExit status:\n"
            "  0  success\n"
            "  1  bad input: usage, unknown chip, bad option value, nothing to program\n"
            "     or verify, code protection declined, serial number past FFFF,\n"
            "     --repeat without a terminal\n"
            "  2  file refused (HEX scan, data or load problem; missing OSCCAL value; an\n"
            "     unreadable serial file or one another run held for 10 s) or a file that\n"
            "     could not be written (output, log, serial file)\n"
            "  3  board failure: serial data error, a failed write, chip not blank\n"
            "     and not continued, port cannot be opened\n"
            "  4  verify mismatch: ROM, EEPROM, ID or fuse differ\n"
            "  5  no response from the programmer board, or the serial line was lost\n"
            "  130, 143, 129  stopped by SIGINT, SIGTERM or SIGHUP (128 + the signal):\n"
            "     the operation ended at its next safe point (\"Cancelled.\"); a second\n"
            "     signal ends at once, and the board may need switching off and on\n"
            "With several boards the status is the worst of theirs, in the order\n"
            "  0 < 1 < 2 < 3 < 4 < 5 < 129 < 130 < 143.\n";
    return text;
}

std::string CliCommandName(TCliCommand command)
{
    for (const TCommandRow &row : Commands) {
        if (row.Command == command)
            return row.Name;
    }
    return {};
}
