#pragma once

#include "ports/Timers.h"

#include <QObject>
#include <QTimer>

#include <array>
#include <functional>

namespace vk9::qt {

// The five timers as precise QTimers. Ticks go to the handler set with onTick().
class QtTimers final : public QObject, public Timers {
public:
    explicit QtTimers(QObject* parent = nullptr);

    void onTick(std::function<void(TimerId)> handler) { m_handleTick = std::move(handler); }

    void setInterval(TimerId id, std::chrono::milliseconds interval) override;
    std::chrono::milliseconds interval(TimerId id) const override;
    void start(TimerId id) override;
    void stop(TimerId id) override;
    bool isRunning(TimerId id) const override;
    // Until the next tick, for a look from outside (tests).
    std::chrono::milliseconds remaining(TimerId id) const {
        return timer(id).remainingTimeAsDuration();
    }

private:
    QTimer& timer(TimerId id) { return m_timers[static_cast<std::size_t>(id)]; }
    const QTimer& timer(TimerId id) const { return m_timers[static_cast<std::size_t>(id)]; }

    std::array<QTimer, kTimerCount> m_timers;
    std::function<void(TimerId)> m_handleTick;
};

} // namespace vk9::qt
