#include "Session.h"

#include "context/RepeatPacing.h"
#include "transport/Printable.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <cstdio>

namespace vk9::ctl {

namespace {

// After a reply that did not come: the late window from the frame, and then this long with
// nothing arriving. A line that never falls quiet is given up after three late windows.
constexpr qint64 kQuietMs = 100;
constexpr qint64 kChatterWindows = 3;
// A line in use by another program is tried again after 100 ms, then twice as long each
// time, up to 2 s: a device server is not asked every 100 ms for an hour.
constexpr auto kFirstLineRetry = std::chrono::milliseconds(100);
constexpr auto kLongestLineRetry = std::chrono::milliseconds(2000);
// A gate's own reply window, and how long a frame may wait there for the line at most (its
// max_wait_ms) with a margin: a gate that tells nothing by then is not answering.
constexpr auto kGateWindow = std::chrono::milliseconds(500);
constexpr auto kGateSilence = std::chrono::seconds(125); // max_wait_ms + late_ms, at most

} // namespace

Session::Session(qt::NumberedPort& port, milliseconds timeout, milliseconds late, bool verbose)
    : m_port(port), m_timeout(timeout), m_late(late), m_verbose(verbose) {
    m_clock.start();
    const ParsedAddress line = parseLineAddress(m_port.deviceName());
    m_gate = line.address && line.address->kind == LineAddress::Kind::Gate;
    m_port.onFate([this](const std::string& frame, const tickets::Notice& notice) {
        trace("gate: " + tickets::format(notice).substr(0, tickets::format(notice).size() - 1) +
                  " for",
              frame);
        if (notice.fate == tickets::Fate::Sent) {
            m_went[notice.frame] = true;
        } else {
            m_ends[notice.frame] = notice;
        }
        // A reply later than a window asked for here, shorter than the gate's, did not come.
        if (notice.fate == tickets::Fate::Answered &&
            (m_timeout >= kGateWindow || milliseconds(notice.ms) <= m_timeout)) {
            m_arrived += notice.reply;
        }
        if (m_loop != nullptr && m_done && m_done()) {
            m_loop->quit();
        }
    });
    m_port.onReceived([this] {
        const std::string bytes = m_port.readAll();
        trace("RX", bytes);
        m_arrived += bytes;
        m_lastArrival = m_clock.elapsed();
        if (m_loop != nullptr && m_done && m_done()) {
            m_loop->quit();
        }
    });
}

void Session::end(std::string why) {
    if (m_ended) {
        return;
    }
    trace("end: " + why);
    m_ended = std::move(why);
    if (m_loop != nullptr) {
        m_loop->quit();
    }
}

void Session::interrupt() {
    m_interrupted = true;
    if (m_loop != nullptr) {
        m_loop->quit();
    }
}

// Ended by a signal with a frame unanswered: its reply may still be on its way. The run waits
// out the late window, as it would have, so that the next run on the line never takes the
// reply for its own; a second signal ends it at once.
void Session::drain() {
    if (!m_awaiting || m_interrupted || !m_port.isOpen()) {
        return;
    }
    m_draining = true;
    settle(m_lastFrameAt);
    m_draining = false;
}

std::optional<std::string> Session::open(milliseconds waitForLine) {
    const milliseconds until(m_clock.elapsed() + waitForLine.count());
    milliseconds retry = kFirstLineRetry;
    SerialResult opened;
    m_port.onOpened([this, &opened](const SerialResult& result) {
        opened = result;
        if (m_loop != nullptr) {
            m_loop->quit();
        }
    });
    while (true) {
        trace("open " + m_port.deviceName());
        opened = m_port.open();
        if (opened.pending) { // a network line: until it has connected or given up
            waitUntil(milliseconds(m_clock.elapsed()) + std::chrono::hours(1),
                      [&] { return !opened.pending; });
        }
        if (m_ended || opened.ok || !opened.busy || m_clock.elapsed() >= until.count()) {
            break;
        }
        trace("in use: " + opened.message);
        pause(std::min(retry, milliseconds(until.count() - m_clock.elapsed())));
        retry = std::min(2 * retry, kLongestLineRetry);
    }
    m_port.onOpened({});
    if (m_ended) {
        return m_ended;
    }
    return opened.ok && !opened.pending ? std::nullopt : std::optional(opened.message);
}

void Session::trace(std::string_view what, std::string_view bytes) const {
    if (m_verbose) {
        std::fprintf(stderr, "vk9ctl: %10.3f ms %s%s%s\n", double(m_clock.nsecsElapsed()) / 1e6,
                     std::string(what).c_str(), bytes.empty() ? "" : " ",
                     shownBytes(bytes).c_str());
    }
}

void Session::discard() {
    m_port.discardInput();
    if (!m_arrived.empty()) {
        trace("thrown away", m_arrived);
        m_arrived.clear();
    }
}

milliseconds Session::timeout() const {
    return m_gate ? std::min(m_timeout, kGateWindow) : m_timeout;
}

bool Session::send(std::string_view frame) {
    trace("TX", frame);
    const SerialResult written = m_port.write(frame);
    m_written += written.ok ? 1 : 0;
    m_awaiting = written.ok && !m_gate; // a gate keeps the late window itself
    m_lastFrameAt = m_clock.elapsed();
    if (!written.ok) {
        QCoreApplication::processEvents(); // a loss on its way is told first
        end(m_port.deviceName() + ": not sent: " + written.message);
        return false;
    }
    return true;
}

void Session::waitUntil(milliseconds deadline, const std::function<bool()>& done) {
    const qint64 left = deadline.count() - m_clock.elapsed();
    if ((m_ended && !m_draining) || m_interrupted || (done && done()) || left <= 0) {
        return;
    }
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    timer.start(std::chrono::milliseconds(left));
    QEventLoop* outer = std::exchange(m_loop, &loop);
    std::function<bool()> outerDone = std::exchange(m_done, done);
    loop.exec();
    m_loop = outer;
    m_done = std::move(outerDone);
}

// The reply that did not come in time may still be on its way: nothing is sent, and the
// run does not end, until the late window has passed since the frame and nothing has
// arrived for 100 ms; whatever came is thrown away.
void Session::settle(qint64 frameAt) {
    trace("waiting for a late reply");
    const qint64 lateEnd = frameAt + m_late.count();
    const qint64 limit = frameAt + kChatterWindows * m_late.count();
    const auto quiet = [&] {
        const qint64 now = m_clock.elapsed();
        return now >= lateEnd && now - m_lastArrival >= kQuietMs;
    };
    while ((!m_ended || m_draining) && !m_interrupted && !quiet() && m_clock.elapsed() < limit) {
        waitUntil(milliseconds(std::min(std::max(lateEnd, m_lastArrival + kQuietMs), limit)), {});
    }
    discard();
    m_awaiting = m_awaiting && !quiet(); // cut short: the reply may still come
}

int Session::awaitEnds(std::uint64_t first, std::uint64_t last) {
    const auto ended = [&] {
        for (std::uint64_t n = first; n <= last; ++n) {
            if (m_ends.count(n) == 0) {
                return false;
            }
        }
        return true;
    };
    waitUntil(milliseconds(m_clock.elapsed()) + kGateSilence, ended);
    if (!ended() && !m_ended) {
        end(m_port.deviceName() + ": the gate did not tell what became of a frame");
    }
    int went = 0;
    for (std::uint64_t n = first; n <= last; ++n) {
        went += m_went.count(n);
    }
    return went;
}

std::string Session::notSent(std::uint64_t number) {
    const auto end = m_ends.find(number);
    const std::string why = end == m_ends.end() ? std::string() : tickets::whyNotSent(end->second);
    if (end != m_ends.end() &&
        (end->second.fate == tickets::Fate::Busy || end->second.fate == tickets::Fate::Lost)) {
        this->end(m_port.deviceName() + ": " + why); // the line's, not the projector's
        return {};
    }
    return why;
}

Session::Reply Session::ask(std::string_view frame) {
    Reply reply;
    if (m_ended) {
        return reply;
    }
    discard();
    if (!send(frame)) {
        return reply;
    }
    if (m_gate) {
        awaitEnds(m_written, m_written);
        const auto end = m_ends.find(m_written);
        if (end == m_ends.end()) {
            return reply;
        }
        reply.notSent = notSent(m_written);
        // The gate's window, counted from the frame's time on the line, holds; a shorter one
        // asked for here is applied to the time the reply took.
        reply.bytes = std::exchange(m_arrived, {});
        reply.whole = !reply.bytes.empty();
        return reply;
    }
    const qint64 frameAt = m_clock.elapsed();
    const milliseconds deadline(frameAt + m_timeout.count());
    waitUntil(deadline, [this] { return m_arrived.find('\r') != std::string::npos; });
    const auto end = m_arrived.find('\r');
    reply.whole = end != std::string::npos;
    reply.windowClosed = !reply.whole && !m_ended;
    m_awaiting = !reply.whole;
    reply.bytes = reply.whole ? m_arrived.substr(0, end + 1) : m_arrived;
    m_arrived.erase(0, reply.bytes.size()); // what follows is thrown away before the next
    if (!reply.whole) {
        settle(frameAt); // what comes late is never taken for the next reply
    }
    return reply;
}

Session::Held Session::hold(std::string_view frame, milliseconds period, milliseconds span,
                            const std::function<int(const std::string&)>& answered) {
    Held held;
    if (m_ended) {
        return held;
    }
    discard();
    RepeatPacing pacing;
    if (!send(frame)) {
        return held;
    }
    held.copies = 1;
    pacing.sent(frame.size(), m_port.lineSpeed());
    const qint64 pressed = m_clock.elapsed();
    qint64 lastCopyAt = pressed;
    QTimer ticks;
    ticks.setTimerType(Qt::PreciseTimer);
    QObject::connect(&ticks, &QTimer::timeout, [&] {
        if (m_clock.elapsed() - pressed < span.count() && pacing.mayRepeat(period, m_port) &&
            send(frame)) {
            ++held.copies;
            lastCopyAt = m_clock.elapsed();
            pacing.sent(frame.size(), m_port.lineSpeed());
        }
    });
    const std::uint64_t first = m_written;
    ticks.start(period);
    waitUntil(milliseconds(pressed) + span, {});
    ticks.stop();
    if (m_gate) { // only the copies that went on the line count
        held.copies = awaitEnds(first, m_written);
        held.replies = std::exchange(m_arrived, {});
        held.notSent = held.copies == 0 ? notSent(first) : std::string();
        return held;
    }
    waitUntil(milliseconds(m_clock.elapsed()) + m_timeout,
              [&] { return answered(m_arrived) >= held.copies; });
    held.replies = std::exchange(m_arrived, {});
    m_awaiting = answered(held.replies) < held.copies;
    if (answered(held.replies) < held.copies) {
        settle(lastCopyAt);
    }
    return held;
}

void Session::pause(milliseconds span) {
    waitUntil(milliseconds(m_clock.elapsed()) + span, {});
}

} // namespace vk9::ctl
