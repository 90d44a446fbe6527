// vk9ctl as a script runs it, against vk9sim with each fault it can play and through
// ser2net: the exit status and the exact output of every run.
#include "support/Ser2net.h"
#include "support/Simulator.h"

using namespace vk9::test;

namespace {

Ran vk9ctl(const QStringList& arguments, const QString& outputFile = {}) {
    return runProgram(QStringLiteral(VK9CTL_PATH), arguments, outputFile);
}

const QString kTryHelp = "Try 'vk9ctl --help'\n";

} // namespace

class TstVk9ctl : public QObject {
    Q_OBJECT
private slots:
    // Each row: the simulator's options, an earlier run and a pause after it, this run's
    // options, and what it must give. %1 is the simulator's line.
    void runs_data() {
        QTest::addColumn<QStringList>("sim");
        QTest::addColumn<QString>("before");
        QTest::addColumn<int>("pauseMs");
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("out");
        QTest::addColumn<QString>("err");
        const QStringList none;
        const QString noReply = "vk9ctl: %2no reply to %3 within %4 ms on %1 (from --port)\n";
        // clang-format off
        QTest::newRow("status") << none << "" << 0 << QStringList{"status"} << 0
            << " Stand by\n Input 1\n Normally\n 0 1 2 0 0 CR  Hour Use\n"
               "  S1= 0 2 5 . 0 C  ,   S2=  2 4 . 5 C\n All OFF : 4 Lamp mode\n" << "";
        QTest::newRow("JSON: every key, in query order") << QStringList{"--warm-up", "0"} << "power-on" << 0
            << QStringList{"--json", "status"} << 0
            << "{\"ok\":true,\"error\":null,\"results\":["
               "{\"address\":\"\",\"code\":\"CR0\",\"reply\":\"00\\r\",\"text\":\" Power ON\",\"error\":null,\"power\":\"on\"},"
               "{\"address\":\"\",\"code\":\"CR1\",\"reply\":\"1\\r\",\"text\":\" Input 1\",\"error\":null,\"input\":1},"
               "{\"address\":\"\",\"code\":\"CR4\",\"reply\":\"11\\r\",\"text\":\" Normally\",\"error\":null,\"reversal\":\"none\"},"
               "{\"address\":\"\",\"code\":\"CR3\",\"reply\":\"01200\\r\",\"text\":\" 0 1 2 0 0 CR  Hour Use\",\"error\":null,\"lamp_hours\":1200},"
               "{\"address\":\"\",\"code\":\"CR6\",\"reply\":\"041.5, 38.0\\r\",\"text\":\"  S1= 0 4 1 . 5 C  ,   S2=  3 8 . 0 C\",\"error\":null,\"s1\":41.5,\"s2\":38},"
               "{\"address\":\"\",\"code\":\"CR7\",\"reply\":\"0F\\r\",\"text\":\" All ON  : 4 Lamp mode\",\"error\":null,\"lamp_mode\":\"4-lamp\",\"lamps_lit\":[1,2,3,4]}]}\n"
            << "";
        QTest::newRow("a late reply from an earlier run") << QStringList{"--delay", "1500"}
            << "--timeout 100 query-status" << 1000 << QStringList{"--timeout", "2000", "--json", "query-l-time"} << 0
            << "{\"ok\":true,\"error\":null,\"results\":[{\"address\":\"\",\"code\":\"CR3\",\"reply\":\"01200\\r\","
               "\"text\":\" 0 1 2 0 0 CR  Hour Use\",\"error\":null,\"lamp_hours\":1200}]}\n" << "";
        QTest::newRow("late replies, within a run") << QStringList{"--delay", "700"} << "" << 0
            << QStringList{"--timeout", "300", "--address", "1,2", "query-mode"} << 1 << ""
            << noReply.arg("%1", "A001: ", "CR1", "300") + noReply.arg("%1", "A002: ", "CR1", "300");
        QTest::newRow("a reply cut off") << QStringList{"--split", "2:300"} << "" << 0
            << QStringList{"--json", "query-l-time"} << 1
            << "{\"ok\":false,\"error\":\"reply to CR3 cut off at 500 ms: 0 1 2 0  on %1 (from --port)\",\"results\":"
               "[{\"address\":\"\",\"code\":\"CR3\",\"reply\":\"0120\",\"text\":null,"
               "\"error\":\"reply to CR3 cut off at 500 ms: 0 1 2 0  on %1 (from --port)\",\"lamp_hours\":null}]}\n"
            << "vk9ctl: reply to CR3 cut off at 500 ms: 0 1 2 0  on %1 (from --port)\n";
        QTest::newRow("garbage") << QStringList{"--garbage", "2"} << "" << 0 << QStringList{"query-status"} << 1
            << "" << "vk9ctl: unexpected reply to CR0: ? ? 8 0 CR \n";
        QTest::newRow("no reply") << QStringList{"--no-reply"} << "" << 0 << QStringList{"power-on"} << 1
            << "" << noReply.arg("%1", "", "C00", "500");
        QTest::newRow("the line goes away") << QStringList{"--drop-after", "2"} << "" << 0 << QStringList{"status"} << 3
            << " Stand by\n" << "vk9ctl: %1 (from --port) went away: the line hung up\n";
        QTest::newRow("several projectors") << QStringList{"--projectors", "2"} << "" << 0
            << QStringList{"--address", "1,2,3", "query-mode"} << 1 << "A001 Input 1\nA002 Input 1\n"
            << noReply.arg("%1", "A003: ", "CR1", "500");
        QTest::newRow("a hold") << none << "" << 0 << QStringList{"--for", "120", "focus-minus"} << 0
            << "C4A acknowledged, 3 copies\n" << "";
        QTest::newRow("power-on --wait") << QStringList{"--warm-up", "1000"} << "" << 0
            << QStringList{"power-on", "--wait", "5"} << 0 << "C00 acknowledged\n Power ON\n" << "";
        QTest::newRow("a wait that runs out") << QStringList{"--warm-up", "5000"} << "" << 0
            << QStringList{"power-on", "--wait", "1"} << 1 << "C00 acknowledged\n"
            << "vk9ctl: not Power ON within 1 s; the last status was Count down\n";
        QTest::newRow("a bad speed") << none << "" << 0 << QStringList{"--json", "--speed", "1200", "status"} << 2
            << "" << "vk9ctl: --speed 1200: 19200 or 9600\n" + kTryHelp;
        QTest::newRow("send without a code") << none << "" << 0 << QStringList{"send"} << 2
            << "" << "vk9ctl: send: which CODE? For example: send C00\n" + kTryHelp;
        QTest::newRow("--for with a one-shot") << none << "" << 0 << QStringList{"--for", "100", "power-on"} << 2
            << "" << "vk9ctl: --for goes with a hold button, such as zoom-plus\n" + kTryHelp;
        QTest::newRow("a line that does not open") << none << "" << 0
            << QStringList{"--json", "--port", "/nonexistent/tty", "status"} << 3
            << "{\"ok\":false,\"error\":\"cannot open /nonexistent/tty (from --port): /nonexistent/tty: "
               "No such file or directory\",\"results\":[]}\n"
            << "vk9ctl: cannot open /nonexistent/tty (from --port): /nonexistent/tty: No such file or directory\n";
        // clang-format on
    }

    void runs() {
        QFETCH(QStringList, sim);
        QFETCH(QString, before);
        QFETCH(int, pauseMs);
        QFETCH(QStringList, args);
        QFETCH(int, status);
        QFETCH(QString, out);
        QFETCH(QString, err);
        Simulator simulator(sim);
        const QStringList port{"--port", simulator.link};
        if (!before.isEmpty()) {
            (void)vk9ctl(port + before.split(' '));
            QTest::qWait(pauseMs);
        }
        const Ran r = vk9ctl(port + args);
        QCOMPARE(r.err, err.replace("%1", simulator.link));
        QCOMPARE(r.out, out.replace("%1", simulator.link));
        QCOMPARE(r.status, status);
    }

    void outputThatCannotBeWritten() {
        Simulator simulator({});
        const Ran r = vk9ctl({"--port", simulator.link, "query-status"}, "/dev/full");
        QCOMPARE(r.err, QStringLiteral("vk9ctl: standard output: No space left on device\n"));
        QCOMPARE(r.status, 1);
    }

    // Through ser2net, and turned away by it when its line is in use.
    void throughSer2net() {
        Simulator sim({});
        Ser2net server(sim.link);
        Ran r = vk9ctl({"--port", server.address(true), "query-status"});
        QCOMPARE(r.out, QStringLiteral(" Stand by\n"));
        QCOMPARE(r.status, 0);
        QTcpSocket first;
        QTcpSocket second;
        for (QTcpSocket* s : {&first, &second}) {
            s->connectToHost(QHostAddress::LocalHost, quint16(server.telnetPort));
            QVERIFY(s->waitForConnected(1000));
        }
        r = vk9ctl({"--port", server.address(true), "query-status"});
        QCOMPARE(r.err,
                 QStringLiteral("vk9ctl: cannot open %1 (from --port): 127.0.0.1:%2: the line "
                                "is in use, or not open to this computer: the server hung "
                                "up at once, saying \"Port already in use\"\n")
                     .arg(server.address(true))
                     .arg(server.telnetPort));
        QCOMPARE(r.status, 3);
    }
};

QTEST_GUILESS_MAIN(TstVk9ctl)
#include "tst_vk9ctl.moc"
