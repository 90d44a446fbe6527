// The real window against the projector simulator on a pseudo-terminal.
#include "support/Simulator.h"
#include "support/WindowFixture.h"

#include <QTemporaryDir>

using namespace vk9;

namespace {

// vk9sim on a pseudo-terminal, and the real window talking to it.
struct Setup {
    test::Simulator sim;
    std::unique_ptr<test::PanelWindow> window; // goes before the simulator

    explicit Setup(const QStringList& simArguments)
        : sim(QStringList{"--warm-up", "300"} + simArguments),
          window(std::make_unique<test::PanelWindow>(sim.link)) {
        QVERIFY(window->form->serialPort().isOpen());
    }
    QString status() const { return window->text("Label22"); }
    QString rxd() const { return window->text("Label12"); }
    QByteArray log() const { return sim.log(); }
};

} // namespace

class TstEndToEnd : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { qt::prepareApplication(*qApp); }

    void everyQueryDecodes() {
        Setup s({"--warm-up", "0", "--split", "2:5"}); // replies arrive in pieces
        for (const char* c : {"Command17", "Command28", "Command57"}) {
            s.window->click(c); // power on, input 2, lamps 1-4
            QTest::qWait(30);
        }
        const std::pair<const char*, const char*> queries[] = {
            {"Command44", " Power ON"},
            {"Command45", " Input 2"},
            {"Command47", " Normally"},
            {"Command46", " 0 1 2 0 0 CR  Hour Use"},
            {"Command54", "  S1= 0 4 1 . 5 C  ,   S2=  3 8 . 0 C"},
            {"Command55", " No1,4 ON  : 2 Lamp mode(1,4)"},
        };
        for (const auto& [button, message] : queries) {
            QTest::qWait(600); // the last reply leaves the receive buffer with its window
            s.window->click(button);
            QTRY_COMPARE(s.status(), QString::fromUtf8(message));
        }
    }

    // A logout, systemctl stop or kill ends the panel as "END" does: the line closed with
    // its lock removed, the traffic log written out, exit status 0.
    void signalEndsThePanelAsEndDoes() {
        test::Pty far;
        QTemporaryDir dir;
        QProcess panel;
        panel.start(QStringLiteral(VK9RSC_PATH),
                    {"--com1", far.device, "--log", dir.filePath("traffic.log")});
        const QString lock = "/run/lock/LCK.." + far.device.mid(5).replace('/', '_');
        QTRY_VERIFY(QFileInfo::exists(lock)); // port 1 is open
        far.send("00\r");                     // unasked: shown and logged
        QTest::qWait(300);
        panel.terminate();
        QVERIFY(panel.waitForFinished(5000));
        QCOMPARE(panel.exitStatus(), QProcess::NormalExit);
        QCOMPARE(panel.exitCode(), 0);
        QVERIFY(!QFileInfo::exists(lock));
        QFile log(dir.filePath("traffic.log"));
        QVERIFY(log.open(QIODevice::ReadOnly) && log.readAll().endsWith(" RX | 0 0 CR |\n"));
    }
};

QTEST_MAIN(TstEndToEnd)
#include "tst_endtoend.moc"
