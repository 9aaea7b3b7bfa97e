#pragma once

#include "app/AppFolders.h"
#include "core/UiServices.h"

#include <QPointer>
#include <QUrl>

#include <array>
#include <memory>

class QSoundEffect;
class QTextBrowser;

// The desktop side of TUiServices: Qt message boxes and file dialogs, wave
// players for the four sounds, the system beep and the help window.
class TQtUiServices : public TUiServices
{
public:
    TQtUiServices();
    ~TQtUiServices() override;

    // Opens the four wave files and picks the help page: each from the
    // current folder, else the installed data folder, else the copy built
    // into the program. Category "varnelpro.files" (info) names each choice.
    void OpenDataFiles();

    TAnswer MessageBox(TBoxKind kind, const std::string &text, TBoxButtons buttons) override;
    void Beep() override;
    void PlaySound(TSound sound) override;
    int AudioOutputCount() override;
    void Pause(int milliseconds) override;
    std::string OpenFileName(const TFileDialog &dialog) override;
    std::string SaveFileName(const TFileDialog &dialog) override;
    void ShowHelpContents() override;
    void CloseHelp() override;

private:
    std::array<QSoundEffect *, 4> Players{};
    QPointer<QTextBrowser> HelpWindow;
    QUrl HelpPage;
};

// Where this run stands: the program's, current, home and installed data
// folders, and whether the desktop entry started it.
TStartPlace ThisStartPlace();
// ProgramDir and HexDir for this run; "varnelpro.files" (info) names them.
TStartFolders ThisStartFolders();
// Set by the program entry before the window is created.
void SetStartedFromDesktop(bool fromDesktop);

// "Hex Files|*.hex|All Files|*.*" in the form a Qt file dialog takes.
QString QtFilter(const std::string &filter);
