#include "hexfile/HexWriter.h"

#include "core/WorkState.h"
#include "hexfile/FileIo.h"
#include "hexfile/HexReader.h"
#include "view/HexText.h"

#include <cctype>
#include <cstring>
#include <cstdint>

namespace {

constexpr size_t EntriesPerRecord = 8;
constexpr int RomByteBase = 0x0000;
constexpr int EepByteBase = 2 * EepRegionFirst;
// Longer lists would spill into the next region of the address map.
constexpr size_t MaxRomEntries = RomRegionLast + 1;
constexpr size_t MaxEepEntries = EepRegionLast - EepRegionFirst + 1;

std::string Record(const std::string &body)
{
    return ":" + body + CheckSum(body);
}

// Appends one record of 8 entries per step, each entry's digits from
// entryDigits; false on a partial record or a non-decimal entry.
template<typename TDigits>
bool AppendListRecords(const std::vector<std::string> &list, int byteBase,
                       TDigits entryDigits, std::vector<std::string> &lines)
{
    int address = byteBase;
    for (size_t p = 0; p < list.size(); p += EntriesPerRecord, address += 16) {
        if (list.size() - p < EntriesPerRecord)
            return false;
        std::string body = "10" + MyIntToHex(address, 4) + "00";
        for (size_t k = p; k < p + EntriesPerRecord; ++k) {
            int32_t value = 0;
            if (!DecimalValue(list[k], value))
                return false;
            body += entryDigits(value);
        }
        lines.push_back(Record(body));
    }
    return true;
}

// The ID text left-filled with "F" to four digits; a lower-case digit is
// written in upper case and any other character as F (its value, 15), so the
// record always reads back.
std::string IdDigits(const std::string &idText)
{
    std::string digits = PadIdText(idText);
    for (char &c : digits)
        c = ToHex(static_cast<uint32_t>(HexToDec(CheckASCII(c))));
    return digits;
}

} // namespace

std::string CheckSum(const std::string &body)
{
    int sum = 0;
    for (size_t i = 0; i < body.size(); i += 2) {
        const int high = ASCIIToDec(body[i]);
        const int low = i + 1 < body.size() ? ASCIIToDec(body[i + 1]) : 0;
        sum += 16 * high + low;
    }
    const int low8 = sum % 256;
    return MyIntToHex(low8 == 0 ? 0 : 256 - low8, 2);
}

int ASCIIToDec(char c)
{
    return HexToDec(c);
}

bool HexFormatFromName(const std::string &name, THexFormat &format)
{
    static const struct
    {
        const char *Name;
        THexFormat Format;
    } Names[] = {{"inhx8m", THexFormat::Inhx8m}, {"inhx32", THexFormat::Inhx32}};
    std::string lower = name;
    for (char &c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (const auto &n : Names) {
        if (lower == n.Name) {
            format = n.Format;
            return true;
        }
    }
    return false;
}

bool BuildINHX8MLines(const TWorkState &ws, const std::string &idText,
                      std::vector<std::string> &lines, THexFormat format)
{
    lines.clear();
    if (ws.RomData.size() > MaxRomEntries || ws.EepData.size() > MaxEepEntries)
        return false;
    if (format == THexFormat::Inhx32)
        lines.push_back(LinearAddressZeroRecord);
    const auto wordDigits = [](int32_t v) { return MyIntToHex(v, 2) + MyIntToHex(v / 256, 2); };
    if (!AppendListRecords(ws.RomData, RomByteBase, wordDigits, lines))
        return false;

    std::string idBody = "08400000";
    for (char c : IdDigits(idText))
        idBody += std::string("0") + c + "00";
    lines.push_back(Record(idBody));

    const auto byteDigits = [](int32_t v) { return MyIntToHex(v, 2) + "00"; };
    if (!AppendListRecords(ws.EepData, EepByteBase, byteDigits, lines))
        return false;

    lines.push_back(Record("02400E00" + MyIntToHex(ws.FuseWord % 256, 2)
                           + MyIntToHex(ws.FuseWord / 256, 2)));
    lines.push_back(EndOfFileRecord);
    return true;
}

bool SaveINHX8MFile(TWorkState &ws, const std::string &idText, const std::string &path,
                    THexFormat format)
{
    try {
        if (!BuildINHX8MLines(ws, idText, ws.HexLines, format))
            return false;
        std::string text;
        for (const std::string &line : ws.HexLines)
            text += line + "\r\n";
        return SaveFileText(path, text);
    } catch (const std::exception &) {
        return false;
    }
}

std::string SaveFailureText(const std::string &path, const std::string &problem)
{
    const std::string message = SaveProblemMessage;
    return problem.empty() ? message : message + "\n" + path + ": " + problem;
}

std::string SaveFailureText(const std::string &path, int reason)
{
    return SaveFailureText(path, reason ? std::string(std::strerror(reason)) : std::string());
}
