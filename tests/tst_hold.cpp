#include "PanelHarness.h"
#include "adjust/Adjust.h"
#include "panel/Lookup.h"
#include "traffic/TrafficTimers.h"

using namespace vk9;
using namespace vk9::test;

Q_DECLARE_METATYPE(vk9::Control)
using Controls = QList<vk9::Control>;
using Instants = QList<int>;

class TstHold : public QObject {
    Q_OBJECT
private slots:
    void repeatsAtItsPeriod_data();
    void repeatsAtItsPeriod();
    void selectorsSendOnceAndTune_data();
    void selectorsSendOnceAndTune();
    void volumeHeld600msTimeline();
    void ticksTakeTheAddressCurrentAtTheTick();
    void failedSendOnPressStartsNothing();
    void clickAndKeyboardDoNothingOnHoldButtons();
    void lostCaptureActsAsTheRelease();
    void backlogOnASlowLineIsAtMostOneCopy();
};

void TstHold::repeatsAtItsPeriod_data() {
    QTest::addColumn<Controls>("before"); // selectors are clicked, hold buttons tapped
    QTest::addColumn<Control>("button");
    QTest::addColumn<int>("holdMs");
    QTest::addColumn<Instants>("sentAt");
    QTest::addColumn<int>("replyWindow");
    QTest::addColumn<int>("clearDelay");
    using C = Control;
    QTest::newRow("press and release")
        << Controls{} << C::Command1 << 0 << Instants{0} << 200 << 245;
    QTest::newRow("Focus -") << Controls{} << C::Command37 << 120 << Instants{0, 50, 100} << 25
                             << 25;
    QTest::newRow("SELECT") << Controls{} << C::Command6 << 1200 << Instants{0, 500, 1000} << 200
                            << 245;
    QTest::newRow("Keystone +") << Controls{} << C::Command50 << 600 << Instants{0, 250, 500} << 200
                                << 245;
    QTest::newRow("arrow before any selector")
        << Controls{} << C::Command5 << 450 << Instants{0, 200, 400} << 500 << 1000;
    QTest::newRow("CURSOL, up") << Controls{C::Command43} << C::Command5 << 100
                                << Instants{0, 30, 60, 90} << 50 << 75;
    QTest::newRow("ZOOM, up") << Controls{C::Command10} << C::Command5 << 120
                              << Instants{0, 50, 100} << 50 << 75;
    QTest::newRow("FOCUS, down") << Controls{C::Command11} << C::Command7 << 250
                                 << Instants{0, 100, 200} << 50 << 75;
    QTest::newRow("A-IMAGE, left")
        << Controls{C::Command13} << C::Command9 << 450 << Instants{0, 200, 400} << 150 << 190;
    QTest::newRow("MENU ON, right")
        << Controls{C::Command23} << C::Command8 << 450 << Instants{0, 200, 400} << 150 << 190;
    QTest::newRow("VOL +, arrow") << Controls{C::Command1} << C::Command5 << 600
                                  << Instants{0, 250, 500} << 500 << 1000;
    QTest::newRow("CURSOL, VOL +, arrow") << Controls{C::Command43, C::Command1} << C::Command7
                                          << 600 << Instants{0, 250, 500} << 50 << 75;
    QTest::newRow("D.Zoom + released, arrow")
        << Controls{C::Command48} << C::Command5 << 20 << Instants{0, 5, 10, 15, 20} << 5 << 5;
    QTest::newRow("D.Zoom - released, CURSOL, arrow")
        << Controls{C::Command49, C::Command43} << C::Command8 << 60 << Instants{0, 30, 60} << 50
        << 75;
    QTest::newRow("lens shift up, after D.Zoom")
        << Controls{C::Command49} << C::Command59 << 120 << Instants{0, 50, 100} << 25 << 25;
    QTest::newRow("lens shift left, after A-IMAGE")
        << Controls{C::Command13} << C::Command60 << 120 << Instants{0, 50, 100} << 25 << 25;
}

void TstHold::repeatsAtItsPeriod() {
    QFETCH(Controls, before);
    QFETCH(Control, button);
    QFETCH(int, holdMs);
    QFETCH(Instants, sentAt);
    QFETCH(int, replyWindow);
    QFETCH(int, clearDelay);
    PanelHarness h;
    h.started();
    for (Control c : before) {
        findRow(kHoldButtons, c) ? h.pressAndRelease(c) : h.panel.click(c);
    }
    h.clock.advance(2000ms);
    h.port.clearRecords();
    const milliseconds start = h.clock.now();

    h.panel.press(button);
    QCOMPARE(h.clock.interval(TimerId::Timer2), milliseconds(replyWindow));
    QCOMPARE(h.clock.interval(TimerId::Timer4), milliseconds(clearDelay));
    QCOMPARE(h.state().repeatCode, findRow(kHoldButtons, button)->repeatCode);
    h.clock.advance(milliseconds(holdMs));
    h.panel.release(button);
    h.clock.advance(2000ms); // nothing after the release

    Instants got;
    for (auto t : h.port.writeTimes()) {
        got << int((t - start).count());
    }
    QCOMPARE(got, sentAt);
    const std::string frame = std::string(findRow(kHoldButtons, button)->code) + "\r";
    for (const auto& w : h.port.writes()) {
        QCOMPARE(w, frame);
    }
    QCOMPARE(h.state().repeatCode, 0);
    QCOMPARE(h.clock.interval(TimerId::Timer2), kReplyWindow);
    QCOMPARE(h.clock.interval(TimerId::Timer4), kClearDelay);
}

void TstHold::selectorsSendOnceAndTune_data() {
    QTest::addColumn<Control>("selector");
    QTest::addColumn<QString>("frame");
    QTest::addColumn<int>("repeat");
    QTest::addColumn<int>("target");
    QTest::newRow("ZOOM") << Control::Command10 << "A002C80\r" << 50 << 2;
    QTest::newRow("FOCUS") << Control::Command11 << "A002C87\r" << 100 << 2;
    QTest::newRow("Lens shift") << Control::Command41 << "A002C88\r" << 50 << 2;
    QTest::newRow("CURSOL") << Control::Command43 << "A002C4F\r" << 30 << 2;
    QTest::newRow("A-IMAGE") << Control::Command13 << "A002C89\r" << 200 << 1;
    QTest::newRow("MENU ON") << Control::Command23 << "A002C1C\r" << 200 << 1;
}

void TstHold::selectorsSendOnceAndTune() {
    QFETCH(Control, selector);
    QFETCH(QString, frame);
    QFETCH(int, repeat);
    QFETCH(int, target);
    PanelHarness h;
    h.started();
    h.panel.select(Control::Option6);
    h.panel.click(selector);
    h.panel.click(selector); // twice: two frames, the same state
    h.clock.advance(5s);
    const std::vector<std::string> frames(2, frame.toStdString());
    QCOMPARE(h.port.writes(), frames);
    QCOMPARE(h.clock.interval(TimerId::Timer1), milliseconds(repeat));
    QVERIFY(!h.clock.isRunning(TimerId::Timer1));
    QCOMPARE(int(h.state().adjustTarget), target);
    h.panel.click(Control::Command24); // MENU OFF leaves the target alone
    QCOMPARE(int(h.state().adjustTarget), target);
}

void TstHold::volumeHeld600msTimeline() {
    PanelHarness h;
    h.started();
    h.panel.press(Control::Command1);
    QCOMPARE(h.port.writes().size(), std::size_t{1});
    QCOMPARE(h.clock.interval(TimerId::Timer1), 250ms);
    h.clock.advance(199ms);
    QCOMPARE(h.box(kRxdBox), std::string());
    h.clock.advance(1ms); // 200: the first copy's reply window ends
    QCOMPARE(h.box(kRxdBox), std::string(kNoReplyMark));
    h.clock.advance(44ms);
    QCOMPARE(h.box(kTxdBox), std::string(" C 0 9 CR "));
    h.clock.advance(1ms); // 245: boxes emptied
    QCOMPARE(h.box(kTxdBox), std::string());
    QCOMPARE(h.box(kRxdBox), std::string());
    h.clock.advance(4ms);
    QCOMPARE(h.port.writes().size(), std::size_t{1});
    h.clock.advance(1ms); // 250: second copy
    QCOMPARE(h.port.writes().size(), std::size_t{2});
    QCOMPARE(h.box(kTxdBox), std::string(" C 0 9 CR "));
    h.clock.advance(250ms); // 500: third copy
    QCOMPARE(h.port.writes().size(), std::size_t{3});
    h.clock.advance(50ms);
    h.panel.click(Control::Command44); // 550: a query answered while the button is held
    h.reply("00\r");
    QCOMPARE(h.box(kStatusBox), std::string(" Power ON"));
    h.clock.advance(50ms);
    h.panel.release(Control::Command1); // 600
    QCOMPARE(h.box(kTxdBox), std::string());
    QCOMPARE(h.box(kRxdBox), std::string());
    QCOMPARE(h.box(kStatusBox), std::string(" Power ON")); // until Timer4
    QCOMPARE(h.state().receiveBuffer, std::string());
    QCOMPARE(h.state().commandText, std::string("CR0\r")); // a release keeps it
    QVERIFY(!h.clock.isRunning(TimerId::Timer2));
    h.clock.advance(999ms);
    QCOMPARE(h.box(kRxdBox), std::string()); // no " X X X X" for the last copy
    QCOMPARE(h.box(kStatusBox), std::string(" Power ON"));
    h.clock.advance(1ms); // 1600
    QCOMPARE(h.box(kStatusBox), std::string());
    QCOMPARE(h.port.writes().size(), std::size_t{4});
}

void TstHold::ticksTakeTheAddressCurrentAtTheTick() {
    PanelHarness h;
    h.started();
    h.panel.press(Control::Command15); // Zoom +, every 50 ms
    h.clock.advance(60ms);
    h.panel.select(Control::Option7);
    h.clock.advance(40ms);
    h.panel.select(Control::Option4);
    h.clock.advance(50ms);
    h.panel.release(Control::Command15);
    const std::vector<std::string> frames{"C47\r", "C47\r", "A003C47\r", "AFFFC47\r"};
    QCOMPARE(h.port.writes(), frames);
}

void TstHold::failedSendOnPressStartsNothing() {
    PanelHarness h;
    h.port.makeAbsent(1, "absent");
    h.started();
    h.panel.press(Control::Command36); // Focus +
    QCOMPARE(h.state().repeatCode, 9);
    QVERIFY(!h.clock.isRunning(TimerId::Timer1));
    QCOMPARE(h.clock.interval(TimerId::Timer1), 200ms);
    QCOMPARE(h.clock.interval(TimerId::Timer2), 500ms);
    h.clock.advance(1s);
    h.panel.release(Control::Command36);
    QCOMPARE(h.state().repeatCode, 0);
    QVERIFY(h.port.written().empty());
}

void TstHold::clickAndKeyboardDoNothingOnHoldButtons() {
    PanelHarness h;
    h.started();
    for (const HoldRow& row : kHoldButtons) {
        h.panel.click(row.id); // the keyboard's activation is a click
    }
    h.clock.advance(1s);
    QVERIFY(h.port.written().empty());
}

void TstHold::lostCaptureActsAsTheRelease() {
    PanelHarness h;
    h.started();
    h.panel.press(Control::Command49); // D.Zoom -
    h.clock.advance(300ms);
    h.panel.captureLost();
    h.clock.advance(2s);
    QCOMPARE(h.port.writes().size(), std::size_t{2});
    QCOMPARE(h.state().repeatCode, 0);
    QCOMPARE(h.clock.interval(TimerId::Timer1), kDigitalZoomRepeat); // its release's effects
    QCOMPARE(int(h.state().adjustTarget), 3);
    h.panel.captureLost(); // nothing held: nothing happens
    QCOMPARE(h.port.writes().size(), std::size_t{2});

    // A lost port mid-hold stops the repeat too.
    h.panel.press(Control::Command1);
    h.panel.portLost("gone");
    h.clock.advance(1s);
    QCOMPARE(h.port.writes().size(), std::size_t{3});
    QCOMPARE(h.state().repeatCode, 0);
    QVERIFY(!h.clock.isRunning(TimerId::Timer1));
}

void TstHold::backlogOnASlowLineIsAtMostOneCopy() {
    // An addressed frame needs 8.3 ms at 9600 bit/s: the line drains 9 ms after each write.
    PanelHarness h;
    h.started();
    h.pressAndRelease(Control::Command48); // D.Zoom release: 5 ms repeat
    h.panel.select(Control::Option5);
    h.port.clearRecords();
    h.port.setQueueWrites(true);
    const milliseconds start = h.clock.now();
    h.panel.press(Control::Command5);
    for (int ms = 0; ms < 100; ++ms) {
        h.clock.advance(1ms);
        QVERIFY(h.port.pendingOutput() <= 8);
        if (h.clock.now() - start - h.port.writeTimes().back() >= 9ms) {
            h.port.drain();
        }
    }
    h.panel.release(Control::Command5);
    Instants got;
    for (auto t : h.port.writeTimes()) {
        got << int((t - start).count());
    }
    QCOMPARE(got, (Instants{0, 10, 20, 30, 40, 50, 60, 70, 80, 90, 100}));
}

QTEST_APPLESS_MAIN(TstHold)
#include "tst_hold.moc"
