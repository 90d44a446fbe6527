#pragma once

#include "Form1.h"
#include "Pty.h"

#include <QAbstractButton>
#include <QMessageBox>
#include <QtTest>

#include <memory>

namespace vk9::test {

// Closes each modal warning box as soon as it appears, keeping its title and text.
struct WarningCatcher {
    QStringList texts;
    QString title;
    QTimer timer;

    WarningCatcher() {
        timer.setInterval(10);
        QObject::connect(&timer, &QTimer::timeout, [this] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                texts << box->text();
                title = box->windowTitle();
                box->accept();
            }
        });
        timer.start();
    }
};

// The real window, shown and active. Port 1 is the device given (a simulator), or else a
// pseudo-terminal whose far end the test plays.
struct PanelWindow {
    std::unique_ptr<Pty> pty;
    WarningCatcher warnings;
    std::unique_ptr<qt::Form1> form;
    QByteArray line; // everything that reached the far end so far

    explicit PanelWindow(QString device = {}) {
        if (device.isEmpty()) {
            pty = std::make_unique<Pty>();
            device = pty->device();
        }
        qputenv("VK9RSC_COM1", device.toLocal8Bit());
        form = std::make_unique<qt::Form1>();
        form->show();
        form->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(form.get()));
    }

    template <class W = QWidget> W* get(Control id) const {
        return qobject_cast<W*>(form->control(id));
    }
    QWindow* window() const { return form->windowHandle(); }
    // The control's rectangle and centre in the window's client area, in pixels.
    QRect inWindow(Control id) const {
        QWidget* w = form->control(id);
        return {w->mapTo(form.get(), QPoint(0, 0)), w->size()};
    }
    QPoint centreOf(Control id) const { return inWindow(id).center(); }
    void click(Control id) { get<QAbstractButton>(id)->click(); }
    int copies(const QByteArray& frame) {
        if (pty) {
            line += pty->readAvailable();
        }
        return int(line.count(frame));
    }
    // Waits long enough for any stray copy to arrive, then counts.
    int settledCopies(const QByteArray& frame) {
        QTest::qWait(400);
        return copies(frame);
    }
};

} // namespace vk9::test
