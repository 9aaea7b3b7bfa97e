#include "cli/CliGang.h"

#include "cli/CliSession.h"
#include "cli/CliTerminal.h"
#include "core/StopSignals.h"
#include "hexfile/FileIo.h"
#include "link/BoardTexts.h"
#include "view/HexText.h"

#include <QThread>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <mutex>

#include <unistd.h>

namespace {

// Asked once for every board of a Program on chips without EEPROM, in place
// of each board's own question after its blank test.
constexpr char NotBlankQuestion[] =
        "If a chip is not blank, program it anyway?\rThe answer holds for every board.";

using TClock = std::chrono::steady_clock;
using TPreset = std::function<bool(const std::string &, TAnswer &)>;

struct TBoard
{
    TCliArgs Args;
    std::string Name;
    // Guarded by TControl::Mutex.
    bool InRound = false;
    int Code = ecSuccess;  // the last round's
    int Worst = ecSuccess; // over every round
    std::string Result;
    std::string Id = "-";
    double Seconds = 0;
    int Programmed = 0;
    int Failed = 0;
};

struct TControl
{
    std::mutex Mutex;
    std::condition_variable Wake;
    int Round = 0;
    bool Stop = false;
    int Running = 0;
};

bool EndsWith(const std::string &text, const std::string &end)
{
    return text.size() >= end.size()
            && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// The thread of one board: opens its line at its first round, runs one chip
// per round and reports; a board that went away is opened afresh next round.
void RunBoard(TBoard &board, int index, TControl &control, TBoardLines &lines,
              TCliSession &lead, const TPreset &preset)
{
    TTerminal terminal(board.Args.Quiet);
    terminal.ShareOutput(&lines, index);
    std::unique_ptr<TCliSession> session;
    int seen = 0;
    int last = ecSuccess;
    for (;;) {
        {
            std::unique_lock<std::mutex> hold(control.Mutex);
            control.Wake.wait(hold, [&] { return control.Stop || control.Round > seen; });
            if (control.Stop)
                break;
            seen = control.Round;
            if (!board.InRound)
                continue;
        }
        const TClock::time_point start = TClock::now();
        terminal.ClearResult();
        int code = ecSuccess;
        if (!session) {
            session = std::make_unique<TCliSession>(board.Args, terminal);
            session->TakePrepared(lead);
            session->Questions().Preset = preset;
            code = session->OpenBoard();
            if (code != ecSuccess) {
                code = session->Finish(code);
                session.reset();
            }
        }
        if (session) {
            code = session->RunChip();
            if (code == ecNoResponse) {
                session->Finish(code);
                session.reset();
            }
        }
        std::string id = "-";
        if (code == ecSuccess && board.Args.Command == TCliCommand::Program && session
            && session->LastId() >= 0)
            id = MyIntToHex(session->LastId(), 4);
        last = code;
        std::lock_guard<std::mutex> hold(control.Mutex);
        board.Code = code;
        board.Worst = WorseExitCode(board.Worst, code);
        // A read that succeeded says nothing of its own: name its file.
        board.Result = code == ecSuccess && board.Args.Command == TCliCommand::Read
                ? "Saved to " + board.Args.Output
                : terminal.Result();
        board.Id = id;
        board.Seconds = std::chrono::duration<double>(TClock::now() - start).count();
        ++(code == ecSuccess ? board.Programmed : board.Failed);
        board.InRound = false;
        --control.Running;
        control.Wake.notify_all();
    }
    if (session)
        session->Finish(last);
}

// The questions of a Program, asked once before any board starts; the
// answers every board's questions then get. False when code protection was
// declined.
bool AskOnce(const TCliArgs &args, TCliSession &lead, TPreset &preset)
{
    if (args.Command != TCliCommand::Program)
        return true;
    TTermUi &ui = lead.Questions();
    if (lead.AsksCodeProtect()
        && ui.MessageBox(TBoxKind::Confirmation, MsgCodeProtectQuestion, TBoxButtons::YesNo)
                != TAnswer::Yes)
        return false;
    TAnswer notBlank = TAnswer::No;
    if (lead.Image().EepSize == 0)
        notBlank = ui.MessageBox(TBoxKind::Confirmation, NotBlankQuestion, TBoxButtons::YesNo);
    preset = [notBlank](const std::string &text, TAnswer &answer) {
        if (text == MsgCodeProtectQuestion)
            answer = TAnswer::Yes;
        else if (EndsWith(text, MsgNotBlankQuestionEnd))
            answer = notBlank;
        else
            answer = TAnswer::No; // nobody can be asked from a board's thread
        return true;
    };
    return true;
}

// The last result on one line: a port's problem keeps its reason.
std::string ResultText(const TBoard &board)
{
    if (board.Result.empty())
        return board.Code == ecSuccess ? "done" : "failed";
    std::string text = board.Result;
    for (char &c : text) {
        if (c == '\r' || c == '\n')
            c = ' ';
    }
    return text;
}

} // namespace

std::string DeviceBaseName(const std::string &device)
{
    const std::filesystem::path path(device);
    std::string name = path.filename().string();
    // /dev/pts/3 reads better as pts3 than as 3.
    if (!name.empty() && std::all_of(name.begin(), name.end(), ::isdigit))
        name = path.parent_path().filename().string() + name;
    return name;
}

std::string BoardOutputPath(const std::string &output, const std::string &device)
{
    const std::string name = DeviceBaseName(device);
    std::string path = output;
    const size_t mark = path.find(OutputPortMark);
    if (mark != std::string::npos)
        return path.replace(mark, std::string(OutputPortMark).size(), name);
    return (std::filesystem::path(output) / (name + ".hex")).string();
}

std::vector<std::string> GangSummaryLines(const std::vector<TGangRow> &rows, bool counts)
{
    size_t deviceWidth = 6;
    size_t resultWidth = 6;
    for (const TGangRow &row : rows) {
        deviceWidth = std::max(deviceWidth, row.Device.size());
        resultWidth = std::max(resultWidth, row.Result.size());
    }
    const auto cell = [](std::string text, size_t width) {
        text.resize(std::max(width, text.size()), ' ');
        return text + "  ";
    };
    std::string heading = cell("DEVICE", deviceWidth) + cell("RESULT", resultWidth)
            + cell("ID", 4) + "TIME";
    if (counts)
        heading += "      CHIPS  FAILED";
    std::vector<std::string> lines = {heading};
    for (const TGangRow &row : rows) {
        char time[32];
        std::snprintf(time, sizeof time, "%6.1f s", row.Seconds);
        std::string line = cell(row.Device, deviceWidth) + cell(row.Result, resultWidth)
                + cell(row.Id, 4) + time;
        if (counts) {
            char tally[32];
            std::snprintf(tally, sizeof tally, "  %5d  %6d", row.Programmed, row.Failed);
            line += tally;
        }
        lines.push_back(line);
    }
    return lines;
}

TGangRun::TGangRun(const TCliArgs &args) : Args(args)
{
}

int TGangRun::Run()
{
    TTerminal terminal(Args.Quiet);
    std::string error;
    // Before any board's thread starts, so every thread sees the same pipe.
    if (!InstallStopSignals(error))
        terminal.Warning(SignalsUnwatchedWarning(error));

    std::vector<std::unique_ptr<TBoard>> boards;
    for (const std::string &device : Args.Devices) {
        auto board = std::make_unique<TBoard>();
        board->Args = Args;
        board->Args.Device = device;
        board->Name = DeviceBaseName(device);
        if (!Args.Output.empty())
            board->Args.Output = BoardOutputPath(Args.Output, device);
        for (const auto &other : boards) {
            if (other->Name == board->Name) {
                terminal.Message("Two devices have the name " + board->Name
                                 + "; their lines and files could not be told apart.");
                return ecBadInput;
            }
        }
        boards.push_back(std::move(board));
    }

    // The lead loads the file and checks what all boards share; each board's
    // output file is checked on its own below.
    TCliArgs leadArgs = Args;
    leadArgs.Output.clear();
    TCliSession lead(leadArgs, terminal);
    int code = lead.Prepare();
    if (code != ecSuccess)
        return code;
    for (const auto &board : boards) {
        std::string problem;
        if (!board->Args.Output.empty() && !CanSaveFile(board->Args.Output, problem)) {
            terminal.Message(SaveFailureText(board->Args.Output, problem));
            return ecFileRefused;
        }
    }
    TPreset preset;
    const bool goOn = AskOnce(Args, lead, preset);
    if (StopSignal() != 0) {
        terminal.Message("Cancelled.");
        return StopExitCode(StopSignal());
    }
    if (!goOn)
        return ecBadInput;

    TBoardLines lines(Args.Quiet, ::isatty(STDERR_FILENO) == 1);
    for (const auto &board : boards)
        lines.Add(board->Name);
    TControl control;
    std::vector<std::unique_ptr<QThread>> threads;
    for (size_t i = 0; i < boards.size(); ++i) {
        TBoard &board = *boards[i];
        threads.emplace_back(QThread::create([&, i] {
            RunBoard(board, static_cast<int>(i), control, lines, lead, preset);
        }));
        threads.back()->start();
    }

    TRoundChoice choice = TRoundChoice::Every;
    for (;;) {
        {
            std::unique_lock<std::mutex> hold(control.Mutex);
            for (const auto &board : boards) {
                board->InRound = choice == TRoundChoice::Every || board->Code != ecSuccess;
                control.Running += board->InRound;
            }
            ++control.Round;
            control.Wake.notify_all();
            control.Wake.wait(hold, [&] { return control.Running == 0; });
        }
        if (!Args.Repeat || StopSignal() != 0)
            break;
        // The prompt and the answer go below the bars, which start afresh.
        lines.EndBars();
        choice = terminal.WaitForRound();
        if (choice == TRoundChoice::Stop)
            break;
    }
    {
        std::lock_guard<std::mutex> hold(control.Mutex);
        control.Stop = true;
        control.Wake.notify_all();
    }
    for (const auto &thread : threads)
        thread->wait();
    lines.EndBars();

    std::vector<TGangRow> rows;
    int worst = ecSuccess;
    for (const auto &board : boards) {
        rows.push_back({board->Args.Device, ResultText(*board), board->Id, board->Seconds,
                        board->Programmed, board->Failed});
        worst = WorseExitCode(worst, board->Worst);
    }
    for (const std::string &line : GangSummaryLines(rows, Args.Repeat))
        std::printf("%s\n", line.c_str());
    const std::vector<uint32_t> skipped = lead.SerialNumbers().Skipped();
    if (!skipped.empty()) {
        std::string text = "Serial numbers skipped (their ID write failed):";
        for (const uint32_t number : skipped)
            text += " " + SerialNumberText(number);
        std::printf("%s\n", text.c_str());
    }
    std::fflush(stdout);
    if (StopSignal() != 0)
        worst = WorseExitCode(worst, StopExitCode(StopSignal()));
    return worst;
}
