#pragma once

#include "context/Context.h"

#include <chrono>
#include <string_view>

namespace vk9 {

using namespace std::chrono_literals;

// Resting intervals of the reply window and of the clearing of the boxes.
inline constexpr auto kReplyWindow = 500ms;
inline constexpr auto kClearDelay = 1000ms;

inline constexpr std::string_view kNoReplyMark = " X X X X";

void endReplyWindow(Context& ctx); // Timer2
void clearBoxes(Context& ctx);     // Timer4

} // namespace vk9
