#include "Form1.h"

#include "panel/Layout.h"
#include "support/Pty.h"

#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QtTest>

using namespace vk9;
using namespace vk9::qt;
using namespace vk9::test;

namespace {

// Closes the modal warning box as soon as it appears and keeps its texts.
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

} // namespace

class TstForm1 : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void startsWithTitleWidthAndShortHeight();
    void startUpWritesNothing();
    void missingPortIsToldOnceAndPanelKeepsRunning();
    void statusQueryIsDecodedThroughTheWindow();
};

void TstForm1::initTestCase() {
    static int argc = 1;
    prepareApplication(*qApp);
    Q_UNUSED(argc);
}

void TstForm1::startsWithTitleWidthAndShortHeight() {
    Pty pty;
    qputenv("VK9RSC_COM1", pty.device().toLocal8Bit());
    Form1 form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QCOMPARE(form.windowTitle(), QStringLiteral("ORVA   VK9  CONTROL  Ver.1.30"));
    QCOMPARE(form.width(), 9495 / 15);
    QCOMPARE(form.height(), toPixels(clientHeightFor(kStartHeight)));
    QVERIFY(form.serialPort().isOpen());
    QVERIFY(!form.control(Control::Frame8)->isVisible());
    QCOMPARE(form.findChild<QPushButton*>("Command17")->text(), QStringLiteral("ON"));
}

void TstForm1::startUpWritesNothing() {
    Pty pty;
    qputenv("VK9RSC_COM1", pty.device().toLocal8Bit());
    Form1 form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QTest::qWait(50);
    QCOMPARE(pty.readAvailable(), QByteArray());
}

void TstForm1::missingPortIsToldOnceAndPanelKeepsRunning() {
    qputenv("VK9RSC_COM1", "/nonexistent/vk9rsc-com1");
    WarningCatcher catcher;
    Form1 form;
    QVERIFY(catcher.texts.isEmpty()); // nothing before the window is shown
    form.show();
    QTRY_COMPARE(catcher.texts.size(), 1);
    QCOMPARE(catcher.title, QStringLiteral("VK9RSC"));
    QVERIFY(catcher.texts.front().contains("/nonexistent/vk9rsc-com1"));
    QVERIFY(!form.serialPort().isOpen());
    form.findChild<QPushButton*>("Command17")->click();
    QCOMPARE(form.findChild<QLabel*>("Label22")->text(),
             QStringLiteral(" Not sent: no serial port is open"));
    QTest::qWait(50);
    QCOMPARE(catcher.texts.size(), 1);
}

void TstForm1::statusQueryIsDecodedThroughTheWindow() {
    Pty pty;
    qputenv("VK9RSC_COM1", pty.device().toLocal8Bit());
    Form1 form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    form.findChild<QPushButton*>("Command44")->click(); // STATUS
    QByteArray sent;
    QTRY_COMPARE((sent += pty.readAvailable()), QByteArray("CR0\r"));
    QCOMPARE(form.findChild<QLabel*>("Label11")->text(), QStringLiteral(" C R 0 CR "));
    pty.send("00\r");
    QTRY_COMPARE(form.findChild<QLabel*>("Label22")->text(), QStringLiteral(" Power ON"));
    QCOMPARE(form.findChild<QLabel*>("Label12")->text(), QStringLiteral(" 0 0 CR "));
}

QTEST_MAIN(TstForm1)
#include "tst_form1.moc"
