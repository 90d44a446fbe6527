#pragma once

#include <chrono>
#include <cstdint>

namespace vk9 {

enum class TimerId : std::uint8_t { Timer1, Timer2, Timer3, Timer4, Timer5 };
inline constexpr int kTimerCount = 5;

// The five timers of the window. A timer, once started, ticks every interval until stopped;
// handlers that want one tick stop it themselves.
//
// Rules every implementation keeps:
// - setInterval() on a running timer restarts its count from now; on a stopped timer it only
//   stores the interval.
// - start() on a running timer leaves it alone: its count goes on. A repeat timer that keeps
//   its own deadlines never drifts, and a burst of transmissions keeps the reply window of
//   the first one.
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
