// Files that reach the window from the desktop: named when the program starts,
// dropped on the window, and rebuilt on disk while loaded. Each goes through
// the load of the Load button (LoadHexPath), without its dialog.
#include "app/FileWatch.h"
#include "app/Settings.h"
#include "app/prog2.h"
#include "chips/ChipCatalogue.h"
#include "core/UiServices.h"
#include "hexfile/HexReader.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QLabel>
#include <QMimeData>
#include <QTimer>
#include <QUrl>

namespace {

constexpr int ReloadRetryMs = 250; // looks again while a reload has to wait

std::string FileName(const std::string &path)
{
    return QFileInfo(QString::fromStdString(path)).fileName().toStdString();
}

// The one local .hex file a drop carries, or empty for any other drop.
std::string DroppedHexFile(const QMimeData *data)
{
    if (!data || !data->hasUrls() || data->urls().size() != 1)
        return {};
    const QUrl url = data->urls().first();
    if (!url.isLocalFile())
        return {};
    const QFileInfo file(url.toLocalFile());
    if (file.suffix().compare(QStringLiteral("hex"), Qt::CaseInsensitive) != 0)
        return {};
    return file.absoluteFilePath().toStdString();
}

} // namespace

void TProjFm::SetUpFileOpening()
{
    // Beside varnel.dat, which the start-up tick reads from this folder; a
    // load later makes another folder current.
    ChipFilePath = QDir::current().absoluteFilePath(QString::fromLatin1(ChipSettingsFileName))
                           .toStdString();
    setAcceptDrops(true);
    Watch = new TFileWatch(this);
    Watch->OnChanged = [this] { WatchedFileChanged(); };
    ReloadTimer = new QTimer(this);
    ReloadTimer->setSingleShot(true);
    ReloadTimer->setInterval(ReloadRetryMs);
    connect(ReloadTimer, &QTimer::timeout, this, &TProjFm::WatchedFileChanged);
}

void TProjFm::OpenAtStart(int chipIndex, const std::string &path)
{
    StartChip = chipIndex;
    PendingFile = path;
}

void TProjFm::OpenPending()
{
    if (ValidChipIndex(StartChip)) {
        ChipSelect->setCurrentIndex(StartChip);
        ChipSelectChange(StartChip);
    } else if (!PendingFile.empty()) {
        SetStatus("Choose the chip for " + FileName(PendingFile));
    }
}

void TProjFm::PlacementEnded()
{
    StartChip = -1;
    RememberChip(ChipFilePath, ChipSelect->currentIndex());
    Watch->Stop(); // the image it watched for is gone with the new chip
    if (PendingFile.empty())
        return;
    const std::string path = PendingFile;
    PendingFile.clear();
    SetStatus("Loading");
    LoadHexPath(path);
}

void TProjFm::OpenFile(const std::string &path)
{
    // An erase or a blank test is no Busy operation, but one all the same.
    if (CommandsBlocked() || OperationRunning()) {
        Ui.Beep();
        Ui.MessageBox(TBoxKind::Error, LoadProblemMessage, TBoxButtons::Ok);
        return;
    }
    if (ChipSelect->currentIndex() == -1) {
        PendingFile = path;
        OpenPending();
        return;
    }
    if (!UnsavedDataMayGo(WorkState, *this, Ui))
        return;
    SetStatus("Loading");
    LoadHexPath(path);
}

void TProjFm::dragEnterEvent(QDragEnterEvent *event)
{
    if (!DroppedHexFile(event->mimeData()).empty())
        event->acceptProposedAction();
}

void TProjFm::dropEvent(QDropEvent *event)
{
    const std::string path = DroppedHexFile(event->mimeData());
    if (path.empty())
        return;
    event->acceptProposedAction();
    // Answered after the drop has returned, so the dragging program is not
    // held while the questions wait.
    QTimer::singleShot(0, this, [this, path] { OpenFile(path); });
}

void TProjFm::FollowSavedFile(const std::string &path)
{
    if (!Watch->Watching())
        return;
    const QString saved = QFileInfo(QString::fromStdString(path)).absoluteFilePath();
    if (saved.toStdString() == Watch->WatchedPath())
        Watch->Watch(path, StampOf(path)); // our own write is no new version
    else
        Watch->Stop(); // the window now shows the saved file
}

void TProjFm::WatchedFileChanged()
{
    if (!Watch->Watching())
        return;
    // Not in the middle of an operation, a placement or any dialog.
    if (CommandsBlocked() || OperationRunning() || QApplication::activeModalWidget()) {
        ReloadTimer->start();
        return;
    }
    ReloadTimer->stop();
    Watch->Handled();
    if (!Watch->Reported().Exists) {
        SetStatus(FileName(Watch->WatchedPath()) + " is gone"); // the image stays
        return;
    }
    if (!UnsavedDataMayGo(WorkState, *this, Ui))
        return;
    ReloadWatchedFile();
}

// Into a copy first: a version that does not load leaves the window's image.
void TProjFm::ReloadWatchedFile()
{
    const std::string path = Watch->WatchedPath();
    const TFileStamp stamp = StampOf(path);
    TWorkState loaded = WorkState;
    const THexLoadOutcome outcome = LoadHexFile(loaded, path, WatchInsert);
    if (outcome.Status != THexLoadStatus::Ok) {
        SetStatus(FileName(path) + " not reloaded");
        StatusLabel->setToolTip(QString::fromStdString(LoadFailureText(outcome, path)));
        return;
    }
    WorkState.RomData = std::move(loaded.RomData);
    WorkState.EepData = std::move(loaded.EepData);
    WorkState.FuseWord = loaded.FuseWord;
    WorkState.IdValue = loaded.IdValue;
    WorkState.HexLines = std::move(loaded.HexLines);
    WorkState.InsertMode = loaded.InsertMode;
    WorkState.ExtractPos = loaded.ExtractPos;
    StatusLabel->setToolTip({});
    ShowLoadedFile(path, WatchInsert, stamp);
    SetStatus("Reloaded " + FileName(path));
}
