#include "cli/CliImage.h"

#include "core/WorkState.h"
#include "chips/ChipCatalogue.h"
#include "chips/FusePanel.h"
#include "chips/OscCal.h"
#include "cli/CliArgs.h"
#include "cli/CliTerminal.h"
#include "cli/CliReport.h"
#include "hexfile/HexReader.h"

#include <QCryptographicHash>

#include <cstdio>

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
                 bool forProgram, std::string *sha256)
{
    if ((!args.OscCal.empty() || args.KeepOscCal) && !ws.OscCalFamily) {
        term.Message(std::string(args.KeepOscCal ? "--keep-osccal" : "--osccal")
                     + " applies to the chips with a calibration word (12C67x) only.");
        return ecBadInput;
    }
    std::string bytes;
    const THexLoadOutcome outcome = LoadHexFile(ws, args.File, false, &bytes);
    if (outcome.Status != THexLoadStatus::Ok) {
        term.Message(LoadFailureText(outcome, args.File));
        return ecFileRefused;
    }
    if (sha256) {
        *sha256 = QCryptographicHash::hash(QByteArray::fromStdString(bytes),
                                           QCryptographicHash::Sha256)
                          .toHex()
                          .toStdString();
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
