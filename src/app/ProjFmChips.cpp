// The chip support handlers of the main window: chip selection with the
// placement animation, the fuse panel and the OSCCAL button. The rules live in
// the widget-free units (ChipCatalogue, FuseRules, FusePanel, OscCal); this
// file only passes the user's actions to them and mirrors the result into the
// controls.
#include "app/Controls.h"
#include "core/UiServices.h"
#include "app/prog2.h"
#include "chips/ChipCatalogue.h"
#include "chips/FusePanel.h"
#include "chips/FuseRules.h"
#include "chips/OscCal.h"
#include "app/osc.h"
#include "view/HexText.h"

#include <QCheckBox>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QTimer>

namespace {

constexpr int PlacementInterval = 700; // ms between the animation steps

// Where the chip of a package sits in the socket, and the label that marks
// the socket row of its pin 1 (rows are 10 pixels apart, row 1 at y 84).
struct TSocketPicture
{
    int32_t SocketType;
    const char *Chip;
    int ChipX;
    int ChipY;
    const char *Label;
    int LabelX;
    int LabelY;
};

constexpr TSocketPicture SocketPictures[] = {
    {1, "pin8", 43, 182, "eleven", 5, 184},
    {2, "pin18", 43, 92, "two", 5, 94},
    {3, "pin28n", 43, 82, "one", 5, 84},
    {4, "pin28w", 28, 82, "one", 5, 84},
    {5, "pin40", 28, 82, "one", 5, 84},
};

const TSocketPicture *SocketPictureFor(int32_t socketType)
{
    for (const TSocketPicture &p : SocketPictures) {
        if (p.SocketType == socketType)
            return &p;
    }
    return nullptr;
}

// Sets a list's items (only when they differ, so a list that already holds
// them keeps its state) and its shown position, without running its rule.
void ShowList(QComboBox *list, const std::vector<std::string> &items, int position)
{
    const QSignalBlocker quiet(list);
    bool same = list->count() == static_cast<int>(items.size());
    for (int i = 0; same && i < list->count(); ++i)
        same = list->itemText(i).toStdString() == items[static_cast<size_t>(i)];
    if (!same) {
        list->clear();
        for (const std::string &item : items)
            list->addItem(QString::fromStdString(item));
    }
    list->setCurrentIndex(position);
}

// Draws the model into the fuse panel's controls: every box's caption, place,
// visibility and check state, both lists, the labels, IDedit and OscChButt.
// The model has already run the click rule of every box it changed, so the
// controls are set with their signals blocked.
void ShowFusePanel(TProjFm &fm)
{
    const TFusePanel &model = *fm.FuseModel;
    for (int i = 0; i < FuseBoxCount; ++i) {
        QCheckBox *box = fm.FuseBox(i);
        const TFuseBoxView &view = model.Box(i);
        const QSignalBlocker quiet(box);
        if (view.Visible) {
            box->setText(QString::fromStdString(view.Caption));
            box->move(view.Place.Left, view.Place.Top);
        }
        box->setChecked(view.Checked);
        box->setVisible(view.Visible);
    }
    fm.CB4->resize(Cb4Width, fm.CB4->height());
    ShowList(fm.Oscillator, model.OscillatorItems(), model.OscillatorIndex());
    ShowList(fm.CodeProtect, model.CodeProtectItems(), model.CodeProtectIndex());
    fm.IDedit->setMaxLength(IdMaxLength);
    fm.IDedit->setGeometry(IdEditPlace.Left, fm.IDedit->y(), IdEditWidth,
                           fm.IDedit->height());
    if (fm.IDedit->text().toStdString() != model.IdText()) {
        const QSignalBlocker quiet(fm.IDedit);
        fm.IDedit->setText(QString::fromStdString(model.IdText()));
    }
    fm.Label3->move(Label3Place.Left, fm.Label3->y());
    const TPlace button = model.OscChButtPlace();
    fm.OscChButt->move(button.Left, button.Top);
    for (QWidget *w : {static_cast<QWidget *>(fm.Label1), static_cast<QWidget *>(fm.Oscillator),
                       static_cast<QWidget *>(fm.Label2),
                       static_cast<QWidget *>(fm.CodeProtect)})
        w->setVisible(model.ListsVisible());
    fm.Label3->setVisible(model.IdVisible());
    fm.IDedit->setVisible(model.IdVisible());
}

void PlayIfAvailable(TProjFm &fm, TSound sound)
{
    if (fm.WorkState.SoundAvailable)
        fm.Ui.PlaySound(sound);
}

} // namespace

void TProjFm::ChipSelectChange(int)
{
    // The list position, as ChipSelector reads it when the placement ends.
    const int index = ChipSelect->currentIndex();
    if (!ValidChipIndex(index))
        return;
    if (!WorkState.Started) {
        // Timer1 still owes the start-up tick, which would end the placement
        // half-way and leave the chip list disabled for good.
        const QSignalBlocker quiet(ChipSelect);
        ChipSelect->setCurrentIndex(-1);
        return;
    }
    WorkState.NewDataListed = false;
    SetStatus("Placing Chip");

    FuseModel->ClearAndHide();
    ShowFusePanel(*this);
    WorkState.OscCalFamily = false;
    WorkState.CodeProtectWarn = false;

    WorkState.SocketType = static_cast<int32_t>(ChipCatalogue[static_cast<size_t>(index)]
                                                        .SocketType);
    WorkState.PlaceStep = 0;
    ChipSelect->setEnabled(false);
    Timer1->setInterval(PlacementInterval);
    Timer1->start();
}

void TProjFm::PlacementStep()
{
    // Only the placement's own ticks advance it.
    if (!Timer1->isActive())
        return;
    const int width = SocketImage->width();
    switch (WorkState.PlaceStep) {
    case 0:
        SocketImage->FillAll(Qt::black);
        PasteNewPicture("socket", 8, 5);
        SocketImage->FillRect(QRect(0, 0, width, 44), Qt::black);
        PasteNewPicture("sktup", 0, 44);
        PlayIfAvailable(*this, TSound::Click);
        WorkState.PlaceStep = 1;
        break;
    case 1:
        PlayIfAvailable(*this, TSound::ChipIn);
        DrawTheSocket();
        WorkState.PlaceStep = 2;
        break;
    case 2:
        PlayIfAvailable(*this, TSound::Tick);
        SocketImage->FillRect(QRect(0, 0, width, 60), Qt::black);
        PasteNewPicture("socket", 8, 5);
        DrawTheSocket();
        if (const TSocketPicture *p = SocketPictureFor(WorkState.SocketType))
            PasteNewPicture(p->Label, p->LabelX, p->LabelY);
        WorkState.PlaceStep = 3;
        break;
    default:
        Timer1->stop();
        PlayIfAvailable(*this, TSound::Chek);
        ChipSelector();
        ClearPad();
        WorkState.RomData.clear();
        WorkState.EepData.clear();
        ChipSelect->setEnabled(true);
        SetStatus("Program Ready");
        SetProgressMax(WorkState.RomSize + WorkState.EepSize);
        MemScroll->setMaximum(RomScrollMax(WorkState.RomSize));
        MemScroll->setValue(0);
        RomEepButt->setText(QStringLiteral("EEPRO&M"));
        PlacementEnded();
        break;
    }
}

void TProjFm::DrawTheSocket()
{
    if (const TSocketPicture *p = SocketPictureFor(WorkState.SocketType))
        PasteNewPicture(p->Chip, p->ChipX, p->ChipY);
}

void TProjFm::ChipSelector()
{
    if (ApplyChipSelection(ChipSelect->currentIndex(), WorkState, *FuseModel))
        ShowFusePanel(*this);
}

void TProjFm::ClearFusePanel()
{
    FuseModel->Clear();
    ShowFusePanel(*this);
}

void TProjFm::IdEditChanged(const QString &text)
{
    FuseModel->SetIdText(text.toStdString());
}

void TProjFm::FuseBoxToggled(int index, bool checked)
{
    // Runs the box's rule when its state is news to the model; the model's
    // own changes reach the boxes with their signals blocked.
    FuseModel->SetBoxChecked(index, checked, WorkState.FuseWord);
}

void TProjFm::OscillatorChange(int position)
{
    FuseModel->SelectOscillator(position, WorkState.FuseWord);
}

void TProjFm::CodeProtectChange(int position)
{
    FuseModel->SelectCodeProtect(position, WorkState.FuseWord);
}

void TProjFm::UpDateFuseSettings()
{
    FuseModel->Show(WorkState.FuseWord);
    FuseModel->ShowId(WorkState.IdValue);
    ShowFusePanel(*this);
}

void TProjFm::OscChButtClick()
{
    std::string text;
    if (!OscCalEditText(WorkState, text))
        return;
    OscCalFm->PrepareRetlw();
    OscCalFm->Execute(text);
    DrawHexScreen();
}

bool TProjFm::eventFilter(QObject *watched, QEvent *event)
{
    // A disabled IDedit (during an operation) refuses keys on its own.
    if (watched != IDedit || event->type() != QEvent::KeyPress || !IDedit->isEnabled())
        return QWidget::eventFilter(watched, event);
    const int typed = TypedChar(static_cast<QKeyEvent *>(event));
    if (typed < 0)
        return false;
    const int key = FilterIdKey(typed, IDedit->text().size(), IDedit->selectedText().size());
    if (key == typed)
        return false; // typed (or edited) as it is
    if (key != 0)
        IDedit->insert(QString(QChar(key))); // typed upper-cased
    return true;
}
