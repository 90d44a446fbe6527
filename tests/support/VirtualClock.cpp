#include "VirtualClock.h"

#include "model/Layout.h"

#include <algorithm>

namespace vk9::test {

VirtualClock::VirtualClock() {
    for (std::size_t i = 0; i < m_slots.size(); ++i) {
        m_slots[i].interval = milliseconds(kDesignedTimerIntervals[i]);
    }
}

void VirtualClock::arm(Slot& s) {
    s.deadline = m_now + std::max(s.interval, milliseconds(1));
    s.armed = ++m_sequence;
}

void VirtualClock::setInterval(TimerId id, milliseconds interval) {
    Slot& s = slot(id);
    s.interval = interval;
    if (s.running) {
        arm(s); // a new interval restarts a running timer's count
    }
}

void VirtualClock::start(TimerId id) {
    Slot& s = slot(id);
    if (!s.running) {
        s.running = true;
        arm(s);
    }
}

void VirtualClock::advance(milliseconds span) {
    const milliseconds target = m_now + span;
    while (true) {
        Slot* next = nullptr;
        std::size_t nextIndex = 0;
        for (std::size_t i = 0; i < m_slots.size(); ++i) {
            Slot& s = m_slots[i];
            if (!s.running || s.deadline > target) {
                continue;
            }
            if (next == nullptr || s.deadline < next->deadline ||
                (s.deadline == next->deadline && s.armed < next->armed)) {
                next = &s;
                nextIndex = i;
            }
        }
        if (next == nullptr) {
            break;
        }
        m_now = next->deadline;
        arm(*next); // periodic: the next tick is one interval after this deadline
        if (m_handleTick) {
            m_handleTick(static_cast<TimerId>(nextIndex));
        }
    }
    m_now = target;
}

} // namespace vk9::test
