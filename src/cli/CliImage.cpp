#include "cli/CliImage.h"

#include "app/WorkState.h"
#include "chips/ChipCatalogue.h"
#include "chips/FusePanel.h"
#include "chips/OscCal.h"
#include "cli/CliArgs.h"
#include "cli/CliTerminal.h"
#include "cli/CliReport.h"
#include "hexfile/FileIo.h"
#include "hexfile/HexReader.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Why the system cannot read path, "" when it can. Opened without blocking:
// a FIFO would hold the open until someone writes to it.
std::string ReadProblem(const std::string &path)
{
    const TFd file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (file.Fd < 0)
        return std::strerror(errno);
    struct stat info {};
    if (::fstat(file.Fd, &info) != 0)
        return std::strerror(errno);
    if (S_ISDIR(info.st_mode))
        return std::strerror(EISDIR);
    if (!S_ISREG(info.st_mode))
        return "not a regular file";
    char byte = 0;
    return ::read(file.Fd, &byte, 1) < 0 ? std::strerror(errno) : std::string();
}

} // namespace

int SelectCliChip(const TCliArgs &args, TWorkState &ws, TFusePanel &fuses, TTerminal &term)
{
    const int chip = FindChip(args.Chip);
    if (!ApplyChipSelection(chip, ws, fuses)) {
        term.Message("Unknown chip \"" + args.Chip + "\". The chips are: " + ChipNameList()
                     + ".");
        return ecBadInput;
    }
    return ecSuccess;
}

int LoadCliImage(const TCliArgs &args, TWorkState &ws, TFusePanel &fuses, TTerminal &term,
                 bool forProgram)
{
    if ((!args.OscCal.empty() || args.KeepOscCal) && !ws.OscCalFamily) {
        term.Message(std::string(args.KeepOscCal ? "--keep-osccal" : "--osccal")
                     + " applies to the chips with a calibration word (12C67x) only.");
        return ecBadInput;
    }
    const THexLoadOutcome outcome = LoadHexFile(ws, args.File, false);
    if (outcome.Status != THexLoadStatus::Ok) {
        const std::string problem = ReadProblem(args.File);
        term.Message(problem.empty() ? outcome.Message
                                     : outcome.Message + "\n" + args.File + ": " + problem);
        return ecFileRefused;
    }
    if (!args.OscCal.empty()) {
        StoreOscCal(ws, args.OscCal);
    } else if (forProgram && !args.KeepOscCal && OscCalWordMissing(ws)) {
        term.Message("There is no OSCCAL value listed in the HEX file.");
        term.Message("Give the chip's calibration value with --osccal HEX.");
        return ecFileRefused;
    }
    // UpDateFuseSettings, so that the overrides start from the file's values.
    fuses.Show(ws.FuseWord);
    fuses.ShowId(ws.IdValue);
    for (const std::string &setting : args.Fuses) {
        std::string reason;
        if (!fuses.ApplySetting(setting, ws.FuseWord, reason)) {
            term.Message(reason);
            return ecBadInput;
        }
    }
    fuses.Show(ws.FuseWord);
    if (!args.Id.empty())
        fuses.SetIdText(args.Id);
    return ecSuccess;
}

void PrintCliImage(const TWorkState &ws, const TFusePanel &fuses, bool dump)
{
    std::vector<std::string> lines = ImageSummaryLines(ws, fuses.ChipIndex(), fuses.IdText());
    if (dump) {
        const std::vector<std::string> pad = ImageDumpLines(ws);
        lines.insert(lines.end(), pad.begin(), pad.end());
    }
    for (const std::string &line : lines)
        std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}
