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
    bool Cable = false;        // both ways at that rate, each byte there after its wire time
    int SplitDelayMs = 0;      // > 0: every reply in single bytes, this far apart
    int DelayMs = 0;           // processing time before each reply
    int LateQMs = 0;           // > 0: the first "Q" waits this much longer
    long long HangupAfter = 0; // > 0: close the line after sending this many bytes
    int UsbLatencyMs = 0;      // > 0: hold every reply shorter than a USB packet this long
    int CutFailMs = 0;         // > 0: a failed word's reply stops after "F" and one byte this long
    std::string EarlyBytes;    // waiting on the line before the host first opens it
    bool TimeTurnaround = false; // note the host's turnaround (TakeTurnaroundUs)
    std::string TracePath;     // non-empty: trace of both directions to this file
    std::string ImagePath;     // non-empty: INHX8M file loaded into the chip
};

inline constexpr int WireBytesPerSecond = 1920; // 19200 baud, 10 bits a byte
// A USB serial adapter sends a full packet's payload at once; anything shorter
// waits in the adapter until its latency timer runs out.
inline constexpr size_t UsbPacketPayload = 62;

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

    // The host's turnaround as the board sees it: from writing the last byte of
    // a reply to the arrival of the host's next byte, in microseconds, one
    // value per answered reply (with TimeTurnaround). Clears the record.
    std::vector<double> TakeTurnaroundUs();

    TBoardChip ChipSnapshot() const;
    void SetChip(const TBoardChip &chip);

private:
    using TClock = std::chrono::steady_clock;

    void Serve();
    void HandleInput(const uint8_t *data, size_t count, TClock::time_point at);
    void SendReply(const std::vector<uint8_t> &reply);
    // Delays, holds and paces the reply as the options say; false when cut short.
    bool SendBytes(const std::vector<uint8_t> &reply);
    bool WriteAll(const uint8_t *data, size_t count);
    // Sleeps until t unless Stop() comes first; false when stopping.
    bool SleepUntil(TClock::time_point t);
    void HangUp();
    void CloseLine();
    double Now() const;
    void Fail(const std::string &what);
    void NoteArrival(TClock::time_point at);

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
    bool FQSent = false; // a "Q" has gone out (--late-q holds only the first)
    TClock::time_point FEpoch;
    TClock::time_point FNextSlot;
    TClock::time_point FInSlot; // when the host's last byte has come down the wire
    std::mutex FTimesLock;
    std::vector<double> FTurnaroundUs;
    TClock::time_point FReplySentAt;
    bool FReplyAwaitsHost = false;
};

// The board behind the main program's --simulate: a started server, or null
// with *error set (when error is given).
std::unique_ptr<TBoardServer> StartSimulatedBoard(const TBoardOptions &options,
                                                  std::string *error = nullptr);
