// The web panel's pages on the arbiter, on the virtual clock: a press, a hold and its dead
// hand, as the gate carries them out for a page.
#include "support/ArbiterHarness.h"
#include "vk9gate/core/Web.h"

using namespace vk9::test;
using vk9::gate::web::Intake;
using vk9::gate::web::Page;
using vk9::gate::web::Request;

namespace {

struct PageHarness {
    Harness h;
    QStringList said; // the page's messages, each "kind field..."
    std::optional<Page> page;
    PageHarness() {
        page.emplace(h.arbiter, "web page 1", std::vector<std::string>{"001", "002"},
                     [this](const std::string& json) { said << QString::fromStdString(json); });
        for (const char* frame : {"A001C5D", "A001C09", "A001C3C", "A001C87", "A001C47", "A001C00",
                                  "A001C5E", "AFFFC00", "A001C30"}) {
            h.answers[frame] = "\x06\r";
        }
        h.frontEndWake = [this] { return page ? page->nextWake() : std::nullopt; };
        h.wakeFrontEnd = [this](Time now) {
            if (page) {
                page->wake(now);
            }
        };
    }
    std::optional<std::string> ask(double at, Request::Kind kind, const char* button = "",
                                   const char* to = "001") {
        h.run(ms(at));
        return page->take(h.now, Request{kind, button, to, 7});
    }
    // A hold from `from` to `to` ms, its heartbeat every 100 ms.
    void hold(double from, double to, const char* button) {
        QVERIFY(!ask(from, Request::Hold, button));
        for (double t = from + 100; t < to; t += 100) {
            ask(t, Request::Beat);
        }
        ask(to, Request::Release);
    }
    QList<double> copies(const std::string& frame) const {
        QList<double> at;
        for (const auto& [t, f] : h.written) {
            if (f == frame) {
                at << t;
            }
        }
        return at;
    }
};

} // namespace

class WebPageTest : public QObject {
    Q_OBJECT

private slots:
    // The periods, as the panel repeats its buttons: LENS SHIFT and ZOOM 50 ms, VOL 250 ms, a
    // cursor arrow 200 ms on a fresh panel, else at the period the last selector or hold set.
    void holdRepeatsAtItsPeriod_data() {
        QTest::addColumn<QString>("before"); // a press or hold first, if any
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("frame");
        QTest::addColumn<double>("period");
        QTest::newRow("lens shift up") << ""
                                       << "lens-shift-up"
                                       << "A001C5D" << 50.0;
        QTest::newRow("volume +") << ""
                                  << "vol-plus"
                                  << "A001C09" << 250.0;
        QTest::newRow("cursor up, fresh") << ""
                                          << "cursor-up"
                                          << "A001C3C" << 200.0;
        QTest::newRow("cursor up after FOCUS") << "press focus-select"
                                               << "cursor-up"
                                               << "A001C3C" << 100.0;
        QTest::newRow("cursor up after a zoom hold") << "hold zoom-plus"
                                                     << "cursor-up"
                                                     << "A001C3C" << 50.0;
    }
    void holdRepeatsAtItsPeriod() {
        QFETCH(QString, before);
        QFETCH(QString, button);
        QFETCH(QString, frame);
        QFETCH(double, period);
        PageHarness p;
        if (before.startsWith("press")) {
            QVERIFY(!p.ask(0, Request::Press, before.mid(6).toUtf8()));
        } else if (!before.isEmpty()) {
            p.hold(0, 90, before.mid(5).toUtf8());
        }
        p.hold(1000, 1990, button.toUtf8());
        p.h.run(ms(3000));
        QList<double> expected;
        for (double t = 1000; t < 1990; t += period) {
            expected << t;
        }
        QCOMPARE(p.copies(frame.toStdString()), expected);
        QVERIFY2(p.said.last().contains("\"kind\":\"released\"") &&
                     p.said.last().contains("\"why\":\"released\""),
                 qPrintable(p.said.last()));
    }

    // A page that stops speaking lets go 300 ms after its last heartbeat; a second press
    // ends the first hold; the page going ends its hold at once.
    void holdEnds_data() {
        QTest::addColumn<QString>("how");
        QTest::addColumn<double>("lastCopy"); // ms
        QTest::addColumn<QString>("why");
        QTest::newRow("no heartbeat after 400 ms") << "silent" << 650.0 << "no heartbeat";
        QTest::newRow("another button pressed at 420 ms") << "press" << 400.0 << "another press";
        QTest::newRow("the page gone at 420 ms") << "gone" << 400.0 << "";
    }
    void holdEnds() {
        QFETCH(QString, how);
        QFETCH(double, lastCopy);
        QFETCH(QString, why);
        auto p = std::make_unique<PageHarness>();
        Harness& h = p->h;
        QVERIFY(!p->ask(0, Request::Hold, "lens-shift-up"));
        for (double t = 100; t <= 400; t += 100) {
            p->ask(t, Request::Beat);
        }
        if (how == "press") {
            QVERIFY(!p->ask(420, Request::Hold, "lens-shift-down"));
            p->ask(430, Request::Release);
        } else if (how == "gone") {
            h.run(ms(420));
            p->page.reset(); // the socket closed: the page leaves the arbiter
        }
        h.run(ms(2000));
        QCOMPARE(p->copies("A001C5D").last(), lastCopy);
        if (!why.isEmpty()) {
            const auto released =
                std::find_if(p->said.begin(), p->said.end(),
                             [](const QString& m) { return m.contains("released"); });
            QVERIFY(released != p->said.end());
            QVERIFY2(released->contains("\"why\":\"" + why + "\""), qPrintable(*released));
        }
    }

    // What a page may ask, and what it is told of a press.
    void requests_data() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("to");
        QTest::addColumn<QString>("refused"); // empty: taken
        QTest::addColumn<QString>("frame");   // written, if taken
        QTest::newRow("POWER ON") << int(Request::Press) << "power-on"
                                  << "001"
                                  << ""
                                  << "A001C00";
        QTest::newRow("every projector") << int(Request::Press) << "power-on"
                                         << "all"
                                         << ""
                                         << "AFFFC00";
        QTest::newRow("a hold button tapped: once") << int(Request::Press) << "lens-shift-down"
                                                    << "001"
                                                    << ""
                                                    << "A001C5E";
        QTest::newRow("an unknown button") << int(Request::Press) << "dance"
                                           << "001"
                                           << "no button is called \"dance\""
                                           << "";
        QTest::newRow("a projector not here") << int(Request::Press) << "power-on"
                                              << "003"
                                              << "no projector \"003\" here"
                                              << "";
        QTest::newRow("a one-shot held") << int(Request::Hold) << "power-on"
                                         << "001"
                                         << "power-on is not held: press it"
                                         << "";
    }
    void requests() {
        QFETCH(int, kind);
        QFETCH(QString, button);
        QFETCH(QString, to);
        QFETCH(QString, refused);
        QFETCH(QString, frame);
        PageHarness p;
        const auto why = p.ask(0, Request::Kind(kind), button.toUtf8(), to.toUtf8());
        QCOMPARE(QString::fromStdString(why.value_or("")), refused);
        p.h.run(ms(100));
        QCOMPARE(QString::fromStdString(p.h.written.empty() ? "" : p.h.written[0].second), frame);
        if (!frame.isEmpty()) {
            QCOMPARE(
                p.said,
                QStringList({R"({"kind":"sent","id":7})",
                             R"({"kind":"outcome","id":7,"outcome":"acknowledged","text":null})"}));
        }
    }

    // A press to a projector that does not answer: told, and then not even sent.
    void unansweredThenAbsent() {
        PageHarness p;
        for (double at : {0.0, 3000.0, 6000.0}) {
            QVERIFY(!p.ask(at, Request::Press, "power-on", "002"));
        }
        p.h.run(ms(9000));
        QStringList outcomes;
        for (const QString& m : p.said) {
            if (m.contains("outcome")) {
                outcomes << m.section("\"outcome\":\"", 1).section('"', 0, 0);
            }
        }
        QCOMPARE(outcomes, QStringList({"unanswered", "unanswered", "absent"}));
    }

    // 40 messages at once, then 20 a second: a held button's heartbeat and taps fit.
    void tooManyTooFast() {
        Intake intake;
        int taken = 0;
        while (intake.take(ms(0))) {
            ++taken;
        }
        QCOMPARE(taken, 40);
        QVERIFY(!intake.take(ms(49)));
        QVERIFY(intake.take(ms(50)));
        for (int i = 0; i < 200; ++i) { // 20 a second, for 10 s
            QVERIFY(intake.take(ms(100 + i * 50.0)));
        }
    }
};

QTEST_GUILESS_MAIN(WebPageTest)
#include "tst_web.moc"
