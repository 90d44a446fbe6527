#pragma once

#include "vk9gate/core/Arbiter.h"
#include "vk9gate/core/Projectors.h"

#include <array>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vk9::gate::pjlink {

// PJLink Class 1, as a projector on the gate answers it: the request lines a client sends,
// the answer to each, and the projector's frames that make it. A codec and a table; the
// sockets are the shell's.

inline constexpr std::size_t kLongestLine = 136; // a request, its carriage return excluded
inline constexpr std::size_t kLongestName = 64;  // NAME's answer
inline constexpr std::size_t kLongestInfo = 32;  // INF1's, INF2's and INFO's

// "%1POWR 1": the class, the four-character body, the parameter.
struct Request {
    char cls = '1';
    std::string body;
    std::string param;
};

// A request line, or the answer to one that asks nothing this projector can do. A line
// that is no PJLink request at all gives nothing: the connection is closed.
struct Parsed {
    std::optional<Request> request;
    std::string answer;
    bool garbage = false;
};
Parsed parse(std::string_view line);

// The digest that opens a line when a password is set: 32 lower-case hex digits of
// MD5(random + password). The shell computes the expected one; the comparison takes the
// same time however many digits match.
bool sameDigest(std::string_view given, std::string_view expected);

// One PJLink connection: its greeting, the password's digest on its first line, its
// request lines. A line longer than 136 bytes, a byte that is not printable ASCII, or a
// line that is no request closes it; so does a wrong digest, after "PJLINK ERRA".
class Session {
public:
    // `random` is empty when no password is set; `digest` is MD5(random + password) in hex.
    Session(Time now, std::string random, std::string digest);
    std::string greeting() const;

    struct Fed {
        std::vector<Parsed> lines; // each request, or the answer it gets at once
        std::string answerNow;     // "PJLINK ERRA"
        std::string close;         // why the connection closes; empty: it stays
        bool wrongPassword = false;
        bool rightPassword = false; // given in these bytes
    };
    Fed feed(Time now, std::string_view bytes);
    // 30 s after the last request (an empty line is none), the connection is closed.
    Time idleUntil() const { return m_lastRequest + kIdle; }

    static constexpr std::chrono::seconds kIdle{30};

private:
    std::string m_random;
    std::string m_digest;
    bool m_authenticated;
    std::string m_partial;
    Time m_lastRequest;
};

// What a projector answers that its line cannot tell.
struct Settings {
    std::string prefix;                // "A001", or "" for one without an address
    std::array<std::string, 4> inputs; // the PJLink inputs of MODE SET 1 to 4
    std::string name;
    std::string manufacturer; // INF1
    std::string product;      // INF2
    std::string info;         // INFO; empty: the temperatures, from CR6
};

// What a request has learnt so far: the replies to the codes it sent (none: no reply), the
// projector's mutes, the settings.
using Replies = std::map<std::string, std::optional<std::string>, std::less<>>;
struct Facts {
    const Settings& settings;
    const ProjectorState* state; // the gate's, for the mutes; none before any frame
    const Replies& replies;
    // The reply to `code`, if it was asked and came.
    const std::string* got(std::string_view code) const;
    bool asked(std::string_view code) const { return replies.count(code) != 0; }
};

// The next step of a request: a code to send, or the answer.
struct Step {
    std::string send;   // "CR0", "C00"
    std::string answer; // "%1POWR=1"
};
Step next(const Request& request, const Facts& facts);

// One projector's PJLink service on the arbiter: requests from any connection, one at a
// time, each turned into frames and its answer. A status reading of the gate's (from any
// client's frames) younger than 1 s is used; while another client holds a button, one of
// the last 30 s. No answer takes longer than 3.5 s from its request: a frame that has not
// gone on the line a reply window (500 ms) before then is withdrawn, never sent, and the
// request goes on from a reading of the last 30 s, else it is answered ERR3. A projector
// that does not answer is the arbiter's to tell: its frames end at once, and ERR4 follows.
class ProjectorLink final : public Client {
public:
    using ConnectionId = std::uint32_t;
    using Answer = std::function<void(ConnectionId, const std::string& line)>;

    ProjectorLink(Arbiter& arbiter, const ProjectorStates& states, Settings settings,
                  std::string name, Answer answer)
        : m_arbiter(arbiter), m_states(states), m_settings(std::move(settings)),
          m_name(std::move(name)), m_answer(std::move(answer)) {}
    ~ProjectorLink() override;
    ProjectorLink(const ProjectorLink&) = delete;
    ProjectorLink& operator=(const ProjectorLink&) = delete;

    // A connection's line: a request, or one answered at once, in its turn.
    void request(Time now, ConnectionId connection, Parsed line);
    void wake(Time now);
    std::optional<Time> nextWake() const;
    void forget(Time now, ConnectionId connection);     // the connection has closed
    std::size_t waiting(ConnectionId connection) const; // its requests not yet answered
    void lineLost();

    std::string name() const override { return m_name; }
    void sent(Ticket ticket, Time at) override;
    void delivered(Ticket ticket, std::string_view reply) override;
    void finished(Ticket ticket, const Ending& ending) override;

private:
    struct Job {
        std::optional<ConnectionId> connection; // none once it has closed
        Request request;
        std::string ready; // the answer, when it needs no projector
        Replies replies;
        Time deadline{0};
        std::optional<Ticket> ticket; // the frame whose end is awaited
        std::string asking;           // its code
        std::optional<std::string> reply;
        bool onLine = false; // too late to withdraw it: it ends within the reply window
    };

    void run(Time now);
    void tell(const Job& job, const std::string& line);
    std::optional<std::string> known(const std::string& code, Time now, bool recent) const;
    std::deque<Job>::iterator jobOf(Ticket ticket);

    Arbiter& m_arbiter;
    const ProjectorStates& m_states;
    Settings m_settings;
    std::string m_name;
    Answer m_answer;
    std::deque<Job> m_jobs;
    Time m_now{0};
};

} // namespace vk9::gate::pjlink
