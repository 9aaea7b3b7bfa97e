#pragma once

#include <QEventLoop>
#include <QTimer>

#include <functional>

// Runs a real event loop until done() holds or timeoutMs has passed. Unlike
// polling with processEvents, it takes the serial component's hand-overs the
// moment they are queued, as the program's own loop does.
inline bool RunEventLoopUntil(const std::function<bool()> &done, int timeoutMs)
{
    QEventLoop loop;
    QTimer poll, limit;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (done())
            loop.quit();
    });
    QObject::connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
    poll.start(1);
    limit.setSingleShot(true);
    limit.start(timeoutMs);
    if (!done())
        loop.exec();
    return done();
}
