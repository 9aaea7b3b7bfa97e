#pragma once

#include "board/BoardTrace.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// The chip in the emulated socket: the largest memory of the supported parts.
struct TBoardChip
{
    static constexpr int RomWords = 8192;
    static constexpr int EepBytes = 256;
    static constexpr uint16_t WordMask = 0x3FFF;
    static constexpr uint16_t ErasedWord = 0x3FFF;
    static constexpr uint8_t ErasedByte = 0xFF;
    static constexpr uint16_t ErasedId = 0xFFFF;
    static constexpr uint16_t ErasedConfig = 0x3FFF;

    std::vector<uint16_t> Rom = std::vector<uint16_t>(RomWords, ErasedWord);
    std::vector<uint8_t> Eep = std::vector<uint8_t>(EepBytes, ErasedByte);
    uint16_t Id = ErasedId;
    uint16_t Config = ErasedConfig;

    void Erase() { *this = TBoardChip(); }
};

// Misbehaviour on request. Host messages are numbered from 1 in order of
// arrival: a command with its argument bytes, a program word, an EEPROM block,
// each end marker, the acknowledge "Y" and Abort each count as one message.
// A value of 0 (counts) or -1 (addresses, bytes) switches a fault off.
struct TBoardFaults
{
    int SilentFrom = 0;      // from this message on the board takes bytes and does nothing
    int XAt = 0;             // this message is answered "X" and not carried out
    int XOnCommand = -1;     // every command with this code is answered "X"
    int WrongAt = 0;         // the first reply byte to this message becomes WrongByte
    uint8_t WrongByte = 'Z';
    int FailWordAt = -1;     // writing this program address fails: "F" and the address
    int FailEepAt = -1;      // writing the block holding this EEPROM address fails: "N"
    bool FailId = false;     // configuration and ID writes answer "I"
    bool FailConfig = false; // configuration and ID writes answer "F"
    int CorruptWordAt = -1;  // this program address keeps bit 0 flipped, answered "M"
    int LoseQFrom = 0;       // End number this and later (counted from 1) get no "Q"
    int NewChipAfter = 0;    // after End number this a blank chip is in the socket
    int HelloGlitch = -1;    // this byte goes out before the "PP" that answers Hello
};

// Byte-level emulation of the programmer board: deterministic and timeless.
// Each host byte goes to Feed; each complete reply goes to the sink, or, with
// no sink set, to an output queue that TakeOutput empties.
// After "X", a replaced reply, an "F" or "N" failure or Abort the board is back
// in command mode. Abort (0x0D) is recognised where a command or an EEPROM
// block marker is due; inside a program word 0x0D is an ordinary data byte.
class TVirtualBoard
{
public:
    // End's answer, the board's closing "Q".
    static constexpr uint8_t ReplyEnd = 'Q';
    // A failed program word: "F", address high, a filler, address low.
    static constexpr uint8_t ReplyWordFailed = 'F';
    static constexpr size_t WordFailedLength = 4;
    using TReplySink = std::function<void(const std::vector<uint8_t> &reply)>;

    explicit TVirtualBoard(const TBoardFaults &faults = {});

    void Feed(uint8_t hostByte);
    void Feed(const std::vector<uint8_t> &hostBytes);

    void SetReplySink(TReplySink sink) { FSink = std::move(sink); }
    std::vector<uint8_t> TakeOutput();

    TBoardChip &Chip() { return FChip; }
    const TBoardChip &Chip() const { return FChip; }

    const TBoardFaults &Faults() const { return FFaults; }
    void SetFaults(const TBoardFaults &faults) { FFaults = faults; }

    // The last family character (Start) and socket character (Select, Bulk
    // erase) received; 0 before any.
    uint8_t FamilyChar() const { return FFamilyChar; }
    uint8_t SocketChar() const { return FSocketChar; }
    int MessageCount() const { return FMessageCount; }
    bool Silent() const { return FMode == TMode::Dead; }

    // Power cycle: command mode, counters and message numbers from the start,
    // silence lifted; the chip keeps its contents.
    void Reset();

    // In-memory trace of both directions (off by default); times are 0.
    void SetTraceEnabled(bool on) { FTraceOn = on; }
    const TBoardTrace &Trace() const { return FTrace; }

private:
    enum class TMode { Command, Args, Words, EepBlocks, Dead };
    using TReply = std::vector<uint8_t>;
    using TArgs = std::vector<uint8_t>;
    struct TCommand
    {
        uint8_t Code;
        int ArgCount;
        TReply (TVirtualBoard::*Run)(const TArgs &args);
    };
    static const TCommand *FindCommand(uint8_t code);

    void FeedCommandByte(uint8_t b);
    void FeedEepByte(uint8_t b);
    // A complete message; command is null for words, blocks and end markers.
    void Complete(const TCommand *command, uint8_t code, const TArgs &args);
    TReply Execute(const TCommand *command, const TArgs &args);
    void Emit(const TReply &reply);

    TReply RunStart(const TArgs &args);
    TReply RunHello(const TArgs &args);
    TReply RunSelect(const TArgs &args);
    TReply RunWriteRom(const TArgs &args);
    TReply RunWriteOtpRom(const TArgs &args);
    TReply RunReadRom(const TArgs &args);
    TReply RunWriteConfig(const TArgs &args);
    TReply RunWriteOtpConfig(const TArgs &args);
    TReply RunReadIdConfig(const TArgs &args);
    TReply RunReadEep(const TArgs &args);
    TReply RunWriteEep(const TArgs &args);
    TReply RunBlankTest(const TArgs &args);
    TReply RunBulkErase(const TArgs &args);
    TReply RunAbort(const TArgs &args);
    TReply RunEnd(const TArgs &args);
    TReply RunAcknowledge(const TArgs &args);
    TReply RunUnknown(const TArgs &args);

    TReply StoreWord(uint16_t word);
    TReply StoreEepBlock(const TArgs &block);
    TReply StoreConfigId(const TArgs &args, bool otp);

    TBoardFaults FFaults;
    TBoardChip FChip;
    TMode FMode = TMode::Command;
    const TCommand *FPending = nullptr;
    uint8_t FPendingCode = 0;
    TArgs FArgs;
    bool FOtp = false;
    int FRomAddr = 0;
    int FEepAddr = 0;
    uint8_t FFamilyChar = 0;
    uint8_t FSocketChar = 0;
    int FMessageCount = 0;
    int FEndCount = 0;

    TReplySink FSink;
    std::vector<uint8_t> FOutput;
    bool FTraceOn = false;
    TBoardTrace FTrace;
};

// Loads an INHX8M file into chip with our HEX reader: words, EEPROM, ID and
// configuration word that the file lacks stay erased. Returns "" on success,
// else the reader's message; chip is unchanged then.
std::string LoadBoardImage(TBoardChip &chip, const std::string &path);
