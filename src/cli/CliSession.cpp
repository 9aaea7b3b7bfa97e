#include "cli/CliSession.h"

#include "board/BoardArgs.h"
#include "board/SimulatedBoard.h"
#include "chips/OscCal.h"
#include "core/StopSignals.h"
#include "cli/CliCompare.h"
#include "cli/CliImage.h"
#include "cli/CliLog.h"
#include "cli/CliSerial.h"
#include "hexfile/FileIo.h"
#include "hexfile/HexReader.h"
#include "hexfile/HexWriter.h"
#include "link/BoardLine.h"
#include "link/BoardLink.h"
#include "link/PortProblem.h"
#include "link/Serial2.h"
#include "view/HexText.h"

#include <QEventLoop>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <ctime>

namespace {

constexpr int HelloWaitMs = 2000;
// The closing "Q" of a Read is awaited as long as the watchdog would wait.
constexpr int CloseWaitMs = TBoardLink::WatchdogPeriodMs;
// verify --all: more lines than this only scroll the useful ones away.
constexpr size_t DifferenceListLimit = 32;

TImageValues ImageOf(const TWorkState &ws)
{
    return {ws.RomData, ws.EepData, ws.IdValue, ws.FuseWord};
}

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
    int got = Serial->ReadChar(ch);
    if (got == 1 && DropLateQ) {
        DropLateQ = false;
        if (ch == 'Q')
            got = Serial->ReadChar(ch);
    }
    if (got == 1) {
        if (WatchQ && ch == 'Q' && Ws && !Ws->AnyOperationFlag())
            QSeen = true;
    }
    return got;
}

bool TCliLine::LineLost() const
{
    return Serial && Serial->LineLost();
}

TCliSession::TCliSession(const TCliArgs &args, TTerminal &terminal)
    : Args(args), Terminal(terminal), Ui(terminal, args.Yes), Panel(Ws, Fuses, terminal)
{
    Line.Ws = &Ws;
}

TCliSession::~TCliSession()
{
    CloseLine();
    Serial.reset();
}

void TCliSession::CloseLine()
{
    if (!Serial)
        return;
    Serial->OnRxData = nullptr;
    Serial->OnError = nullptr;
    Serial->SetActive(false);
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
    int code = Prepare();
    if (code == ecSuccess)
        code = OpenBoard();
    if (code == ecSuccess)
        code = Args.Repeat ? RunRepeat() : RunChip();
    return Finish(code);
}

int TCliSession::OpenBoard()
{
    WatchStopSignals();
    const int code = StartBoard();
    return code == ecSuccess ? OpenLine() : code;
}

int TCliSession::Finish(int code)
{
    CloseLine();
    const int saved = SaveBoard();
    code = code != ecSuccess ? code : saved;
    return Logged ? code : WriteLog(code);
}

bool TCliSession::AsksCodeProtect() const
{
    return TBoardLink::AsksCodeProtect(Ws, Panel);
}

void TCliSession::TakePrepared(TCliSession &lead)
{
    Ws = lead.Ws;
    Fuses = lead.Fuses;
    FileSha256 = lead.FileSha256;
    FileRom = lead.FileRom;
    Serials = lead.Serials;
}

int TCliSession::Prepare()
{
    int code = SelectCliChip(Args, Ws, Fuses, Terminal);
    if (code != ecSuccess)
        return code;
    if (Args.Repeat && !TTerminal::HasTerminal()) {
        Terminal.Message("--repeat waits on the terminal between chips, and standard input "
                         "is not a terminal.");
        return ecBadInput;
    }
    std::string error;
    if (!Args.LogFile.empty() && !CheckLogFile(Args.LogFile, error)) {
        Logged = true; // nowhere to log to
        Terminal.Message("The log file cannot be written.\n" + error);
        return ecFileRefused;
    }
    const TCliOp op = Operation();
    // Found now, not after the whole chip has been read.
    std::string problem;
    if (op == TCliOp::Read && !Args.Output.empty() && !CanSaveFile(Args.Output, problem)) {
        Terminal.Message(SaveFailureText(Args.Output, problem));
        return ecFileRefused;
    }
    if (op == TCliOp::Program || op == TCliOp::Verify) {
        code = LoadCliImage(Args, Ws, Fuses, Terminal, op == TCliOp::Program, &FileSha256);
        if (code != ecSuccess)
            return code;
        FileRom = Ws.RomData;
    }
    if (Args.HasSerial) {
        if (!Serials->Active())
            Serials->Start(Args.SerialStart, Args.SerialStep, Args.SerialFile);
        // Found now, not after the first chip has been burnt.
        uint32_t next = 0;
        const TSerialTake check = Serials->Check(next, error);
        if (check == TSerialTake::UsedUp) {
            SayUsedUp(next);
            return ecBadInput;
        }
        if (check != TSerialTake::Taken) {
            Terminal.Message(SerialFileProblemText(check, error));
            return ecFileRefused;
        }
    }
    return ecSuccess;
}

void TCliSession::SayUsedUp(uint32_t number)
{
    Terminal.Message("The next serial number, " + SerialNumberText(number)
                     + ", does not fit the four-digit ID; nothing was sent.");
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
    SetBoardLineFormat(*Serial);
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
    // A lost line ends the waits at once, not at the next tick.
    Serial->OnError = [this](QObject *) { Poke(); };

    Serial->SetActive(true);
    if (!Serial->Active()) {
        Terminal.Message(PortProblemText(*Serial));
        return ecBoardFailure;
    }
    if (const std::string slow = LowLatencyWarning(*Serial); !slow.empty())
        Terminal.Warning(slow);
    Ui.LineLost = [this] { return LineLost(); };
    Line.WriteChar(TBoardLink::CmdHello);
    RunUntil([this] {
        return Panel.BoardFound || !Ui.Shown.empty() || LineLost() || StopSignal() != 0;
    }, HelloWaitMs);
    if (StopSignal() != 0)
        return Cancelled();
    if (Panel.BoardFound)
        return ecSuccess;
    // An "X" instead of "PP" was the idle handling's serial data error.
    if (!Ui.Shown.empty())
        return ecBoardFailure;
    if (LineLost())
        Ui.SayLineLost();
    else
        Terminal.Message(NoResponseText());
    return ecNoResponse;
}

int TCliSession::RunChip()
{
    Terminal.ClearResult();
    int code = ecSuccess;
    if (Args.Command == TCliCommand::Program)
        code = ProgramChip();
    else if (Args.Command == TCliCommand::Verify && Args.All)
        code = VerifyAll();
    else if (Args.Command == TCliCommand::Read)
        code = FinishRead(RunOperation(TCliOp::Read));
    else
        code = RunOperation(Operation());
    return WriteLog(code);
}

int TCliSession::RunRepeat()
{
    int worst = ecSuccess;
    int programmed = 0;
    int failed = 0;
    for (;;) {
        const int code = RunChip();
        ++(code == ecSuccess ? programmed : failed);
        worst = WorseExitCode(worst, code);
        // A number the file did not keep would be handed out again by the
        // next run: no further chip takes one.
        if (StopSignal() != 0 || LineLost() || SerialSaveFailed || !Terminal.WaitForNext())
            break;
    }
    Terminal.Message("Programmed: " + std::to_string(programmed)
                     + ", failed: " + std::to_string(failed) + ".");
    return StopSignal() != 0 ? StopExitCode(StopSignal()) : worst;
}

int TCliSession::ProgramChip()
{
    const size_t firstBox = Ui.Shown.size();
    int code = Args.KeepOscCal ? KeepChipOscCal() : ecSuccess;
    uint32_t number = 0;
    bool numbered = false;
    if (code == ecSuccess && Args.HasSerial) {
        code = TakeSerial(number);
        numbered = code == ecSuccess;
    }
    if (code == ecSuccess)
        code = RunOperation(TCliOp::Program);
    if (code == ecSuccess && Args.VerifyAfter)
        code = RunOperation(TCliOp::Verify);
    if (numbered)
        code = SettleSerial(number, code, firstBox);
    return code;
}

int TCliSession::TakeSerial(uint32_t &number)
{
    // As late as the ID can be chosen: the link takes the ID field's value
    // when the Program starts.
    std::string error;
    const TSerialTake take = Serials->Take(number, error);
    if (take == TSerialTake::Taken) {
        Fuses.SetIdText(SerialNumberText(number));
        return ecSuccess;
    }
    SerialSaveFailed = true; // no later chip would find a number either
    if (take == TSerialTake::UsedUp) {
        SayUsedUp(number);
        return ecBadInput;
    }
    Terminal.Message(SerialFileProblemText(take, error));
    return ecFileRefused;
}

int TCliSession::SettleSerial(uint32_t number, int code, size_t firstBox)
{
    if (code == ecSuccess) {
        Terminal.Note("Serial number " + SerialNumberText(number) + " programmed.");
        return code;
    }
    // A failed ID write may have left part of the number on the chip.
    for (size_t box = firstBox; box < Ui.Shown.size(); ++box) {
        if (Ui.Shown[box].Text == MsgProgrammingIdFailed) {
            Serials->Skip(number);
            Terminal.Note("Serial number " + SerialNumberText(number) + " skipped.");
            return code;
        }
    }
    std::string error;
    if (!Serials->GiveBack(number, error)) {
        SerialSaveFailed = true;
        Terminal.Message(SerialFileProblemText(TSerialTake::Unwritten, error));
    }
    return code;
}

int TCliSession::ReadChipKeepingImage(TImageValues &chip)
{
    const TImageValues image = ImageOf(Ws);
    const std::string idText = Fuses.IdText();
    const int code = RunOperation(TCliOp::Read);
    chip = ImageOf(Ws);
    Ws.RomData = image.Rom;
    Ws.EepData = image.Eep;
    Ws.IdValue = image.Id;
    Ws.FuseWord = image.Fuse;
    Ws.NewDataListed = false;
    Panel.UpDateFuseSettings();
    Fuses.SetIdText(idText);
    return code;
}

int TCliSession::KeepChipOscCal()
{
    // Each chip starts from the file's own words: the word kept for one chip
    // must not pass as the file's value for the next (--repeat).
    Ws.RomData = FileRom;
    TImageValues chip;
    const int code = ReadChipKeepingImage(chip);
    if (code != ecSuccess)
        return code;
    // A Read that succeeded filled every word.
    const int32_t word = ImageValue(chip.Rom, Ws.RomSize - 1, 0x3FFF);
    const std::string text = MyIntToHex(word, 4);
    switch (ChooseOscCal(word, !OscCalWordMissing(Ws))) {
    case TOscCalChoice::KeepChip:
        StoreOscCal(Ws, OscCalText(word));
        Terminal.Message("Keeping the chip's calibration word " + text + ".");
        return ecSuccess;
    case TOscCalChoice::UseFile:
        Terminal.Message("The chip holds no calibration word (" + text
                         + "); the file's is programmed.");
        return ecSuccess;
    case TOscCalChoice::Refuse:
        break;
    }
    Terminal.Message("The chip holds no calibration word (its last word reads " + text
                     + ") and the HEX file lists none.\nGive the value with --osccal HEX.");
    return ecFileRefused;
}

int TCliSession::VerifyAll()
{
    TImageValues image = ImageOf(Ws);
    // The ID as Verify compares it: the ID field's text.
    image.Id = IdTextValue(PadIdText(Fuses.IdText()));
    TImageValues chip;
    const int code = ReadChipKeepingImage(chip);
    if (code != ecSuccess)
        return code;
    LogId = chip.Id;
    LogConfig = chip.Fuse;
    const std::vector<TDifference> differences =
            CompareImages(chip, image, Ws.RomSize, Ws.EepSize);
    if (differences.empty()) {
        Terminal.Message(MsgDataVerified);
        return ecSuccess;
    }
    for (const std::string &line : DifferenceLines(differences, DifferenceListLimit))
        std::printf("%s\n", line.c_str());
    std::fflush(stdout);
    Terminal.Message(std::to_string(differences.size())
                     + (differences.size() == 1 ? " difference" : " differences")
                     + " between the chip and the file.");
    return ecVerifyMismatch;
}

int TCliSession::RunOperation(TCliOp op)
{
    if (StopSignal() != 0)
        return Cancelled();
    if (Args.Icsp && !Ws.IcspOn)
        Link->ICSPbuttClick();
    const size_t firstBox = Ui.Shown.size();
    Line.QSeen = false;
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
    // Bulk erase and blank test run without the watchdog; a board that stays
    // silent there still must not hang a script.
    silence.setInterval(TBoardLink::LongJobTickMs);
    QObject::connect(&silence, &QTimer::timeout, &silence, [this] {
        Link->LongJobTimer();
        Poke();
    });
    silence.start();
    RunUntil([this] { return OperationFinished() || LineLost(); }, 0);
    silence.stop();
    // A result already shown stands when only the closing "Q" is lost with
    // the line: the chip was done.
    const bool finished = OperationFinished();

    const bool readComplete = op == TCliOp::Read && Ws.NewDataListed;
    // The window awaits the closing "Q" with the watchdog still running; here
    // the result is already known, so a late "Q" is only worth a warning.
    if ((Panel.WaitTimerActive() || readComplete) && !Line.QSeen && !LineLost()) {
        Panel.StopWaitTimer();
        RunUntil([this] { return Line.QSeen || LineLost(); }, CloseWaitMs);
        if (!Line.QSeen && !LineLost()) {
            Terminal.Warning("the board did not close the operation with \"Q\".");
            Line.DropLateQ = true;
        }
    }
    // The rest of a reply acted on cut short may still be on its way: it
    // ends here, quietly, instead of meeting the next command on the line.
    if (Link->CutReplySettling())
        RunUntil([this] { return !Link->CutReplySettling() || LineLost(); },
                 TBoardLink::WatchdogPeriodMs);
    Terminal.EndProgress();
    LogId = Ws.IdValue;
    LogConfig = Ws.FuseWord;
    if (StopSignal() != 0)
        return Cancelled();
    if (LineLost() && !finished) {
        Ui.SayLineLost();
        return ecNoResponse;
    }
    if (LineLost() && !Line.QSeen)
        Terminal.Warning("the serial line was lost before the board closed the operation.");
    const std::vector<TShownBox> boxes(Ui.Shown.begin() + static_cast<long>(firstBox),
                                       Ui.Shown.end());
    return OperationExitCode(op, blankTest, boxes, readComplete);
}

int TCliSession::FinishRead(int code)
{
    if (code != ecSuccess)
        return code;
    // One board of several (Devices names them all): their images on one
    // standard output could not be told apart, and each is in its file.
    if (Args.Devices.size() <= 1)
        PrintCliImage(Ws, Fuses, Args.Dump);
    if (Args.Output.empty())
        return ecSuccess;
    Panel.SavePath = Args.Output;
    Panel.SaveFormat = Args.OutputFormat;
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
    errno = 0; // a refusal before any file call leaves no reason
    if (!SaveINHX8MFile(image, MyIntToHex(chip.Id, 4), Args.BoardSave)) {
        Terminal.Message(SaveFailureText(Args.BoardSave, errno));
        return ecFileRefused;
    }
    return ecSuccess;
}

void TCliSession::WatchStopSignals()
{
    std::string error;
    if (!InstallStopSignals(error)) {
        Terminal.Warning(SignalsUnwatchedWarning(error));
        return;
    }
    StopNotifier = std::make_unique<QSocketNotifier>(StopSignalFd(), QSocketNotifier::Read);
    QObject::connect(StopNotifier.get(), &QSocketNotifier::activated, StopNotifier.get(),
                     [this] { StopSignalled(); });
}

void TCliSession::StopSignalled()
{
    // The pipe stays readable: a question on the terminal sees it as well.
    StopNotifier->setEnabled(false);
    if (Link)
        Link->CancButtClick();
    if (const char *job = UnstoppableJob()) {
        Terminal.Message(std::string("Finishing the ") + job
                         + " first: the board cannot be stopped in the middle of it.");
    }
    Poke();
}

const char *TCliSession::UnstoppableJob() const
{
    // Cancel is honoured at the end of these jobs, which run without the
    // watchdog; an Erase is not Busy and takes no Cancel at all.
    if (!Ws.AnyOperationFlag() || (Ws.Busy && Panel.WaitTimerActive()))
        return nullptr;
    return Ws.EraseRun || Ws.EraseProgramRun ? "bulk erase" : "blank test";
}

int TCliSession::Cancelled()
{
    if (!CancelledSaid)
        Terminal.Message("Cancelled.");
    CancelledSaid = true;
    return StopExitCode(StopSignal());
}

bool TCliSession::OperationFinished() const
{
    return Ws.OpStep == -1 && !Ws.AnyOperationFlag();
}

bool TCliSession::LineLost() const
{
    // The serial component closes a port whose line hung up or went away.
    return Serial && Serial->LineLost();
}

int TCliSession::WriteLog(int code)
{
    Logged = true;
    if (Args.LogFile.empty())
        return code;
    TLogEntry entry;
    entry.Time = std::time(nullptr);
    entry.Operation = CliCommandName(Args.Command);
    entry.Chip = Args.Chip;
    if (Serial)
        entry.Port = Serial->DeviceName();
    entry.File = Args.File;
    entry.Sha256 = FileSha256;
    if (LogId >= 0) {
        entry.Id = MyIntToHex(LogId, 4);
        entry.Config = MyIntToHex(LogConfig, 4);
    }
    entry.Result = Terminal.Result();
    entry.Exit = code;
    std::string error;
    if (AppendLogLine(Args.LogFile, LogLine(entry), error))
        return code;
    Terminal.Message("The log file cannot be written.\n" + error);
    return code != ecSuccess ? code : ecFileRefused;
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
