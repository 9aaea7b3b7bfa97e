// The HEX file handlers of the main window: Load and Save.
#include "app/AppFolders.h"
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
    repaint();

    bool insert = false;
    if (!WorkState.RomData.empty() || !WorkState.EepData.empty()) {
        insert = Ui.MessageBox(TBoxKind::Confirmation, "Do you want to insert the new data?",
                               TBoxButtons::YesNo)
                 == TAnswer::Yes;
    }
    const THexLoadOutcome outcome = LoadHexFile(WorkState, path, insert);
    if (outcome.Status != THexLoadStatus::Ok) {
        Ui.Beep();
        Ui.MessageBox(TBoxKind::Error, outcome.Message, TBoxButtons::Ok);
        SetStatus("File Error");
        if (outcome.Status != THexLoadStatus::Refused)
            ResetProgData();
        return;
    }

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
    SetStatus("Program Ready");
    SetCurrentDir(WorkState.ProgramDir);
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
    dialog.Filter = "HexFiles|*.hex|All Files|*.*";
    dialog.DefaultExt = "hex";
    dialog.AskOverwrite = true;
    const std::string path = Ui.SaveFileName(dialog);
    bool saved = false;
    if (!path.empty()) {
        saved = SaveINHX8MFile(WorkState, IdText(), path);
        if (saved) {
            WorkState.HexDir = FolderOf(path);
            SetCaptionFile(path);
            WorkState.NewDataListed = false;
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
