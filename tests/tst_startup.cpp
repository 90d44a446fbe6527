#include "PanelHarness.h"
#include "panel/Layout.h"

using namespace vk9;
using namespace vk9::test;

class TstStartUp : public QObject {
    Q_OBJECT
private slots:
    void stateAfterStartUp();
    void portIsOpenedClosedAndReopened();
    void windowIsCentredAsDesignedThenShortened_data();
    void windowIsCentredAsDesignedThenShortened();
    void missingPort1IsToldOnceAfterShown();
    void endClosesThePortAndQuits_data();
    void endClosesThePortAndQuits();
    void closingTheWindowEndsLikeEnd();
    void lostPortIsClosedAndToldOnce();
};

void TstStartUp::stateAfterStartUp() {
    PanelHarness h;
    h.started();
    const PanelState& s = h.state();
    QCOMPARE(s.repeatCode, 0);
    QCOMPARE(s.awaitingReply, 0);
    QCOMPARE(s.adjustTarget, 0);
    QCOMPARE(s.commandText, std::string());
    QCOMPARE(s.receiveBuffer, std::string());
    QCOMPARE(s.portSettings, std::string("19200,N,8,1"));
    QCOMPARE(s.addressPrefix, std::string());
    QVERIFY(h.port.isOpen());
    QCOMPARE(h.port.portNumber(), 1);
    QCOMPARE(h.port.settings(), std::string("19200,N,8,1"));
    QCOMPARE(h.view.height, kStartHeight);
    QVERIFY(!h.view.isVisible(Control::Frame8));
    QVERIFY(!h.view.isVisible(Control::Command34));
    QCOMPARE(h.view.selected, std::vector<Control>{Control::Option1});
    QVERIFY(h.view.warnings.empty());
    for (int t = 0; t < kTimerCount; ++t) {
        QVERIFY(!h.clock.isRunning(static_cast<TimerId>(t)));
    }
    h.clock.advance(10s); // nothing is pending after start-up
    QVERIFY(h.port.written().empty());
}

void TstStartUp::portIsOpenedClosedAndReopened() {
    PanelHarness h;
    h.panel.load();
    const std::vector<std::string> expected{
        "number 1", "settings 19200,N,8,1", "open", "close", "number 1", "open"};
    QCOMPARE(h.port.calls(), expected);
    QVERIFY(h.port.written().empty());
}

void TstStartUp::windowIsCentredAsDesignedThenShortened_data() {
    QTest::addColumn<double>("screenWidth");
    QTest::addColumn<double>("screenHeight");
    QTest::newRow("full HD") << 1920.0 << 1080.0;
    QTest::newRow("smaller than the window: negative, not clamped") << 600.0 << 400.0;
}

void TstStartUp::windowIsCentredAsDesignedThenShortened() {
    QFETCH(double, screenWidth);
    QFETCH(double, screenHeight);
    PanelHarness h;
    h.view.screen = {screenWidth * 15, screenHeight * 15};
    h.started();
    // Designed outer size: 9495 + 2 * 60 wide, 6825 + 390 high.
    QCOMPARE(h.view.left, (screenWidth * 15 - 9615) / 2);
    QCOMPARE(h.view.top, (screenHeight * 15 - 7215) / 2);
    QCOMPARE(h.view.height, 5200);
}

void TstStartUp::missingPort1IsToldOnceAfterShown() {
    PanelHarness h;
    h.port.makeAbsent(1, "/dev/ttyS0: No such file or directory");
    h.panel.load();
    QVERIFY(h.view.warnings.empty()); // not before the window is on screen
    QVERIFY(!h.port.isOpen());
    QVERIFY(!h.view.isVisible(Control::Frame8));
    h.panel.shown();
    h.panel.shown();
    QCOMPARE(h.view.warnings, std::vector<std::string>{"/dev/ttyS0: No such file or directory"});
    // The panel carries on with the port closed: a command is not sent and says so.
    h.panel.click(Control::Command17);
    QVERIFY(h.port.written().empty());
    QCOMPARE(h.state().commandText, std::string("C00\r"));
}

void TstStartUp::endClosesThePortAndQuits_data() {
    QTest::addColumn<bool>("portOpen");
    QTest::newRow("port open") << true;
    QTest::newRow("port closed") << false;
}

void TstStartUp::endClosesThePortAndQuits() {
    QFETCH(bool, portOpen);
    PanelHarness h;
    if (!portOpen) {
        h.port.makeAbsent(1, "absent");
    }
    h.started();
    QCOMPARE(h.port.isOpen(), portOpen);
    h.panel.click(Control::Command16);
    QCOMPARE(h.port.calls(), std::vector<std::string>{"close"});
    QVERIFY(!h.port.isOpen());
    QCOMPARE(h.view.quits, 1);
}

void TstStartUp::closingTheWindowEndsLikeEnd() {
    PanelHarness h;
    h.started();
    h.panel.close();
    QVERIFY(!h.port.isOpen());
    QCOMPARE(h.view.quits, 1);
}

void TstStartUp::lostPortIsClosedAndToldOnce() {
    PanelHarness h;
    h.started();
    h.panel.portLost("/dev/ttyUSB0: Input/output error");
    QVERIFY(!h.port.isOpen());
    QCOMPARE(h.view.warnings.size(), std::size_t{1});
    QVERIFY(h.view.warnings.front().find("Input/output error") != std::string::npos);
    h.panel.click(Control::Command17); // goes on running; the send says it did not go out
    QVERIFY(h.port.written().empty());
    QCOMPARE(h.view.quits, 0);
}

QTEST_APPLESS_MAIN(TstStartUp)
#include "tst_startup.moc"
