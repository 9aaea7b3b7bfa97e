#include "board/BoardServer.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

constexpr auto QuietFlush = 100ms;      // a trace run ends when the line goes quiet
constexpr auto HostClosedRetry = 20ms;  // the host has no end open: look again soon
constexpr auto HangupDrain = 1s;        // longest wait for the host to read before a hang-up
constexpr auto ByteTime = std::chrono::nanoseconds(1000000000 / WireBytesPerSecond);

std::string ErrnoText(const char *what)
{
    return std::string(what) + ": " + std::strerror(errno);
}

void CloseFd(int &fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

// Raw 8N1 at 19200 baud, so that no byte is echoed or translated on the way.
bool MakeRaw(int fd)
{
    termios tio{};
    if (::tcgetattr(fd, &tio) != 0)
        return false;
    ::cfmakeraw(&tio);
    ::cfsetispeed(&tio, B19200);
    ::cfsetospeed(&tio, B19200);
    return ::tcsetattr(fd, TCSANOW, &tio) == 0;
}

} // namespace

TBoardServer::TBoardServer(const TBoardOptions &options)
    : FOptions(options)
    , FBoard(options.Faults)
{
    FBoard.SetReplySink([this](const std::vector<uint8_t> &reply) { FReplies.push_back(reply); });
}

TBoardServer::~TBoardServer()
{
    Stop();
}

TBoardChip TBoardServer::ChipSnapshot() const
{
    std::lock_guard<std::mutex> hold(FBoardLock);
    return FBoard.Chip();
}

void TBoardServer::SetChip(const TBoardChip &chip)
{
    std::lock_guard<std::mutex> hold(FBoardLock);
    FBoard.Chip() = chip;
}

void TBoardServer::Fail(const std::string &what)
{
    FError = what;
    CloseLine();
    CloseFd(FWake[0]);
    CloseFd(FWake[1]);
    FTrace.Close();
    FPath.clear();
}

std::string TBoardServer::Start()
{
    if (Running())
        return FPath;
    FError.clear();
    if (!FOptions.ImagePath.empty()) {
        TBoardChip chip;
        const std::string problem = LoadBoardImage(chip, FOptions.ImagePath);
        if (!problem.empty()) {
            Fail("Cannot load " + FOptions.ImagePath + ": " + problem);
            return {};
        }
        SetChip(chip);
    }
    if (!FOptions.TracePath.empty() && !FTrace.Open(FOptions.TracePath)) {
        Fail(ErrnoText(("Cannot write " + FOptions.TracePath).c_str()));
        return {};
    }
    if (::pipe2(FWake, O_CLOEXEC | O_NONBLOCK) != 0) {
        Fail(ErrnoText("pipe"));
        return {};
    }
    FMaster = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (FMaster < 0 || ::grantpt(FMaster) != 0 || ::unlockpt(FMaster) != 0) {
        Fail(ErrnoText("Cannot open a pseudo-terminal"));
        return {};
    }
    ::fcntl(FMaster, F_SETFD, FD_CLOEXEC);
    ::fcntl(FMaster, F_SETFL, ::fcntl(FMaster, F_GETFL) | O_NONBLOCK);
    char name[128] = {};
    if (::ptsname_r(FMaster, name, sizeof name) != 0) {
        Fail(ErrnoText("ptsname"));
        return {};
    }
    FSlaveHold = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (FSlaveHold < 0 || !MakeRaw(FSlaveHold)) {
        Fail(ErrnoText("Cannot set up the pseudo-terminal"));
        return {};
    }
    FPath = name;
    FStopping = false;
    FHungUp = false;
    FSent = 0;
    FEpoch = TClock::now();
    FNextSlot = FEpoch;
    FInSlot = FEpoch;
    // Noise from before the host's first open waits in the line's queue, as
    // a board's power-on bytes wait in a port's driver.
    if (!FOptions.EarlyBytes.empty()
        && !WriteAll(reinterpret_cast<const uint8_t *>(FOptions.EarlyBytes.data()),
                     FOptions.EarlyBytes.size())) {
        Fail(ErrnoText("Cannot write the early bytes"));
        return {};
    }
    FThread = std::thread(&TBoardServer::Serve, this);
    return FPath;
}

void TBoardServer::Stop()
{
    if (FThread.joinable()) {
        FStopping = true;
        const char wake = 1;
        [[maybe_unused]] ssize_t n = ::write(FWake[1], &wake, 1);
        FThread.join();
    }
    CloseLine();
    CloseFd(FWake[0]);
    CloseFd(FWake[1]);
    FTrace.Close();
}

void TBoardServer::CloseLine()
{
    CloseFd(FMaster);
    CloseFd(FSlaveHold);
}

double TBoardServer::Now() const
{
    return std::chrono::duration<double>(TClock::now() - FEpoch).count();
}

bool TBoardServer::SleepUntil(TClock::time_point t)
{
    for (;;) {
        if (FStopping)
            return false;
        const auto now = TClock::now();
        if (now >= t)
            return true;
        const auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(t - now);
        timespec ts{static_cast<time_t>(left.count() / 1000000000),
                    static_cast<long>(left.count() % 1000000000)};
        pollfd wake{FWake[0], POLLIN, 0};
        if (::ppoll(&wake, 1, &ts, nullptr) > 0)
            return false;
    }
}

void TBoardServer::Serve()
{
    // Byte times are half a millisecond: the default slack of a sleep would
    // add a tenth to each.
    ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    uint8_t buf[512];
    while (!FStopping) {
        if (FHungUp) {
            pollfd wake{FWake[0], POLLIN, 0};
            ::poll(&wake, 1, -1);
            continue;
        }
        pollfd fds[2] = {{FMaster, POLLIN, 0}, {FWake[0], POLLIN, 0}};
        const int ready = ::poll(fds, 2, static_cast<int>(QuietFlush.count()));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0 || fds[1].revents != 0)
            break;
        if (ready == 0) {
            FTrace.Flush();
            continue;
        }
        if (fds[0].revents & POLLIN) {
            const auto at = TClock::now();
            NoteArrival(at);
            const ssize_t n = ::read(FMaster, buf, sizeof buf);
            if (n > 0) {
                HandleInput(buf, static_cast<size_t>(n), at);
                continue;
            }
            if (n < 0 && (errno == EAGAIN || errno == EINTR))
                continue;
        }
        // EIO or a hang-up: nobody holds the slave end; the host may open it again.
        if (!SleepUntil(TClock::now() + HostClosedRetry))
            break;
    }
    FTrace.Flush();
}

void TBoardServer::HandleInput(const uint8_t *data, size_t count, TClock::time_point at)
{
    for (size_t i = 0; i < count && !FStopping && !FHungUp; ++i) {
        // A byte is whole at the board one byte time after the line was free
        // for it: the host's writes take the wire time they take on a cable.
        if (FOptions.Cable) {
            FInSlot = std::max(FInSlot, at) + ByteTime;
            if (!SleepUntil(FInSlot))
                return;
        }
        FTrace.Record(TTraceDir::Host, data + i, 1, Now());
        std::vector<std::vector<uint8_t>> replies;
        {
            std::lock_guard<std::mutex> hold(FBoardLock);
            FBoard.Feed(data[i]);
            replies.swap(FReplies);
        }
        for (const auto &reply : replies)
            SendReply(reply);
    }
}

void TBoardServer::SendReply(const std::vector<uint8_t> &reply)
{
    if (!SendBytes(reply) || !FOptions.TimeTurnaround)
        return;
    std::lock_guard<std::mutex> hold(FTimesLock);
    FReplySentAt = TClock::now();
    FReplyAwaitsHost = true;
}

bool TBoardServer::SendBytes(const std::vector<uint8_t> &reply)
{
    bool paused = false;
    const auto pause = [this, &paused](int ms) {
        paused = paused || ms > 0;
        return ms <= 0 || SleepUntil(TClock::now() + std::chrono::milliseconds(ms));
    };
    if (!pause(FOptions.DelayMs))
        return false;
    if (reply.size() == 1 && reply[0] == TVirtualBoard::ReplyEnd && !std::exchange(FQSent, true)
        && !pause(FOptions.LateQMs))
        return false;
    if (reply.size() < UsbPacketPayload && !pause(FOptions.UsbLatencyMs))
        return false;
    const bool split = FOptions.SplitDelayMs > 0;
    // A board that stalls in the middle of the reply, then finishes it.
    const size_t cutAt = FOptions.CutFailMs > 0 && reply.size() == TVirtualBoard::WordFailedLength
                                 && reply[0] == TVirtualBoard::ReplyWordFailed
                         ? 2
                         : 0;
    if (!split && !FOptions.Pace && !cutAt)
        return WriteAll(reply.data(), reply.size());
    for (size_t i = 0; i < reply.size(); ++i) {
        if (split && i > 0 && !pause(FOptions.SplitDelayMs))
            return false;
        if (cutAt && i == cutAt && !pause(FOptions.CutFailMs))
            return false;
        if (FOptions.Pace) {
            // On a cable the board answers as soon as the host's last byte is
            // in (a late wake-up of ours does not lengthen the line's time),
            // and the far end has a byte only when its last bit is out.
            const auto ready = FOptions.Cable && !paused ? FInSlot : TClock::now();
            const auto start = std::max(FNextSlot, ready);
            FNextSlot = start + ByteTime;
            if (!SleepUntil(FOptions.Cable ? FNextSlot : start))
                return false;
        }
        if (!WriteAll(&reply[i], 1))
            return false;
    }
    return true;
}

void TBoardServer::NoteArrival(TClock::time_point at)
{
    if (!FOptions.TimeTurnaround)
        return;
    std::lock_guard<std::mutex> hold(FTimesLock);
    if (!FReplyAwaitsHost)
        return;
    FTurnaroundUs.push_back(std::chrono::duration<double, std::micro>(at - FReplySentAt).count());
    FReplyAwaitsHost = false;
}

std::vector<double> TBoardServer::TakeTurnaroundUs()
{
    std::lock_guard<std::mutex> hold(FTimesLock);
    std::vector<double> taken;
    taken.swap(FTurnaroundUs);
    FReplyAwaitsHost = false;
    return taken;
}

bool TBoardServer::WriteAll(const uint8_t *data, size_t count)
{
    if (FOptions.HangupAfter > 0)
        count = static_cast<size_t>(
                std::min<long long>(static_cast<long long>(count), FOptions.HangupAfter - FSent));
    while (count > 0 && !FStopping) {
        const ssize_t n = ::write(FMaster, data, count);
        if (n > 0) {
            FTrace.Record(TTraceDir::Board, data, static_cast<size_t>(n), Now());
            data += n;
            count -= static_cast<size_t>(n);
            FSent += n;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN) {
            // The host is not reading: wait for room, or for Stop().
            pollfd fds[2] = {{FMaster, POLLOUT, 0}, {FWake[0], POLLIN, 0}};
            if (::poll(fds, 2, static_cast<int>(QuietFlush.count())) > 0 && fds[1].revents)
                return false;
            continue;
        }
        return false; // the host end is gone: the reply is lost, as on a real line
    }
    if (FOptions.HangupAfter > 0 && FSent >= FOptions.HangupAfter) {
        HangUp();
        return false;
    }
    return count == 0;
}

void TBoardServer::HangUp()
{
    // Closing the master drops what the host has not read yet, while on a
    // real line the bytes sent before the hang-up arrive: give the host a
    // moment to take them. The kernel hands written bytes to the slave side
    // a little later, so the first look comes after a short pause.
    const auto giveUp = TClock::now() + HangupDrain;
    int waiting = 0;
    while (SleepUntil(TClock::now() + HostClosedRetry) && TClock::now() < giveUp
           && ::ioctl(FSlaveHold, FIONREAD, &waiting) == 0 && waiting > 0) {
    }
    FTrace.Flush();
    FHungUp = true; // first, so that whoever sees the line gone also sees the flag
    CloseLine();
}

std::unique_ptr<TBoardServer> StartSimulatedBoard(const TBoardOptions &options,
                                                  std::string *error)
{
    auto server = std::make_unique<TBoardServer>(options);
    if (server->Start().empty()) {
        if (error)
            *error = server->LastError();
        return nullptr;
    }
    return server;
}
