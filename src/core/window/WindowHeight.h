#pragma once

#include "context/Context.h"

#include <string_view>

namespace vk9 {

// The window's height, which decides how much of the panel is in view, and the two ways the
// operator changes it: the data display button and Ctrl+J.

inline constexpr std::string_view kShowDataCaption = "データを表示する";   // show data
inline constexpr std::string_view kHideDataCaption = "データを表示しない"; // hide data

// Shift state bits of a key press, as the key handler masks them.
inline constexpr int kShiftBit = 1;
inline constexpr int kCtrlBit = 2;
inline constexpr int kAltBit = 4;
inline constexpr int kKeyJ = 'J';

void toggleDataDisplay(Context& ctx); // Command34: short and taller, and Timer3 again
// Ctrl+J, and only Ctrl+J, opens the whole panel. The key goes on to the focused control
// either way.
void handleKeyDown(Context& ctx, int key, int shiftState);

} // namespace vk9
