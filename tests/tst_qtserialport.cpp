#include "QtSerialPort.h"

#include "support/Pty.h"

#include <QtTest>

#include <termios.h>

using namespace vk9;
using namespace vk9::qt;
using namespace vk9::test;

class TstQtSerialPort : public QObject {
    Q_OBJECT
private slots:
    void portNumbersMapToDevices();
    void writesFramesAndReceivesText();
    void speedChangeWhileOpenKeepsThePortOpen();
    void writeWhileClosedFails();
    void vanishedDeviceIsReportedOnceAndClosed();
    void missingDeviceFailsWithItsMessage();
};

void TstQtSerialPort::portNumbersMapToDevices() {
    qputenv("VK9RSC_COM2", "/dev/pts/77");
    QtSerialPort port;
    QCOMPARE(port.setPortNumber(2).ok, true);
    QCOMPARE(port.deviceName(), std::string("/dev/pts/77"));
    qunsetenv("VK9RSC_COM1");
    port.setPortNumber(1);
    QCOMPARE(port.deviceName(), std::string("/dev/ttyS0"));
    qunsetenv("VK9RSC_COM2");
}

void TstQtSerialPort::writesFramesAndReceivesText() {
    Pty pty;
    QVERIFY(pty.ok());
    qputenv("VK9RSC_COM1", pty.device().toLocal8Bit());
    QtSerialPort port;
    int received = 0;
    std::string text;
    port.onReceived([&] {
        ++received;
        text += port.readAll();
    });
    port.setPortNumber(1);
    QVERIFY(port.setSettings("19200,N,8,1").ok);
    const SerialResult opened = port.open();
    QVERIFY2(opened.ok, opened.message.c_str());

    QVERIFY(port.write("C00\r").ok);
    QByteArray atOtherEnd;
    QTRY_COMPARE((atOtherEnd += pty.readAvailable()), QByteArray::fromHex("4330300d"));

    pty.send("00\r");
    QTRY_COMPARE(text, std::string("00\r"));
    QVERIFY(received >= 1);
    QTRY_COMPARE(port.pendingOutput(), std::size_t{0});
    QVERIFY(port.close().ok);
    QVERIFY(!port.isOpen());
    QVERIFY(port.close().ok); // closing twice is harmless
}

void TstQtSerialPort::speedChangeWhileOpenKeepsThePortOpen() {
    Pty pty;
    qputenv("VK9RSC_COM1", pty.device().toLocal8Bit());
    QtSerialPort port;
    port.setPortNumber(1);
    port.setSettings("19200,N,8,1");
    QVERIFY(port.open().ok);
    QVERIFY(port.setSettings("9600,N,8,1").ok);
    QVERIFY(port.isOpen());
    termios tio{};
    QCOMPARE(tcgetattr(pty.slave(), &tio), 0);
    QCOMPARE(cfgetospeed(&tio), speed_t(B9600));
    QVERIFY(!port.setSettings("fast,N,8,1").ok);
    QVERIFY(port.isOpen());
}

void TstQtSerialPort::writeWhileClosedFails() {
    QtSerialPort port;
    const SerialResult result = port.write("C00\r");
    QVERIFY(!result.ok);
    QVERIFY(!result.message.empty());
    QCOMPARE(port.pendingOutput(), std::size_t{0});
}

void TstQtSerialPort::vanishedDeviceIsReportedOnceAndClosed() {
    auto pty = std::make_unique<Pty>();
    qputenv("VK9RSC_COM1", pty->device().toLocal8Bit());
    QtSerialPort port;
    int losses = 0;
    port.onLost([&](const std::string&) { ++losses; });
    port.setPortNumber(1);
    QVERIFY(port.open().ok);
    pty->closeSlave();
    pty->closeMaster(); // the line's other end goes away
    QTRY_COMPARE(losses, 1);
    QVERIFY(!port.isOpen());
    QTest::qWait(100); // no second report once closed
    QCOMPARE(losses, 1);
}

void TstQtSerialPort::missingDeviceFailsWithItsMessage() {
    qputenv("VK9RSC_COM2", "/nonexistent/vk9rsc-port");
    QtSerialPort port;
    port.setPortNumber(2);
    const SerialResult result = port.open();
    QVERIFY(!result.ok);
    QVERIFY(result.message.find("/nonexistent/vk9rsc-port") != std::string::npos);
    QVERIFY(!port.isOpen());
    qunsetenv("VK9RSC_COM2");
}

QTEST_GUILESS_MAIN(TstQtSerialPort)
#include "tst_qtserialport.moc"
