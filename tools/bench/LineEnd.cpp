#include "LineEnd.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <utility>

namespace vk9::bench {

LineEnd::LineEnd(int bytesPerSecond, Answers answers)
    : m_bytesPerSecond(bytesPerSecond), m_answers(answers) {
    char name[256] = {};
    if (openpty(&m_master, &m_slave, name, nullptr, nullptr) != 0) {
        m_master = m_slave = -1;
        return;
    }
    termios tio{};
    tcgetattr(m_slave, &tio);
    cfmakeraw(&tio);
    tcsetattr(m_slave, TCSANOW, &tio);
    m_device = name;
    m_thread = std::thread([this] { run(); });
}

LineEnd::~LineEnd() {
    m_stop = true;
    if (m_thread.joinable()) {
        m_thread.join();
    }
    if (m_master >= 0) {
        ::close(m_master);
    }
    if (m_slave >= 0) {
        ::close(m_slave);
    }
}

void LineEnd::send(const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(m_master, bytes.data() + done, bytes.size() - done);
        if (n <= 0) {
            return;
        }
        done += static_cast<std::size_t>(n);
    }
}

std::vector<LineEnd::Frame> LineEnd::takeFrames() {
    std::lock_guard lock(m_mutex);
    return std::exchange(m_frames, {});
}

void LineEnd::run() {
    char buf[4096];
    pollfd pfd{m_master, POLLIN, 0};
    const auto characterTime = m_bytesPerSecond > 0
                                   ? std::chrono::nanoseconds(1000000000 / m_bytesPerSecond)
                                   : std::chrono::nanoseconds(0);
    Clock::time_point lineFree{};
    while (!m_stop) {
        if (::poll(&pfd, 1, 5) <= 0) {
            continue;
        }
        // At a line's rate one byte at a time: the rest waits in the pseudo-terminal, as it
        // would wait in an adapter's or a device server's buffer.
        const ssize_t n = ::read(m_master, buf, m_bytesPerSecond > 0 ? 1 : sizeof buf);
        Clock::time_point now = Clock::now();
        if (n <= 0) {
            continue;
        }
        if (m_bytesPerSecond > 0) {
            const Clock::time_point start = std::max(now, lineFree);
            lineFree = start + characterTime;
            std::this_thread::sleep_until(lineFree);
            now = lineFree;
        }
        std::lock_guard lock(m_mutex);
        if (m_answers == Answers::Projectors) {
            const auto ms =
                std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch());
            for (const sim::Answer& a :
                 m_projectors.feed(std::string(buf, std::size_t(n)), ms.count())) {
                [[maybe_unused]] const auto w = ::write(m_master, a.reply.data(), a.reply.size());
            }
        }
        for (ssize_t i = 0; i < n; ++i) {
            if (m_partial.text.empty()) {
                m_partial.firstByte = now;
            }
            m_partial.text += buf[i];
            if (buf[i] == '\r') {
                m_partial.lastByte = now;
                m_frames.push_back(std::exchange(m_partial, {}));
                if (m_answers == Answers::Acknowledgements) {
                    [[maybe_unused]] const auto w = ::write(m_master, "\x06\r", 2);
                }
            }
        }
    }
}

} // namespace vk9::bench
