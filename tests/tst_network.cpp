// Lines behind network device servers: the Telnet client's bytes, the line contract as a
// caller meets it, and the real window over ser2net on 127.0.0.1, as Telnet with the COM
// port option and as raw TCP, in front of pseudo-terminals whose far end the test plays.
#include "support/Ser2net.h"
#include "support/WindowFixture.h"
#include "transport/GateTickets.h"
#include "transport/Telnet.h"

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

// The COM port option's settings as the client sends them, for 19200 and 9600 bit/s: speed,
// 8 data bits, no parity, 1 stop bit, no flow control.
const QByteArray kSettings19200 = "fffa2c0100004b00fff0fffa2c0208fff0fffa2c0301fff0"
                                  "fffa2c0401fff0fffa2c0501fff0";
const QByteArray kSettings9600 = "fffa2c0100002580fff0fffa2c0208fff0fffa2c0301fff0"
                                 "fffa2c0401fff0fffa2c0501fff0";

// A socket bound to a loopback port and never listening: connections to it are refused.
struct RefusingPort {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    int port = 0;
    RefusingPort() {
        sockaddr_in at{};
        at.sin_family = AF_INET;
        at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof at;
        if (::bind(fd, reinterpret_cast<sockaddr*>(&at), size) != 0 ||
            ::getsockname(fd, reinterpret_cast<sockaddr*>(&at), &size) != 0) {
            failTest("no loopback port to refuse on");
        }
        port = ntohs(at.sin_port);
    }
    ~RefusingPort() { ::close(fd); }
};

// A listening socket whose queue is full: a connection to it never completes.
struct FullPort {
    RefusingPort bound;
    QTcpSocket filler;
    FullPort() {
        ::listen(bound.fd, 0);
        filler.connectToHost(QHostAddress::LocalHost, quint16(bound.port));
        if (!filler.waitForConnected(1000)) {
            failTest("no loopback port to fill");
        }
    }
};

// A server on 127.0.0.1 that says something to each client and may hang up at once; it
// keeps what the client sent. As a Telnet server with the COM port option (RFC 2217), it
// answers every setting with the value it takes; it may take another parity than the one
// asked, answer late, and hang up once it has answered.
struct ScriptedServer {
    QTcpServer server;
    QByteArray received;
    QList<QByteArray> settings; // each SET-x as received: command byte and value, in hex
    bool telnet = false;
    char parity = 0; // 0: as asked
    int answerAfterMs = 0;
    bool hangsUpAfterAnswering = false;
    QTcpSocket* client = nullptr;

    ScriptedServer(const QByteArray& says, bool hangsUp) {
        if (!server.listen(QHostAddress::LocalHost)) {
            failTest("no loopback port to listen on");
        }
        QObject::connect(&server, &QTcpServer::newConnection, [this, says, hangsUp] {
            client = server.nextPendingConnection();
            QObject::connect(client, &QTcpSocket::readyRead, [this] { answer(client->readAll()); });
            client->write(says);
            if (hangsUp) {
                client->disconnectFromHost();
            }
        });
    }
    void answer(const QByteArray& bytes) {
        const bool first = received.isEmpty();
        received += bytes;
        if (!telnet) {
            return;
        }
        QByteArray out = first ? QByteArray::fromHex("fffd2cfffb00fffd00") : QByteArray();
        for (qsizetype at = bytes.indexOf("\xff\xfa\x2c"); at >= 0;
             at = bytes.indexOf("\xff\xfa\x2c", at + 1)) {
            QByteArray sub = bytes.mid(at + 3, bytes.indexOf("\xff\xf0", at) - at - 3);
            settings << sub.toHex();
            sub[1] = sub[0] == 3 && parity != 0 ? parity : sub[1];
            sub[0] = char(sub[0] + 100);
            out += "\xff\xfa\x2c" + sub + "\xff\xf0";
        }
        QTimer::singleShot(answerAfterMs, client, [this, out] {
            client->write(out);
            if (hangsUpAfterAnswering && out.contains("\xff\xfa\x2c")) {
                client->disconnectFromHost();
            }
        });
    }
};

// A relay on 127.0.0.1 that holds every piece for a while, each way: a slow link.
struct SlowRelay {
    QTcpServer server;
    int delayMs;
    SlowRelay(int targetPort, int delay) : delayMs(delay) {
        if (!server.listen(QHostAddress::LocalHost)) {
            failTest("no loopback port to relay on");
        }
        QObject::connect(&server, &QTcpServer::newConnection, [this, targetPort] {
            QTcpSocket* near = server.nextPendingConnection();
            auto* far = new QTcpSocket(near);
            far->connectToHost(QHostAddress::LocalHost, quint16(targetPort));
            const auto pass = [this](QTcpSocket* from, QTcpSocket* to) {
                QObject::connect(from, &QTcpSocket::readyRead, to, [this, from, to] {
                    const QByteArray bytes = from->readAll();
                    QTimer::singleShot(delayMs, to, [to, bytes] { to->write(bytes); });
                });
            };
            pass(near, far);
            pass(far, near);
        });
    }
    QString address() const {
        return QStringLiteral("rfc2217://127.0.0.1:%1").arg(server.serverPort());
    }
};

// The port as a caller sees it: every event it hands on, marked when it came inside open().
struct Caller {
    qt::NumberedPort port;
    QStringList events;
    bool inOpen = false;

    Caller() {
        port.onNote([this](const std::string&, const std::string& text, bool) {
            add("note: " + QString::fromStdString(text));
        });
        port.onOpened([this](const SerialResult& r) {
            add(r.ok ? QStringLiteral("opened") : "failed: " + QString::fromStdString(r.message));
        });
        port.onLost([this](const std::string&, const std::string& reason, bool) {
            add("lost: " + QString::fromStdString(reason));
        });
        port.onReceived([this] { add("received: " + QString::fromStdString(port.readAll())); });
    }
    void add(const QString& event) { events << (inOpen ? "inside open(): " : "") + event; }
    SerialResult open(const QString& device) {
        port.nameDevice(1, device.toStdString());
        (void)port.setPortNumber(1);
        inOpen = true;
        const SerialResult result = port.open();
        inOpen = false;
        return result;
    }
};

} // namespace

class TstNetwork : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { qt::prepareApplication(*qApp); }

    // What the client answers to a server, as bytes; every row starts with a client that has
    // asked for binary data and the COM port option and chosen 19200 bit/s.
    void telnetClient_data() {
        QTest::addColumn<QByteArray>("server");   // hex
        QTest::addColumn<QByteArray>("answer");   // hex
        QTest::addColumn<QByteArray>("data");     // hex
        QTest::addColumn<QByteArray>("then9600"); // hex: what choosing 9600 then sends
        QTest::addColumn<QString>("news");
        const auto row = [](const char* name, const QByteArray& server, const QByteArray& answer,
                            const QByteArray& data, const QByteArray& then9600,
                            const QString& news) {
            QTest::newRow(name) << server << answer << data << then9600 << news;
        };
        // clang-format off
        row("RFC 2217: agreed, the settings follow", "fffd2c", kSettings19200, "", kSettings9600, "");
        row("the speed asked is answered", "fffd2cfffa2c6500004b00fff0", kSettings19200, "", kSettings9600, "");
        row("another speed is answered", "fffd2cfffa2c6500002580fff0", kSettings19200, "", kSettings9600, "9600");
        row("a 255 in an answer is doubled", "fffd2cfffa2c650000fffffffffff0", kSettings19200, "", kSettings9600, "65535");
        row("refused: no settings, ever", "fffe2c", "", "", "", "refused");
        row("ser2net's greeting", "fffb03fffd03fffb01fffe01fffd00fffb00fffd2c",
            "fffd03fffb03fffe01" + kSettings19200, "", kSettings9600, "");
        row("RFC 1143: asked twice, refused twice", "fffb05fffb05fffd18fffd18",
            "fffe05fffe05fffc18fffc18", "", "", "");
        row("RFC 1143: WONT for our DO", "fffc00", "", "", "", "");
        row("RFC 854: IAC IAC is a data byte", "30300dffff58", "", "30300dff58", "", "");
        row("CR NUL outside binary mode", "300d0031", "", "300d31", "", "");
        row("RFC 855: another option's subnegotiation", "fffa1801fff041", "", "41", "", "");
        row("FLOWCONTROL-SUSPEND", "fffa2c6cfff0", "", "", "", "suspended");
        row("FLOWCONTROL-RESUME", "fffa2c6cfff0fffa2c6dfff0", "", "", "", "");
        row("a long subnegotiation is none of the data", "fffa2c64" + QByteArray(70, 'x').toHex() + "38300dfff041", "", "41", "", "");
        row("one without IAC SE is given up", "fffa2c" + QByteArray(1100, 'A').toHex(), "", QByteArray(12, 'A').toHex(), "", "");
        row("a subnegotiation cut by a command", "fffa2c65fffb0142", "fffe01", "42", "", "");
        // clang-format on
    }

    void telnetClient() {
        QFETCH(QByteArray, server);
        QFETCH(QByteArray, answer);
        QFETCH(QByteArray, data);
        QFETCH(QByteArray, then9600);
        QFETCH(QString, news);
        TelnetClient client;
        SerialSettings settings; // 19200 bit/s, 8 data bits, no parity, 1 stop bit
        QCOMPARE(QByteArray::fromStdString(client.chooseSettings(settings)), QByteArray());
        QCOMPARE(QByteArray::fromStdString(client.start()).toHex(),
                 QByteArray("fffb00fffd00fffb2c"));
        QCOMPARE(client.encode("A\xff\r"), std::string("A\xff\xff\r\0", 5)); // not binary yet
        std::string out;
        const std::string got = client.decode(QByteArray::fromHex(server).toStdString(), out);
        QCOMPARE(QByteArray::fromStdString(out).toHex(), answer);
        QCOMPARE(QByteArray::fromStdString(got).toHex(), data);
        const auto told = client.takeNews();
        const QString heard = told.comPortRefused  ? QStringLiteral("refused")
                              : told.otherSpeed    ? QString::number(*told.otherSpeed)
                              : client.suspended() ? QStringLiteral("suspended")
                                                   : QString();
        QCOMPARE(heard, news);
        settings.baud = 9600;
        QCOMPARE(QByteArray::fromStdString(client.chooseSettings(settings)).toHex(), then9600);
        out.clear();
        (void)client.decode(QByteArray::fromHex("fffd00").toStdString(), out); // binary now
        QCOMPARE(client.encode("A\xff\r"), std::string("A\xff\xff\r"));
    }

    // The line contract: an open answers ok, failure or pending; a pending outcome and a
    // loss come exactly once, later, from the event loop. Nothing of ours reaches a server
    // that has not shown that it speaks Telnet.
    void lineContract_data() {
        QTest::addColumn<QString>("device"); // %1: the scripted server, %2: refusing, %3: full
        QTest::addColumn<QByteArray>("says");
        QTest::addColumn<bool>("hangsUp");
        QTest::addColumn<bool>("closedAtOnce");
        QTest::addColumn<QStringList>("events");
        const QString notTelnet =
            "failed: 127.0.0.1:%1 does not speak Telnet; try tcp://127.0.0.1:%1";
        // clang-format off
        QTest::newRow("refused by the kernel inside connect()") << "tcp://255.255.255.255:7001" << QByteArray() << false << false
            << QStringList{"failed: 255.255.255.255:7001: Network unreachable"};
        QTest::newRow("refused") << "tcp://127.0.0.1:%2" << QByteArray() << false << false
            << QStringList{"failed: 127.0.0.1:%2: connection refused"};
        QTest::newRow("no answer within 3 s") << "tcp://127.0.0.1:%3" << QByteArray() << false << false
            << QStringList{"failed: no answer from 127.0.0.1:%3 within 3 s"};
        QTest::newRow("closed while pending") << "tcp://127.0.0.1:%1" << QByteArray() << false << true << QStringList{};
        QTest::newRow("silent, not even to our requests") << "rfc2217://127.0.0.1:%1" << QByteArray() << false << false << QStringList{notTelnet};
        QTest::newRow("not Telnet") << "rfc2217://127.0.0.1:%1" << QByteArray("hello\r\n") << false << false << QStringList{notTelnet};
        QTest::newRow("dropped while pending") << "rfc2217://127.0.0.1:%1" << QByteArray() << true << false
            << QStringList{"failed: 127.0.0.1:%1: the line is in use, or not open to this computer: "
                           "the server hung up at once"};
        QTest::newRow("not a gate") << "gate://127.0.0.1:%1" << QByteArray("hello\n") << false << false
            << QStringList{"failed: 127.0.0.1:%1 is not a vk9gate: it said \"hello\"; a device server's line is tcp:// or rfc2217://"};
        QTest::newRow("a gate that turns us away") << "gate://127.0.0.1:%1" << QByteArray() << true << false
            << QStringList{"failed: 127.0.0.1:%1 closed the connection before answering: a gate with its most clients turns the next away"};
        QTest::newRow("dropped at once, saying why") << "tcp://127.0.0.1:%1" << QByteArray("Port already in use\r\n") << true << false
            << QStringList{"opened", "received: Port already in use\r\n",
                           "lost: the line is in use, or not open to this computer: the server "
                           "hung up at once, saying \"Port already in use\""};
        // clang-format on
    }

    void lineContract() {
        QFETCH(QString, device);
        QFETCH(QByteArray, says);
        QFETCH(bool, hangsUp);
        QFETCH(bool, closedAtOnce);
        QFETCH(QStringList, events);
        ScriptedServer server(says, hangsUp);
        RefusingPort refusing;
        FullPort full;
        const auto fill = [&](QString text) {
            return text.replace("%1", QString::number(server.server.serverPort()))
                .replace("%2", QString::number(refusing.port))
                .replace("%3", QString::number(full.bound.port));
        };
        Caller caller;
        const SerialResult opened = caller.open(fill(device));
        QVERIFY(opened.ok && opened.pending && caller.port.isOpen());
        if (closedAtOnce) {
            (void)caller.port.close();
        }
        QTRY_VERIFY_WITH_TIMEOUT(caller.events.size() >= events.size(), 5000);
        QTest::qWait(400); // any more that would come
        for (QString& event : events) {
            event = fill(event);
        }
        QCOMPARE(caller.events, events);
        // Our Telnet requests, and never a frame, reach a server that is not Telnet; the
        // tickets greeting, which no projector takes for a frame, one that is not a gate.
        QVERIFY(!server.received.replace(QByteArray(tickets::kGreeting.data()), "").contains('\r'));
        QVERIFY(!caller.port.isOpen());
    }

    // Telnet on slow links and with servers that wait, refuse or hang up: the line opens
    // once the settings are answered, each setting is checked, and a speed chosen while the
    // options are agreed goes out once and is answered as itself.
    void telnetServers_data() {
        QTest::addColumn<bool>("speaksFirst");
        QTest::addColumn<int>("answerAfterMs");
        QTest::addColumn<char>("parity");
        QTest::addColumn<bool>("hangsUp");
        QTest::addColumn<bool>("choose9600"); // while the options are agreed
        QTest::addColumn<QStringList>("events");
        QTest::addColumn<int>("speeds"); // SET-BAUDRATE received
        // clang-format off
        QTest::newRow("waits for the client to speak") << false << 0 << char(0) << false << false
            << QStringList{"opened"} << 1;
        QTest::newRow("answers 1.5 s late") << true << 1500 << char(0) << false << false
            << QStringList{"opened"} << 1;
        QTest::newRow("takes even parity") << true << 0 << char(3) << false << false
            << QStringList{"note: the server did not take no parity: the line runs with even parity", "opened"} << 1;
        QTest::newRow("9600 chosen while agreeing") << true << 300 << char(0) << false << true
            << QStringList{"opened"} << 2;
        QTest::newRow("hangs up once it has answered") << true << 0 << char(0) << true << false
            << QStringList{"opened", "lost: the server closed the connection"} << 1;
        // clang-format on
    }

    void telnetServers() {
        QFETCH(bool, speaksFirst);
        QFETCH(int, answerAfterMs);
        QFETCH(char, parity);
        QFETCH(bool, hangsUp);
        QFETCH(bool, choose9600);
        QFETCH(QStringList, events);
        QFETCH(int, speeds);
        ScriptedServer server(speaksFirst ? QByteArray::fromHex("fffb03fffd03") : QByteArray(),
                              false);
        server.telnet = true;
        server.answerAfterMs = answerAfterMs;
        server.parity = parity;
        server.hangsUpAfterAnswering = hangsUp;
        Caller caller;
        QVERIFY(
            caller.open(QStringLiteral("rfc2217://127.0.0.1:%1").arg(server.server.serverPort()))
                .pending);
        if (choose9600) {
            QTRY_VERIFY(!server.settings.isEmpty());
            QVERIFY(caller.port.setSettings("9600,N,8,1").ok);
        }
        QTRY_VERIFY_WITH_TIMEOUT(caller.events.size() >= events.size(), 5000);
        QTest::qWait(answerAfterMs + 300);
        QCOMPARE(caller.events, events);
        QCOMPARE(server.settings.count("0100004b00"), 1);
        QCOMPARE(server.settings.count("0100002580"), speeds - 1);
        QCOMPARE(caller.port.lineSpeed(), choose9600 ? 9600 : 19200);
    }

    // ser2net behind a relay that holds every piece 400 ms each way: Telnet, the speed and
    // the frames all get through.
    void telnetThroughASlowRelay() {
        Pty far;
        Ser2net server(far.device);
        SlowRelay relay(server.telnetPort, 400);
        Caller caller;
        QVERIFY(caller.open(relay.address()).pending);
        QTRY_COMPARE_WITH_TIMEOUT(caller.events, QStringList{"opened"}, 5000);
        QCOMPARE(speedOf(far), speed_t(B19200));
        QVERIFY(caller.port.write("CR0\r").ok);
        QByteArray atFarEnd;
        QTRY_COMPARE((atFarEnd += far.read()), QByteArray("CR0\r"));
    }

    // A server that takes the connection and hangs up at once, as ser2net does when its line
    // is in use: one warning box, never a pile of them, and tries further and further apart.
    void oneWarningForAServerThatHangsUpAtOnce() {
        ScriptedServer server("Port already in use\r\n", true);
        int connections = 0;
        QObject::connect(&server.server, &QTcpServer::newConnection, [&] { ++connections; });
        const QString device = QStringLiteral("tcp://127.0.0.1:%1").arg(server.server.serverPort());
        PanelWindow p(device);
        QTRY_COMPARE(p.warnings().size(), 1);
        const auto* box = p.form->findChild<QMessageBox*>("warningBox");
        QElapsedTimer watched;
        watched.start();
        while (watched.elapsed() < 3500) { // tries at 1 and 3 s: the same box all along
            QVERIFY(p.form->findChild<QMessageBox*>("warningBox") == box && box->isVisible());
            QTest::qWait(20);
        }
        QCOMPARE(connections, 3);
        QCOMPARE(p.warnings(),
                 QStringList{"VK9RSC: The serial line " + device +
                             " went away: the line is in use, or not open to this "
                             "computer: the server hung up at once, saying \"Port "
                             "already in use\"\n\nReconnecting to " +
                             device.mid(6) + ": this box closes when the line is back."});
    }

    // Two conforming Telnet servers and a raw TCP line, each in front of a pseudo-terminal.
    void framesAndRepliesThroughEachServer_data() {
        QTest::addColumn<QString>("server");
        QTest::newRow("ser2net, RFC 2217") << "ser2net";
        QTest::newRow("ser2net, raw TCP") << "tcp";
        QTest::newRow("sredird, RFC 2217") << "sredird";
    }

    void framesAndRepliesThroughEachServer() {
        QFETCH(QString, server);
        Pty far;
        Pty other;
        const bool tcp = server == "tcp";
        std::unique_ptr<Ser2net> ser2net;
        std::unique_ptr<Sredird> sredird;
        QString address;
        if (server == "sredird") {
            sredird = std::make_unique<Sredird>(far.device);
            address = sredird->address();
        } else {
            ser2net = std::make_unique<Ser2net>(tcp ? other.device : far.device,
                                                tcp ? far.device : other.device);
            address = ser2net->address(!tcp);
        }
        PanelWindow p(address);
        QTRY_VERIFY(p.form->serialPort().write("").ok); // connected
        // Over Telnet the speed chosen reached the far line at open; over TCP it is the
        // server's (9600).
        QTRY_COMPARE(speedOf(far), speed_t(tcp ? B9600 : B19200));
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
        if (!tcp) {
            QTest::mouseClick(p.get("Option9"), Qt::LeftButton);
            QTRY_COMPARE(speedOf(far), speed_t(B19200));
        }
        QVERIFY(p.warnings().isEmpty());
    }

    // A server that goes away mid-hold: the hold stops, the operator is told once, and the
    // line comes back by itself once the server does.
    void serverStoppedMidHoldComesBack() {
        Pty far;
        Ser2net server(far.device);
        PanelWindow p(server.address(true));
        QTRY_VERIFY(p.form->serialPort().write("").ok);
        p.mouse(true, "Command15"); // Zoom +, every 50 ms
        QTRY_VERIFY((p.line += far.read()).count("C47\r") >= 3);
        server.stop();
        const QString name = QStringLiteral("127.0.0.1:%1").arg(server.telnetPort);
        QTRY_COMPARE(p.warnings(), QStringList{"VK9RSC: The serial line " + server.address(true) +
                                               " went away: the server closed the connection\n\n"
                                               "Reconnecting to " +
                                               name + ": this box closes when the line is back."});
        QCOMPARE(p.form->state().repeatCode, 0);
        p.mouse(false, "Command15");
        QCOMPARE(p.text("Label22"), " Reconnecting to " + name);
        QVERIFY(server.start());
        QTRY_COMPARE_WITH_TIMEOUT(p.text("Label22"), " Reconnected to " + name, 5000);
        QVERIFY(p.warnings().isEmpty()); // closed by itself
        p.click("Command17");
        QByteArray atFarEnd;
        QTRY_COMPARE((atFarEnd += far.read()), QByteArray("C00\r"));
    }
};

QTEST_MAIN(TstNetwork)
#include "tst_network.moc"
