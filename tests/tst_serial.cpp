#include "PanelHarness.h"
#include "serial/LineSettings.h"
#include "serial/PortChoice.h"

using namespace vk9;
using namespace vk9::test;

class TstSerial : public QObject {
    Q_OBJECT
private slots:

    void choosingAWorkingPort() {
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

    void operatorChoiceReopensAfterAFailure_data() {
        QTest::addColumn<bool>("lostAtStartUp");
        QTest::newRow("after a failed choice") << false;
        QTest::newRow("after a start without port 1") << true;
    }

    void operatorChoiceReopensAfterAFailure() {
        QFETCH(bool, lostAtStartUp);
        PanelHarness h;
        h.port.makeAbsent(lostAtStartUp ? 1 : 2, "/dev/ttyS1: No such file or directory");
        h.started();
        if (!lostAtStartUp) {
            h.panel.click(Control::Command33);
            h.panel.select(Control::Option2); // fails: told, closed, back on number 1
            QCOMPARE(h.view.warnings.back(), std::string("/dev/ttyS1: No such file or directory"));
            QCOMPARE(h.port.portNumber(), 1);
            QVERIFY(h.view.isVisible(kSettingsFrame)); // until Timer3 or a good choice
            h.clock.advance(5000ms);
            QVERIFY(!h.view.isVisible(kSettingsFrame));
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

    void speedChoiceAppliesInPlace_data() {
        QTest::addColumn<bool>("portOpen");
        QTest::newRow("port open") << true;
        QTest::newRow("port closed") << false;
    }

    void speedChoiceAppliesInPlace() {
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

    void parses_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("parsed"); // baud, parity, data bits, stop bits; "" = invalid
        const char* rows[][2] = {
            {"19200,N,8,1", "19200 0 8 0"},
            {"9600,N,8,1", "9600 0 8 0"},
            {"4800,E,7,2", "4800 1 7 2"},
            {"1200,o,5,1.5", "1200 2 5 1"},
            {"", ""},
            {"19200,N,8", ""},
            {"19200,N,8,1,1", ""},
            {"fast,N,8,1", ""},
            {"0,N,8,1", ""},
            {"9600,X,8,1", ""},
            {"9600,N,9,1", ""},
            {"9600,N,8,3", ""},
            {"9600x,N,8,1", ""},
        };
        for (const auto& row : rows) {
            QTest::addRow("%s", row[0]) << row[0] << row[1];
        }
    }

    void parses() {
        QFETCH(QString, text);
        QFETCH(QString, parsed);
        const auto s = parseLineSettings(text.toStdString());
        const QString got = s ? QStringLiteral("%1 %2 %3 %4")
                                    .arg(s->baud)
                                    .arg(int(s->parity))
                                    .arg(s->dataBits)
                                    .arg(int(s->stopBits))
                              : QString();
        QCOMPARE(got, parsed);
    }

    void devicesForPortNumbers() {
        QCOMPARE(deviceForPort(1, nullptr, false), std::string("/dev/ttyS0"));
        QCOMPARE(deviceForPort(2, nullptr, false), std::string("/dev/ttyS1"));
        QCOMPARE(deviceForPort(1, "/dev/ttyUSB0", false), std::string("/dev/ttyUSB0"));
        QCOMPARE(deviceForPort(2, "", false), std::string("/dev/ttyS1")); // set but empty
        QCOMPARE(deviceForPort(2, "/dev/x", true), std::string("COM2"));
        QCOMPARE(portVariable(2), std::string("VK9RSC_COM2"));
    }
};

QTEST_APPLESS_MAIN(TstSerial)
#include "tst_serial.moc"
