#pragma once

#include "app/UiServices.h"
#include "cli/CliReport.h"

#include <string>
#include <vector>

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

private:
    void DrawBar();

    bool Quiet;
    bool ErrTty;
    std::string CurrentStatus;
    int Position = 0;
    int Maximum = 0;
    bool BarShown = false;
    int DrawnCells = -1;
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
