#pragma once

// Recording stand-ins for the window, the desktop services and the line.
// Everything they see goes into one log, in order, so a test can check the
// order of bytes, boxes, pauses and watchdog calls.

#include "core/FrontPanel.h"
#include "core/UiServices.h"
#include "link/ByteLine.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

using TLog = std::vector<std::string>;

inline std::string HexBytes(const std::string &bytes)
{
    static const char Digits[] = "0123456789ABCDEF";
    std::string text;
    for (unsigned char b : bytes) {
        if (!text.empty())
            text += ' ';
        text += Digits[b >> 4];
        text += Digits[b & 15];
    }
    return text;
}

// Entries of log that start with one of prefixes, in order.
inline TLog Only(const TLog &log, const std::vector<std::string> &prefixes)
{
    TLog out;
    for (const std::string &entry : log) {
        for (const std::string &p : prefixes) {
            if (entry.compare(0, p.size(), p) == 0) {
                out.push_back(entry);
                break;
            }
        }
    }
    return out;
}

// Host writes are logged "c:0E" (WriteChar) and "s:00 31" (WriteString).
// Board bytes wait in Queue; a test or a board releases them to ReadChar.
class TScriptLine : public TByteLine
{
public:
    explicit TScriptLine(TLog &log) : Log(log) {}
    void WriteChar(uint8_t ch) override
    {
        const std::string byte(1, static_cast<char>(ch));
        Log.push_back("c:" + HexBytes(byte));
        Written(byte);
    }
    void WriteString(const std::string &text) override
    {
        Log.push_back("s:" + HexBytes(text));
        Written(text);
    }
    int ReadChar(uint8_t &ch) override
    {
        if (Released == 0 || Queue.empty())
            return 0;
        ch = Queue.front();
        Queue.pop_front();
        --Released;
        return 1;
    }
    bool LineLost() const override { return Lost; }

    std::string Sent;                     // every host byte
    std::deque<uint8_t> Queue;            // board bytes not yet read
    size_t Released = 0;                  // of Queue, readable now
    bool Lost = false;                    // the line hung up
    std::function<void(const std::string &)> OnWrite; // a board model

private:
    void Written(const std::string &bytes)
    {
        Sent += bytes;
        if (OnWrite)
            OnWrite(bytes);
    }
    TLog &Log;
};

class TRecPanel : public TFrontPanel
{
public:
    explicit TRecPanel(TLog &log) : Log(log) {}
    void SetStatus(const std::string &text) override
    {
        Status = text;
        Log.push_back("status:" + text);
    }
    void SetProgress(int position) override { Progress = position; }
    void SetProgressMax(int maximum) override { ProgressMax = maximum; }
    void SetPanelsEnabled(bool enabled) override { PanelsEnabled = enabled; }
    void StartWaitTimer() override { TimerOn = true; Log.push_back("timer:start"); }
    void StopWaitTimer() override { TimerOn = false; Log.push_back("timer:stop"); }
    bool PlacementRunning() const override { return Placement; }
    std::string IdText() const override { return Id; }
    void SetIdText(const std::string &text) override { Id = text; }
    bool CodeProtectOnSelected() const override { return CodeProtectOn; }
    void ClearPad() override { Log.push_back("pad:clear"); }
    void SetPadScroll(int position) override
    {
        Log.push_back("scroll:" + std::to_string(position));
    }
    void RedrawPad() override { Log.push_back("pad:redraw"); }
    void UpDateFuseSettings() override { Log.push_back("fuses"); }
    void SetDefaultScreen() override { Log.push_back("default"); }
    void ShowBoardPanel() override { Log.push_back("boardpanel"); }
    bool RunSave() override { Log.push_back("save"); return SaveResult; }

    std::string Status, Id;
    int Progress = 0, ProgressMax = 0;
    bool PanelsEnabled = true, TimerOn = false, Placement = false;
    bool CodeProtectOn = false, SaveResult = true;

private:
    TLog &Log;
};

// Boxes are logged "box:error:text", "box:info:text", "box:ask:text" and
// answered from Answers (Ok once it is empty).
class TRecUi : public TUiServices
{
public:
    explicit TRecUi(TLog &log) : Log(log) {}
    TAnswer MessageBox(TBoxKind kind, const std::string &text, TBoxButtons) override
    {
        static const char *const Kinds[] = {"error", "info", "ask"};
        Log.push_back(std::string("box:") + Kinds[static_cast<int>(kind)] + ":" + text);
        if (WhileBoxOpen)
            WhileBoxOpen();
        if (Answers.empty())
            return TAnswer::Ok;
        const TAnswer answer = Answers.front();
        Answers.pop_front();
        return answer;
    }
    void Beep() override { Log.push_back("beep"); }
    void PlaySound(TSound sound) override
    {
        Log.push_back(sound == TSound::Chek ? "sound:chek" : "sound:other");
    }
    int AudioOutputCount() override { return 1; }
    void Pause(int ms) override { Log.push_back("pause:" + std::to_string(ms)); }
    std::string OpenFileName(const TFileDialog &) override { return std::string(); }
    std::string SaveFileName(const TFileDialog &) override { return std::string(); }
    void ShowHelpContents() override {}
    void CloseHelp() override {}

    std::deque<TAnswer> Answers;
    std::function<void()> WhileBoxOpen;

private:
    TLog &Log;
};
