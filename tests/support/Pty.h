#pragma once

#include <QByteArray>
#include <QString>

#include <fcntl.h>
#include <pty.h>
#include <unistd.h>

namespace vk9::test {

// A raw pseudo-terminal pair: the panel opens the device by name, the test plays the
// line's far end on the master. Destroying it makes the line vanish.
class Pty {
public:
    Pty() {
        char name[256] = {};
        if (openpty(&m_master, &m_slave, name, nullptr, nullptr) == 0) {
            m_name = QString::fromLocal8Bit(name);
            termios tio{};
            tcgetattr(m_slave, &tio);
            cfmakeraw(&tio);
            tcsetattr(m_slave, TCSANOW, &tio);
            fcntl(m_master, F_SETFL, fcntl(m_master, F_GETFL) | O_NONBLOCK);
        }
    }
    ~Pty() {
        ::close(m_master);
        ::close(m_slave);
    }
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    const QString& device() const { return m_name; }
    int slave() const { return m_slave; }
    QByteArray readAvailable() {
        QByteArray out;
        char buf[4096];
        for (ssize_t n; (n = ::read(m_master, buf, sizeof buf)) > 0;) {
            out.append(buf, n);
        }
        return out;
    }
    void send(const QByteArray& bytes) {
        [[maybe_unused]] const auto n = ::write(m_master, bytes.constData(), bytes.size());
    }

private:
    int m_master = -1;
    int m_slave = -1;
    QString m_name;
};

} // namespace vk9::test
