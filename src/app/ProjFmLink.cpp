// The board link handlers of the main window: thin glue to TBoardLink.
#include "app/prog2.h"
#include "link/BoardLink.h"
#include "link/Serial2.h"

#include <QApplication>
#include <QPushButton>

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
