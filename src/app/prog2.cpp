#include "app/prog2.h"

#include "app/Controls.h"
#include "app/QtUiServices.h"
#include "app/Settings.h"
#include "core/UiServices.h"
#include "chips/ChipCatalogue.h"
#include "chips/FusePanel.h"
#include "chips/FuseRules.h"
#include "app/osc.h"
#include "link/BoardLine.h"
#include "link/BoardLink.h"
#include "link/BoardTexts.h"
#include "link/PortProblem.h"
#include "link/Serial2.h"

#include <QCheckBox>
#include <algorithm>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QScreen>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>

namespace {

// Outside its panel until the board answers.
constexpr int BoardPanelParkedLeft = ParkedLeft;
constexpr int BoardPanelShownLeft = 40;

QFont WindowFont()
{
    QFont f;
    // Metric-compatible fallbacks where the classic faces are missing.
    f.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Liberation Sans"),
                   QStringLiteral("Arial")});
    f.setPixelSize(11);
    return f;
}

QFont PadFont()
{
    QFont f;
    f.setFamilies({QStringLiteral("Courier New"), QStringLiteral("Liberation Mono")});
    f.setStyleHint(QFont::TypeWriter);
    f.setPixelSize(12);
    return f;
}

QPushButton *MakeButton(QWidget *parent, const char *caption, int left, int top, int width = 75,
                        int height = 20)
{
    auto *b = new QPushButton(QString::fromLatin1(caption), parent);
    b->setGeometry(left, top, width, height);
    return b;
}

// Out of the tab order, still usable with the mouse and the accelerators.
void NoTab(QWidget *w)
{
    w->setFocusPolicy(Qt::ClickFocus);
}

} // namespace

TProjFm::TProjFm(TUiServices &ui, QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                          | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      Ui(ui), FuseModel(std::make_unique<TFusePanel>())
{
    Q_INIT_RESOURCE(varnel); // the pictures sit in a static library
    setWindowTitle(QString::fromLatin1(AppTitle));
    setFont(WindowFont());
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, QColor(192, 192, 192));
    setPalette(pal);
    resize(635, 456);

    BuildControls();

    Serial1 = new TSerial(this);
    Serial1->Dialogs = &Ui;
    SetBoardLineFormat(*Serial1);
    Serial1->OnRxData = [this](QObject *) { Serial1RxData(); };

    Link = std::make_unique<TBoardLink>(WorkState, *this, Ui, *Serial1);
    OscCalFm = new TOscCalFm(this);

    ConnectHandlers();
    SetUpFileOpening();
    FormCreate();
}

TProjFm::~TProjFm()
{
    // The serial component must stop handing events over before the state
    // machines it would call go away.
    delete Serial1;
    Serial1 = nullptr;
}

void TProjFm::BuildControls()
{
    using TBevel = TPanel::TBevel;

    Panel1 = new TPanel(this, TBevel::Lowered, false, true, true);
    Panel1->setGeometry(2, 4, 505, 320);
    Panel1->setFont(PadFont());
    MemoPad = new TPicture(Panel1, 439, 312);
    MemoPad->move(20, 5);
    const QImage back = ResourcePicture(QStringLiteral("padback"));
    if (back.isNull())
        MemoPad->FillAll(Qt::white);
    else
        MemoPad->Canvas() = back.convertToFormat(QImage::Format_RGB32);
    MemScroll = new QScrollBar(Qt::Vertical, Panel1);
    MemScroll->setGeometry(466, 7, 13, 307);
    MemScroll->setPageStep(20);
    MemScroll->setSingleStep(1);
    MemScroll->setRange(0, 0);

    Panel2 = new TPanel(this, TBevel::Raised, true, true, false);
    Panel2->setGeometry(2, 328, 225, 126);
    ProgButt = MakeButton(Panel2, "&Program", 32, 12);
    ReadButt = MakeButton(Panel2, "&Read", 32, 32);
    VerfButt = MakeButton(Panel2, "Verif&y", 32, 52);
    RomEepButt = MakeButton(Panel2, "EEPRO&M", 32, 72);
    EraseButt = MakeButton(Panel2, "&Erase", 116, 12);
    LoadButt = MakeButton(Panel2, "&Load", 116, 32);
    SaveButt = MakeButton(Panel2, "S&ave", 116, 52);
    CancButt = MakeButton(Panel2, "&Cancel", 116, 72);
    for (QWidget *w : {ProgButt, ReadButt, VerfButt, RomEepButt, EraseButt, LoadButt, SaveButt,
                       CancButt})
        NoTab(w);

    BoardPanel = new QWidget(Panel2);
    BoardPanel->setGeometry(BoardPanelParkedLeft, 92, 155, 20);
    BoardPanel->setVisible(false);
    BoardLabel = new QLabel(QStringLiteral("PicVarnel"), BoardPanel);
    BoardLabel->move(5, 3);
    ICSPbutt = MakeButton(BoardPanel, "&ICSP - OFF", 76, 0);

    Panel3 = new TPanel(this, TBevel::Lowered, false, false, false);
    Panel3->setGeometry(512, 4, 119, 320);
    SocketImage = new TPicture(Panel3, 115, 316);
    SocketImage->move(2, 2);

    StatusPan = new TPanel(this, TBevel::Raised, true, true, false);
    StatusPan->setGeometry(512, 328, 119, 126);
    ChipSelect = new QComboBox(StatusPan);
    ChipSelect->setGeometry(25, 20, 71, 21);
    ChipSelect->setMaxVisibleItems(6);
    DropAsScrollingList(ChipSelect);
    for (const TChipInfo &chip : ChipCatalogue)
        ChipSelect->addItem(QString::fromStdString(chip.Name));
    ChipSelect->setCurrentIndex(-1);
    NoTab(ChipSelect);
    ProgressBar1 = new QProgressBar(StatusPan);
    ProgressBar1->setGeometry(26, 48, 68, 13);
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    ProgressBar1->setTextVisible(false);
    StatusLabel = new TStatusText(StatusPan);
    // Centred on the design's 72-pixel label, a little wider so the
    // fallback font's "Program Ready" is not clipped.
    StatusLabel->setGeometry(18, 67, 84, 13);
    StatusLabel->setAlignment(Qt::AlignCenter);
    HelpButt = MakeButton(StatusPan, "&Help", 26, 84, 67, 26);
    HelpButt->setIcon(style()->standardIcon(QStyle::SP_DialogHelpButton));
    NoTab(HelpButt);

    FusePan = new TPanel(this, TBevel::Raised, true, true, false);
    FusePan->setGeometry(233, 328, 274, 126);
    QCheckBox **boxes[FuseBoxCount] = {&CB1, &CB2, &CB3, &CB4, &CB5, &CB6, &CB7};
    for (int i = 0; i < FuseBoxCount; ++i) {
        const TPlace place = FuseBoxPlaces[size_t(i)];
        *boxes[i] = new QCheckBox(FusePan);
        (*boxes[i])->setGeometry(place.Left, place.Top, i == 3 ? Cb4Width : FuseBoxWidth, 17);
        (*boxes[i])->setVisible(false);
        NoTab(*boxes[i]);
    }
    Label1 = new QLabel(QStringLiteral("Oscillator"), FusePan);
    Label1->move(Label1Place.Left, Label1Place.Top);
    Oscillator = new QComboBox(FusePan);
    Oscillator->setGeometry(OscillatorPlace.Left, OscillatorPlace.Top, FuseListWidth, 21);
    Label2 = new QLabel(QStringLiteral("Code Protect"), FusePan);
    Label2->move(Label2Place.Left, Label2Place.Top);
    CodeProtect = new QComboBox(FusePan);
    CodeProtect->setGeometry(CodeProtectPlace.Left, CodeProtectPlace.Top, FuseListWidth, 21);
    Label3 = new QLabel(QStringLiteral("ID"), FusePan);
    Label3->move(Label3Place.Left, Label3Place.Top);
    IDedit = new QLineEdit(QString::fromLatin1(IdEditReset), FusePan);
    IDedit->setGeometry(IdEditPlace.Left, IdEditPlace.Top, IdEditWidth, 21);
    IDedit->setMaxLength(IdMaxLength);
    IDedit->installEventFilter(this);
    OscChButt = MakeButton(FusePan, "Change", OscChButtParkedPlace.Left,
                           OscChButtParkedPlace.Top, 52, 20);
    ClearFusePanel(); // as the model starts: nothing shown until a chip is chosen
    NoTab(Oscillator);
    NoTab(CodeProtect);
    // While an operation runs both panels refuse input, but what they show
    // (status, progress, captions, values) must stay readable.
    KeepReadableWhenDisabled(StatusPan);
    KeepReadableWhenDisabled(FusePan);

    Timer1 = new QTimer(this);
    Timer1->setInterval(100);
    WaitTimer = new QTimer(this);
    WaitTimer->setInterval(TBoardLink::WatchdogTickMs);
    LongJobTimer = new QTimer(this);
    LongJobTimer->setInterval(TBoardLink::LongJobTickMs);
    ReconnectTimer = new QTimer(this);
    ReconnectTimer->setInterval(1000);
}

void TProjFm::ConnectHandlers()
{
    connect(Timer1, &QTimer::timeout, this, &TProjFm::Timer1Timer);
    connect(WaitTimer, &QTimer::timeout, this, &TProjFm::WaitTimerTimer);
    connect(LongJobTimer, &QTimer::timeout, this, &TProjFm::LongJobTimerTimer);
    LongJobTimer->start();
    connect(ReconnectTimer, &QTimer::timeout, this, &TProjFm::ReconnectTimerTimer);
    connect(HelpButt, &QPushButton::clicked, this, &TProjFm::HelpButtClick);
    connect(ProgButt, &QPushButton::clicked, this, &TProjFm::ProgButtClick);
    connect(ReadButt, &QPushButton::clicked, this, &TProjFm::ReadButtClick);
    connect(VerfButt, &QPushButton::clicked, this, &TProjFm::VerfButtClick);
    connect(EraseButt, &QPushButton::clicked, this, &TProjFm::EraseButtClick);
    connect(CancButt, &QPushButton::clicked, this, &TProjFm::CancButtClick);
    connect(LoadButt, &QPushButton::clicked, this, &TProjFm::LoadButtClick);
    connect(SaveButt, &QPushButton::clicked, this, &TProjFm::SaveButtClick);
    connect(RomEepButt, &QPushButton::clicked, this, &TProjFm::RomEepButtClick);
    connect(ICSPbutt, &QPushButton::clicked, this, &TProjFm::ICSPbuttClick);
    connect(OscChButt, &QPushButton::clicked, this, &TProjFm::OscChButtClick);
    connect(IDedit, &QLineEdit::textChanged, this, &TProjFm::IdEditChanged);
    connect(MemScroll, &QScrollBar::valueChanged, this, &TProjFm::MemScrollChange);
    // Only a choice of the user starts a placement or edits the word.
    connect(ChipSelect, QOverload<int>::of(&QComboBox::activated), this,
            &TProjFm::ChipSelectChange);
    connect(Oscillator, QOverload<int>::of(&QComboBox::activated), this,
            &TProjFm::OscillatorChange);
    connect(CodeProtect, QOverload<int>::of(&QComboBox::activated), this,
            &TProjFm::CodeProtectChange);
    for (int i = 0; i < 7; ++i) {
        // toggled also fires when code sets the state, as the click rule must.
        connect(FuseBox(i), &QCheckBox::toggled, this,
                [this, i](bool checked) { FuseBoxToggled(i, checked); });
    }
}

QCheckBox *TProjFm::FuseBox(int index) const
{
    QCheckBox *const boxes[7] = {CB1, CB2, CB3, CB4, CB5, CB6, CB7};
    return index >= 0 && index < 7 ? boxes[index] : nullptr;
}

void TProjFm::FormCreate()
{
    setWindowIcon(QIcon(QStringLiteral(":/pictures/Proj")));
    const TStartFolders folders = ThisStartFolders();
    WorkState.ProgramDir = folders.ProgramDir;
    WorkState.HexDir = folders.HexDir;
    WorkState.Started = false;
    WorkState.CancelAsked = false;
    WorkState.RomSize = 0;
    WorkState.EepSize = 0;
    WorkState.ResetVars(*this);
    WorkState.CleanRxBuffer();
    WorkState.RomData.clear();
    WorkState.HexLines.clear();
    WorkState.EepData.clear();
    WorkState.IcspOn = false;
    Timer1->setInterval(100);
    Timer1->start();
}

void TProjFm::Timer1Timer()
{
    if (!WorkState.Started)
        FirstTick();
    else
        PlacementStep();
}

void TProjFm::FirstTick()
{
    Timer1->stop();
    WorkState.Started = true;
    MemoPad->CanvasFont = Panel1->font();
    SocketImage->FillAll(Qt::black);
    WorkState.SoundAvailable = Ui.AudioOutputCount() != 0;
    PasteNewPicture("socket", 8, 5);
    MemoPad->BrushColor = Qt::white;
    WorkState.RomData.clear();
    WorkState.EepData.clear();

    const int port = ReadPortSetting(SettingsFileName, WorkState.HexLines);
    Serial1->SetPort(port);
    if (!DeviceOverride.empty())
        Serial1->SetDevicePath(DeviceOverride);
    Serial1->SetActive(true);
    if (!Serial1->Active()) {
        Ui.MessageBox(TBoxKind::Error, PortProblemText(*Serial1), TBoxButtons::Ok);
    } else if (const std::string slow = LowLatencyWarning(*Serial1); !slow.empty()) {
        Ui.MessageBox(TBoxKind::Information, slow, TBoxButtons::Ok);
    }
    setWindowTitle(QString::fromLatin1(AppCaption));
    Serial1->WriteChar(TBoardLink::CmdHello);
    ReconnectTimer->start();
    OpenPending();
}

void TProjFm::HelpButtClick()
{
    if (CommandsBlocked())
        return;
    Ui.ShowHelpContents();
}

void TProjFm::SetDefaultScreen()
{
    WorkState.CancelAsked = false;
    WorkState.RomSize = 0;
    WorkState.EepSize = 0;
    WorkState.ResetVars(*this);
    WorkState.CleanRxBuffer();
    WorkState.NewDataListed = false;
    SetStatus("Program Ready");
    ClearFusePanel();
    ChipSelect->setCurrentIndex(-1);
    WorkState.OscCalFamily = false;
    WorkState.CodeProtectWarn = false;
    WorkState.IcspOn = false;
    ICSPbutt->setText(QStringLiteral("&ICSP - OFF"));
    SocketImage->FillAll(Qt::black);
    PasteNewPicture("socket", 8, 5);
    ClearPad();
    // A board announcing itself while a file named at start waits for its
    // chip must not leave it waiting for good.
    if (!PendingFile.empty())
        OpenPending();
}

bool TProjFm::FormCloseQuery()
{
    if (!OperationAllowsClose())
        return false;
    // The unsaved image is never lost by a failed save.
    return UnsavedDataMayGo(WorkState, *this, Ui);
}

void TProjFm::FormClose()
{
    if (Closed)
        return;
    Closed = true;
    WorkState.RomData.clear();
    WorkState.HexLines.clear();
    WorkState.EepData.clear();
    Ui.CloseHelp();
}

void TProjFm::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (Centred)
        return;
    Centred = true;
    CentreOnScreen();
    if (frameGeometry() == geometry())
        WaitForFrame();
}

// A window manager frames the window a moment after it is shown, and moves
// nothing when it does; the title bar would leave the frame that much above
// the centre. Looked at for two seconds, and left alone once the user moves it.
void TProjFm::WaitForFrame()
{
    auto *look = new QTimer(this);
    look->setInterval(50);
    const QPoint placed = geometry().topLeft(); // the frame's corner moves with the frame
    connect(look, &QTimer::timeout, this, [this, look, placed, tries = 40]() mutable {
        const bool framed = frameGeometry() != geometry();
        const bool moved = geometry().topLeft() != placed;
        if (framed && !moved)
            CentreOnScreen();
        if (framed || moved || --tries == 0) {
            look->stop();
            look->deleteLater();
        }
    });
    look->start();
}

void TProjFm::CentreOnScreen()
{
    if (const QScreen *s = screen() ? screen() : QGuiApplication::primaryScreen())
        move(pos() + s->availableGeometry().center() - frameGeometry().center());
}

void TProjFm::closeEvent(QCloseEvent *event)
{
    if (!FormCloseQuery()) {
        event->ignore();
        return;
    }
    FormClose();
    event->accept();
}

void TProjFm::PasteThePicture(const char *name, int x, int y)
{
    SocketImage->DrawPicture(QString::fromLatin1(name), x, y);
}

void TProjFm::PasteNewPicture(const char *name, int x, int y)
{
    PasteThePicture(name, x, y);
}

void TProjFm::SetCaptionFile(const std::string &path)
{
    const QString name = QFileInfo(QString::fromStdString(path)).fileName();
    setWindowTitle(QString::fromLatin1(AppCaption) + QStringLiteral("  <") + name
                   + QStringLiteral(">"));
}

bool TProjFm::CommandsBlocked() const
{
    return Timer1->isActive() || WorkState.Busy;
}

void TProjFm::SetStatus(const std::string &text)
{
    const QString whole = QString::fromStdString(text);
    StatusLabel->setText(whole);
    // A text elided on the label is whole in its tip.
    const bool fits = static_cast<TStatusText *>(StatusLabel)->FitsWhole();
    StatusLabel->setToolTip(fits ? QString() : whole);
}

void TProjFm::SetProgress(int position)
{
    ProgressBar1->setValue(std::min(position, ProgressBar1->maximum()));
}

void TProjFm::SetProgressMax(int maximum)
{
    // A range of 0..0 would turn the bar into a busy indicator.
    ProgressBar1->setMaximum(std::max(maximum, 1));
}

void TProjFm::SetPanelsEnabled(bool enabled)
{
    StatusPan->setEnabled(enabled);
    FusePan->setEnabled(enabled);
}

void TProjFm::StartWaitTimer()
{
    WaitTimer->start();
}

void TProjFm::StopWaitTimer()
{
    WaitTimer->stop();
}

bool TProjFm::PlacementRunning() const
{
    return Timer1->isActive();
}

std::string TProjFm::IdText() const
{
    return FuseModel->IdText();
}

void TProjFm::SetIdText(const std::string &text)
{
    IDedit->setText(QString::fromStdString(text)); // the model follows the edit
}

bool TProjFm::CodeProtectOnSelected() const
{
    return FuseModel->CodeProtectOnSelected();
}

void TProjFm::SetPadScroll(int position)
{
    MemScroll->setValue(position);
}

void TProjFm::RedrawPad()
{
    if (ShowsEeprom())
        DrawEepScreen();
    else
        DrawHexScreen();
}

void TProjFm::ShowBoardPanel()
{
    BoardPanel->move(BoardPanelShownLeft, BoardPanel->y());
    BoardPanel->setVisible(true);
}

void TProjFm::HideBoardPanel()
{
    BoardPanel->setVisible(false);
    BoardPanel->move(BoardPanelParkedLeft, BoardPanel->y());
}
