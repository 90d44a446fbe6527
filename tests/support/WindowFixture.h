#pragma once

#include "Form1.h"
#include "Pty.h"

#include <QAbstractButton>
#include <QLabel>
#include <QMessageBox>
#include <QtTest>

#include <memory>

namespace vk9::test {

// The real window, shown and active, its controls found by object name. Port 1 is the
// device given (a simulator), or else a pseudo-terminal whose far end the test plays.
// Warning boxes stay open until the test closes them, as the operator would.
struct PanelWindow {
    std::unique_ptr<Pty> pty;
    std::unique_ptr<qt::Form1> form;
    QByteArray line; // everything that reached the far end so far

    explicit PanelWindow(QString device = {}, const qt::LaunchOptions& options = {}) {
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

    // The warning boxes open now, as the operator sees them: "TITLE: TEXT".
    static QStringList warnings() {
        QStringList open;
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (auto* box = qobject_cast<QMessageBox*>(w); box != nullptr && box->isVisible()) {
                open << box->windowTitle() + ": " + box->text();
            }
        }
        return open;
    }
    // The operator presses OK on each.
    static void dismissWarnings() {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (auto* box = qobject_cast<QMessageBox*>(w); box != nullptr && box->isVisible()) {
                QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
            }
        }
        QCoreApplication::processEvents();
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
