#include "PanelHarness.h"
#include "adjust/Adjust.h"
#include "commands/Catalogue.h"
#include "model/Layout.h"
#include "model/Lookup.h"
#include "serial/Addressing.h"

using namespace vk9;
using namespace vk9::test;

Q_DECLARE_METATYPE(vk9::Control)

class TstCatalogue : public QObject {
    Q_OBJECT
private slots:
    void everyOneShotSendsItsFrame_data() {
        QTest::addColumn<Control>("button");
        QTest::addColumn<QByteArray>("code");
        QTest::addColumn<Control>("address");
        QTest::addColumn<QByteArray>("prefix");
        for (const OneShotRow& row : kOneShots) {
            const QByteArray code(row.code.data(), qsizetype(row.code.size()));
            const QByteArray name(controlName(row.id).data(),
                                  qsizetype(controlName(row.id).size()));
            QTest::newRow(name + " unaddressed")
                << row.id << code << Control::Option3 << QByteArray();
            QTest::newRow(name + " to 002")
                << row.id << code << Control::Option6 << QByteArray("A002");
        }
    }

    void everyOneShotSendsItsFrame() {
        QFETCH(Control, button);
        QFETCH(QByteArray, code);
        QFETCH(Control, address);
        QFETCH(QByteArray, prefix);
        PanelHarness h;
        h.started();
        h.panel.select(address);
        const PanelState before = h.state();
        h.panel.click(button);
        const std::string frame = (prefix + code + '\r').toStdString();
        QCOMPARE(h.port.writes(), std::vector<std::string>{frame});
        QCOMPARE(frame.size(), prefix.isEmpty() ? std::size_t{4} : std::size_t{8});
        QCOMPARE(h.state().commandText, frame);
        // Nothing but the transmission's own marks: awaitingReply and the two traffic timers.
        PanelState expected = before;
        expected.awaitingReply = 1;
        expected.commandText = frame;
        QVERIFY(h.state() == expected);
        QVERIFY(!h.clock.isRunning(TimerId::Timer1));
        QCOMPARE(h.clock.interval(TimerId::Timer1), 200ms);
        QCOMPARE(h.clock.interval(TimerId::Timer2), 500ms);
        QCOMPARE(h.clock.interval(TimerId::Timer4), 1000ms);
    }

    void everyButtonHasExactlyOneBehaviour() {
        // Every button of the layout is a one-shot, a selector, a hold button, or one of the
        // four panel buttons; none is two of them.
        const std::vector<Control> panelButtons{Control::Command16, Control::Command33,
                                                Control::Command34};
        for (const ButtonRow& row : kButtons) {
            const int kinds = (findRow(kOneShots, row.id) ? 1 : 0) +
                              (findRow(kSelectors, row.id) ? 1 : 0) +
                              (findRow(kHoldButtons, row.id) ? 1 : 0) +
                              int(std::count(panelButtons.begin(), panelButtons.end(), row.id));
            QVERIFY2(kinds == 1, controlName(row.id).data());
        }
        QCOMPARE(kOneShots.size() + kSelectors.size() + kHoldButtons.size() + panelButtons.size(),
                 kButtons.size());
    }

    void addressOptionsSetThePrefixOnly_data() {
        QTest::addColumn<Control>("option");
        QTest::addColumn<QString>("prefix");
        QTest::newRow("SINGLE") << Control::Option3 << "";
        QTest::newRow("ALL") << Control::Option4 << "AFFF";
        QTest::newRow("001") << Control::Option5 << "A001";
        QTest::newRow("002") << Control::Option6 << "A002";
        QTest::newRow("003") << Control::Option7 << "A003";
        QTest::newRow("004") << Control::Option8 << "A004";
    }

    void addressOptionsSetThePrefixOnly() {
        QFETCH(Control, option);
        QFETCH(QString, prefix);
        PanelHarness h;
        h.started();
        h.panel.select(Control::Option5);
        PanelState expected = h.state();
        expected.addressPrefix = prefix.toStdString();
        h.panel.select(option);
        h.panel.select(option); // selecting it again changes nothing
        QVERIFY(h.state() == expected);
        QVERIFY(h.port.written().empty());
        QVERIFY(h.port.calls().empty());
        QVERIFY(!h.clock.isRunning(TimerId::Timer2));
        QVERIFY(!h.clock.isRunning(TimerId::Timer4));
    }
};

QTEST_APPLESS_MAIN(TstCatalogue)
#include "tst_catalogue.moc"
