// The real window against the projector simulator on a pseudo-terminal.
#include "support/Simulator.h"
#include "support/WindowFixture.h"

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

    void powerOnCountsDownThenIsOn() {
        Setup s({"--warm-up", "1500"});
        s.window->click("Option7"); // projector 3
        s.window->click("Command44");
        QTRY_COMPARE(s.status(), QStringLiteral(" Stand by"));
        QTest::qWait(600);            // the reply window closes and empties the receive buffer
        s.window->click("Command17"); // POWER ON
        QTRY_COMPARE(s.rxd(), QStringLiteral(" &CR "));
        QTest::qWait(600);
        s.window->click("Command44");
        QTRY_COMPARE(s.status(), QStringLiteral(" Count down"));
        QTest::qWait(1000);
        s.window->click("Command44");
        QTRY_COMPARE(s.status(), QStringLiteral(" Power ON"));
        QVERIFY(s.log().contains(" rx 3 A003C00<0D> -> <06><0D>"));
    }

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

    // Each copy of a hold restarts the reply window, so copies that the projectors answer
    // are never marked unanswered, however fast they follow one another.
    void heldArrowAfterZoomIsNeverMarked() {
        Setup s({"--delay", "10"});   // each copy answered 10 ms after it went out
        s.window->click("Command10"); // ZOOM: 50 ms repeat, 50 ms reply window
        QTest::qWait(1100);
        int marked = 0;
        QTimer sampler;
        QObject::connect(&sampler, &QTimer::timeout, [&] { marked += s.rxd() == " X X X X"; });
        sampler.start(1);
        s.window->mouse(true, "Command5");
        QTest::qWait(1000);
        s.window->mouse(false, "Command5");
        QCOMPARE(marked, 0);
        QTRY_VERIFY(s.log().count(" rx 1 C3C<0D> -> <06><0D>") >= 15);
    }
};

QTEST_MAIN(TstEndToEnd)
#include "tst_endtoend.moc"
