#include "cli/CliSession.h"

#include "board/BoardArgs.h"
#include "board/SimulatedBoard.h"
#include "cli/CliImage.h"
#include "hexfile/HexWriter.h"
#include "link/BoardLink.h"
#include "link/Serial2.h"
#include "view/HexText.h"

#include <QEventLoop>
#include <QTimer>

#include <cstring>

namespace {

constexpr int HelloWaitMs = 2000;
// The closing "Q" of a Read is awaited as long as the watchdog would wait.
constexpr int CloseWaitMs = 3000;
// Bulk erase and blank test run without the watchdog; a board that stays
// silent there still must not hang a script.
constexpr int LongJobTickMs = 1000;

constexpr char NoResponseMessage[] = "No response from programmer board";
constexpr char PortProblemMessage[] = "There appears to be a problem accessing the COM Port";

} // namespace

void TCliLine::WriteChar(uint8_t ch)
{
    Serial->WriteChar(ch);
}

void TCliLine::WriteString(const std::string &text)
{
    Serial->WriteString(text);
}

int TCliLine::ReadChar(uint8_t &ch)
{
    const int got = Serial->ReadChar(ch);
    if (got == 1) {
        if (WatchQ && ch == 'Q' && Ws && !Ws->AnyOperationFlag())
            QSeen = true;
    }
    return got;
}

TCliSession::TCliSession(const TCliArgs &args, TTerminal &terminal)
    : Args(args), Terminal(terminal), Ui(terminal, args.Yes), Panel(Ws, Fuses, terminal)
{
    Line.Ws = &Ws;
}

TCliSession::~TCliSession()
{
    if (Serial) {
        Serial->OnRxData = nullptr;
        Serial->SetActive(false);
        Serial.reset();
    }
}

TCliOp TCliSession::Operation() const
{
    switch (Args.Command) {
    case TCliCommand::Program:
        return TCliOp::Program;
    case TCliCommand::Verify:
        return TCliOp::Verify;
    case TCliCommand::Erase:
        return TCliOp::Erase;
    default:
        return TCliOp::Read;
    }
}

int TCliSession::Run()
{
    int code = SelectCliChip(Args, Ws, Fuses, Terminal);
    if (code != ecSuccess)
        return code;
    const TCliOp op = Operation();
    if (op == TCliOp::Program || op == TCliOp::Verify) {
        code = LoadCliImage(Args, Ws, Fuses, Terminal, op == TCliOp::Program);
        if (code != ecSuccess)
            return code;
    }
    code = StartBoard();
    if (code != ecSuccess)
        return code;
    code = OpenLine();
    if (code == ecSuccess)
        code = RunOperation();
    if (Serial) {
        Serial->OnRxData = nullptr;
        Serial->SetActive(false);
    }
    const int saved = SaveBoard();
    return code != ecSuccess ? code : saved;
}

int TCliSession::StartBoard()
{
    if (!Args.Simulate)
        return ecSuccess;
    // --board-fault takes varnel-board's own options, so both name a fault alike.
    std::vector<std::string> boardArgs;
    for (const std::string &fault : Args.BoardFaults) {
        const size_t equals = fault.find('=');
        boardArgs.push_back("--" + fault.substr(0, equals));
        if (equals != std::string::npos)
            boardArgs.push_back(fault.substr(equals + 1));
    }
    const TBoardArgs parsed = ParseBoardArgs(boardArgs);
    if (!parsed.Error.empty() || parsed.Help) {
        Terminal.Message("--board-fault: " + (parsed.Error.empty() ? "help" : parsed.Error)
                         + " (the options of varnel-board --help, without their dashes)");
        return ecBadInput;
    }
    TBoardChip chip;
    if (!Args.BoardImage.empty()) {
        const std::string problem = LoadBoardImage(chip, Args.BoardImage);
        if (!problem.empty()) {
            Terminal.Message(problem);
            return ecFileRefused;
        }
    }
    std::string error;
    Board = TSimulatedBoard::Start(parsed.Options, error);
    if (!Board) {
        Terminal.Message("The virtual board did not start: " + error);
        return ecBoardFailure;
    }
    if (!Args.BoardImage.empty())
        Board->Server().SetChip(chip);
    return ecSuccess;
}

int TCliSession::OpenLine()
{
    Serial = std::make_unique<TSerial>();
    Serial->SetBaudrate(19200);
    Serial->SetDataBits(d8bit);
    Serial->SetCheckParity(false);
    Serial->NotifyErrors = neEvent;
    if (Args.Port != 0)
        Serial->SetPort(Args.Port);
    if (Board)
        Serial->SetDevicePath(Board->DevicePath());
    else if (!Args.Device.empty())
        Serial->SetDevicePath(Args.Device);
    Line.Serial = Serial.get();
    Link = std::make_unique<TBoardLink>(Ws, Panel, Ui, Line);
    Panel.OnWaitTimer = [this] {
        Link->WaitTimerTimer();
        Poke();
    };
    Serial->OnRxData = [this](QObject *) {
        Link->Serial1RxData();
        Poke();
    };

    Serial->SetActive(true);
    if (!Serial->Active()) {
        Terminal.Message(PortProblemMessage);
        Terminal.Message(Serial->DeviceName() + ": " + std::strerror(Serial->ErrorCode()));
        return ecBoardFailure;
    }
    Line.WriteChar(TBoardLink::CmdHello);
    if (!RunUntil([this] { return Panel.BoardFound; }, HelloWaitMs)) {
        Terminal.Message(NoResponseMessage);
        return ecNoResponse;
    }
    return ecSuccess;
}

int TCliSession::RunOperation()
{
    if (Args.Icsp)
        Link->ICSPbuttClick();
    const TCliOp op = Operation();
    const bool blankTest = op == TCliOp::Erase && Ws.EepSize == 0;
    switch (op) {
    case TCliOp::Program:
        Link->ProgButtClick();
        break;
    case TCliOp::Read:
        Link->ReadButtClick();
        break;
    case TCliOp::Verify:
        Link->VerfButtClick();
        break;
    case TCliOp::Erase:
        Link->EraseButtClick();
        break;
    }
    Line.WatchQ = true;
    QTimer silence;
    silence.setInterval(LongJobTickMs);
    QObject::connect(&silence, &QTimer::timeout, &silence, [this] {
        Link->LongJobTimer();
        Poke();
    });
    silence.start();
    RunUntil([this] { return OperationDone(); }, 0);
    silence.stop();

    const bool readComplete = op == TCliOp::Read && Ws.NewDataListed;
    if (readComplete)
        RunUntil([this] { return Line.QSeen; }, CloseWaitMs);
    Terminal.EndProgress();
    const int code = OperationExitCode(op, blankTest, Ui.Shown, readComplete);
    return op == TCliOp::Read ? FinishRead(code) : code;
}

int TCliSession::FinishRead(int code)
{
    if (code != ecSuccess)
        return code;
    PrintCliImage(Ws, Fuses, Args.Dump);
    if (Args.Output.empty())
        return ecSuccess;
    Panel.SavePath = Args.Output;
    return Panel.RunSave() ? ecSuccess : ecFileRefused;
}

int TCliSession::SaveBoard()
{
    if (!Board || Args.BoardSave.empty())
        return ecSuccess;
    // The emulated chip, cut to the selected chip's sizes, through our writer.
    const TBoardChip chip = Board->Server().ChipSnapshot();
    TWorkState image;
    image.RomSize = Ws.RomSize;
    image.EepSize = Ws.EepSize;
    for (int32_t a = 0; a < Ws.RomSize && a < TBoardChip::RomWords; ++a)
        image.RomData.push_back(std::to_string(chip.Rom[static_cast<size_t>(a)]));
    for (int32_t a = 0; a < Ws.EepSize && a < TBoardChip::EepBytes; ++a)
        image.EepData.push_back(std::to_string(chip.Eep[static_cast<size_t>(a)]));
    image.FuseWord = chip.Config;
    image.IdValue = chip.Id;
    if (!SaveINHX8MFile(image, MyIntToHex(chip.Id, 4), Args.BoardSave)) {
        Terminal.Message(SaveProblemMessage);
        return ecFileRefused;
    }
    return ecSuccess;
}

bool TCliSession::OperationDone() const
{
    // Finished, and the board's closing "Q" taken: that stops the watchdog
    // which the last step started again (or the watchdog itself ended it).
    return Ws.OpStep == -1 && !Ws.AnyOperationFlag() && !Panel.WaitTimerActive();
}

bool TCliSession::RunUntil(std::function<bool()> done, int timeoutMs)
{
    if (done())
        return true;
    QEventLoop loop;
    Loop = &loop;
    Done = std::move(done);
    QTimer limit;
    if (timeoutMs > 0) {
        limit.setSingleShot(true);
        QObject::connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
        limit.start(timeoutMs);
    }
    loop.exec();
    const bool reached = Done();
    Loop = nullptr;
    Done = nullptr;
    return reached;
}

void TCliSession::Poke()
{
    if (Loop && Done && Done())
        Loop->quit();
}
