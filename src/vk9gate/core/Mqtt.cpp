#include "vk9gate/core/Mqtt.h"

#include "protocol/Json.h"
#include "protocol/Replies.h"
#include "traffic/TrafficPath.h"

#include <algorithm>
#include <cstdio>

namespace vk9::gate::mqtt {

namespace {

constexpr std::size_t kMostWaiting = 16;

std::string number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", value);
    return text;
}

std::string text(std::string_view utf8) {
    return jsonString(utf8, true);
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
    const auto value = [&](const char* key) -> const protocol::Value& {
        return *protocol::valueOf(reading, key);
    };
    if (code == protocol::kPowerQuery) {
        const auto power = protocol::readPower(reply);
        static constexpr const char* kWords[] = {"on", "stand-by", "warming up", "cooling down",
                                                 "power fault"};
        const bool lit = power->state == Power::On || power->state == Power::CountDown;
        return {{"power", lit ? "ON" : "OFF"},
                {"power_state",
                 power->tooHot ? "temperature fault" : kWords[static_cast<int>(power->state)]}};
    }
    if (code == protocol::kInputQuery) {
        return {{"input", "Input " + std::to_string(std::get<long long>(value("input")))}};
    }
    if (code == protocol::kLampHoursQuery) {
        return {{"lamp_hours", std::to_string(std::get<long long>(value("lamp_hours")))}};
    }
    if (code == protocol::kReversalQuery) {
        return {{"picture_reversal", std::get<std::string>(value("reversal"))}};
    }
    if (code == protocol::kTemperatureQuery) {
        return {{"temperature_s1", number(std::get<double>(value("s1")))},
                {"temperature_s2", number(std::get<double>(value("s2")))}};
    }
    if (code == protocol::kLampModeQuery) {
        // The lamp mode's option, by the code that sets it.
        const std::string_view mode = std::get<std::string>(value("lamp_mode"));
        static constexpr std::pair<std::string_view, std::string_view> kModes[] = {
            {"4-lamp", "lamp-4"}, {"2-lamp-1-4", "lamp-1-4"}, {"2-lamp-2-3", "lamp-2-3"}};
        std::string option;
        for (const auto& [word, button] : kModes) {
            for (const Command& c : findEntity("lamp_mode")->commands) {
                if (word == mode && c.code == codeNamed(button)) {
                    option = c.payload;
                }
            }
        }
        std::vector<std::string> lit;
        for (const int lamp : std::get<std::vector<int>>(value("lamps_lit"))) {
            lit.push_back(std::to_string(lamp));
        }
        return {{"lamp_mode", option},
                {"lamp_mode/attributes", JsonObject().add("lamps_lit", jsonArray(lit)).text()}};
    }
    return {};
}

std::string discoveryTopic(std::string_view prefix, const EntityRow& row, const Device& device) {
    return std::string(prefix) + "/" + std::string(kComponents[static_cast<int>(row.kind)]) + "/" +
           device.nodeId() + "/" + std::string(row.key) + "/config";
}

std::string discoveryConfig(const EntityRow& row, const Device& device) {
    const std::string node = device.base + "/" + device.node;
    const std::string key(row.key);
    JsonObject o;
    o.add("name", text(row.name));
    if (row.kind == Kind::Switch) {
        o.add("payload_on", text("ON")).add("payload_off", text("OFF"));
    } else if (row.kind == Kind::Select) {
        std::vector<std::string> options;
        for (const Command& c : row.commands) {
            if (!c.payload.empty()) {
                options.push_back(text(c.payload));
            }
        }
        o.add("options", jsonArray(options));
    } else if (row.kind == Kind::Button) {
        o.add("payload_press", text("PRESS"));
    }
    if (!row.unit.empty()) {
        o.add("unit_of_measurement", text(row.unit));
    }
    if (!row.stateClass.empty()) {
        o.add("state_class", text(row.stateClass));
    }
    if (!row.deviceClass.empty()) {
        o.add("device_class", text(row.deviceClass));
    }
    if (row.diagnostic) {
        o.add("entity_category", text("diagnostic"));
    }
    o.add("unique_id", text(device.nodeId() + "_" + key))
        .add("has_entity_name", "true")
        .add("device", JsonObject()
                           .add("identifiers", jsonArray({text(device.nodeId())}))
                           .add("name", text(device.name))
                           .add("manufacturer", text("vk9gate"))
                           .add("model", text("projector " + device.node + " on " + device.gateId))
                           .text())
        .add("availability",
             jsonArray({JsonObject().add("topic", text(device.base + "/status")).text(),
                        JsonObject().add("topic", text(node + "/status")).text()}))
        .add("availability_mode", text("all"));
    if (row.kind != Kind::Sensor) {
        o.add("command_topic", text(node + "/" + key + "/set"));
    }
    if (!row.stateFrom.empty()) {
        o.add("state_topic", text(node + "/" + key + "/state"));
    } else if (row.kind != Kind::Button) {
        o.add("optimistic", "true"); // the projector cannot be asked for it
    }
    if (row.key == "lamp_mode") {
        o.add("json_attributes_topic", text(node + "/lamp_mode/attributes"));
    }
    return o.text();
}

ProjectorService::~ProjectorService() {
    m_arbiter.leave(m_now, *this);
}

bool ProjectorService::poll(Time now) {
    for (const std::string_view code : kPolled) {
        if (std::find(m_polls.begin(), m_polls.end(), code) == m_polls.end()) {
            m_polls.emplace_back(code);
        }
    }
    send(now);
    return m_polls.empty() || m_onLine; // false: it waits for an operator's hold to end
}

void ProjectorService::ask(Time now, std::string_view code) {
    if (std::find(m_polls.begin(), m_polls.end(), code) == m_polls.end() &&
        !(m_onLine && m_onLineCode == code)) {
        m_polls.emplace_back(code);
    }
    send(now);
}

bool ProjectorService::command(Time now, const EntityRow& row, std::string_view payload) {
    const auto code = commandCode(row, payload);
    if (!code) {
        return false;
    }
    if (m_commands.size() + (row.stateFrom.empty() ? 1 : 2) > kMostWaiting) {
        m_log("too many commands waiting: dropped " + std::string(*code));
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
    m_now = now;
    if (m_onLine) {
        return;
    }
    auto& queue = m_commands.empty() ? m_polls : m_commands;
    if (queue.empty()) {
        return;
    }
    if (&queue == &m_polls && m_arbiter.heldByAnother(*this, now)) {
        if (m_waits) { // a poll's next query waits while an operator holds a button
            m_waits();
        }
        return;
    }
    m_onLineIsPoll = &queue == &m_polls;
    m_onLineCode = queue.front();
    queue.pop_front();
    m_onLine = m_arbiter.submit(now, *this, commandFrame(m_prefix, m_onLineCode));
}

void ProjectorService::finished(Ticket ticket, const Ending& ending) {
    if (ticket != m_onLine) {
        return;
    }
    m_onLine.reset();
    const bool answered = ending.outcome == Outcome::Answered;
    if (m_onLineCode == protocol::kPowerQuery && !answered && m_onLineIsPoll) {
        m_polls.clear(); // the rest of this poll would go unanswered too
    }
    if (!protocol::isQuery(m_onLineCode) && !answered && ending.outcome != Outcome::LineLost) {
        m_log(ending.outcome == Outcome::Unanswered
                  ? "the projector did not acknowledge " + m_prefix + m_onLineCode
                  : m_prefix + m_onLineCode + " not sent: " +
                        (ending.outcome == Outcome::Absent ? "the projector does not answer"
                                                           : "the line was busy"));
    }
    if (ending.outcome != Outcome::LineLost) {
        send(ending.at);
    }
}

void ProjectorService::lineLost() {
    m_commands.clear();
    m_polls.clear();
    m_onLine.reset();
}

} // namespace vk9::gate::mqtt
