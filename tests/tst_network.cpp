// The real window on serial lines behind ser2net on 127.0.0.1: Telnet with the COM port
// option and raw TCP, each in front of a pseudo-terminal whose far end the test plays.
#include "line/Telnet.h"
#include "support/Ser2net.h"
#include "support/WindowFixture.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <termios.h>

using namespace vk9;
using namespace vk9::test;

namespace {

speed_t speedOf(const Pty& pty) {
    termios tio{};
    tcgetattr(pty.slave, &tio);
    return cfgetospeed(&tio);
}

} // namespace

class TstNetwork : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { qt::prepareApplication(*qApp); }

    // What the client says first, and what it makes of what a server says, as bytes.
    void telnetCodec() {
        TelnetCodec codec;
        LineSettings settings; // 19200 bit/s, 8 data bits, no parity, 1 stop bit
        QCOMPARE(QByteArray::fromStdString(codec.greeting(settings)).toHex(' '),
                 QByteArray("ff fb 00 ff fd 00 ff fb 2c ff fa 2c 01 00 00 4b 00 ff f0 ff fa 2c "
                            "02 08 ff f0 ff fa 2c 03 01 ff f0 ff fa 2c 04 01 ff f0"));
        settings.baud = 9600;
        QCOMPARE(QByteArray::fromStdString(TelnetCodec::lineSettings(settings)).left(10).toHex(' '),
                 QByteArray("ff fa 2c 01 00 00 25 80 ff f0"));
        QCOMPARE(codec.encode("A\xff\r"), std::string("A\xff\xff\r"));
        QCOMPARE(TelnetCodec{}.encode("A\r"), std::string("A\r\0", 3)); // not binary yet
        const char* rows[][3] = {
            // from the server, the data in it, the client's answer (hex)
            {"fffb03fffd03fffb01fffe01fffd00fffb00fffd2c", "", "fffd03fffb03fffe01"},
            {"fffa2c6500002580fff0fffa2c6b00fff0", "", ""}, // the COM port option's answers
            {"30300dffff58", "30300dff58", ""},
            {"fffd18fffd18fffb05fffb05fff1", "", "fffc18fffe05"}, // refused once each
            {"fffe00fffd00", "", "fffc00fffb00"},                 // binary off, on again
        };
        for (const auto& [in, data, answer] : rows) {
            std::string replies;
            QCOMPARE(QByteArray::fromStdString(
                         codec.decode(QByteArray::fromHex(in).toStdString(), replies))
                         .toHex(),
                     QByteArray(data));
            QCOMPARE(QByteArray::fromStdString(replies).toHex(), QByteArray(answer));
        }
    }

    void framesAndRepliesThroughBothKinds_data() {
        QTest::addColumn<bool>("telnet");
        QTest::newRow("rfc2217") << true;
        QTest::newRow("raw TCP") << false;
    }

    void framesAndRepliesThroughBothKinds() {
        QFETCH(bool, telnet);
        Pty telnetLine;
        Pty tcpLine;
        Ser2net server(telnetLine.device, tcpLine.device);
        Pty& far = telnet ? telnetLine : tcpLine;
        PanelWindow p(server.address(telnet));
        QTRY_VERIFY(p.form->serialPort().pendingOutput() == 0 &&
                    p.form->serialPort().write("").ok); // connected
        // Over Telnet the speed chosen reached the far line at open; over TCP it is the
        // server's.
        QTRY_COMPARE(speedOf(far), speed_t(telnet ? B19200 : B9600));
        p.click("Command44");
        QByteArray atFarEnd;
        QTRY_COMPARE((atFarEnd += far.read()), QByteArray("CR0\r"));
        far.send("0");
        QTest::qWait(20);
        far.send(QByteArray("0\r\xff", 3)); // in pieces, with a data byte 255
        QTRY_COMPARE(p.text("Label12"), QStringLiteral(" 0 0 CR ? "));
        QCOMPARE(p.text("Label22"), QStringLiteral(" Power ON"));
        p.click("Command33");
        QTest::mouseClick(p.get("Option10"), Qt::LeftButton); // 9600 while open
        QTRY_COMPARE(speedOf(far), speed_t(B9600));
        if (telnet) {
            QTest::mouseClick(p.get("Option9"), Qt::LeftButton);
            QTRY_COMPARE(speedOf(far), speed_t(B19200));
        }
    }

    void serverStoppedMidHoldThenChosenAgain() {
        Pty far;
        Ser2net server(far.device);
        PanelWindow p(server.address(true));
        QTRY_VERIFY(p.form->serialPort().write("").ok);
        p.mouse(true, "Command15"); // Zoom +, every 50 ms
        QTRY_VERIFY((p.line += far.read()).count("C47\r") >= 3);
        server.stop();
        QTRY_COMPARE(p.warnings.texts.size(), 1);
        QCOMPARE(p.warnings.texts[0], "The serial line " + server.address(true) +
                                          " went away: the server closed the connection");
        QCOMPARE(p.form->state().repeatCode, 0);
        p.mouse(false, "Command15");
        QVERIFY(!p.form->serialPort().isOpen());

        // Choosing the port again while the server is down: refused, told like any failed
        // choice; once it is back, choosing it again reconnects.
        p.click("Command33");
        QTest::mouseClick(p.get("Option1"), Qt::LeftButton);
        QTRY_COMPARE(p.warnings.texts.size(), 2);
        QCOMPARE(p.warnings.texts[1],
                 QStringLiteral("127.0.0.1:%1: connection refused").arg(server.telnetPort));
        QVERIFY(p.get("Frame8")->isVisible());
        server.start();
        QTest::mouseClick(p.get("Option1"), Qt::LeftButton);
        QVERIFY(p.get("Frame8")->isVisible()); // the choice returned at once, still connecting
        QTRY_VERIFY(!p.get("Frame8")->isVisible());
        p.click("Command17");
        QByteArray atFarEnd;
        QTRY_COMPARE((atFarEnd += far.read()), QByteArray("C00\r"));
        QCOMPARE(p.warnings.texts.size(), 2);
    }

    // A server that never answers: its queue is full, so the connection hangs. The window
    // goes on meanwhile, and the line gives up after 3 s.
    void silentServerIsGivenUpAfterThreeSeconds() {
        const int server = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in at{};
        at.sin_family = AF_INET;
        at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof at;
        ::bind(server, reinterpret_cast<sockaddr*>(&at), size);
        ::listen(server, 0);
        ::getsockname(server, reinterpret_cast<sockaddr*>(&at), &size);
        QTcpSocket filler;
        filler.connectToHost(QHostAddress::LocalHost, ntohs(at.sin_port));
        QVERIFY(filler.waitForConnected(1000));
        PanelWindow p(QStringLiteral("tcp://127.0.0.1:%1").arg(ntohs(at.sin_port)));
        p.click("Command33");
        QVERIFY(p.get("Frame8")->isVisible() && p.warnings.texts.isEmpty());
        QTRY_COMPARE_WITH_TIMEOUT(p.warnings.texts.size(), 1, 5000);
        QVERIFY(p.warnings.texts[0].startsWith(
            QStringLiteral("no answer from 127.0.0.1:%1 within 3 s\n").arg(ntohs(at.sin_port))));
        ::close(server);
    }
};

QTEST_MAIN(TstNetwork)
#include "tst_network.moc"
