#include "Form1.h"

#include "support/Pty.h"

#include <QPushButton>
#include <QtTest>

using namespace vk9;
using namespace vk9::qt;
using namespace vk9::test;

namespace {

struct HeldPanel {
    Pty pty;
    std::unique_ptr<Form1> form;
    QByteArray line; // everything that reached the other end

    HeldPanel() {
        qputenv("VK9RSC_COM1", pty.device().toLocal8Bit());
        form = std::make_unique<Form1>();
        form->show();
        form->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(form.get()));
    }
    QWindow* window() const { return form->windowHandle(); }
    QPoint centreOf(Control id) const {
        QWidget* w = form->control(id);
        return w->mapTo(form.get(), w->rect().center());
    }
    int copies(const QByteArray& frame) {
        line += pty.readAvailable();
        return int(line.count(frame));
    }
    // Waits long enough for any stray copy to arrive, then counts.
    int settledCopies(const QByteArray& frame) {
        QTest::qWait(400);
        return copies(frame);
    }
};

} // namespace

class TstHoldWindow : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { prepareApplication(*qApp); }
    void rightButtonRepeatsAndReleaseOutsideStops();
    void keyboardNeverSends();
    void deactivationDuringAHoldStopsTheRepeat();
    void hidingTheHeldButtonStopsTheRepeat();
};

void TstHoldWindow::rightButtonRepeatsAndReleaseOutsideStops() {
    HeldPanel p;
    QTest::mousePress(p.window(), Qt::RightButton, {}, p.centreOf(Control::Command1)); // VOL +
    QTRY_VERIFY(p.copies("C09\r") >= 2);
    // Released far away, over another button: the pressed button gets the release.
    QTest::mouseRelease(p.window(), Qt::RightButton, {}, p.centreOf(Control::Command16));
    const int atRelease = p.copies("C09\r");
    QCOMPARE(p.settledCopies("C09\r"), atRelease);
    QVERIFY(p.form->isVisible()); // "END" under the pointer did not fire
    QCOMPARE(p.form->state().repeatCode, 0);
}

void TstHoldWindow::keyboardNeverSends() {
    HeldPanel p;
    QWidget* plus = p.form->control(Control::Command15); // Zoom +
    plus->setFocus();
    QTest::keyClick(p.window(), Qt::Key_Space);
    QTest::keyPress(p.window(), Qt::Key_Space);
    QCOMPARE(p.settledCopies("C47\r"), 0);
    QTest::keyRelease(p.window(), Qt::Key_Space);
    QCOMPARE(p.settledCopies("C47\r"), 0);
}

void TstHoldWindow::deactivationDuringAHoldStopsTheRepeat() {
    HeldPanel p;
    QTest::mousePress(p.window(), Qt::LeftButton, {}, p.centreOf(Control::Command59));
    QTRY_VERIFY(p.copies("C5D\r") >= 2);
    QWidget other;
    other.show();
    other.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&other));
    const int atLoss = p.copies("C5D\r");
    QVERIFY(p.settledCopies("C5D\r") <= atLoss + 1); // one may be on its way
    QCOMPARE(p.form->state().repeatCode, 0);
}

void TstHoldWindow::hidingTheHeldButtonStopsTheRepeat() {
    HeldPanel p;
    QTest::mousePress(p.window(), Qt::LeftButton, {}, p.centreOf(Control::Command6)); // SELECT
    QTRY_COMPARE(p.copies("C3F\r"), 1);
    p.form->control(Control::Command6)->hide();
    QCOMPARE(p.form->state().repeatCode, 0);
    QTest::mouseRelease(p.window(), Qt::LeftButton, {}, p.centreOf(Control::Command6));
    QCOMPARE(p.settledCopies("C3F\r"), 1);
}

QTEST_MAIN(TstHoldWindow)
#include "tst_holdwindow.moc"
