// Reads and programs a full 16F877 through the serial component against the
// virtual board, unpaced and at the wire rate, and prints how close the link
// comes to the time the bytes need on a 19200-baud line.
#include "LinkSession.h"

#include <QCoreApplication>

#include <algorithm>
#include <cstdio>

namespace {

double Percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0.0;
    std::sort(values.begin(), values.end());
    const size_t index = static_cast<size_t>(p * static_cast<double>(values.size() - 1) + 0.5);
    return values[index];
}

struct TFigures
{
    const char *Mode, *Operation;
    long long HostBytes, BoardBytes, PausedMs;
    double Seconds;
    std::vector<double> Turnaround, RoundTrip;
    bool Ok;
};

TFigures Measure(TLinkSession &s, const char *mode, const char *operation,
                 void (TBoardLink::*button)())
{
    s.Line.TurnaroundUs.clear();
    s.Line.RoundTripUs.clear();
    const long long host = s.Line.HostBytes, board = s.Server.BytesSent();
    const long long paused = s.Ui.PausedMs;
    s.Log.clear();
    const auto start = std::chrono::steady_clock::now();
    const bool ok = s.Run([&] { (s.Link.*button)(); }, 600000);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const TLog boxes = Only(s.Log, {"box:error"});
    return {mode, operation, s.Line.HostBytes - host, s.Server.BytesSent() - board,
            s.Ui.PausedMs - paused, seconds, s.Line.TurnaroundUs, s.Line.RoundTripUs,
            ok && boxes.empty()};
}

void Print(const TFigures &f)
{
    const long long bytes = f.HostBytes + f.BoardBytes;
    const double bound = static_cast<double>(bytes) / WireBytesPerSecond + f.PausedMs / 1000.0;
    std::printf("%-8s %-8s %7lld %7lld %8lld %8.3f %9.3f %6.2f %8.1f %8.1f %9.1f %9.1f%s\n",
                f.Mode, f.Operation, f.HostBytes, f.BoardBytes, bytes, bound, f.Seconds,
                f.Seconds / bound, Percentile(f.Turnaround, 0.5), Percentile(f.Turnaround, 0.99),
                Percentile(f.RoundTrip, 0.5), Percentile(f.RoundTrip, 0.99),
                f.Ok ? "" : "  FAILED");
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    std::printf("Full 16F877 (8192 words, 256 EEPROM bytes) against the virtual board.\n"
                "bound = bytes x 10 / 19200 + fixed pauses; paced: the board's replies and\n"
                "the host's writes each take their wire time. Times in s, turnaround\n"
                "(last reply byte read -> next write) and round trip (write -> next write)\n"
                "in microseconds, median and 99th percentile.\n\n");
    std::printf("%-8s %-8s %7s %7s %8s %8s %9s %6s %8s %8s %9s %9s\n", "mode", "op",
                "host B", "board B", "wire B", "bound", "measured", "ratio", "turn50",
                "turn99", "trip50", "trip99");
    bool allOk = true;
    for (const bool paced : {false, true}) {
        TBoardOptions options;
        options.Pace = paced;
        TLinkSession s(options);
        if (!s.Up()) {
            std::fprintf(stderr, "virtual board: %s\n", s.Server.LastError().c_str());
            return 1;
        }
        s.Line.PaceHost = paced;
        s.Ui.Sleep = true;
        s.Chip(F877);
        s.Ws.RomData.clear();
        for (int i = 0; i < F877.RomSize; ++i)
            s.Ws.RomData.push_back(std::to_string((i * 131 + 7) & 0x3FFF));
        for (int i = 0; i < F877.EepSize; ++i)
            s.Ws.EepData.push_back(std::to_string(i & 0xFF));
        s.Ws.FuseWord = 0x3F72;
        s.Panel.Id = "1234";
        const char *mode = paced ? "paced" : "unpaced";
        const TFigures program = Measure(s, mode, "program", &TBoardLink::ProgButtClick);
        Print(program);
        const TFigures read = Measure(s, mode, "read", &TBoardLink::ReadButtClick);
        Print(read);
        allOk = allOk && program.Ok && read.Ok;
    }
    return allOk ? 0 : 1;
}
