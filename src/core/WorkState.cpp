#include "core/WorkState.h"

#include "core/FrontPanel.h"

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
