#pragma once

#include "model/Context.h"

#include <optional>
#include <string>

namespace vk9 {

// Runs the start-up sequence; returns the port's message when port 1 could not be opened.
std::optional<std::string> startUp(Context& ctx);
// Once the window is on screen: the warning for a port 1 that did not open, if any.
void tellStartUpFailure(Context& ctx, const std::optional<std::string>& failure);
void shutDown(Context& ctx); // "END"
void handleKeyDown(Context& ctx, int key, int shiftState);

} // namespace vk9
