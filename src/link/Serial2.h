#pragma once

#include "link/ByteLine.h"
#include "link/SerialMessage.h"

#include <QObject>
#include <QThread>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class QSocketNotifier;
class QTimer;
class TUiServices;
struct serial_struct;

enum eParity { paNone, PaOdd, paEven, paMark, paSpace };
enum eDataBits { d7bit, d8bit };
enum eStopBits { st1bit, st2bit };
enum eFlowControl { fcNone, fcRTS_CTS, fcDTR_DSR, fcXON_XOF };
enum eOpModes { rxNormal, rxMessage };
enum eNotifyErr { neDialog, neEvent, neNone };

// Handlers run on the thread that owns the component, never on its event
// thread. signal: 0 CTS, 1 DSR, 2 RLSD (carrier detect).
using TNotifyEvent = std::function<void(QObject *sender)>;
using TRxMessageEvent = std::function<void(QObject *sender, const std::string &rxMessage)>;
using TSignalChangeEvent = std::function<void(QObject *sender, int signal, bool signalState)>;

class TSerial;
struct TSerialRelay;

// Watches what only polling shows (modem lines, breaks, the transmit queue
// running empty) and hands those events to the owner's thread. Received data
// does not pass through it: the owner's event loop waits on the port itself.
// Owned and joined by its TSerial.
class TEventThread : public QThread
{
public:
    explicit TEventThread(TSerial *serial) : Serial(serial) {}

    TSerial *Serial;

protected:
    void run() override;
};

// The serial port over POSIX termios. Port n opens $VARNEL_COM<n> when set,
// else /dev/ttyS<n-1>; a non-empty DevicePath is opened instead.
// Received data is announced only while the owner's thread runs an event loop.
class TSerial : public QObject, public TByteLine
{
    Q_OBJECT

public:
    explicit TSerial(QObject *owner = nullptr);
    ~TSerial() override;

    // Line properties: a changed value is stored and the port re-applied
    // (closed, and opened again if it was open); the same value does nothing,
    // except for the two queue sizes, which always re-apply.
    int Port() const { return FPort; }
    void SetPort(int value);  // 1 to 9; others are ignored
    int Baudrate() const { return FBaudrate; }
    void SetBaudrate(int value);  // refuses a rate not in the fixed list
    eParity Parity() const { return FParity; }
    void SetParity(eParity value);
    eDataBits DataBits() const { return FDataBits; }
    void SetDataBits(eDataBits value);
    eStopBits StopBits() const { return FStopBits; }
    void SetStopBits(eStopBits value);
    uint16_t RxQueueSize() const { return FRxQueueSize; }
    void SetRxQueueSize(uint16_t value);
    uint16_t TxQueueSize() const { return FTxQueueSize; }
    void SetTxQueueSize(uint16_t value);
    eFlowControl FlowMode() const { return FFlowMode; }
    void SetFlowMode(eFlowControl value);
    bool CheckParity() const { return FCheckParity; }
    void SetCheckParity(bool value);
    // Bytes waiting to be read (in the driver's queue and ours) and bytes
    // waiting to be sent; 0 when the port is closed.
    int RxWaiting();
    int TxWaiting();

    eOpModes RxEventMode = rxNormal;
    uint8_t MessageStartChar = 2;
    uint8_t MessageEndChar = 3;
    uint16_t MessageAppendCount = 0;
    eNotifyErr NotifyErrors = neDialog;
    // errno of the last failure recorded.
    int ErrorCode() const { return FErrorCode; }
    // The last failure in the user's words.
    std::string ErrorText() const { return FErrorText; }

    TNotifyEvent OnRxData;
    TNotifyEvent OnTxEmpty;
    TRxMessageEvent OnMessage;
    TNotifyEvent OnError;
    TNotifyEvent OnBreak;
    TNotifyEvent OnRing;
    TSignalChangeEvent OnSignalChange;

    // Device node to open instead of the one Port names (virtual board,
    // --device). Re-applies like the line properties.
    const std::string &DevicePath() const { return FDevicePath; }
    void SetDevicePath(const std::string &value);
    // The device an open would use now.
    std::string DeviceName() const;

    // Message boxes go here; without it their text goes to stderr.
    TUiServices *Dialogs = nullptr;

    bool Active() const { return FActive; }
    // Closes the port if open, then opens it if value is true.
    void SetActive(bool value);
    // The line hung up or its device went away after the port had opened;
    // false again once an open succeeds. A port that never opened is not lost.
    bool LineLost() const override { return FLineLost; }

    // Low-latency delivery asked of the driver at open (USB adapters then
    // hand over received bytes at once instead of every 16 ms): errno of a
    // refusal, 0 when granted or not yet asked. Never reported as an error.
    int LowLatencyRefusal() const { return FLowLatencyRefusal; }
    bool LowLatencyOn() const { return FLowLatencyOn; }

    void WriteChar(uint8_t ch) override;
    void WriteString(const std::string &text) override;
    int ReadChar(uint8_t &ch) override;
    // signal 0 RTS, 1 DTR.
    void SetSignal(int signal, bool state);
    void UpdateStatus();
    // Records errno and reports it as NotifyErrors says.
    void HandleError();
    void ShowErrorDialog(const std::string &text);

protected:
    // The driver's serial settings (TIOCGSERIAL / TIOCSSERIAL); 0 or -1 with
    // errno. A seam for tests: pseudo-terminals refuse both.
    virtual int SerialInfo(int fd, bool set, serial_struct &info);

private:
    friend class TEventThread;
    struct TLineWatch;
    template <typename T>
    void Assign(T &field, const T &value);
    void Reapply();
    void Open();
    void Close(bool lineLost = false);
    // The line hung up or its device went away: recorded once, port closed.
    void LoseLine(int code);
    // A failed transfer: a vanished line is lost, anything else recorded.
    void Fail(int code);
    void AskLowLatency(int fd);
    void RestoreLowLatency(int fd);
    void ApplySettings(int fd);
    void SetEventMask(uint32_t mask);
    bool Wake();
    void WriteBytes(const char *data, size_t length, long long timeoutMs);
    // Reads what the driver holds into the free end of FRxBuffer.
    void FillRx(int &code);
    // text: the failure in the user's words, when the system's text for code
    // would mislead.
    void HandleError(int code, const std::string &text = std::string());
    void ShowBox(const std::string &text);

    // Event thread side.
    void EventLoop();
    void EventCycle(TLineWatch &watch);
    void StartWatch(TLineWatch &watch, int fd, uint32_t generation);
    uint32_t LineChanges(TLineWatch &watch, int fd);
    void RaiseEvents(uint32_t events, const TLineWatch &watch, uint32_t generation);
    bool Abandoned(uint32_t generation) const;
    bool HandOver(std::function<void()> call);
    void SetThreadIdle();
    void Nap(int milliseconds);
    void DrainWake();

    // Owner's thread: line events handed over, and received data.
    void RaiseOnGui(uint32_t events, int modemBits);
    void RxReady();
    void RaiseRx();
    void ReadMessages();
    void WatchRx(bool on);
    // Stops listening to the port for a short pause, then announces again.
    void PauseRx();

    int FPort = 1;
    int FBaudrate = 9600;
    eParity FParity = paNone;
    eDataBits FDataBits = d7bit;
    eStopBits FStopBits = st1bit;
    uint16_t FRxQueueSize = 1024;
    uint16_t FTxQueueSize = 1024;
    eFlowControl FFlowMode = fcNone;
    bool FCheckParity = true;
    std::string FDevicePath;
    int FErrorCode = 0;
    std::string FErrorText;
    int FRxCount = 0;
    int FTxCount = 0;
    int FLowLatencyRefusal = 0;
    bool FLowLatencyOn = false;
    bool FLineLost = false;

    // Shared with the event thread.
    std::atomic<int> FHandle{-1};
    std::atomic<bool> FActive{false};
    std::atomic<bool> FClosing{false};
    std::atomic<bool> FThreadWaiting{false};
    std::atomic<bool> FTerminate{false};
    std::atomic<bool> FTxPending{false};
    std::atomic<uint32_t> FEventMask{0};
    std::atomic<uint32_t> FGeneration{0};  // counts opens
    int FWakeFd = -1;                      // eventfd that ends the thread's wait

    // Owner's thread only.
    TMessageAssembly FMessage;
    QSocketNotifier *FRxNotifier = nullptr;
    QTimer *FRxResume = nullptr;  // announces undrained bytes again
    // Received bytes are taken from the driver in one read per
    // announcement; ReadChar hands them out.
    uint8_t FRxBuffer[256] = {};
    size_t FRxHead = 0;
    size_t FRxTail = 0;
    bool FRxDrained = false;  // the last read left the driver empty
    bool FInRx = false;       // an announcement's handler is running
    bool FRxHeld = false;     // notifier off until that handler returns
    uint32_t FReadCount = 0;  // bytes handed out
    std::shared_ptr<TSerialRelay> FRelay;
    std::unique_ptr<TEventThread> FThread;
};
