#pragma once

#include "Log.h"
#include "context/RetryWaits.h"
#include "io/NumberedPort.h"

#include <QObject>
#include <QTimer>

#include <functional>
#include <string>

namespace vk9::gate {

// Keeps the gate's one line open, on the panel's own connections (a local device, or a
// network line), whatever happens to it. A network line that goes away is tried again as
// the panel tries it (1 s, doubling to 30 s); a local device every second, so that a USB
// adapter plugged in again is back within 2 s.
class LineKeeper final : public QObject {
public:
    struct Events {
        std::function<void()> up;
        std::function<void(const std::string& why)> down;   // once up, now lost
        std::function<void(const std::string& why)> failed; // the first open, when not retried
        std::function<void()> received;
    };

    LineKeeper(const std::string& line, int speed, const Log& log, Events events);
    void start(bool keepTrying);
    void stop();

    qt::NumberedPort& port() { return m_port; }
    const qt::NumberedPort& port() const { return m_port; }
    const std::string& name() const { return m_port.deviceName(); }
    std::string state() const; // for the service manager's status line

private:
    void tryOpen();
    void opened(const SerialResult& result);
    void retryLater(std::chrono::milliseconds wait);

    const Log& m_log;
    Events m_events;
    qt::NumberedPort m_port;
    RetryWaits m_waits;
    QTimer m_retry;
    QTimer m_steady;
    bool m_keepTrying = false;
    bool m_up = false;
    bool m_stopped = false;
    std::string m_why;         // why the line is not up
    std::string m_lastFailure; // told once, until another comes
};

} // namespace vk9::gate
