#pragma once

#include "context/RepeatPacing.h"
#include "context/RetryWaits.h"
#include "model/PanelState.h"
#include "ports/Diagnostics.h"
#include "ports/SerialPort.h"
#include "ports/Timers.h"
#include "ports/View.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace vk9 {

// Who started an open whose outcome is still to come; the outcome ends it as that kind of
// open ends.
enum class OpenedBy : std::uint8_t { StartUp, Operator, Reconnect };

struct PendingOpen {
    int port;      // the port it opens
    int otherPort; // where the number goes back to if it fails
    OpenedBy by;
};

// What the warning box shows, as far as the panel knows.
enum class Warning : std::uint8_t { None, LostLine, Other };

// What the panel keeps about its port between events, beside the state record.
struct PortStatus {
    std::optional<PendingOpen> pending;
    bool shown = false;                                  // the window is on screen
    std::vector<std::pair<Warning, std::string>> untold; // before the window is on screen
    Warning warning = Warning::None;
    // A line that went away and comes back by itself: where to (empty: not reconnecting),
    // and the waits between its tries. A line that has opened again is on trial for a
    // second: one that goes at once has turned the connection away, and is tried again.
    std::string reconnecting;
    bool onTrial = false;
    RetryWaits waits{std::chrono::seconds(30)};
    bool unsentTold = false; // a click not sent has been told in the warning box, and none
                             // has been sent since
    RepeatPacing pacing;     // of the repeat, by the frames written since the last press
};

// What every handler works on: the state record, the line's status and the four ports.
struct Context {
    PanelState& state;
    PortStatus& portStatus;
    Timers& timers;
    SerialPort& port;
    View& view;
    Diagnostics& diagnostics;
};

} // namespace vk9
