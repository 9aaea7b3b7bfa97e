#include "link/Serial2.h"

#include "core/UiServices.h"
#include "link/SerialSpeed.h"

#include <QMetaObject>
#include <QPointer>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <mutex>
#include <utility>

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

// Line events the event thread watches, numbered as in the classic
// communications event mask; received data is not among them (RxReady).
enum : uint32_t {
    EvTxEmpty = 0x004,
    EvCts = 0x008,
    EvDsr = 0x010,
    EvRlsd = 0x020,
    EvBreak = 0x040,
    EvRing = 0x100,
};
constexpr uint32_t OpenEventMask = EvTxEmpty | EvCts | EvDsr | EvRlsd | EvBreak | EvRing;

struct TRate
{
    int Rate;
    speed_t Code;  // 0: no B-constant, set through the arbitrary-rate interface
};
constexpr TRate Rates[] = {
    {110, B110},     {300, B300},       {600, B600},        {1200, B1200},
    {2400, B2400},   {4800, B4800},     {9600, B9600},      {14400, 0},
    {19200, B19200}, {38400, B38400},   {56000, 0},         {57600, B57600},
    {115200, B115200}, {128000, 0},     {256000, 0},
};

const TRate *FindRate(int rate)
{
    const auto it = std::find_if(std::begin(Rates), std::end(Rates),
                                 [rate](const TRate &r) { return r.Rate == rate; });
    return it == std::end(Rates) ? nullptr : it;
}

// Indexed by eParity; mark and space are sticky parity.
constexpr tcflag_t ParityFlags[] = {
    0, PARENB | PARODD, PARENB, PARENB | CMSPAR | PARODD, PARENB | CMSPAR,
};

struct TFlow
{
    tcflag_t ControlFlags;
    tcflag_t InputFlags;
    bool Supported;  // Linux drivers have no DTR/DSR handshake
};
constexpr TFlow FlowModes[] = {  // indexed by eFlowControl
    {0, 0, true},
    {CRTSCTS, 0, true},
    {0, 0, false},
    {0, IXON | IXOFF, true},
};

// Input lines reported by OnSignalChange, in the order they are raised.
struct TModemLine
{
    uint32_t Event;
    int Signal;
    int Bit;
};
constexpr TModemLine ModemLines[] = {
    {EvCts, 0, TIOCM_CTS},
    {EvDsr, 1, TIOCM_DSR},
    {EvRlsd, 2, TIOCM_CD},
};

struct TNotifyLine
{
    uint32_t Event;
    TNotifyEvent TSerial::*Handler;
};
constexpr TNotifyLine NotifyLines[] = {
    {EvTxEmpty, &TSerial::OnTxEmpty},
    {EvBreak, &TSerial::OnBreak},
    {EvRing, &TSerial::OnRing},
};

// What a hung-up terminal or a removed device answers.
bool LineGone(int code)
{
    return code == EIO || code == ENXIO || code == ENODEV;
}

constexpr int XonChar = 0x11;
constexpr int XoffChar = 0x13;
constexpr int CloseWaitSlices = 100;
constexpr auto CloseWaitSlice = 75ms;
constexpr auto HandOverCheck = 50ms;
constexpr int IdleNapMs = 100;
constexpr int LinePollMs = 100;  // modem lines and transmit queue are polled
constexpr int UndrainedNapMs = 10;
constexpr long long WriteCharTimeoutMs = 1000;
constexpr long long MinStringTimeoutMs = 500;
constexpr long long WriteRetryMs = 20;

}  // namespace

// Shared by the component, its event thread and the calls queued to the
// owner's thread; a queued call may outlive the component.
struct TSerialRelay
{
    enum TState { Idle, Pending, Running, Finished };

    std::mutex Lock;
    std::condition_variable Changed;
    uint64_t Ticket = 0;  // the hand-over in flight
    TState State = Idle;
    int GuiDepth = 0;     // owner's thread only: hand-overs being served
};

// What the event thread knows of the port it watches.
struct TSerial::TLineWatch
{
    uint32_t Generation = 0;
    bool ModemLines = false;  // TIOCMGET works (not on a pseudo-terminal)
    int ModemBits = 0;
    bool Counters = false;    // TIOCGICOUNT works: breaks can be seen
    int Breaks = 0;
};

void TEventThread::run()
{
    Serial->EventLoop();
}

TSerial::TSerial(QObject *owner)
    : QObject(owner),
      FRelay(std::make_shared<TSerialRelay>()),
      FThread(std::make_unique<TEventThread>(this))
{
    FWakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    // Received data is read where it is handled: a thread between the port
    // and its handler costs several processor switches per round trip.
    FRxNotifier = new QSocketNotifier(QSocketNotifier::Read, this);
    connect(FRxNotifier, &QSocketNotifier::activated, this, [this] { RxReady(); });
    FRxResume = new QTimer(this);
    FRxResume->setSingleShot(true);
    connect(FRxResume, &QTimer::timeout, this, [this] {
        if (FActive) {
            FRxNotifier->setEnabled(true);
            RxReady();
        }
    });
}

TSerial::~TSerial()
{
    SetActive(false);
    // The thread gives up a pending hand-over on FTerminate, so joining is
    // safe even when a handler of ours is deleting us.
    FTerminate = true;
    Wake();
    {
        // Passing the lock: a hand-over that tested FTerminate is waiting now.
        std::lock_guard<std::mutex> lock(FRelay->Lock);
    }
    FRelay->Changed.notify_all();
    FThread->wait();
    {
        // Pairs with the thread's last act, for tools that cannot see the join.
        std::lock_guard<std::mutex> lock(FRelay->Lock);
    }
    if (FWakeFd >= 0)
        ::close(FWakeFd);
}

template <typename T>
void TSerial::Assign(T &field, const T &value)
{
    if (field == value)
        return;
    field = value;
    Reapply();
}

void TSerial::Reapply()
{
    SetActive(FActive);
}

void TSerial::SetPort(int value)
{
    if (value >= 1 && value <= 9)
        Assign(FPort, value);
}

void TSerial::SetBaudrate(int value)
{
    if (!FindRate(value)) {
        ShowBox("Baudrate is not valid");
        return;
    }
    Assign(FBaudrate, value);
}

void TSerial::SetParity(eParity value) { Assign(FParity, value); }
void TSerial::SetDataBits(eDataBits value) { Assign(FDataBits, value); }
void TSerial::SetStopBits(eStopBits value) { Assign(FStopBits, value); }
void TSerial::SetFlowMode(eFlowControl value) { Assign(FFlowMode, value); }
void TSerial::SetCheckParity(bool value) { Assign(FCheckParity, value); }
void TSerial::SetDevicePath(const std::string &value) { Assign(FDevicePath, value); }

void TSerial::SetRxQueueSize(uint16_t value)
{
    FRxQueueSize = value;
    Reapply();
}

void TSerial::SetTxQueueSize(uint16_t value)
{
    FTxQueueSize = value;
    Reapply();
}

std::string TSerial::DeviceName() const
{
    if (!FDevicePath.empty())
        return FDevicePath;
    const std::string variable = "VARNEL_COM" + std::to_string(FPort);
    if (const char *path = std::getenv(variable.c_str()); path && *path)
        return path;
    return "/dev/ttyS" + std::to_string(FPort - 1);
}

void TSerial::SetActive(bool value)
{
    if (FActive)
        Close();
    if (value)
        Open();
}

void TSerial::Open()
{
    const std::string name = DeviceName();
    // Without blocking: a FIFO or a modem line would hold the open forever.
    const int fd = ::open(name.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        HandleError();
        return;
    }
    // A regular file, a FIFO or /dev/null is no port: nothing is written to it.
    if (!::isatty(fd)) {
        ::close(fd);
        HandleError(ENOTTY, "not a serial device");
        return;
    }
    // Not shared: TIOCEXCL refuses later opens, but not a privileged one;
    // the lock refuses every other opener that asks for it too.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int code = errno == EWOULDBLOCK ? EBUSY : errno;
        ::close(fd);
        HandleError(code);
        return;
    }
    if (::ioctl(fd, TIOCEXCL) != 0)
        HandleError();
    // Queue sizes: Linux sizes the driver queues itself; nothing to ask.

    FHandle = fd;
    ++FGeneration;
    FActive = true;
    FLineLost = false;
    ApplySettings(fd);
    // Bytes that waited in the driver (a board's power-on noise, the rest of
    // an earlier session) answer nothing we are about to send.
    if (::tcflush(fd, TCIFLUSH) != 0)
        HandleError();
    AskLowLatency(fd);
    SetSignal(1, true);
    SetSignal(0, true);
    // A handler of an error above may have closed the port again.
    if (!FActive)
        return;
    SetEventMask(OpenEventMask);
    FMessage = TMessageAssembly();
    WatchRx(true);
    if (!FThread->isRunning())
        FThread->start();
}

void TSerial::WatchRx(bool on)
{
    FRxResume->stop();
    FRxHeld = false;
    if (!on) {
        FRxNotifier->setEnabled(false);
        return;
    }
    // Setting the socket leaves the notifier disabled.
    if (FRxNotifier->socket() != FHandle)
        FRxNotifier->setSocket(FHandle);
    FRxNotifier->setEnabled(true);
}

void TSerial::ApplySettings(int fd)
{
    termios tio{};
    if (::tcgetattr(fd, &tio) != 0) {
        HandleError();
        return;
    }
    cfmakeraw(&tio);
    const TFlow &flow = FlowModes[FFlowMode];
    tio.c_iflag &= ~(INPCK | IXON | IXOFF | IXANY);
    tio.c_iflag |= flow.InputFlags | (FCheckParity ? INPCK : 0);
    tio.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    tio.c_cflag |= CREAD | CLOCAL | (FDataBits == d8bit ? CS8 : CS7) | ParityFlags[FParity]
                   | (FStopBits == st2bit ? CSTOPB : 0) | flow.ControlFlags;
    tio.c_cc[VSTART] = XonChar;
    tio.c_cc[VSTOP] = XoffChar;
    // Reads return at once with whatever is waiting.
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    const TRate *rate = FindRate(FBaudrate);
    if (rate->Code)
        cfsetspeed(&tio, rate->Code);
    if (::tcsetattr(fd, TCSANOW, &tio) != 0)
        HandleError();
    if (!rate->Code) {
        if (const int code = SetCustomLineSpeed(fd, rate->Rate))
            HandleError(code);
    }
    if (!flow.Supported)
        HandleError(ENOTSUP);
}

int TSerial::SerialInfo(int fd, bool set, serial_struct &info)
{
    return ::ioctl(fd, set ? TIOCSSERIAL : TIOCGSERIAL, &info);
}

void TSerial::AskLowLatency(int fd)
{
    // The protocol costs one round trip per program word: a USB adapter's
    // 16 ms latency timer would make a full program take minutes.
    FLowLatencyOn = false;
    FLowLatencyRefusal = 0;
    serial_struct info{};
    if (SerialInfo(fd, false, info) != 0) {
        FLowLatencyRefusal = errno;
        return;
    }
    if (info.flags & ASYNC_LOW_LATENCY)
        return;
    info.flags |= ASYNC_LOW_LATENCY;
    if (SerialInfo(fd, true, info) != 0) {
        FLowLatencyRefusal = errno;
        return;
    }
    FLowLatencyOn = true;
}

// Only a flag we set is taken back: the driver had it clear before.
void TSerial::RestoreLowLatency(int fd)
{
    if (!FLowLatencyOn)
        return;
    serial_struct info{};
    if (SerialInfo(fd, false, info) == 0) {
        info.flags &= ~ASYNC_LOW_LATENCY;
        SerialInfo(fd, true, info);
    }
}

void TSerial::Fail(int code)
{
    if (LineGone(code))
        LoseLine(code);
    else
        HandleError(code);
}

void TSerial::LoseLine(int code)
{
    if (!FActive)
        return;
    FLineLost = true;
    // The dead line would go on announcing itself while the error is told.
    WatchRx(false);
    const QPointer<TSerial> alive(this);
    HandleError(code);
    // A handler of the error may have closed the port, or deleted us.
    if (!alive.isNull() && FActive)
        Close(true);
}

void TSerial::Close(bool lineLost)
{
    // Transfers never outlive their call, so there is nothing to abort, and
    // the queues are kept. A lost line refuses every request: asking would
    // only record more failures of the same cause.
    WatchRx(false);
    FRxHead = FRxTail = 0;
    if (!lineLost) {
        RestoreLowLatency(FHandle);
        SetSignal(1, false);
        SetSignal(0, false);
    }
    FLowLatencyOn = false;
    FActive = false;
    FClosing = true;
    SetEventMask(0);
    // Closed from inside a handler: the thread is parked in that hand-over
    // and leaves its cycle when the handler returns; waiting would only stall.
    if (FRelay->GuiDepth == 0) {
        std::unique_lock<std::mutex> lock(FRelay->Lock);
        FRelay->Changed.notify_all();
        for (int i = 0; i < CloseWaitSlices && FThreadWaiting; ++i)
            FRelay->Changed.wait_for(lock, CloseWaitSlice, [this] { return !FThreadWaiting; });
    }
    FClosing = false;
    const int fd = FHandle.exchange(-1);
    // The flag belongs to the terminal, which outlives us while others hold it.
    ::ioctl(fd, TIOCNXCL);
    if (::close(fd) != 0 && !lineLost)
        HandleError();
}

void TSerial::SetEventMask(uint32_t mask)
{
    FEventMask = mask;
    if (!Wake())
        HandleError();
}

bool TSerial::Wake()
{
    const uint64_t one = 1;
    return ::write(FWakeFd, &one, sizeof one) == sizeof one || errno == EAGAIN;
}

void TSerial::WriteChar(uint8_t ch)
{
    const char c = static_cast<char>(ch);
    WriteBytes(&c, 1, WriteCharTimeoutMs);
}

void TSerial::WriteString(const std::string &text)
{
    // Twice the line time of ten bits a byte, at least 500 ms. Multiplied
    // before dividing so that fast rates do not round the budget to nothing.
    const long long budget = static_cast<long long>(text.size()) * 20000 / FBaudrate;
    WriteBytes(text.data(), text.size(), std::max(budget, MinStringTimeoutMs));
}

void TSerial::WriteBytes(const char *data, size_t length, long long timeoutMs)
{
    const int fd = FHandle;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    size_t done = 0;
    while (done < length) {
        const ssize_t n = ::write(fd, data + done, length - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN) {
            Fail(errno);
            return;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0) {
            HandleError(ETIMEDOUT);
            return;
        }
        // Short slices: a terminal may gain room without reporting POLLOUT.
        pollfd room{fd, POLLOUT, 0};
        const int slice = static_cast<int>(std::min<long long>(left, WriteRetryMs));
        if (::poll(&room, 1, slice) < 0 && errno != EINTR) {
            HandleError();
            return;
        }
    }
    // Only a handler that wants to know has the thread watch for the queue
    // running empty: the watch costs a hand-over per write.
    if (length > 0 && OnTxEmpty && !FTxPending.exchange(true))
        Wake();
}

int TSerial::ReadChar(uint8_t &ch)
{
    if (FRxHead == FRxTail) {
        // During an announcement the driver was emptied by the read that
        // raised it, and bytes that came since raise the next one.
        if (FInRx && FRxDrained)
            return 0;
        int code = 0;
        FillRx(code);
        if (code)
            Fail(code);
        if (FRxHead == FRxTail)
            return 0;
        // Read outside an announcement: what the caller leaves is no longer
        // in the driver to raise one, so it is announced from here.
        if (!FInRx && FRxTail - FRxHead > 1 && FActive)
            FRxResume->start(0);
    }
    ch = FRxBuffer[FRxHead++];
    ++FReadCount;
    return 1;
}

void TSerial::FillRx(int &code)
{
    code = 0;
    if (FRxHead > 0) {
        std::memmove(FRxBuffer, FRxBuffer + FRxHead, FRxTail - FRxHead);
        FRxTail -= FRxHead;
        FRxHead = 0;
    }
    const int fd = FHandle;
    const size_t room = sizeof FRxBuffer - FRxTail;
    if (fd < 0 || room == 0)
        return;
    for (;;) {
        const ssize_t n = ::read(fd, FRxBuffer + FRxTail, room);
        if (n > 0) {
            FRxTail += static_cast<size_t>(n);
            FRxDrained = static_cast<size_t>(n) < room;
            return;
        }
        if (n < 0 && errno == EINTR)
            continue;
        // Raw mode without a minimum: an empty queue reads as 0 bytes.
        FRxDrained = true;
        if (n < 0 && errno != EAGAIN)
            code = errno;
        return;
    }
}

void TSerial::SetSignal(int signal, bool state)
{
    static constexpr int Lines[] = {TIOCM_RTS, TIOCM_DTR};
    if (signal < 0 || signal > 1)
        return;
    int bits = Lines[signal];
    if (::ioctl(FHandle, state ? TIOCMBIS : TIOCMBIC, &bits) != 0)
        HandleError();
}

void TSerial::UpdateStatus()
{
    if (!FActive)
        return;
    int rx = 0;
    int tx = 0;
    if (::ioctl(FHandle, FIONREAD, &rx) != 0 || ::ioctl(FHandle, TIOCOUTQ, &tx) != 0) {
        HandleError();
        return;
    }
    FRxCount = rx + static_cast<int>(FRxTail - FRxHead);
    FTxCount = tx;
}

int TSerial::RxWaiting()
{
    if (!FActive)
        return 0;
    UpdateStatus();
    return FRxCount;
}

int TSerial::TxWaiting()
{
    if (!FActive)
        return 0;
    UpdateStatus();
    return FTxCount;
}

void TSerial::HandleError()
{
    HandleError(errno);
}

void TSerial::HandleError(int code, const std::string &text)
{
    FErrorCode = code;
    FErrorText = text.empty() ? std::string(std::strerror(code)) : text;
    switch (NotifyErrors) {
    case neDialog:
        ShowErrorDialog(FErrorText);
        break;
    case neEvent:
        if (OnError) {
            const TNotifyEvent handler = OnError;
            handler(this);
        }
        break;
    case neNone:
        break;
    }
}

void TSerial::ShowErrorDialog(const std::string &text)
{
    ShowBox(text);
}

void TSerial::ShowBox(const std::string &text)
{
    if (Dialogs)
        Dialogs->MessageBox(TBoxKind::Error, text, TBoxButtons::Ok);
    else
        std::cerr << text << '\n';
}

// ---- Event thread ----

void TSerial::EventLoop()
{
    TLineWatch watch;
    while (!FTerminate) {
        // Raised before Active is read: a close that then finds it false
        // knows that this thread will not touch the port again.
        FThreadWaiting = true;
        if (!FActive) {
            SetThreadIdle();
            Nap(IdleNapMs);
            continue;
        }
        EventCycle(watch);
    }
    // Taken unconditionally: the destructor takes it after joining, which
    // orders everything this thread did before its own teardown.
    std::lock_guard<std::mutex> lock(FRelay->Lock);
    FThreadWaiting = false;
    FRelay->Changed.notify_all();
}

void TSerial::SetThreadIdle()
{
    if (!FThreadWaiting)
        return;
    std::lock_guard<std::mutex> lock(FRelay->Lock);
    FThreadWaiting = false;
    FRelay->Changed.notify_all();
}

void TSerial::EventCycle(TLineWatch &watch)
{
    const int fd = FHandle;
    const uint32_t generation = FGeneration;
    if (watch.Generation != generation)
        StartWatch(watch, fd, generation);

    pollfd wake{FWakeFd, POLLIN, 0};
    const bool polled = watch.ModemLines || watch.Counters || FTxPending || FWakeFd < 0;
    const int n = ::poll(&wake, 1, polled ? LinePollMs : -1);
    const int failure = n < 0 && errno != EINTR ? errno : 0;
    if (wake.revents)
        DrainWake();
    if (failure && FActive)
        HandOver([this, failure] { HandleError(failure); });
    if (Abandoned(generation))
        return;
    if (failure)
        Nap(LinePollMs);
    const uint32_t events = LineChanges(watch, fd) & FEventMask;
    if (events)
        RaiseEvents(events, watch, generation);
}

void TSerial::StartWatch(TLineWatch &watch, int fd, uint32_t generation)
{
    watch = TLineWatch();
    watch.Generation = generation;
    int bits = 0;
    watch.ModemLines = ::ioctl(fd, TIOCMGET, &bits) == 0;
    watch.ModemBits = bits;
    serial_icounter_struct counts{};
    watch.Counters = ::ioctl(fd, TIOCGICOUNT, &counts) == 0;
    watch.Breaks = counts.brk;
}

uint32_t TSerial::LineChanges(TLineWatch &watch, int fd)
{
    uint32_t events = 0;
    int bits = 0;
    if (watch.ModemLines && ::ioctl(fd, TIOCMGET, &bits) == 0) {
        const int changed = bits ^ watch.ModemBits;
        for (const TModemLine &line : ModemLines) {
            if (changed & line.Bit)
                events |= line.Event;
        }
        if (changed & bits & TIOCM_RI)
            events |= EvRing;
        watch.ModemBits = bits;
    }
    serial_icounter_struct counts{};
    if (watch.Counters && ::ioctl(fd, TIOCGICOUNT, &counts) == 0) {
        if (counts.brk != watch.Breaks)
            events |= EvBreak;
        watch.Breaks = counts.brk;
    }
    // Cleared before asking, so that a write racing with us stays pending.
    if (FTxPending.exchange(false)) {
        int queued = 0;
        if (::ioctl(fd, TIOCOUTQ, &queued) == 0 && queued > 0)
            FTxPending = true;
        else
            events |= EvTxEmpty;
    }
    return events;
}

void TSerial::RaiseEvents(uint32_t events, const TLineWatch &watch, uint32_t generation)
{
    const int bits = watch.ModemBits;
    if (!Abandoned(generation))
        HandOver([this, events, bits] { RaiseOnGui(events, bits); });
}

bool TSerial::Abandoned(uint32_t generation) const
{
    return FTerminate || FClosing || !FActive || generation != FGeneration;
}

bool TSerial::HandOver(std::function<void()> call)
{
    const std::shared_ptr<TSerialRelay> relay = FRelay;
    uint64_t ticket = 0;
    {
        std::lock_guard<std::mutex> lock(relay->Lock);
        ticket = ++relay->Ticket;
        relay->State = TSerialRelay::Pending;
    }
    // Queued to our own thread; Qt drops the call if we are destroyed first.
    QMetaObject::invokeMethod(
        this,
        [relay, ticket, call = std::move(call)] {
            {
                std::lock_guard<std::mutex> lock(relay->Lock);
                if (relay->Ticket != ticket || relay->State != TSerialRelay::Pending)
                    return;  // given up by the thread
                relay->State = TSerialRelay::Running;
            }
            ++relay->GuiDepth;
            call();
            --relay->GuiDepth;
            {
                std::lock_guard<std::mutex> lock(relay->Lock);
                if (relay->Ticket == ticket)
                    relay->State = TSerialRelay::Finished;
            }
            relay->Changed.notify_all();
        },
        Qt::QueuedConnection);

    std::unique_lock<std::mutex> lock(relay->Lock);
    for (;;) {
        if (relay->State == TSerialRelay::Finished) {
            relay->State = TSerialRelay::Idle;
            return true;
        }
        // A call not yet started is given up when the port closes (its owner
        // is then busy closing and cannot serve it); a running one only
        // when the component goes away.
        const bool pending = relay->State == TSerialRelay::Pending;
        if (FTerminate || (pending && (FClosing || !FActive))) {
            relay->State = TSerialRelay::Idle;
            return false;
        }
        relay->Changed.wait_for(lock, HandOverCheck);
    }
}

void TSerial::Nap(int milliseconds)
{
    pollfd wake{FWakeFd, POLLIN, 0};
    if (::poll(&wake, 1, milliseconds) > 0)
        DrainWake();
}

void TSerial::DrainWake()
{
    // Resets the counter; an empty one (EAGAIN) is fine as well.
    uint64_t count = 0;
    [[maybe_unused]] const ssize_t got = ::read(FWakeFd, &count, sizeof count);
}

// ---- Owner's thread ----

void TSerial::RaiseOnGui(uint32_t events, int modemBits)
{
    // Any handler may close the port or even destroy the component.
    const QPointer<TSerial> alive(this);
    const auto goOn = [&] { return !alive.isNull() && FActive; };

    for (const TModemLine &line : ModemLines) {
        if ((events & line.Event) && OnSignalChange) {
            const TSignalChangeEvent handler = OnSignalChange;
            handler(this, line.Signal, (modemBits & line.Bit) != 0);
            if (!goOn())
                return;
        }
    }
    for (const TNotifyLine &line : NotifyLines) {
        if ((events & line.Event) && this->*line.Handler) {
            const TNotifyEvent handler = this->*line.Handler;
            handler(this);
            if (!goOn())
                return;
        }
    }
}

void TSerial::RxReady()
{
    if (!FActive)
        return;
    if (FInRx) {
        // A handler that runs an event loop of its own (a message box) gets
        // no second announcement from inside it. Held only now: enabling a
        // notifier again wakes the event loop, too dear for every reply.
        FRxNotifier->setEnabled(false);
        FRxHeld = true;
        return;
    }
    int code = 0;
    FillRx(code);
    if (FRxHead == FRxTail) {
        // A pseudo-terminal whose other end is gone answers EIO. Another
        // failure is looked at again only after a pause: the notifier would
        // go on firing on it, also inside a handler's own event loop.
        if (code) {
            if (!LineGone(code))
                PauseRx();
            Fail(code);
            return;
        }
        // Nothing to read: a hung-up line (adapter pulled out) keeps saying
        // so; the loss is reported once and the port closed, so that nothing
        // waits on the dead descriptor. Bytes that came before it were read
        // first.
        pollfd line{FHandle, POLLIN, 0};
        if (::poll(&line, 1, 0) > 0 && (line.revents & (POLLHUP | POLLERR | POLLNVAL)))
            LoseLine(EIO);
        return;
    }
    const QPointer<TSerial> alive(this);
    for (;;) {
        const uint32_t readsBefore = FReadCount;
        FInRx = true;
        RaiseRx();
        if (alive.isNull())
            return;
        FInRx = false;
        if (!FActive)
            return;
        if (FRxHead == FRxTail) {
            if (std::exchange(FRxHeld, false))
                FRxNotifier->setEnabled(true);
            return;
        }
        // Taken in part: the rest is announced at once, as the driver's
        // queue would announce it.
        if (FReadCount == readsBefore)
            break;
    }
    // None taken: announced again after a pause, so that a handler that
    // leaves them does not make us spin.
    PauseRx();
}

void TSerial::PauseRx()
{
    FRxHeld = false;
    FRxNotifier->setEnabled(false);
    FRxResume->start(UndrainedNapMs);
}

void TSerial::RaiseRx()
{
    if (RxEventMode == rxNormal) {
        if (OnRxData) {
            const TNotifyEvent handler = OnRxData;
            handler(this);
        }
        return;
    }
    if (OnMessage)
        ReadMessages();
}

void TSerial::ReadMessages()
{
    const QPointer<TSerial> alive(this);
    const uint32_t generation = FGeneration;
    for (uint8_t b = 0; ReadChar(b) == 1;) {
        if (!FMessage.Feed(b, MessageStartChar, MessageEndChar, MessageAppendCount))
            continue;
        if (OnMessage) {
            const TRxMessageEvent handler = OnMessage;
            handler(this, FMessage.MessageText);
        }
        if (alive.isNull() || Abandoned(generation))
            return;
    }
}
