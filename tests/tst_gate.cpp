// vk9gate with real processes: the panel holding a button and scripts asking four projectors
// through one gate, with not one answer that is another's; a line unplugged and plugged in
// again; the configuration as an administrator writes it; the end on a signal.
#include "support/GateProcess.h"
#include "support/Pty.h"
#include "support/Simulator.h"
#include "support/WindowFixture.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSocketNotifier>
#include <QTemporaryDir>
#include <QTimer>

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

#include <csignal>
#include <cstring>
#include <functional>

using namespace vk9;
using namespace vk9::test;

namespace {

// Four projectors in four states that stay as they are (an hour to warm up or cool down).
const QStringList kFourStates{"--warm-up",   "3600000",
                              "--cool-down", "3600000",
                              "--state",     "1:power=on,input=2,hours=1111",
                              "--state",     "2:power=standby,input=3,hours=2222",
                              "--state",     "3:power=countdown,input=4,hours=3333",
                              "--state",     "4:power=cooling,input=1,hours=4444"};

// What `vk9ctl status` must print of each, as the simulator holds it.
const char* const kStatus[] = {" Power ON\n Input 2\n Normally\n 0 1 1 1 1 CR  Hour Use\n  S1= 0 4 "
                               "1 . 5 C  ,   S2=  3 8 . 0 C\n"
                               " All ON  : 4 Lamp mode\n",
                               " Stand by\n Input 3\n Normally\n 0 2 2 2 2 CR  Hour Use\n  S1= 0 2 "
                               "5 . 0 C  ,   S2=  2 4 . 5 C\n"
                               " All OFF : 4 Lamp mode\n",
                               " Count down\n Input 4\n Normally\n 0 3 3 3 3 CR  Hour Use\n  S1= 0 "
                               "4 1 . 5 C  ,   S2=  3 8 . 0 "
                               "C\n All ON  : 4 Lamp mode\n",
                               " Cooling down\n Input 1\n Normally\n 0 4 4 4 4 CR  Hour Use\n  S1= "
                               "0 2 5 . 0 C  ,   S2=  2 4 . 5 "
                               "C\n All OFF : 4 Lamp mode\n"};

// A configuration in `dir` for the line at `link`, the share port on `host`:"%PORT", and `rest`.
QString hallFile(const QTemporaryDir& dir, const QString& link, const QByteArray& rest,
                 const QByteArray& host = "127.0.0.1") {
    QFile config(dir.filePath("hall.toml"));
    if (!config.open(QIODevice::WriteOnly)) {
        failTest("cannot write " + config.fileName());
    }
    config.write("[line]\nport = \"" + link.toUtf8() + "\"\nlisten = \"" + host + ":%PORT\"\n" +
                 rest);
    return config.fileName();
}

// vk9ctl runs in loops, each run started again when the last ends (the first loop's after
// `pause` ms) until `span` ms have passed, each told to `ended` (loop, exit status, output,
// errors). The first loop runs alone for `alone` ms.
struct Loops {
    using Ended = std::function<void(int, int, const QByteArray&, const QByteArray&)>;
    std::vector<std::unique_ptr<QProcess>> runs;
    QElapsedTimer clock;

    Loops(const std::vector<QStringList>& arguments, int span, const Ended& ended, int pause = 0,
          int alone = 0) {
        clock.start();
        for (std::size_t n = 0; n < arguments.size(); ++n) {
            QProcess* p = runs.emplace_back(std::make_unique<QProcess>()).get();
            const auto start = [p, args = arguments[n]] { p->start(VK9CTL_PATH, args); };
            QObject::connect(p, &QProcess::finished, [=, this](int status) {
                ended(int(n), status, p->readAllStandardOutput(), p->readAllStandardError());
                if (clock.elapsed() < span) {
                    QTimer::singleShot(n == 0 ? pause : 0, start);
                }
            });
            QTimer::singleShot(n == 0 ? 0 : alone, start);
        }
    }
    bool done() const {
        return std::all_of(runs.begin(), runs.end(),
                           [](auto& p) { return p->state() == QProcess::NotRunning; });
    }
};

// A service manager's notify socket of the test's own: what the gate tells it.
struct NotifySocket {
    QTemporaryDir dir;
    QByteArray path = dir.filePath("notify").toUtf8();
    int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    NotifySocket() {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.constData(), sizeof address.sun_path - 1);
        if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            failTest("no notify socket");
        }
    }
    ~NotifySocket() { ::close(fd); }
    NotifySocket(const NotifySocket&) = delete;
    NotifySocket& operator=(const NotifySocket&) = delete;
    QStringList environment() const {
        return {"NOTIFY_SOCKET=" + QString(path), "WATCHDOG_USEC=200000"};
    }
    // The datagrams holding `what` that come within forMs; `seen` runs at each.
    int count(const QByteArray& what, int forMs, const std::function<void()>& seen = {}) {
        int n = 0;
        QDeadlineTimer deadline(forMs);
        while (!deadline.hasExpired()) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, int(deadline.remainingTime())) == 1) {
                char datagram[256];
                const auto got = ::recv(fd, datagram, sizeof datagram, 0);
                if (QByteArray(datagram, int(std::max<ssize_t>(got, 0))).contains(what)) {
                    ++n;
                    if (seen) {
                        seen();
                    }
                }
            }
        }
        return n;
    }
};

} // namespace

class TstGate : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { qt::prepareApplication(*qApp); }

    // Projectors 003 and 004 unplugged at the mains: two scripts ask them in loops while a
    // third asks 001 every half second through gate://, from a second before. Every run for
    // 001 is answered; the gate says once that each stopped answering; the panel, asking 003,
    // is told in STATUS why its click was not sent.
    void absentProjectorsStarveNoOne() {
        Simulator sim({"--projectors", "2"});
        GateProcess gate({"--line", sim.link});
        PanelWindow panel(gate.gateAddress());
        QTRY_VERIFY(panel.form->serialPort().write("").ok);
        panel.click("Option7"); // "003"
        QStringList failed;
        int answered = 0;
        Loops loops(
            {{"--port", gate.gateAddress(), "--address", "1", "query-status"},
             {"--port", gate.address(), "--address", "3", "status"},
             {"--port", gate.address(), "--address", "4", "status"}},
            14000,
            [&](int n, int status, const QByteArray& out, const QByteArray& err) {
                if (n == 0 && (status != 0 || out != " Stand by\n")) {
                    failed << QString::number(status) + " " + err;
                }
                answered += n == 0 && status == 0 ? 1 : 0;
            },
            500, 1000);
        QTest::qWait(8000); // by now both have been found absent
        panel.click("Command44");
        QTRY_VERIFY2(panel.text("Label22").startsWith(
                         " Not sent: the projector does not answer; the gate tries it again in "),
                     qPrintable(panel.text("Label22")));
        QTRY_VERIFY_WITH_TIMEOUT(loops.clock.elapsed() > 14000 && loops.done(), 20000);
        qInfo("001 answered %d times; %s", answered, qPrintable(failed.join(" | ")));
        QCOMPARE(failed, QStringList());
        QVERIFY(answered >= 12);
        QCOMPARE(gate.said.count("projector 003 stopped answering"), 1);
        QCOMPARE(gate.said.count("projector 004 stopped answering"), 1);
    }

    // The panel holds LENS SHIFT up on projector 1 while four scripts loop `status`, one for
    // each projector, the projectors answering in 150 ms, for 10 s: every run is answered, and
    // every answer is the state of the projector asked; the hold has its turn among them (the
    // line is full: 150 ms an exchange). Through gate:// (the reply window counts from the
    // frame's time on the line), and through tcp:// with its timeout raised.
    void noAnswerIsAnothers_data() {
        QTest::addColumn<bool>("tickets");
        QTest::newRow("gate://") << true;
        QTest::newRow("tcp://, --timeout 4000") << false;
    }

    void noAnswerIsAnothers() {
        QFETCH(bool, tickets);
        Simulator sim(kFourStates + QStringList{"--delay", "150"});
        GateProcess gate({"--line", sim.link, "--speed", "19200"});
        PanelWindow panel(gate.address());
        QTRY_VERIFY(panel.form->serialPort().write("").ok);
        panel.click("Option5"); // "001"
        panel.mouse(true, "Command59");
        QStringList wrong;
        int runs = 0;
        std::vector<QStringList> scripts;
        for (int n = 1; n <= 4; ++n) {
            scripts.push_back(QStringList{"--port", tickets ? gate.gateAddress() : gate.address(),
                                          "--address", QString::number(n), "status"} +
                              (tickets ? QStringList{} : QStringList{"--timeout", "4000"}));
        }
        Loops loops(scripts, 10000, [&](int n, int status, const QByteArray& out, auto&) {
            if (status != 0 || out != kStatus[n]) {
                wrong << QString("%1 exit %2: %3").arg(n + 1).arg(status).arg(QString(out));
            }
            ++runs;
        });
        QTRY_VERIFY_WITH_TIMEOUT(loops.clock.elapsed() >= 10000 && loops.done(), 30000);
        panel.mouse(false, "Command59");
        qInfo("%d runs", runs);
        QCOMPARE(wrong, QStringList());
        QVERIFY(runs >= 8);
        const int copies = int(sim.log().count("rx 1 A001C5D"));
        qInfo("%d copies of the held button", copies);
        QVERIFY(copies >= runs * 6 / 4 / 2); // a turn after four others' frames: half of those
    }

    // A script holds a button through a gate that is busy: another client's frame to an
    // absent projector keeps the line quiet. The hold is told the copies that went on the
    // line, each acknowledged, as the projector counts them; and, held on a projector found
    // absent, that none went.
    void holdThroughABusyGate() {
        Simulator sim({"--projectors", "2"});
        GateProcess gate({"--line", sim.link});
        QTcpSocket other;
        other.connectToHost(QHostAddress::LocalHost, quint16(gate.port));
        QVERIFY(other.waitForConnected(1000));
        other.write("A003CR0\r");
        QTest::qWait(100);
        const Ran r = runProgram(VK9CTL_PATH, {"--port", gate.gateAddress(), "--address", "1",
                                               "--for", "3000", "--json", "zoom-plus"});
        QVERIFY2(r.status == 0, qPrintable(r.out + r.err));
        const int copies = QJsonDocument::fromJson(r.out.toUtf8())["results"][0]["copies"].toInt();
        qInfo("%d copies went", copies);
        QCOMPARE(copies, int(sim.log().count("rx 1 A001C47")));
        QVERIFY(copies > 0 && copies < 3000 / 50 * 2 / 3); // 2 s of the 3 were quiet
        // Held on 003 once the gate has found it absent: told why, never "acknowledged".
        QCOMPARE(
            runProgram(VK9CTL_PATH, {"--port", gate.gateAddress(), "--address", "3", "c01"}).status,
            1);
        const Ran absent = runProgram(VK9CTL_PATH, {"--port", gate.gateAddress(), "--address", "3",
                                                    "--for", "200", "zoom-plus"});
        QCOMPARE(absent.status, 1);
        QVERIFY2(absent.err.contains("C47 not sent: the projector does not answer"),
                 qPrintable(absent.err));
    }

    // The line unplugged and plugged in again: the gate lets its clients go and stops
    // listening; vk9ctl is told the line is not there; all are back within 2 s of the line.
    void unpluggedAndPluggedInAgain() {
        auto sim = std::make_unique<Simulator>(QStringList{});
        const QString link = sim->link;
        QTemporaryDir keep; // the link's folder outlives the first simulator
        GateProcess gate({"--line", link});
        PanelWindow panel(gate.address());
        QTRY_VERIFY(panel.form->serialPort().write("").ok);
        sim->process.terminate(); // unplugged: the link and the terminal are gone
        QVERIFY(sim->process.waitForFinished(3000));
        QTRY_COMPARE(panel.text("Label22"), " Reconnecting to " + gate.address().mid(6));
        const Ran away = runProgram(VK9CTL_PATH, {"--port", gate.address(), "query-status"});
        QCOMPARE(away.status, 3);
        QVERIFY2(away.err.contains("connection refused"), qPrintable(away.err));
        QProcess again; // plugged in again, at the same place
        again.start(QStringLiteral(VK9SIM_PATH), {"--log", "/dev/null", link});
        QElapsedTimer back;
        back.start();
        QVERIFY(gate.listening(5000));
        qInfo("listening again %lld ms after the line was back", back.elapsed());
        QVERIFY(back.elapsed() < 2500);
        const Ran r = runProgram(VK9CTL_PATH, {"--port", gate.address(), "query-status"});
        QCOMPARE(r.out, QStringLiteral(" Stand by\n"));
        QTRY_COMPARE_WITH_TIMEOUT(panel.text("Label22"), " Reconnected to " + gate.address().mid(6),
                                  10000);
        QVERIFY(panel.warnings().isEmpty()); // the box about the lost line closed by itself
        again.terminate();
        again.waitForFinished(3000);
        QVERIFY(gate.said.contains("the line " + link.toUtf8() + " went away"));
    }

    // Clients that are not the panel's kind: bytes that are not frames let that client go,
    // one client too many is turned away, and the others carry on. The service manager hears
    // that the gate is ready, and its status. SIGHUP: the traffic log opened again, as
    // logrotate expects. SIGTERM: clients let go, the line closed with its lock, the traffic
    // log whole.
    void clientsThatMisbehaveAndTheEnd() {
        Simulator sim({});
        QTemporaryDir dir;
        const int notify = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK, 0);
        sockaddr_un at{};
        at.sun_family = AF_UNIX;
        const QByteArray socketPath = dir.filePath("notify").toUtf8();
        std::strncpy(at.sun_path, socketPath.constData(), sizeof at.sun_path - 1);
        QVERIFY(::bind(notify, reinterpret_cast<sockaddr*>(&at), sizeof at) == 0);
        QStringList messages;
        const auto heard = [&] { // everything the gate has told the service manager so far
            char text[512];
            for (ssize_t n; (n = ::recv(notify, text, sizeof text, 0)) > 0;) {
                messages << QString::fromUtf8(text, int(n));
            }
            return messages;
        };
        GateProcess gate({"--config", hallFile(dir, sim.link, "max_clients = 2\n"), "--verbose",
                          "--log", dir.filePath("traffic.log")},
                         true, {"NOTIFY_SOCKET=" + socketPath});
        QTRY_VERIFY(heard().contains("READY=1"));
        QTcpSocket good;
        QTcpSocket bad;
        QTcpSocket third;
        for (QTcpSocket* s : {&good, &bad, &third}) {
            s->connectToHost(QHostAddress::LocalHost, quint16(gate.port));
            QVERIFY(s->waitForConnected(1000));
        }
        QTRY_COMPARE(third.state(), QAbstractSocket::UnconnectedState);
        bad.write("C0\n");
        QTRY_COMPARE(bad.state(), QAbstractSocket::UnconnectedState);
        good.write("CR0\r");
        QByteArray got;
        QTRY_COMPARE((got += good.readAll()), QByteArray("80\r"));
        QVERIFY(QFile::rename(dir.filePath("traffic.log"), dir.filePath("traffic.log.1")));
        ::kill(pid_t(gate.process.processId()), SIGHUP);
        QTRY_VERIFY(QFileInfo::exists(dir.filePath("traffic.log")));
        QTRY_COMPARE(heard().value(heard().size() - 1),
                     QStringLiteral("STATUS=the line %1 is open; 1 client on "
                                    "127.0.0.1:%2")
                         .arg(sim.link)
                         .arg(gate.port));
        const QString lock =
            "/run/lock/LCK.." + QFileInfo(sim.link).symLinkTarget().mid(5).replace('/', '_');
        QVERIFY(QFileInfo::exists(lock));
        QCOMPARE(gate.end(), 0);
        QTRY_COMPARE(good.state(), QAbstractSocket::UnconnectedState);
        QVERIFY(!QFileInfo::exists(lock));
        QVERIFY(heard().contains("STOPPING=1"));
        ::close(notify);
        QVERIFY2(gate.said.contains("turned away a client from 127.0.0.1:") &&
                     gate.said.contains(": 2 are connected") &&
                     gate.said.contains(": not a frame: byte 0A; let go"),
                 gate.said.constData());
        QFile log(dir.filePath("traffic.log.1"));
        QVERIFY(log.open(QIODevice::ReadOnly));
        const QByteArray logged = log.readAll();
        QVERIFY2(logged.contains(" TX | C R 0 CR |client ") && logged.endsWith(" RX | 8 0 CR |\n"),
                 logged.constData());
    }

    // A projector's PJLink listener: its greeting, its limit of connections, and no
    // listening while the line is away, so that PJLink clients show it unavailable. While the
    // panel holds a button on 001, a script switches 001 off: PJLink answers "cooling down"
    // at once, not the reading of before.
    void pjlinkListener() {
        auto sim = std::make_unique<Simulator>(kFourStates);
        const QString link = sim->link;
        QTemporaryDir dir;
        GateProcess gate(
            {"--config", hallFile(dir, link,
                                  "[[projector]]\naddress = \"001\"\n[projector.pjlink]\n"
                                  "listen = \"127.0.0.1:%PJ\"\nmax_connections = 1\n")});
        const auto pj = quint16(gate.pjlinkPort);
        QTcpSocket first;
        QTcpSocket second;
        first.connectToHost(QHostAddress::LocalHost, pj);
        QByteArray greeting;
        QTRY_COMPARE((greeting += first.readAll()), QByteArray("PJLINK 0\r"));
        second.connectToHost(QHostAddress::LocalHost, pj);
        QTRY_COMPARE(second.state(), QAbstractSocket::UnconnectedState); // one is the limit
        first.write("%1POWR ?\r");
        QByteArray answer;
        QTRY_COMPARE((answer += first.readAll()), QByteArray("%1POWR=1\r"));
        PanelWindow panel(gate.address());
        QTRY_VERIFY(panel.form->serialPort().write("").ok);
        panel.click("Option5"); // "001"
        panel.mouse(true, "Command59");
        QTest::qWait(300);
        QCOMPARE(runProgram(VK9CTL_PATH, {"--port", gate.address(), "--address", "1", "power-off"})
                     .status,
                 0);
        first.write("%1POWR ?\r");
        answer.clear();
        QTRY_COMPARE((answer += first.readAll()), QByteArray("%1POWR=2\r"));
        panel.mouse(false, "Command59");
        first.write(QByteArray("%1LAMP ?\r").repeated(12)); // more than 8 waiting: closed
        QTRY_COMPARE(first.state(), QAbstractSocket::UnconnectedState);
        QTcpSocket third;
        third.connectToHost(QHostAddress::LocalHost, pj);
        greeting.clear();
        QTRY_COMPARE((greeting += third.readAll()), QByteArray("PJLINK 0\r"));
        sim->process.terminate(); // the line goes away: the listener with it
        QTRY_COMPARE(third.state(), QAbstractSocket::UnconnectedState);
        QTcpSocket refused;
        refused.connectToHost(QHostAddress::LocalHost, pj);
        QVERIFY(!refused.waitForConnected(1000));
        // Another program takes the PJLink port meanwhile: the line back, the rest serves,
        // and PJLink listens again once the port is free.
        QTcpServer squatter;
        QVERIFY(squatter.listen(QHostAddress::LocalHost, pj));
        QProcess again;
        again.start(QStringLiteral(VK9SIM_PATH), {"--log", "/dev/null", link});
        QVERIFY(gate.listening(5000));
        squatter.close();
        const auto greets = [&] {
            QTcpSocket s;
            s.connectToHost(QHostAddress::LocalHost, pj);
            return s.waitForReadyRead(500) && s.readAll() == "PJLINK 0\r";
        };
        bool back = false; // tried again within 5 s
        for (QDeadlineTimer d(8000); !back && !d.hasExpired(); QTest::qWait(100)) {
            back = greets();
        }
        QVERIFY2(back, gate.said.constData());
        again.terminate();
        again.waitForFinished(3000);
        QCOMPARE(gate.end(), 0);
        QVERIFY(gate.said.contains(": cannot listen for PJLink on 127.0.0.1:"));
        QVERIFY2(gate.said.contains("turned away a PJLink client from 127.0.0.1:"),
                 gate.said.constData());
        QVERIFY(gate.said.contains(": more than 8 requests waiting for their answers"));
    }

    // The share port open to the network (every address, IPv4 too) lets in only the
    // addresses allowed, however written; the others are turned away and counted, in a line
    // a minute at most.
    void onlyTheAllowedConnect() {
        Simulator sim({});
        QTemporaryDir dir;
        GateProcess gate(
            {"--config", hallFile(dir, sim.link, "allow = [\"::ffff:127.0.0.2/128\"]\n", "[::]")});
        for (int i = 0; i < 3; ++i) {
            QTcpSocket outsider; // from 127.0.0.1: told why
            outsider.connectToHost(QHostAddress::LocalHost, quint16(gate.port));
            QTRY_COMPARE(outsider.state(), QAbstractSocket::UnconnectedState);
            QCOMPARE(outsider.readAll(),
                     QByteArray("vk9gate: 127.0.0.1 may not connect: it is not in line.allow\r\n"));
        }
        QTcpSocket insider;
        QVERIFY(insider.bind(QHostAddress("127.0.0.2")));
        insider.connectToHost(QHostAddress::LocalHost, quint16(gate.port));
        insider.write("CR0\r");
        QByteArray got;
        QTRY_COMPARE((got += insider.readAll()), QByteArray("80\r"));
        QCOMPARE(gate.end(), 0);
        QCOMPARE(gate.said.count("turned away"), 1); // the other two: in a minute's count
        QVERIFY(gate.said.contains("turned away a client not in line.allow, from 127.0.0.1:"));
    }

    // Passwords from an address that gave a wrong one are answered in turn, each wrong one
    // later than the last (a quarter of a second, doubling), whichever connection they come
    // on: four wrong guesses in parallel and a right one after them take 3.75 s. Told once,
    // not a line each.
    void wrongPasswordsAreSlowed() {
        Simulator sim({});
        QTemporaryDir dir;
        QFile secret(dir.filePath("secret"));
        QVERIFY(secret.open(QIODevice::WriteOnly) && secret.write("hall\n") == 5);
        secret.close();
        secret.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
        GateProcess gate(
            {"--config", hallFile(dir, sim.link,
                                  "[[projector]]\naddress = \"001\"\n[projector.pjlink]\n"
                                  "listen = \"127.0.0.1:%PJ\"\npassword_file = \"" +
                                      secret.fileName().toUtf8() + "\"\n")});
        std::vector<std::unique_ptr<QTcpSocket>> clients;
        QByteArray heard[5];
        for (QByteArray& h : heard) {
            clients.push_back(std::make_unique<QTcpSocket>());
            clients.back()->connectToHost(QHostAddress::LocalHost, quint16(gate.pjlinkPort));
            QTRY_VERIFY((h += clients.back()->readAll()).endsWith('\r'));
        }
        QElapsedTimer clock;
        clock.start();
        for (int i = 0; i < 4; ++i) {
            clients[i]->write(QByteArray(32, '0') + "%1POWR ?\r");
        }
        QTest::qWait(100);
        clients[4]->write(
            QCryptographicHash::hash(heard[4].mid(9, 8) + "hall", QCryptographicHash::Md5).toHex() +
            "%1POWR ?\r");
        heard[4].clear();
        QTRY_COMPARE_WITH_TIMEOUT((heard[4] += clients[4]->readAll()), QByteArray("%1POWR=0\r"),
                                  8000);
        QVERIFY2(clock.elapsed() >= 3700, QByteArray::number(clock.elapsed()));
        for (int i = 0; i < 4; ++i) {
            QTRY_VERIFY((heard[i] += clients[i]->readAll()).endsWith("PJLINK ERRA\r"));
        }
        QCOMPARE(gate.end(), 0);
        QCOMPARE(gate.said.count("wrong PJLink password"), 1);
    }

    // A service may see no other user's processes (ProtectProc=invisible): a line locked by
    // a live program is still in use by it, not a permission error.
    void lineHeldWhereProcessesAreInvisible() {
        Simulator sim({});
        const QString device = QFileInfo(sim.link).symLinkTarget();
        QProcess holder;
        holder.start("sleep", {"30"});
        QVERIFY(holder.waitForStarted());
        const QByteArray pid = QByteArray::number(holder.processId());
        QFile lock("/run/lock/LCK.." + device.mid(5).replace('/', '_'));
        QVERIFY(lock.open(QIODevice::WriteOnly) && lock.write(pid.rightJustified(10) + "\n") == 11);
        lock.close();
        QFile::setPermissions(device, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup |
                                          QFile::WriteGroup | QFile::ReadOther | QFile::WriteOther);
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost);
        const QString listen = "127.0.0.1:" + QString::number(probe.serverPort());
        probe.close();
        const Ran r = runProgram(
            "unshare",
            {"-m", "--fork", "sh", "-c",
             "mount -t proc -o hidepid=invisible proc /proc && exec setpriv --reuid=65534 "
             "--regid=65534 --clear-groups " VK9GATE_PATH " --line " +
                 device + " --listen " + listen});
        lock.remove();
        if (r.status != 3 && !r.err.contains("vk9gate") && ::geteuid() != 0) {
            QSKIP(qPrintable("a mount namespace with /proc of its own needs root: " + r.err));
        }
        QCOMPARE(r.status, 3);
        QVERIFY2(r.err.contains(device + " is in use by process " + pid + "\n"), qPrintable(r.err));
    }

    // The configuration as an administrator writes it: each error names the file, the line
    // and the key; --check says so and exits 2, or exits 0 for a good file.
    void configurationChecked_data() {
        QTest::addColumn<QByteArray>("toml");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("said"); // after "vk9gate: FILE"
        const QByteArray line = "[line]\nport = \"/dev/ttyUSB0\"\n";
        // clang-format off
        QTest::newRow("good") << line + "speed = 9600\nlisten = \"0.0.0.0:4001\"\nallow = [\"192.0.2.0/24\", \"::1\"]\n\n"
                                        "[[projector]]\naddress = \"001\"\nname = \"Hall left\"\n" << 0 << " is good\n";
        QTest::newRow("the share port open to anyone") << line + "listen = \"0.0.0.0:4001\"\n" << 2
            << ": line.listen 0.0.0.0:4001 is open beyond this computer to anyone: set line.allow = [\"192.0.2.0/24\", "
               "\"127.0.0.1\"], the addresses that may connect, or line.insecure_open = true\n";
        QTest::newRow("a bad allow") << line + "allow = [\"192.0.2.0/33\"]\n" << 2
            << ":3: line.allow: addresses and networks that may connect, such as [\"192.0.2.0/24\", \"127.0.0.1\"]\n";
        QTest::newRow("an unknown key") << line + "sped = 9600\n" << 2
            << ":3: line.sped: unknown key; the keys of line are allow, insecure_open, late_ms, listen, max_clients, max_wait_ms, port, probe_seconds, speed, traffic_log\n";
        QTest::newRow("a bad speed") << line + "speed = 4800\n" << 2 << ":3: line.speed: 19200 or 9600\n";
        QTest::newRow("a bad listen") << line + "listen = \"4001\"\n" << 2
            << ":3: line.listen: ADDRESS:PORT, such as 127.0.0.1:4001 or [::1]:4001\n";
        QTest::newRow("no line") << QByteArray("[[projector]]\naddress = \"001\"\n") << 2
            << ": [line]: missing; it names the line: port = \"/dev/ttyUSB0\"\n";
        QTest::newRow("a bad address") << line + "[[projector]]\naddress = \"5\"\n" << 2
            << ":4: projector.address: \"001\" to \"004\", or \"\" for one projector without an address\n";
        QTest::newRow("an address as a number, one error") << line + "[[projector]]\naddress = 1\n" << 2
            << ":4: projector.address: a text in quotes\n";
        QTest::newRow("two errors") << line + "max_clients = 0\n[[projector]]\nname = 3\n" << 2
            << ":3: line.max_clients: a whole number from 1 to 256\nvk9gate: FILE:5: projector.name: a text in quotes\n"
               "vk9gate: FILE:4: projector.address: missing\n";
        QTest::newRow("not TOML") << QByteArray("[line\n") << 2 << ":1: Error while parsing table header: expected ']', saw '\\n'\n";
        const QByteArray pjlink = line + "[[projector]]\naddress = \"001\"\nname = \"Hall left\"\n[projector.pjlink]\n";
        QTest::newRow("PJLink on loopback") << pjlink + "listen = \"127.0.0.1:4352\"\ninputs = [\"11\", \"21\", \"31\", \"51\"]\n"
            << 0 << " is good\n";
        QTest::newRow("PJLink open without a password") << pjlink + "listen = \"0.0.0.0\"\n" << 2
            << ":3: projector 001 (Hall left): pjlink.listen 0.0.0.0:4352 is open beyond this computer without a "
               "password: set pjlink.password_file, or pjlink.insecure_no_password = true\n";
        QTest::newRow("PJLink open, knowingly") << pjlink + "listen = \"0.0.0.0\"\ninsecure_no_password = true\n"
            << 0 << " is good\n";
        QTest::newRow("a password readable by others") << pjlink + "password_file = \"PASSWORD\"\n" << 2
            << ":7: projector.pjlink.password_file: PASSWORD: readable by others (mode 0644): chmod 600 PASSWORD\n";
        QTest::newRow("a FIFO as a password") << pjlink + "password_file = \"%DIR/fifo\"\n" << 2
            << ":7: projector.pjlink.password_file: %DIR/fifo: a FIFO, not a file\n";
        QTest::newRow("a folder as a password") << pjlink + "password_file = \"%DIR\"\n" << 2
            << ":7: projector.pjlink.password_file: %DIR: a folder, not a file\n";
        QTest::newRow("a link as a password") << pjlink + "password_file = \"%DIR/link\"\n" << 2
            << ":7: projector.pjlink.password_file: %DIR/link: a symbolic link; give the file itself\n";
        QTest::newRow("a credential") << pjlink + "listen = \"0.0.0.0\"\npassword_file = \"hall.pjlink\"\n" << 0 << " is good\n";
        QTest::newRow("a credential not given") << pjlink + "password_file = \"left.pjlink\"\n" << 2
            << ":7: projector.pjlink.password_file: %DIR/credentials/left.pjlink: No such file or directory: no such credential; "
               "LoadCredential=left.pjlink:PATH in the unit gives it\n";
        QTest::newRow("a password by a relative path") << pjlink + "password_file = \"./hall.pjlink\"\n" << 2
            << ":7: projector.pjlink.password_file: ./hall.pjlink: the file's full path, or a credential's name (without a folder)\n";
        QTest::newRow("PJLink on every IPv6 address, with the gate's port") << pjlink + "listen = \"::\"\n"
            "insecure_no_password = true\n[[projector]]\naddress = \"002\"\n[projector.pjlink]\nlisten = \"127.0.0.1:4352\"\n" << 2
            << ":9: projector 002: pjlink.listen 127.0.0.1:4352 is taken by another listener\n";
        QTest::newRow("PJLink on the gate's port, by name") << pjlink + "listen = \"localhost:4001\"\n" << 2
            << ":3: projector 001 (Hall left): pjlink.listen localhost:4001 is taken by another listener\n";
        QTest::newRow("an address twice") << line + "[[projector]]\naddress = \"001\"\n[[projector]]\naddress = \"001\"\n"
            << 2 << ":5: projector.address: \"001\" is there twice\n";
        QTest::newRow("a CA file that is not there") << line + "[mqtt]\nclient_id = \"hall\"\nca_file = \"/nowhere/ca.pem\"\n" << 2
            << ":5: mqtt.ca_file: /nowhere/ca.pem: No such file or directory\n";
        QTest::newRow("bad inputs") << pjlink + "inputs = [\"11\", \"61\"]\n" << 2
            << ":7: projector.pjlink.inputs: four PJLink inputs, such as [\"11\", \"12\", \"31\", \"32\"]\n";
        QTest::newRow("an input twice") << pjlink + "inputs = [\"11\", \"12\", \"31\", \"12\"]\n" << 2
            << ":7: projector.pjlink.inputs: \"12\" is there twice; each input is one PJLink input\n";
        QTest::newRow("names longer than PJLink carries") << line + "[[projector]]\naddress = \"001\"\nname = \"" + QByteArray(65, 'n')
            + "\"\n[projector.pjlink]\nproduct = \"" + QByteArray(33, 'p') + "\"\n" << 2
            << ":3: projector 001 (" + QString(65, 'n') + "): name: 65 characters; PJLink carries 64\nvk9gate: FILE:3: projector 001 ("
               + QString(65, 'n') + "): pjlink.product: 33 characters; PJLink carries 32\n";
        QTest::newRow("a traffic log in no folder") << line + "traffic_log = \"/nowhere/traffic.log\"\n" << 2
            << ": line.traffic_log /nowhere/traffic.log: cannot be written (/nowhere: No such file or directory)\n";
        const QByteArray mqtt = line + "[mqtt]\n";
        QTest::newRow("MQTT as people write it") << mqtt + "broker = \"mqtt://127.0.0.1:1883/\"\n" << 0 << " is good\n";
        QTest::newRow("MQTT on IPv6, TLS") << mqtt + "broker = \"mqtts://[::1]\"\n" << 0 << " is good\n";
        QTest::newRow("MQTT as another scheme") << mqtt + "broker = \"ws://127.0.0.1:9001\"\n" << 2
            << ":4: mqtt.broker: HOST:PORT, HOST, mqtt://HOST:PORT or mqtts://HOST:PORT (TLS), such as 127.0.0.1:1883 or [::1]:1883\n";
        QTest::newRow("a discovery prefix ending in /") << mqtt + "discovery_prefix = \"homeassistant/\"\n" << 2
            << ":4: mqtt.discovery_prefix: levels of letters, digits, \"-\" and \"_\" between single \"/\", such as \"vk9\" or \"building/vk9\"\n";
        QTest::newRow("a base topic with a wildcard") << mqtt + "base_topic = \"vk9/+\"\n" << 2
            << ":4: mqtt.base_topic: levels of letters, digits, \"-\" and \"_\" between single \"/\", such as \"vk9\" or \"building/vk9\"\n";
        QTest::newRow("a base topic with an empty level") << mqtt + "base_topic = \"building//vk9\"\n" << 2
            << ":4: mqtt.base_topic: levels of letters, digits, \"-\" and \"_\" between single \"/\", such as \"vk9\" or \"building/vk9\"\n";
        QTest::newRow("a CA folder") << mqtt + "ca_file = \"%DIR\"\n" << 2 << ":4: mqtt.ca_file: %DIR: a folder, not a file\n";
        QTest::newRow("MQTT on IPv6 without brackets") << mqtt + "broker = \"::1:1883\"\n" << 2
            << ":4: mqtt.broker: HOST:PORT, HOST, mqtt://HOST:PORT or mqtts://HOST:PORT (TLS), such as 127.0.0.1:1883 or [::1]:1883\n";
        QTest::newRow("a broker's password without a user") << mqtt + "password_file = \"hall.pjlink\"\n" << 2
            << ": mqtt.password_file: set mqtt.user too; a broker takes a password only with a user's name\n";
        QTest::newRow("a traffic log that is a folder") << line + "traffic_log = \"%DIR\"\n" << 2
            << ": line.traffic_log %DIR: cannot be written (a folder, not a file)\n";
        QTest::newRow("a CA file that is no certificate") << mqtt + "ca_file = \"PASSWORD\"\n" << 2
            << ":4: mqtt.ca_file: PASSWORD: holds no certificate (PEM, \"-----BEGIN CERTIFICATE-----\")\n";
        const QByteArray web = line + "[web]\n";
        QTest::newRow("the web panel open without a password") << web + "listen = \"0.0.0.0:8080\"\n" << 2
            << ": web.listen 0.0.0.0:8080 is open beyond this computer without a password: set web.password_file, "
               "or web.insecure_no_password = true\n";
        QTest::newRow("the web panel with a password, as a credential") << web + "listen = \"[::]:8080\"\npassword_file = \"hall.pjlink\"\n"
            << 0 << " is good\n";
        QTest::newRow("a web certificate without its key") << web + "cert_file = \"%DIR/cert.pem\"\n" << 2
            << ": web: TLS needs both web.cert_file and web.key_file\n";
        QTest::newRow("a web key readable by others") << web + "key_file = \"PASSWORD\"\n" << 2
            << ":4: web.key_file: PASSWORD: readable by others (mode 0644): chmod 600 PASSWORD\n";
        QTest::newRow("a web key and its certificate") << web + "cert_file = \"%DIR/tls.crt\"\nkey_file = \"%DIR/tls.key\"\n"
            << 0 << " is good\n";
        QTest::newRow("a web key not the certificate's") << web + "cert_file = \"%DIR/tls.crt\"\nkey_file = \"%DIR/other.key\"\n"
            << 2 << ": web.key_file %DIR/other.key: not the key of web.cert_file %DIR/tls.crt\n";
        QTest::newRow("a web key with a passphrase") << web + "cert_file = \"%DIR/tls.crt\"\nkey_file = \"%DIR/locked.key\"\n"
            << 2 << ": web.key_file %DIR/locked.key: not a private key that can be read without a passphrase\n";
        QTest::newRow("metrics beyond loopback, to anyone") << line + "[metrics]\nlisten = \"0.0.0.0:9640\"\n" << 2
            << ": metrics.listen 0.0.0.0:9640 is open beyond this computer to anyone: set line.allow, the addresses "
               "that may connect, or line.insecure_open = true\n";
        QTest::newRow("metrics on the web panel's port") << line + "[metrics]\n[web]\nlisten = \"127.0.0.1:9640\"\n" << 2
            << ": web.listen 127.0.0.1:9640 is taken by another listener\n";
        QTest::newRow("the web panel on the share port") << web + "listen = \"127.0.0.1:4001\"\n" << 2
            << ": web.listen 127.0.0.1:4001 is taken by another listener\n";
        // clang-format on
    }

    void configurationChecked() {
        QFETCH(QByteArray, toml);
        QFETCH(int, status);
        QFETCH(QString, said);
        QTemporaryDir dir;
        QFile password(dir.filePath("password"));
        QVERIFY(password.open(QIODevice::WriteOnly) && password.write("hall\n") == 5);
        password.close();
        password.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup |
                                QFile::ReadOther); // 0644
        toml.replace("PASSWORD", password.fileName().toUtf8()).replace("%DIR", dir.path().toUtf8());
        QVERIFY(::mkfifo(dir.filePath("fifo").toUtf8(), 0600) == 0);
        const auto openssl = [&](const QStringList& arguments) {
            QProcess p;
            p.setWorkingDirectory(dir.path());
            p.start("openssl", arguments);
            return p.waitForFinished(30000) && p.exitCode() == 0;
        };
        QVERIFY(openssl({"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj",
                         "/CN=hall", "-keyout", "tls.key", "-out", "tls.crt"}));
        QVERIFY(openssl({"genpkey", "-algorithm", "RSA", "-out", "other.key"}));
        QVERIFY(openssl({"pkey", "-in", "other.key", "-aes256", "-passout", "pass:hall", "-out",
                         "locked.key"}));
        for (const char* key : {"tls.key", "other.key", "locked.key"}) {
            QFile::setPermissions(dir.filePath(key), QFile::ReadOwner | QFile::WriteOwner);
        }
        QFile cert(dir.filePath("cert.pem"));
        QVERIFY(cert.open(QIODevice::WriteOnly) && cert.write("-----BEGIN CERTIFICATE-----\n") > 0);
        cert.close();
        QVERIFY(QFile::link(password.fileName(), dir.filePath("link")));
        QVERIFY(QDir(dir.path()).mkdir("credentials")); // as systemd hands them over
        QVERIFY(password.copy(dir.filePath("credentials/hall.pjlink")));
        QFile::setPermissions(dir.filePath("credentials/hall.pjlink"), QFile::ReadOwner);
        qputenv("CREDENTIALS_DIRECTORY", dir.filePath("credentials").toUtf8());
        QFile file(dir.filePath("hall.toml"));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(toml) == toml.size());
        file.close();
        const Ran r = runProgram(VK9GATE_PATH, {"--check", file.fileName()});
        QCOMPARE(r.status, status);
        QCOMPARE(status == 0 ? r.out : r.err, QString("vk9gate: FILE" + said)
                                                  .replace("FILE", file.fileName())
                                                  .replace("PASSWORD", password.fileName())
                                                  .replace("%DIR", dir.path()));
    }

    // The web panel's and the metrics' addresses, had or not, are told once each: at start,
    // when the gate gives up, and when it keeps trying.
    void anAddressIsToldOnce_data() {
        QTest::addColumn<QByteArray>("table");
        QTest::addColumn<bool>("taken");
        QTest::addColumn<bool>("keepTrying");
        QTest::newRow("metrics served") << QByteArray("metrics") << false << false;
        QTest::newRow("metrics taken, giving up") << QByteArray("metrics") << true << false;
        QTest::newRow("metrics taken, keeping trying") << QByteArray("metrics") << true << true;
        QTest::newRow("web panel served") << QByteArray("web") << false << true;
        QTest::newRow("web panel taken, giving up") << QByteArray("web") << true << false;
    }
    void anAddressIsToldOnce() {
        QFETCH(QByteArray, table);
        QFETCH(bool, taken);
        QFETCH(bool, keepTrying);
        Simulator sim({});
        QTcpServer squatter;
        squatter.listen(QHostAddress::LocalHost);
        const QByteArray address = "127.0.0.1:" + QByteArray::number(squatter.serverPort());
        if (!taken) {
            squatter.close();
        }
        QTemporaryDir dir;
        QStringList args{
            "--config", hallFile(dir, sim.link, "[" + table + "]\nlisten = \"" + address + "\"\n")};
        if (keepTrying) {
            args << "--keep-trying";
        }
        GateProcess gate(args, !taken || keepTrying);
        if (taken && !keepTrying) {
            QTRY_COMPARE(gate.process.state(), QProcess::NotRunning);
            QCOMPARE(gate.process.exitCode(), 4);
        } else {
            QTest::qWait(500);
            QCOMPARE(gate.end(), 0);
        }
        QCOMPARE(gate.said.count(address), 1);
    }

    // /metrics gives a reading, and when it was read, only if it can be read: a temperature
    // reply of the right length with no numbers in it has neither.
    void metricsOfReadableReadingsOnly() {
        Pty far;
        QSocketNotifier frames(far.master, QSocketNotifier::Read);
        QObject::connect(&frames, &QSocketNotifier::activated, [&] {
            const QByteArray frame = far.read();
            far.send(frame.startsWith("CR3") ? "1200\r" : "--.--, ----\r");
        });
        QTcpServer probe; // a free port for the metrics
        probe.listen(QHostAddress::LocalHost);
        const QByteArray metrics = "127.0.0.1:" + QByteArray::number(probe.serverPort());
        probe.close();
        QTemporaryDir dir;
        GateProcess gate({"--config", hallFile(dir, far.device,
                                               "[[projector]]\naddress = \"\"\nname = \"Solo\"\n"
                                               "[metrics]\nlisten = \"" +
                                                   metrics + "\"\n")});
        for (const char* query : {"query-l-time", "query-temp"}) {
            QProcess ctl;
            ctl.start(VK9CTL_PATH, {"--port", gate.gateAddress(), query});
            QTRY_VERIFY_WITH_TIMEOUT(ctl.state() == QProcess::NotRunning, 10000);
            QCOMPARE(ctl.exitCode(), query == std::string_view("query-l-time") ? 0 : 1);
        }
        const Ran scrape = runProgram("curl", {"-sf", "http://" + metrics + "/metrics"});
        QCOMPARE(scrape.status, 0);
        const QString who = R"({address="",name="Solo")";
        QVERIFY2(scrape.out.contains("vk9gate_projector_lamp_seconds" + who + "} 4320000\n"),
                 qPrintable(scrape.out));
        QVERIFY(scrape.out.contains("vk9gate_projector_reading_timestamp_seconds" + who +
                                    R"(,query="lamp"})"));
        QVERIFY(!scrape.out.contains("vk9gate_projector_temperature_celsius{"));
        QVERIFY2(!scrape.out.contains(R"(query="temperature")"), qPrintable(scrape.out));
    }

    // The watchdog is fed from the gate's event loop, twice a WATCHDOG_USEC, on a notify
    // socket of the test's own: the pings stop while the gate does not run, and come back.
    void watchdogFedByTheLoop() {
        NotifySocket notify;
        GateProcess gate({"--line", notify.dir.filePath("no-such-device"), "--keep-trying"}, false,
                         notify.environment());
        notify.count("WATCHDOG=1", 1000);                     // started, even on a loaded machine
        const int running = notify.count("WATCHDOG=1", 1000); // 10 due, one each 100 ms
        QVERIFY2(running >= 6 && running <= 11, qPrintable(QString::number(running)));
        ::kill(pid_t(gate.process.processId()), SIGSTOP);
        notify.count("WATCHDOG=1", 150); // those sent before it stopped
        QCOMPARE(notify.count("WATCHDOG=1", 1000), 0);
        ::kill(pid_t(gate.process.processId()), SIGCONT);
        QVERIFY(notify.count("WATCHDOG=1", 1000) >= 6);
    }

    // READY=1 once the gate serves: at once when it keeps trying, else once the line is open
    // and its port listens, and never from a gate that is about to give up.
    void readyWhenServing_data() {
        QTest::addColumn<bool>("lineThere");
        QTest::addColumn<bool>("keepTrying");
        QTest::addColumn<bool>("ready");
        QTest::newRow("the line open") << true << false << true;
        QTest::newRow("no line, giving up") << false << false << false;
        QTest::newRow("no line, keeping trying") << false << true << true;
        QTest::newRow("the line open, keeping trying") << true << true << true;
    }
    void readyWhenServing() {
        QFETCH(bool, lineThere);
        QFETCH(bool, keepTrying);
        QFETCH(bool, ready);
        Simulator sim({});
        NotifySocket notify;
        QStringList args{"--line", lineThere ? sim.link : notify.dir.filePath("no-such-device")};
        if (keepTrying) {
            args << "--keep-trying";
        }
        GateProcess gate(args, false, notify.environment());
        bool listening = false; // when READY=1 came
        QCOMPARE(notify.count("READY=1", 2000,
                              [&] {
                                  QTcpSocket probe; // refused at once if nothing listens yet
                                  probe.connectToHost(QHostAddress::LocalHost, quint16(gate.port));
                                  listening = probe.waitForConnected(1000);
                              }),
                 int(ready));
        QCOMPARE(listening, lineThere);
        QTest::qWait(100); // the gate's end, if it ends, seen
        QCOMPARE(gate.process.state() == QProcess::Running, ready);
        if (!ready) {
            QCOMPARE(gate.process.exitCode(), 3);
        }
    }
};

QTEST_MAIN(TstGate)
#include "tst_gate.moc"
