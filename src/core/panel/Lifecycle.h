#pragma once

#include "context/Context.h"

namespace vk9 {

// Runs the start-up sequence. A port 1 that does not open is told once the window is on
// screen.
void startUp(Context& ctx);
// "END", the window's close button, or a signal: any hold released, the line closed, the
// program ended.
void shutDown(Context& ctx);

} // namespace vk9
