// The HEX file handlers of the main window: Load and Save.
#include "app/AppFolders.h"
#include "app/FileWatch.h"
#include "core/UiServices.h"
#include "app/prog2.h"
#include "app/osc.h"
#include "hexfile/HexReader.h"
#include "hexfile/HexWriter.h"
#include "view/HexText.h"

#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>

namespace {

void SetCurrentDir(const std::string &dir)
{
    if (!dir.empty())
        QDir::setCurrent(QString::fromStdString(dir));
}

// The save dialog's file types: INHX8M first, as every save that does not ask.
const char *const SaveFilter = "HexFiles|*.hex|INHX32|*.hex|All Files|*.*";
constexpr int Inhx32SaveType = 1;

std::string FolderOf(const std::string &path)
{
    return WithSeparator(QFileInfo(QString::fromStdString(path)).absolutePath().toStdString());
}

} // namespace

void TProjFm::LoadButtClick()
{
    if (CommandsBlocked())
        return;
    if (ChipSelect->currentIndex() == -1) {
        Ui.Beep();
        Ui.MessageBox(TBoxKind::Error, "Please select a chip before loading data file.",
                      TBoxButtons::Ok);
        return;
    }
    SetStatus("Loading");
    SetCurrentDir(WorkState.HexDir);
    TFileDialog dialog;
    dialog.Title = "Open HEX File";
    dialog.Filter = "Hex Files|*.hex|All Files|*.*";
    const std::string path = Ui.OpenFileName(dialog);
    if (path.empty()) {
        SetStatus("Program Ready");
        SetCurrentDir(WorkState.ProgramDir);
        return;
    }
    LoadHexPath(path);
}

bool TProjFm::LoadHexPath(const std::string &path)
{
    repaint();
    bool insert = false;
    if (!WorkState.RomData.empty() || !WorkState.EepData.empty()) {
        insert = Ui.MessageBox(TBoxKind::Confirmation, "Do you want to insert the new data?",
                               TBoxButtons::YesNo)
                 == TAnswer::Yes;
    }
    // Stamped before the read, so a version written meanwhile is seen as new.
    const TFileStamp stamp = StampOf(path);
    const THexLoadOutcome outcome = LoadHexFile(WorkState, path, insert);
    if (outcome.Status != THexLoadStatus::Ok) {
        Ui.Beep();
        Ui.MessageBox(TBoxKind::Error, outcome.Message, TBoxButtons::Ok);
        SetStatus("File Error");
        if (outcome.Status != THexLoadStatus::Refused) {
            ResetProgData();
            Watch->Stop(); // the image it watched for is gone
        }
        return false;
    }
    ShowLoadedFile(path, insert, stamp);
    SetStatus("Program Ready");
    SetCurrentDir(WorkState.ProgramDir);
    return true;
}

void TProjFm::ShowLoadedFile(const std::string &path, bool insert, const TFileStamp &stamp)
{
    if (WorkState.OscCalFamily) {
        OscCalFm->PrepareRetlw();
        if (OscCalWordMissing(WorkState)) {
            Ui.Beep();
            const TAnswer a = Ui.MessageBox(
                TBoxKind::Confirmation,
                "There is no OSCCAL value listed in the HEX file.\r\r"
                "Would you like to insert one?",
                TBoxButtons::YesNo);
            if (a == TAnswer::Yes)
                OscCalFm->Execute("FF");
        }
    }

    // The EEPROM view may have left its own maximum on the scroll bar.
    MemScroll->setMaximum(RomScrollMax(WorkState.RomSize));
    MemScroll->setValue(0);
    SetCaptionFile(path);
    WorkState.HexDir = FolderOf(path);
    DrawHexScreen();
    RomEepButt->setText(QStringLiteral("EEPRO&M"));
    UpDateFuseSettings();
    WorkState.NewDataListed = false;
    WatchInsert = insert;
    if (WatchFiles)
        Watch->Watch(path, stamp);
}

void TProjFm::SaveButtClick()
{
    RunSave();
}

bool TProjFm::RunSave()
{
    if (CommandsBlocked())
        return false;
    if (WorkState.RomData.empty() && WorkState.EepData.empty())
        return false;
    SetStatus("Saving");
    TFileDialog dialog;
    dialog.Title = "Save HEX File";
    dialog.Filter = SaveFilter;
    dialog.DefaultExt = "hex";
    dialog.AskOverwrite = true;
    int type = 0;
    dialog.ChosenType = &type;
    const std::string path = Ui.SaveFileName(dialog);
    bool saved = false;
    if (!path.empty()) {
        const THexFormat format = type == Inhx32SaveType ? THexFormat::Inhx32
                                                         : THexFormat::Inhx8m;
        saved = SaveINHX8MFile(WorkState, IdText(), path, format);
        if (saved) {
            WorkState.HexDir = FolderOf(path);
            SetCaptionFile(path);
            WorkState.NewDataListed = false;
            FollowSavedFile(path);
        } else {
            Ui.Beep();
            Ui.MessageBox(TBoxKind::Error, SaveProblemMessage, TBoxButtons::Ok);
        }
    }
    SetStatus("Program Ready");
    SetCurrentDir(WorkState.ProgramDir);
    return saved;
}

// The image reset after a failed load, and the window showing it: an empty
// pad and the reset configuration word and ID.
void TProjFm::ResetProgData()
{
    ::ResetProgData(WorkState);
    ClearPad();
    UpDateFuseSettings();
}
