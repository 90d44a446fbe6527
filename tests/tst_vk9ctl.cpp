// vk9ctl as a script runs it, against vk9sim directly and through ser2net.
#include "support/Ser2net.h"
#include "support/Simulator.h"

#include <QJsonDocument>
#include <QJsonObject>

using namespace vk9::test;

namespace {

struct Run {
    int status;
    QString out;
    QString err;
};

Run vk9ctl(const QStringList& arguments) {
    QProcess ctl;
    ctl.start(QStringLiteral(VK9CTL_PATH), arguments);
    ctl.waitForFinished(10000);
    return {ctl.exitCode(), ctl.readAllStandardOutput(), ctl.readAllStandardError()};
}

// Two projectors, counting down for a second after power on.
const QStringList kProjectors{"--projectors", "2", "--warm-up", "1000"};

} // namespace

class TstVk9ctl : public QObject {
    Q_OBJECT
private slots:
    void powerOnThenStatus() {
        Simulator sim(kProjectors);
        Run r = vk9ctl({"--port", sim.link, "power-on"}); // acknowledged: nothing to print
        QCOMPARE(r.status, 0);
        QCOMPARE(r.out, QString());
        r = vk9ctl({"--port", sim.link, "status"});
        QCOMPARE(r.status, 0);
        QCOMPARE(r.out.split('\n').first(), QStringLiteral(" Count down"));
        QCOMPARE(r.out.count('\n'), 6);
        QTest::qWait(1000);
        r = vk9ctl({"--port", sim.link, "--json", "status"});
        QCOMPARE(r.status, 0);
        const QJsonObject all = QJsonDocument::fromJson(r.out.toUtf8()).object();
        QCOMPARE(all.size(), 6);
        QCOMPARE(all["status"]["text"].toString(), QStringLiteral(" Power ON"));
        QCOMPARE(all["status"]["reply"].toString(), QStringLiteral("00\r"));
        QCOMPARE(all["l-time"]["text"].toString(), QStringLiteral(" 0 1 2 0 0 CR  Hour Use"));
        // Framed as the panel frames it, with the address; one beyond the line: no reply.
        QCOMPARE(vk9ctl({"--port", sim.link, "--address", "2", "send", "C07"}).status, 0);
        QVERIFY(sim.log().contains(" rx 2 A002C07<0D> -> <06><0D>"));
        r = vk9ctl({"--port", sim.link, "--address", "3", "query-mode"});
        QCOMPARE(r.status, 1);
        QCOMPARE(r.err, QStringLiteral("vk9ctl: no reply to CR1 within 500 ms\n"));
    }

    void usageErrors_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("no command") << QStringList{};
        QTest::newRow("a code no button sends") << QStringList{"send", "C99"};
        QTest::newRow("unknown name") << QStringList{"power-up"};
        QTest::newRow("bad address") << QStringList{"--address", "5", "status"};
        QTest::newRow("line that does not open") << QStringList{"--port", "/nonexistent", "c01"};
    }

    void usageErrors() {
        QFETCH(QStringList, arguments);
        const Run r = vk9ctl(arguments);
        QCOMPARE(r.status, 2);
        QVERIFY(r.err.startsWith("vk9ctl: "));
    }

    void throughSer2net() {
        Simulator sim(kProjectors);
        Ser2net server(sim.link);
        const Run r = vk9ctl({"--port", server.address(true), "query-status"});
        QCOMPARE(r.out, QStringLiteral(" Stand by\n"));
        QCOMPARE(r.status, 0);
    }
};

QTEST_GUILESS_MAIN(TstVk9ctl)
#include "tst_vk9ctl.moc"
