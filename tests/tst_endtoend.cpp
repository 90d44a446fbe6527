#include "support/WindowFixture.h"

#include <QLabel>
#include <QProcess>
#include <QTemporaryDir>

using namespace vk9;
using namespace vk9::qt;

namespace {

// vk9sim on a pseudo-terminal, and the real window talking to it.
struct Setup {
    QTemporaryDir dir;
    QProcess sim;
    std::unique_ptr<test::PanelWindow> window;

    explicit Setup(const QStringList& simArguments) {
        const QString link = dir.filePath("com1");
        sim.setProcessChannelMode(QProcess::ForwardedOutputChannel);
        sim.start(QStringLiteral(VK9SIM_PATH),
                  QStringList{"--warm-up", "300", "--log", dir.filePath("sim.log")} + simArguments +
                      QStringList{link});
        QVERIFY(sim.waitForStarted());
        QTRY_VERIFY(QFileInfo::exists(link));
        window = std::make_unique<test::PanelWindow>(link);
        QVERIFY(window->form->serialPort().isOpen());
    }
    ~Setup() {
        window.reset();
        sim.terminate();
        sim.waitForFinished(2000);
    }
    void click(Control id) { window->click(id); }
    QString status() const { return window->get<QLabel>(kStatusBox)->text(); }
    QString rxd() const { return window->get<QLabel>(kRxdBox)->text(); }
    QByteArray log() const {
        QFile f(dir.filePath("sim.log"));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
};

} // namespace

class TstEndToEnd : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { prepareApplication(*qApp); }

    void powerOnCountsDownThenIsOn() {
        Setup s({"--warm-up", "1500"});
        s.click(Control::Command44);
        QTRY_COMPARE(s.status(), QStringLiteral(" Stand by"));
        QTest::qWait(600);           // the reply window closes and empties the receive buffer
        s.click(Control::Command17); // POWER ON
        QTRY_COMPARE(s.rxd(), QStringLiteral(" &CR "));
        QTest::qWait(600);
        s.click(Control::Command44);
        QTRY_COMPARE(s.status(), QStringLiteral(" Count down"));
        QTest::qWait(1000);
        s.click(Control::Command44);
        QTRY_COMPARE(s.status(), QStringLiteral(" Power ON"));
    }

    void everyQueryDecodes_data() {
        QTest::addColumn<int>("button");
        QTest::addColumn<QString>("message");
        QTest::newRow("STATUS") << int(Control::Command44) << " Power ON";
        QTest::newRow("MODE") << int(Control::Command45) << " Input 2";
        QTest::newRow("SETTING") << int(Control::Command47) << " Normally";
        QTest::newRow("L-TIME") << int(Control::Command46) << " 0 1 2 0 0 CR  Hour Use";
        QTest::newRow("TEMP") << int(Control::Command54) << "  S1= 0 4 1 . 5 C  ,   S2=  3 8 . 0 C";
        QTest::newRow("L-MODE after 1-4")
            << int(Control::Command55) << " No1,4 ON  : 2 Lamp mode(1,4)";
    }

    void everyQueryDecodes() {
        QFETCH(int, button);
        QFETCH(QString, message);
        Setup s({"--warm-up", "0"});
        for (Control c : {Control::Command17, Control::Command28, Control::Command57}) {
            s.click(c); // power on, input 2, lamps 1-4
            QTest::qWait(30);
        }
        QTest::qWait(600); // the acknowledgements leave the receive buffer with the reply window
        s.click(static_cast<Control>(button));
        QTRY_COMPARE(s.status(), message);
    }

    void addressedQueryReachesProjector3() {
        Setup s({});
        QTest::mouseClick(s.window->form->control(Control::Option7), Qt::LeftButton); // "003"
        s.click(Control::Command46);                                                  // L-TIME
        QTRY_COMPARE(s.status(), QStringLiteral(" 0 1 4 2 2 CR  Hour Use"));
        QTRY_VERIFY(s.log().contains(" rx 3 A003CR3<0D>"));
    }

    void missingReplyIsMarked() {
        Setup s({"--no-reply"});
        s.click(Control::Command44);
        QTRY_COMPARE(s.rxd(), QStringLiteral(" X X X X"));
        QCOMPARE(s.status(), QString());
    }

    void splitReplyDecodes() {
        Setup s({"--split", "1:100"});
        QStringList seen; // every RXD caption, sampled faster than the pieces come
        QTimer sampler;
        sampler.setInterval(2);
        QObject::connect(&sampler, &QTimer::timeout, [&] {
            if (seen.isEmpty() || seen.back() != s.rxd()) {
                seen << s.rxd();
            }
        });
        sampler.start();
        s.click(Control::Command44);
        QTRY_COMPARE(s.status(), QStringLiteral(" Stand by"));
        QTRY_COMPARE(s.rxd(), QStringLiteral(" 8 0 CR "));
        seen.removeAll(QString());
        QCOMPARE(seen, (QStringList{" 8 ", " 8 0 ", " 8 0 CR "}));
    }

    void lineGoingAwayIsReportedAndPanelRuns() {
        Setup s({"--drop-after", "2"});
        s.click(Control::Command44);
        s.click(Control::Command45);
        QTRY_COMPARE(s.window->warnings.texts.size(), 1);
        QVERIFY(!s.window->form->serialPort().isOpen());
        s.click(Control::Command17);
        QCOMPARE(s.status(), QStringLiteral(" Not sent: no serial port is open"));
        QTest::qWait(100);
        QCOMPARE(s.window->warnings.texts.size(), 1);
    }
};

QTEST_MAIN(TstEndToEnd)
#include "tst_endtoend.moc"
