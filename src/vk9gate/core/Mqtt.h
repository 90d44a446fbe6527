#pragma once

#include "vk9gate/core/Arbiter.h"

#include <array>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vk9::gate::mqtt {

// A projector as Home Assistant's MQTT entities: what each shows and takes, as data. The
// topics are the shell's; this is the codec and the table.

enum class Kind { Switch, Sensor, Select, Button };

struct Command {
    std::string_view payload; // "ON", "Input 3", "PRESS"
    std::string_view code;    // the projector's: "C00"
};

struct EntityRow {
    std::string_view key; // its object id, and its topics' name: "power"
    Kind kind;
    std::string_view name;             // as Home Assistant shows it, after the device's name
    std::array<Command, 4> commands{}; // none for a sensor
    std::string_view stateFrom{};      // the status query that gives its state; none: optimistic
    std::string_view unit{};
    std::string_view deviceClass{};
};

// clang-format off
inline constexpr std::array kEntities{
    EntityRow{"power", Kind::Switch, "Power", {{{"ON", "C00"}, {"OFF", "C02"}}}, "CR0"},
    EntityRow{"power_state", Kind::Sensor, "Power state", {}, "CR0"},
    EntityRow{"input", Kind::Select, "Input",
              {{{"Input 1", "C05"}, {"Input 2", "C06"}, {"Input 3", "C07"}, {"Input 4", "C08"}}}, "CR1"},
    EntityRow{"lamp_hours", Kind::Sensor, "Lamp hours", {}, "CR3", "h", "duration"},
    EntityRow{"lamp_mode", Kind::Select, "Lamp mode",
              {{{"4 lamps", "C70"}, {"Lamps 1 and 4", "C71"}, {"Lamps 2 and 3", "C72"}}}, "CR7"},
    EntityRow{"temperature_s1", Kind::Sensor, "Temperature S1", {}, "CR6", "°C", "temperature"},
    EntityRow{"temperature_s2", Kind::Sensor, "Temperature S2", {}, "CR6", "°C", "temperature"},
    EntityRow{"picture_reversal", Kind::Sensor, "Picture reversal", {}, "CR4"},
    EntityRow{"sound_mute", Kind::Switch, "Sound mute", {{{"ON", "C0B"}, {"OFF", "C0C"}}}},
    EntityRow{"no_show", Kind::Switch, "No show", {{{"ON", "C0D"}, {"OFF", "C0E"}}}},
    EntityRow{"freeze", Kind::Switch, "Freeze", {{{"ON", "C43"}, {"OFF", "C44"}}}},
    EntityRow{"av_size", Kind::Select, "AV size", {{{"Regular", "C0F"}, {"Wide", "C10"}}}},
    EntityRow{"menu_on", Kind::Button, "Menu on", {{{"PRESS", "C1C"}}}},
    EntityRow{"menu_off", Kind::Button, "Menu off", {{{"PRESS", "C1D"}}}},
    EntityRow{"normal", Kind::Button, "Normal", {{{"PRESS", "C1F"}}}},
    EntityRow{"p_timer", Kind::Button, "P-timer", {{{"PRESS", "C8A"}}}},
    EntityRow{"display_clear", Kind::Button, "Display clear", {{{"PRESS", "C1E"}}}},
    EntityRow{"c01", Kind::Button, "C01", {{{"PRESS", "C01"}}}},
};
// clang-format on

// The status queries a poll asks, in order.
inline constexpr std::array<std::string_view, 6> kPolled{"CR0", "CR1", "CR3", "CR4", "CR6", "CR7"};

const EntityRow* findEntity(std::string_view key);
// The code a command payload stands for, or nothing for a payload that is not one of the
// entity's.
std::optional<std::string_view> commandCode(const EntityRow& row, std::string_view payload);
// The states a status reply gives: (entity key, payload) pairs; "<key>/attributes" for an
// entity's attributes (JSON). Nothing for a reply that cannot be read.
std::vector<std::pair<std::string, std::string>> statesOf(std::string_view code,
                                                          std::string_view reply);

// One projector's MQTT service on the arbiter: polls of the six status queries and the
// commands of its entities, one frame at a time. A poll is skipped while another client
// has the line (an operator's hold), and asked again a moment later; a command that
// changes a state is followed by the query that reads it back.
class ProjectorService {
public:
    struct Events {
        std::function<void(const std::string& key, const std::string& payload)> state;
        std::function<void(bool online)> available; // it answers, or it stopped answering
        std::function<void(const std::string& what)> log;
    };
    ProjectorService(Arbiter& arbiter, ClientId me, std::string prefix, Events events)
        : m_arbiter(arbiter), m_me(me), m_prefix(std::move(prefix)), m_events(std::move(events)) {}

    // Returns false while another client holds a button: poll again shortly. A projector
    // that does not answer is asked only its power, every fourth poll (and at the first
    // poll after the line comes back); once it answers, the rest of its states at once.
    bool poll(Time now);
    // A command from its topic: false for a payload that is not one of the entity's. Commands
    // go before any poll, in their order; more than 16 frames waiting, and it is dropped.
    bool command(Time now, const EntityRow& row, std::string_view payload);
    void finished(Time now, std::string_view frame, Outcome outcome, std::string_view reply);
    void lineLost();

    ClientId client() const { return m_me; }

private:
    void send(Time now);

    Arbiter& m_arbiter;
    ClientId m_me;
    std::string m_prefix;
    Events m_events;
    std::deque<std::string> m_commands; // commands and their read-backs, before any poll
    std::deque<std::string> m_polls;
    std::optional<std::string> m_onLine; // the code whose end is awaited
    bool m_onLineIsPoll = false;
    unsigned m_polled = 0; // polls since the projector stopped answering
    std::optional<bool> m_online;
};

} // namespace vk9::gate::mqtt
