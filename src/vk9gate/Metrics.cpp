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
    BuildGauge()
        .Name("vk9gate_build_info")
        .Help("The gate's version, as a label; always 1.")
        .Register(now)
        .Add({{"version", VK9RSC_VERSION}})
        .Set(1);
    BuildGauge()
        .Name("vk9gate_line_up")
        .Help("Whether the gate's projector line is open (1) or not (0).")
        .Register(now)
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
    BuildCounter()
        .Name("vk9gate_frames_sent_total")
        .Help("Frames written to the line.")
        .Register(now)
        .Add({})
        .Increment(double(s.frames.sent));
    BuildCounter()
        .Name("vk9gate_late_replies_total")
        .Help("Replies thrown away: late, or of no waiting frame's shape.")
        .Register(now)
        .Add({})
        .Increment(double(s.frames.thrownAway));
    auto& clients =
        BuildGauge().Name("vk9gate_clients").Help("Clients connected, by kind.").Register(now);
    clients.Add({{"kind", "share"}}).Set(double(s.shareClients));
    clients.Add({{"kind", "web"}}).Set(double(s.webPages));
    clients.Add({{"kind", "pjlink"}}).Set(double(s.pjlinkClients));
    BuildCounter()
        .Name("vk9gate_pjlink_connections_total")
        .Help("PJLink connections taken.")
        .Register(now)
        .Add({})
        .Increment(double(s.pjlinkConnections));
    BuildCounter()
        .Name("vk9gate_pjlink_wrong_passwords_total")
        .Help("Wrong PJLink passwords.")
        .Register(now)
        .Add({})
        .Increment(double(s.pjlinkWrongPasswords));
    if (s.mqttConnected) {
        BuildGauge()
            .Name("vk9gate_mqtt_connected")
            .Help("Whether the gate is connected to its MQTT broker.")
            .Register(now)
            .Add({})
            .Set(*s.mqttConnected ? 1 : 0);
    }
    auto& answers = BuildGauge()
                        .Name("vk9gate_projector_answers")
                        .Help("Whether a projector answers (1), or is absent (0).")
                        .Register(now);
    auto& power = BuildGauge()
                      .Name("vk9gate_projector_power")
                      .Help("A projector's power state: 1 for the state it is in.")
                      .Register(now);
    auto& hot = BuildGauge()
                    .Name("vk9gate_projector_temperature_fault")
                    .Help("Whether a projector reports a temperature fault (1) or not (0).")
                    .Register(now);
    auto& input = BuildGauge()
                      .Name("vk9gate_projector_input")
                      .Help("A projector's input, 1 to 4.")
                      .Register(now);
    auto& lamp = BuildGauge()
                     .Name("vk9gate_projector_lamp_seconds")
                     .Help("A projector's lamp time, as its lamp hours, in seconds.")
                     .Register(now);
    auto& mode = BuildGauge()
                     .Name("vk9gate_projector_lamp_mode")
                     .Help("A projector's lamp mode: 1 for the mode it is in.")
                     .Register(now);
    auto& temperature = BuildGauge()
                            .Name("vk9gate_projector_temperature_celsius")
                            .Help("A projector's temperatures, by sensor.")
                            .Register(now);
    auto& readAt = BuildGauge()
                       .Name("vk9gate_projector_reading_timestamp_seconds")
                       .Help("When a projector's reading was last read or made (Unix time).")
                       .Register(now);
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
            if (const auto r = p.state->readings.find(code); r != p.state->readings.end()) {
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
