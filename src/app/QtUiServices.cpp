#include "app/QtUiServices.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QAbstractItemView>
#include <QFileDialog>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QAudioDevice>
#include <QLoggingCategory>
#include <QMediaDevices>
#include <QMessageBox>
#include <QSoundEffect>
#include <QStringList>
#include <QTextBrowser>
#include <QThread>
#include <QUrl>

namespace {

Q_LOGGING_CATEGORY(DataFilesLog, "varnelpro.files", QtWarningMsg)

const char *const SoundFiles[4] = {"click.wav", "chin.wav", "tick.wav", "chek.wav"};
const char *const HelpFile = "VarnPro.html";

bool FromDesktop = false;

// A data file from the folders of this run, else the built-in copy under
// qrcFolder.
QUrl DataFileUrl(const char *name, const std::vector<std::string> &folders,
                 const char *qrcFolder)
{
    const std::string path = FindDataFile(name, folders);
    const QString builtIn = QStringLiteral(":/%1/%2").arg(qrcFolder, name);
    const QUrl url = path.empty() ? QUrl(QStringLiteral("qrc") + builtIn)
                                  : QUrl::fromLocalFile(QString::fromStdString(path));
    qCInfo(DataFilesLog).noquote() << name << "->" << url.toString();
    if (path.empty() && !QFile::exists(builtIn))
        qCWarning(DataFilesLog).noquote() << name << "not found, and no built-in copy";
    return url;
}

// The Load and Save dialogs, opening in the current folder. While a full path
// is typed, the dialog's completion selects in its list each folder the text
// passes through, the shown folder too, and at Enter the selection wins over
// the typed name: the dialog "opens" the folder it already shows and empties
// the name field. A typed name is what the user means, so at Enter the name
// field alone decides.
class THexFileDialog : public QFileDialog
{
public:
    explicit THexFileDialog(const TFileDialog &dialog)
        : QFileDialog(QApplication::activeWindow(), QString::fromStdString(dialog.Title),
                      QDir::currentPath(), QtFilter(dialog.Filter))
    {
    }

    void accept() override
    {
        const auto *name = findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
        const auto *list = findChild<QAbstractItemView *>(QStringLiteral("listView"));
        if (name && !name->text().isEmpty() && list && list->selectionModel())
            list->selectionModel()->clearSelection();
        QFileDialog::accept();
    }
};

} // namespace

void SetStartedFromDesktop(bool fromDesktop)
{
    FromDesktop = fromDesktop;
}

TStartPlace ThisStartPlace()
{
    TStartPlace place;
    place.ProgramFolder = QCoreApplication::applicationDirPath().toStdString();
    place.CurrentFolder = QDir::currentPath().toStdString();
    place.HomeFolder = QDir::homePath().toStdString();
    place.DataFolder = InstalledDataFolder(place.ProgramFolder);
    place.FromDesktop = FromDesktop;
    return place;
}

TStartFolders ThisStartFolders()
{
    const TStartFolders folders = StartFolders(ThisStartPlace());
    qCInfo(DataFilesLog).noquote() << "ProgramDir" << QString::fromStdString(folders.ProgramDir)
                                   << "HexDir" << QString::fromStdString(folders.HexDir);
    return folders;
}

QString QtFilter(const std::string &filter)
{
    const QStringList parts = QString::fromStdString(filter).split('|');
    QStringList out;
    for (int i = 0; i + 1 < parts.size(); i += 2)
        out << parts[i] + " (" + QString(parts[i + 1]).replace(';', ' ') + ")";
    return out.join(";;");
}

TQtUiServices::TQtUiServices() = default;

TQtUiServices::~TQtUiServices()
{
    for (QSoundEffect *p : Players)
        delete p;
    delete HelpWindow;
}

void TQtUiServices::OpenDataFiles()
{
    Q_INIT_RESOURCE(varnel); // the built-in copies sit in a static library
    const TStartPlace place = ThisStartPlace();
    const std::vector<std::string> folders =
            DataSearchFolders(place.CurrentFolder, place.DataFolder);
    for (int i = 0; i < 4; ++i) {
        delete Players[i];
        Players[i] = new QSoundEffect;
        Players[i]->setSource(DataFileUrl(SoundFiles[i], folders, "sounds"));
    }
    HelpPage = DataFileUrl(HelpFile, folders, "help");
}

TAnswer TQtUiServices::MessageBox(TBoxKind kind, const std::string &text, TBoxButtons buttons)
{
    QMessageBox box(QApplication::activeWindow());
    box.setWindowTitle(QApplication::applicationName());
    // The program's texts use a carriage return as the line break.
    box.setText(QString::fromStdString(text).replace('\r', '\n'));
    box.setIcon(kind == TBoxKind::Error         ? QMessageBox::Critical
                : kind == TBoxKind::Information ? QMessageBox::Information
                                                : QMessageBox::Question);
    switch (buttons) {
    case TBoxButtons::Ok:
        box.setStandardButtons(QMessageBox::Ok);
        break;
    case TBoxButtons::YesNo:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        break;
    case TBoxButtons::YesNoCancel:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
        break;
    }
    switch (box.exec()) {
    case QMessageBox::Yes:
        return TAnswer::Yes;
    case QMessageBox::No:
        return TAnswer::No;
    case QMessageBox::Cancel:
        return TAnswer::Cancel;
    default:
        return buttons == TBoxButtons::Ok ? TAnswer::Ok
               : buttons == TBoxButtons::YesNo ? TAnswer::No
                                               : TAnswer::Cancel;
    }
}

void TQtUiServices::Beep()
{
    QApplication::beep();
}

void TQtUiServices::PlaySound(TSound sound)
{
    QSoundEffect *p = Players[static_cast<int>(sound)];
    if (!p)
        return;
    p->stop();
    p->play();
}

int TQtUiServices::AudioOutputCount()
{
    return int(QMediaDevices::audioOutputs().size());
}

void TQtUiServices::Pause(int milliseconds)
{
    QThread::msleep(static_cast<unsigned long>(milliseconds));
}

std::string TQtUiServices::OpenFileName(const TFileDialog &dialog)
{
    THexFileDialog fd(dialog);
    fd.setFileMode(QFileDialog::ExistingFile);
    if (fd.exec() != QDialog::Accepted || fd.selectedFiles().isEmpty())
        return {};
    return fd.selectedFiles().first().toStdString();
}

std::string TQtUiServices::SaveFileName(const TFileDialog &dialog)
{
    THexFileDialog fd(dialog);
    fd.setAcceptMode(QFileDialog::AcceptSave);
    fd.setDefaultSuffix(QString::fromStdString(dialog.DefaultExt));
    fd.setOption(QFileDialog::DontConfirmOverwrite, !dialog.AskOverwrite);
    if (fd.exec() != QDialog::Accepted || fd.selectedFiles().isEmpty())
        return {};
    if (dialog.ChosenType)
        *dialog.ChosenType = int(fd.nameFilters().indexOf(fd.selectedNameFilter()));
    return fd.selectedFiles().first().toStdString();
}

void TQtUiServices::ShowHelpContents()
{
    if (!HelpWindow) {
        HelpWindow = new QTextBrowser;
        HelpWindow->setAttribute(Qt::WA_DeleteOnClose);
        HelpWindow->setWindowTitle(QApplication::applicationName() + " Help");
        HelpWindow->setOpenExternalLinks(true);
        HelpWindow->resize(640, 560);
        HelpWindow->setSource(HelpPage);
    }
    HelpWindow->show();
    HelpWindow->raise();
}

void TQtUiServices::CloseHelp()
{
    if (HelpWindow)
        HelpWindow->close();
}
