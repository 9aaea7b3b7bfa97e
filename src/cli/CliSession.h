#pragma once

#include "core/WorkState.h"
#include "chips/FusePanel.h"
#include "cli/CliArgs.h"
#include "cli/CliPanel.h"
#include "cli/CliReport.h"
#include "cli/CliSerial.h"
#include "cli/CliTerminal.h"
#include "link/ByteLine.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QEventLoop;
class QSocketNotifier;
class TBoardLink;
class TSerial;
class TSimulatedBoard;
struct TImageValues;

// The serial component as the link sees it, noting when data last came and,
// once asked to watch, whether a "Q" came while no operation ran.
class TCliLine : public TByteLine
{
public:
    TSerial *Serial = nullptr;
    const TWorkState *Ws = nullptr;
    bool WatchQ = false;
    bool QSeen = false;
    // The last operation's "Q" was given up on: if it still comes, it comes
    // ahead of the next operation's first reply and is not part of it.
    bool DropLateQ = false;

    void WriteChar(uint8_t ch) override;
    void WriteString(const std::string &text) override;
    int ReadChar(uint8_t &ch) override;
    bool LineLost() const override;
};

// One board command of the command line, started like the window: open the
// port, send Hello, wait for "PP", then press the operation's button and run
// the event loop until the link is idle and the board has closed. Program may
// add a Read before it (--keep-osccal) and a Verify after it (--verify), and
// repeat for chip after chip (--repeat).
class TCliSession
{
public:
    TCliSession(const TCliArgs &args, TTerminal &terminal);
    ~TCliSession();

    int Run();

    // Several boards at once: the lead session prepares once (chip, file,
    // checks, the serial numbers); each board's own session takes that over
    // and runs chip after chip on its device, in a thread of its own.
    int Prepare();
    void TakePrepared(TCliSession &lead);
    int OpenBoard();
    int RunChip();
    // Closes the line and, when nothing was logged yet, logs code.
    int Finish(int code);
    TTermUi &Questions() { return Ui; }
    const TWorkState &Image() const { return Ws; }
    // The ID sent to or read from the chip of the last command, -1 for none.
    int32_t LastId() const { return LogId; }
    TSerialPool &SerialNumbers() { return *Serials; }
    // Program would ask first: the chip warns and its code protection is on.
    bool AsksCodeProtect() const;

private:
    TCliOp Operation() const;
    int StartBoard();
    // Stops the line and its handlers; the port object stays for the log.
    void CloseLine();
    int OpenLine();
    int RunRepeat();
    int RunOperation(TCliOp op);
    int ProgramChip();
    int KeepChipOscCal();
    int VerifyAll();
    // A full Read through the link; the file's image and the fuse panel are
    // put back afterwards, what the chip holds goes to chip.
    int ReadChipKeepingImage(TImageValues &chip);
    int FinishRead(int code);
    // Takes the chip's number into the ID field; after the chip, keeps it,
    // gives it back or skips it as the chip's result says.
    int TakeSerial(uint32_t &number);
    int SettleSerial(uint32_t number, int code, size_t firstBox);
    void SayUsedUp(uint32_t number);
    int SaveBoard();
    int WriteLog(int code);
    bool LineLost() const;
    bool OperationFinished() const;
    // SIGINT, SIGTERM or SIGHUP: the running operation is asked to stop as the
    // Cancel button asks it; a bulk erase or blank test runs to its end.
    void WatchStopSignals();
    void StopSignalled();
    // The board job that no Cancel reaches, running now; null when none.
    const char *UnstoppableJob() const;
    // "Cancelled." once, and the status of the signal that stopped the run.
    int Cancelled();
    // Runs the event loop until done() holds or timeoutMs passes (0: no limit).
    bool RunUntil(std::function<bool()> done, int timeoutMs);
    void Poke();

    const TCliArgs &Args;
    TTerminal &Terminal;
    TWorkState Ws;
    TFusePanel Fuses;
    TTermUi Ui;
    TTermPanel Panel;
    TCliLine Line;
    std::unique_ptr<TSimulatedBoard> Board;
    std::unique_ptr<TBoardLink> Link;
    // Declared last: it stops handing events over before the rest goes.
    std::unique_ptr<TSerial> Serial;

    // This run's numbers; several boards of one command share one pool.
    TSerialPool OwnSerials;
    TSerialPool *Serials = &OwnSerials;
    bool SerialSaveFailed = false;
    std::string FileSha256; // of the bytes loaded, "" when no file was loaded
    bool Logged = false;
    int32_t LogId = -1; // the ID and configuration word sent or read
    int32_t LogConfig = -1;

    // --keep-osccal: the program words as the file gave them.
    std::vector<std::string> FileRom; // the file's words, for --keep-osccal
    QEventLoop *Loop = nullptr;
    std::function<bool()> Done;
    std::unique_ptr<QSocketNotifier> StopNotifier;
    bool CancelledSaid = false;
};
