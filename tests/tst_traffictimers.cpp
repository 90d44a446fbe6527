#include "PanelHarness.h"
#include "traffic/TrafficTimers.h"

using namespace vk9;
using namespace vk9::test;

class TstTrafficTimers : public QObject {
    Q_OBJECT
private slots:
    void missingReplyIsMarkedAt500ms();
    void boxesAreEmptiedAt1000ms();
    void anyReplyPieceInTheWindowSuppressesTheMark();
    void lateReplyIsShownAndDecodedAndStays();
    void replyBetween500And1000msIsKeptUntilTheNextWindow();
    void timersAreOneShot();
};

void TstTrafficTimers::missingReplyIsMarkedAt500ms() {
    PanelHarness h;
    h.started();
    h.panel.click(Control::Command44);
    h.clock.advance(499ms);
    QCOMPARE(h.box(kRxdBox), std::string());
    QCOMPARE(h.state().awaitingReply, 1);
    h.clock.advance(1ms);
    QCOMPARE(h.box(kRxdBox), std::string(kNoReplyMark));
    QCOMPARE(h.state().awaitingReply, 0);
    QVERIFY(!h.clock.isRunning(TimerId::Timer2));
}

void TstTrafficTimers::boxesAreEmptiedAt1000ms() {
    PanelHarness h;
    h.started();
    h.panel.click(Control::Command44);
    h.reply("00\r");
    h.clock.advance(999ms);
    QCOMPARE(h.box(kTxdBox), std::string(" C R 0 CR "));
    QCOMPARE(h.box(kRxdBox), std::string(" 0 0 CR "));
    QCOMPARE(h.box(kStatusBox), std::string(" Power ON"));
    h.clock.advance(1ms);
    QCOMPARE(h.box(kTxdBox), std::string());
    QCOMPARE(h.box(kRxdBox), std::string());
    QCOMPARE(h.box(kStatusBox), std::string());
    QVERIFY(!h.clock.isRunning(TimerId::Timer4));
}

void TstTrafficTimers::anyReplyPieceInTheWindowSuppressesTheMark() {
    PanelHarness h;
    h.started();
    h.panel.click(Control::Command17);
    h.clock.advance(499ms);
    h.reply("\x06");
    h.clock.advance(1ms);
    QCOMPARE(h.box(kRxdBox), std::string(" &"));
    QCOMPARE(h.state().receiveBuffer, std::string()); // the window's end empties it
}

void TstTrafficTimers::lateReplyIsShownAndDecodedAndStays() {
    PanelHarness h;
    h.started();
    h.panel.click(Control::Command44);
    h.clock.advance(1000ms);
    h.reply("20\r");
    h.clock.advance(60s);
    QCOMPARE(h.box(kRxdBox), std::string(" 2 0 CR "));
    QCOMPARE(h.box(kStatusBox), std::string(" Cooling down"));
    QCOMPARE(h.state().receiveBuffer, std::string("20\r")); // until the next window closes
}

void TstTrafficTimers::replyBetween500And1000msIsKeptUntilTheNextWindow() {
    PanelHarness h;
    h.started();
    h.panel.click(Control::Command44);
    h.clock.advance(700ms); // " X X X X" at 500, then the reply
    h.reply("00\r");
    QCOMPARE(h.box(kStatusBox), std::string(" Power ON"));
    h.clock.advance(300ms);
    QCOMPARE(h.box(kRxdBox), std::string());
    QCOMPARE(h.state().receiveBuffer, std::string("00\r"));
    h.panel.click(Control::Command17);
    h.clock.advance(500ms);
    QCOMPARE(h.state().receiveBuffer, std::string());
}

void TstTrafficTimers::timersAreOneShot() {
    PanelHarness h;
    h.started();
    h.panel.click(Control::Command44);
    h.clock.advance(10s);
    QCOMPARE(h.box(kRxdBox), std::string());
    QVERIFY(!h.clock.isRunning(TimerId::Timer2));
    QVERIFY(!h.clock.isRunning(TimerId::Timer4));
    QVERIFY(!h.clock.isRunning(TimerId::Timer5));
}

QTEST_APPLESS_MAIN(TstTrafficTimers)
#include "tst_traffictimers.moc"
