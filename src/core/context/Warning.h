#pragma once

#include "context/Context.h"

#include <string>

namespace vk9 {

// The one warning box: at most one is open, and a newer warning takes the place of the open
// one's text; nothing waits for the operator to close it. Warnings that come before the
// window is on screen wait, and are shown together once it is.
void warnOperator(Context& ctx, const std::string& text, Warning about = Warning::Other);
// The lost line is back by itself: its warning closes, if it is still the one open.
void withdrawLossWarning(Context& ctx);
void windowShown(Context& ctx);

} // namespace vk9
