#pragma once

#include <string>

// Everything that talks to the user or the desktop beyond the window's own
// controls: boxes, file dialogs, sounds, the beep, fixed pauses and help.
// One small interface, so tests can answer the boxes and record the rest.
enum class TBoxKind { Error, Information, Confirmation };
enum class TBoxButtons { Ok, YesNo, YesNoCancel };
enum class TAnswer { Ok, Yes, No, Cancel };
enum class TSound { Click, ChipIn, Tick, Chek };

struct TFileDialog
{
    std::string Title;
    std::string Filter;      // "Hex Files|*.hex|All Files|*.*"
    std::string DefaultExt;  // save dialog only, without the dot
    bool AskOverwrite = false;
    // Save dialog only: when set, receives the position in Filter of the file
    // type the user chose (0 for the first).
    int *ChosenType = nullptr;
};

class TUiServices
{
public:
    virtual ~TUiServices() = default;

    virtual TAnswer MessageBox(TBoxKind kind, const std::string &text,
                               TBoxButtons buttons) = 0;
    // MessageBeep with the default sound
    virtual void Beep() = 0;
    // Starts the sound from its beginning and returns at once.
    virtual void PlaySound(TSound sound) = 0;
    // Number of audio outputs (waveOutGetNumDevs)
    virtual int AudioOutputCount() = 0;
    // Blocking pause of the calling (user-interface) thread.
    virtual void Pause(int milliseconds) = 0;

    // Empty result: the user cancelled. The dialog opens in the current
    // directory.
    virtual std::string OpenFileName(const TFileDialog &dialog) = 0;
    virtual std::string SaveFileName(const TFileDialog &dialog) = 0;

    virtual void ShowHelpContents() = 0;
    virtual void CloseHelp() = 0;
};
