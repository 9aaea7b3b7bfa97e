#pragma once

#include "app/WorkState.h"
#include "chips/FusePanel.h"
#include "cli/CliArgs.h"
#include "cli/CliPanel.h"
#include "cli/CliReport.h"
#include "cli/CliTerminal.h"
#include "link/ByteLine.h"


#include <functional>
#include <memory>

class QEventLoop;
class TBoardLink;
class TSerial;
class TSimulatedBoard;

// The serial component as the link sees it, noting when data last came and,
// once asked to watch, whether a "Q" came while no operation ran.
class TCliLine : public TByteLine
{
public:
    TSerial *Serial = nullptr;
    const TWorkState *Ws = nullptr;
    bool WatchQ = false;
    bool QSeen = false;

    void WriteChar(uint8_t ch) override;
    void WriteString(const std::string &text) override;
    int ReadChar(uint8_t &ch) override;
};

// One board command of the command line, started like the window: open the
// port, send Hello, wait for "PP", then press the operation's button and run
// the event loop until the link is idle and the board has closed.
class TCliSession
{
public:
    TCliSession(const TCliArgs &args, TTerminal &terminal);
    ~TCliSession();

    int Run();

private:
    TCliOp Operation() const;
    int StartBoard();
    int OpenLine();
    int RunOperation();
    int FinishRead(int code);
    int SaveBoard();
    bool OperationDone() const;
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

    QEventLoop *Loop = nullptr;
    std::function<bool()> Done;
};
