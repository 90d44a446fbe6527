#include "LineKeeper.h"

#include "transport/SerialSettings.h"

#include <utility>

namespace vk9::gate {

namespace {

using namespace std::chrono_literals;

constexpr auto kSteadyAfter = 30s;

bool networkLine(const std::string& line) {
    const ParsedAddress parsed = parseLineAddress(line);
    return parsed.address && parsed.address->kind != LineAddress::Kind::Device;
}

} // namespace

LineKeeper::LineKeeper(const std::string& line, int speed, const Log& log, Events events)
    : m_log(log), m_events(std::move(events)),
      m_waits(networkLine(line) ? RetryWaits::ms(30s) : RetryWaits::ms(1s)) {
    m_port.nameDevice(1, line);
    (void)m_port.setPortNumber(1);
    (void)m_port.setSettings(std::to_string(speed) + ",N,8,1");
    m_retry.setSingleShot(true);
    m_steady.setSingleShot(true);
    connect(&m_retry, &QTimer::timeout, this, &LineKeeper::tryOpen);
    connect(&m_steady, &QTimer::timeout, this, [this] { m_waits.steady(); });
    m_port.onOpened([this](const SerialResult& result) { opened(result); });
    m_port.onReceived([this] {
        if (m_events.received) {
            m_events.received();
        }
    });
    m_port.onLost([this](const std::string&, const std::string& reason, bool) {
        m_up = false;
        m_steady.stop();
        m_why = reason;
        m_log.say(Log::Warning, "the line " + name() + " went away: " + reason);
        m_events.down(reason);
        retryLater(m_waits.lost());
    });
    m_port.onNote([this](const std::string&, const std::string& text, bool) {
        m_log.say(Log::Warning, name() + ": " + text);
    });
}

void LineKeeper::start(bool keepTrying) {
    m_keepTrying = keepTrying;
    tryOpen();
}

void LineKeeper::stop() {
    m_stopped = true;
    m_retry.stop();
    m_steady.stop();
    (void)m_port.close(); // and its lock with it
    m_up = false;
}

void LineKeeper::tryOpen() {
    if (m_stopped) {
        return;
    }
    const SerialResult result = m_port.open();
    if (!result.pending) {
        opened(result);
    }
}

void LineKeeper::opened(const SerialResult& result) {
    if (result.ok) {
        m_up = true;
        m_why.clear();
        m_lastFailure.clear();
        m_log.say(Log::Info, "the line " + name() + " is open");
        m_steady.start(kSteadyAfter);
        m_events.up();
        return;
    }
    m_why = result.message;
    if (!m_keepTrying) {
        m_events.failed(result.message);
        return;
    }
    if (result.message != std::exchange(m_lastFailure, result.message)) { // once, not a second
        m_log.say(Log::Warning, "the line " + name() + " did not open: " + result.message +
                                    "; it is tried again until it does");
    }
    retryLater(m_waits.isSteady() ? m_waits.lost() : m_waits.failed());
}

void LineKeeper::retryLater(std::chrono::milliseconds wait) {
    m_keepTrying = true; // once it has been up, it is always tried again
    if (!m_stopped) {
        m_retry.start(wait);
    }
}

std::string LineKeeper::state() const {
    return m_up ? "the line " + name() + " is open"
                : "waiting for the line " + name() + (m_why.empty() ? "" : ": " + m_why);
}

} // namespace vk9::gate
