#pragma once

#include <chrono>
#include <cstdint>

namespace vk9 {

// The five timers of the window, and the one that paces the reconnection of a line that
// went away.
enum class TimerId : std::uint8_t { Timer1, Timer2, Timer3, Timer4, Timer5, Reconnect };
inline constexpr int kTimerCount = 6;

// A timer, once started, ticks every interval until stopped; handlers that want one tick
// stop it themselves.
//
// Rules every implementation keeps:
// - setInterval() on a running timer restarts its count from now; on a stopped timer it only
//   stores the interval.
// - start() restarts the count from now, whether or not the timer runs: the reply window,
//   the clearing of the boxes and the settings frame's five seconds all count from the
//   latest transmission or click. The repeat timer is never started while it runs, so its
//   ticks keep their own deadlines and do not drift.
class Timers {
public:
    virtual ~Timers() = default;
    virtual void setInterval(TimerId id, std::chrono::milliseconds interval) = 0;
    virtual std::chrono::milliseconds interval(TimerId id) const = 0;
    virtual void start(TimerId id) = 0;
    virtual void stop(TimerId id) = 0;
    virtual bool isRunning(TimerId id) const = 0;
};

} // namespace vk9
