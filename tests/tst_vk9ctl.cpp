// vk9ctl as a script runs it, against vk9sim with each fault it can play and through
// ser2net: the exit status and the exact output of every run.
#include "support/GateProcess.h"
#include "support/Pty.h"
#include "support/Ser2net.h"
#include "support/Simulator.h"

#include "vk9ctl/Check.h"

#include <QSocketNotifier>

#include <csignal>

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
    // The monitoring plugins' ranges: when a value alerts.
    void ranges_data() {
        QTest::addColumn<QString>("range");
        QTest::addColumn<QList<double>>("alert");
        QTest::addColumn<QList<double>>("quiet");
        QTest::newRow("10: outside 0..10")
            << "10" << QList<double>{-1, 10.5, 11} << QList<double>{0, 5, 10};
        QTest::newRow("10: below 10") << "10:" << QList<double>{9.9, -5} << QList<double>{10, 1e9};
        QTest::newRow("~:10: above 10") << "~:10" << QList<double>{10.1} << QList<double>{10, -1e9};
        QTest::newRow("10:20 outside")
            << "10:20" << QList<double>{9, 21} << QList<double>{10, 15, 20};
        QTest::newRow("@10:20 inside")
            << "@10:20" << QList<double>{10, 15, 20} << QList<double>{9, 21};
        QTest::newRow("2500.5") << "2500.5" << QList<double>{2501} << QList<double>{2500.5};
        for (const char* bad :
             {"", "abc", "20:10", "1:x", "@", "~", "~:", "@~:", "nan", "inf", "1:inf", ":10"}) {
            QTest::newRow(qPrintable(QString("not a range: \"%1\"").arg(bad)))
                << bad << QList<double>{} << QList<double>{};
        }
    }
    void ranges() {
        QFETCH(QString, range);
        QFETCH(QList<double>, alert);
        QFETCH(QList<double>, quiet);
        const auto r = vk9::ctl::parseRange(range.toStdString());
        QCOMPARE(r.has_value(), !alert.isEmpty());
        for (const double v : alert) {
            QVERIFY2(vk9::ctl::alerts(*r, v), qPrintable(QString::number(v)));
        }
        for (const double v : quiet) {
            QVERIFY2(!vk9::ctl::alerts(*r, v), qPrintable(QString::number(v)));
        }
    }

    // vk9ctl check against the simulator through the gate: every status, each threshold.
    // Projector 1 has 1200 lamp hours and 25/24.5 °C in stand-by; projector 2 is on, with
    // 2650 hours and 41.5/38 °C.
    void checkPlugin_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("out");
        // clang-format off
        QTest::newRow("OK, no thresholds") << QStringList{"--address", "1", "check"} << 0
            << "VK9 OK - 001 lamp 1200 h, S1 25 °C, S2 24.5 °C | lamp_hours_001=1200;; temperature_s1_001=25;; temperature_s2_001=24.5;;\n";
        QTest::newRow("WARNING, lamp hours") << QStringList{"--address", "1,2", "check", "-w", "2500", "-c", "3000"} << 1
            << "VK9 WARNING - 002 lamp 2650 h | lamp_hours_001=1200;2500;3000 temperature_s1_001=25;; temperature_s2_001=24.5;; "
               "lamp_hours_002=2650;2500;3000 temperature_s1_002=41.5;; temperature_s2_002=38;;\n";
        QTest::newRow("CRITICAL, a temperature") << QStringList{"--address", "2", "check", "--temp-warning", "~:35", "--temp-critical", "~:40"} << 2
            << "VK9 CRITICAL - 002 S1 41.5 °C, 002 S2 38 °C | lamp_hours_002=2650;; temperature_s1_002=41.5;~:35;~:40 temperature_s2_002=38;~:35;~:40\n";
        QTest::newRow("CRITICAL, a projector that does not answer") << QStringList{"--address", "3", "check"} << 2
            << "VK9 CRITICAL - 003 no reply to CR0 within 500 ms on %1 (from --port)\n";
        QTest::newRow("CRITICAL, no line") << QStringList{"--port", "gate://127.0.0.1:1", "check"} << 2
            << "VK9 CRITICAL - cannot open gate://127.0.0.1:1 (from --port): 127.0.0.1:1: connection refused\n";
        QTest::newRow("UNKNOWN, a bad range") << QStringList{"check", "-w", "20:10"} << 3
            << "VK9 UNKNOWN - --warning 20:10: a range, such as 2500, 10:, ~:45, 10:20 or @10:20\n";
        QTest::newRow("UNKNOWN, a projector twice") << QStringList{"--address", "1,1", "check"} << 3
            << "VK9 UNKNOWN - --address 1,1: a projector 1 to 4, a list such as 1,2,4 (each once), or all\n";
        QTest::newRow("UNKNOWN, a threshold twice") << QStringList{"check", "-w", "2500", "--warning", "2000"} << 3
            << "VK9 UNKNOWN - --warning is given twice\n";
        QTest::newRow("UNKNOWN, out of time") << QStringList{"--port", "%SILENT", "--timeout", "5000", "check", "-t", "1"} << 3
            << "VK9 UNKNOWN - not done within 1 s\n";
        // clang-format on
    }
    void checkPlugin() {
        QFETCH(QStringList, args);
        QFETCH(int, status);
        QFETCH(QString, out);
        Simulator sim({"--projectors", "2", "--state", "2:power=on,hours=2650"});
        GateProcess gate({"--line", sim.link});
        const QStringList port{"--port", gate.gateAddress()};
        QTcpServer silent; // takes the connection, never answers
        silent.listen(QHostAddress::LocalHost);
        args.replaceInStrings("%SILENT", QString("tcp://127.0.0.1:%1").arg(silent.serverPort()));
        const Ran r = vk9ctl(args.contains("--port") ? args : port + args);
        QCOMPARE(r.out, out.replace("%1", gate.gateAddress()));
        QCOMPARE(r.status, status);
    }

    // A check of projectors that answer some queries and not others, or answer a fault:
    // never OK, and what is told is the first thing that went wrong with each; out of time,
    // what is known to be wrong by then stands.
    void checkOfPartAnswers_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QVariantMap>("replies"); // by frame; none: silence
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("out");
        const QByteArray temps = "025.0, 24.5\r";
        const auto of = [](QByteArray power, QByteArray lamp, QByteArray temperature) {
            QVariantMap replies{{"CR0", power}, {"CR3", lamp}, {"CR6", temperature}};
            replies.removeIf([](const auto& r) { return r.value().toByteArray().isEmpty(); });
            return replies;
        };
        // clang-format off
        QTest::newRow("power fault") << QStringList{} << of("10\r", "1200\r", temps) << 2
            << "VK9 CRITICAL - power fault | lamp_hours=1200;; temperature_s1=25;; temperature_s2=24.5;;\n";
        QTest::newRow("temperature fault") << QStringList{} << of("48\r", "1200\r", temps) << 2
            << "VK9 CRITICAL - temperature fault | lamp_hours=1200;; temperature_s1=25;; temperature_s2=24.5;;\n";
        QTest::newRow("power, then two replies of no shape") << QStringList{} << of("00\r", "12h\r", "hot\r") << 2
            << "VK9 CRITICAL - unexpected reply to CR3: 1 2 h CR \n";
        QTest::newRow("power, then silence") << QStringList{} << of("00\r", "", "") << 2
            << "VK9 CRITICAL - no reply to CR3 within 200 ms on %1 (from --port)\n";
        QTest::newRow("power, lamp hours, then silence") << QStringList{} << of("00\r", "1200\r", "") << 2
            << "VK9 CRITICAL - no reply to CR6 within 200 ms on %1 (from --port) | lamp_hours=1200;;\n";
        QTest::newRow("a fault known, then out of time") << QStringList{"--address", "1,2", "--late", "2000", "-t", "1"}
            << QVariantMap{{"A001CR0", "10\r"}, {"A001CR3", "1200\r"}, {"A001CR6", temps}} << 2
            << "VK9 CRITICAL - 001 power fault, 002 no reply to CR0 within 200 ms on %1 (from --port), not done within 1 s "
               "| lamp_hours_001=1200;; temperature_s1_001=25;; temperature_s2_001=24.5;;\n";
        // clang-format on
    }
    void checkOfPartAnswers() {
        QFETCH(QStringList, args);
        QFETCH(QVariantMap, replies);
        QFETCH(int, status);
        QFETCH(QString, out);
        Pty far;
        QByteArray heard;
        QSocketNotifier frames(far.master, QSocketNotifier::Read);
        QObject::connect(&frames, &QSocketNotifier::activated, [&] {
            heard += far.read();
            for (qsizetype cr; (cr = heard.indexOf('\r')) >= 0; heard.remove(0, cr + 1)) {
                far.send(replies.value(QString(heard.left(cr))).toByteArray());
            }
        });
        QProcess ctl;
        ctl.start(QStringLiteral(VK9CTL_PATH),
                  QStringList{"--port", far.device, "--timeout", "200", "--late", "200"} + args +
                      QStringList{"check"});
        QTRY_VERIFY_WITH_TIMEOUT(ctl.state() == QProcess::NotRunning, 10000);
        QCOMPARE(ctl.exitStatus(), QProcess::NormalExit);
        QCOMPARE(QString(ctl.readAllStandardOutput()), out.replace("%1", far.device));
        QCOMPARE(ctl.readAllStandardError(), QByteArray());
        QCOMPARE(ctl.exitCode(), status);
    }

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
        // The first run waits out the late window, so that the second never takes the reply
        // that came 1.6 s late for its own.
        QTest::newRow("a late reply is never the next run's") << QStringList{"--delay", "1600"}
            << "query-l-mode" << 0 << QStringList{"--json", "query-status"} << 1
            << "{\"ok\":false,\"error\":\"no reply to CR0 within 500 ms on %1 (from --port)\",\"results\":["
               "{\"address\":\"\",\"code\":\"CR0\",\"reply\":null,\"text\":null,\"error\":\"no reply to CR0 "
               "within 500 ms on %1 (from --port)\",\"power\":null}]}\n"
            << noReply.arg("%1", "", "CR0", "500");
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
            << QStringList{"--late", "600", "--address", "1,2,3", "query-mode"} << 1 << "A001 Input 1\nA002 Input 1\n"
            << noReply.arg("%1", "A003: ", "CR1", "500");
        QTest::newRow("a silent projector is asked once") << QStringList{"--projectors", "1"} << "" << 0
            << QStringList{"--late", "600", "--address", "2,1", "status"} << 1
            << "A001 Stand by\nA001 Input 1\nA001 Normally\nA001 0 1 2 0 0 CR  Hour Use\n"
               "A001  S1= 0 2 5 . 0 C  ,   S2=  2 4 . 5 C\nA001 All OFF : 4 Lamp mode\n"
            << "vk9ctl: A002: no reply to CR0 within 500 ms on %1 (from --port); not asked the rest of the status\n";
        QTest::newRow("a hold") << none << "" << 0 << QStringList{"--for", "120", "focus-minus"} << 0
            << "C4A acknowledged, 3 copies\n" << "";
        QTest::newRow("a hold's one copy") << none << "" << 0 << QStringList{"--json", "focus-minus"} << 0
            << "{\"ok\":true,\"error\":null,\"results\":[{\"address\":\"\",\"code\":\"C4A\",\"reply\":\"\\u0006\\r\","
               "\"text\":null,\"error\":null,\"copies\":1}]}\n" << "";
        QTest::newRow("power-on --wait, on at its last second") << QStringList{"--warm-up", "1500"} << "" << 0
            << QStringList{"power-on", "--wait", "2"} << 0 << "C00 acknowledged\n Power ON\n" << "";
        QTest::newRow("a wait that runs out") << QStringList{"--warm-up", "5000"} << "" << 0
            << QStringList{"power-on", "--wait", "1"} << 1 << "C00 acknowledged\n"
            << "vk9ctl: not Power ON within 1 s; the last status was Count down\n";
        // Projector 2 is cooling down and ignores the first C00: it gets another at stand by.
        QTest::newRow("--wait for several, one cooling down")
            << QStringList{"--warm-up", "300", "--cool-down", "1500", "--state", "2:power=cooling"} << "" << 0
            << QStringList{"--address", "1,2", "power-on", "--wait", "5"} << 0
            << "A001 C00 acknowledged\nA002 C00 acknowledged\nA002 C00 acknowledged\nA001 Power ON\nA002 Power ON\n" << "";
        QTest::newRow("a query to all") << none << "" << 0 << QStringList{"--address", "all", "status"} << 2 << ""
            << "vk9ctl: --address all takes a command, not a query or --wait: only one projector "
               "answers for all; use --address 1,2,3,4\n" + kTryHelp;
        QTest::newRow("a bad --wait") << none << "" << 0 << QStringList{"power-on", "--wait", "abc"} << 2 << ""
            << "vk9ctl: --wait abc: seconds, from 1 to 3600\n" + kTryHelp;
        QTest::newRow("--speed on raw TCP") << none << "" << 0
            << QStringList{"--port", "tcp://127.0.0.1:7001", "--speed", "9600", "status"} << 2 << ""
            << "vk9ctl: --speed 9600: on a raw tcp:// line the speed is the device server's to set; "
               "rfc2217:// sets it from here\n" + kTryHelp;
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

    // Each query's reply shape and the values a script reads, against a far end that answers
    // every frame as told: whole, of the shape and in the decoding table, or exit 1.
    void replyShapes_data() {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QString>("result"); // the end of its JSON result
        const auto row = [](const char* command, const QByteArray& reply, const char* result) {
            QTest::addRow("%s %s", command, reply.toPercentEncoding().constData())
                << command << reply << QString::fromUtf8(result);
        };
        const auto unexpected = [&](const char* command, const QByteArray& reply, const char* code,
                                    const char* shown, const char* keys) {
            const QString end =
                QStringLiteral("\"text\":null,\"error\":\"unexpected reply to %1:%2\"%3}")
                    .arg(code, shown, keys);
            QTest::addRow("%s %s", command, reply.toPercentEncoding().constData())
                << command << reply << end;
        };
        // clang-format off
        row("query-status", "80\r", "\"text\":\" Stand by\",\"error\":null,\"power\":\"standby\"}");
        row("query-status", "40\r", "\"text\":\" Count down\",\"error\":null,\"power\":\"countdown\"}");
        row("query-status", "20\r", "\"text\":\" Cooling down\",\"error\":null,\"power\":\"cooling\"}");
        row("query-status", "10\r", "\"text\":\" Power abnormality\",\"error\":null,\"power\":\"power-abnormality\"}");
        row("query-status", "48\r", "\"text\":\" Temperature abnormality\",\"error\":null,\"power\":\"temperature-abnormality\"}");
        unexpected("query-status", "90\r", "CR0", " 9 0 CR ", ",\"power\":null"); // of the shape, in no row
        unexpected("query-status", "\x06\r", "CR0", " &CR ", ",\"power\":null");
        row("query-mode", "4\r", "\"text\":\" Input 4\",\"error\":null,\"input\":4}");
        unexpected("query-mode", "14\r", "CR1", " 1 4 CR ", ",\"input\":null");
        row("query-l-time", "12345678901234567\r",
            "\"text\":\" 1 2 3 4 5 6 7 8 9 0 1 2 3 4 5 6 7 CR  Hour Use\",\"error\":null,\"lamp_hours\":12345678901234567}");
        unexpected("query-l-time", "123456789012345678\r", "CR3", " 1 2 3 4 5 6 7 8 9 0 1 2 3 4 5 6 7 8 CR ", ",\"lamp_hours\":null");
        row("query-setting", "10\r", "\"text\":\" Top/Bottom reversal\",\"error\":null,\"reversal\":\"top-bottom\"}");
        row("query-setting", "01\r", "\"text\":\" Left/Right reversal\",\"error\":null,\"reversal\":\"left-right\"}");
        row("query-setting", "00\r", "\"text\":\" Top/Bottom , Left/Right reversal\",\"error\":null,\"reversal\":\"both\"}");
        unexpected("query-setting", "21\r", "CR4", " 2 1 CR ", ",\"reversal\":null");
        row("query-temp", "-12.5, 99.9\r", "\"text\":\"  S1= - 1 2 . 5 C  ,   S2=  9 9 . 9 C\",\"error\":null,\"s1\":-12.5,\"s2\":99.9}");
        unexpected("query-temp", "041.5,38.0\r", "CR6", " 0 4 1 . 5 , 3 8 . 0 CR ", ",\"s1\":null,\"s2\":null");
        row("query-l-mode", "15\r", "\"text\":\" No1,3 ON  : 2 Lamp mode(1,4)\",\"error\":null,\"lamp_mode\":\"2-lamp-1-4\",\"lamps_lit\":[1,3]}");
        row("query-l-mode", "2F\r", "\"text\":\" All ON  : 2 Lamp mode(2,3)\",\"error\":null,\"lamp_mode\":\"2-lamp-2-3\",\"lamps_lit\":[1,2,3,4]}");
        unexpected("query-l-mode", "1a\r", "CR7", " 1 a CR ", ",\"lamp_mode\":null,\"lamps_lit\":null");
        row("power-on", "\x06\r", "\"text\":null,\"error\":null}");
        unexpected("power-on", "00\r", "C00", " 0 0 CR ", "");
        // clang-format on
    }

    void replyShapes() {
        QFETCH(QString, command);
        QFETCH(QByteArray, reply);
        QFETCH(QString, result);
        Pty far;
        QSocketNotifier frames(far.master, QSocketNotifier::Read);
        QObject::connect(&frames, &QSocketNotifier::activated, [&] {
            if (far.read().endsWith('\r')) {
                far.send(reply);
            }
        });
        QProcess ctl;
        ctl.start(QStringLiteral(VK9CTL_PATH), {"--json", "--port", far.device, command});
        QTRY_VERIFY_WITH_TIMEOUT(ctl.state() == QProcess::NotRunning, 10000);
        QCOMPARE(ctl.exitStatus(), QProcess::NormalExit);
        const QString out = ctl.readAllStandardOutput();
        QVERIFY2(out.endsWith(result + "]}\n"), qPrintable(out));
        QCOMPARE(ctl.exitCode(), result.contains("\"error\":null") ? 0 : 1);
    }

    // A second run on a local line in use waits for it with --wait-line, or is told at once
    // who holds it; a lines file names the default line.
    void sharingALocalLine() {
        Simulator sim({});
        QProcess first;
        first.start(QStringLiteral(VK9CTL_PATH),
                    {"--port", sim.link, "--for", "1200", "zoom-plus"});
        QTRY_VERIFY(sim.log().contains("C47"));
        Ran r = vk9ctl({"--port", sim.link, "query-status"});
        QVERIFY2(r.err.startsWith("vk9ctl: cannot open " + sim.link +
                                  " (from --port): " + sim.link + " is in use by process "),
                 qPrintable(r.err));
        QCOMPARE(r.status, 3);
        r = vk9ctl({"--port", sim.link, "--wait-line", "5", "query-status"});
        QCOMPARE(r.out, QStringLiteral(" Stand by\n"));
        QCOMPARE(r.status, 0);
        QVERIFY(first.waitForFinished(5000) && first.exitCode() == 0);
        QTemporaryDir config;
        QDir(config.path()).mkpath("vk9rsc");
        QFile lines(config.filePath("vk9rsc/lines.toml"));
        QVERIFY(lines.open(QIODevice::WriteOnly));
        lines.write("com1 = \"/nonexistent/ttyX\"\n");
        lines.close();
        QProcess ctl;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_CONFIG_HOME", config.path());
        env.remove("VK9RSC_COM1");
        ctl.setProcessEnvironment(env);
        ctl.start(QStringLiteral(VK9CTL_PATH), {"query-mode"});
        QVERIFY(ctl.waitForFinished(5000));
        QCOMPARE(QString(ctl.readAllStandardError()),
                 "vk9ctl: cannot open /nonexistent/ttyX (from " + lines.fileName() +
                     "): /nonexistent/ttyX: No such file or directory\n");
        QCOMPARE(ctl.exitCode(), 3);
    }

    // A run ended early, by a signal or by check's time limit, waits out its frame's late
    // window first: the next run on the line never takes the late reply for its own.
    void aRunEndedEarlyLeavesNoLateReply_data() {
        QTest::addColumn<QStringList>("first");
        QTest::addColumn<int>("status");
        QTest::newRow("by SIGTERM") << QStringList{"query-status"} << 128 + SIGTERM;
        QTest::newRow("by check's time limit") << QStringList{"check", "-t", "1"} << 2; // no reply
    }
    void aRunEndedEarlyLeavesNoLateReply() {
        QFETCH(QStringList, first);
        QFETCH(int, status);
        Simulator sim({"--delay", "1600", "--state", "2:power=on"});
        QProcess run;
        run.start(QStringLiteral(VK9CTL_PATH),
                  QStringList{"--port", sim.link, "--address", "2"} + first);
        if (status == 128 + SIGTERM) {
            QTest::qWait(1300);
            run.terminate();
        }
        QVERIFY(run.waitForFinished(5000));
        QCOMPARE(run.exitCode(), status);
        const Ran r =
            vk9ctl({"--port", sim.link, "--timeout", "2000", "--address", "1", "query-status"});
        QCOMPARE(r.out, QStringLiteral(" Stand by\n"));
    }

    // Output that cannot be written fails the run: exit 1, or UNKNOWN for a check.
    void outputThatCannotBeWritten_data() {
        QTest::addColumn<QString>("command");
        QTest::addColumn<int>("status");
        QTest::newRow("query-status") << "query-status" << 1;
        QTest::newRow("check") << "check" << 3;
    }
    void outputThatCannotBeWritten() {
        QFETCH(QString, command);
        QFETCH(int, status);
        Simulator simulator({});
        const Ran r = vk9ctl({"--port", simulator.link, command}, "/dev/full");
        QCOMPARE(r.err, QStringLiteral("vk9ctl: standard output: No space left on device\n"));
        QCOMPARE(r.status, status);
    }

    // A server that answers a frame and then hangs up at once (a gate stopped) took the
    // connection: a lost line, and the reply it gave stands.
    void aLineLostAtOnceKeepsItsReplies() {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost);
        const QString port = QString::number(probe.serverPort());
        probe.close();
        QProcess server; // reads CR0, answers stand-by, reads CR1 and hangs up
        server.start("socat",
                     {"TCP-LISTEN:" + port + ",bind=127.0.0.1,reuseaddr",
                      "SYSTEM:head -c 4 >/dev/null; printf '80\\r'; head -c 4 >/dev/null"});
        QTRY_VERIFY(QTcpSocket().bind(QHostAddress::LocalHost, quint16(port.toInt())) == false);
        const Ran r = vk9ctl({"--port", "tcp://127.0.0.1:" + port, "status"});
        QCOMPARE(r.out, QStringLiteral(" Stand by\n"));
        QCOMPARE(r.err, "vk9ctl: tcp://127.0.0.1:" + port +
                            " (from --port) went away: the server closed the connection\n");
        QCOMPARE(r.status, 3);
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
