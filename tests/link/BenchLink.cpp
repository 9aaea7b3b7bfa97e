// Programs and reads a full 16F877 through the serial component against the
// virtual board and prints three tables: the host's turnaround as the board
// sees it, beside a minimal host in plain C on the same board (the floor of
// this machine); how close the link comes to the wire time at 19200 baud; and
// the program time behind a USB adapter's latency timer; and several boards
// from one command against one.
#include "LinkSession.h"
#include "support/FullImageHex.h"
#include "support/TestFiles.h"

#include <QCoreApplication>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <functional>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#ifndef VARNEL_FLOOR_HOST
#error "VARNEL_FLOOR_HOST must name the bench_floor_host executable"
#endif
#if !defined(VARNEL_CLI) || !defined(VARNEL_BOARD)
#error "VARNEL_CLI and VARNEL_BOARD must name varnelpro-cli and varnel-board"
#endif

extern char **environ;

namespace {

// Alternating rounds of the floor and the real host even out a passing load.
constexpr int TurnaroundRounds = 4;
constexpr int UsbLatenciesMs[] = {16, 1};
const char *const UsbRowOption = "--usb-program";

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

// A session with a full 16F877 image ready to program.
std::unique_ptr<TLinkSession> Session(const TBoardOptions &options)
{
    auto s = std::make_unique<TLinkSession>(options);
    if (!s->Up()) {
        std::fprintf(stderr, "virtual board: %s\n", s->Server.LastError().c_str());
        return nullptr;
    }
    s->Line.PaceHost = options.Pace;
    s->Ui.Sleep = true;
    s->Chip(F877);
    s->Ws.RomData.clear();
    for (int i = 0; i < F877.RomSize; ++i)
        s->Ws.RomData.push_back(std::to_string((i * 131 + 7) & 0x3FFF));
    for (int i = 0; i < F877.EepSize; ++i)
        s->Ws.EepData.push_back(std::to_string(i & 0xFF));
    s->Ws.FuseWord = 0x3F72;
    s->Panel.Id = "1234";
    return s;
}

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

void PrintWireRow(const TFigures &f)
{
    const long long bytes = f.HostBytes + f.BoardBytes;
    const double bound = static_cast<double>(bytes) / WireBytesPerSecond + f.PausedMs / 1000.0;
    std::printf("%-8s %-8s %7lld %7lld %8lld %8.3f %9.3f %6.2f %8.1f %8.1f %9.1f %9.1f%s\n",
                f.Mode, f.Operation, f.HostBytes, f.BoardBytes, bytes, bound, f.Seconds,
                f.Seconds / bound, Percentile(f.Turnaround, 0.5), Percentile(f.Turnaround, 0.99),
                Percentile(f.RoundTrip, 0.5), Percentile(f.RoundTrip, 0.99),
                f.Ok ? "" : "  FAILED");
}

// Starts a program with its standard output on outFd and its error output on
// errFd (-1: this one's).
pid_t Spawn(const std::vector<std::string> &args, int outFd, int errFd = -1)
{
    std::vector<char *> argv;
    for (const std::string &arg : args)
        argv.push_back(const_cast<char *>(arg.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (outFd >= 0)
        posix_spawn_file_actions_adddup2(&actions, outFd, STDOUT_FILENO);
    if (errFd >= 0)
        posix_spawn_file_actions_adddup2(&actions, errFd, STDERR_FILENO);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

bool Succeeded(pid_t pid)
{
    int status = 0;
    return pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status)
           && WEXITSTATUS(status) == 0;
}

void Append(std::vector<double> &to, const std::vector<double> &values)
{
    to.insert(to.end(), values.begin(), values.end());
}

void PrintTurnRow(const char *host, const std::vector<double> &us)
{
    std::printf("%-22s %8zu %10.1f %10.1f\n", host, us.size(), Percentile(us, 0.5),
                Percentile(us, 0.99));
}

// The floor host and the real one take turns on one board, each programming
// the whole chip; the board notes every turnaround.
bool CompareTurnaround()
{
    TBoardOptions options;
    options.TimeTurnaround = true;
    const auto s = Session(options);
    if (!s)
        return false;
    std::vector<double> floor, host;
    bool ok = true;
    for (int round = 0; round < TurnaroundRounds && ok; ++round) {
        s->Serial.SetActive(false);
        s->Server.TakeTurnaroundUs();
        ok = Succeeded(Spawn({VARNEL_FLOOR_HOST, s->Path}, -1));
        Append(floor, s->Server.TakeTurnaroundUs());
        s->Serial.SetActive(true);
        ok = ok && Measure(*s, "", "program", &TBoardLink::ProgButtClick).Ok;
        Append(host, s->Server.TakeTurnaroundUs());
    }
    std::printf("%-22s %8s %10s %10s\n", "host", "replies", "median", "p99");
    PrintTurnRow("minimal C host (floor)", floor);
    PrintTurnRow("varnelpro link", host);
    const double floor50 = Percentile(floor, 0.5), floor99 = Percentile(floor, 0.99);
    std::printf("%-22s %8s %9.2fx %9.2fx%s\n\n", "ratio", "",
                floor50 > 0 ? Percentile(host, 0.5) / floor50 : 0.0,
                floor99 > 0 ? Percentile(host, 0.99) / floor99 : 0.0, ok ? "" : "  FAILED");
    return ok;
}

bool WireTable()
{
    std::printf("%-8s %-8s %7s %7s %8s %8s %9s %6s %8s %8s %9s %9s\n", "mode", "op",
                "host B", "board B", "wire B", "bound", "measured", "ratio", "turn50",
                "turn99", "trip50", "trip99");
    bool allOk = true;
    for (const bool paced : {false, true}) {
        TBoardOptions options;
        options.Pace = paced;
        const auto s = Session(options);
        if (!s)
            return false;
        const char *mode = paced ? "paced" : "unpaced";
        const TFigures program = Measure(*s, mode, "program", &TBoardLink::ProgButtClick);
        PrintWireRow(program);
        const TFigures read = Measure(*s, mode, "read", &TBoardLink::ReadButtClick);
        PrintWireRow(read);
        allOk = allOk && program.Ok && read.Ok;
    }
    std::printf("\n");
    return allOk;
}

// One row of the latency table: a paced full program behind the given hold.
int UsbRow(int latencyMs)
{
    TBoardOptions options;
    options.Pace = true;
    options.UsbLatencyMs = latencyMs;
    const auto s = Session(options);
    if (!s)
        return 1;
    const TFigures f = Measure(*s, "paced", "program", &TBoardLink::ProgButtClick);
    std::printf("%10d %9.1f %10.0f %10.0f%s\n", latencyMs, f.Seconds,
                Percentile(f.RoundTrip, 0.5), Percentile(f.RoundTrip, 0.99),
                f.Ok ? "" : "  FAILED");
    return f.Ok ? 0 : 1;
}

} // namespace

struct TRunCost
{
    double Wall = 0, Cpu = 0;
    bool Ok = false;
};

double Seconds(const timeval &t)
{
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

// N virtual boards paced to 19200 baud both ways, as on a cable, each a
// varnel-board process of its own; runs the commands made for their devices at
// once. Wall time to the last one's end; processor time of the commands only
// (user + system, from wait4: the boards' is theirs).
TRunCost RunOnBoards(int boards,
                     const std::function<std::vector<std::vector<std::string>>(
                             const std::vector<std::string> &)> &commands)
{
    std::vector<pid_t> servers;
    std::vector<std::string> devices;
    bool ok = true;
    for (int b = 0; b < boards && ok; ++b) {
        int out[2];
        ok = ::pipe(out) == 0;
        if (!ok)
            break;
        const pid_t server = Spawn({VARNEL_BOARD, "--cable"}, out[1]);
        ::close(out[1]);
        ok = server > 0;  // a -1 here would signal every process of ours below
        if (ok)
            servers.push_back(server);
        std::string device;
        char c;
        while (::read(out[0], &c, 1) == 1 && c != '\n')
            device += c;
        ::close(out[0]);
        ok = ok && !device.empty();
        devices.push_back(device);
    }
    TRunCost cost;
    const auto start = std::chrono::steady_clock::now();
    // Their own reports are not this table's.
    const int quiet = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    std::vector<pid_t> runs;
    if (ok) {
        for (const std::vector<std::string> &command : commands(devices))
            runs.push_back(Spawn(command, quiet, quiet));
    }
    ::close(quiet);
    cost.Ok = ok && !runs.empty();
    for (const pid_t run : runs) {
        int status = 0;
        rusage usage = {};
        cost.Ok = run > 0 && ::wait4(run, &status, 0, &usage) == run && WIFEXITED(status)
                && WEXITSTATUS(status) == 0 && cost.Ok;
        cost.Cpu += Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
    }
    cost.Wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    for (const pid_t server : servers) {
        ::kill(server, SIGTERM);
        ::waitpid(server, nullptr, 0);
    }
    return cost;
}

// One varnelpro-cli programming a full 16F877 on N boards, beside N minimal C
// hosts (one a board) doing the same work: the floor of this machine.
bool GangRow(int boards, const std::string &hex, double &oneBoard)
{
    const TRunCost gang = RunOnBoards(boards, [&](const std::vector<std::string> &devices) {
        std::string list;
        for (const std::string &device : devices)
            list += (list.empty() ? "" : ",") + device;
        return std::vector<std::vector<std::string>>{
                {VARNEL_CLI, "program", hex, "--chip", "16F877", "--devices", list, "-q"}};
    });
    const TRunCost floor = RunOnBoards(boards, [](const std::vector<std::string> &devices) {
        std::vector<std::vector<std::string>> hosts;
        for (const std::string &device : devices)
            hosts.push_back({VARNEL_FLOOR_HOST, device});
        return hosts;
    });
    if (boards == 1)
        oneBoard = gang.Wall;
    std::printf("%6d %9.2f %8.3fx %9.2f %9.1f%% %9.2f %9.1f%% %7.2fx%s\n", boards, gang.Wall,
                oneBoard > 0 ? gang.Wall / oneBoard : 0.0, gang.Cpu, 100.0 * gang.Cpu / gang.Wall,
                floor.Cpu, 100.0 * floor.Cpu / floor.Wall,
                floor.Cpu > 0 ? gang.Cpu / floor.Cpu : 0.0,
                gang.Ok && floor.Ok ? "" : "  FAILED");
    std::fflush(stdout);
    return gang.Ok && floor.Ok;
}

bool GangTable()
{
    const std::string hex =
            (std::filesystem::temp_directory_path() / "varnel-bench-full877.hex").string();
    WriteBytes(hex, FullImageHex(8192, 0x2001));
    std::printf("%6s %9s %9s %9s %10s %9s %10s %8s\n", "boards", "wall s", "x one",
                "host CPU s", "of a core", "floor s", "of a core", "x floor");
    double one = 0;
    bool ok = true;
    for (const int boards : {1, 2, 4, 8})
        ok = GangRow(boards, hex, one) && ok;
    std::filesystem::remove(hex);
    return ok;
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc == 3 && std::strcmp(argv[1], UsbRowOption) == 0)
        return UsbRow(std::atoi(argv[2]));
    // Sections to run; none named: all four.
    std::vector<std::string> sections(argv + 1, argv + argc);
    for (const std::string &name : sections) {
        if (name != "turnaround" && name != "wire" && name != "usb" && name != "gang") {
            std::fprintf(stderr, "usage: bench_link [turnaround] [wire] [usb] [gang]\n");
            return 2;
        }
    }
    const auto wanted = [&](const char *name) {
        return sections.empty()
               || std::find(sections.begin(), sections.end(), name) != sections.end();
    };

    std::printf("Full 16F877 (8192 words, 256 EEPROM bytes) against the virtual board.\n\n");
    bool ok = true;
    if (wanted("turnaround")) {
        std::printf("Host turnaround seen at the board: from writing the last byte of a reply\n"
                    "to the arrival of the host's next byte, unpaced, in microseconds, over\n"
                    "%d full programs each.\n\n",
                    TurnaroundRounds);
        std::fflush(stdout);
        ok = CompareTurnaround();
    }

    // The latency runs wait most of the time, so they run beside the rest, each
    // in a process of its own; their rows come last.
    std::vector<std::pair<pid_t, int>> usbRuns;
    for (const int ms : UsbLatenciesMs) {
        int out[2];
        if (!wanted("usb") || ::pipe(out) != 0)
            break;
        const pid_t pid =
                Spawn({"/proc/self/exe", UsbRowOption, std::to_string(ms)}, out[1]);
        ::close(out[1]);
        usbRuns.emplace_back(pid, out[0]);
    }

    if (wanted("wire")) {
        std::printf("Wire: bound = bytes x 10 / 19200 + fixed pauses; paced: the board's\n"
                    "replies and the host's writes each take their wire time. Times in s,\n"
                    "turnaround (last reply byte read -> next write) and round trip (write ->\n"
                    "next write) in microseconds, median and 99th percentile.\n\n");
        std::fflush(stdout);
        ok = WireTable() && ok;
    }

    if (wanted("usb")) {
        std::printf("Behind a USB adapter (--usb-latency MS, paced): full program time in s,\n"
                    "round trip (write -> next write) in microseconds.\n\n"
                    "%10s %9s %10s %10s\n",
                    "latency ms", "program", "trip50", "trip99");
        std::fflush(stdout);
    }
    if (wanted("gang")) {
        std::printf("Several boards from one command: varnelpro-cli programs a full 16F877\n"
                    "on each of N virtual boards paced to 19200 baud both ways, at once; wall\n"
                    "time against one board and the command's own processor time, beside N\n"
                    "minimal C hosts (bench_floor_host) doing the same on N boards.\n\n");
        std::fflush(stdout);
        ok = GangTable() && ok;
        std::printf("\n");
    }

    for (const auto &[pid, fd] : usbRuns) {
        char buffer[256];
        ssize_t n;
        while ((n = ::read(fd, buffer, sizeof buffer)) > 0)
            std::fwrite(buffer, 1, static_cast<size_t>(n), stdout);
        ::close(fd);
        ok = Succeeded(pid) && ok;
    }
    return ok ? 0 : 1;
}
