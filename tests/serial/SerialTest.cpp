#include "link/Serial2.h"
#include "serial/SerialFixture.h"

#include "core/UiServices.h"
#include "link/SerialSpeed.h"
#include "support/RecordingUi.h"

#include <QCoreApplication>
#include <QTest>
#include <QThread>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace {

TEST_F(SerialTest, BaudrateOutsideTheListIsRefusedWithOneBox)
{
    EXPECT_EQ(Serial.Baudrate(), 19200);
    EXPECT_TRUE(Boxes.Boxes.empty());
    Serial.NotifyErrors = neNone;  // refused whatever it says
    for (const int rate : {19201, 0, -9600, 115201, 250000}) {
        Boxes.Boxes.clear();
        Serial.SetBaudrate(rate);
        ASSERT_EQ(Boxes.Boxes.size(), 1u) << rate;
        EXPECT_EQ(Boxes.Boxes[0].Text, "Baudrate is not valid");
        EXPECT_EQ(Boxes.Boxes[0].Kind, TBoxKind::Error);
        EXPECT_EQ(Boxes.Boxes[0].Buttons, TBoxButtons::Ok);
        EXPECT_EQ(Serial.Baudrate(), 19200) << rate;
    }
}

TEST_F(SerialTest, EveryListedRateIsAppliedToTheOpenPort)
{
    Open();
    EXPECT_EQ(LineSpeed(Pty.Slave), 19200);
    for (const int rate : {110, 300, 600, 1200, 2400, 4800, 9600, 14400, 19200, 38400, 56000,
                           57600, 115200, 128000, 256000}) {
        Serial.SetBaudrate(rate);
        EXPECT_TRUE(Serial.Active()) << rate;
        EXPECT_EQ(LineSpeed(Pty.Slave), rate);
    }
    EXPECT_TRUE(Boxes.Boxes.empty());
}

TEST_F(SerialTest, LinePropertiesReachTheDriver)
{
    Open();
    const termios raw = SlaveSettings();
    EXPECT_EQ(raw.c_cc[VMIN], 0);
    EXPECT_EQ(raw.c_cc[VTIME], 0);
    EXPECT_EQ(raw.c_lflag & (ICANON | ECHO), 0u);
    Serial.SetStopBits(st2bit);
    EXPECT_NE(SlaveSettings().c_cflag & CSTOPB, 0u);
    Serial.SetFlowMode(fcRTS_CTS);
    EXPECT_NE(SlaveSettings().c_cflag & CRTSCTS, 0u);
    Serial.SetFlowMode(fcXON_XOF);
    const termios xon = SlaveSettings();
    EXPECT_EQ(xon.c_cflag & CRTSCTS, 0u);
    EXPECT_EQ(xon.c_iflag & (IXON | IXOFF), tcflag_t(IXON | IXOFF));
    EXPECT_EQ(xon.c_cc[VSTART], 0x11);
    EXPECT_EQ(xon.c_cc[VSTOP], 0x13);
    Errors.clear();
    Serial.SetFlowMode(fcDTR_DSR);  // no such handshake here: recorded, port usable
    EXPECT_TRUE(Serial.Active());
    EXPECT_NE(std::find(Errors.begin(), Errors.end(), ENOTSUP), Errors.end());
}

TEST_F(SerialTest, SameValueDoesNothingButQueueSizesAlwaysReopen)
{
    Open();
    // A stranger's speed on the line shows whether the settings were re-applied.
    const auto tamper = [this] {
        termios tio = SlaveSettings();
        cfsetspeed(&tio, B300);
        tcsetattr(Pty.Slave, TCSANOW, &tio);
    };
    const struct
    {
        const char *Name;
        std::function<void()> Assign;
        int Speed;
    } cases[] = {
        {"Port", [this] { Serial.SetPort(Serial.Port()); }, 300},
        {"Baudrate", [this] { Serial.SetBaudrate(Serial.Baudrate()); }, 300},
        {"Parity", [this] { Serial.SetParity(Serial.Parity()); }, 300},
        {"StopBits", [this] { Serial.SetStopBits(Serial.StopBits()); }, 300},
        {"FlowMode", [this] { Serial.SetFlowMode(Serial.FlowMode()); }, 300},
        {"CheckParity", [this] { Serial.SetCheckParity(Serial.CheckParity()); }, 300},
        {"DevicePath", [this] { Serial.SetDevicePath(Serial.DevicePath()); }, 300},
        {"RxQueueSize", [this] { Serial.SetRxQueueSize(Serial.RxQueueSize()); }, 19200},
        {"TxQueueSize", [this] { Serial.SetTxQueueSize(Serial.TxQueueSize()); }, 19200},
        {"new Parity", [this] { Serial.SetParity(paEven); }, 19200},
    };
    for (const auto &c : cases) {
        tamper();
        c.Assign();
        EXPECT_TRUE(Serial.Active()) << c.Name;
        EXPECT_EQ(LineSpeed(Pty.Slave), c.Speed) << c.Name;
    }
    Serial.SetActive(false);
    Serial.SetRxQueueSize(512);  // nothing to re-open
    EXPECT_FALSE(Serial.Active());
}

TEST_F(SerialTest, MissingDeviceIsRecordedAsNotifyErrorsSays)
{
    const struct
    {
        eNotifyErr Mode;
        size_t Boxes;
        size_t Events;
    } cases[] = {{neEvent, 0, 1}, {neDialog, 1, 0}, {neNone, 0, 0}};
    Serial.SetDevicePath("/dev/no-such-varnel-port");
    for (const auto &c : cases) {
        Boxes.Boxes.clear();
        Errors.clear();
        Serial.NotifyErrors = c.Mode;
        Serial.SetActive(true);
        EXPECT_FALSE(Serial.Active());
        EXPECT_EQ(Serial.ErrorCode(), ENOENT);
        ASSERT_EQ(Boxes.Boxes.size(), c.Boxes) << c.Mode;
        if (c.Boxes) {
            EXPECT_EQ(Boxes.Boxes[0].Text, std::strerror(ENOENT));
        }
        EXPECT_EQ(Errors.size(), c.Events) << c.Mode;
    }
}

TEST_F(SerialTest, PortIsNotShared)
{
    Open();
    TSerial second;
    Configure(second);
    second.SetActive(true);
    EXPECT_FALSE(second.Active());
    EXPECT_NE(second.ErrorCode(), 0);
    Serial.SetActive(false);  // released although the test's own opening remains
    second.SetActive(true);
    EXPECT_TRUE(second.Active());
}

TEST_F(SerialTest, PortNumberNamesTheDevice)
{
    setenv("VARNEL_COM3", Pty.Path.c_str(), 1);
    unsetenv("VARNEL_COM4");
    TSerial serial;
    const std::pair<int, std::string> cases[] = {
        {1, "/dev/ttyS0"}, {4, "/dev/ttyS3"}, {9, "/dev/ttyS8"}, {3, Pty.Path}};
    for (const auto &[port, device] : cases) {
        serial.SetPort(port);
        EXPECT_EQ(serial.DeviceName(), device) << port;
    }
    serial.SetPort(0);
    serial.SetPort(10);
    EXPECT_EQ(serial.Port(), 3);
    serial.NotifyErrors = neNone;
    serial.SetActive(true);
    EXPECT_TRUE(serial.Active());
    serial.SetActive(false);
    serial.SetDevicePath("/dev/null");
    EXPECT_EQ(serial.DeviceName(), "/dev/null");
    unsetenv("VARNEL_COM3");
}

TEST_F(SerialTest, ReadCharOnAnEmptyQueueReturnsAtOnce)
{
    uint8_t ch = 0xA5;
    EXPECT_EQ(Serial.ReadChar(ch), 0);  // closed
    Open();
    const auto start = Clock::now();
    EXPECT_EQ(Serial.ReadChar(ch), 0);
    EXPECT_LT(MsSince(start), 1000);
    EXPECT_EQ(ch, 0xA5);
    Pty.Send("Z");
    ASSERT_TRUE(QTest::qWaitFor([this] { return Serial.RxWaiting() == 1; }, 5000));
    EXPECT_EQ(Serial.ReadChar(ch), 1);
    EXPECT_EQ(ch, 'Z');
    EXPECT_TRUE(Errors.empty());
}

TEST_F(SerialTest, WritesAreBinarySafeAndArriveWhole)
{
    Open();
    std::string pattern(3000, '\0');
    std::string big(100000, '\0');  // far more than the line buffers: partial writes
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = char(i % 251);
    for (size_t i = 0; i < pattern.size(); ++i)
        pattern[i] = char(i * 7);
    for (const std::string &payload : {std::string("\x00\xFF\x00\x41\xFF", 5), pattern, big}) {
        std::string got;
        std::thread farEnd([&] { got = Pty.Receive(payload.size(), 20000); });
        Serial.WriteString(payload);
        farEnd.join();
        EXPECT_EQ(got.size(), payload.size());
        EXPECT_TRUE(got == payload);
    }
    Serial.WriteChar(0x00);
    Serial.WriteChar(0xFF);
    EXPECT_EQ(Pty.Receive(2, 5000), std::string("\x00\xFF", 2));
    EXPECT_TRUE(Errors.empty());
}

TEST_F(SerialTest, FailedWritesAreRecordedWithoutHanging)
{
    const auto start = Clock::now();
    Serial.WriteChar('A');  // closed port
    Serial.WriteString("abc");
    EXPECT_LT(MsSince(start), 3000);
    EXPECT_EQ(Errors, (std::vector<int>{EBADF, EBADF}));

    // A far end that takes nothing. The kernel moves queued bytes on behind
    // our back: the line is full when no write has got through for a while.
    Open();
    fcntl(Pty.Slave, F_SETFL, fcntl(Pty.Slave, F_GETFL) | O_NONBLOCK);
    const std::string block(1024, 'x');
    for (auto quiet = Clock::now(); MsSince(quiet) < 300; poll(nullptr, 0, 10)) {
        while (write(Pty.Slave, block.data(), block.size()) > 0)
            quiet = Clock::now();
    }
    const auto writeStart = Clock::now();
    Serial.WriteChar('B');
    EXPECT_LT(MsSince(writeStart), 5000);
    EXPECT_EQ(Errors, std::vector<int>{ETIMEDOUT});
}

TEST_F(SerialTest, RxDataRunsOnTheOwnersThread)
{
    std::string received;
    bool allOnGui = true;
    Serial.OnRxData = [&](QObject *sender) {
        allOnGui = allOnGui && OnGuiThread() && sender == &Serial;
        for (uint8_t ch = 0; Serial.ReadChar(ch) == 1;)
            received += char(ch);
    };
    Open();
    Pty.Send("PP");
    ASSERT_TRUE(QTest::qWaitFor([&] { return received.size() >= 2; }, 5000));
    Pty.Send(std::string("\x00Y", 2));
    ASSERT_TRUE(QTest::qWaitFor([&] { return received.size() >= 4; }, 5000));
    EXPECT_EQ(received, std::string("PP\x00Y", 4));
    EXPECT_TRUE(allOnGui);
}

TEST_F(SerialTest, MessageModeAssemblesOneMessage)
{
    std::vector<std::string> messages;
    bool allOnGui = true;
    Serial.RxEventMode = rxMessage;
    Serial.MessageAppendCount = 1;  // start 2 and end 3 are the defaults
    Serial.OnMessage = [&](QObject *, const std::string &text) {
        allOnGui = allOnGui && OnGuiThread();
        messages.push_back(text);
    };
    Open();
    Pty.Send(std::string("\x01\x02" "A\x03\x09\x04", 6));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !messages.empty(); }, 5000));
    QTest::qWait(200);
    EXPECT_EQ(messages, std::vector<std::string>{"\x02" "A\x03\x09"});
    EXPECT_TRUE(allOnGui);
    EXPECT_EQ(Serial.RxWaiting(), 0);  // the 4 was read and dropped
}

// Bytes far beyond one read's worth, in order, whether the handler takes one
// byte an announcement, a few, or everything there is.
TEST_F(SerialTest, LongBurstsArriveWholeWhateverTheHandlerTakes)
{
    std::string sent;
    for (int i = 0; i < 20000; ++i)
        sent += char(i * 7 % 251);
    for (const size_t take : {size_t(1), size_t(7), sent.size()}) {
        std::string received;
        Serial.OnRxData = [&](QObject *) {
            uint8_t ch = 0;
            for (size_t n = 0; n < take && Serial.ReadChar(ch) == 1; ++n)
                received += char(ch);
        };
        Open();
        std::thread farEnd([&] { Pty.Send(sent); });
        const bool whole =
                QTest::qWaitFor([&] { return received.size() >= sent.size(); }, 20000);
        farEnd.join();
        EXPECT_TRUE(whole) << take << ": " << received.size() << " bytes";
        EXPECT_TRUE(received == sent) << take;
        Serial.SetActive(false);
    }
}

// A handler that shows a message box runs an event loop of its own: bytes
// that come meanwhile wait for it to return instead of entering it again.
TEST_F(SerialTest, HandlerInItsOwnEventLoopIsNotEnteredAgain)
{
    std::string received;
    int depth = 0, deepest = 0;
    Serial.OnRxData = [&](QObject *) {
        deepest = std::max(deepest, ++depth);
        for (uint8_t ch = 0; Serial.ReadChar(ch) == 1;)
            received += char(ch);
        if (received == "A") {
            std::thread later([&] {
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
                Pty.Send("B");
            });
            QTest::qWait(400);
            later.join();
        }
        --depth;
    };
    Open();
    Pty.Send("A");
    EXPECT_TRUE(QTest::qWaitFor([&] { return received == "AB"; }, 5000)) << received;
    EXPECT_EQ(deepest, 1);
}

// A read before any announcement takes the whole burst from the driver: what
// it leaves must still be announced, although the driver has nothing left.
TEST_F(SerialTest, BytesLeftByAReadOutsideAnAnnouncementAreAnnounced)
{
    Open();
    Pty.Send("abc");
    int waiting = 0;
    for (int i = 0; i < 500 && waiting < 3; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        waiting = Serial.RxWaiting();
    }
    ASSERT_EQ(waiting, 3);
    uint8_t ch = 0;
    ASSERT_EQ(Serial.ReadChar(ch), 1);
    EXPECT_EQ(ch, 'a');
    std::string received;
    DrainOnRxData(&received);
    EXPECT_TRUE(QTest::qWaitFor([&] { return received == "bc"; }, 3000)) << received;
}

// Closing reports what fails on the way (a pseudo-terminal has no modem
// lines) to a handler that may run an event loop: no data is announced then.
TEST_F(SerialTest, NothingIsAnnouncedWhileThePortCloses)
{
    bool closing = false, announcedInClose = false;
    DrainOnRxData();
    Serial.OnRxData = [&, drain = Serial.OnRxData](QObject *sender) {
        announcedInClose = announcedInClose || closing;
        drain(sender);
    };
    Open();
    Serial.OnError = [](QObject *) { QTest::qWait(50); };
    Pty.Send("abc");
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    closing = true;
    Serial.SetActive(false);
    closing = false;
    EXPECT_FALSE(announcedInClose);
}

TEST_F(SerialTest, UndrainedBytesAreAnnouncedAgainWithoutSpinning)
{
    int calls = 0;
    Serial.OnRxData = [&](QObject *) { ++calls; };
    Open();
    const auto start = Clock::now();
    Pty.Send("abc");
    ASSERT_TRUE(QTest::qWaitFor([&] { return calls >= 3; }, 5000));
    QTest::qWait(300);
    EXPECT_LT(calls, MsSince(start) / 2 + 1);  // paused between announcements
    EXPECT_EQ(Serial.RxWaiting(), 3);
}

TEST_F(SerialTest, CloseWhileAHandOverIsPendingReturns)
{
    std::string received;
    DrainOnRxData(&received);
    Open();
    Pty.Send("data");
    // No events served: the thread is now blocked handing the bytes over.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const auto start = Clock::now();
    Serial.SetActive(false);
    EXPECT_LT(MsSince(start), 7500);
    QTest::qWait(200);
    EXPECT_TRUE(received.empty());  // not delivered for a port already closed
    TSerial other;
    Configure(other);
    other.SetActive(true);
    EXPECT_TRUE(other.Active());  // the handle was closed
}

TEST_F(SerialTest, CloseAndReopenFromInsideTheHandler)
{
    std::string received;
    Serial.OnRxData = [&](QObject *) {
        for (uint8_t ch = 0; Serial.ReadChar(ch) == 1;)
            received += char(ch);
        if (received == "A") {
            const auto start = Clock::now();
            Serial.SetActive(false);
            EXPECT_LT(MsSince(start), 7500);
            Serial.SetActive(true);
        }
    };
    Open();
    Pty.Send("A");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !received.empty(); }, 5000));
    EXPECT_TRUE(Serial.Active());
    Pty.Send("B");
    EXPECT_TRUE(QTest::qWaitFor([&] { return received == "AB"; }, 5000));
}

TEST_F(SerialTest, DestroyingAnOpenComponentWithTrafficIsClean)
{
    std::atomic<bool> stop{false};
    std::thread farEnd([&] {
        for (const std::string burst(64, 'q'); !stop; Pty.Receive(1, 1)) {
            [[maybe_unused]] const ssize_t n = write(Pty.Master, burst.data(), burst.size());
        }
    });
    // Destroyed from outside, then by its own handler (round 3).
    for (int round = 0; round < 4; ++round) {
        auto *serial = new TSerial;
        Configure(*serial);
        int calls = 0;
        serial->OnRxData = [&calls, serial, round](QObject *) {
            if (++calls == 1 && round == 3) {
                delete serial;
                return;
            }
            for (uint8_t ch = 0; serial->ReadChar(ch) == 1;) {
            }
            serial->WriteChar('Y');
        };
        serial->SetActive(true);
        ASSERT_TRUE(serial->Active());
        EXPECT_TRUE(QTest::qWaitFor([&] { return calls >= 2 - (round == 3); }, 5000));
        if (round < 3)
            delete serial;
        QTest::qWait(50);  // stale queued calls must find nothing to do
    }
    stop = true;
    farEnd.join();
}

}  // namespace
