#pragma once

#include "app/UiServices.h"

#include <QPointer>

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

    // Opens the four wave files of the current directory; a missing or
    // unreadable file just stays silent.
    void OpenSounds();

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
};

// "Hex Files|*.hex|All Files|*.*" in the form a Qt file dialog takes.
QString QtFilter(const std::string &filter);
