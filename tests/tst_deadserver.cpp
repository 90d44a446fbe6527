// A device server that falls silent (a power cut, a pulled cable: packets dropped, no
// reset) is a lost line within 15 s, whether the line is idle or in the middle of a hold.
// Runs in a network namespace of its own, where nft drops the server's packets.
#include "support/Ser2net.h"
#include "support/WindowFixture.h"

using namespace vk9;
using namespace vk9::test;

namespace {

bool nft(const QString& command) {
    QProcess p;
    p.start("sh", {"-c", "nft " + command});
    return p.waitForFinished(5000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

} // namespace

class TstDeadServer : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        qt::prepareApplication(*qApp);
        QVERIFY2(nft("add table inet vk9"), "nft does not run here: run in a network namespace");
    }
    void cleanup() { nft("flush table inet vk9"); }
    void cleanupTestCase() { nft("delete table inet vk9"); }

    void silentServerIsALostLine_data() {
        QTest::addColumn<bool>("holding");
        QTest::newRow("idle") << false;
        QTest::newRow("mid-hold") << true;
    }

    void silentServerIsALostLine() {
        QFETCH(bool, holding);
        Pty far;
        Ser2net server(far.device);
        PanelWindow p(server.address(true));
        QTRY_VERIFY(p.form->serialPort().write("").ok); // connected
        if (holding) {
            p.mouse(true, "Command15"); // Zoom +, every 50 ms
            QTRY_VERIFY((p.line += far.read()).count("C47\r") >= 3);
        }
        const QString port = QString::number(server.telnetPort);
        QVERIFY(nft("'add chain inet vk9 in { type filter hook input priority 0 ; }'"));
        QVERIFY(nft("add rule inet vk9 in tcp sport " + port + " drop"));
        QVERIFY(nft("add rule inet vk9 in tcp dport " + port + " drop"));
        QElapsedTimer silent;
        silent.start();
        QTRY_COMPARE_WITH_TIMEOUT(p.warnings().size(), 1, 15000);
        qInfo("told %.1f s after the server fell silent", double(silent.elapsed()) / 1000);
        QCOMPARE(p.warnings()[0], QStringLiteral("VK9RSC: The serial line %1 went away: Connection "
                                                 "timed out\n\nReconnecting to %2:%3: this box "
                                                 "closes when the line is back.")
                                      .arg(server.address(true), server.host, port));
        QCOMPARE(p.form->state().repeatCode, 0); // the hold stopped with the line
        const auto written = p.form->serialPort().bytesWritten();
        QTest::qWait(300);
        QCOMPARE(p.form->serialPort().bytesWritten(), written);
        p.mouse(false, "Command15");
    }
};

QTEST_MAIN(TstDeadServer)
#include "tst_deadserver.moc"
