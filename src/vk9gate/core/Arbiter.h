#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vk9::gate {

// Time since the gate started; the arbiter never reads a clock, it is told the time.
using Time = std::chrono::microseconds;
// Every frame submitted is one; a client finds its frame again by it, never by its text.
using Ticket = std::uint64_t;

// How a frame ended, for the client that sent it.
enum class Outcome : std::uint8_t {
    Answered,   // its reply came, whole and of its shape, within the reply window
    Unanswered, // the reply window closed first
    Absent,     // its projector does not answer: never sent (see nextTry)
    TooLong,    // it waited longer than the limit for the line, and was never sent
    Repeated,   // a copy of a frame of its client's that was still waiting: never sent
    QueueFull,  // its client had too many frames waiting: never sent
    LineLost,   // the line went away first
};

struct Ending {
    Outcome outcome;
    Time at;                     // when it ended (its reply whole, its window closed, ...)
    std::optional<Time> sentAt;  // when it went on the line, if it did
    std::optional<Time> nextTry; // Absent: when its projector is tried again
};

// A client of the line: a share-port session, a projector's PJLink or MQTT service. Every
// ticket ends exactly once (unless withdrawn, or its client left); everything a client is
// told comes from the arbiter's wake or the line's bytes, never from inside the client's own
// call, so a client may submit its next frame from any of these.
class Client {
public:
    virtual ~Client() = default;
    virtual std::string name() const = 0; // for the log: "client 3 (127.0.0.1:51234)"
    virtual void sent(Ticket, Time) {}    // the frame went on the line: its window opens
    // Its reply, whole, and of its frame's shape; `finished` follows.
    virtual void delivered(Ticket ticket, std::string_view reply) = 0;
    virtual void finished(Ticket ticket, const Ending& ending) = 0;
};

// The projectors' line, as the arbiter uses it.
class Line {
public:
    virtual ~Line() = default;
    virtual bool write(std::string_view frame, const Client& by) = 0;
    virtual int speed() const = 0;           // bit/s
    virtual std::size_t pending() const = 0; // bytes written, not yet on the wire
    virtual bool suspended() const = 0;      // the far end holds our data
};

// What the line carried, for what keeps track of it: the projectors' states, the log.
class Watcher {
public:
    virtual ~Watcher() = default;
    virtual void answered(Time now, std::string_view frame, std::string_view reply) = 0;
    virtual void thrownAway(Time now, std::string_view reply) = 0; // late, or of no frame's shape
    // A projector (its address prefix) stopped answering, or answers again.
    virtual void presence(Time now, std::string_view prefix, bool answers) = 0;
    // A client's frame ended: told just before the client is.
    virtual void ended(const Client& client, std::string_view frame, const Ending& ending) = 0;
};

struct ArbiterSettings {
    std::chrono::milliseconds replyWindow{500};
    std::chrono::milliseconds lateWindow{2000}; // after an unanswered frame, from its sending
    std::chrono::milliseconds maxWait{3000};    // a frame waits no longer for the line
    std::chrono::milliseconds probe{10000};     // an absent projector is tried this often
    std::size_t maxQueued = 8;                  // frames a client may have waiting
};

struct ArbiterCounts {
    std::uint64_t sent = 0;
    std::uint64_t answered = 0;
    std::uint64_t unanswered = 0;
    std::uint64_t thrownAway = 0; // whole replies that came late, or fitted no frame
    std::uint64_t absent = 0;
    std::uint64_t tooLong = 0;
    std::uint64_t repeated = 0;
    std::uint64_t queueFull = 0;
};

// One line, many clients, and the rules that keep every reply with the frame it answers and
// every client served.
//
// - A reply is kept until it is whole (its carriage return), and goes to the client of the
//   oldest frame on the line whose reply window (500 ms) is open, only if it has that frame's
//   shape. A reply of another shape (an echo, noise, a reply later than the late window) is
//   thrown away and counted, and the frame keeps waiting for its own. Bytes of a reply that
//   is never finished are never given to anyone.
// - While a frame awaits its reply, no other frame is sent, but for copies of it from the
//   same client (a held button), which follow each other as fast as the line's clock allows:
//   each once the frames before it have had their time on the wire.
// - Clients take turns: among those with frames waiting, one frame each in turn, a client's
//   own in their order. A query during a hold waits for one copy at most. A frame that waits
//   longer than maxWait is dropped unsent; a copy of a frame that its client has waiting
//   already is dropped, so no backlog of a repeat builds up here.
// - After a frame goes unanswered, no frame is sent, by anyone, until the late window has
//   passed since it was sent and the line has been quiet 100 ms: a late reply cannot land in
//   the next exchange. Then every frame that waited through the silence to a projector that
//   answers goes first, whoever's turn it is, before any to a projector that has not answered
//   lately: a frame that will be answered waits out one silence at most.
// - A projector whose frames go unanswered twice in a row (with no bytes at all for them but
//   their own echo: a garbled reply is a projector that answers) is absent: its frames end at once,
//   unsent, for every client, but for one probe every `probe`, which pays the late window.
//   A reply from it makes it present again. Frames to every projector ("AFFF") are always
//   sent: they act on the projectors that answer even when the one that speaks for all does
//   not.
// - Nothing is timed while nothing is waiting: nextWake() is empty when the line is idle.
class Arbiter {
public:
    Arbiter(Line& line, Watcher& watcher, ArbiterSettings settings)
        : m_line(line), m_watcher(watcher), m_settings(settings) {}

    Ticket submit(Time now, Client& client, std::string frame);
    // A ticket still waiting for the line goes no further, and ends untold. False when it
    // is not waiting (it is on the line, or has ended).
    bool withdraw(Ticket ticket);
    // The client has gone: its waiting frames are dropped, the replies to those it sent are
    // still taken off the line, for no one, and it is told nothing more.
    void leave(Time now, const Client& client);
    void received(Time now, std::string_view bytes);
    void wake(Time now);
    std::optional<Time> nextWake();
    // The line went away: every frame ends as lost, and every projector is present again.
    // The late window of a frame unanswered before is still waited out.
    void lineLost(Time now);

    const ArbiterCounts& counts() const { return m_counts; }
    const ArbiterSettings& settings() const { return m_settings; }
    // Whether a client other than `me` is holding a button: copies of one frame submitted no
    // further apart than the longest repeat (500 ms) and a margin, the latest as recent,
    // whether or not the line has taken them all.
    bool heldByAnother(const Client& me, Time now) const;

private:
    struct Waiting {
        Ticket ticket;
        Client* client;
        std::string frame;
        Time since;
    };
    struct OnLine {
        Ticket ticket;
        Client* client; // none once it has left
        std::string frame;
        Time at;
        bool replying = false; // its reply has begun
        bool heard = false;    // bytes of no frame's shape came for it: something answers
    };
    struct Turn { // a client with frames waiting
        Client* client;
        std::deque<Waiting> waiting;
    };
    struct Copies { // the frames a client submitted last, to tell a held button
        std::string frame;
        Time at{0};
        int inARow = 0;
    };
    struct Address {           // a projector, by its prefix
        bool answered = false; // it has answered a frame
        int unanswered = 0;
        bool absent = false;
        Time probeAt{0};
    };
    struct Event { // told once the arbiter is between its steps
        Client* client;
        Ticket ticket;
        enum Kind : std::uint8_t { Sent, Delivered, Finished } kind;
        Ending ending;
        std::string bytes; // the frame; delivered, its reply
    };

    void tell(Client* client, Ticket ticket, std::string_view frame, const Ending& ending);
    void flush();
    void pump(Time now);
    void expire(Time now);
    void endAbsent(Time now);
    void take(Time now, const std::string& reply);
    std::optional<std::size_t> nextTurn();
    void send(Time now, std::size_t turn);
    bool quiet(Time now) const;
    bool mayGo(const Turn& turn) const;
    bool suspect(std::string_view frame); // its projector has not answered, or not lately
    bool lineFree(Time now) const;
    Address* addressOf(std::string_view frame);
    void answeredBy(Time now, std::string_view frame);
    void unansweredBy(Time now, std::string_view frame);

    Line& m_line;
    Watcher& m_watcher;
    ArbiterSettings m_settings;
    ArbiterCounts m_counts;
    Ticket m_lastTicket = 0;
    std::deque<Turn> m_turns;             // the front's turn is next
    std::deque<OnLine> m_sent;            // awaiting their replies, oldest first
    std::string m_reply;                  // the bytes of a reply that is not yet whole
    bool m_noise = false;                 // inside bytes too long to be a reply, until their CR
    bool m_reading = false;               // inside received(): nothing is sent until its end
    bool m_afterSilence = false;          // the last frame went unanswered
    std::optional<Time> m_answeringFirst; // frames waiting since then go first, if answered
    std::map<const Client*, Copies> m_copies;
    std::map<std::string, Address, std::less<>> m_addresses;
    Time m_wireFree{0};            // when the frames written have had their time on the wire
    Time m_quietFrom{0};           // no frame before this: a late reply may still come
    Time m_lastLateByte{-1000000}; // the last byte that answered no frame
    OnLine m_lastUnanswered{};     // its reply may still come, late: its projector answers
    Time m_lastWake{0};            // the latest time the arbiter was told
    std::deque<Event> m_events;
    bool m_flushing = false;
};

} // namespace vk9::gate
