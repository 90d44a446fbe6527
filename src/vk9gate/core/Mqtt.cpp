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
    for (const std::string_view code : kPolled) {
        if (std::find(m_codes.begin(), m_codes.end(), code) == m_codes.end()) {
            m_codes.emplace_back(code);
        }
    }
    send(now);
    return true;
}

bool ProjectorService::command(Time now, const EntityRow& row, std::string_view payload) {
    const auto code = commandCode(row, payload);
    if (!code) {
        return false;
    }
    // Before any poll waiting here (after the frame on the line, if one is), and then the
    // query that reads back what it changed.
    const auto at = m_codes.begin() + (m_waiting ? 1 : 0);
    const auto next = m_codes.insert(at, std::string(*code)) + 1;
    if (!row.stateFrom.empty()) {
        m_codes.insert(next, std::string(row.stateFrom));
    }
    send(now);
    return true;
}

void ProjectorService::send(Time now) {
    if (m_waiting || m_codes.empty()) {
        return;
    }
    m_waiting = true;
    m_arbiter.submit(now, m_me, m_prefix + m_codes.front() + '\r');
}

void ProjectorService::finished(Time now, std::string_view frame, Outcome outcome,
                                std::string_view reply) {
    if (!m_waiting || m_codes.empty()) {
        return;
    }
    const std::string code = m_codes.front();
    m_codes.pop_front();
    m_waiting = false;
    const bool answered = outcome == Outcome::Answered;
    if (protocol::isQuery(code)) {
        for (const auto& [key, payload] :
             answered ? statesOf(code, reply)
                      : std::vector<std::pair<std::string, std::string>>{}) {
            m_events.state(key, payload);
        }
        if (code == "CR0" && m_online != answered) { // the power query says whether it answers
            m_online = answered;
            m_events.available(answered);
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
    m_codes.clear();
    m_waiting = false;
    if (m_online != false) {
        m_online = false;
        m_events.available(false);
    }
}

} // namespace vk9::gate::mqtt
