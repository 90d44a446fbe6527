#include "vk9gate/core/Projectors.h"

#include "protocol/Frames.h"
#include "protocol/Replies.h"

#include <algorithm>
#include <array>

namespace vk9::gate {

namespace {

using protocol::codeNamed;
using protocol::Power;

// What an acknowledged command does to what the gate knows.
enum class Effect : std::uint8_t { PowerOn, PowerOff, Input, LampMode, VideoMute, AudioMute };
struct EffectRow {
    std::string_view code;
    Effect effect;
    char value = 0; // the input, the lamp mode; for a mute, '1' on and '0' off
};
constexpr std::array kEffects{
    EffectRow{codeNamed("power-on"), Effect::PowerOn},
    EffectRow{codeNamed("power-off"), Effect::PowerOff},
    EffectRow{codeNamed("mode-set-1"), Effect::Input, '1'},
    EffectRow{codeNamed("mode-set-2"), Effect::Input, '2'},
    EffectRow{codeNamed("mode-set-3"), Effect::Input, '3'},
    EffectRow{codeNamed("mode-set-4"), Effect::Input, '4'},
    EffectRow{codeNamed("lamp-4"), Effect::LampMode, '0'},
    EffectRow{codeNamed("lamp-1-4"), Effect::LampMode, '1'},
    EffectRow{codeNamed("lamp-2-3"), Effect::LampMode, '2'},
    EffectRow{codeNamed("no-show-on"), Effect::VideoMute, '1'},
    EffectRow{codeNamed("no-show-off"), Effect::VideoMute, '0'},
    EffectRow{codeNamed("sound-mute-on"), Effect::AudioMute, '1'},
    EffectRow{codeNamed("sound-mute-off"), Effect::AudioMute, '0'},
};

} // namespace

const ProjectorState* ProjectorStates::find(std::string_view prefix) const {
    const auto it = m_states.find(prefix);
    return it == m_states.end() ? nullptr : &it->second;
}

std::optional<std::string> ProjectorStates::reading(std::string_view prefix, std::string_view code,
                                                    Time now, Time maxAge) const {
    const ProjectorState* p = find(prefix);
    const auto r = p == nullptr ? decltype(p->readings)::const_iterator{} : p->readings.find(code);
    if (p == nullptr || r == p->readings.end() || now - r->second.at >= maxAge) {
        return std::nullopt;
    }
    return r->second.reply;
}

void ProjectorStates::set(std::string_view prefix, ProjectorState& p, std::string_view code,
                          std::optional<std::string> reply, Time now) {
    const auto it = p.readings.find(code);
    if (!reply && it == p.readings.end()) {
        return;
    }
    if (reply) {
        p.readings[std::string(code)] = {std::move(*reply), now};
    } else {
        p.readings.erase(it);
    }
    if (m_changed) {
        m_changed(prefix, code);
    }
}

void ProjectorStates::answered(Time now, std::string_view frame, std::string_view reply) {
    const auto parts = protocol::splitFrame(frame);
    if (!parts) {
        return;
    }
    if (parts->prefix == protocol::kEveryProjector) { // every projector acted; one answered
        for (auto& [prefix, p] : m_states) {
            if (!protocol::isQuery(parts->code) && p.answers != false) { // an absent one did not
                acknowledged(prefix, p, parts->code, now);
            }
        }
        return;
    }
    if (!protocol::oneProjector(parts->prefix)) {
        return;
    }
    const std::string prefix(parts->prefix);
    ProjectorState& p = m_states[prefix];
    if (protocol::isQuery(parts->code)) {
        set(prefix, p, parts->code, std::string(reply), now);
    } else {
        acknowledged(prefix, p, parts->code, now);
    }
    if (p.answers != true) {
        presence(prefix, true);
    }
}

void ProjectorStates::acknowledged(std::string_view prefix, ProjectorState& p,
                                   std::string_view code, Time now) {
    const auto row = std::find_if(kEffects.begin(), kEffects.end(),
                                  [&](const EffectRow& r) { return r.code == code; });
    if (row == kEffects.end()) {
        return; // adjustments, menus: nothing the gate reads changes
    }
    const auto cr0 = p.readings.find(protocol::kPowerQuery);
    const auto power =
        cr0 == p.readings.end() ? std::nullopt : protocol::readPower(cr0->second.reply);
    const auto state = power ? std::optional(power->state) : std::nullopt;
    switch (row->effect) {
    case Effect::PowerOn:
    case Effect::PowerOff: {
        const bool on = row->effect == Effect::PowerOn;
        const bool stays = on ? (state == Power::On || state == Power::CountDown)
                              : (state == Power::StandBy || state == Power::Cooling);
        const bool turns =
            on ? state == Power::StandBy : (state == Power::On || state == Power::CountDown);
        if (stays) {
            return;
        }
        // From stand-by a projector counts down; from on it cools down. Its lamps and
        // temperatures follow in their own time, so they are asked again.
        set(prefix, p, protocol::kPowerQuery,
            turns ? std::optional(std::string{on ? '4' : '2', cr0->second.reply[1], '\r'})
                  : std::nullopt,
            now);
        set(prefix, p, protocol::kTemperatureQuery, std::nullopt, now);
        set(prefix, p, protocol::kLampModeQuery, std::nullopt, now);
        return;
    }
    case Effect::Input: // a projector that is on shows it; otherwise ask
        set(prefix, p, protocol::kInputQuery,
            state == Power::On ? std::optional(std::string{row->value, '\r'}) : std::nullopt, now);
        return;
    case Effect::LampMode: // the lamps lit follow the mode in the projector's own time
        set(prefix, p, protocol::kLampModeQuery, std::nullopt, now);
        return;
    case Effect::VideoMute:
        p.videoMuted = row->value == '1';
        return;
    case Effect::AudioMute:
        p.audioMuted = row->value == '1';
        return;
    }
}

void ProjectorStates::presence(std::string_view prefix, bool answers) {
    if (!protocol::oneProjector(prefix)) {
        return;
    }
    ProjectorState& p = m_states[std::string(prefix)];
    if (p.answers != answers) {
        p.answers = answers;
        if (m_changed) {
            m_changed(prefix, "");
        }
    }
}

void ProjectorStates::lineLost() {
    m_states.clear();
}

} // namespace vk9::gate
