// The memory pad's handlers of the main window.
#include "app/Controls.h"
#include "app/prog2.h"
#include "view/HexText.h"

#include <QPushButton>
#include <QScrollBar>

namespace {

const QString RomCaption = QStringLiteral("EEPRO&M");   // program memory on screen
const QString EepCaption = QStringLiteral("RO&M");      // EEPROM on screen

void DrawPage(TPicture *pad, const std::vector<std::string> &list, int position, TPadView view)
{
    const std::vector<std::string> lines = PadPage(list, position, view);
    for (int n = 0; n < int(lines.size()); ++n)
        pad->TextOut(8, 6 + 15 * n, QString::fromStdString(lines[n]));
}

} // namespace

bool TProjFm::ShowsEeprom() const
{
    return RomEepButt->text() == EepCaption;
}

void TProjFm::DrawHexScreen()
{
    DrawPage(MemoPad, WorkState.RomData, MemScroll->value(), pvProgram);
}

void TProjFm::DrawEepScreen()
{
    DrawPage(MemoPad, WorkState.EepData, MemScroll->value(), pvEeprom);
}

void TProjFm::MemScrollChange(int)
{
    if (ShowsEeprom() && !WorkState.EepData.empty())
        DrawEepScreen();
    else if (!WorkState.RomData.empty())
        DrawHexScreen();
}

void TProjFm::RomEepButtClick()
{
    if (CommandsBlocked())
        return;
    if (!ShowsEeprom()) {
        if (WorkState.EepData.empty())
            return;
        MemScroll->setMaximum(EepScrollMax(WorkState.EepSize));
        MemScroll->setValue(0);
        ClearPad();
        DrawEepScreen();
        RomEepButt->setText(EepCaption);
    } else {
        if (WorkState.RomData.empty())
            return;
        MemScroll->setMaximum(RomScrollMax(WorkState.RomSize));
        MemScroll->setValue(0);
        ClearPad();
        DrawHexScreen();
        RomEepButt->setText(RomCaption);
    }
}

void TProjFm::ClearPad()
{
    const int w = MemoPad->width();
    const int h = MemoPad->height();
    // The text area from (4, 4) up to, not including, (width - 6, height - 4).
    MemoPad->FillRect(QRect(4, 4, w - 10, h - 8), MemoPad->BrushColor);
}
