#pragma once

#include "model/Layout.h"
#include "ports/Timers.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <tuple>

namespace vk9::test {

using std::chrono::milliseconds;

// Timers on virtual time. advance() is the only way time moves: due timers fire in
// deadline order (ties in the order they were armed), "now" is set to each deadline before
// its tick, and a tick may stop, restart or re-time any timer.
class VirtualClock final : public Timers {
public:
    VirtualClock() {
        for (std::size_t i = 0; i < kDesignedTimerIntervals.size(); ++i) {
            m_slots[i].interval = milliseconds(kDesignedTimerIntervals[i]);
        }
    }
    void onTick(std::function<void(TimerId)> handler) { m_handleTick = std::move(handler); }
    milliseconds now() const { return m_now; }

    void advance(milliseconds span) {
        const milliseconds target = m_now + span;
        while (true) {
            const auto next =
                std::min_element(m_slots.begin(), m_slots.end(), [](auto& a, auto& b) {
                    return std::tuple(!a.running, a.deadline, a.armed) <
                           std::tuple(!b.running, b.deadline, b.armed);
                });
            if (!next->running || next->deadline > target) {
                break;
            }
            m_now = next->deadline;
            arm(*next); // periodic: the next tick is one interval after this deadline
            m_handleTick(static_cast<TimerId>(next - m_slots.begin()));
        }
        m_now = target;
    }

    void setInterval(TimerId id, milliseconds interval) override {
        slot(id).interval = interval;
        if (slot(id).running) {
            arm(slot(id)); // a new interval restarts a running timer's count
        }
    }
    milliseconds interval(TimerId id) const override { return m_slots[index(id)].interval; }
    void start(TimerId id) override {
        slot(id).running = true;
        arm(slot(id)); // a running timer's count starts again from now
    }
    void stop(TimerId id) override { slot(id).running = false; }
    bool isRunning(TimerId id) const override { return m_slots[index(id)].running; }

private:
    struct Slot {
        milliseconds interval{0};
        milliseconds deadline{0};
        bool running = false;
        std::uint64_t armed = 0;
    };
    static std::size_t index(TimerId id) { return static_cast<std::size_t>(id); }
    Slot& slot(TimerId id) { return m_slots[index(id)]; }
    void arm(Slot& s) {
        s.deadline = m_now + std::max(s.interval, milliseconds(1));
        s.armed = ++m_sequence;
    }

    std::array<Slot, kTimerCount> m_slots{};
    milliseconds m_now{0};
    std::uint64_t m_sequence = 0;
    std::function<void(TimerId)> m_handleTick;
};

} // namespace vk9::test
