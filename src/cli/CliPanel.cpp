#include "cli/CliPanel.h"

#include "core/WorkState.h"
#include "chips/FusePanel.h"
#include "cli/CliTerminal.h"
#include "hexfile/HexWriter.h"
#include "link/BoardLink.h"

#include <cerrno>

TTermPanel::TTermPanel(TWorkState &ws, TFusePanel &fuses, TTerminal &terminal)
    : Ws(ws), Fuses(fuses), Terminal(terminal)
{
    WaitTimer.setInterval(TBoardLink::WatchdogTickMs);
    QObject::connect(&WaitTimer, &QTimer::timeout, &WaitTimer, [this] {
        if (OnWaitTimer)
            OnWaitTimer();
    });
}

void TTermPanel::SetStatus(const std::string &text)
{
    Terminal.Status(text);
}

void TTermPanel::SetProgress(int position)
{
    // ResetVars zeroes the bar after the operation; that is no progress.
    if (Ws.OpStep >= 0 || Ws.AnyOperationFlag())
        Terminal.Progress(position, ProgressMax);
}

void TTermPanel::SetProgressMax(int maximum)
{
    ProgressMax = maximum;
}

std::string TTermPanel::IdText() const
{
    return Fuses.IdText();
}

void TTermPanel::SetIdText(const std::string &text)
{
    Fuses.SetIdText(text);
}

bool TTermPanel::CodeProtectOnSelected() const
{
    return Fuses.CodeProtectOnSelected();
}

void TTermPanel::UpDateFuseSettings()
{
    Fuses.Show(Ws.FuseWord);
    Fuses.ShowId(Ws.IdValue);
}

void TTermPanel::ShowBoardPanel()
{
    BoardFound = true;
    Terminal.Note("PicVarnel board found");
}

bool TTermPanel::RunSave()
{
    if (SavePath.empty() || (Ws.RomData.empty() && Ws.EepData.empty()))
        return false;
    errno = 0; // a refusal before any file call leaves no reason
    if (SaveINHX8MFile(Ws, Fuses.IdText(), SavePath, SaveFormat)) {
        Ws.NewDataListed = false;
        return true;
    }
    Terminal.Message(SaveFailureText(SavePath, errno));
    return false;
}
