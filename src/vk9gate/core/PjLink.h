#pragma once

#include "vk9gate/core/Arbiter.h"

#include <array>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace vk9::gate::pjlink {

// PJLink Class 1, as a projector on the gate answers it: the request lines a client sends,
// the answer to each, and the projector's frames that make it. A codec and a table; the
// sockets are the shell's.

inline constexpr std::size_t kLongestLine = 136; // a request, its carriage return excluded

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
// line that is no request closes it; so does a wrong digest, after "PJLINK ERRA"; and 30 s
// without a request.
class Session {
public:
    // `random` is empty when no password is set; `digest` is MD5(random + password) in hex.
    Session(Time now, std::string random, std::string digest);
    std::string greeting() const;

    struct Fed {
        std::vector<Parsed> lines; // each request, or the answer it gets at once
        std::string answerNow;     // "PJLINK ERRA"
        std::string close;         // why the connection closes; empty: it stays
    };
    Fed feed(Time now, std::string_view bytes);
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
inline constexpr std::array<const char*, 4> kDefaultInputs{"11", "12", "31", "32"};

// The mutes the projector acknowledged through the gate: it cannot be asked for them.
struct Mutes {
    bool video = false;
    bool audio = false;
};

// The next step of a request, given the replies to the steps before it (none: no reply):
// a code to send, or the answer.
struct Step {
    std::string send;   // "CR0", "C00"
    std::string answer; // "%1POWR=1"
};
Step next(const Request& request, const Settings& settings, const Mutes& mutes,
          const std::vector<std::optional<std::string>>& replies);

// One projector's PJLink service on the arbiter: requests from any connection, one at a
// time, each turned into frames and its answer. A status read less than 1 s ago is used
// again; while another client has the line (an operator's hold), one read in the last 30 s
// is used rather than waiting. No answer takes longer than 3.5 s from its request: a frame
// that has not gone on the line a reply window (500 ms) before then is withdrawn, never
// sent, and the request answered from a read of the last 30 s, else ERR3. A
// projector that did not answer is taken to be absent for 30 s: its requests are answered
// ERR4 without a frame, so that it does not hold the line (each unanswered frame keeps it
// quiet for the late window) for every other client.
class ProjectorLink {
public:
    using ConnectionId = std::uint32_t;
    using Answer = std::function<void(ConnectionId, const std::string& line)>;

    ProjectorLink(Arbiter& arbiter, ClientId me, Settings settings, Answer answer)
        : m_arbiter(arbiter), m_me(me), m_settings(std::move(settings)),
          m_answer(std::move(answer)) {}

    // A connection's line: a request, or one answered at once, in its turn.
    void request(Time now, ConnectionId connection, Parsed line);
    // The arbiter's end of one of this link's frames.
    void finished(Time now, std::string_view frame, Outcome outcome, std::string_view reply);
    void wake(Time now);
    std::optional<Time> nextWake() const;
    void forget(ConnectionId connection);               // the connection has closed
    std::size_t waiting(ConnectionId connection) const; // its requests not yet answered
    void lineLost();

    ClientId client() const { return m_me; }
    const Settings& settings() const { return m_settings; }

private:
    struct Job {
        ConnectionId connection;
        Request request;
        std::string ready; // the answer, when it needs no projector
        std::vector<std::optional<std::string>> replies;
        Time deadline{0};
        std::string waitingFor; // the code sent, whose end is awaited
        bool onLine = false;    // too late to withdraw it: it ends within the reply window
    };
    struct Read {
        std::string reply;
        Time at;
    };

    void run(Time now);
    std::optional<std::string> cached(const std::string& code, Time now) const;
    std::optional<std::string> recent(const std::string& code, Time now) const; // last 30 s
    std::string answerLate(const Job& job) const; // ERR3, or what needs no projector

    Arbiter& m_arbiter;
    ClientId m_me;
    Settings m_settings;
    Answer m_answer;
    Mutes m_mutes;
    std::deque<Job> m_jobs;
    std::map<std::string, Read> m_reads; // status queries, by code
    int m_orphans = 0;                   // frames in the arbiter whose job has answered already
    Time m_absentUntil{-1};              // a projector that did not answer: until then
};

} // namespace vk9::gate::pjlink
