// The reply tables of the board operations and their row actions.
#include "link/BoardLink.h"

#include "core/FrontPanel.h"
#include "core/UiServices.h"
#include "core/WorkState.h"
#include "view/HexText.h"
#include "link/BoardTexts.h"

#include <algorithm>
#include <chrono>

namespace {

constexpr int ProgBlockBytes = 16;
constexpr int EepBlockBytes = 8;
constexpr int IdFuseBytes = 4;
constexpr int32_t FailedWordBytes = 4; // "F", address high, filler, address low
constexpr int BlockWords = 8;

struct TSubject
{
    uint8_t Reply;
    const char *Text;
};

// The subject of a reply, or empty for a byte with no meaning.
std::string SubjectOf(const TSubject *subjects, size_t count, uint8_t reply)
{
    for (size_t i = 0; i < count; ++i) {
        if (subjects[i].Reply == reply)
            return subjects[i].Text;
    }
    return std::string();
}

int32_t Word(const uint8_t *buf, int index)
{
    return 256 * buf[2 * index] + buf[2 * index + 1];
}

} // namespace

using L = TBoardLink;

const TBoardLink::TStepRow TBoardLink::ReadRows[] = {
    {0, AtLeast, 1, 'P', &L::TakeSelect, 2},
    {0, AtLeast, 1, AnyReply, &L::RaiseError, 0},
    {2, Exactly, 1, 'Y', &L::TakeReadProgBlock, 3},
    {2, Exactly, 1, AnyReply, &L::RaiseError, 2},
    {3, Exactly, ProgBlockBytes, AnyReply, &L::ReadStoreProgBlock, 3},
    {4, AtLeast, 1, 'Q', &L::TakePauseStart, 5},
    {4, AtLeast, 1, AnyReply, &L::RaiseError, 4},
    {5, Exactly, 1, 'P', &L::TakeSelect, 7},
    {5, Exactly, 1, AnyReply, &L::RaiseError, 5},
    {7, Exactly, 1, 'Y', &L::TakeReadEepFirst, 8},
    {7, Exactly, 1, AnyReply, &L::RaiseError, 7},
    {8, Exactly, EepBlockBytes, AnyReply, &L::ReadStoreEepBlock, 8},
    {9, AtLeast, IdFuseBytes, AnyReply, &L::ReadStoreIdFuse, Idle},
};

const TBoardLink::TStepRow TBoardLink::VerifyRows[] = {
    {0, AtLeast, 1, 'P', &L::TakeSelect, 3},
    {0, AtLeast, 1, AnyReply, &L::RaiseError, 0},
    {3, Exactly, 1, 'Y', &L::TakeReadProgBlock, 4},
    {3, Exactly, 1, AnyReply, &L::RaiseError, 3},
    {4, Exactly, ProgBlockBytes, AnyReply, &L::VerifyProgBlock, 4},
    {5, AtLeast, 1, 'Q', &L::TakePauseStart, 6},
    {5, AtLeast, 1, AnyReply, &L::RaiseError, 5},
    {6, Exactly, 1, 'P', &L::TakeSelect, 8},
    {6, Exactly, 1, AnyReply, &L::RaiseError, 6},
    {8, Exactly, 1, 'Y', &L::TakeReadEepFirst, 9},
    {8, Exactly, 1, AnyReply, nullptr, 8},
    {9, Exactly, EepBlockBytes, AnyReply, &L::VerifyEepBlock, 9},
    {10, AtLeast, IdFuseBytes, AnyReply, &L::VerifyIdFuse, Idle},
};

const TBoardLink::TStepRow TBoardLink::EraseRows[] = {
    {0, AtLeast, 1, 'P', &L::EraseOpened, 1},
    {0, AtLeast, 1, AnyReply, &L::RaiseError, 0},
    {1, AtLeast, 1, 'W', &L::EraseProgress, 1},
    {1, AtLeast, 1, 'Y', &L::EraseDone, Idle},
    {1, AtLeast, 1, AnyReply, &L::RaiseError, 1},
};

const TBoardLink::TStepRow TBoardLink::BlankRows[] = {
    {0, AtLeast, 1, 'P', &L::TakeSelect, 3},
    {0, AtLeast, 1, AnyReply, &L::RaiseError, 0},
    {3, Exactly, 1, 'Y', &L::TakeBlankTest, 4},
    {3, Exactly, 1, AnyReply, &L::RaiseError, 3},
    {4, AtLeast, 1, AnyReply, &L::BlankTestResult, Idle},
};

// Program on a chip with EEPROM.
const TBoardLink::TStepRow TBoardLink::EepProgRows[] = {
    {0, AtLeast, 1, 'P', &L::EepProgOpened, 1},
    {0, AtLeast, 1, AnyReply, &L::RaiseError, 0},
    {1, AtLeast, 1, 'W', &L::EraseProgress, 1},
    {1, AtLeast, 1, 'Y', &L::EepProgErased, 3},
    {1, AtLeast, 1, AnyReply, &L::RaiseError, 1},
    {3, Exactly, 1, 'Y', &L::TakeWriteProgram, 4},
    {3, Exactly, 1, AnyReply, &L::RaiseError, 3},
    {4, AtLeast, 1, 'M', &L::EepProgWordAsked, 4},
    {4, AtLeast, FailedWordBytes, 'F', &L::EepProgWordFailed, Idle, true},
    {4, AtLeast, 1, AnyReply, &L::RaiseError, 4},
    {5, Exactly, 1, 'P', &L::TakeSelect, 7},
    {5, Exactly, 1, AnyReply, &L::RaiseError, 5},
    {7, Exactly, 1, 'Y', &L::TakeWriteEeprom, 8},
    {7, Exactly, 1, AnyReply, &L::RaiseError, 7},
    {8, AtLeast, 1, 'M', &L::EepBlockAsked, 8},
    {8, AtLeast, 2, 'N', &L::EepByteFailed, Idle},
    {8, AtLeast, 1, AnyReply, &L::RaiseError, 8},
    {9, Exactly, 1, 'P', &L::TakeSelect, 11},
    {9, Exactly, 1, AnyReply, &L::RaiseError, 9},
    {11, Exactly, 1, 'Y', &L::TakeWriteConfig, 12},
    {11, Exactly, 1, AnyReply, &L::RaiseError, 11},
    {12, AtLeast, 1, AnyReply, &L::EepProgResult, Idle},
};

// Program on a chip without EEPROM.
const TBoardLink::TStepRow TBoardLink::ProgRows[] = {
    {0, AtLeast, 1, 'P', &L::ProgTakeSelect, 2},
    {0, AtLeast, 1, AnyReply, &L::RaiseError, 0},
    {2, Exactly, 1, 'Y', &L::TakeBlankTest, 3},
    {2, Exactly, 1, AnyReply, &L::RaiseError, 2},
    {3, AtLeast, 1, 'Y', &L::ProgBlankPassed, 4},
    {3, AtLeast, 1, AnyReply, &L::ProgBlankQuestion, 4},
    {4, AtLeast, 1, 'Q', &L::ProgBlankClosed, 5},
    {4, AtLeast, 1, AnyReply, &L::RaiseError, 4},
    {5, Exactly, 1, 'P', &L::TakeSelect, 7},
    {5, Exactly, 1, AnyReply, &L::RaiseError, 5},
    {7, Exactly, 1, 'Y', &L::TakeWriteProgram, 8},
    {7, Exactly, 1, AnyReply, &L::RaiseError, 7},
    {8, AtLeast, 1, 'M', &L::ProgWordAsked, 8},
    {8, AtLeast, FailedWordBytes, 'F', &L::ProgWordFailed, Idle, true},
    {8, AtLeast, 1, AnyReply, &L::RaiseError, 8},
    {9, Exactly, 1, 'P', &L::TakeSelect, 11},
    {9, Exactly, 1, AnyReply, &L::RaiseError, 9},
    {11, Exactly, 1, 'Y', &L::TakeWriteConfig, 12},
    {11, Exactly, 1, AnyReply, nullptr, 11},
    {12, AtLeast, 1, AnyReply, &L::ProgResult, Idle},
};

#define VARNEL_TABLE(rows) {rows, sizeof(rows) / sizeof(rows[0])}
const TBoardLink::TStepTable TBoardLink::ReadTable = VARNEL_TABLE(ReadRows);
const TBoardLink::TStepTable TBoardLink::VerifyTable = VARNEL_TABLE(VerifyRows);
const TBoardLink::TStepTable TBoardLink::EraseTable = VARNEL_TABLE(EraseRows);
const TBoardLink::TStepTable TBoardLink::BlankTable = VARNEL_TABLE(BlankRows);
const TBoardLink::TStepTable TBoardLink::EepProgTable = VARNEL_TABLE(EepProgRows);
const TBoardLink::TStepTable TBoardLink::ProgTable = VARNEL_TABLE(ProgRows);
#undef VARNEL_TABLE

// --- pieces shared by several rows ---

void TBoardLink::RaiseError()
{
    DataError = true;
}

void TBoardLink::TakeSelect()
{
    TakeReply();
    SendSelect();
}

void TBoardLink::TakeReadProgBlock()
{
    TakeReply();
    Send(CmdReadProgBlock);
}

void TBoardLink::TakePauseStart()
{
    TakeReply();
    Ui.Pause(500);
    SendStart();
}

void TBoardLink::TakeReadEepFirst()
{
    TakeReply();
    Ws.XferAddr = 0;
    Send(CmdReadEepBlock);
}

// After a program block of Read or Verify: close the phase before the
// EEPROM, or go straight to the ID on a chip without one.
bool TBoardLink::AfterProgramBlock(int32_t eepromStep, int32_t idStep)
{
    if (Ws.XferAddr < Ws.RomSize)
        return false;
    if (Ws.EepSize != 0) {
        Send(CmdEnd);
        Ws.OpStep = eepromStep;
    } else {
        Send(CmdReadIdConfig);
        Ws.OpStep = idStep;
    }
    return true;
}

// --- Read ---

void TBoardLink::ReadStoreProgBlock()
{
    for (int i = 0; i < BlockWords; ++i)
        Ws.RomData.push_back(std::to_string(Word(Ws.RxBuf, i)));
    TakeReply();
    Ws.XferAddr += BlockWords;
    Panel.SetProgress(Ws.XferAddr);
    if (Ws.CancelAsked) {
        EmptyImage();
        Send(CmdEnd);
        Finish();
        Panel.StartWaitTimer();
    } else if (!AfterProgramBlock(4, 9)) {
        Send(CmdReadProgBlock);
    }
}

void TBoardLink::ReadStoreEepBlock()
{
    for (int i = 0; i < EepBlockBytes; ++i)
        Ws.EepData.push_back(std::to_string(Ws.RxBuf[i]));
    TakeReply();
    Ws.XferAddr += EepBlockBytes;
    Panel.SetProgress(Ws.RomSize + Ws.XferAddr);
    if (Ws.CancelAsked) {
        EmptyImage();
        Send(CmdEnd);
        Finish();
        Panel.StartWaitTimer();
    } else if (Ws.XferAddr >= Ws.EepSize) {
        Send(CmdReadIdConfig);
        Ws.OpStep = 9;
    } else {
        Send(CmdReadEepBlock);
    }
}

void TBoardLink::ReadStoreIdFuse()
{
    Ws.IdValue = Word(Ws.RxBuf, 0);
    Ws.FuseWord = Word(Ws.RxBuf, 1);
    CheckSound();
    Send(CmdEnd);
    Panel.RedrawPad();
    Panel.UpDateFuseSettings();
    Finish();
    Ws.NewDataListed = true;
}

// --- Verify ---

void TBoardLink::VerifyProgBlock()
{
    for (int i = 0; i < BlockWords; ++i) {
        if (Word(Ws.RxBuf, i) != RomWord(Ws.XferAddr + i)) {
            const int32_t addr = Ws.XferAddr + i;
            Finish();
            Ui.Beep();
            ErrorBox(MsgRomVerifyError + MyIntToHex(addr, 4));
            Panel.StartWaitTimer();
            Send(CmdEnd);
            return;
        }
    }
    TakeReply();
    Ws.XferAddr += BlockWords;
    Panel.SetProgress(Ws.XferAddr);
    if (Ws.CancelAsked) {
        Send(CmdEnd);
        Finish();
        Panel.StartWaitTimer();
    } else if (!AfterProgramBlock(5, 10)) {
        Send(CmdReadProgBlock);
    }
}

void TBoardLink::VerifyEepBlock()
{
    for (int i = 0; i < EepBlockBytes; ++i) {
        if (Ws.RxBuf[i] != EepByte(Ws.XferAddr + i)) {
            const int32_t addr = Ws.XferAddr + i;
            Finish();
            Send(CmdEnd);
            Ui.Beep();
            ErrorBox(MsgEepromVerifyError + MyIntToHex(addr, 4));
            Panel.StartWaitTimer();
            return;
        }
    }
    TakeReply();
    Ws.XferAddr += EepBlockBytes;
    Panel.SetProgress(Ws.RomSize + Ws.XferAddr);
    if (Ws.CancelAsked) {
        Send(CmdEnd);
        Finish();
        Panel.StartWaitTimer();
    } else if (Ws.XferAddr < Ws.EepSize) {
        Send(CmdReadEepBlock);
    } else {
        Send(CmdReadIdConfig);
        Ws.OpStep = 10;
    }
}

void TBoardLink::VerifyIdFuse()
{
    const int32_t id = Word(Ws.RxBuf, 0);
    const int32_t fuses = Word(Ws.RxBuf, 1);
    Finish();
    Send(CmdEnd);
    if (id != Ws.IdValue) {
        Ui.Beep();
        ErrorBox(MsgIdError);
    } else if (fuses != Ws.FuseWord) {
        Ui.Beep();
        ErrorBox(MsgFuseError);
    } else {
        CheckSound();
        InfoBox(MsgDataVerified);
    }
    Panel.StartWaitTimer();
}

// --- Erase and blank test ---

void TBoardLink::EraseOpened()
{
    Panel.StopWaitTimer();
    TakeReply();
    SendBulkErase();
}

// One "W" of the bulk erase. Replies that came in the same read behind it
// (more "W", the final "Y") stay and are looked at next: dropping them
// would leave the erase, which has no time-out, waiting for ever.
void TBoardLink::EraseProgress()
{
    if (Ws.RxCount <= 1) {
        Ws.CleanRxBuffer();
    } else {
        DropFirstByte();
        Redispatch = true;
    }
    Ws.XferAddr += 8;
    Panel.SetProgress(Ws.XferAddr);
}

void TBoardLink::EraseDone()
{
    Finish();
    Send(CmdEnd);
    Panel.StartWaitTimer();
}

void TBoardLink::TakeBlankTest()
{
    TakeReply();
    Panel.StopWaitTimer();
    SendBlankTest();
}

void TBoardLink::BlankTestResult()
{
    static const TSubject Subjects[] = {
        {'Y', MsgChipIs}, {'R', MsgRomIsNot}, {'I', MsgIdIsNot}, {'F', MsgFuseIsNot}};
    const uint8_t reply = Ws.RxBuf[0];
    const std::string subject = SubjectOf(Subjects, 4, reply);
    if (reply == 'Y')
        CheckSound();
    else if (!subject.empty())
        Ui.Beep();
    Finish();
    Send(CmdEnd);
    Panel.StopWaitTimer();
    InfoBox(subject + MsgBlankEnd);
    Panel.StartWaitTimer();
}

// --- Program, both sequences ---

void TBoardLink::TakeWriteProgram()
{
    TakeReply();
    Send(Ws.EraseProgramRun ? CmdWriteProgEep : CmdWriteProgNoEep);
}

// The answer to an "M" below ProgEnd: the next word, or the end marker
// when the user has cancelled.
void TBoardLink::SendWordOrCancel()
{
    if (Ws.CancelAsked) {
        SendBytes({0xFF, 0xFF});
        Finish();
        return;
    }
    const int32_t word = RomWord(Ws.XferAddr);
    SendBytes({word >> 8, word});
    ++Ws.XferAddr;
}

void TBoardLink::TakeWriteConfig()
{
    TakeReply();
    SendConfigAndId(Ws.EraseProgramRun ? CmdWriteConfigEep : CmdWriteConfigNoEep);
}

void TBoardLink::ProgramResultBox()
{
    const uint8_t reply = Ws.RxBuf[0];
    if (reply == 'Y')
        InfoBox(MsgProgrammingComplete);
    else if (reply == 'I')
        ErrorBox(MsgProgrammingIdFailed);
    else
        ErrorBox(MsgProgrammingFuseFailed);
}

// --- Program on a chip with EEPROM ---

void TBoardLink::EepProgOpened()
{
    TakeReply();
    Panel.StopWaitTimer();
    Panel.SetProgressMax(Ws.EepSize);
    SendBulkErase();
}

void TBoardLink::EepProgErased()
{
    if (Ws.CancelAsked) {
        Send(CmdEnd);
        Finish();
        Panel.StartWaitTimer();
        return;
    }
    Ws.CleanRxBuffer();
    Panel.StartWaitTimer();
    Ws.XferAddr = 0;
    Panel.SetStatus("Programming");
    Panel.SetProgress(0);
    Panel.SetProgressMax(Ws.ProgEnd);
    Ui.Pause(200);
    SendSelect();
}

void TBoardLink::EepProgWordAsked()
{
    TakeReply();
    Panel.SetProgress(Ws.XferAddr);
    if (Ws.XferAddr < Ws.ProgEnd) {
        SendWordOrCancel();
        return;
    }
    SendBytes({0xFF, 0xFF});
    Panel.StopWaitTimer();
    Ui.Pause(300);
    Panel.StartWaitTimer();
    Panel.SetProgress(0);
    Panel.SetProgressMax(Ws.EepSize);
    SendStart();
    Ws.OpStep = 5;
}

std::string TBoardLink::FailedWordAddress() const
{
    // The board's third byte is not part of the address.
    const auto part = [this](int32_t index) {
        return index < Ws.RxCount ? MyIntToHex(Ws.RxBuf[index], 2) : std::string("??");
    };
    return part(1) + part(3);
}

// A failed program word. Acted on cut short, the operation ends before its
// box and nothing waits on the board afterwards: the rest of the reply, and
// the "Q" of the End, may still come, and are dropped when they do.
void TBoardLink::WordFailed(bool sendEnd)
{
    const std::string text = MsgRomVerifyError + FailedWordAddress();
    if (ActingLate) {
        const int32_t owed = FailedWordBytes - std::min(Ws.RxCount, FailedWordBytes);
        if (sendEnd)
            Send(CmdEnd);
        Finish();
        OwedBytes = owed;
        OwedQ = sendEnd;
        OwedUntil = Now() + std::chrono::milliseconds(WatchdogPeriodMs);
        Ui.Beep();
        ErrorBox(text);
        // What came while the box was open is read only now.
        OwedUntil = Now() + std::chrono::milliseconds(WatchdogPeriodMs);
        return;
    }
    if (!sendEnd) {
        Finish();
        Ui.Beep();
        ErrorBox(text);
        return;
    }
    Send(CmdEnd);
    Panel.StopWaitTimer();
    Ui.Beep();
    ErrorBox(text);
    Finish();
    Panel.StartWaitTimer();
}

void TBoardLink::EepProgWordFailed()
{
    WordFailed(true);
}

void TBoardLink::TakeWriteEeprom()
{
    TakeReply();
    Ws.XferAddr = 0;
    Send(CmdWriteEeprom);
}

void TBoardLink::EepBlockAsked()
{
    TakeReply();
    if (Ws.XferAddr < Ws.EepSize) {
        Send('Y');
        for (int i = 0; i < EepBlockBytes; ++i)
            Send(static_cast<uint8_t>(EepByte(Ws.XferAddr + i)));
        Ws.XferAddr += EepBlockBytes;
        Panel.SetProgress(Ws.XferAddr);
        return;
    }
    Send('N');
    if (Ws.CancelAsked) {
        Finish();
        return;
    }
    Panel.StopWaitTimer();
    Ui.Pause(500);
    Panel.StartWaitTimer();
    SendStart();
    Panel.SetStatus("Program Fuse");
    Ws.OpStep = 9;
}

void TBoardLink::EepByteFailed()
{
    // The board sends address + 1 in one byte, so address 255 arrives as 0;
    // EEPROM addresses are 0..255, and wrapping keeps the message true.
    const int32_t addr = (Ws.RxBuf[1] - 1) & 0xFF;
    Send(CmdEnd);
    Panel.StopWaitTimer();
    Ui.Beep();
    ErrorBox(MsgEepromVerifyError + MyIntToHex(addr, 4));
    Finish();
    Panel.StartWaitTimer();
}

void TBoardLink::EepProgResult()
{
    Panel.SetProgress(0);
    Send(CmdEnd);
    Panel.StopWaitTimer();
    Ui.Beep();
    ProgramResultBox();
    Finish();
    Panel.StartWaitTimer();
}

// --- Program on a chip without EEPROM ---

void TBoardLink::ProgTakeSelect()
{
    TakeReply();
    SendSelect();
    Panel.SetProgressMax(Ws.ProgEnd);
}

void TBoardLink::ProgBlankPassed()
{
    Panel.SetStatus("Programming");
    TakeReply();
    Send(CmdEnd);
    Panel.StartWaitTimer();
}

void TBoardLink::ProgBlankQuestion()
{
    static const TSubject Subjects[] = {{'F', "Fuse"}, {'I', "ID"}, {'R', "ROM"}};
    const std::string subject = SubjectOf(Subjects, 3, Ws.RxBuf[0]);
    CheckSound();
    const TAnswer answer = Ui.MessageBox(
        TBoxKind::Confirmation, subject + MsgNotBlankQuestionEnd, TBoxButtons::YesNo);
    if (answer == TAnswer::Yes) {
        ProgBlankPassed();
        return;
    }
    Finish();
    Send(CmdEnd);
    Panel.StartWaitTimer();
}

void TBoardLink::ProgBlankClosed()
{
    if (Ws.CancelAsked) {
        Finish();
        return;
    }
    Panel.StopWaitTimer();
    Ui.Pause(500);
    TakeReply();
    SendStart();
    Panel.StartWaitTimer();
}

void TBoardLink::ProgWordAsked()
{
    TakeReply();
    Panel.SetProgress(Ws.XferAddr);
    if (Ws.XferAddr < Ws.ProgEnd) {
        SendWordOrCancel();
        return;
    }
    SendBytes({0xFF, 0xFF});
    Panel.StopWaitTimer();
    Ui.Pause(500);
    Panel.StartWaitTimer();
    SendStart();
    Panel.SetStatus("Program Fuse");
    Ws.OpStep = 9;
}

void TBoardLink::ProgWordFailed()
{
    WordFailed(false);
}

void TBoardLink::ProgResult()
{
    Panel.SetProgress(0);
    Panel.StopWaitTimer();
    Send(CmdEnd);
    Ui.Beep();
    ProgramResultBox();
    Finish();
    Panel.StartWaitTimer();
}
