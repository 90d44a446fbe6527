#include "Form1.h"

#include "support/Pty.h"

#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QtTest>

#include <random>

using namespace vk9;
using namespace vk9::qt;
using namespace vk9::test;

namespace {

struct Drill {
    std::unique_ptr<Pty> pty = std::make_unique<Pty>();
    std::unique_ptr<Form1> form;
    QStringList warnings;
    QTimer closer;
    QByteArray line;

    Drill() {
        qputenv("VK9RSC_COM1", pty->device().toLocal8Bit());
        closer.setInterval(10);
        QObject::connect(&closer, &QTimer::timeout, [this] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                warnings << box->text();
                box->accept();
            }
        });
        closer.start();
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
    void click(Control id) { qobject_cast<QAbstractButton*>(form->control(id))->click(); }
    int copies(const QByteArray& frame) {
        if (pty) {
            line += pty->readAvailable();
        }
        return int(line.count(frame));
    }
};

} // namespace

class TstDrillsWindow : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { prepareApplication(*qApp); }
    void deviceVanishesMidHold();
    void busyPortIsRefused();
    void floodOfGarbageLeavesThePanelResponsive();
};

void TstDrillsWindow::deviceVanishesMidHold() {
    Drill d;
    QTest::mousePress(d.window(), Qt::LeftButton, {}, d.centreOf(Control::Command15)); // Zoom +
    QTRY_VERIFY(d.copies("C47\r") >= 3);
    d.pty.reset(); // the adapter is pulled
    QTRY_COMPARE(d.warnings.size(), 1);
    QCOMPARE(d.form->state().repeatCode, 0);
    QVERIFY(!d.form->serialPort().isOpen());
    QVERIFY(!d.form->timers().isRunning(TimerId::Timer1));
    QTest::mouseRelease(d.window(), Qt::LeftButton, {}, d.centreOf(Control::Command15));
    QTest::qWait(100);
    QCOMPARE(d.warnings.size(), 1);

    // Plugged in again: choosing the port brings the panel back on line.
    d.pty = std::make_unique<Pty>();
    qputenv("VK9RSC_COM1", d.pty->device().toLocal8Bit());
    d.click(Control::Command33);
    QTest::mouseClick(d.form->control(Control::Option1), Qt::LeftButton);
    QVERIFY(d.form->serialPort().isOpen());
    d.click(Control::Command17);
    QTRY_COMPARE(d.copies("C00\r"), 1);
}

void TstDrillsWindow::busyPortIsRefused() {
    Drill d;
    QTemporaryDir dir;
    Pty second;
    const QString link = dir.filePath("com2");
    QVERIFY(QFile::link(second.device(), link));
    QSerialPort elsewhere(link); // another program holds the port
    QVERIFY(elsewhere.open(QIODevice::ReadWrite));
    qputenv("VK9RSC_COM2", link.toLocal8Bit());
    d.click(Control::Command33);
    QTest::mouseClick(d.form->control(Control::Option2), Qt::LeftButton);
    QTRY_COMPARE(d.warnings.size(), 1);
    QVERIFY(d.warnings.front().contains(link));
    QVERIFY(!d.form->serialPort().isOpen());
    QCOMPARE(d.form->serialPort().portNumber(), 1);
    QVERIFY(d.form->control(Control::Frame8)->isVisible());
    elsewhere.close();
    QTest::mouseClick(d.form->control(Control::Option2), Qt::LeftButton); // free now
    QVERIFY(d.form->serialPort().isOpen());
    qunsetenv("VK9RSC_COM2");
}

void TstDrillsWindow::floodOfGarbageLeavesThePanelResponsive() {
    Drill d;
    std::mt19937 random(11);
    QByteArray garbage(256 * 1024, '\0');
    for (char& c : garbage) {
        c = static_cast<char>(random());
    }
    for (qsizetype at = 0; at < garbage.size(); at += 4096) {
        d.pty->send(garbage.mid(at, 4096));
        QCoreApplication::processEvents();
    }
    QTest::qWait(100);
    QVERIFY(d.form->state().receiveBuffer.size() <= 1024);
    // Still answering: a query after the garbage's reply window is decoded.
    d.click(Control::Command44);
    QTest::qWait(600);
    d.click(Control::Command44);
    d.pty->send("00\r");
    QTRY_COMPARE(qobject_cast<QLabel*>(d.form->control(kStatusBox))->text(),
                 QStringLiteral(" Power ON"));
}

QTEST_MAIN(TstDrillsWindow)
#include "tst_drillswindow.moc"
