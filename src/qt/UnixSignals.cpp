#include "UnixSignals.h"

#include <QSocketNotifier>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace vk9::qt {

namespace {

int g_pair[2] = {-1, -1}; // [0] written by the signal handler, [1] read by the notifier

void writeSignal(int number) {
    const auto byte = static_cast<unsigned char>(number);
    [[maybe_unused]] const auto n = ::write(g_pair[0], &byte, 1);
}

} // namespace

UnixSignals::UnixSignals(std::initializer_list<int> numbers, std::function<void(int)> handler,
                         QObject* parent)
    : QObject(parent), m_handler(std::move(handler)), m_signals(numbers) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_pair) != 0) {
        return;
    }
    m_notifier = new QSocketNotifier(g_pair[1], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, [this] {
        unsigned char byte = 0;
        if (::read(g_pair[1], &byte, 1) == 1 && m_handler) {
            m_handler(byte);
        }
    });
    struct sigaction action {};
    action.sa_handler = writeSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int number : m_signals) {
        ::sigaction(number, &action, nullptr);
    }
}

UnixSignals::~UnixSignals() {
    for (const int number : m_signals) {
        std::signal(number, SIG_DFL);
    }
    delete m_notifier;
    for (int& fd : g_pair) {
        if (fd >= 0) {
            ::close(fd);
            fd = -1;
        }
    }
}

} // namespace vk9::qt
