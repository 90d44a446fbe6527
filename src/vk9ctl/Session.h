#pragma once

#include "io/NumberedPort.h"

#include <QElapsedTimer>

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>

class QEventLoop;

namespace vk9::ctl {

using std::chrono::milliseconds;

// vk9ctl's conversation with the projectors, one frame at a time. A reply counts only when
// it is whole (it ends in a carriage return) and fresh: whatever was waiting is thrown away
// before each frame, and after a reply that did not come in time nothing more is sent until
// the late window has passed since the frame and the line has been quiet 100 ms, so that a
// late reply is thrown away, never taken for the next frame's, in this run or the next. The
// line going away, or a signal, ends the session at once.
//
// Through a gate (gate://) the gate keeps the late window, and tells what became of each
// frame: the reply window counts from the frame's time on the line, however long it waited
// for it, and a frame the gate did not send says why.
class Session {
public:
    Session(qt::NumberedPort& port, milliseconds timeout, milliseconds late, bool verbose);
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // The line opened, or why not. A line in use by another program is tried again until
    // `waitForLine` has passed.
    std::optional<std::string> open(milliseconds waitForLine);
    // One frame out; the reply up to and with its carriage return, or what came before the
    // timeout (nothing, or a reply cut off).
    struct Reply {
        std::string bytes;
        bool whole = false;
        std::string notSent;       // through a gate: why the frame never reached the line
        bool windowClosed = false; // its window closed short of a whole reply, however the
                                   // run ended while the late window was waited out
    };
    Reply ask(std::string_view frame);
    // A hold: copies of the frame every `period` for `span`, paced by the line as the panel
    // paces them; then whatever came back until every copy had its answer or the timeout.
    struct Held {
        int copies = 0;
        std::string replies;
        std::string notSent; // through a gate, when no copy went: why
    };
    Held hold(std::string_view frame, milliseconds period, milliseconds span,
              const std::function<int(const std::string&)>& answered);
    // Waits, still answering the line's server, without sending anything.
    void pause(milliseconds span);
    // Why the session ended early (the line went away, a signal), if it did.
    const std::optional<std::string>& ended() const { return m_ended; }
    void end(std::string why);
    void interrupt(); // a second signal: no more waiting of any kind
    // After the end by a signal: the late window of a frame still unanswered, waited out.
    void drain();
    // The reply window: the one asked for, within the gate's own (500 ms) through a gate.
    milliseconds timeout() const;

private:
    bool send(std::string_view frame);
    void discard();
    void settle(qint64 frameAt);
    // Runs the event loop until `done` holds, the deadline passes or the session ends.
    void waitUntil(milliseconds deadline, const std::function<bool()>& done);
    void trace(std::string_view what, std::string_view bytes = {}) const;
    // Through a gate: waits for the end of frames first to last; the copies that went.
    int awaitEnds(std::uint64_t first, std::uint64_t last);
    // Through a gate: why frame `number` did not reach the line; the line's own failures
    // (busy, lost) end the session. Empty when it went.
    std::string notSent(std::uint64_t number);

    qt::NumberedPort& m_port;
    milliseconds m_timeout;
    milliseconds m_late;
    bool m_verbose;
    QElapsedTimer m_clock;
    std::string m_arrived;
    qint64 m_lastArrival = 0; // ms on m_clock
    QEventLoop* m_loop = nullptr;
    std::function<bool()> m_done;
    std::optional<std::string> m_ended;
    bool m_awaiting = false; // a frame sent whose reply has not come whole
    qint64 m_lastFrameAt = 0;
    bool m_draining = false;
    bool m_interrupted = false;
    bool m_gate = false;
    std::uint64_t m_written = 0;                     // frames written, numbered as the gate does
    std::map<std::uint64_t, tickets::Notice> m_ends; // how each ended, by its number
    std::map<std::uint64_t, bool> m_went;            // which went on the line
};

} // namespace vk9::ctl
