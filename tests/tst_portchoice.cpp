#include "PanelHarness.h"
#include "serial/PortChoice.h"

using namespace vk9;
using namespace vk9::test;

class TstPortChoice : public QObject {
    Q_OBJECT
private slots:
    void comShowsTheFrameForFiveSeconds();
    void choosingAWorkingPort();
    void choosingAMissingPort();
    void operatorChoiceReopensAfterAFailure_data();
    void operatorChoiceReopensAfterAFailure();
    void choosingTheSelectedPortAgainReopensIt();
    void speedChoiceAppliesInPlace_data();
    void speedChoiceAppliesInPlace();
};

void TstPortChoice::comShowsTheFrameForFiveSeconds() {
    PanelHarness h;
    h.started();
    h.panel.click(Control::Command33);
    QVERIFY(h.view.isVisible(kSettingsFrame));
    h.clock.advance(2000ms);
    h.panel.click(Control::Command33); // again: the count goes on
    h.clock.advance(2999ms);
    QVERIFY(h.view.isVisible(kSettingsFrame));
    h.clock.advance(1ms);
    QVERIFY(!h.view.isVisible(kSettingsFrame));
    QVERIFY(!h.clock.isRunning(TimerId::Timer3));
    QVERIFY(h.port.calls().empty());
}

void TstPortChoice::choosingAWorkingPort() {
    PanelHarness h;
    h.started();
    h.panel.click(Control::Command33);
    h.panel.select(Control::Option2);
    const std::vector<std::string> calls{"close", "number 2", "open"};
    QCOMPARE(h.port.calls(), calls);
    QVERIFY(h.port.isOpen());
    QCOMPARE(h.port.portNumber(), 2);
    QCOMPARE(h.port.settings(), std::string("19200,N,8,1")); // a port choice keeps them
    QVERIFY(!h.view.isVisible(kSettingsFrame));
    QVERIFY(h.view.warnings.empty());
}

void TstPortChoice::choosingAMissingPort() {
    PanelHarness h;
    h.port.makeAbsent(2, "/dev/ttyS1: No such file or directory");
    h.started();
    h.panel.click(Control::Command33);
    h.panel.select(Control::Option2);
    QCOMPARE(h.view.warnings, std::vector<std::string>{"/dev/ttyS1: No such file or directory"});
    QCOMPARE(h.port.portNumber(), 1);
    QVERIFY(!h.port.isOpen());
    QVERIFY(h.view.isVisible(kSettingsFrame)); // until Timer3 or a later good choice
    QCOMPARE(h.view.selected, std::vector<Control>{Control::Option1}); // only start-up's
    h.clock.advance(5000ms);
    QVERIFY(!h.view.isVisible(kSettingsFrame));
}

void TstPortChoice::operatorChoiceReopensAfterAFailure_data() {
    QTest::addColumn<bool>("lostAtStartUp");
    QTest::newRow("after a failed choice") << false;
    QTest::newRow("after a start without port 1") << true;
}

void TstPortChoice::operatorChoiceReopensAfterAFailure() {
    QFETCH(bool, lostAtStartUp);
    PanelHarness h;
    h.port.makeAbsent(lostAtStartUp ? 1 : 2, "absent");
    h.started();
    if (!lostAtStartUp) {
        h.panel.select(Control::Option2); // fails; the port is left closed on number 1
    }
    QVERIFY(!h.port.isOpen());
    h.port.makePresent(1);
    h.port.makePresent(2);
    h.port.clearRecords();
    h.panel.click(Control::Command33);
    h.panel.select(Control::Option2);
    // The port was closed, and the operator's choice opens it all the same.
    const std::vector<std::string> calls{"number 2", "open"};
    QCOMPARE(h.port.calls(), calls);
    QVERIFY(h.port.isOpen());
    QVERIFY(!h.view.isVisible(kSettingsFrame));
    h.panel.click(Control::Command17);
    QCOMPARE(h.port.written(), std::string("C00\r"));
}

void TstPortChoice::choosingTheSelectedPortAgainReopensIt() {
    PanelHarness h;
    h.started();
    h.panel.portLost("pulled");
    h.port.clearRecords();
    h.panel.select(Control::Option1);
    const std::vector<std::string> calls{"number 1", "open"};
    QCOMPARE(h.port.calls(), calls);
    QVERIFY(h.port.isOpen());
}

void TstPortChoice::speedChoiceAppliesInPlace_data() {
    QTest::addColumn<bool>("portOpen");
    QTest::newRow("port open") << true;
    QTest::newRow("port closed") << false;
}

void TstPortChoice::speedChoiceAppliesInPlace() {
    QFETCH(bool, portOpen);
    PanelHarness h;
    if (!portOpen) {
        h.port.makeAbsent(1, "absent");
    }
    h.started();
    h.panel.click(Control::Command33);
    h.panel.select(Control::Option10);
    QCOMPARE(h.state().portSettings, std::string("9600,N,8,1"));
    QCOMPARE(h.port.calls(), std::vector<std::string>{"settings 9600,N,8,1"});
    QCOMPARE(h.port.isOpen(), portOpen);
    QVERIFY(!h.view.isVisible(kSettingsFrame));
    h.panel.select(Control::Option9);
    QCOMPARE(h.port.settings(), std::string("19200,N,8,1"));
}

QTEST_APPLESS_MAIN(TstPortChoice)
#include "tst_portchoice.moc"
