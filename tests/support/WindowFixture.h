#pragma once

#include "Fixture.h"
#include "Form1.h"

#include <QAbstractButton>
#include <QLabel>
#include <QMessageBox>
#include <QtTest>

#include <fcntl.h>
#include <pty.h>
#include <unistd.h>

#include <memory>

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

// The real window, shown and active, its controls found by object name. Port 1 is the
// device given (a simulator), or else a pseudo-terminal whose far end the test plays.
struct PanelWindow {
    std::unique_ptr<Pty> pty;
    struct {
        QStringList texts;
        QString title;
    } warnings; // each modal warning box, closed as soon as it appears
    QTimer boxCloser;
    std::unique_ptr<qt::Form1> form;
    QByteArray line; // everything that reached the far end so far

    explicit PanelWindow(QString device = {}, const qt::LaunchOptions& options = {}) {
        QObject::connect(&boxCloser, &QTimer::timeout, [this] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                warnings.texts << box->text();
                warnings.title = box->windowTitle();
                box->accept();
            }
        });
        boxCloser.start(10);
        if (device.isEmpty()) {
            pty = std::make_unique<Pty>();
            device = pty->device;
        }
        qputenv("VK9RSC_COM1", device.toLocal8Bit());
        form = std::make_unique<qt::Form1>(options);
        form->show();
        form->activateWindow();
        if (!QTest::qWaitForWindowActive(form.get())) {
            failTest("the window did not become active");
        }
    }

    template <class W = QWidget> W* get(const QString& name) const {
        return form->findChild<W*>(name);
    }
    QString text(const QString& name) const { return get<QLabel>(name)->text(); }
    void click(const QString& name) { get<QAbstractButton>(name)->click(); }
    // Mouse events as the window gets them, at the control's centre.
    void mouse(bool press, const QString& name, Qt::MouseButton button = Qt::LeftButton) {
        QWidget* w = get(name);
        const QPoint at = w->mapTo(form.get(), w->rect().center());
        press ? QTest::mousePress(form->windowHandle(), button, {}, at)
              : QTest::mouseRelease(form->windowHandle(), button, {}, at);
    }
    int copies(const QByteArray& frame) {
        if (pty) {
            line += pty->read();
        }
        return int(line.count(frame));
    }
    int settledCopies(const QByteArray& frame) { // after any stray copy has arrived
        QTest::qWait(400);
        return copies(frame);
    }
};

} // namespace vk9::test
