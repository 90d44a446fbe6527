#pragma once

#include "model/PanelState.h"
#include "ports/SerialPort.h"
#include "ports/Timers.h"
#include "ports/View.h"

#include <optional>
#include <string>

namespace vk9 {

// What the panel keeps about its line between events, beside the state record: a port
// choice whose network line is still connecting, and a start-up failure that waits for the
// window to be on screen.
struct LineStatus {
    int pendingPort = 0; // the port a pending choice opens; 0: none pending
    int otherPort = 0;   // where the number goes back to if it fails
    bool byOperator = false;
    bool shown = false; // the window is on screen
    std::optional<std::string> untold;
};

// What every handler works on: the state record, the line's status and the three ports.
struct Context {
    PanelState& state;
    LineStatus& line;
    Timers& timers;
    SerialPort& port;
    View& view;
};

} // namespace vk9
