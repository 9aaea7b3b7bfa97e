#include "board/BoardTrace.h"

namespace {

bool IsLetter(uint8_t b)
{
    return b >= 'A' && b <= 'Z';
}

void AppendHex(std::string &out, uint8_t b)
{
    static const char Digits[] = "0123456789ABCDEF";
    out += Digits[b >> 4];
    out += Digits[b & 0x0F];
}

} // namespace

std::string FormatTraceLine(const TTraceEntry &entry)
{
    char head[32];
    std::snprintf(head, sizeof head, "%8.3f %-5s", entry.Time,
                  entry.Dir == TTraceDir::Host ? "host" : "board");
    std::string line = head;
    const bool quoteLetters = entry.Dir == TTraceDir::Board;
    bool inQuote = false;
    for (uint8_t b : entry.Bytes) {
        if (quoteLetters && IsLetter(b)) {
            if (!inQuote) {
                line += " \"";
                inQuote = true;
            }
            line += static_cast<char>(b);
            continue;
        }
        if (inQuote) {
            line += '"';
            inQuote = false;
        }
        line += ' ';
        AppendHex(line, b);
    }
    if (inQuote)
        line += '"';
    return line;
}

std::string FormatTrace(const std::vector<TTraceEntry> &entries)
{
    std::string text;
    for (const TTraceEntry &e : entries) {
        text += FormatTraceLine(e);
        text += '\n';
    }
    return text;
}

void TBoardTrace::Record(TTraceDir dir, const uint8_t *data, size_t count, double time)
{
    if (count == 0)
        return;
    if (FEntries.empty() || FEntries.back().Dir != dir)
        FEntries.push_back({dir, {}, time});
    FEntries.back().Bytes.insert(FEntries.back().Bytes.end(), data, data + count);
}

bool TTraceWriter::Open(const std::string &path)
{
    Close();
    FFile = std::fopen(path.c_str(), "w");
    return FFile != nullptr;
}

void TTraceWriter::Record(TTraceDir dir, const uint8_t *data, size_t count, double time)
{
    if (!FFile || count == 0)
        return;
    if (FHasRun && FRun.Dir != dir)
        Flush();
    if (!FHasRun) {
        FRun = {dir, {}, time};
        FHasRun = true;
    }
    FRun.Bytes.insert(FRun.Bytes.end(), data, data + count);
}

void TTraceWriter::Flush()
{
    if (!FFile || !FHasRun)
        return;
    std::fprintf(FFile, "%s\n", FormatTraceLine(FRun).c_str());
    std::fflush(FFile);
    FHasRun = false;
}

void TTraceWriter::Close()
{
    if (!FFile)
        return;
    Flush();
    std::fclose(FFile);
    FFile = nullptr;
}
