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
    void writesFramesReceivesTextAndChangesSpeedInPlace() {
        Pty pty;
        qputenv("VK9RSC_COM1", pty.device().toLocal8Bit());
        QtSerialPort port;
        std::string text;
        port.onReceived([&] { text += port.readAll(); });
        QVERIFY(!port.write("C00\r").ok); // nothing is open yet
        port.setPortNumber(1);
        QCOMPARE(port.deviceName(), pty.device().toStdString());
        QVERIFY(port.setSettings("19200,N,8,1").ok);
        const SerialResult opened = port.open();
        QVERIFY2(opened.ok, opened.message.c_str());

        QVERIFY(port.write("C00\r").ok);
        QByteArray atFarEnd;
        QTRY_COMPARE((atFarEnd += pty.readAvailable()), QByteArray::fromHex("4330300d"));
        QCOMPARE(port.bytesWritten(), std::uint64_t{4});
        pty.send("00\r");
        QTRY_COMPARE(text, std::string("00\r"));
        QTRY_COMPARE(port.pendingOutput(), std::size_t{0});

        QVERIFY(port.setSettings("9600,N,8,1").ok); // applied at once, the port stays open
        QVERIFY(port.isOpen());
        termios tio{};
        QCOMPARE(tcgetattr(pty.slave(), &tio), 0);
        QCOMPARE(cfgetospeed(&tio), speed_t(B9600));
        QVERIFY(!port.setSettings("fast,N,8,1").ok);
        QVERIFY(port.close().ok && !port.isOpen());
        QVERIFY(port.close().ok); // closing twice is harmless
    }
};

QTEST_GUILESS_MAIN(TstQtSerialPort)
#include "tst_qtserialport.moc"
