#pragma once

#include "context/Context.h"

#include <chrono>
#include <string_view>

namespace vk9 {

using namespace std::chrono_literals;

// A line that comes back by itself is tried again after 1 s, then after twice as long each
// time, up to 30 s, while its port stays chosen; the waits start over once it has stayed up
// 30 s (RetryWaits).
inline constexpr auto kSteadyAfter = 30s;
// A line that opens again is back once it has stayed open this long.
inline constexpr auto kTrial = 1s;

// The open line went away (adapter pulled, far end hung up, device server gone): it is
// closed and the operator is told, with the device and the system's reason. A line that
// comes back by itself is then tried again until it does, and the warning closes when it
// does; any other comes back when its port is chosen again.
void handlePortLost(Context& ctx, std::string_view device, std::string_view reason, bool comesBack);
// Tries a network line again later, from the first wait or the last one doubled.
void startReconnecting(Context& ctx, std::string_view device);
void retryLine(Context& ctx);                            // the Reconnect timer
void endRetry(Context& ctx, const SerialResult& opened); // a retry's pending open
void stopReconnecting(Context& ctx);                     // a port is chosen, or the panel ends
// What the operator reads about reconnecting, after a warning's first line.
std::string reconnectingNote(const Context& ctx);

// Something the line has to say (a device server that runs at another speed): always on
// the diagnostics, and in the STATUS box when the operator should see it.
void tellLineNote(Context& ctx, std::string_view device, std::string_view text, bool show);

} // namespace vk9
