#pragma once

#include <string>

// What the window shows, as the widget-free units see it. The main window
// implements it with its controls; the command line and the tests implement
// it without any widget, so the same state machines drive all three.
class TFrontPanel
{
public:
    virtual ~TFrontPanel() = default;

    // StatusLabel
    virtual void SetStatus(const std::string &text) = 0;
    // ProgressBar1
    virtual void SetProgress(int position) = 0;
    virtual void SetProgressMax(int maximum) = 0;
    // StatusPan and FusePan as a whole
    virtual void SetPanelsEnabled(bool enabled) = 0;
    // WaitTimer, the reply watchdog
    virtual void StartWaitTimer() = 0;
    virtual void StopWaitTimer() = 0;
    // Timer1 enabled: a chip placement is running
    virtual bool PlacementRunning() const = 0;

    // IDedit
    virtual std::string IdText() const = 0;
    virtual void SetIdText(const std::string &text) = 0;
    // CodeProtect shows its last entry ("ON")
    virtual bool CodeProtectOnSelected() const = 0;

    // Memory pad: blank the text area; MemScroll position; redraw the view
    // that RomEepButt names (program memory while it reads "EEPRO&M").
    virtual void ClearPad() = 0;
    virtual void SetPadScroll(int position) = 0;
    virtual void RedrawPad() = 0;

    // UpDateFuseSettings: show FuseWord and IdValue in the fuse panel.
    virtual void UpDateFuseSettings() = 0;
    // SetDefaultScreen, after the board has announced itself.
    virtual void SetDefaultScreen() = 0;
    // Move BoardPanel into view (left 40).
    virtual void ShowBoardPanel() = 0;
    // The SaveButt action; true only when the image was written.
    virtual bool RunSave() = 0;
};
