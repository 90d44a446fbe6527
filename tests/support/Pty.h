#pragma once

#include "Fixture.h"

#include <QByteArray>
#include <QString>

#include <fcntl.h>
#include <pty.h>
#include <unistd.h>

namespace vk9::test {

// A raw pseudo-terminal pair: the panel opens the device by name, the test plays the
// line's far end on the master. Destroying it makes the line vanish.
struct Pty {
    int master = -1;
    int slave = -1;
    QString device;

    Pty() {
        char name[256] = {};
        termios raw{};
        cfmakeraw(&raw);
        if (openpty(&master, &slave, name, &raw, nullptr) != 0) {
            failTest("no pseudo-terminal");
        }
        device = QString::fromLocal8Bit(name);
        fcntl(master, F_SETFL, O_NONBLOCK);
    }
    ~Pty() { ::close(master), ::close(slave); }
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;
    void send(const QByteArray& bytes) {
        [[maybe_unused]] const auto n = ::write(master, bytes.constData(), bytes.size());
    }
    QByteArray read() {
        QByteArray out;
        char buf[4096];
        for (ssize_t n; (n = ::read(master, buf, sizeof buf)) > 0;) {
            out.append(buf, n);
        }
        return out;
    }
};

} // namespace vk9::test
