#include "Metrics.h"

#include "protocol/Frames.h"
#include "protocol/Replies.h"

#include <prometheus/counter.h>
#include <prometheus/gauge.h>
#include <prometheus/text_serializer.h>

namespace vk9::gate {

namespace {

using prometheus::BuildCounter;
using prometheus::BuildGauge;

} // namespace

Metrics::Metrics() : m_lasting(std::make_shared<prometheus::Registry>()) {
    m_replies = &prometheus::BuildHistogram()
                     .Name("vk9gate_reply_seconds")
                     .Help("Time from a frame's going on the line to its whole reply.")
                     .Register(*m_lasting)
                     .Add({}, prometheus::Histogram::BucketBoundaries{0.005, 0.01, 0.02, 0.05, 0.1,
                                                                      0.2, 0.3, 0.5});
}

void Metrics::replied(double seconds) {
    m_replies->Observe(seconds);
}

std::string Metrics::scrape(const GateSnapshot& s) const {
    prometheus::Registry now; // read afresh at each scrape
    const auto gauge = [&](const char* name, const char* help) -> auto& {
        return BuildGauge().Name(name).Help(help).Register(now);
    };
    const auto counter = [&](const char* name, const char* help, std::uint64_t value) {
        BuildCounter().Name(name).Help(help).Register(now).Add({}).Increment(double(value));
    };
    gauge("vk9gate_build_info", "The gate's version, as a label; always 1.")
        .Add({{"version", VK9RSC_VERSION}})
        .Set(1);
    gauge("vk9gate_line_up", "Whether the gate's projector line is open (1) or not (0).")
        .Add({})
        .Set(s.lineUp ? 1 : 0);
    auto& frames = BuildCounter()
                       .Name("vk9gate_frames_total")
                       .Help("Frames that clients submitted, by how they ended.")
                       .Register(now);
    const std::pair<const char*, std::uint64_t> outcomes[] = {
        {"answered", s.frames.answered}, {"unanswered", s.frames.unanswered},
        {"absent", s.frames.absent},     {"too_long", s.frames.tooLong},
        {"repeated", s.frames.repeated}, {"queue_full", s.frames.queueFull},
    };
    for (const auto& [outcome, count] : outcomes) {
        frames.Add({{"outcome", outcome}}).Increment(double(count));
    }
    counter("vk9gate_frames_sent_total", "Frames written to the line.", s.frames.sent);
    counter("vk9gate_late_replies_total",
            "Replies thrown away: late, or of no waiting frame's shape.", s.frames.thrownAway);
    auto& clients = gauge("vk9gate_clients", "Clients connected, by kind.");
    clients.Add({{"kind", "share"}}).Set(double(s.shareClients));
    clients.Add({{"kind", "web"}}).Set(double(s.webPages));
    clients.Add({{"kind", "pjlink"}}).Set(double(s.pjlinkClients));
    counter("vk9gate_pjlink_connections_total", "PJLink connections taken.", s.pjlinkConnections);
    counter("vk9gate_pjlink_wrong_passwords_total", "Wrong PJLink passwords.",
            s.pjlinkWrongPasswords);
    if (s.mqttConnected) {
        gauge("vk9gate_mqtt_connected", "Whether the gate is connected to its MQTT broker.")
            .Add({})
            .Set(*s.mqttConnected ? 1 : 0);
    }
    auto& answers =
        gauge("vk9gate_projector_answers", "Whether a projector answers (1), or is absent (0).");
    auto& power =
        gauge("vk9gate_projector_power", "A projector's power state: 1 for the state it is in.");
    auto& hot = gauge("vk9gate_projector_temperature_fault",
                      "Whether a projector reports a temperature fault (1) or not (0).");
    auto& input = gauge("vk9gate_projector_input", "A projector's input, 1 to 4.");
    auto& lamp = gauge("vk9gate_projector_lamp_seconds",
                       "A projector's lamp time, as its lamp hours, in seconds.");
    auto& mode =
        gauge("vk9gate_projector_lamp_mode", "A projector's lamp mode: 1 for the mode it is in.");
    auto& temperature =
        gauge("vk9gate_projector_temperature_celsius", "A projector's temperatures, by sensor.");
    auto& readAt = gauge("vk9gate_projector_reading_timestamp_seconds",
                         "When a projector's reading was last read or made (Unix time).");
    static constexpr std::pair<std::string_view, const char*> kReadings[] = {
        {protocol::kPowerQuery, "power"},
        {protocol::kInputQuery, "input"},
        {protocol::kLampHoursQuery, "lamp"},
        {protocol::kLampModeQuery, "lamp_mode"},
        {protocol::kTemperatureQuery, "temperature"}};
    static constexpr const char* kPowers[] = {"on", "standby", "countdown", "cooling", "fault"};
    static constexpr const char* kModes[] = {"4-lamp", "2-lamp-1-4", "2-lamp-2-3"};
    for (const auto& p : s.projectors) {
        const prometheus::Labels who{{"address", p.address}, {"name", p.name}};
        const auto with = [&](const char* key, const char* value) {
            prometheus::Labels labels = who;
            labels[key] = value;
            return labels;
        };
        if (p.state == nullptr || !p.state->answers) {
            continue;
        }
        answers.Add(who).Set(*p.state->answers ? 1 : 0);
        if (!*p.state->answers) {
            continue; // what it said before it went silent is no longer so
        }
        for (const auto& [code, what] : kReadings) {
            const auto r = p.state->readings.find(code); // a reading that can be read
            if (r != p.state->readings.end() && protocol::readReply(code, r->second.reply).ok) {
                readAt.Add(with("query", what))
                    .Set(s.unixSeconds -
                         std::chrono::duration<double>(s.now - r->second.at).count());
            }
        }
        const auto reading = [&](std::string_view code) -> std::optional<protocol::Reading> {
            const auto r = p.state->readings.find(code);
            if (r == p.state->readings.end()) {
                return std::nullopt;
            }
            auto read = protocol::readReply(code, r->second.reply);
            return read.ok ? std::optional(std::move(read)) : std::nullopt;
        };
        if (const auto r = p.state->readings.find(protocol::kPowerQuery);
            r != p.state->readings.end()) {
            if (const auto state = protocol::readPower(r->second.reply)) {
                for (int i = 0; i < 5; ++i) {
                    power.Add(with("state", kPowers[i])).Set(int(state->state) == i ? 1 : 0);
                }
                hot.Add(who).Set(state->tooHot ? 1 : 0);
            }
        }
        if (const auto r = reading(protocol::kInputQuery)) {
            input.Add(who).Set(double(std::get<long long>(*protocol::valueOf(*r, "input"))));
        }
        if (const auto r = reading(protocol::kLampHoursQuery)) {
            lamp.Add(who).Set(3600.0 *
                              double(std::get<long long>(*protocol::valueOf(*r, "lamp_hours"))));
        }
        if (const auto r = reading(protocol::kLampModeQuery)) {
            const std::string& m = std::get<std::string>(*protocol::valueOf(*r, "lamp_mode"));
            for (const char* each : kModes) {
                mode.Add(with("mode", each)).Set(m == each ? 1 : 0);
            }
        }
        if (const auto r = reading(protocol::kTemperatureQuery)) {
            temperature.Add(with("sensor", "s1"))
                .Set(std::get<double>(*protocol::valueOf(*r, "s1")));
            temperature.Add(with("sensor", "s2"))
                .Set(std::get<double>(*protocol::valueOf(*r, "s2")));
        }
    }
    auto families = m_lasting->Collect();
    for (auto& family : now.Collect()) {
        if (!family.metric.empty()) {
            families.push_back(std::move(family));
        }
    }
    return prometheus::TextSerializer().Serialize(families);
}

} // namespace vk9::gate
