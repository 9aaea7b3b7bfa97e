#pragma once

#include "core/FrontPanel.h"
#include "hexfile/HexWriter.h"

#include <QTimer>

#include <functional>
#include <string>

struct TWorkState;
class TFusePanel;
class TTerminal;

// The window's face for the command line: the status and progress go to the
// terminal, the fuse panel and IDedit are the widget-free fuse model, and
// WaitTimer is a real timer of the watchdog's tick on the event loop.
class TTermPanel : public TFrontPanel
{
public:
    TTermPanel(TWorkState &ws, TFusePanel &fuses, TTerminal &terminal);

    // The watchdog tick: TBoardLink::WaitTimerTimer.
    std::function<void()> OnWaitTimer;
    // Where RunSave writes the image (read -o).
    std::string SavePath;
    THexFormat SaveFormat = THexFormat::Inhx8m;
    // The board announced itself with "PP".
    bool BoardFound = false;

    bool WaitTimerActive() const { return WaitTimer.isActive(); }

    void SetStatus(const std::string &text) override;
    void SetProgress(int position) override;
    void SetProgressMax(int maximum) override;
    void SetPanelsEnabled(bool) override {}
    void StartWaitTimer() override { WaitTimer.start(); }
    void StopWaitTimer() override { WaitTimer.stop(); }
    bool PlacementRunning() const override { return false; }
    std::string IdText() const override;
    void SetIdText(const std::string &text) override;
    bool CodeProtectOnSelected() const override;
    void ClearPad() override {}
    void SetPadScroll(int) override {}
    void RedrawPad() override {}
    void UpDateFuseSettings() override;
    // The window's default screen also forgets the chip; here the chip named
    // on the command line stays chosen for the whole run.
    void SetDefaultScreen() override {}
    void ShowBoardPanel() override;
    bool RunSave() override;

private:
    TWorkState &Ws;
    TFusePanel &Fuses;
    TTerminal &Terminal;
    QTimer WaitTimer;
    int ProgressMax = 0;
};
