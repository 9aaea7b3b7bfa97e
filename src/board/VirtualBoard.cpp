#include "board/VirtualBoard.h"

#include <algorithm>

namespace {

constexpr uint8_t ReplyReady = 'P';
constexpr uint8_t ReplyDone = 'Y';
constexpr uint8_t ReplyErasing = 'W';
constexpr uint8_t ReplyMore = 'M';
constexpr uint8_t ReplyWordFailed = TVirtualBoard::ReplyWordFailed;
constexpr uint8_t ReplyRomNotBlank = 'R';
constexpr uint8_t ReplyIdFailed = 'I';
constexpr uint8_t ReplyConfigFailed = 'F';
constexpr uint8_t ReplyEepFailed = 'N';
constexpr uint8_t ReplyEnd = TVirtualBoard::ReplyEnd;
constexpr uint8_t ReplyError = 'X';

constexpr uint8_t EepBlockMarker = 'Y';
constexpr uint8_t EepEndMarker = 'N';
constexpr uint8_t AbortCode = 0x0D;
constexpr uint16_t WordEndMarker = 0xFFFF;
constexpr int BlockSize = 8;
constexpr uint16_t CorruptBit = 0x0001;

// The host reads the failed address as 256 * byte 1 + byte 3.
constexpr uint8_t AddressFiller = 0x00;

uint16_t Word16(uint8_t high, uint8_t low)
{
    return static_cast<uint16_t>(high << 8 | low);
}

void AppendWord(std::vector<uint8_t> &out, uint16_t w)
{
    out.push_back(static_cast<uint8_t>(w >> 8));
    out.push_back(static_cast<uint8_t>(w & 0xFF));
}

} // namespace

const TVirtualBoard::TCommand *TVirtualBoard::FindCommand(uint8_t code)
{
    static const TCommand Commands[] = {
        {0x00, 1, &TVirtualBoard::RunStart},
        {0x01, 0, &TVirtualBoard::RunHello},
        {0x02, 1, &TVirtualBoard::RunSelect},
        {0x03, 0, &TVirtualBoard::RunWriteOtpRom},
        {0x04, 0, &TVirtualBoard::RunWriteRom},
        {0x05, 0, &TVirtualBoard::RunReadRom},
        {0x06, 4, &TVirtualBoard::RunWriteOtpConfig},
        {0x07, 4, &TVirtualBoard::RunWriteConfig},
        {0x08, 0, &TVirtualBoard::RunReadIdConfig},
        {0x09, 0, &TVirtualBoard::RunReadEep},
        {0x0A, 0, &TVirtualBoard::RunWriteEep},
        {0x0B, 2, &TVirtualBoard::RunBlankTest},
        {0x0C, 3, &TVirtualBoard::RunBulkErase},
        {AbortCode, 0, &TVirtualBoard::RunAbort},
        {0x0E, 0, &TVirtualBoard::RunEnd},
        {'Y', 0, &TVirtualBoard::RunAcknowledge},
    };
    static const TCommand Unknown = {0, 0, &TVirtualBoard::RunUnknown};
    for (const TCommand &c : Commands) {
        if (c.Code == code)
            return &c;
    }
    return &Unknown;
}

TVirtualBoard::TVirtualBoard(const TBoardFaults &faults)
    : FFaults(faults)
{
}

void TVirtualBoard::Reset()
{
    FMode = TMode::Command;
    FPending = nullptr;
    FArgs.clear();
    FRomAddr = 0;
    FEepAddr = 0;
    FMessageCount = 0;
    FEndCount = 0;
}

std::vector<uint8_t> TVirtualBoard::TakeOutput()
{
    std::vector<uint8_t> out;
    out.swap(FOutput);
    return out;
}

void TVirtualBoard::Feed(const std::vector<uint8_t> &hostBytes)
{
    for (uint8_t b : hostBytes)
        Feed(b);
}

void TVirtualBoard::Feed(uint8_t hostByte)
{
    if (FTraceOn)
        FTrace.Record(TTraceDir::Host, &hostByte, 1, 0.0);
    switch (FMode) {
    case TMode::Dead:
        return;
    case TMode::Command:
        FeedCommandByte(hostByte);
        return;
    case TMode::Args:
        FArgs.push_back(hostByte);
        if (static_cast<int>(FArgs.size()) == FPending->ArgCount) {
            const TArgs args = std::move(FArgs);
            FArgs.clear();
            FMode = TMode::Command;
            Complete(FPending, FPendingCode, args);
        }
        return;
    case TMode::Words:
        FArgs.push_back(hostByte);
        if (FArgs.size() == 2) {
            const TArgs args = std::move(FArgs);
            FArgs.clear();
            Complete(nullptr, 0, args);
        }
        return;
    case TMode::EepBlocks:
        FeedEepByte(hostByte);
        return;
    }
}

void TVirtualBoard::FeedCommandByte(uint8_t b)
{
    const TCommand *command = FindCommand(b);
    if (command->ArgCount == 0) {
        Complete(command, b, {});
        return;
    }
    FPending = command;
    FPendingCode = b;
    FArgs.clear();
    FMode = TMode::Args;
}

void TVirtualBoard::FeedEepByte(uint8_t b)
{
    if (!FArgs.empty()) {
        FArgs.push_back(b);
        if (FArgs.size() == 1 + BlockSize) {
            const TArgs block(FArgs.begin() + 1, FArgs.end());
            FArgs.clear();
            Complete(nullptr, 0, block);
        }
        return;
    }
    if (b == EepBlockMarker) {
        FArgs.push_back(b);
        return;
    }
    // The end marker, Abort or a stray byte: each ends the stream.
    FMode = TMode::Command;
    Complete(nullptr, 0, {b});
}

void TVirtualBoard::Complete(const TCommand *command, uint8_t code, const TArgs &args)
{
    const int number = ++FMessageCount;
    if (FFaults.SilentFrom > 0 && number >= FFaults.SilentFrom) {
        FMode = TMode::Dead;
        return;
    }
    if (FFaults.XAt == number || (command && FFaults.XOnCommand == code)) {
        FMode = TMode::Command;
        Emit({ReplyError});
        return;
    }
    TReply reply = Execute(command, args);
    if (FFaults.WrongAt == number && !reply.empty()) {
        reply[0] = FFaults.WrongByte;
        FMode = TMode::Command;
    }
    Emit(reply);
}

TVirtualBoard::TReply TVirtualBoard::Execute(const TCommand *command, const TArgs &args)
{
    if (command)
        return (this->*command->Run)(args);
    if (FMode == TMode::Words)
        return StoreWord(Word16(args[0], args[1]));
    if (args.size() == BlockSize)
        return StoreEepBlock(args);
    // A single byte that ended the EEPROM stream.
    if (args[0] == EepEndMarker || args[0] == AbortCode)
        return {};
    return {ReplyError};
}

void TVirtualBoard::Emit(const TReply &reply)
{
    if (reply.empty())
        return;
    if (FTraceOn)
        FTrace.Record(TTraceDir::Board, reply.data(), reply.size(), 0.0);
    if (FSink)
        FSink(reply);
    else
        FOutput.insert(FOutput.end(), reply.begin(), reply.end());
}

TVirtualBoard::TReply TVirtualBoard::RunStart(const TArgs &args)
{
    FFamilyChar = args[0];
    FRomAddr = 0;
    FEepAddr = 0;
    return {ReplyReady};
}

TVirtualBoard::TReply TVirtualBoard::RunHello(const TArgs &)
{
    if (FFaults.HelloGlitch >= 0)
        return {static_cast<uint8_t>(FFaults.HelloGlitch), ReplyReady, ReplyReady};
    return {ReplyReady, ReplyReady};
}

TVirtualBoard::TReply TVirtualBoard::RunSelect(const TArgs &args)
{
    FSocketChar = args[0];
    return {ReplyDone};
}

TVirtualBoard::TReply TVirtualBoard::RunWriteRom(const TArgs &)
{
    FOtp = false;
    FMode = TMode::Words;
    return {ReplyMore};
}

TVirtualBoard::TReply TVirtualBoard::RunWriteOtpRom(const TArgs &)
{
    FOtp = true;
    FMode = TMode::Words;
    return {ReplyMore};
}

TVirtualBoard::TReply TVirtualBoard::RunReadRom(const TArgs &)
{
    TReply reply;
    for (int i = 0; i < BlockSize; ++i) {
        AppendWord(reply, FChip.Rom[FRomAddr]);
        FRomAddr = (FRomAddr + 1) % TBoardChip::RomWords;
    }
    return reply;
}

TVirtualBoard::TReply TVirtualBoard::RunWriteConfig(const TArgs &args)
{
    return StoreConfigId(args, false);
}

TVirtualBoard::TReply TVirtualBoard::RunWriteOtpConfig(const TArgs &args)
{
    return StoreConfigId(args, true);
}

TVirtualBoard::TReply TVirtualBoard::RunReadIdConfig(const TArgs &)
{
    TReply reply;
    AppendWord(reply, FChip.Id);
    AppendWord(reply, FChip.Config);
    return reply;
}

TVirtualBoard::TReply TVirtualBoard::RunReadEep(const TArgs &)
{
    TReply reply;
    for (int i = 0; i < BlockSize; ++i) {
        reply.push_back(FChip.Eep[FEepAddr]);
        FEepAddr = (FEepAddr + 1) % TBoardChip::EepBytes;
    }
    return reply;
}

TVirtualBoard::TReply TVirtualBoard::RunWriteEep(const TArgs &)
{
    FMode = TMode::EepBlocks;
    FArgs.clear();
    return {ReplyMore};
}

TVirtualBoard::TReply TVirtualBoard::RunBlankTest(const TArgs &args)
{
    const int words = std::min<int>(Word16(args[0], args[1]), TBoardChip::RomWords);
    const auto romEnd = FChip.Rom.begin() + words;
    if (std::any_of(FChip.Rom.begin(), romEnd,
                    [](uint16_t w) { return w != TBoardChip::ErasedWord; }))
        return {ReplyRomNotBlank};
    if (FChip.Id != TBoardChip::ErasedId)
        return {ReplyIdFailed};
    if (FChip.Config != TBoardChip::ErasedConfig)
        return {ReplyConfigFailed};
    return {ReplyDone};
}

TVirtualBoard::TReply TVirtualBoard::RunBulkErase(const TArgs &args)
{
    FSocketChar = args[0];
    FChip.Erase();
    TReply reply(Word16(args[1], args[2]) / BlockSize, ReplyErasing);
    reply.push_back(ReplyDone);
    return reply;
}

TVirtualBoard::TReply TVirtualBoard::RunAbort(const TArgs &)
{
    return {};
}

TVirtualBoard::TReply TVirtualBoard::RunEnd(const TArgs &)
{
    ++FEndCount;
    // The operator swapped the chip between two operations.
    if (FFaults.NewChipAfter > 0 && FEndCount == FFaults.NewChipAfter)
        FChip.Erase();
    if (FFaults.LoseQFrom > 0 && FEndCount >= FFaults.LoseQFrom)
        return {};
    return {ReplyEnd};
}

TVirtualBoard::TReply TVirtualBoard::RunAcknowledge(const TArgs &)
{
    return {};
}

TVirtualBoard::TReply TVirtualBoard::RunUnknown(const TArgs &)
{
    return {ReplyError};
}

TVirtualBoard::TReply TVirtualBoard::StoreWord(uint16_t word)
{
    if (word == WordEndMarker) {
        FMode = TMode::Command;
        return {};
    }
    const int addr = FRomAddr;
    FRomAddr = (FRomAddr + 1) % TBoardChip::RomWords;
    const uint16_t wanted = word & TBoardChip::WordMask;
    bool failed = addr == FFaults.FailWordAt;
    if (!failed) {
        uint16_t &cell = FChip.Rom[addr];
        // EPROM and OTP cells can only lose bits.
        failed = FOtp && (wanted & ~cell) != 0;
        cell = FOtp ? static_cast<uint16_t>(cell & wanted) : wanted;
        // A weak cell: the write is reported good, the word reads back wrong.
        if (addr == FFaults.CorruptWordAt)
            cell ^= CorruptBit;
    }
    if (!failed)
        return {ReplyMore};
    FMode = TMode::Command;
    return {ReplyWordFailed, static_cast<uint8_t>(addr >> 8), AddressFiller,
            static_cast<uint8_t>(addr & 0xFF)};
}

TVirtualBoard::TReply TVirtualBoard::StoreEepBlock(const TArgs &block)
{
    const int first = FEepAddr;
    if (FFaults.FailEepAt >= first && FFaults.FailEepAt < first + BlockSize) {
        FMode = TMode::Command;
        // The host shows this byte minus 1 as the address.
        return {ReplyEepFailed, static_cast<uint8_t>(FFaults.FailEepAt + 1)};
    }
    for (uint8_t b : block) {
        FChip.Eep[FEepAddr] = b;
        FEepAddr = (FEepAddr + 1) % TBoardChip::EepBytes;
    }
    return {ReplyMore};
}

TVirtualBoard::TReply TVirtualBoard::StoreConfigId(const TArgs &args, bool otp)
{
    const uint16_t config = Word16(args[0], args[1]) & TBoardChip::WordMask;
    const uint16_t id = Word16(args[2], args[3]);
    bool idFailed = FFaults.FailId;
    bool configFailed = FFaults.FailConfig;
    if (otp) {
        idFailed = idFailed || (id & ~FChip.Id) != 0;
        configFailed = configFailed || (config & ~FChip.Config) != 0;
    }
    if (!FFaults.FailId)
        FChip.Id = otp ? static_cast<uint16_t>(FChip.Id & id) : id;
    if (!FFaults.FailConfig)
        FChip.Config = otp ? static_cast<uint16_t>(FChip.Config & config) : config;
    if (idFailed)
        return {ReplyIdFailed};
    if (configFailed)
        return {ReplyConfigFailed};
    return {ReplyDone};
}
