#include "QtTimers.h"

#include "model/Layout.h"

namespace vk9::qt {

QtTimers::QtTimers(QObject* parent) : QObject(parent) {
    for (int i = 0; i < kTimerCount; ++i) {
        auto& t = m_timers[static_cast<std::size_t>(i)];
        // Precise on every platform: repeat periods go down to 5 ms.
        t.setTimerType(Qt::PreciseTimer);
        if (static_cast<std::size_t>(i) < kDesignedTimerIntervals.size()) {
            t.setInterval(kDesignedTimerIntervals[static_cast<std::size_t>(i)]);
        }
        const auto id = static_cast<TimerId>(i);
        connect(&t, &QTimer::timeout, this, [this, id] {
            if (m_handleTick) {
                m_handleTick(id);
            }
        });
    }
}

void QtTimers::setInterval(TimerId id, std::chrono::milliseconds interval) {
    timer(id).setInterval(interval); // restarts a running timer's count, as the panel expects
}

std::chrono::milliseconds QtTimers::interval(TimerId id) const {
    return timer(id).intervalAsDuration();
}

void QtTimers::start(TimerId id) {
    timer(id).start(); // restarts a running timer's count
}

void QtTimers::stop(TimerId id) {
    timer(id).stop();
}

bool QtTimers::isRunning(TimerId id) const {
    return timer(id).isActive();
}

} // namespace vk9::qt
