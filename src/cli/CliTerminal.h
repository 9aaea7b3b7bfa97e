#pragma once

#include "core/UiServices.h"
#include "cli/CliReport.h"

#include <functional>
#include <mutex>
#include <string>
#include <vector>

enum class TRoundChoice { Every, RetryFailed, Stop };

// Standard error shared by several boards running at once: every line goes
// out whole, prefixed with its board's name, and on a terminal each board's
// progress bar is one line of a block kept below them and redrawn in place.
// Quiet drops all of it, leaving the run's summary. Safe from any thread.
class TBoardLines
{
public:
    TBoardLines(bool quiet, bool errTty);
    int Add(const std::string &name);
    void Line(int board, const std::string &text);
    void Bar(int board, const std::string &bar);
    // Takes the bars away for good, before the summary.
    void EndBars();
    bool Quiet() const { return QuietRun; }

private:
    void EraseBlock();
    void DrawBlock();

    const bool QuietRun;
    const bool ErrTty;
    std::mutex Mutex;
    std::vector<std::string> Names;
    std::vector<std::string> Bars;
    int DrawnLines = 0;
};

// Standard error as the command line's window: the box texts, the status
// text and, on a terminal, a progress bar redrawn in place. No Qt.
class TTerminal
{
public:
    explicit TTerminal(bool quiet);

    bool ErrIsTerminal() const { return ErrTty; }

    // A box text; its carriage returns become line breaks.
    void Message(const std::string &text);
    // A remark of the command line itself; quiet drops it.
    void Note(const std::string &text);
    // A warning that does not change the result: printed, never the result.
    void Warning(const std::string &text);
    // The last box text or message, the result of the command for the log.
    const std::string &Result() const { return LastResult; }
    void ClearResult() { LastResult.clear(); }
    // StatusLabel: each new text starts a line (a bar on a terminal); the
    // ready text only ends the current one.
    void Status(const std::string &text);
    // ProgressBar1 position within maximum, drawn on a terminal only.
    void Progress(int position, int maximum);
    // Ends a drawn bar with a line break.
    void EndProgress();

    // Reads the answer to a question from /dev/tty; false when there is no
    // terminal to ask on.
    bool Ask(const std::string &question, TBoxButtons buttons, TAnswer &answer);
    // --repeat: true for Enter (the next chip), false for q or the end of input.
    bool WaitForNext();
    // --repeat on several boards: Enter, r or q; q also at the end of input.
    TRoundChoice WaitForRound();
    // Standard input is a terminal that WaitForNext can read.
    static bool HasTerminal();
    // One board of several: everything goes through lines as that board's.
    void ShareOutput(TBoardLines *lines, int board);

private:
    void DrawBar();
    void Print(const std::string &text);
    // Shows prompt on the controlling terminal and reads a line; reply is
    // its first character, '\0' at the end of input or once a stop signal
    // has come. False without a terminal.
    bool AskTty(const std::string &prompt, char &reply);
    static char ReadTtyLine(int tty);

    bool Quiet;
    bool ErrTty;
    TBoardLines *Shared = nullptr;
    int Board = -1;
    std::string CurrentStatus;
    int Position = 0;
    int Maximum = 0;
    bool BarShown = false;
    int DrawnCells = -1;
    std::string LastResult;
};

// The boxes, sounds and pauses of the program for a terminal: boxes go to
// standard error and are recorded for the exit status; questions take Yes
// with --yes, are asked on the terminal when standard input is one, and are
// answered with the safe No (or Cancel) otherwise.
class TTermUi : public TUiServices
{
public:
    TTermUi(TTerminal &terminal, bool answerYes);

    std::vector<TShownBox> Shown;
    // Set by the session: the port went away, so "no response" is really a
    // lost line and is said as such, once.
    std::function<bool()> LineLost;
    bool LineLostShown = false;
    // Several boards: questions answered once for all before the run; true
    // with the answer when text is one of them.
    std::function<bool(const std::string &text, TAnswer &answer)> Preset;
    // "The serial line was lost.", once per command.
    void SayLineLost();

    TAnswer MessageBox(TBoxKind kind, const std::string &text, TBoxButtons buttons) override;
    void Beep() override {}
    void PlaySound(TSound) override {}
    int AudioOutputCount() override { return 0; }
    void Pause(int milliseconds) override;
    std::string OpenFileName(const TFileDialog &) override { return {}; }
    std::string SaveFileName(const TFileDialog &) override { return {}; }
    void ShowHelpContents() override {}
    void CloseHelp() override {}

private:
    TTerminal &Terminal;
    bool AnswerYes;
};
