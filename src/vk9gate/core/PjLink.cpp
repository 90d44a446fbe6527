#include "vk9gate/core/PjLink.h"

#include "protocol/Replies.h"

#include <algorithm>
#include <cstdio>

namespace vk9::gate::pjlink {

namespace {

using namespace std::chrono_literals;
using protocol::Power;

constexpr auto kFresh = 1s;            // a status read this recently is asked no again
constexpr auto kStaleDuringHold = 30s; // nor one this recent while another client has the line
constexpr auto kLongest = 3500ms;      // the answer comes within this, whatever the line does
constexpr auto kAbsent = 30s;          // a projector that did not answer, before it is asked again

constexpr std::size_t kLongestName = 64;
constexpr std::size_t kLongestInfo = 32;

bool printable(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return c >= 32 && c <= 126; });
}

std::string answer(const Request& r, std::string_view value) {
    return std::string("%") + r.cls + r.body + "=" + std::string(value);
}

// Reply i of the steps, if it came.
const std::optional<std::string>& reply(const std::vector<std::optional<std::string>>& replies,
                                        std::size_t i) {
    static const std::optional<std::string> kNone;
    return i < replies.size() ? replies[i] : kNone;
}

bool acknowledged(const std::optional<std::string>& r) {
    return r && *r == protocol::kAcknowledged;
}

// CR0's power state, or the answer that ends the request when it cannot go on: ERR4 for a
// projector that did not answer or reports a power abnormality, ERR3 when `on` is wanted
// and the projector is not on, or is warming up or cooling down for a power command.
struct PowerCheck {
    std::optional<protocol::PowerReading> power;
    const char* stop; // the error, or nullptr
};
PowerCheck checkPower(const std::optional<std::string>& cr0, bool mustBeOn, bool mustBeSettled) {
    const auto power = cr0 ? protocol::readPower(*cr0) : std::nullopt;
    if (!power || power->state == Power::Fault) {
        return {power, "ERR4"};
    }
    const bool turning = power->state == Power::CountDown || power->state == Power::Cooling;
    if ((mustBeOn && power->state != Power::On) || (mustBeSettled && turning)) {
        return {power, "ERR3"};
    }
    return {power, nullptr};
}

std::string temperatures(const std::optional<std::string>& cr6) {
    const protocol::Reading reading = cr6 ? protocol::readReply("CR6", *cr6) : protocol::Reading{};
    const auto* s1 = protocol::valueOf(reading, "s1");
    const auto* s2 = protocol::valueOf(reading, "s2");
    if (!reading.ok || s1 == nullptr || s2 == nullptr) {
        return {};
    }
    char text[kLongestInfo + 1];
    std::snprintf(text, sizeof text, "S1 %.1f C, S2 %.1f C", std::get<double>(*s1),
                  std::get<double>(*s2));
    return text;
}

// Operations answered OK once every code has been acknowledged.
Step commands(const Request& r, const std::vector<std::string>& codes,
              const std::vector<std::optional<std::string>>& replies, std::size_t first) {
    for (std::size_t i = 0; i < codes.size(); ++i) {
        if (replies.size() == first + i) {
            return {codes[i], {}};
        }
        if (!acknowledged(reply(replies, first + i))) {
            return {{}, answer(r, "ERR4")};
        }
    }
    return {{}, answer(r, "OK")};
}

} // namespace

Parsed parse(std::string_view line) {
    if (line.size() < 6 || line[0] != '%' || line[1] < '1' || line[1] > '9' || !printable(line)) {
        return {std::nullopt, {}, true};
    }
    Request r;
    r.cls = line[1];
    r.body = std::string(line.substr(2, 4));
    if (r.cls != '1' || !std::all_of(r.body.begin(), r.body.end(), [](char c) {
            return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        })) {
        return {std::nullopt, answer(r, "ERR1"), false}; // a class or a command it has not
    }
    if (line.size() < 8 || line[6] != ' ') {
        return {std::nullopt, answer(r, "ERR2"), false};
    }
    r.param = std::string(line.substr(7));
    return {r, {}, false};
}

Session::Session(Time now, std::string random, std::string digest)
    : m_random(std::move(random)), m_digest(std::move(digest)), m_authenticated(m_random.empty()),
      m_lastRequest(now) {}

std::string Session::greeting() const {
    return m_random.empty() ? "PJLINK 0\r" : "PJLINK 1 " + m_random + "\r";
}

Session::Fed Session::feed(Time now, std::string_view bytes) {
    Fed fed;
    for (const char b : bytes) {
        if (b == '\n' && m_partial.empty()) {
            continue; // some clients end a line with CR LF
        }
        if (b != '\r') {
            if (b < 32 || b > 126) {
                fed.close = "a byte that is not printable ASCII";
                return fed;
            }
            if (m_partial.size() == (m_authenticated ? 0 : 32) + kLongestLine) {
                fed.close = "a line longer than 136 bytes";
                return fed;
            }
            m_partial += b;
            continue;
        }
        std::string line = std::exchange(m_partial, {});
        m_lastRequest = now;
        if (!m_authenticated) {
            if (!sameDigest(std::string_view(line).substr(0, 32), m_digest)) {
                fed.answerNow = "PJLINK ERRA";
                fed.close = "wrong password";
                return fed;
            }
            m_authenticated = true;
            line.erase(0, 32);
        }
        if (line.empty()) {
            continue; // a digest alone, or an empty line: nothing asked
        }
        Parsed parsed = parse(line);
        if (parsed.garbage) {
            fed.close = "not a PJLink request";
            return fed;
        }
        fed.lines.push_back(std::move(parsed));
    }
    return fed;
}

bool sameDigest(std::string_view given, std::string_view expected) {
    unsigned differ = given.size() ^ expected.size();
    for (std::size_t i = 0; i < expected.size(); ++i) {
        differ |= static_cast<unsigned char>(i < given.size() ? given[i] : 0) ^
                  static_cast<unsigned char>(expected[i]);
    }
    return differ == 0;
}

Step next(const Request& r, const Settings& s, const Mutes& mutes,
          const std::vector<std::optional<std::string>>& replies) {
    const bool query = r.param == "?";
    const auto now = [&](std::string_view value) { return Step{{}, answer(r, value)}; };
    const auto ask = [&](std::size_t i, const char* code) -> std::optional<Step> {
        if (replies.size() == i) {
            return Step{code, {}};
        }
        return std::nullopt;
    };
    if (r.body == "POWR") {
        if (!query && r.param != "0" && r.param != "1") {
            return now("ERR2");
        }
        if (auto step = ask(0, "CR0")) {
            return *step;
        }
        const PowerCheck check = checkPower(reply(replies, 0), false, !query);
        if (check.stop != nullptr) {
            return now(check.stop);
        }
        if (query) {
            static constexpr const char* kPower[] = {"1", "0", "3", "2"}; // On, StandBy, ...
            return now(kPower[static_cast<int>(check.power->state)]);
        }
        return commands(r, {r.param == "1" ? "C00" : "C02"}, replies, 1);
    }
    if (r.body == "INPT") {
        const auto input = std::find(s.inputs.begin(), s.inputs.end(), r.param);
        if (!query && input == s.inputs.end()) {
            return now("ERR2");
        }
        if (auto step = ask(0, "CR0")) {
            return *step;
        }
        if (const PowerCheck check = checkPower(reply(replies, 0), true, true); check.stop) {
            return now(check.stop);
        }
        if (!query) {
            static constexpr const char* kModeSet[] = {"C05", "C06", "C07", "C08"};
            return commands(r, {kModeSet[input - s.inputs.begin()]}, replies, 1);
        }
        if (auto step = ask(1, "CR1")) {
            return *step;
        }
        const protocol::Reading cr1 = reply(replies, 1)
                                          ? protocol::readReply("CR1", *reply(replies, 1))
                                          : protocol::Reading{};
        const auto* mode = protocol::valueOf(cr1, "input");
        return mode == nullptr ? now("ERR4")
                               : now(s.inputs.at(std::size_t(std::get<long long>(*mode) - 1)));
    }
    if (r.body == "AVMT") {
        if (query) {
            return now(mutes.video && mutes.audio ? "31"
                       : mutes.video              ? "11"
                       : mutes.audio              ? "21"
                                                  : "30");
        }
        static const std::vector<std::string> kSettings{"10", "11", "20", "21", "30", "31"};
        if (std::find(kSettings.begin(), kSettings.end(), r.param) == kSettings.end()) {
            return now("ERR2");
        }
        if (auto step = ask(0, "CR0")) {
            return *step;
        }
        if (const PowerCheck check = checkPower(reply(replies, 0), true, true); check.stop) {
            return now(check.stop);
        }
        const bool on = r.param[1] == '1';
        std::vector<std::string> codes;
        if (r.param[0] != '2') { // NO SHOW on or off
            codes.push_back(on ? "C0D" : "C0E");
        }
        if (r.param[0] != '1') { // SOUND MUTE on or off
            codes.push_back(on ? "C0B" : "C0C");
        }
        return commands(r, codes, replies, 1);
    }
    if (!query) { // the rest only answer
        static const std::vector<std::string> kQueries{"ERST", "LAMP", "INST", "NAME",
                                                       "INF1", "INF2", "INFO", "CLSS"};
        return now(std::find(kQueries.begin(), kQueries.end(), r.body) == kQueries.end() ? "ERR1"
                                                                                         : "ERR2");
    }
    if (r.body == "ERST") { // fan, lamp, temperature, cover, filter, other
        if (auto step = ask(0, "CR0")) {
            return *step;
        }
        const auto power =
            reply(replies, 0) ? protocol::readPower(*reply(replies, 0)) : std::nullopt;
        if (!power) {
            return now("ERR4");
        }
        return now(std::string("00") + (power->tooHot ? '2' : '0') + "00" +
                   (power->state == Power::Fault ? '2' : '0'));
    }
    if (r.body == "LAMP") {
        if (auto step = ask(0, "CR3")) {
            return *step;
        }
        if (auto step = ask(1, "CR7")) {
            return *step;
        }
        const protocol::Reading hours = reply(replies, 0)
                                            ? protocol::readReply("CR3", *reply(replies, 0))
                                            : protocol::Reading{};
        const protocol::Reading lamps = reply(replies, 1)
                                            ? protocol::readReply("CR7", *reply(replies, 1))
                                            : protocol::Reading{};
        if (!hours.ok || !lamps.ok) {
            return now("ERR4");
        }
        // One figure of hours for the projector: each lamp's pair carries it.
        const long long h =
            std::min(std::get<long long>(*protocol::valueOf(hours, "lamp_hours")), 99999LL);
        const auto& lit = std::get<std::vector<int>>(*protocol::valueOf(lamps, "lamps_lit"));
        std::string value;
        for (int lamp = 1; lamp <= 4; ++lamp) {
            const bool on = std::find(lit.begin(), lit.end(), lamp) != lit.end();
            value += (value.empty() ? "" : " ") + std::to_string(h) + (on ? " 1" : " 0");
        }
        return now(value);
    }
    if (r.body == "INST") {
        return now(s.inputs[0] + " " + s.inputs[1] + " " + s.inputs[2] + " " + s.inputs[3]);
    }
    if (r.body == "NAME") {
        return now(s.name.substr(0, kLongestName));
    }
    if (r.body == "INF1" || r.body == "INF2") {
        return now((r.body == "INF1" ? s.manufacturer : s.product).substr(0, kLongestInfo));
    }
    if (r.body == "INFO") {
        if (!s.info.empty()) {
            return now(s.info.substr(0, kLongestInfo));
        }
        if (auto step = ask(0, "CR6")) {
            return *step;
        }
        const std::string read = temperatures(reply(replies, 0));
        return now(read.empty() ? "ERR4" : read);
    }
    if (r.body == "CLSS") {
        return now("1");
    }
    return now("ERR1");
}

void ProjectorLink::request(Time now, ConnectionId connection, Parsed line) {
    m_jobs.push_back(
        {connection, line.request.value_or(Request{}), line.answer, {}, now + kLongest, {}, false});
    run(now);
}

std::size_t ProjectorLink::waiting(ConnectionId connection) const {
    return std::size_t(std::count_if(m_jobs.begin(), m_jobs.end(),
                                     [&](const Job& j) { return j.connection == connection; }));
}

std::optional<std::string> ProjectorLink::cached(const std::string& code, Time now) const {
    const auto read = m_reads.find(code);
    if (read == m_reads.end()) {
        return std::nullopt;
    }
    const auto age = now - read->second.at;
    if (age < kFresh || (age < kStaleDuringHold && m_arbiter.heldByAnother(m_me, now))) {
        return read->second.reply;
    }
    return std::nullopt;
}

std::optional<std::string> ProjectorLink::recent(const std::string& code, Time now) const {
    const auto read = m_reads.find(code);
    if (read == m_reads.end() || now - read->second.at >= kStaleDuringHold) {
        return std::nullopt;
    }
    return read->second.reply;
}

std::string ProjectorLink::answerLate(const Job& job) const {
    return job.ready.empty() ? answer(job.request, "ERR3") : job.ready;
}

void ProjectorLink::run(Time now) {
    while (!m_jobs.empty()) {
        Job& job = m_jobs.front();
        if (!job.waitingFor.empty()) {
            return;
        }
        const Step step = job.ready.empty() ? next(job.request, m_settings, m_mutes, job.replies)
                                            : Step{{}, job.ready};
        if (step.send.empty()) {
            const Job done = std::move(job);
            m_jobs.pop_front();
            m_answer(done.connection, step.answer);
            continue;
        }
        if (const auto reply =
                protocol::isQuery(step.send) ? cached(step.send, now) : std::nullopt) {
            job.replies.push_back(*reply);
            continue;
        }
        if (now < m_absentUntil) { // no frame for a projector that did not answer
            const Job done = std::move(job);
            m_jobs.pop_front();
            m_answer(done.connection, answer(done.request, "ERR4"));
            continue;
        }
        if (now + m_arbiter.settings().replyWindow >= job.deadline) { // no time for a frame
            const Job done = std::move(job);
            m_jobs.pop_front();
            m_answer(done.connection, answerLate(done));
            continue;
        }
        if (!protocol::isQuery(step.send)) {
            m_reads.clear(); // an operation changes what the projector would answer
        }
        job.waitingFor = step.send;
        m_arbiter.submit(now, m_me, m_settings.prefix + step.send + '\r');
        return; // the arbiter's end of the frame comes back through finished()
    }
}

void ProjectorLink::finished(Time now, std::string_view frame, Outcome outcome,
                             std::string_view reply) {
    const std::string code(frame.substr(m_settings.prefix.size(), 3));
    const bool answered = outcome == Outcome::Answered;
    if (answered && protocol::isQuery(code)) {
        m_reads[code] = {std::string(reply), now};
    }
    if (answered && reply == protocol::kAcknowledged) { // NO SHOW and SOUND MUTE, as they are
        if (code == "C0D" || code == "C0E") {
            m_mutes.video = code == "C0D";
        } else if (code == "C0B" || code == "C0C") {
            m_mutes.audio = code == "C0B";
        }
    }
    if (outcome == Outcome::Unanswered) {
        m_absentUntil = now + kAbsent;
    } else if (answered) {
        m_absentUntil = Time{-1};
    }
    if (m_orphans > 0) {
        --m_orphans; // its request has answered already
        return;
    }
    if (m_jobs.empty() || m_jobs.front().waitingFor != code) {
        return;
    }
    Job& job = m_jobs.front();
    job.waitingFor.clear();
    job.onLine = false;
    job.replies.push_back(answered ? std::optional<std::string>(reply) : std::nullopt);
    run(now);
}

// A frame still waiting for the line a reply window before its request's 3.5 s are up is
// withdrawn: the request goes on from a value read in the last 30 s, else it is answered
// ERR3 (the line was not to be had), and nothing of it reaches the projector. Every request
// whose 3.5 s are up is answered now; a frame of it on the line ends there for no one.
void ProjectorLink::wake(Time now) {
    const auto window = m_arbiter.settings().replyWindow;
    for (auto job = m_jobs.begin(); job != m_jobs.end();) {
        if (!job->waitingFor.empty() && !job->onLine && now >= job->deadline - window) {
            if (!m_arbiter.withdraw(m_me, m_settings.prefix + job->waitingFor + '\r')) {
                job->onLine = true;
            } else if (const auto read = recent(job->waitingFor, now)) {
                job->replies.push_back(*read);
                job->waitingFor.clear();
            } else {
                job->deadline = now; // answered below
                job->waitingFor.clear();
            }
        }
        if (now < job->deadline) {
            ++job;
            continue;
        }
        m_orphans += job->waitingFor.empty() ? 0 : 1;
        const Job done = std::move(*job);
        job = m_jobs.erase(job);
        m_answer(done.connection, answerLate(done));
    }
    run(now);
}

std::optional<Time> ProjectorLink::nextWake() const {
    std::optional<Time> first;
    for (const Job& job : m_jobs) {
        const Time at = !job.waitingFor.empty() && !job.onLine
                            ? job.deadline - m_arbiter.settings().replyWindow
                            : job.deadline;
        first = first ? std::min(*first, at) : at;
    }
    return first;
}

void ProjectorLink::forget(ConnectionId connection) {
    std::erase_if(m_jobs, [&](const Job& j) {
        const bool gone = j.connection == connection && j.waitingFor.empty();
        return gone;
    });
    for (Job& job : m_jobs) { // the one in the arbiter ends there, for no one
        if (job.connection == connection) {
            job.connection = 0;
        }
    }
}

void ProjectorLink::lineLost() {
    m_jobs.clear();
    m_orphans = 0;
}

} // namespace vk9::gate::pjlink
