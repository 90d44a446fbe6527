#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>

namespace vk9::gate {

// Time since the gate started; the arbiter never reads a clock, it is told the time.
using Time = std::chrono::microseconds;
using ClientId = std::uint32_t;

// How a frame ended, for the client that sent it.
enum class Outcome : std::uint8_t {
    Answered,   // its reply came, whole, within the reply window
    Unanswered, // the reply window closed first
    TooLong,    // it waited longer than the limit for the line, and was never sent
    Repeated,   // a copy of a frame of its client's that was still waiting: never sent
    QueueFull,  // its client had too many frames waiting: never sent
    LineLost,   // the line went away first
};

// What the arbiter does to the world: the projectors' line, and the clients.
class ArbiterPort {
public:
    virtual ~ArbiterPort() = default;
    virtual bool writeLine(ClientId client, std::string_view frame) = 0;
    virtual int lineSpeed() const = 0;           // bit/s
    virtual std::size_t linePending() const = 0; // bytes written, not yet on the wire
    virtual bool lineSuspended() const = 0;      // the far end holds our data
    virtual void deliver(ClientId client, std::string_view bytes) = 0; // reply bytes, as they come
    // Every frame submitted ends here exactly once (unless its client withdrew it), once the
    // arbiter is between its steps (a client may submit its next frame from here); `reply` is
    // what its client was given.
    virtual void finished(ClientId client, std::string_view frame, Outcome outcome,
                          std::string_view reply) = 0;
};

struct ArbiterSettings {
    std::chrono::milliseconds replyWindow{500};
    std::chrono::milliseconds lateWindow{2000}; // after an unanswered frame, from its sending
    std::chrono::milliseconds maxWait{3000};    // a frame waits no longer for the line
    std::size_t maxQueued = 8;                  // frames a client may have waiting
};

struct ArbiterCounts {
    std::uint64_t sent = 0;
    std::uint64_t answered = 0;
    std::uint64_t unanswered = 0;
    std::uint64_t lateReplies = 0; // replies that came with no frame waiting: thrown away
    std::uint64_t tooLong = 0;
    std::uint64_t repeated = 0;
    std::uint64_t queueFull = 0;
};

// One line, many clients, and the rule that keeps every reply with the frame it answers.
//
// - A reply goes only to the client whose frame it answers: the oldest frame sent whose
//   reply window (500 ms) is still open. A reply that begins after every window has closed
//   is late: thrown away and counted, never given to anyone.
// - While a frame awaits its reply, no other frame is sent, but for copies of it from the
//   same client (a held button), which follow each other as fast as the line's clock
//   allows: each once the frames before it have had their time on the wire. Their replies
//   are alike, so none can be taken for another's.
// - Waiting frames go in the order they came, as soon as the line is theirs: a query that
//   comes during a hold goes before the copies that come after it. A frame that
//   waits longer than maxWait is dropped unsent; its client sees no reply, as on a silent
//   line. A copy of a frame that its client has waiting already is dropped: no backlog of a
//   repeat builds up here, whatever the client's pace.
// - After a frame goes unanswered, no frame is sent, by anyone, until the late window has
//   passed since it was sent and the line has been quiet 100 ms: a late reply cannot land
//   in the next exchange, not even the same client's.
// - Nothing is timed while nothing is waiting: nextWake() is empty when the line is idle.
class Arbiter {
public:
    Arbiter(ArbiterPort& port, ArbiterSettings settings) : m_port(port), m_settings(settings) {}

    void submit(Time now, ClientId client, std::string frame);
    void received(Time now, std::string_view bytes);
    void wake(Time now);
    std::optional<Time> nextWake() const;
    // The client has gone: its waiting frames are dropped, and the replies to those it sent
    // are still taken off the line, for no one.
    void leave(Time now, ClientId client);
    // A frame of the client's that still waits for the line goes no further, and ends untold.
    // False when it is not waiting (it is on the line, or has ended).
    bool withdraw(ClientId client, std::string_view frame);
    // The line went away: every frame ends as lost.
    void lineLost();

    const ArbiterCounts& counts() const { return m_counts; }
    const ArbiterSettings& settings() const { return m_settings; }
    // The client whose exchange the line carries now, if any.
    std::optional<ClientId> owner() const { return m_owner; }
    // Whether a client other than `me` is holding a button: copies of one frame, the latest
    // less than 600 ms ago (the longest repeat is 500 ms).
    bool heldByAnother(ClientId me, Time now) const;

private:
    struct Waiting {
        ClientId client;
        std::string frame;
        Time since;
    };
    struct Sent {
        ClientId client;
        std::string frame;
        Time at;
        bool replying = false; // its reply has begun
        bool gone = false;     // its client has left
        std::string reply;     // as far as it has come (the first kReplyKept bytes)
    };

    struct Ending {
        ClientId client;
        std::string frame;
        Outcome outcome;
        std::string reply;
    };
    void tell(ClientId client, std::string_view frame, Outcome outcome, std::string_view reply);
    void flush();
    void pump(Time now);
    void expire(Time now);
    void end(const Sent& sent, Outcome outcome);
    bool quiet(Time now) const;
    std::deque<Waiting>::const_iterator next() const;

    ArbiterPort& m_port;
    ArbiterSettings m_settings;
    ArbiterCounts m_counts;
    std::deque<Waiting> m_waiting; // in the order they came
    std::deque<Sent> m_sent;       // awaiting their replies, oldest first
    std::optional<ClientId> m_owner;
    Time m_wireFree{0};            // when the frames written have had their time on the wire
    Time m_quietFrom{0};           // no frame before this: a late reply may still come
    Time m_lastLateByte{-1000000}; // the last byte that answered no frame
    Time m_lastWake{0};            // the latest time the arbiter was told
    ClientId m_lastClient = 0;     // the latest frame sent, whose, and how many copies in a row
    std::string m_lastFrame;
    int m_copies = 0;
    Time m_lastSentAt{0};
    std::deque<Ending> m_endings; // told once the arbiter is between its steps
    bool m_flushing = false;
};

} // namespace vk9::gate
