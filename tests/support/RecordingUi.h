#pragma once

#include "core/UiServices.h"

#include <deque>
#include <filesystem>
#include <string>
#include <vector>

// A TUiServices for tests: answers boxes and dialogs from queues and records
// every box, beep, sound and pause in the order they happened.
class TRecordingUi : public TUiServices
{
public:
    struct TBox
    {
        TBoxKind Kind;
        std::string Text;
        TBoxButtons Buttons;
    };

    std::vector<TBox> Boxes;
    std::vector<std::string> Events; // "beep", "sound:Chek", "pause:500", "box:<text>"
    std::deque<TAnswer> Answers;     // empty: Ok / No / Cancel, the safe answer
    std::deque<std::string> OpenNames;
    std::deque<std::string> SaveNames;
    std::deque<int> SaveTypes; // the file type chosen in each save dialog; empty: the first
    std::vector<std::string> DialogDirs; // the current folder as each dialog opened
    std::vector<TFileDialog> Dialogs;
    int Outputs = 0;
    int Beeps = 0;
    int HelpShown = 0;
    int HelpClosed = 0;

    TAnswer MessageBox(TBoxKind kind, const std::string &text, TBoxButtons buttons) override
    {
        Boxes.push_back({kind, text, buttons});
        Events.push_back("box:" + text);
        if (!Answers.empty()) {
            const TAnswer a = Answers.front();
            Answers.pop_front();
            return a;
        }
        switch (buttons) {
        case TBoxButtons::Ok:
            return TAnswer::Ok;
        case TBoxButtons::YesNo:
            return TAnswer::No;
        case TBoxButtons::YesNoCancel:
            return TAnswer::Cancel;
        }
        return TAnswer::Ok;
    }
    void Beep() override
    {
        ++Beeps;
        Events.push_back("beep");
    }
    void PlaySound(TSound sound) override
    {
        static const char *const names[] = {"Click", "ChipIn", "Tick", "Chek"};
        Events.push_back(std::string("sound:") + names[static_cast<int>(sound)]);
    }
    int AudioOutputCount() override { return Outputs; }
    void Pause(int milliseconds) override
    {
        Events.push_back("pause:" + std::to_string(milliseconds));
    }
    std::string OpenFileName(const TFileDialog &dialog) override
    {
        Dialogs.push_back(dialog);
        DialogDirs.push_back(std::filesystem::current_path().string());
        return Take(OpenNames);
    }
    std::string SaveFileName(const TFileDialog &dialog) override
    {
        Dialogs.push_back(dialog);
        DialogDirs.push_back(std::filesystem::current_path().string());
        int type = 0;
        if (!SaveTypes.empty()) {
            type = SaveTypes.front();
            SaveTypes.pop_front();
        }
        if (dialog.ChosenType)
            *dialog.ChosenType = type;
        return Take(SaveNames);
    }
    void ShowHelpContents() override { ++HelpShown; }
    void CloseHelp() override { ++HelpClosed; }

    std::vector<std::string> BoxTexts() const
    {
        std::vector<std::string> texts;
        for (const TBox &b : Boxes)
            texts.push_back(b.Text);
        return texts;
    }

private:
    static std::string Take(std::deque<std::string> &q)
    {
        if (q.empty())
            return {};
        std::string s = q.front();
        q.pop_front();
        return s;
    }
};
