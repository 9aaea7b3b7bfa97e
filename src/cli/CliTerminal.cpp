#include "cli/CliTerminal.h"

#include "core/StopSignals.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace {

constexpr char ReadyStatus[] = "Program Ready";
constexpr int BarCells = 30;
constexpr int StatusWidth = 14; // the longest status, "Blank Testing", and a space

std::string Lines(std::string text)
{
    for (char &c : text) {
        if (c == '\r')
            c = '\n';
    }
    return text;
}

} // namespace

TTerminal::TTerminal(bool quiet) : Quiet(quiet), ErrTty(::isatty(STDERR_FILENO) == 1)
{
}

TBoardLines::TBoardLines(bool quiet, bool errTty) : QuietRun(quiet), ErrTty(errTty)
{
}

int TBoardLines::Add(const std::string &name)
{
    std::lock_guard<std::mutex> hold(Mutex);
    Names.push_back(name);
    Bars.emplace_back();
    return static_cast<int>(Names.size()) - 1;
}

void TBoardLines::EraseBlock()
{
    // Up to the block's first line, and clear from there to the end.
    if (DrawnLines > 0)
        std::fprintf(stderr, "\r\033[%dA\033[J", DrawnLines);
    DrawnLines = 0;
}

void TBoardLines::DrawBlock()
{
    for (size_t b = 0; b < Bars.size(); ++b) {
        if (Bars[b].empty())
            continue;
        std::fprintf(stderr, "%s: %s\n", Names[b].c_str(), Bars[b].c_str());
        ++DrawnLines;
    }
    std::fflush(stderr);
}

void TBoardLines::Line(int board, const std::string &text)
{
    if (QuietRun)
        return;
    std::lock_guard<std::mutex> hold(Mutex);
    if (ErrTty)
        EraseBlock();
    // Every line of a box text carries the name, so lines of several boards
    // can be told apart however they interleave.
    size_t from = 0;
    do {
        const size_t end = text.find('\n', from);
        std::fprintf(stderr, "%s: %s\n", Names[static_cast<size_t>(board)].c_str(),
                     text.substr(from, end - from).c_str());
        from = end == std::string::npos ? end : end + 1;
    } while (from != std::string::npos && from < text.size());
    if (ErrTty)
        DrawBlock();
    std::fflush(stderr);
}

void TBoardLines::Bar(int board, const std::string &bar)
{
    if (QuietRun || !ErrTty)
        return;
    std::lock_guard<std::mutex> hold(Mutex);
    Bars[static_cast<size_t>(board)] = bar;
    EraseBlock();
    DrawBlock();
}

void TBoardLines::EndBars()
{
    std::lock_guard<std::mutex> hold(Mutex);
    if (ErrTty)
        EraseBlock();
    for (std::string &bar : Bars)
        bar.clear();
    std::fflush(stderr);
}

void TTerminal::ShareOutput(TBoardLines *lines, int board)
{
    Shared = lines;
    Board = board;
    // The block of bars stands in for this board's own bar.
    Quiet = Quiet || lines->Quiet();
}

void TTerminal::Print(const std::string &text)
{
    if (Shared) {
        Shared->Line(Board, Lines(text));
        return;
    }
    EndProgress();
    std::fprintf(stderr, "%s\n", Lines(text).c_str());
    std::fflush(stderr);
}

void TTerminal::Message(const std::string &text)
{
    Print(text);
    LastResult = text;
}

void TTerminal::Note(const std::string &text)
{
    if (Quiet)
        return;
    Print(text);
}

void TTerminal::Warning(const std::string &text)
{
    Print("Warning: " + text);
}

void TTerminal::Status(const std::string &text)
{
    if (text == CurrentStatus)
        return;
    EndProgress();
    CurrentStatus = text;
    Position = 0;
    if (Shared && !Quiet) {
        // Among several boards each state change is a line of its own, and
        // the board's bar below shows where it is.
        if (text != ReadyStatus)
            Shared->Line(Board, text);
        if (ErrTty)
            Shared->Bar(Board, text);
        return;
    }
    if (Quiet || text == ReadyStatus)
        return;
    if (ErrTty) {
        DrawBar();
    } else {
        std::fprintf(stderr, "%s\n", text.c_str());
        std::fflush(stderr);
    }
}

void TTerminal::Progress(int position, int maximum)
{
    Position = position;
    Maximum = maximum;
    if (Quiet || !ErrTty || CurrentStatus.empty() || CurrentStatus == ReadyStatus)
        return;
    DrawBar();
}

void TTerminal::DrawBar()
{
    const int max = Maximum > 0 ? Maximum : 1;
    const int pos = Position < 0 ? 0 : (Position > max ? max : Position);
    const int cells = static_cast<int>(static_cast<long long>(pos) * BarCells / max);
    if (BarShown && cells == DrawnCells)
        return;
    DrawnCells = cells;
    BarShown = true;
    std::string bar(static_cast<size_t>(cells), '#');
    bar.resize(BarCells, ' ');
    char line[128];
    std::snprintf(line, sizeof line, "%-*s[%s] %3d%%", StatusWidth, CurrentStatus.c_str(),
                  bar.c_str(), static_cast<int>(static_cast<long long>(pos) * 100 / max));
    if (Shared) {
        Shared->Bar(Board, line);
        return;
    }
    std::fprintf(stderr, "\r%s", line);
    std::fflush(stderr);
}

void TTerminal::EndProgress()
{
    if (!BarShown)
        return;
    if (Shared) {
        BarShown = false;
        DrawnCells = -1;
        return;
    }
    std::fputc('\n', stderr);
    std::fflush(stderr);
    BarShown = false;
    DrawnCells = -1;
}

bool TTerminal::AskTty(const std::string &prompt, char &reply)
{
    const int tty = HasTerminal() ? ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC) : -1;
    if (tty < 0)
        return false;
    EndProgress();
    [[maybe_unused]] const ssize_t shown = ::write(tty, prompt.data(), prompt.size());
    reply = ReadTtyLine(tty);
    ::close(tty);
    return true;
}

char TTerminal::ReadTtyLine(int tty)
{
    char first = '\0';
    bool haveFirst = false;
    for (;;) {
        // A signal that stops the command also ends the wait for an answer.
        pollfd fds[2] = {{tty, POLLIN, 0}, {StopSignalFd(), POLLIN, 0}};
        const int ready = StopSignal() != 0 ? 1 : ::poll(fds, 2, -1);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0 || StopSignal() != 0) {
            [[maybe_unused]] const ssize_t n = ::write(tty, "\n", 1);
            return '\0';
        }
        char line[64];
        const ssize_t got = ::read(tty, line, sizeof line);
        if (got < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (got <= 0)
            return first; // the end of input
        if (!haveFirst) {
            first = line[0];
            haveFirst = true;
        }
        for (ssize_t i = 0; i < got; ++i) {
            if (line[i] == '\n')
                return first;
        }
    }
}

bool TTerminal::Ask(const std::string &question, TBoxButtons buttons, TAnswer &answer)
{
    const bool cancel = buttons == TBoxButtons::YesNoCancel;
    char c = '\0';
    if (!AskTty(Lines(question) + (cancel ? " [y/n/C] " : " [y/N] "), c))
        return false;
    if (c == 'y' || c == 'Y')
        answer = TAnswer::Yes;
    else if (cancel && c != 'n' && c != 'N')
        answer = TAnswer::Cancel;
    else
        answer = TAnswer::No;
    return true;
}

bool TTerminal::HasTerminal()
{
    return ::isatty(STDIN_FILENO) == 1;
}

bool TTerminal::WaitForNext()
{
    char c = '\0';
    // The end of input stops as q does: nobody is there to put in a chip.
    return AskTty("Next chip: Enter, or q to stop: ", c) && c != '\0' && c != 'q' && c != 'Q';
}

TRoundChoice TTerminal::WaitForRound()
{
    char c = '\0';
    if (!AskTty("Next round: Enter for every board, r to retry the boards that failed, "
                "or q to stop: ", c) || c == '\0' || c == 'q' || c == 'Q')
        return TRoundChoice::Stop;
    return c == 'r' || c == 'R' ? TRoundChoice::RetryFailed : TRoundChoice::Every;
}

TTermUi::TTermUi(TTerminal &terminal, bool answerYes) : Terminal(terminal), AnswerYes(answerYes)
{
}

void TTermUi::SayLineLost()
{
    if (!LineLostShown)
        Terminal.Message(LineLostMessage);
    LineLostShown = true;
}

TAnswer TTermUi::MessageBox(TBoxKind kind, const std::string &text, TBoxButtons buttons)
{
    TAnswer answer = TAnswer::Ok;
    if (kind == TBoxKind::Confirmation) {
        if (Preset && Preset(text, answer)) {
            Terminal.Message(text);
            Terminal.Message(std::string("Answered ")
                             + (answer == TAnswer::Yes ? "Yes" : "No") + " for every board.");
        } else if (AnswerYes) {
            Terminal.Message(text);
            Terminal.Message("Answered Yes (--yes).");
            answer = TAnswer::Yes;
        } else if (!Terminal.Ask(text, buttons, answer)) {
            // Nobody to ask: the answer that changes nothing.
            answer = buttons == TBoxButtons::YesNoCancel ? TAnswer::Cancel : TAnswer::No;
            Terminal.Message(text);
            Terminal.Message(std::string("No terminal to answer on: answered ")
                             + (answer == TAnswer::Cancel ? "Cancel" : "No")
                             + " (--yes answers Yes).");
        }
    } else if (text == NoResponseText() && LineLost && LineLost()) {
        SayLineLost();
        Shown.push_back({kind, LineLostMessage, answer});
        return answer;
    } else {
        Terminal.Message(text);
    }
    Shown.push_back({kind, text, answer});
    return answer;
}

void TTermUi::Pause(int milliseconds)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}
