#pragma once

#include "ports/Timers.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>

namespace vk9::test {

using std::chrono::milliseconds;

// Timers on virtual time. advance() is the only way time moves: due timers fire in
// deadline order (ties in the order they were armed), "now" is set to each deadline before
// its tick, and a tick may stop, restart or re-time any timer.
class VirtualClock final : public Timers {
public:
    VirtualClock();

    void onTick(std::function<void(TimerId)> handler) { m_handleTick = std::move(handler); }
    void advance(milliseconds span);
    milliseconds now() const { return m_now; }

    void setInterval(TimerId id, milliseconds interval) override;
    milliseconds interval(TimerId id) const override { return slot(id).interval; }
    void start(TimerId id) override;
    void stop(TimerId id) override { slot(id).running = false; }
    bool isRunning(TimerId id) const override { return slot(id).running; }

private:
    struct Slot {
        milliseconds interval{0};
        milliseconds deadline{0};
        bool running = false;
        std::uint64_t armed = 0;
    };
    Slot& slot(TimerId id) { return m_slots[static_cast<std::size_t>(id)]; }
    const Slot& slot(TimerId id) const { return m_slots[static_cast<std::size_t>(id)]; }
    void arm(Slot& s);

    std::array<Slot, kTimerCount> m_slots{};
    milliseconds m_now{0};
    std::uint64_t m_sequence = 0;
    std::function<void(TimerId)> m_handleTick;
};

} // namespace vk9::test
