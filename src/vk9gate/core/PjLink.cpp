#include "vk9gate/core/PjLink.h"

#include "protocol/Frames.h"
#include "protocol/Replies.h"
#include "traffic/TrafficPath.h"
#include "transport/Printable.h"

#include <algorithm>
#include <cstdio>

namespace vk9::gate::pjlink {

namespace {

using namespace std::chrono_literals;
using protocol::codeNamed;
using protocol::kInputQuery;
using protocol::kLampHoursQuery;
using protocol::kLampModeQuery;
using protocol::kPowerQuery;
using protocol::kTemperatureQuery;
using protocol::Power;
using Codes = std::vector<std::string_view>;

constexpr auto kFresh = 1s;            // a status reading this recent is not asked again
constexpr auto kStaleDuringHold = 30s; // nor one this recent while another client holds a button
constexpr auto kLongest = 3500ms;      // the answer comes within this, whatever the line does

std::string answerLine(const Request& r, std::string_view value) {
    return std::string("%") + r.cls + r.body + "=" + std::string(value);
}

// What the power state allows, once CR0 has been read.
enum class PowerRule : std::uint8_t {
    None,
    Answers, // a projector that does not answer, or reports a power abnormality: ERR4
    On,      // and one that is not on: ERR3
    Settled, // and one warming up or cooling down: ERR3
};

// The power state read, if CR0 was asked and answered.
std::optional<Power> powerOf(const Facts& f) {
    const std::string* cr0 = f.got(kPowerQuery);
    const auto reading = cr0 != nullptr ? protocol::readPower(*cr0) : std::nullopt;
    return reading ? std::optional(reading->state) : std::nullopt;
}

const char* powerStop(const Facts& f, PowerRule rule) {
    const std::optional<Power> state = powerOf(f);
    if (rule == PowerRule::None) {
        return nullptr;
    }
    if (state.value_or(Power::Fault) == Power::Fault) {
        return "ERR4";
    }
    const bool turning = state == Power::CountDown || state == Power::Cooling;
    if ((rule == PowerRule::On && state != Power::On) || (rule == PowerRule::Settled && turning)) {
        return "ERR3";
    }
    return nullptr;
}

// A reading's values, when its query was asked and answered in its shape.
protocol::Reading readingOf(const Facts& f, std::string_view code) {
    const std::string* reply = f.got(code);
    return reply != nullptr ? protocol::readReply(code, *reply) : protocol::Reading{};
}

// Each query's answer from what is known; none while a reading it needs is missing.
using Query = std::optional<std::string> (*)(const Facts&);
// The codes a setting sends, in order; none for a parameter it does not take (ERR2).
using Setting = Codes (*)(const Request&, const Settings&);

std::optional<std::string> power(const Facts& f) {
    const std::optional<Power> state = powerOf(f);
    static constexpr const char* kPower[] = {"1", "0", "3", "2"}; // On, StandBy, ...
    return state ? std::optional<std::string>(kPower[static_cast<int>(*state)]) : std::nullopt;
}

Codes powerCodes(const Request& r, const Settings&) {
    return r.param == "1"   ? Codes{codeNamed("power-on")}
           : r.param == "0" ? Codes{codeNamed("power-off")}
                            : Codes{};
}

std::optional<std::string> input(const Facts& f) {
    const protocol::Reading cr1 = readingOf(f, kInputQuery);
    const auto* mode = protocol::valueOf(cr1, "input");
    return mode != nullptr ? std::optional(f.settings.inputs.at(
                                 static_cast<std::size_t>(std::get<long long>(*mode) - 1)))
                           : std::nullopt;
}

Codes inputCodes(const Request& r, const Settings& s) {
    static constexpr std::array kModeSet{codeNamed("mode-set-1"), codeNamed("mode-set-2"),
                                         codeNamed("mode-set-3"), codeNamed("mode-set-4")};
    const auto at = std::find(s.inputs.begin(), s.inputs.end(), r.param);
    return at == s.inputs.end() ? Codes{} : Codes{kModeSet.at(std::size_t(at - s.inputs.begin()))};
}

// The mutes the projector acknowledged through the gate: it cannot be asked for them.
std::optional<std::string> mutes(const Facts& f) {
    const bool video = f.state != nullptr && f.state->videoMuted;
    const bool audio = f.state != nullptr && f.state->audioMuted;
    return video && audio ? "31" : video ? "11" : audio ? "21" : "30";
}

// "11": video (NO SHOW) on; "20": audio (SOUND MUTE) off; "31": both on.
Codes muteCodes(const Request& r, const Settings&) {
    if (r.param.size() != 2 || r.param[0] < '1' || r.param[0] > '3' ||
        (r.param[1] != '0' && r.param[1] != '1')) {
        return {};
    }
    const bool on = r.param[1] == '1';
    Codes codes;
    if (r.param[0] != '2') {
        codes.push_back(on ? codeNamed("no-show-on") : codeNamed("no-show-off"));
    }
    if (r.param[0] != '1') {
        codes.push_back(on ? codeNamed("sound-mute-on") : codeNamed("sound-mute-off"));
    }
    return codes;
}

// Fan, lamp, temperature, cover, filter, other.
std::optional<std::string> errors(const Facts& f) {
    const std::string* cr0 = f.got(kPowerQuery);
    const auto power = cr0 != nullptr ? protocol::readPower(*cr0) : std::nullopt;
    if (!power) {
        return std::nullopt;
    }
    return std::string("00") + (power->tooHot ? '2' : '0') + "00" +
           (power->state == Power::Fault ? '2' : '0');
}

// One figure of hours for the projector: each lamp's pair carries it, with its lamp lit.
std::optional<std::string> lamps(const Facts& f) {
    const protocol::Reading hours = readingOf(f, kLampHoursQuery);
    const protocol::Reading lit = readingOf(f, kLampModeQuery);
    if (!hours.ok || !lit.ok) {
        return std::nullopt;
    }
    const long long h =
        std::min(std::get<long long>(*protocol::valueOf(hours, "lamp_hours")), 99999LL);
    const auto& on = std::get<std::vector<int>>(*protocol::valueOf(lit, "lamps_lit"));
    std::string value;
    for (int lamp = 1; lamp <= 4; ++lamp) {
        const bool burns = std::find(on.begin(), on.end(), lamp) != on.end();
        value += (value.empty() ? "" : " ") + std::to_string(h) + (burns ? " 1" : " 0");
    }
    return value;
}

std::optional<std::string> inputList(const Facts& f) {
    const auto& i = f.settings.inputs;
    return i[0] + " " + i[1] + " " + i[2] + " " + i[3];
}

std::optional<std::string> name(const Facts& f) {
    return f.settings.name.substr(0, kLongestName);
}

std::optional<std::string> manufacturer(const Facts& f) {
    return f.settings.manufacturer.substr(0, kLongestInfo);
}

std::optional<std::string> product(const Facts& f) {
    return f.settings.product.substr(0, kLongestInfo);
}

// A text of the administrator's, else the temperatures.
std::optional<std::string> info(const Facts& f) {
    if (!f.settings.info.empty()) {
        return f.settings.info.substr(0, kLongestInfo);
    }
    const protocol::Reading reading = readingOf(f, kTemperatureQuery);
    const auto* s1 = protocol::valueOf(reading, "s1");
    const auto* s2 = protocol::valueOf(reading, "s2");
    if (!reading.ok || s1 == nullptr || s2 == nullptr) {
        return std::nullopt;
    }
    char text[kLongestInfo + 1];
    std::snprintf(text, sizeof text, "S1 %.1f C, S2 %.1f C", std::get<double>(*s1),
                  std::get<double>(*s2));
    return text;
}

std::optional<std::string> classOne(const Facts&) {
    return "1";
}

// The commands of Class 1: what a query reads and answers, and what a setting sends. A query
// reads its status queries in order until it can answer (ERR4 when it cannot after all of
// them); a setting reads the power state first, then sends its codes, each acknowledged.
struct CommandRow {
    std::string_view body;
    std::array<std::string_view, 2> reads;
    PowerRule queryRule;
    Query query;
    PowerRule settingRule = PowerRule::None;
    Setting setting = nullptr; // none: it only answers (ERR2)
};

// clang-format off
constexpr std::array kCommands{
    CommandRow{"POWR", {kPowerQuery}, PowerRule::Answers, power, PowerRule::Settled, powerCodes},
    CommandRow{"INPT", {kPowerQuery, kInputQuery}, PowerRule::On, input, PowerRule::On, inputCodes},
    CommandRow{"AVMT", {}, PowerRule::None, mutes, PowerRule::On, muteCodes},
    CommandRow{"ERST", {kPowerQuery}, PowerRule::None, errors},
    CommandRow{"LAMP", {kLampHoursQuery, kLampModeQuery}, PowerRule::None, lamps},
    CommandRow{"INST", {}, PowerRule::None, inputList},
    CommandRow{"NAME", {}, PowerRule::None, name},
    CommandRow{"INF1", {}, PowerRule::None, manufacturer},
    CommandRow{"INF2", {}, PowerRule::None, product},
    CommandRow{"INFO", {kTemperatureQuery}, PowerRule::None, info},
    CommandRow{"CLSS", {}, PowerRule::None, classOne},
};
// clang-format on

} // namespace

const std::string* Facts::got(std::string_view code) const {
    const auto it = replies.find(code);
    return it != replies.end() && it->second ? &*it->second : nullptr;
}

Parsed parse(std::string_view line) {
    if (line.size() < 6 || line[0] != '%' || line[1] < '1' || line[1] > '9' ||
        !allPrintable(line)) {
        return {std::nullopt, {}, true};
    }
    Request r;
    r.cls = line[1];
    r.body = std::string(line.substr(2, 4));
    if (r.cls != '1' || !std::all_of(r.body.begin(), r.body.end(), [](char c) {
            return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        })) {
        return {std::nullopt, answerLine(r, "ERR1"), false}; // a class or a command it has not
    }
    if (line.size() < 8 || line[6] != ' ') {
        return {std::nullopt, answerLine(r, "ERR2"), false};
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
            if (!isPrintable(b)) {
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
        if (!m_authenticated) {
            if (line.empty()) {
                continue; // an empty line is no try
            }
            if (!sameDigest(std::string_view(line).substr(0, 32), m_digest)) {
                fed.answerNow = "PJLINK ERRA";
                fed.close = "wrong password";
                fed.wrongPassword = true;
                return fed;
            }
            m_authenticated = true;
            fed.rightPassword = true;
            line.erase(0, 32);
        }
        if (line.empty()) {
            continue; // a digest alone, or an empty line: nothing asked, and no time won
        }
        m_lastRequest = now;
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

Step next(const Request& r, const Facts& f) {
    const auto row = std::find_if(kCommands.begin(), kCommands.end(),
                                  [&](const CommandRow& c) { return c.body == r.body; });
    const auto now = [&](std::string_view value) { return Step{{}, answerLine(r, value)}; };
    if (row == kCommands.end()) {
        return now("ERR1");
    }
    if (r.param != "?") {
        const Codes codes = row->setting != nullptr ? row->setting(r, f.settings) : Codes{};
        if (codes.empty()) {
            return now("ERR2");
        }
        if (!f.asked(kPowerQuery)) {
            return {std::string(kPowerQuery), {}};
        }
        if (const char* stop = powerStop(f, row->settingRule)) {
            return now(stop);
        }
        for (const std::string_view code : codes) {
            if (!f.asked(code)) {
                return {std::string(code), {}};
            }
            const std::string* reply = f.got(code);
            if (reply == nullptr || *reply != protocol::kAcknowledged) {
                return now("ERR4");
            }
        }
        return now("OK");
    }
    if (f.asked(kPowerQuery)) {
        if (const char* stop = powerStop(f, row->queryRule)) {
            return now(stop);
        }
    }
    if (const auto value = row->query(f)) {
        return now(*value);
    }
    for (const std::string_view code : row->reads) {
        if (!code.empty() && !f.asked(code)) {
            return {std::string(code), {}};
        }
    }
    return now("ERR4");
}

ProjectorLink::~ProjectorLink() {
    m_arbiter.leave(m_now, *this);
}

void ProjectorLink::request(Time now, ConnectionId connection, Parsed line) {
    m_jobs.push_back({connection,
                      line.request.value_or(Request{}),
                      line.answer,
                      {},
                      now + kLongest,
                      std::nullopt,
                      {},
                      std::nullopt,
                      false});
    run(now);
}

std::size_t ProjectorLink::waiting(ConnectionId connection) const {
    return std::size_t(std::count_if(m_jobs.begin(), m_jobs.end(),
                                     [&](const Job& j) { return j.connection == connection; }));
}

// The gate's reading of a status query: younger than 1 s; while another client holds a
// button (or when the line cannot be had in time, `recent`), of the last 30 s.
std::optional<std::string> ProjectorLink::known(const std::string& code, Time now,
                                                bool recent) const {
    const ProjectorState* state = m_states.find(m_settings.prefix);
    if (state != nullptr && state->answers == false) {
        return std::nullopt; // absent: what it said before is not what it would say now
    }
    const bool stale = recent || m_arbiter.heldByAnother(*this, now);
    return m_states.reading(m_settings.prefix, code, now, stale ? kStaleDuringHold : kFresh);
}

void ProjectorLink::tell(const Job& job, const std::string& line) {
    if (job.connection) {
        m_answer(*job.connection, line);
    }
}

std::deque<ProjectorLink::Job>::iterator ProjectorLink::jobOf(Ticket ticket) {
    return std::find_if(m_jobs.begin(), m_jobs.end(),
                        [&](const Job& j) { return j.ticket == ticket; });
}

void ProjectorLink::run(Time now) {
    m_now = now;
    while (!m_jobs.empty() && !m_jobs.front().ticket) {
        Job& job = m_jobs.front();
        const Step step =
            job.ready.empty()
                ? next(job.request, {m_settings, m_states.find(m_settings.prefix), job.replies})
                : Step{{}, job.ready};
        std::optional<std::string> read;
        if (!step.send.empty() && protocol::isQuery(step.send)) {
            read = known(step.send, now, false);
        }
        if (read) {
            job.replies[step.send] = std::move(read);
            continue;
        }
        // No time left for a frame: the line was not to be had.
        const bool late =
            !step.send.empty() && now + m_arbiter.settings().replyWindow >= job.deadline;
        if (step.send.empty() || late) {
            const Job done = std::move(job);
            m_jobs.pop_front();
            tell(done, late ? answerLine(done.request, "ERR3") : step.answer);
            continue;
        }
        job.asking = step.send;
        job.reply.reset();
        job.ticket = m_arbiter.submit(now, *this, commandFrame(m_settings.prefix, step.send));
        return; // its end comes back through finished()
    }
}

void ProjectorLink::sent(Ticket ticket, Time) {
    if (const auto job = jobOf(ticket); job != m_jobs.end()) {
        job->onLine = true;
    }
}

void ProjectorLink::delivered(Ticket ticket, std::string_view reply) {
    if (const auto job = jobOf(ticket); job != m_jobs.end()) {
        job->reply = std::string(reply);
    }
}

void ProjectorLink::finished(Ticket ticket, const Ending& ending) {
    const auto job = jobOf(ticket);
    if (job == m_jobs.end()) {
        return; // its request has been answered already
    }
    job->ticket.reset();
    job->onLine = false;
    if (ending.outcome == Outcome::TooLong || ending.outcome == Outcome::LineLost) {
        job->deadline = ending.at; // the line was not to be had: answered as late
        wake(ending.at);
        return;
    }
    job->replies[job->asking] = ending.outcome == Outcome::Answered ? job->reply : std::nullopt;
    run(ending.at);
}

// A frame still waiting for the line a reply window before its request's 3.5 s are up is
// withdrawn: the request goes on from a reading of the last 30 s, else it is answered ERR3
// (the line was not to be had), and nothing of it reaches the projector. Every request whose
// 3.5 s are up is answered now; a frame of it on the line ends there for no one.
void ProjectorLink::wake(Time now) {
    m_now = now;
    const auto window = m_arbiter.settings().replyWindow;
    std::vector<Job> due;
    for (auto job = m_jobs.begin(); job != m_jobs.end();) {
        if (job->ticket && !job->onLine && now >= job->deadline - window &&
            m_arbiter.withdraw(*job->ticket)) {
            job->ticket.reset();
            if (auto read = known(job->asking, now, true)) {
                job->replies[job->asking] = std::move(read);
            } else {
                job->deadline = now;
            }
        }
        if (now < job->deadline) {
            ++job;
            continue;
        }
        due.push_back(std::move(*job));
        job = m_jobs.erase(job);
    }
    for (const Job& job : due) { // answered once the list is whole again
        tell(job, job.ready.empty() ? answerLine(job.request, "ERR3") : job.ready);
    }
    run(now);
}

std::optional<Time> ProjectorLink::nextWake() const {
    std::optional<Time> first;
    for (const Job& job : m_jobs) {
        const Time at = job.ticket && !job.onLine ? job.deadline - m_arbiter.settings().replyWindow
                                                  : job.deadline;
        first = first ? std::min(*first, at) : at;
    }
    return first;
}

void ProjectorLink::forget(Time now, ConnectionId connection) {
    for (Job& job : m_jobs) { // a frame on its way ends for no one
        if (job.connection == connection) {
            job.connection.reset();
        }
    }
    std::erase_if(m_jobs, [&](const Job& j) {
        return !j.connection && (!j.ticket || m_arbiter.withdraw(*j.ticket));
    });
    run(now); // the next request may go now
}

void ProjectorLink::lineLost() {
    m_jobs.clear();
}

} // namespace vk9::gate::pjlink
