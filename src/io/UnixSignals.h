#pragma once

#include <QObject>

#include <csignal>

#include <functional>
#include <initializer_list>
#include <utility>
#include <vector>

class QSocketNotifier;

namespace vk9::qt {

// Unix signals (SIGTERM, SIGINT, SIGHUP) as events of the Qt event loop: the signal handler
// only writes the signal's number to a socket pair, and a QSocketNotifier reads it and calls
// the handler from the event loop, where anything may be done. One at a time per process.
class UnixSignals final : public QObject {
public:
    UnixSignals(std::initializer_list<int> numbers, std::function<void(int)> handler,
                QObject* parent = nullptr);
    ~UnixSignals() override; // the handlers the signals had before come back
    UnixSignals(const UnixSignals&) = delete;
    UnixSignals& operator=(const UnixSignals&) = delete;

private:
    std::function<void(int)> m_handler;
    QSocketNotifier* m_notifier = nullptr;
    std::vector<std::pair<int, struct sigaction>> m_before;
};

} // namespace vk9::qt
