#pragma once

#include "vk9gate/core/Arbiter.h"

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace vk9::gate {

// A status query's reply as the gate last knows it: read from the projector, or what a
// command the projector acknowledged since has made of it.
struct Reading {
    std::string reply; // whole, with its carriage return
    Time at;
};

struct ProjectorState {
    std::map<std::string, Reading, std::less<>> readings; // by status query: "CR0"
    bool videoMuted = false;     // NO SHOW, as last acknowledged: the projector cannot be asked
    bool audioMuted = false;     // SOUND MUTE, likewise
    std::optional<bool> answers; // unknown until a frame to it has ended
};

// One state per projector, kept from every answered frame of every client: a status reply
// is its query's reading; an acknowledged command changes the readings it makes wrong, to
// what it is known to make of them (POWER OFF from on: cooling down) or to nothing, so that
// they are asked again. Front ends answer from here and keep no state of their own.
class ProjectorStates {
public:
    // A reading set or forgotten (its query code), or whether it answers changed ("").
    using Changed = std::function<void(std::string_view prefix, std::string_view code)>;

    void onChange(Changed changed) { m_changed = std::move(changed); }
    void answered(Time now, std::string_view frame, std::string_view reply);
    void presence(std::string_view prefix, bool answers);
    void lineLost(); // nothing of before is known

    const ProjectorState* find(std::string_view prefix) const;
    // The reading of `code`, if the gate has one younger than `maxAge`.
    std::optional<std::string> reading(std::string_view prefix, std::string_view code, Time now,
                                       Time maxAge) const;

private:
    void set(std::string_view prefix, ProjectorState& p, std::string_view code,
             std::optional<std::string> reply, Time now);
    void acknowledged(std::string_view prefix, ProjectorState& p, std::string_view code, Time now);

    std::map<std::string, ProjectorState, std::less<>> m_states; // by prefix: "A001", ""
    Changed m_changed;
};

} // namespace vk9::gate
