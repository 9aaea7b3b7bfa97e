#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>

class TByteLine;
class TFrontPanel;
class TUiServices;
struct TWorkState;

// The programmer board link without any widget: operation start, watchdog,
// reply handling with its step tables, the operation buttons and the
// programming sequences. The window, the command line and the tests drive
// it through their own TFrontPanel, TUiServices and TByteLine.
class TBoardLink
{
public:
    TBoardLink(TWorkState &ws, TFrontPanel &panel, TUiServices &ui, TByteLine &line);

    // Start routine of every operation; the caller sets its flag afterwards.
    void EnableProgrammer();
    // One tick of the reply watchdog, every WatchdogTickMs; WatchdogLimit
    // ticks without data end the operation.
    void WaitTimerTimer();
    static constexpr int WatchdogTickMs = 300;
    static constexpr int32_t WatchdogLimit = 10;
    // One tick of the guard of the board's long jobs, every LongJobTickMs. The watchdog is
    // off during a bulk erase and a blank test, and Cancel does not reach
    // them; without this a board that falls silent there would hold the
    // window forever. Acts like the watchdog after LongJobLimit silent ticks,
    // or after LostLineLimit once a line that was open is known to be gone.
    void LongJobTimer();
    static constexpr int LongJobTickMs = 1000;
    static constexpr int32_t LongJobLimit = 60;
    static constexpr int32_t LostLineLimit = 2;
    // Toggles IcspOn unless a placement or an operation runs; returns the
    // (possibly unchanged) IcspOn for the button caption.
    bool ICSPbuttClick();
    static std::string IcspCaption(bool icspOn);
    // Receive event: drains the line into RxBuf and runs the awaited reply.
    void Serial1RxData();
    // The board still owes the rest of a reply that was acted on cut short
    // (and the "Q" of the End sent after it): those bytes are dropped when
    // they come, for at most one watchdog period.
    bool CutReplySettling() const;
    static constexpr int WatchdogPeriodMs = WatchdogTickMs * WatchdogLimit;
    // The link's clock; tests replace it.
    using TClock = std::chrono::steady_clock;
    std::function<TClock::time_point()> Now = &TClock::now;

    // Program asks first: the chip warns and its code protection is on.
    static bool AsksCodeProtect(const TWorkState &ws, const TFrontPanel &panel);

    void ProgButtClick();
    void ReadButtClick();
    void VerfButtClick();
    void EraseButtClick();
    void CancButtClick();

    // Board commands, as the tables send them.
    enum : uint8_t {
        CmdStart = 0x00,
        CmdHello = 0x01,
        CmdSelect = 0x02,
        CmdWriteProgNoEep = 0x03,
        CmdWriteProgEep = 0x04,
        CmdReadProgBlock = 0x05,
        CmdWriteConfigNoEep = 0x06,
        CmdWriteConfigEep = 0x07,
        CmdReadIdConfig = 0x08,
        CmdReadEepBlock = 0x09,
        CmdWriteEeprom = 0x0A,
        CmdBlankTest = 0x0B,
        CmdBulkErase = 0x0C,
        CmdAbort = 0x0D,
        CmdEnd = 0x0E,
    };

private:
    // How many reply bytes a step row waits for before it acts.
    enum TNeeds {
        AtLeast, // fewer bytes: return and keep them
        Exactly  // any other count: do nothing, keep them, raise no error
    };
    // Reply column of a row that takes any first byte not named by another
    // row of its step ("other", "any", a data block).
    static constexpr int AnyReply = -1;
    // Next column of rows that end the operation.
    static constexpr int32_t Idle = -1;

    // One row of a reply table: in step Step, a reply whose first byte is
    // Reply runs Action once Needs/Count are met; OpStep is Next unless the
    // action moves it (a branch, or finish).
    struct TStepRow
    {
        int32_t Step;
        TNeeds Needs;
        int32_t Count;
        int Reply;
        void (TBoardLink::*Action)();
        int32_t Next;
        // The reply's tail may never come (a board that sends fewer bytes):
        // after a watchdog tick without data the row acts with what is held.
        bool ActsWhenLate = false;
    };
    struct TStepTable
    {
        const TStepRow *Rows;
        size_t Count;
    };

    // Shared pieces of the rows.
    bool CommandsRefused() const;
    void StoreByte(uint8_t ch);
    void ServeReceiveEvents();
    void ReceiveAndDispatch();
    void Dispatch();
    const TStepTable *CurrentTable() const;
    const TStepRow *FindRow(const TStepTable &table) const;
    void RunTable(const TStepTable &table);
    bool ActOnLateReply();
    // Reads one board byte, dropping what a cut-short reply still owed.
    int ReadReplyByte(uint8_t &ch);
    bool DropOwedByte(uint8_t ch);
    void DropFirstByte();
    void DropIdleNoise();
    void IdleHandling();
    void DataErrorPath();
    void NoResponse();
    void TakeReply();
    void Finish();
    void CheckSound();
    void ErrorBox(const std::string &text);
    void InfoBox(const std::string &text);
    void Send(uint8_t command);
    void SendBytes(std::initializer_list<int> bytes);
    void SendStart();
    void SendSelect();
    void SendBulkErase();
    void SendBlankTest();
    void SendConfigAndId(uint8_t command);
    int32_t RomWord(int32_t addr) const;
    int32_t EepByte(int32_t addr) const;
    void EmptyImage();
    // "F" and the address of the word that failed, "??" for a byte that
    // never came.
    std::string FailedWordAddress() const;
    void WordFailed(bool sendEnd);
    bool AfterProgramBlock(int32_t eepromStep, int32_t idStep);
    void SendWordOrCancel();
    std::string BlankSubject() const;
    void ProgramResultBox();

    // Row actions, named after what they do.
    void RaiseError();
    void TakeSelect();
    void TakeReadProgBlock();
    void TakePauseStart();
    void TakeReadEepFirst();
    void ReadStoreProgBlock();
    void ReadStoreEepBlock();
    void ReadStoreIdFuse();
    void VerifyProgBlock();
    void VerifyEepBlock();
    void VerifyIdFuse();
    void EraseOpened();
    void EraseProgress();
    void EraseDone();
    void TakeBlankTest();
    void BlankTestResult();
    void EepProgOpened();
    void EepProgErased();
    void TakeWriteProgram();
    void EepProgWordAsked();
    void EepProgWordFailed();
    void TakeWriteEeprom();
    void EepBlockAsked();
    void EepByteFailed();
    void TakeWriteConfig();
    void EepProgResult();
    void ProgTakeSelect();
    void ProgBlankPassed();
    void ProgBlankQuestion();
    void ProgBlankClosed();
    void ProgWordAsked();
    void ProgWordFailed();
    void ProgResult();

    static const TStepRow ReadRows[];
    static const TStepRow VerifyRows[];
    static const TStepRow EraseRows[];
    static const TStepRow BlankRows[];
    static const TStepRow EepProgRows[];
    static const TStepRow ProgRows[];
    static const TStepTable ReadTable;
    static const TStepTable VerifyTable;
    static const TStepTable EraseTable;
    static const TStepTable BlankTable;
    static const TStepTable EepProgTable;
    static const TStepTable ProgTable;

    TWorkState &Ws;
    TFrontPanel &Panel;
    TUiServices &Ui;
    TByteLine &Line;

    bool DataError = false;  // a row raised a serial data error
    bool Redispatch = false; // a row left further replies in the buffer
    bool InRxData = false;   // a box inside the handler let an event through
    bool RxPending = false;
    bool ActingLate = false; // the running row acts on a cut-short reply
    int32_t LongJobTicks = 0; // guard ticks since the last receive event
    int32_t OwedBytes = 0;   // the rest of a cut-short reply, any value
    bool OwedQ = false;      // then the "Q" that answers its End
    TClock::time_point OwedUntil;
};
