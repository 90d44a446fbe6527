#pragma once

#include "context/Context.h"

namespace vk9 {

// Runs the start-up sequence. A port 1 that does not open is told once the window is on
// screen.
void startUp(Context& ctx);
void shutDown(Context& ctx); // "END"
void handleKeyDown(Context& ctx, int key, int shiftState);

} // namespace vk9
