#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

enum class TTraceDir { Host, Board };

// One run of consecutive bytes in one direction; Time is the first byte's, in
// seconds from the start of the session.
struct TTraceEntry
{
    TTraceDir Dir = TTraceDir::Host;
    std::vector<uint8_t> Bytes;
    double Time = 0.0;
};

// "  12.345 host  00 31" or "  12.346 board "P"": host bytes in hex, board
// letters (every reply character of the protocol) as quoted runs, other board
// bytes (data) in hex.
std::string FormatTraceLine(const TTraceEntry &entry);
std::string FormatTrace(const std::vector<TTraceEntry> &entries);

// In-memory trace: bytes join the last entry while the direction stays.
class TBoardTrace
{
public:
    void Record(TTraceDir dir, const uint8_t *data, size_t count, double time);
    const std::vector<TTraceEntry> &Entries() const { return FEntries; }
    void Clear() { FEntries.clear(); }

private:
    std::vector<TTraceEntry> FEntries;
};

// Trace file: holds the current run and writes it as one line when the
// direction changes, on Flush (the line went quiet) and on Close.
class TTraceWriter
{
public:
    TTraceWriter() = default;
    TTraceWriter(const TTraceWriter &) = delete;
    TTraceWriter &operator=(const TTraceWriter &) = delete;
    ~TTraceWriter() { Close(); }

    bool Open(const std::string &path);
    bool IsOpen() const { return FFile != nullptr; }
    void Record(TTraceDir dir, const uint8_t *data, size_t count, double time);
    void Flush();
    void Close();

private:
    std::FILE *FFile = nullptr;
    TTraceEntry FRun;
    bool FHasRun = false;
};
