// The board link handlers of the main window: thin glue to TBoardLink.
#include "app/prog2.h"
#include "core/StopSignals.h"
#include "core/UiServices.h"
#include "link/BoardLink.h"
#include "link/Serial2.h"

#include <QApplication>
#include <QPushButton>
#include <QSocketNotifier>
#include <QTimer>

namespace {

constexpr char StopAndCloseQuestion[] = "An operation is running. Stop it and close the window?";
// How often a window waiting to close looks whether the operation has ended.
constexpr int CloseLookMs = 50;

} // namespace

void TProjFm::ProgButtClick()
{
    Link->ProgButtClick();
}

void TProjFm::ReadButtClick()
{
    Link->ReadButtClick();
}

void TProjFm::VerfButtClick()
{
    Link->VerfButtClick();
}

void TProjFm::EraseButtClick()
{
    Link->EraseButtClick();
}

void TProjFm::CancButtClick()
{
    Link->CancButtClick();
}

void TProjFm::ICSPbuttClick()
{
    ICSPbutt->setText(QString::fromStdString(TBoardLink::IcspCaption(Link->ICSPbuttClick())));
}

void TProjFm::WaitTimerTimer()
{
    Link->WaitTimerTimer();
}

void TProjFm::LongJobTimerTimer()
{
    Link->LongJobTimer();
}

void TProjFm::ReconnectTimerTimer()
{
    // A pulled-out adapter comes back under the same name: open it again,
    // quietly, whenever no operation could be disturbed. The board's "PP"
    // then brings back the screen as at start-up, so not under an open box
    // or dialog either: a Load waiting for its file name keeps its chip.
    if (Serial1->Active() || CommandsBlocked() || WorkState.AnyOperationFlag()
        || QApplication::activeModalWidget())
        return;
    HideBoardPanel();
    Serial1->SetActive(true);
    if (Serial1->Active())
        Serial1->WriteChar(TBoardLink::CmdHello);
}

void TProjFm::Serial1RxData()
{
    Link->Serial1RxData();
}

bool TProjFm::OperationRunning() const
{
    return WorkState.Busy || WorkState.AnyOperationFlag();
}

bool TProjFm::OperationAllowsClose()
{
    if (!OperationRunning()) {
        CloseAfterStop = false; // a save question answered Cancel keeps the window
        return true;
    }
    if (!CloseAfterStop) {
        Ui.Beep();
        if (Ui.MessageBox(TBoxKind::Confirmation, StopAndCloseQuestion, TBoxButtons::YesNo)
            != TAnswer::Yes)
            return false;
        // It may have ended while the question was open.
        if (!OperationRunning())
            return true;
    }
    StopThenClose();
    return false;
}

void TProjFm::StopThenClose()
{
    // The board must not be left in the middle of a word stream: Cancel ends
    // the operation at its next cancel point (an erase or a blank test runs
    // to its end), and only then does the window go.
    CloseAfterStop = true;
    Link->CancButtClick();
    if (!CloseTimer) {
        CloseTimer = new QTimer(this);
        CloseTimer->setInterval(CloseLookMs);
        connect(CloseTimer, &QTimer::timeout, this, [this] {
            if (OperationRunning())
                return;
            CloseTimer->stop();
            close();
        });
    }
    CloseTimer->start();
}

void TProjFm::StopAndClose()
{
    if (OperationRunning())
        StopThenClose();
    else
        close();
}

void TProjFm::WatchStopSignals()
{
    auto *notifier = new QSocketNotifier(StopSignalFd(), QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, [this, notifier] {
        notifier->setEnabled(false); // the pipe stays readable
        StopAndClose();
    });
}
