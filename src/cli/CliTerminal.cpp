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

void TTerminal::Print(const std::string &text)
{
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
    std::fprintf(stderr, "\r%-*s[%s] %3d%%", StatusWidth, CurrentStatus.c_str(), bar.c_str(),
                 static_cast<int>(static_cast<long long>(pos) * 100 / max));
    std::fflush(stderr);
}

void TTerminal::EndProgress()
{
    if (!BarShown)
        return;
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
        if (AnswerYes) {
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
