#include "hexfile/HexReader.h"

#include "core/WorkState.h"
#include "hexfile/FileIo.h"
#include "hexfile/HexWriter.h"
#include "view/HexText.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <cstdint>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr size_t EndLineLength = 11; // also the overhead of a record around its data
constexpr size_t MaxLineLength = 43;
constexpr size_t DataStart = 9;

// A larger file is no INHX8M image of these chips; the cap keeps a runaway
// file from filling the memory.
constexpr size_t MaxFileBytes = 64u << 20;

int DigitValue(char c)
{
    return HexToDec(CheckASCII(c));
}

// Value of count hex digits from pos; characters past the end are not read.
int HexField(const std::string &text, size_t pos, size_t count)
{
    int value = 0;
    for (size_t i = pos; i < pos + count && i < text.size(); ++i)
        value = value * 16 + DigitValue(text[i]);
    return value;
}

struct TRecord
{
    int Count = 0;    // byte count field
    int WordAddr = 0; // byte address field / 2
    std::string Data; // the data digits, between type and checksum
};

// line must hold more than EndLineLength characters.
TRecord DecodeRecord(const std::string &line)
{
    TRecord rec;
    rec.Count = HexField(line, 1, 2);
    rec.WordAddr = HexField(line, 3, 4) / 2;
    rec.Data = line.substr(DataStart, line.size() - EndLineLength);
    return rec;
}

// A group of four data digits d1 d2 d3 d4 holds the word d3 d4 d1 d2.
int GroupWord(const std::string &data, size_t pos)
{
    return HexField(data, pos + 2, 2) * 256 + HexField(data, pos, 2);
}

// Places value at ExtractPos: overwrites in insert mode, appends otherwise
// (without insert mode the list always ends at ExtractPos).
void PlaceEntry(TWorkState &ws, std::vector<std::string> &list, const std::string &value)
{
    const size_t pos = static_cast<size_t>(ws.ExtractPos);
    if (ws.InsertMode && pos < list.size())
        list[pos] = value;
    else
        list.push_back(value);
    ++ws.ExtractPos;
}

// Advances ExtractPos to target, appending blanks only past the end of the
// list, so that existing entries in the gap stay in insert mode.
void FillGap(TWorkState &ws, std::vector<std::string> &list, int target,
             const std::string &blank)
{
    while (ws.ExtractPos < target) {
        if (!ws.InsertMode || static_cast<size_t>(ws.ExtractPos) >= list.size())
            list.push_back(blank);
        ++ws.ExtractPos;
    }
}

// Places one entry per group of four data digits; lowByteOnly keeps d1 d2.
bool PlaceRecord(TWorkState &ws, std::vector<std::string> &list, const TRecord &rec,
                 bool lowByteOnly)
{
    if (rec.Data.size() != static_cast<size_t>(2 * rec.Count))
        return false;
    for (size_t pos = 0; pos < rec.Data.size(); pos += 4) {
        if (rec.Data.size() - pos < 3) // odd byte count
            return false;
        const int value = lowByteOnly ? HexField(rec.Data, pos, 2) : GroupWord(rec.Data, pos);
        PlaceEntry(ws, list, std::to_string(value));
    }
    return true;
}

enum class TLineKind { Short, End, Record, Address };

TLineKind KindOf(const std::string &line)
{
    if (line.size() < EndLineLength)
        return TLineKind::Short;
    if (line.size() == EndLineLength)
        return TLineKind::End;
    return IsAddressRecord(line) ? TLineKind::Address : TLineKind::Record;
}

// What an address record of today's toolchains must hold to be read here: its
// byte count, and for the extended addresses an upper address of 0000, since
// these chips have nothing above 64 KiB. The address field is not used.
struct TAddressRecordRule
{
    char Type;          // second digit of the type field; the first is '0'
    int Count;
    bool UpperZeroOnly;
};

constexpr TAddressRecordRule AddressRecordRules[] = {
    {'2', 2, true},  // extended segment address
    {'3', 4, false}, // start segment address
    {'4', 2, true},  // extended linear address
    {'5', 4, false}, // start linear address
};

const TAddressRecordRule *AddressRuleOf(const std::string &line)
{
    if (line.size() <= DataStart || line[7] != '0')
        return nullptr;
    for (const TAddressRecordRule &rule : AddressRecordRules) {
        if (line[8] == rule.Type)
            return &rule;
    }
    return nullptr;
}

// line is a well-formed record, upper-cased, of one of the address types.
bool AddressRecordFits(const std::string &line, const TAddressRecordRule &rule)
{
    const TRecord rec = DecodeRecord(line);
    return rec.Count == rule.Count && (!rule.UpperZeroOnly || rec.Data == "0000");
}

// Where the passes would put the next record of each list region. A record
// starting below the end of the previous one would land after it, and one
// after a record beyond the region would never be read (the pass ends there).
class TRecordOrder
{
public:
    bool Accept(int wordAddr, int count)
    {
        for (TRegion &region : Regions) {
            if (wordAddr > region.Last) {
                region.Closed = true;
            } else if (wordAddr >= region.First) {
                if (region.Closed || wordAddr < region.End)
                    return false;
                region.End = wordAddr + (count + 1) / 2;
            }
        }
        return true;
    }

private:
    struct TRegion
    {
        int First;
        int Last;
        int End;
        bool Closed;
    };
    std::array<TRegion, 2> Regions{{{0, RomRegionLast, 0, false},
                                    {EepRegionFirst, EepRegionLast, EepRegionFirst, false}}};
};

// Only a regular file is read: anything else is refused before it is opened,
// since opening a serial device alone can change its lines, and a FIFO would
// hold the window.
bool ReadWholeFile(const std::string &path, std::string &text, std::string &problem)
{
    const TFd file(OpenRegularFile(path, O_RDONLY | O_NOCTTY, problem));
    if (file.Fd < 0)
        return false;
    errno = 0; // ReadAll sets none when the file is too large
    if (!ReadAll(file.Fd, text, MaxFileBytes)) {
        problem = errno ? std::strerror(errno) : "larger than a HEX file can be";
        return false;
    }
    return true;
}

} // namespace

std::string LineProblemMessage(int lineIndex)
{
    return LineProblemPrefix + std::to_string(lineIndex + 1) + ".";
}

char CheckASCII(char c)
{
    if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))
        return c;
    if (c >= 'a' && c <= 'f')
        return static_cast<char>(c - 'a' + 'A');
    return '-';
}

int ScanHexFile(const std::vector<std::string> &lines)
{
    TRecordOrder order;
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::string &raw = lines[i];
        const int index = static_cast<int>(i);
        if (raw.size() < EndLineLength || raw.size() > MaxLineLength)
            return index;
        if (raw.size() == EndLineLength)
            return ScanAccepted;
        if (raw[0] != ':')
            return index;
        std::string line = raw;
        for (size_t j = 1; j < line.size(); ++j) {
            line[j] = CheckASCII(raw[j]);
            if (line[j] == '-')
                return index;
        }
        const TRecord rec = DecodeRecord(line);
        if (line.size() != EndLineLength + 2 * static_cast<size_t>(rec.Count))
            return index;
        const size_t bodyEnd = line.size() - 2;
        if (CheckSum(line.substr(1, bodyEnd - 1)) != line.substr(bodyEnd))
            return index;
        if (const TAddressRecordRule *rule = AddressRuleOf(line)) {
            if (!AddressRecordFits(line, *rule))
                return index;
            continue; // no data, so no place in the record order
        }
        if (!order.Accept(rec.WordAddr, rec.Count))
            return index;
    }
    return ScanAccepted;
}

bool IsAddressRecord(const std::string &line)
{
    return line.size() > EndLineLength && AddressRuleOf(line) != nullptr;
}

std::string WithoutByteOrderMark(std::string text)
{
    static const std::string Mark = "\xEF\xBB\xBF";
    if (text.compare(0, Mark.size(), Mark) == 0)
        text.erase(0, Mark.size());
    return text;
}

std::vector<std::string> SplitTextLines(const std::string &text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find_first_of("\r\n", start);
        if (end == std::string::npos) {
            lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, end - start));
        if (text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n')
            ++end;
        start = end + 1;
    }
    return lines;
}

bool ExtractROMData(TWorkState &ws)
{
    if (!ws.InsertMode)
        ws.RomData.clear();
    ws.ExtractPos = 0;
    for (const std::string &line : ws.HexLines) {
        const TLineKind kind = KindOf(line);
        if (kind == TLineKind::Address)
            continue;
        if (kind != TLineKind::Record)
            return kind == TLineKind::End;
        const TRecord rec = DecodeRecord(line);
        if (rec.WordAddr > RomRegionLast)
            return true; // the program region is over
        FillGap(ws, ws.RomData, rec.WordAddr, BlankWord);
        if (!PlaceRecord(ws, ws.RomData, rec, false))
            return false;
    }
    return true;
}

bool ExtractEEPROMData(TWorkState &ws)
{
    if (ws.EepSize == 0)
        return true;
    if (!ws.InsertMode)
        ws.EepData.clear();
    ws.ExtractPos = 0;
    for (const std::string &line : ws.HexLines) {
        const TLineKind kind = KindOf(line);
        if (kind == TLineKind::Address)
            continue;
        if (kind != TLineKind::Record)
            return kind == TLineKind::End;
        const TRecord rec = DecodeRecord(line);
        if (rec.WordAddr < EepRegionFirst)
            continue;
        if (rec.WordAddr > EepRegionLast)
            return true; // the EEPROM region is over
        FillGap(ws, ws.EepData, rec.WordAddr - EepRegionFirst, BlankByte);
        if (!PlaceRecord(ws, ws.EepData, rec, true))
            return false;
    }
    return true;
}

bool ExtractIDdata(TWorkState &ws)
{
    for (const std::string &line : ws.HexLines) {
        const TLineKind kind = KindOf(line);
        if (kind == TLineKind::Address)
            continue;
        if (kind != TLineKind::Record)
            return kind == TLineKind::End;
        const TRecord rec = DecodeRecord(line);
        if (rec.WordAddr < IdRegionFirst || rec.WordAddr > IdRegionLast)
            continue;
        if (rec.Data.size() != static_cast<size_t>(2 * rec.Count))
            return false;
        // Each ID location holds one nibble: the low digit of its low byte.
        std::string digits;
        for (size_t pos = 0; pos < rec.Data.size() && digits.size() < 4; pos += 4) {
            if (rec.Data.size() - pos < 3)
                return false;
            digits += CheckASCII(rec.Data[pos + 1]);
        }
        ws.IdValue = IdTextValue(digits); // left-filled with "F"
        return true;
    }
    throw THexFileError("HEX lines end without an ID record or an end-of-file line");
}

bool ExtractFuseData(TWorkState &ws)
{
    for (const std::string &line : ws.HexLines) {
        const TLineKind kind = KindOf(line);
        if (kind == TLineKind::Address)
            continue;
        if (kind != TLineKind::Record)
            return kind == TLineKind::End;
        const TRecord rec = DecodeRecord(line);
        if (rec.WordAddr != FuseAddress)
            continue;
        if (rec.Count != 2 || rec.Data.size() != 4)
            return false;
        ws.FuseWord = GroupWord(rec.Data, 0);
        return true;
    }
    return false;
}

void FillRomData(TWorkState &ws)
{
    for (; ws.ExtractPos < ws.RomSize; ++ws.ExtractPos) {
        if (!ws.InsertMode)
            ws.RomData.push_back(BlankWord);
    }
}

void FillEepData(TWorkState &ws)
{
    for (; ws.ExtractPos < ws.EepSize; ++ws.ExtractPos) {
        if (!ws.InsertMode)
            ws.EepData.push_back(BlankByte);
    }
}

bool OscCalWordMissing(const TWorkState &ws)
{
    if (!ws.OscCalFamily || ws.RomSize <= 0)
        return false;
    const size_t last = static_cast<size_t>(ws.RomSize) - 1;
    return last >= ws.RomData.size() || ws.RomData[last] == BlankWord;
}

void ResetProgData(TWorkState &ws)
{
    ws.RomData.clear();
    ws.EepData.clear();
    ws.SetInitialFuseValue();
    ws.IdValue = 0xFFFF;
    // The unsaved data that the close question speaks of is gone.
    ws.NewDataListed = false;
}

THexLoadOutcome LoadHexFile(TWorkState &ws, const std::string &path, bool insert,
                            std::string *bytes)
{
    std::string text;
    std::string problem;
    bool read = false;
    try {
        read = ReadWholeFile(path, text, problem);
    } catch (const std::exception &) {
        read = false;
    }
    // Nothing has been touched yet, so an unreadable file loses nothing.
    if (!read)
        return {THexLoadStatus::Refused, LoadProblemMessage, problem};
    std::vector<std::string> lines = SplitTextLines(WithoutByteOrderMark(text));
    if (bytes)
        *bytes = std::move(text);
    return LoadHexLines(ws, std::move(lines), insert);
}

std::string LoadFailureText(const THexLoadOutcome &outcome, const std::string &path)
{
    const std::string message = outcome.Message.empty() ? LoadProblemMessage : outcome.Message;
    return outcome.Reason.empty() ? message : message + "\n" + path + ": " + outcome.Reason;
}

THexLoadOutcome LoadHexLines(TWorkState &ws, std::vector<std::string> lines, bool insert)
{
    struct TStep
    {
        bool (*Pass)(TWorkState &);
        void (*Fill)(TWorkState &);
        const char *Message;
    };
    static const TStep Steps[] = {
        {ExtractROMData, FillRomData, RomProblemMessage},
        {ExtractEEPROMData, FillEepData, EepromProblemMessage},
        {ExtractIDdata, nullptr, IdProblemMessage},
        {ExtractFuseData, nullptr, FuseProblemMessage},
    };

    const int32_t oldFuseWord = ws.FuseWord;
    const int32_t oldIdValue = ws.IdValue;
    ws.SetInitialFuseValue();
    ws.InsertMode = insert && (!ws.RomData.empty() || !ws.EepData.empty());
    try {
        ws.HexLines = std::move(lines);
        const int scan = ScanHexFile(ws.HexLines);
        if (scan != ScanAccepted) {
            ws.FuseWord = oldFuseWord;
            ws.IdValue = oldIdValue;
            return {THexLoadStatus::Refused, LineProblemMessage(scan), {}};
        }
        for (const TStep &step : Steps) {
            if (!step.Pass(ws)) {
                ResetProgData(ws);
                return {THexLoadStatus::PassFailed, step.Message, {}};
            }
            if (step.Fill)
                step.Fill(ws);
        }
    } catch (...) {
        ResetProgData(ws);
        return {THexLoadStatus::Exception, LoadProblemMessage, {}};
    }
    return {};
}
