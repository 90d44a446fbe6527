#pragma once

#include "panel/Context.h"

#include <optional>
#include <string>

namespace vk9 {

// Runs the start-up sequence; returns the port's message when port 1 could not be opened.
std::optional<std::string> startUp(Context& ctx);
void shutDown(Context& ctx); // "END"
void handleKeyDown(Context& ctx, int key, int shiftState);

} // namespace vk9
