// The board link handlers of the main window: thin glue to TBoardLink.
#include "app/prog2.h"
#include "link/BoardLink.h"

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

void TProjFm::Serial1RxData()
{
    Link->Serial1RxData();
}
