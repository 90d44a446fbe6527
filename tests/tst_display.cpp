#include "PanelHarness.h"
#include "panel/Layout.h"
#include "traffic/TrafficTimers.h"

using namespace vk9;
using namespace vk9::test;

class TstDisplay : public QObject {
    Q_OBJECT
private slots:
    void ctrlJOpensTheWholePanel_data();
    void ctrlJOpensTheWholePanel();
    void dataButtonToggles_data();
    void dataButtonToggles();
    void dataButtonRestartsTheSettingsFrameCount();
};

void TstDisplay::ctrlJOpensTheWholePanel_data() {
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

void TstDisplay::ctrlJOpensTheWholePanel() {
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

void TstDisplay::dataButtonToggles_data() {
    QTest::addColumn<int>("height");
    QTest::addColumn<int>("after");
    QTest::newRow("full height") << 7200 << 5200;
    QTest::newRow("exactly 6000 counts as tall") << 6000 << 5200;
    QTest::newRow("just under 6000") << 5999 << 6645;
    QTest::newRow("short") << 5200 << 6645;
    QTest::newRow("data height") << 6645 << 5200;
}

void TstDisplay::dataButtonToggles() {
    QFETCH(int, height);
    QFETCH(int, after);
    PanelHarness h;
    h.started();
    h.view.height = height;
    h.panel.click(kDataButton);
    QCOMPARE(h.view.height, after);
    QCOMPARE(h.box(kDataButton), std::string(after == 5200 ? kShowDataCaption : kHideDataCaption));
    h.panel.click(kDataButton);
    QCOMPARE(h.view.height, after == 5200 ? 6645 : 5200);
}

void TstDisplay::dataButtonRestartsTheSettingsFrameCount() {
    PanelHarness h;
    h.started();
    h.panel.click(Control::Command33); // COM: frame shown for 5 s
    QVERIFY(h.view.isVisible(kSettingsFrame));
    h.clock.advance(3000ms);
    h.panel.click(kDataButton);
    h.clock.advance(4999ms);
    QVERIFY(h.view.isVisible(kSettingsFrame));
    h.clock.advance(1ms);
    QVERIFY(!h.view.isVisible(kSettingsFrame));
    QVERIFY(!h.clock.isRunning(TimerId::Timer3));
}

QTEST_APPLESS_MAIN(TstDisplay)
#include "tst_display.moc"
