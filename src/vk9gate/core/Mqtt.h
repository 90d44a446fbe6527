#pragma once

#include "protocol/Frames.h"
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
// topics and the broker are the shell's; this is the codec and the table.

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
    std::string_view stateClass{}; // "measurement", or "total_increasing" for a count
    bool diagnostic = false;       // shown apart from the controls
};

using protocol::codeNamed;
using protocol::kInputQuery;
using protocol::kLampHoursQuery;
using protocol::kLampModeQuery;
using protocol::kPowerQuery;
using protocol::kReversalQuery;
using protocol::kTemperatureQuery;

// clang-format off
inline constexpr std::array kEntities{
    EntityRow{"power", Kind::Switch, "Power",
              {{{"ON", codeNamed("power-on")}, {"OFF", codeNamed("power-off")}}}, kPowerQuery},
    EntityRow{"power_state", Kind::Sensor, "Power state", {}, kPowerQuery},
    EntityRow{"input", Kind::Select, "Input",
              {{{"Input 1", codeNamed("mode-set-1")}, {"Input 2", codeNamed("mode-set-2")},
                {"Input 3", codeNamed("mode-set-3")}, {"Input 4", codeNamed("mode-set-4")}}}, kInputQuery},
    EntityRow{"lamp_hours", Kind::Sensor, "Lamp hours", {}, kLampHoursQuery, "h", "duration", "total_increasing", true},
    EntityRow{"lamp_mode", Kind::Select, "Lamp mode",
              {{{"4 lamps", codeNamed("lamp-4")}, {"Lamps 1 and 4", codeNamed("lamp-1-4")},
                {"Lamps 2 and 3", codeNamed("lamp-2-3")}}}, kLampModeQuery},
    EntityRow{"temperature_s1", Kind::Sensor, "Temperature S1", {}, kTemperatureQuery, "°C", "temperature", "measurement", true},
    EntityRow{"temperature_s2", Kind::Sensor, "Temperature S2", {}, kTemperatureQuery, "°C", "temperature", "measurement", true},
    EntityRow{"picture_reversal", Kind::Sensor, "Picture reversal", {}, kReversalQuery, {}, {}, {}, true},
    EntityRow{"sound_mute", Kind::Switch, "Sound mute",
              {{{"ON", codeNamed("sound-mute-on")}, {"OFF", codeNamed("sound-mute-off")}}}},
    EntityRow{"no_show", Kind::Switch, "No show",
              {{{"ON", codeNamed("no-show-on")}, {"OFF", codeNamed("no-show-off")}}}},
    EntityRow{"freeze", Kind::Switch, "Freeze",
              {{{"ON", codeNamed("freeze-on")}, {"OFF", codeNamed("freeze-off")}}}},
    EntityRow{"av_size", Kind::Select, "AV size",
              {{{"Regular", codeNamed("av-size-regular")}, {"Wide", codeNamed("av-size-wide")}}}},
    EntityRow{"menu_on", Kind::Button, "Menu on", {{{"PRESS", codeNamed("menu-on")}}}},
    EntityRow{"menu_off", Kind::Button, "Menu off", {{{"PRESS", codeNamed("menu-off")}}}},
    EntityRow{"normal", Kind::Button, "Normal", {{{"PRESS", codeNamed("normal")}}}},
    EntityRow{"p_timer", Kind::Button, "P-timer", {{{"PRESS", codeNamed("p-timer")}}}},
    EntityRow{"display_clear", Kind::Button, "Display clear", {{{"PRESS", codeNamed("display-clear")}}}},
    EntityRow{"c01", Kind::Button, "Function C01", {{{"PRESS", codeNamed("c01")}}}},
};
// clang-format on

// Home Assistant's name of each kind's component: "homeassistant/switch/...".
inline constexpr std::array<std::string_view, 4> kComponents{"switch", "sensor", "select",
                                                             "button"};

// The status queries a poll asks, in order.
inline constexpr std::array<std::string_view, 6> kPolled{
    kPowerQuery, kInputQuery, kLampHoursQuery, kReversalQuery, kTemperatureQuery, kLampModeQuery};

const EntityRow* findEntity(std::string_view key);
// The code a command payload stands for, or nothing for a payload that is not one of the
// entity's.
std::optional<std::string_view> commandCode(const EntityRow& row, std::string_view payload);
// The states a status reply gives: (entity key, payload) pairs; "<key>/attributes" for an
// entity's attributes (JSON). Nothing for a reply that cannot be read.
std::vector<std::pair<std::string, std::string>> statesOf(std::string_view code,
                                                          std::string_view reply);

// One projector as Home Assistant's discovery names it.
struct Device {
    std::string base;   // the gate's topics: "vk9/vk9gate-hall"
    std::string gateId; // its client id: "vk9gate-hall"
    std::string node;   // the projector's topics under base: "001", or "single"
    std::string name;   // "Hall left"
    std::string nodeId() const { return gateId + "_" + node; } // "vk9gate-hall_001"
};
// An entity's discovery configuration, as JSON, and the topic it is published on under
// Home Assistant's discovery prefix.
std::string discoveryConfig(const EntityRow& row, const Device& device);
std::string discoveryTopic(std::string_view prefix, const EntityRow& row, const Device& device);

// One projector's MQTT service on the arbiter: polls of the six status queries and the
// commands of its entities, one frame at a time. Their replies reach the gate's projector
// states, which the shell publishes; this only asks. A poll's queries wait while another
// client holds a button. A command that changes a state is followed by the query that reads
// it back. When the power query goes unanswered, the rest of that poll is not asked.
class ProjectorService final : public Client {
public:
    using Log = std::function<void(const std::string& what)>;
    // `waits` is told when a poll's query waits for an operator's hold to end.
    ProjectorService(Arbiter& arbiter, std::string prefix, std::string name, Log log,
                     std::function<void()> waits = {})
        : m_arbiter(arbiter), m_prefix(std::move(prefix)), m_name(std::move(name)),
          m_log(std::move(log)), m_waits(std::move(waits)) {}
    ~ProjectorService() override;
    ProjectorService(const ProjectorService&) = delete;
    ProjectorService& operator=(const ProjectorService&) = delete;

    // Returns false while another client holds a button and the poll waits: poll again
    // shortly.
    bool poll(Time now);
    // One status query, unless it is asked already.
    void ask(Time now, std::string_view code);
    // A command from its topic: false for a payload that is not one of the entity's. Commands
    // go before any poll, in their order; more than 16 frames waiting, and it is dropped.
    bool command(Time now, const EntityRow& row, std::string_view payload);
    void lineLost();

    std::string name() const override { return m_name; }
    void delivered(Ticket, std::string_view) override {} // the states hear it
    void finished(Ticket ticket, const Ending& ending) override;

private:
    void send(Time now);

    Arbiter& m_arbiter;
    std::string m_prefix;
    std::string m_name;
    Log m_log;
    std::function<void()> m_waits;
    std::deque<std::string> m_commands; // commands and their read-backs, before any poll
    std::deque<std::string> m_polls;
    std::optional<Ticket> m_onLine; // the frame whose end is awaited
    std::string m_onLineCode;
    bool m_onLineIsPoll = false;
    Time m_now{0};
};

} // namespace vk9::gate::mqtt
