#include "core/WorkState.h"

#include "core/FrontPanel.h"
#include "core/UiServices.h"

void TWorkState::SetInitialFuseValue()
{
    FuseWord = 0x3FFF;
    IdValue = 0xFFFF;
}

void TWorkState::CleanRxBuffer()
{
    for (uint8_t &b : RxBuf)
        b = 0;
    RxCount = 0;
}

void TWorkState::ResetVars(TFrontPanel &panel)
{
    OpStep = -1;
    ReadRun = false;
    VerifyRun = false;
    BlankRun = false;
    Busy = false;
    ProgramRun = false;
    EraseProgramRun = false;
    EraseRun = false;
    CancelAsked = false;
    CleanRxBuffer();
    panel.SetProgress(0);
    panel.SetProgressMax(RomSize + EepSize);
    panel.StopWaitTimer();
    panel.SetStatus("Program Ready");
    panel.SetPanelsEnabled(true);
}

bool UnsavedDataMayGo(const TWorkState &ws, TFrontPanel &panel, TUiServices &ui)
{
    if (!ws.NewDataListed)
        return true;
    ui.Beep();
    const TAnswer answer = ui.MessageBox(TBoxKind::Confirmation, NewDataQuestion,
                                         TBoxButtons::YesNoCancel);
    if (answer == TAnswer::Yes)
        return panel.RunSave(); // a save that fails keeps the unsaved image
    return answer == TAnswer::No;
}
