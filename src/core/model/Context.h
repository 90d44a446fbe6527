#pragma once

#include "model/PanelState.h"
#include "ports/SerialPort.h"
#include "ports/Timers.h"
#include "ports/View.h"

namespace vk9 {

// What every handler works on: the state record and the three ports.
struct Context {
    PanelState& state;
    Timers& timers;
    SerialPort& port;
    View& view;
};

} // namespace vk9
