#include "vk9gate/core/Mqtt.h"

#include "protocol/Replies.h"

#include <algorithm>
#include <cstdio>

namespace vk9::gate::mqtt {

namespace {

std::string number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", value);
    return text;
}

} // namespace

const EntityRow* findEntity(std::string_view key) {
    const auto* row = std::find_if(kEntities.begin(), kEntities.end(),
                                   [&](const EntityRow& r) { return r.key == key; });
    return row == kEntities.end() ? nullptr : row;
}

std::optional<std::string_view> commandCode(const EntityRow& row, std::string_view payload) {
    for (const Command& c : row.commands) {
        if (!c.payload.empty() && c.payload == payload) {
            return c.code;
        }
    }
    return std::nullopt;
}

std::vector<std::pair<std::string, std::string>> statesOf(std::string_view code,
                                                          std::string_view reply) {
    using protocol::Power;
    const protocol::Reading reading = protocol::readReply(code, reply);
    if (!reading.ok) {
        return {};
    }
    const auto word = [&](const char* key) {
        return std::get<std::string>(*protocol::valueOf(reading, key));
    };
    if (code == "CR0") {
        const auto power = protocol::readPower(reply);
        static constexpr const char* kWords[] = {"on", "stand-by", "warming up", "cooling down",
                                                 "power fault"};
        const bool lit = power->state == Power::On || power->state == Power::CountDown;
        return {{"power", lit ? "ON" : "OFF"},
                {"power_state",
                 power->tooHot ? "temperature fault" : kWords[static_cast<int>(power->state)]}};
    }
    if (code == "CR1") {
        return {{"input", "Input " + std::to_string(std::get<long long>(
                                         *protocol::valueOf(reading, "input")))}};
    }
    if (code == "CR3") {
        return {{"lamp_hours",
                 std::to_string(std::get<long long>(*protocol::valueOf(reading, "lamp_hours")))}};
    }
    if (code == "CR4") {
        return {{"picture_reversal", word("reversal")}};
    }
    if (code == "CR6") {
        return {{"temperature_s1", number(std::get<double>(*protocol::valueOf(reading, "s1")))},
                {"temperature_s2", number(std::get<double>(*protocol::valueOf(reading, "s2")))}};
    }
    if (code == "CR7") {
        static constexpr std::pair<const char*, const char*> kModes[] = {
            {"4-lamp", "4 lamps"},
            {"2-lamp-1-4", "Lamps 1 and 4"},
            {"2-lamp-2-3", "Lamps 2 and 3"}};
        std::string mode;
        for (const auto& [w, option] : kModes) {
            mode = w == word("lamp_mode") ? option : mode;
        }
        std::string lit;
        for (const int lamp :
             std::get<std::vector<int>>(*protocol::valueOf(reading, "lamps_lit"))) {
            lit += (lit.empty() ? "" : ",") + std::to_string(lamp);
        }
        return {{"lamp_mode", mode}, {"lamp_mode/attributes", "{\"lamps_lit\":[" + lit + "]}"}};
    }
    return {};
}

bool ProjectorService::poll(Time now) {
    if (m_arbiter.heldByAnother(m_me, now)) {
        return false; // an operator's hold: not now
    }
    if (m_online == false && m_polled++ % 4 != 0) {
        return true;
    }
    for (const std::string_view code : kPolled) {
        if (std::find(m_polls.begin(), m_polls.end(), code) == m_polls.end()) {
            m_polls.emplace_back(code);
        }
        if (m_online == false) {
            break; // its power alone, until it answers
        }
    }
    send(now);
    return true;
}

bool ProjectorService::command(Time now, const EntityRow& row, std::string_view payload) {
    constexpr std::size_t kMostWaiting = 16;
    const auto code = commandCode(row, payload);
    if (!code) {
        return false;
    }
    if (m_commands.size() + (row.stateFrom.empty() ? 1 : 2) > kMostWaiting) {
        m_events.log("too many commands waiting: dropped " + std::string(*code));
        return true;
    }
    m_commands.emplace_back(*code);
    if (!row.stateFrom.empty()) {
        m_commands.emplace_back(row.stateFrom); // reads back what it changed
    }
    send(now);
    return true;
}

void ProjectorService::send(Time now) {
    if (m_onLine) {
        return;
    }
    auto& queue = m_commands.empty() ? m_polls : m_commands;
    if (queue.empty()) {
        return;
    }
    m_onLineIsPoll = &queue == &m_polls;
    m_onLine = queue.front();
    queue.pop_front();
    m_arbiter.submit(now, m_me, m_prefix + *m_onLine + '\r');
}

void ProjectorService::finished(Time now, std::string_view frame, Outcome outcome,
                                std::string_view reply) {
    if (!m_onLine) {
        return;
    }
    const std::string code = *std::exchange(m_onLine, std::nullopt);
    const bool answered = outcome == Outcome::Answered;
    if (protocol::isQuery(code)) {
        for (const auto& [key, payload] :
             answered ? statesOf(code, reply)
                      : std::vector<std::pair<std::string, std::string>>{}) {
            m_events.state(key, payload);
        }
        if (code == "CR0" && m_online != answered) { // the power query says whether it answers
            if (answered && m_online == false) {     // back: the rest of its states at once
                for (const std::string_view rest : kPolled) {
                    if (rest != "CR0" &&
                        std::find(m_polls.begin(), m_polls.end(), rest) == m_polls.end()) {
                        m_polls.emplace_back(rest);
                    }
                }
            }
            m_online = answered;
            m_polled = 1;
            m_events.available(answered);
        }
        if (code == "CR0" && !answered && m_onLineIsPoll) {
            m_polls.clear(); // the rest of this poll would go unanswered too
        }
    } else if (!answered || !protocol::readReply(code, reply).ok) {
        m_events.log(
            "the projector did not acknowledge " + std::string(frame.substr(0, frame.size() - 1)) +
            (answered ? " (it answered " + std::string(reply.substr(0, reply.size() - 1)) + ")"
                      : ""));
    }
    send(now);
}

void ProjectorService::lineLost() {
    m_commands.clear();
    m_polls.clear();
    m_onLine.reset();
    m_polled = 0; // asked at the first poll once the line is back
    if (m_online != false) {
        m_online = false;
        m_events.available(false);
    }
}

} // namespace vk9::gate::mqtt
