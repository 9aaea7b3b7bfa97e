#pragma once

// A pseudo-terminal and the serial component set up as the main window does.

#include "link/BoardLine.h"
#include "link/Serial2.h"

#include "support/RecordingUi.h"

#include <QCoreApplication>
#include <QTest>
#include <QThread>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

using Clock = std::chrono::steady_clock;

inline long long MsSince(Clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// The component opens the slave by path; the test plays the far end on the
// master and keeps its own slave open, so closes never hang the line up.
struct TPty
{
    int Master = -1;
    int Slave = -1;
    std::string Path;

    TPty()
    {
        char name[128] = {};
        if (openpty(&Master, &Slave, name, nullptr, nullptr) == 0) {
            Path = name;
            fcntl(Master, F_SETFL, fcntl(Master, F_GETFL) | O_NONBLOCK);
        }
    }
    ~TPty()
    {
        HangUp();
        close(Slave);
    }
    // The far end goes away, as when an adapter is pulled out.
    void HangUp()
    {
        if (Master >= 0)
            close(Master);
        Master = -1;
    }
    void Send(const std::string &bytes) const
    {
        for (size_t done = 0; done < bytes.size(); poll(nullptr, 0, 1)) {
            const ssize_t n = write(Master, bytes.data() + done, bytes.size() - done);
            done += n > 0 ? size_t(n) : 0;
        }
    }
    // The far end's bytes, until count came or timeoutMs passed.
    std::string Receive(size_t count, int timeoutMs) const
    {
        std::string got;
        char buf[4096];
        for (const auto start = Clock::now(); got.size() < count && MsSince(start) < timeoutMs;) {
            pollfd p{Master, POLLIN, 0};
            const ssize_t n = poll(&p, 1, 20) > 0 ? read(Master, buf, sizeof buf) : 0;
            got.append(buf, n > 0 ? size_t(n) : 0);
        }
        return got;
    }
};

using TBoxRecorder = TRecordingUi;

inline bool OnGuiThread()
{
    return QThread::currentThread() == QCoreApplication::instance()->thread();
}

// The component set up as the main window does, on a pseudo-terminal.
class SerialTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_FALSE(Pty.Path.empty());
        Configure(Serial);
    }
    void Configure(TSerial &serial)
    {
        serial.Dialogs = &Boxes;
        SetBoardLineFormat(serial);
        serial.OnError = [this, &serial](QObject *) { Errors.push_back(serial.ErrorCode()); };
        serial.SetDevicePath(Pty.Path);
    }
    // Forgets what the open recorded: a pseudo-terminal has no modem lines.
    void Open()
    {
        Serial.SetActive(true);
        ASSERT_TRUE(Serial.Active()) << std::strerror(Serial.ErrorCode());
        Errors.clear();
    }
    termios SlaveSettings() const
    {
        termios tio{};
        tcgetattr(Pty.Slave, &tio);
        return tio;
    }
    void DrainOnRxData(std::string *into = nullptr)
    {
        Serial.OnRxData = [this, into](QObject *) {
            for (uint8_t ch = 0; Serial.ReadChar(ch) == 1;) {
                if (into)
                    *into += char(ch);
            }
        };
    }

    TPty Pty;
    TBoxRecorder Boxes;
    std::vector<int> Errors;
    TSerial Serial;
};

