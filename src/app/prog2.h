#pragma once

#include "core/FrontPanel.h"
#include "core/WorkState.h"

#include <QWidget>

#include <memory>
#include <string>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QScrollBar;
class QTimer;
class TBoardLink;
class TFileWatch;
struct TFileStamp;
class QDragEnterEvent;
class QDropEvent;
class TFusePanel;
class TOscCalFm;
class TPanel;
class TPicture;
class TSerial;
class TUiServices;

inline const char *const AppTitle = "Varnel Programmer";
inline const char *const AppCaption = "Varnel Programmer V080401";

// The main window: the hub that owns the work state, the controls, the two
// timers and the serial component. Each subsystem keeps its handlers in its
// own folder (chips/, view/, hexfile/, link/); this header declares them all.
class TProjFm : public QWidget, public TFrontPanel
{
    Q_OBJECT
public:
    // ui answers boxes and dialogs and plays sounds; it outlives the window.
    explicit TProjFm(TUiServices &ui, QWidget *parent = nullptr);
    ~TProjFm() override;

    TWorkState WorkState;
    TUiServices &Ui;

    // Controls, named as the program's design names them.
    TPanel *Panel1 = nullptr;
    TPicture *MemoPad = nullptr;
    QScrollBar *MemScroll = nullptr;
    TPanel *Panel2 = nullptr;
    QPushButton *ProgButt = nullptr;
    QPushButton *ReadButt = nullptr;
    QPushButton *VerfButt = nullptr;
    QPushButton *RomEepButt = nullptr;
    QPushButton *EraseButt = nullptr;
    QPushButton *LoadButt = nullptr;
    QPushButton *SaveButt = nullptr;
    QPushButton *CancButt = nullptr;
    QWidget *BoardPanel = nullptr;
    QLabel *BoardLabel = nullptr;
    QPushButton *ICSPbutt = nullptr;
    TPanel *Panel3 = nullptr;
    TPicture *SocketImage = nullptr;
    TPanel *StatusPan = nullptr;
    QComboBox *ChipSelect = nullptr;
    QProgressBar *ProgressBar1 = nullptr;
    QLabel *StatusLabel = nullptr;
    QPushButton *HelpButt = nullptr;
    TPanel *FusePan = nullptr;
    QCheckBox *CB1 = nullptr;
    QCheckBox *CB2 = nullptr;
    QCheckBox *CB3 = nullptr;
    QCheckBox *CB4 = nullptr;
    QCheckBox *CB5 = nullptr;
    QCheckBox *CB6 = nullptr;
    QCheckBox *CB7 = nullptr;
    QLabel *Label1 = nullptr;
    QComboBox *Oscillator = nullptr;
    QLabel *Label2 = nullptr;
    QComboBox *CodeProtect = nullptr;
    QLabel *Label3 = nullptr;
    QLineEdit *IDedit = nullptr;
    QPushButton *OscChButt = nullptr;
    QTimer *Timer1 = nullptr;
    QTimer *WaitTimer = nullptr;
    QTimer *LongJobTimer = nullptr; // guards the board's long jobs, every second
    QTimer *ReconnectTimer = nullptr; // reopens a lost or unopened port, every second
    TSerial *Serial1 = nullptr;
    TOscCalFm *OscCalFm = nullptr;
    // What the fuse panel shows; its controls only draw it (chips/ProjFmChips.cpp).
    std::unique_ptr<TFusePanel> FuseModel;

    QCheckBox *FuseBox(int index) const; // 0..6 for CB1..CB7

    // Start-up and window (app/prog2.cpp).
    void FormCreate();
    void Timer1Timer();
    void FirstTick();
    void HelpButtClick();
    void SetDefaultScreen() override;
    bool FormCloseQuery();
    void FormClose();
    void PasteThePicture(const char *name, int x, int y);
    void PasteNewPicture(const char *name, int x, int y);
    // Device for Serial1 instead of the port of varnel.dat (the built-in
    // virtual board or a named device); empty for the settings file's port.
    std::string DeviceOverride;

    // Chip selection, placement, fuse panel, OSCCAL (chips/ProjFmChips.cpp).
    void ChipSelectChange(int index);
    void PlacementStep();
    void DrawTheSocket();
    void ChipSelector();
    void FuseBoxToggled(int index, bool checked);
    void IdEditChanged(const QString &text);
    void OscillatorChange(int position);
    void CodeProtectChange(int position);
    void UpDateFuseSettings() override;
    void OscChButtClick();
    void ClearFusePanel();

    // Memory pad (view/ProjFmPad.cpp).
    void DrawHexScreen();
    void DrawEepScreen();
    void MemScrollChange(int position);
    void RomEepButtClick();
    void ClearPad() override;
    bool ShowsEeprom() const;

    // HEX files (hexfile/ProjFmHex.cpp).
    void LoadButtClick();
    void SaveButtClick();
    bool RunSave() override;
    void ResetProgData();
    // The load once the file is chosen, for the Load button, a drop and a file
    // named at start: the insert question, the file work with its messages, the
    // OSCCAL question and the refreshed window. True when it loaded.
    bool LoadHexPath(const std::string &path);

    // Files from the desktop: named at start, dropped, watched (app/ProjFmOpen.cpp).
    // Called before the window is shown: places chipIndex (when valid) after
    // the start-up tick, then loads path (when not empty) once a chip is placed.
    void OpenAtStart(int chipIndex, const std::string &path);
    // As a dropped file: refused while a command could not run, kept for
    // the chip when none is placed, else loaded after the save question.
    void OpenFile(const std::string &path);
    // The chip placement has ended: remember the chip and load a waiting file.
    void PlacementEnded();
    // False (--no-watch): a loaded file is not watched for a new version.
    bool WatchFiles = true;
    TFileWatch *Watch = nullptr;
    QTimer *ReloadTimer = nullptr; // retries a reload that had to wait

    // Board link (link/ProjFmLink.cpp).
    void ProgButtClick();
    void ReadButtClick();
    void VerfButtClick();
    void EraseButtClick();
    void CancButtClick();
    void ICSPbuttClick();
    void WaitTimerTimer();
    void LongJobTimerTimer();
    void ReconnectTimerTimer();
    void Serial1RxData();
    // An operation runs: Busy, or an erase or blank test.
    bool OperationRunning() const;
    // A close request while an operation runs: true when the window may go
    // on closing now. Otherwise the operation keeps running (the user said
    // No) or is asked to stop, and the window closes once it has.
    bool OperationAllowsClose();
    // SIGTERM, SIGHUP or SIGINT: the same stop and close, without asking.
    void StopAndClose();
    // Turns the signals of InstallStopSignals into StopAndClose.
    void WatchStopSignals();

    // TFrontPanel
    void SetStatus(const std::string &text) override;
    void SetProgress(int position) override;
    void SetProgressMax(int maximum) override;
    void SetPanelsEnabled(bool enabled) override;
    void StartWaitTimer() override;
    void StopWaitTimer() override;
    bool PlacementRunning() const override;
    std::string IdText() const override;
    void SetIdText(const std::string &text) override;
    bool CodeProtectOnSelected() const override;
    void SetPadScroll(int position) override;
    void RedrawPad() override;
    void ShowBoardPanel() override;
    // Parks BoardPanel out of view, as before the board announced itself.
    void HideBoardPanel();

    // The command guard of the command buttons.
    bool CommandsBlocked() const;

protected:
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

    // "Varnel Programmer V080401  <name>" after a load or a save.
    void SetCaptionFile(const std::string &path);

private:
    void BuildControls();
    void ConnectHandlers();

    // Loading and watching (hexfile/ProjFmHex.cpp, app/ProjFmOpen.cpp).
    void ShowLoadedFile(const std::string &path, bool insert, const TFileStamp &stamp);
    void FollowSavedFile(const std::string &path);
    void SetUpFileOpening();
    // Places the chip asked for at start, or asks for a chip for a waiting file.
    void OpenPending();
    void WatchedFileChanged();
    void ReloadWatchedFile();
    bool WatchInsert = false;    // the watched file was inserted, not loaded alone
    int StartChip = -1;          // the chip to place at start
    std::string PendingFile;     // loads once a chip is placed
    std::string ChipFilePath;    // where the chip chosen last is remembered

    std::unique_ptr<TBoardLink> Link;
    bool Closed = false;
    // Stopping the operation to close: closes again once it has ended.
    void StopThenClose();
    bool CloseAfterStop = false;
    QTimer *CloseTimer = nullptr;
    // Centred on the screen the first time it is shown, and once more when a
    // window manager has put its frame around it.
    void CentreOnScreen();
    void WaitForFrame();
    bool Centred = false;

    friend class TProjFmAccess;
};
