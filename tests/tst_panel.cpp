#include "PanelHarness.h"
#include "model/Layout.h"
#include "traffic/TrafficTimers.h"

using namespace vk9;
using namespace vk9::test;

class TstPanel : public QObject {
    Q_OBJECT
private slots:
    void stateAfterStartUp() {
        PanelHarness h;
        h.panel.load();
        // Opened, then closed and opened again by the selection of "COM1"; nothing written.
        const std::vector<std::string> calls{
            "number 1", "settings 19200,N,8,1", "open", "close", "number 1", "open"};
        QCOMPARE(h.port.calls(), calls);
        const PanelState& s = h.state();
        QVERIFY(s.repeatCode == 0 && s.awaitingReply == 0 && s.adjustTarget == 0);
        QVERIFY(s.commandText.empty() && s.receiveBuffer.empty() && s.addressPrefix.empty());
        QCOMPARE(s.portSettings, std::string("19200,N,8,1"));
        QVERIFY(h.port.isOpen());
        QCOMPARE(h.view.height, kStartHeight);
        QVERIFY(!h.view.isVisible(Control::Frame8) && !h.view.isVisible(Control::Command34));
        QCOMPARE(h.view.selected, std::vector<Control>{Control::Option1});
        for (int t = 0; t < kTimerCount; ++t) {
            QVERIFY(!h.clock.isRunning(static_cast<TimerId>(t)));
        }
        h.panel.shown();
        h.clock.advance(10s);
        QVERIFY(h.port.written().empty() && h.view.warnings.empty());
    }

    void windowIsCentredAsDesignedThenShortened_data() {
        QTest::addColumn<double>("screenWidth");
        QTest::addColumn<double>("screenHeight");
        QTest::newRow("full HD") << 1920.0 << 1080.0;
        QTest::newRow("smaller than the window: negative, not clamped") << 600.0 << 400.0;
    }

    void windowIsCentredAsDesignedThenShortened() {
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

    void missingPort1IsToldOnceAfterShown() {
        PanelHarness h;
        h.port.makeAbsent(1, "/dev/ttyS0: No such file or directory");
        h.panel.load();
        QVERIFY(h.view.warnings.empty()); // not before the window is on screen
        QVERIFY(!h.port.isOpen() && !h.view.isVisible(Control::Frame8));
        h.panel.shown();
        h.panel.shown();
        QCOMPARE(h.view.warnings,
                 std::vector<std::string>{"/dev/ttyS0: No such file or directory"});
        h.panel.click(Control::Command17); // carries on; commandText holds the new frame
        QVERIFY(h.port.written().empty());
        QCOMPARE(h.state().commandText, std::string("C00\r"));
    }

    void endClosesThePortAndQuits_data() {
        QTest::addColumn<bool>("portOpen");
        QTest::addColumn<bool>("byFrame"); // the window's own close button
        QTest::newRow("END, port open") << true << false;
        QTest::newRow("END, port closed") << false << false;
        QTest::newRow("window closed") << true << true;
    }

    void endClosesThePortAndQuits() {
        QFETCH(bool, portOpen);
        QFETCH(bool, byFrame);
        PanelHarness h;
        if (!portOpen) {
            h.port.makeAbsent(1, "absent");
        }
        h.started();
        byFrame ? h.panel.close() : h.panel.click(Control::Command16);
        QCOMPARE(h.port.calls(), std::vector<std::string>{"close"});
        QVERIFY(!h.port.isOpen());
        QCOMPARE(h.view.quits, 1);
    }

    void lostPortIsClosedAndToldOnce() {
        PanelHarness h;
        h.started();
        h.panel.portLost("/dev/ttyUSB0: Input/output error");
        QVERIFY(!h.port.isOpen());
        QCOMPARE(h.view.warnings.size(), std::size_t{1});
        QVERIFY(h.view.warnings.front().find("Input/output error") != std::string::npos);
        h.panel.click(Control::Command17);
        QVERIFY(h.port.written().empty());
        QCOMPARE(h.view.quits, 0);
    }

    void ctrlJOpensTheWholePanel_data() {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("shiftState");
        QTest::addColumn<bool>("opens");
        QTest::newRow("Ctrl+J") << int('J') << 2 << true;
        QTest::newRow("J alone") << int('J') << 0 << false;
        QTest::newRow("Shift+J") << int('J') << 1 << false;
        QTest::newRow("Ctrl+Shift+J") << int('J') << 3 << false;
        QTest::newRow("Ctrl+Alt+J") << int('J') << 6 << false;
        QTest::newRow("Ctrl+Shift+Alt+J") << int('J') << 7 << false;
        QTest::newRow("Ctrl+J, higher bits masked") << int('J') << (2 | 8 | 64) << true;
        QTest::newRow("Ctrl+K") << int('K') << 2 << false;
    }

    void ctrlJOpensTheWholePanel() {
        QFETCH(int, key);
        QFETCH(int, shiftState);
        QFETCH(bool, opens);
        PanelHarness h;
        h.started();
        const PanelState before = h.state();
        h.panel.keyDown(key, shiftState);
        QCOMPARE(h.view.height, opens ? kFullHeight : kStartHeight);
        QCOMPARE(h.view.isVisible(kDataButton), opens);
        QCOMPARE(h.box(kDataButton), std::string(opens ? "CLOSE" : kShowDataCaption));
        QVERIFY(h.port.written().empty());
        QCOMPARE(h.state().commandText, before.commandText);
        QVERIFY(!h.clock.isRunning(TimerId::Timer3));
        // Again, and after the data button: 7200 and "CLOSE" once more.
        h.panel.keyDown('J', 2);
        h.panel.click(kDataButton);
        h.panel.keyDown('J', 2);
        QCOMPARE(h.view.height, kFullHeight);
        QCOMPARE(h.box(kDataButton), std::string("CLOSE"));
    }

    void dataButtonToggles_data() {
        QTest::addColumn<int>("height");
        QTest::addColumn<int>("after");
        QTest::newRow("full height") << 7200 << 5200;
        QTest::newRow("exactly 6000 counts as tall") << 6000 << 5200;
        QTest::newRow("just under 6000") << 5999 << 6645;
        QTest::newRow("short") << 5200 << 6645;
        QTest::newRow("data height") << 6645 << 5200;
    }

    void dataButtonToggles() {
        QFETCH(int, height);
        QFETCH(int, after);
        PanelHarness h;
        h.started();
        h.view.height = height;
        h.panel.click(kDataButton);
        QCOMPARE(h.view.height, after);
        QCOMPARE(h.box(kDataButton),
                 std::string(after == 5200 ? kShowDataCaption : kHideDataCaption));
        h.panel.click(kDataButton);
        QCOMPARE(h.view.height, after == 5200 ? 6645 : 5200);
    }

    void dataButtonRestartsTheSettingsFrameCount() {
        PanelHarness h;
        h.started();
        h.panel.click(Control::Command33); // COM: frame shown for 5 s
        QVERIFY(h.view.isVisible(kSettingsFrame));
        h.clock.advance(1000ms);
        h.panel.click(Control::Command33); // again: its count goes on
        h.clock.advance(2000ms);
        h.panel.click(kDataButton);
        h.clock.advance(4999ms);
        QVERIFY(h.view.isVisible(kSettingsFrame));
        h.clock.advance(1ms);
        QVERIFY(!h.view.isVisible(kSettingsFrame));
        QVERIFY(!h.clock.isRunning(TimerId::Timer3));
    }
};

QTEST_APPLESS_MAIN(TstPanel)
#include "tst_panel.moc"
