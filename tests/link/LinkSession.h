#pragma once

// The board link as the window runs it: the real serial component on the
// virtual board's pseudo-terminal, a 300 ms watchdog timer and the Qt event
// loop. Shared by the end-to-end tests and the benchmark.

#include "LinkFakes.h"
#include "core/WorkState.h"
#include "board/BoardServer.h"
#include "link/BoardLink.h"
#include "link/BoardLine.h"
#include "link/Serial2.h"
#include "support/EventLoop.h"

#include <QEventLoop>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <memory>
#include <sstream>
#include <thread>

// Notes what the host wrote and read, so a session can tell that the board's
// closing "Q" has come after the last End.
class TWatchedLine : public TByteLine
{
public:
    using TClock = std::chrono::steady_clock;

    explicit TWatchedLine(TByteLine &inner) : Inner(inner) {}
    void WriteChar(uint8_t ch) override
    {
        Wrote();
        EndSent = ch == TBoardLink::CmdEnd;
        OnWire(1);
        Inner.WriteChar(ch);
    }
    void WriteString(const std::string &text) override
    {
        Wrote();
        EndSent = false;
        OnWire(text.size());
        Inner.WriteString(text);
    }
    int ReadChar(uint8_t &ch) override
    {
        const int n = Inner.ReadChar(ch);
        if (n == 1) {
            // The paced board sends a reply's first byte when its slot starts;
            // the line delivers it one byte time later.
            if (PaceHost && !Answered)
                std::this_thread::sleep_for(ByteTime);
            LastRead = ch;
            Answered = true;
            LastReadTime = TClock::now();
        }
        return n;
    }
    bool LineLost() const override { return Inner.LineLost(); }
    bool Closed() const { return EndSent && Answered && LastRead == 'Q'; }

    // Host turnaround: last byte read to the next write, once per reply.
    std::vector<double> TurnaroundUs;
    std::vector<double> RoundTripUs; // write to the next write
    long long HostBytes = 0;
    // A pseudo-terminal carries the host's bytes at once; paced, each write
    // reaches the board only after its time on a 19200-baud line (10 bits a
    // byte), and the host waits for it as a write to a real port does.
    bool PaceHost = false;

private:
    static constexpr std::chrono::nanoseconds ByteTime{1000000000 / WireBytesPerSecond};

    void OnWire(size_t count)
    {
        HostBytes += static_cast<long long>(count);
        if (!PaceHost)
            return;
        NextSlot = std::max(NextSlot, TClock::now()) + ByteTime * static_cast<int>(count);
        std::this_thread::sleep_until(NextSlot);
    }

    void Wrote()
    {
        const auto now = TClock::now();
        if (Answered) {
            TurnaroundUs.push_back(
                std::chrono::duration<double, std::micro>(now - LastReadTime).count());
            if (HasWritten)
                RoundTripUs.push_back(
                    std::chrono::duration<double, std::micro>(now - LastWriteTime).count());
        }
        Answered = false;
        HasWritten = true;
        LastWriteTime = now;
    }

    TByteLine &Inner;
    bool EndSent = false, Answered = false, HasWritten = false;
    uint8_t LastRead = 0;
    TClock::time_point LastReadTime, LastWriteTime, NextSlot;
};

// The recording panel with a real watchdog.
class TTimerPanel : public TRecPanel
{
public:
    TTimerPanel(TLog &log, std::function<void()> tick) : TRecPanel(log)
    {
        Timer.setInterval(TBoardLink::WatchdogTickMs);
        QObject::connect(&Timer, &QTimer::timeout, std::move(tick));
    }
    void StartWaitTimer() override
    {
        TRecPanel::StartWaitTimer();
        Timer.start();
    }
    void StopWaitTimer() override
    {
        TRecPanel::StopWaitTimer();
        Timer.stop();
    }

private:
    QTimer Timer;
};

// Boxes recorded as in the unit tests; pauses really block when Sleep is set.
class TSessionUi : public TRecUi
{
public:
    explicit TSessionUi(TLog &log) : TRecUi(log) {}
    void Pause(int ms) override
    {
        TRecUi::Pause(ms);
        PausedMs += ms;
        if (Sleep)
            QThread::msleep(static_cast<unsigned long>(ms));
    }
    bool Sleep = false;
    long long PausedMs = 0;
};

struct TChipKind
{
    const char *Name;
    int RomSize, EepSize, SocketType;
    char Family;
};
inline const TChipKind C671 = {"12C671", 1024, 0, 1, '1'};
inline const TChipKind F84 = {"16F84", 1024, 64, 2, '1'};
inline const TChipKind F877 = {"16F877", 8192, 256, 5, '0'};
inline const TChipKind C73 = {"16C73", 4096, 0, 3, '1'};

class TLinkSession
{
public:
    explicit TLinkSession(const TBoardOptions &options)
        : Server(options), Line(Serial), Panel(Log, [this] { Link.WaitTimerTimer(); }), Ui(Log),
          Link(Ws, Panel, Ui, Line)
    {
        Path = Server.Start();
        SetBoardLineFormat(Serial);
        Serial.NotifyErrors = neNone;
        Serial.SetDevicePath(Path);
        Serial.OnRxData = [this](QObject *) { Link.Serial1RxData(); };
        Serial.SetActive(true);
    }
    ~TLinkSession()
    {
        Serial.SetActive(false);
        Server.Stop();
    }
    bool Up() const { return !Path.empty() && Serial.Active(); }

    void Chip(const TChipKind &chip)
    {
        Ws.RomSize = chip.RomSize;
        Ws.EepSize = chip.EepSize;
        Ws.SocketType = chip.SocketType;
        Ws.FamilyChar = chip.Family;
    }
    // Presses a button and runs the event loop until the board has closed the
    // operation with "Q" (or the watchdog has ended it).
    bool Run(const std::function<void()> &press, int timeoutMs = 60000)
    {
        press();
        return RunEventLoopUntil(
            [this] {
                return Ws.OpStep == -1 && !Panel.TimerOn
                       && (Line.Closed() || !Only(Log, {"box:error:No response"}).empty());
            },
            timeoutMs);
    }

    TLog Log;
    TWorkState Ws;
    TBoardServer Server;
    TSerial Serial;
    TWatchedLine Line;
    TTimerPanel Panel;
    TSessionUi Ui;
    TBoardLink Link;
    std::string Path;
};

// Host and board bytes of a trace file.
struct TTraceBytes
{
    std::string Host, Board;
};

inline TTraceBytes ReadTrace(const std::string &path)
{
    TTraceBytes out;
    std::ifstream file(path);
    std::string line;
    while (std::getline(file, line)) {
        std::istringstream in(line);
        std::string time, dir, token;
        in >> time >> dir;
        std::string &to = dir == "host" ? out.Host : out.Board;
        while (in >> token) {
            if (token.front() == '"')
                to += token.substr(1, token.size() - 2);
            else
                to += static_cast<char>(std::stoi(token, nullptr, 16));
        }
    }
    return out;
}
