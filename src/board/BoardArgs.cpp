#include "board/BoardArgs.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <functional>

namespace {

enum class TArgKind { Flag, Number, Byte, Text, HexBytes };

struct TOptionRule
{
    const char *Name;
    TArgKind Kind;
    long long Min;
    long long Max;
    const char *Help;
    std::function<void(TBoardOptions &, long long, const std::string &)> Apply;
};

// Byte fields also take a single character, so --wrong-byte '?' reads as 0x3F.
bool ParseNumber(const std::string &text, TArgKind kind, long long &value)
{
    if (kind == TArgKind::Byte && text.size() == 1 && (text[0] < '0' || text[0] > '9')) {
        value = static_cast<unsigned char>(text[0]);
        return true;
    }
    if (text.empty())
        return false;
    char *end = nullptr;
    errno = 0;
    value = std::strtoll(text.c_str(), &end, 0);
    return errno == 0 && *end == '\0';
}

// "0058FF" as the bytes 00 58 FF: pairs of hex digits, at least one.
bool ParseHexBytes(const std::string &text, std::string &bytes)
{
    if (text.empty() || text.size() % 2 != 0
        || text.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
        return false;
    bytes.clear();
    for (size_t i = 0; i < text.size(); i += 2)
        bytes += static_cast<char>(std::stoi(text.substr(i, 2), nullptr, 16));
    return true;
}

const std::vector<TOptionRule> &OptionRules()
{
    using K = TArgKind;
    static const std::vector<TOptionRule> List = {
        {"--trace", K::Text, 0, 0, "FILE  write a trace of both directions to FILE",
         [](TBoardOptions &o, long long, const std::string &s) { o.TracePath = s; }},
        {"--image", K::Text, 0, 0, "FILE  load the chip from an INHX8M file",
         [](TBoardOptions &o, long long, const std::string &s) { o.ImagePath = s; }},
        {"--pace", K::Flag, 0, 0, "      send at the wire rate of 19200 baud (1920 bytes/s)",
         [](TBoardOptions &o, long long, const std::string &) { o.Pace = true; }},
        {"--cable", K::Flag, 0, 0,
         "      both ways at that rate, as on a cable: a run takes a real line's time",
         [](TBoardOptions &o, long long, const std::string &) { o.Pace = o.Cable = true; }},
        {"--split-delay", K::Number, 1, 60000, "MS    send replies byte by byte, MS apart",
         [](TBoardOptions &o, long long v, const std::string &) {
             o.SplitDelayMs = static_cast<int>(v);
         }},
        {"--delay", K::Number, 0, 60000, "MS    wait MS before each reply",
         [](TBoardOptions &o, long long v, const std::string &) {
             o.DelayMs = static_cast<int>(v);
         }},
        {"--late-q", K::Number, 1, 60000, "MS    send the first \"Q\" MS late",
         [](TBoardOptions &o, long long v, const std::string &) {
             o.LateQMs = static_cast<int>(v);
         }},
        {"--usb-latency", K::Number, 1, 255,
         "MS    hold each reply shorter than a USB packet MS long, as an adapter's latency timer",
         [](TBoardOptions &o, long long v, const std::string &) {
             o.UsbLatencyMs = static_cast<int>(v);
         }},
        {"--cut-f", K::Number, 1, 60000,
         "MS    a failed word's \"F\" stops after its first address byte, the rest MS later",
         [](TBoardOptions &o, long long v, const std::string &) {
             o.CutFailMs = static_cast<int>(v);
         }},
        {"--early-bytes", K::HexBytes, 0, 0,
         "HEX   bytes on the line before the host opens it (e.g. 0058FF)",
         [](TBoardOptions &o, long long, const std::string &s) { o.EarlyBytes = s; }},
        {"--hello-glitch", K::Byte, 0, 255, "B     answer Hello with B before \"PP\"",
         [](TBoardOptions &o, long long v, const std::string &) {
             o.Faults.HelloGlitch = static_cast<int>(v);
         }},
        {"--hangup-after", K::Number, 1, LLONG_MAX, "N     close the line after sending N bytes",
         [](TBoardOptions &o, long long v, const std::string &) { o.HangupAfter = v; }},
        {"--silent-from", K::Number, 1, INT_MAX, "N     answer nothing from host message N on",
         [](TBoardOptions &o, long long v, const std::string &) {
             o.Faults.SilentFrom = static_cast<int>(v);
         }},
        {"--x-at", K::Number, 1, INT_MAX, "N     answer host message N with \"X\"",
         [](TBoardOptions &o, long long v, const std::string &) {
             o.Faults.XAt = static_cast<int>(v);
         }},
        {"--x-on-command", K::Byte, 0, 255, "CODE  answer every command CODE with \"X\"",
         [](TBoardOptions &o, long long v, const std::string &) {
             o.Faults.XOnCommand = static_cast<int>(v);
         }},
        {"--wrong-at", K::Number, 1, INT_MAX, "N     replace the first reply byte to message N",
         [](TBoardOptions &o, long long v, const std::string &) {
             o.Faults.WrongAt = static_cast<int>(v);
         }},
        {"--wrong-byte", K::Byte, 0, 255, "B     the replacing byte (default \"Z\")",
         [](TBoardOptions &o, long long v, const std::string &) {
             o.Faults.WrongByte = static_cast<uint8_t>(v);
         }},
        {"--fail-word", K::Number, 0, TBoardChip::RomWords - 1,
         "ADDR  writing program word ADDR fails (\"F\")",
         [](TBoardOptions &o, long long v, const std::string &) {
             o.Faults.FailWordAt = static_cast<int>(v);
         }},
        {"--fail-eeprom", K::Number, 0, TBoardChip::EepBytes - 1,
         "ADDR  writing EEPROM byte ADDR fails (\"N\")",
         [](TBoardOptions &o, long long v, const std::string &) {
             o.Faults.FailEepAt = static_cast<int>(v);
         }},
        {"--fail-id", K::Flag, 0, 0, "      writing the ID fails (\"I\")",
         [](TBoardOptions &o, long long, const std::string &) { o.Faults.FailId = true; }},
        {"--fail-config", K::Flag, 0, 0, "      writing the configuration word fails (\"F\")",
         [](TBoardOptions &o, long long, const std::string &) { o.Faults.FailConfig = true; }},
        {"--corrupt-word", K::Number, 0, TBoardChip::RomWords - 1,
         "ADDR  program word ADDR reads back with bit 0 flipped",
         [](TBoardOptions &o, long long v, const std::string &) {
             o.Faults.CorruptWordAt = static_cast<int>(v);
         }},
        {"--lose-q", K::Number, 1, INT_MAX, "N     End number N and later get no \"Q\"",
         [](TBoardOptions &o, long long v, const std::string &) {
             o.Faults.LoseQFrom = static_cast<int>(v);
         }},
        {"--new-chip-after", K::Number, 1, INT_MAX,
         "N     after End number N a blank chip is in the socket",
         [](TBoardOptions &o, long long v, const std::string &) {
             o.Faults.NewChipAfter = static_cast<int>(v);
         }},
    };
    return List;
}

} // namespace

std::string BoardUsage()
{
    std::string text = "Usage: varnel-board [options]\n"
                       "Serves a virtual programmer board on a pseudo-terminal; prints its\n"
                       "device path and runs until interrupted. Numbers take 0x for hex.\n\n";
    for (const TOptionRule &s : OptionRules())
        text += std::string("  ") + s.Name + std::string(16 - std::string(s.Name).size(), ' ')
                + s.Help + "\n";
    text += "  --help          show this text\n";
    return text;
}

TBoardArgs ParseBoardArgs(const std::vector<std::string> &args)
{
    TBoardArgs result;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string &name = args[i];
        if (name == "--help" || name == "-h") {
            result.Help = true;
            continue;
        }
        const TOptionRule *rule = nullptr;
        for (const TOptionRule &s : OptionRules()) {
            if (name == s.Name)
                rule = &s;
        }
        if (!rule) {
            result.Error = "unknown option " + name;
            return result;
        }
        if (rule->Kind == TArgKind::Flag) {
            rule->Apply(result.Options, 0, {});
            continue;
        }
        if (i + 1 >= args.size()) {
            result.Error = name + " needs a value";
            return result;
        }
        const std::string &text = args[++i];
        long long value = 0;
        if (rule->Kind != TArgKind::Text && rule->Kind != TArgKind::HexBytes
            && (!ParseNumber(text, rule->Kind, value) || value < rule->Min
                || value > rule->Max)) {
            result.Error = "bad value for " + name + ": " + text;
            return result;
        }
        if (rule->Kind == TArgKind::Text && text.empty()) {
            result.Error = name + " needs a value";
            return result;
        }
        if (rule->Kind == TArgKind::HexBytes) {
            std::string bytes;
            if (!ParseHexBytes(text, bytes)) {
                result.Error = "bad value for " + name + ": " + text;
                return result;
            }
            rule->Apply(result.Options, 0, bytes);
            continue;
        }
        rule->Apply(result.Options, value, text);
    }
    return result;
}
