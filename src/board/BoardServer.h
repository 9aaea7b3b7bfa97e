#pragma once

#include "board/BoardTrace.h"
#include "board/VirtualBoard.h"

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

// Everything the served board can be asked to do: the byte-level faults of the
// emulator plus the timing of the line, which only the transport knows.
struct TBoardOptions
{
    TBoardFaults Faults;
    bool Pace = false;         // output at the wire rate of 19200 baud 8N1
    int SplitDelayMs = 0;      // > 0: every reply in single bytes, this far apart
    int DelayMs = 0;           // processing time before each reply
    long long HangupAfter = 0; // > 0: close the line after sending this many bytes
    std::string TracePath;     // non-empty: trace of both directions to this file
    std::string ImagePath;     // non-empty: INHX8M file loaded into the chip
};

inline constexpr int WireBytesPerSecond = 1920; // 19200 baud, 10 bits a byte

// Serves a TVirtualBoard on the master end of a pseudo-terminal from a
// background thread; the host opens DevicePath() as its serial port and may
// close and reopen it at will until Stop().
class TBoardServer
{
public:
    explicit TBoardServer(const TBoardOptions &options);
    ~TBoardServer();
    TBoardServer(const TBoardServer &) = delete;
    TBoardServer &operator=(const TBoardServer &) = delete;

    // Loads the image, opens the pseudo-terminal and starts serving. Returns the
    // slave device path, or "" with LastError() set.
    std::string Start();
    // Ends the thread and closes the line; safe to call twice.
    void Stop();

    bool Running() const { return FThread.joinable(); }
    bool HungUp() const { return FHungUp; }
    const std::string &DevicePath() const { return FPath; }
    const std::string &LastError() const { return FError; }
    long long BytesSent() const { return FSent; }

    TBoardChip ChipSnapshot() const;
    void SetChip(const TBoardChip &chip);

private:
    using TClock = std::chrono::steady_clock;

    void Serve();
    void HandleInput(const uint8_t *data, size_t count);
    void SendReply(const std::vector<uint8_t> &reply);
    bool WriteAll(const uint8_t *data, size_t count);
    // Sleeps until t unless Stop() comes first; false when stopping.
    bool SleepUntil(TClock::time_point t);
    void HangUp();
    void CloseLine();
    double Now() const;
    void Fail(const std::string &what);

    TBoardOptions FOptions;
    mutable std::mutex FBoardLock;
    TVirtualBoard FBoard;
    std::vector<std::vector<uint8_t>> FReplies; // filled by the board's sink
    TTraceWriter FTrace;

    int FMaster = -1;
    int FSlaveHold = -1; // keeps the line up between the host's opens
    int FWake[2] = {-1, -1};
    std::string FPath;
    std::string FError;
    std::thread FThread;
    std::atomic<bool> FStopping{false};
    std::atomic<bool> FHungUp{false};
    std::atomic<long long> FSent{0};
    TClock::time_point FEpoch;
    TClock::time_point FNextSlot;
};

// The board behind the main program's --simulate: a started server, or null
// with *error set (when error is given).
std::unique_ptr<TBoardServer> StartSimulatedBoard(const TBoardOptions &options,
                                                  std::string *error = nullptr);
