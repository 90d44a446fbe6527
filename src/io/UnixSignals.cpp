#include "io/UnixSignals.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace vk9::qt {

namespace {

int g_pair[2] = {-1, -1}; // [0] written by the signal handler, [1] read by the notifier

// Async-signal-safe: one write to a socket that never blocks (a signal that finds it full
// is one already on its way), and errno as the interrupted code left it.
void writeSignal(int number) {
    const int saved = errno;
    const auto byte = static_cast<unsigned char>(number);
    [[maybe_unused]] const auto n = ::write(g_pair[0], &byte, 1);
    errno = saved;
}

} // namespace

UnixSignals::UnixSignals(std::initializer_list<int> numbers, std::function<void(int)> handler,
                         QObject* parent)
    : QObject(parent), m_handler(std::move(handler)) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, g_pair) != 0) {
        return;
    }
    m_notifier = new QSocketNotifier(g_pair[1], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, [this] {
        unsigned char byte = 0;
        while (::read(g_pair[1], &byte, 1) == 1) {
            if (m_handler) {
                m_handler(byte);
            }
        }
    });
    struct sigaction action {};
    action.sa_handler = writeSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int number : numbers) {
        struct sigaction before {};
        if (::sigaction(number, &action, &before) == 0) {
            m_before.emplace_back(number, before);
        }
    }
}

UnixSignals::~UnixSignals() {
    for (const auto& [number, before] : m_before) {
        ::sigaction(number, &before, nullptr); // whatever handled it before
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
