#pragma once

#include "context/LinePacing.h"
#include "model/PanelState.h"
#include "ports/Diagnostics.h"
#include "ports/SerialPort.h"
#include "ports/Timers.h"
#include "ports/View.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace vk9 {

// Who started an open whose outcome is still to come; the outcome ends it as that kind of
// open ends.
enum class OpenedBy : std::uint8_t { StartUp, Operator, Reconnect };

struct PendingOpen {
    int port;      // the port it opens
    int otherPort; // where the number goes back to if it fails
    OpenedBy by;
};

// What the panel keeps about its line between events, beside the state record.
struct LineStatus {
    std::optional<PendingOpen> pending;
    bool shown = false;                // the window is on screen
    std::optional<std::string> untold; // a start-up failure, told once the window is shown
    // A line that went away and comes back by itself: where to, and the wait before the
    // next try. Empty: not reconnecting.
    std::string reconnecting;
    std::chrono::milliseconds retryIn{0};
    LinePacing pacing; // of the repeat, by the frames written since the last press
};

// What every handler works on: the state record, the line's status and the four ports.
struct Context {
    PanelState& state;
    LineStatus& line;
    Timers& timers;
    SerialPort& port;
    View& view;
    Diagnostics& diagnostics;
};

} // namespace vk9
