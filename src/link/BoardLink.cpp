#include "link/BoardLink.h"

#include "core/FrontPanel.h"
#include "core/UiServices.h"
#include "core/WorkState.h"
#include "link/ByteLine.h"
#include "view/HexText.h"
#include "link/BoardTexts.h"

#include <algorithm>
#include <cstring>
#include <iterator>

namespace {

// A short reply is taken as it is once a whole tick has passed without data.
constexpr int32_t LateReplyTicks = 2;
constexpr int32_t RxLast = 19;            // RxCount never passes this
constexpr int32_t IdleScanLength = 20;    // idle "X"/"Q" scan, whatever RxCount
constexpr uint8_t ClosingReply = 'Q';     // the board's answer to End

// Receive events are never nested: one that a modal box lets through is
// replayed right after the running one, as the port would announce it.
struct TNestGuard
{
    bool &Flag;
    explicit TNestGuard(bool &flag) : Flag(flag) { Flag = true; }
    ~TNestGuard() { Flag = false; }
};

} // namespace

TBoardLink::TBoardLink(TWorkState &ws, TFrontPanel &panel, TUiServices &ui, TByteLine &line)
    : Ws(ws), Panel(panel), Ui(ui), Line(line)
{
}

void TBoardLink::EnableProgrammer()
{
    Ws.ResetVars(Panel);
    Ws.XferAddr = 0;
    Ws.OpStep = 0;
    Ws.SocketChar = (Ws.SocketType == 1 || Ws.SocketType == 2) ? '2' : '1';
    if (Ws.IcspOn)
        Ws.SocketChar = '1';
    const std::string idText = PadIdText(Panel.IdText());
    Panel.SetIdText(idText);
    SendStart();
    Ws.IdValue = IdTextValue(idText);
    Ws.WaitTicks = 0;
    Panel.StartWaitTimer();
    Panel.SetPanelsEnabled(false);
}

void TBoardLink::WaitTimerTimer()
{
    ++Ws.WaitTicks;
    if (ActOnLateReply())
        return;
    if (Ws.WaitTicks != WatchdogLimit)
        return;
    NoResponse();
}

void TBoardLink::LongJobTimer()
{
    // A box the reply handler shows (a question) may stay open as long as
    // the user likes; only a silent board counts.
    if (InRxData || !Ws.AnyOperationFlag()) {
        LongJobTicks = 0;
        return;
    }
    const int32_t limit = Line.LineLost() ? LostLineLimit : LongJobLimit;
    if (++LongJobTicks >= limit)
        NoResponse();
}

void TBoardLink::NoResponse()
{
    LongJobTicks = 0;
    if (Ws.ReadRun)
        EmptyImage();
    Ws.ResetVars(Panel);
    Ui.Beep();
    ErrorBox(NoResponseText());
    Panel.SetStatus("Program Ready");
}

bool TBoardLink::ICSPbuttClick()
{
    if (!Panel.PlacementRunning() && !Ws.Busy)
        Ws.IcspOn = !Ws.IcspOn;
    return Ws.IcspOn;
}

std::string TBoardLink::IcspCaption(bool icspOn)
{
    return icspOn ? "&ICSP - ON" : "&ICSP - OFF";
}

void TBoardLink::Serial1RxData()
{
    RxPending = true;
    if (InRxData)
        return;
    TNestGuard guard(InRxData);
    ServeReceiveEvents();
}

void TBoardLink::ServeReceiveEvents()
{
    while (RxPending) {
        RxPending = false;
        Ws.WaitTicks = 0;
        LongJobTicks = 0;
        ReceiveAndDispatch();
    }
}

void TBoardLink::StoreByte(uint8_t ch)
{
    Ws.RxBuf[Ws.RxCount] = ch;
    Ws.RxBuf[Ws.RxCount + 1] = 0;
    if (Ws.RxCount < RxLast)
        ++Ws.RxCount;
}

void TBoardLink::ReceiveAndDispatch()
{
    uint8_t ch = 0;
    for (;;) {
        while (Ws.RxCount < RxLast && ReadReplyByte(ch) == 1)
            StoreByte(ch);
        const bool full = Ws.RxCount == RxLast;
        Dispatch();
        if (!full)
            return;
        // The buffer filled up with more perhaps waiting (a fast board sends
        // a whole bulk erase's "W"s and its "Y" at once). What the reply took
        // makes room for the rest; otherwise later bytes overwrite the last
        // position. After an error the rest waits for the next receive
        // event: it may hold the board's fresh "PP".
        if (DataError)
            return;
        if (Ws.RxCount < RxLast)
            continue;
        bool more = false;
        while (ReadReplyByte(ch) == 1) {
            StoreByte(ch);
            more = true;
        }
        if (more)
            Dispatch();
        return;
    }
}

const TBoardLink::TStepTable *TBoardLink::CurrentTable() const
{
    // The first flag set names the running operation's table.
    static const struct
    {
        bool TWorkState::*Flag;
        const TStepTable *Table;
    } Handlers[] = {
        {&TWorkState::EraseRun, &EraseTable},   {&TWorkState::EraseProgramRun, &EepProgTable},
        {&TWorkState::ProgramRun, &ProgTable},  {&TWorkState::VerifyRun, &VerifyTable},
        {&TWorkState::BlankRun, &BlankTable},   {&TWorkState::ReadRun, &ReadTable},
    };
    for (const auto &handler : Handlers) {
        if (Ws.*handler.Flag)
            return handler.Table;
    }
    return nullptr;
}

void TBoardLink::Dispatch()
{
    DataError = false;
    do {
        Redispatch = false;
        if (const TStepTable *table = CurrentTable())
            RunTable(*table);
        else
            IdleHandling();
    } while (Redispatch && !DataError);
    if (DataError)
        DataErrorPath();
}

// One byte picks the row (its own one, else the step's "other" row).
const TBoardLink::TStepRow *TBoardLink::FindRow(const TStepTable &table) const
{
    if (Ws.RxCount < 1)
        return nullptr;
    const TStepRow *row = nullptr;
    for (size_t i = 0; i < table.Count; ++i) {
        const TStepRow &candidate = table.Rows[i];
        if (candidate.Step != Ws.OpStep)
            continue;
        if (candidate.Reply == Ws.RxBuf[0])
            return &candidate;
        if (candidate.Reply == AnyReply && !row)
            row = &candidate;
    }
    return row;
}

void TBoardLink::RunTable(const TStepTable &table)
{
    // Then the row's Needs decide whether it acts now.
    const TStepRow *row = FindRow(table);
    if (!row)
        return;
    const bool ready = row->Needs == AtLeast ? Ws.RxCount >= row->Count
                                                     : Ws.RxCount == row->Count;
    if (!ready)
        return;
    Ws.OpStep = row->Next;
    if (row->Action)
        (this->*row->Action)();
}

bool TBoardLink::ActOnLateReply()
{
    // Only after a whole tick without data: at wire speed the tail of a
    // reply is still arriving when a tick falls inside it. Not while a box
    // of the reply handler is open: its row has not finished.
    if (Ws.WaitTicks < LateReplyTicks || InRxData)
        return false;
    const TStepTable *table = CurrentTable();
    const TStepRow *row = table ? FindRow(*table) : nullptr;
    if (!row || !row->ActsWhenLate)
        return false;
    // The rest of the reply may come while the row's box is open: it waits,
    // as it would behind any reply handler, and is dropped once it comes.
    TNestGuard guard(InRxData);
    ActingLate = true;
    Ws.OpStep = row->Next;
    (this->*row->Action)();
    ActingLate = false;
    ServeReceiveEvents();
    return true;
}

bool TBoardLink::CutReplySettling() const
{
    return (OwedBytes > 0 || OwedQ) && Now() < OwedUntil;
}

int TBoardLink::ReadReplyByte(uint8_t &ch)
{
    while (Line.ReadChar(ch) == 1) {
        if (!DropOwedByte(ch))
            return 1;
    }
    return 0;
}

bool TBoardLink::DropOwedByte(uint8_t ch)
{
    if (!CutReplySettling()) {
        OwedBytes = 0;
        OwedQ = false;
        return false;
    }
    if (OwedBytes > 0) {
        --OwedBytes;
        return true;
    }
    // The board answers the End only once the cut reply is out; anything
    // else means it lost that answer, and the byte is the next reply's.
    OwedQ = false;
    return ch == ClosingReply;
}

void TBoardLink::DropFirstByte()
{
    std::memmove(Ws.RxBuf, Ws.RxBuf + 1, sizeof(Ws.RxBuf) - 1);
    Ws.RxBuf[sizeof(Ws.RxBuf) - 1] = 0;
    --Ws.RxCount;
}

void TBoardLink::DropIdleNoise()
{
    // A board's power-on glitch (0x00, 0xFF) or a stray byte before its
    // announcement would otherwise stay in front of the "PP" for good.
    static const char *const Announcements[] = {"PP", "BL"};
    const auto canBegin = [this](const char *reply) {
        return Ws.RxBuf[0] == static_cast<uint8_t>(reply[0])
               && (Ws.RxCount < 2 || Ws.RxBuf[1] == static_cast<uint8_t>(reply[1]));
    };
    while (Ws.RxCount > 0
           && std::none_of(std::begin(Announcements), std::end(Announcements), canBegin))
        DropFirstByte();
}

void TBoardLink::IdleHandling()
{
    for (int32_t i = 0; i < IdleScanLength; ++i) {
        if (Ws.RxBuf[i] == 'X') {
            DataError = true;
            return;
        }
        if (Ws.RxBuf[i] == ClosingReply) {
            Ws.ResetVars(Panel);
            return;
        }
    }
    DropIdleNoise();
    if (Ws.RxCount <= 1)
        return;
    if (Ws.RxBuf[0] == 'B' && Ws.RxBuf[1] == 'L') {
        TakeReply();
    } else if (Ws.RxBuf[0] == 'P' && Ws.RxBuf[1] == 'P') {
        TakeReply();
        Send('Y');
        Panel.SetDefaultScreen();
        Panel.ShowBoardPanel();
    }
}

void TBoardLink::DataErrorPath()
{
    Ui.Beep();
    Send(CmdAbort);
    ErrorBox(MsgSerialDataError);
    if (Ws.ReadRun)
        EmptyImage();
    Ws.ResetVars(Panel);
}

bool TBoardLink::CommandsRefused() const
{
    // An Erase or blank test holds its flag without Busy; a second Start in
    // the middle of it would break both operations.
    return Panel.PlacementRunning() || Ws.Busy || Ws.AnyOperationFlag() || !Ws.ChipApplied();
}

bool TBoardLink::AsksCodeProtect(const TWorkState &ws, const TFrontPanel &panel)
{
    return ws.CodeProtectWarn && panel.CodeProtectOnSelected();
}

void TBoardLink::ProgButtClick()
{
    if (CommandsRefused())
        return;
    if (Ws.RomData.empty()) {
        Ui.Beep();
        InfoBox(MsgNothingToProgram);
        return;
    }
    if (AsksCodeProtect(Ws, Panel)) {
        Ui.Beep();
        const TAnswer answer =
                Ui.MessageBox(TBoxKind::Confirmation, MsgCodeProtectQuestion, TBoxButtons::YesNo);
        if (answer != TAnswer::Yes)
            return;
    }
    EnableProgrammer();
    if (LastNonBlankWord(Ws.RomData) < 0) {
        Ui.Beep();
        InfoBox(MsgNothingToProgram);
        Ws.ResetVars(Panel);
        return;
    }
    Ws.ProgEnd = ProgramEnd(Ws.RomData, Ws.RomSize);
    std::string status;
    if (Ws.EepSize != 0) {
        Ws.EraseProgramRun = true;
        status = "Erasing chip";
    } else {
        Ws.ProgramRun = true;
        status = "Blank Testing";
    }
    Ws.Busy = true;
    Panel.SetStatus(status);
}

void TBoardLink::ReadButtClick()
{
    if (CommandsRefused())
        return;
    // A save that is cancelled or fails keeps the unsaved image.
    if (!UnsavedDataMayGo(Ws, Panel, Ui))
        return;
    Ws.RomData.clear();
    Panel.ClearPad();
    Ws.EepData.clear();
    Panel.SetPadScroll(0);
    EnableProgrammer();
    Ws.ReadRun = true;
    Ws.NewDataListed = false;
    Ws.SetInitialFuseValue();
    Panel.UpDateFuseSettings();
    Ws.Busy = true;
    Panel.SetStatus("Reading");
}

void TBoardLink::VerfButtClick()
{
    if (CommandsRefused())
        return;
    if (Ws.RomData.empty() && Ws.EepData.empty()) {
        Ui.Beep();
        InfoBox(MsgNothingToVerify);
        return;
    }
    EnableProgrammer();
    Ws.VerifyRun = true;
    Ws.Busy = true;
    Panel.SetStatus("Verifying");
}

void TBoardLink::EraseButtClick()
{
    if (CommandsRefused())
        return;
    EnableProgrammer();
    if (Ws.EepSize != 0) {
        Ws.EraseRun = true;
        Panel.SetProgressMax(Ws.EepSize);
        Panel.SetStatus("Erasing chip");
        Panel.SetIdText("FFFF");
    } else {
        Ws.BlankRun = true;
        Panel.SetStatus("Blank Testing");
    }
}

void TBoardLink::CancButtClick()
{
    if (Ws.Busy)
        Ws.CancelAsked = true;
}

// --- shared pieces of the rows ---

void TBoardLink::TakeReply()
{
    Ws.RxCount = 0;
    Ws.RxBuf[0] = 0;
}

void TBoardLink::Finish()
{
    Ws.ResetVars(Panel);
}

void TBoardLink::CheckSound()
{
    if (Ws.SoundAvailable)
        Ui.PlaySound(TSound::Chek);
}

void TBoardLink::ErrorBox(const std::string &text)
{
    Ui.MessageBox(TBoxKind::Error, text, TBoxButtons::Ok);
}

void TBoardLink::InfoBox(const std::string &text)
{
    Ui.MessageBox(TBoxKind::Information, text, TBoxButtons::Ok);
}

void TBoardLink::Send(uint8_t command)
{
    Line.WriteChar(command);
}

void TBoardLink::SendBytes(std::initializer_list<int> bytes)
{
    std::string text;
    for (int b : bytes)
        text += static_cast<char>(b & 0xFF);
    Line.WriteString(text);
}

void TBoardLink::SendStart()
{
    SendBytes({CmdStart, Ws.FamilyChar});
}

void TBoardLink::SendSelect()
{
    SendBytes({CmdSelect, Ws.SocketChar});
}

void TBoardLink::SendBulkErase()
{
    SendBytes({CmdBulkErase, Ws.SocketChar, Ws.EepSize >> 8, Ws.EepSize});
}

void TBoardLink::SendBlankTest()
{
    SendBytes({CmdBlankTest, Ws.RomSize >> 8, Ws.RomSize});
}

void TBoardLink::SendConfigAndId(uint8_t command)
{
    SendBytes({command, Ws.FuseWord >> 8, Ws.FuseWord, Ws.IdValue >> 8, Ws.IdValue});
}

// A program word is 14 bits: an unmasked 0xFFFF would read as the end
// marker 0xFF 0xFF on the line.
int32_t TBoardLink::RomWord(int32_t addr) const
{
    return ImageCell(Ws.RomData, addr, 0x3FFF);
}

int32_t TBoardLink::EepByte(int32_t addr) const
{
    return ImageCell(Ws.EepData, addr, 0xFF);
}

void TBoardLink::EmptyImage()
{
    Ws.RomData.clear();
    Ws.EepData.clear();
}
