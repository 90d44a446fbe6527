#include "support/WindowFixture.h"

#include <QSerialPort>
#include <QTemporaryDir>

using namespace vk9;
using namespace vk9::qt;
using namespace vk9::test;

class TstWindowDrills : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { prepareApplication(*qApp); }

    void rightButtonRepeatsAndReleaseOutsideStops() {
        PanelWindow p;
        QTest::mousePress(p.window(), Qt::RightButton, {}, p.centreOf(Control::Command1)); // VOL +
        QTRY_VERIFY(p.copies("C09\r") >= 2);
        // Released far away, over another button: the pressed button gets the release.
        QTest::mouseRelease(p.window(), Qt::RightButton, {}, p.centreOf(Control::Command16));
        const int atRelease = p.settledCopies("C09\r"); // the last copy may still be on its way
        QCOMPARE(p.settledCopies("C09\r"), atRelease);
        QVERIFY(p.form->isVisible()); // "END" under the pointer did not fire
        QCOMPARE(p.form->state().repeatCode, 0);
    }

    void keyboardNeverSends() {
        PanelWindow p;
        QWidget* plus = p.form->control(Control::Command15); // Zoom +
        plus->setFocus();
        QTest::keyClick(p.window(), Qt::Key_Space);
        QTest::keyPress(p.window(), Qt::Key_Space);
        QCOMPARE(p.settledCopies("C47\r"), 0);
        QTest::keyRelease(p.window(), Qt::Key_Space);
        QCOMPARE(p.settledCopies("C47\r"), 0);
    }

    void deactivationDuringAHoldStopsTheRepeat() {
        PanelWindow p;
        QTest::mousePress(p.window(), Qt::LeftButton, {}, p.centreOf(Control::Command59));
        QTRY_VERIFY(p.copies("C5D\r") >= 2);
        QWidget other;
        other.show();
        other.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&other));
        const int atLoss = p.settledCopies("C5D\r");
        QCOMPARE(p.settledCopies("C5D\r"), atLoss);
        QCOMPARE(p.form->state().repeatCode, 0);
    }

    void hidingTheHeldButtonStopsTheRepeat() {
        PanelWindow p;
        QTest::mousePress(p.window(), Qt::LeftButton, {}, p.centreOf(Control::Command61));
        QTRY_VERIFY(p.copies("C60\r") >= 2); // LENS SHIFT right, every 50 ms
        p.form->control(Control::Command61)->hide();
        QCOMPARE(p.form->state().repeatCode, 0);
        const int atHide = p.settledCopies("C60\r");
        QCOMPARE(p.settledCopies("C60\r"), atHide);
        QTest::mouseRelease(p.window(), Qt::LeftButton, {}, p.centreOf(Control::Command61));
    }

    void deviceVanishesMidHold() {
        PanelWindow d;
        QTest::mousePress(d.window(), Qt::LeftButton, {}, d.centreOf(Control::Command15)); // Zoom +
        QTRY_VERIFY(d.copies("C47\r") >= 3);
        d.pty.reset(); // the adapter is pulled
        QTRY_COMPARE(d.warnings.texts.size(), 1);
        QCOMPARE(d.form->state().repeatCode, 0);
        QVERIFY(!d.form->serialPort().isOpen());
        QVERIFY(!d.form->timers().isRunning(TimerId::Timer1));
        QTest::mouseRelease(d.window(), Qt::LeftButton, {}, d.centreOf(Control::Command15));
        QTest::qWait(100);
        QCOMPARE(d.warnings.texts.size(), 1);

        // Plugged in again: choosing the port brings the panel back on line.
        d.pty = std::make_unique<Pty>();
        qputenv("VK9RSC_COM1", d.pty->device().toLocal8Bit());
        d.click(Control::Command33);
        QTest::mouseClick(d.form->control(Control::Option1), Qt::LeftButton);
        QVERIFY(d.form->serialPort().isOpen());
        d.click(Control::Command17);
        QTRY_COMPARE(d.copies("C00\r"), 1);
    }

    void busyPortIsRefused() {
        PanelWindow d;
        QTemporaryDir dir;
        Pty second;
        const QString link = dir.filePath("com2");
        QVERIFY(QFile::link(second.device(), link));
        QSerialPort elsewhere(link); // another program holds the port
        QVERIFY(elsewhere.open(QIODevice::ReadWrite));
        qputenv("VK9RSC_COM2", link.toLocal8Bit());
        d.click(Control::Command33);
        QTest::mouseClick(d.form->control(Control::Option2), Qt::LeftButton);
        QTRY_COMPARE(d.warnings.texts.size(), 1);
        QVERIFY(d.warnings.texts.front().contains(link));
        QVERIFY(!d.form->serialPort().isOpen());
        QCOMPARE(d.form->serialPort().portNumber(), 1);
        QVERIFY(d.form->control(Control::Frame8)->isVisible());
        elsewhere.close();
        QTest::mouseClick(d.form->control(Control::Option2), Qt::LeftButton); // free now
        QVERIFY(d.form->serialPort().isOpen());
        qunsetenv("VK9RSC_COM2");
    }
};

QTEST_MAIN(TstWindowDrills)
#include "tst_windowdrills.moc"
