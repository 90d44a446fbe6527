#pragma once

#include <QByteArray>
#include <QString>

#include <fcntl.h>
#include <pty.h>
#include <unistd.h>

namespace vk9::test {

// A pseudo-terminal pair: the panel opens the device by name, the test plays the line's
// other end on the master descriptor.
class Pty {
public:
    Pty() {
        char name[256] = {};
        if (openpty(&m_master, &m_slave, name, nullptr, nullptr) == 0) {
            m_name = QString::fromLocal8Bit(name);
            // Raw: no echo, no line discipline between the two ends.
            termios tio{};
            tcgetattr(m_slave, &tio);
            cfmakeraw(&tio);
            tcsetattr(m_slave, TCSANOW, &tio);
            fcntl(m_master, F_SETFL, fcntl(m_master, F_GETFL) | O_NONBLOCK);
        }
    }
    ~Pty() {
        closeMaster();
        if (m_slave >= 0) {
            ::close(m_slave);
        }
    }
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    bool ok() const { return !m_name.isEmpty(); }
    const QString& device() const { return m_name; }
    int slave() const { return m_slave; }

    QByteArray readAvailable() {
        QByteArray out;
        char buf[4096];
        while (m_master >= 0) {
            const ssize_t n = ::read(m_master, buf, sizeof buf);
            if (n <= 0) {
                break;
            }
            out.append(buf, n);
        }
        return out;
    }
    void send(const QByteArray& bytes) {
        if (m_master >= 0) {
            [[maybe_unused]] const auto n = ::write(m_master, bytes.constData(), bytes.size());
        }
    }
    void closeMaster() {
        if (m_master >= 0) {
            ::close(m_master);
            m_master = -1;
        }
    }
    void closeSlave() {
        if (m_slave >= 0) {
            ::close(m_slave);
            m_slave = -1;
        }
    }

private:
    int m_master = -1;
    int m_slave = -1;
    QString m_name;
};

} // namespace vk9::test
