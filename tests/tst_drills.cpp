#include "PanelHarness.h"
#include "adjust/Adjust.h"
#include "commands/Catalogue.h"
#include "traffic/TrafficPath.h"

#include <random>

using namespace vk9;
using namespace vk9::test;

Q_DECLARE_METATYPE(vk9::Control)

class TstDrills : public QObject {
    Q_OBJECT
private slots:
    void closedPortOnEveryButton_data() {
        QTest::addColumn<Control>("button");
        QTest::addColumn<bool>("hold");
        for (const auto& row : kOneShots) {
            QTest::newRow(controlName(row.id).data()) << row.id << false;
        }
        for (const auto& row : kSelectors) {
            QTest::newRow(controlName(row.id).data()) << row.id << false;
        }
        for (const auto& row : kHoldButtons) {
            QTest::newRow(controlName(row.id).data()) << row.id << true;
        }
    }

    void closedPortOnEveryButton() {
        QFETCH(Control, button);
        QFETCH(bool, hold);
        PanelHarness h;
        h.started();
        h.panel.portLost("unplugged");
        hold ? h.panel.press(button) : h.panel.click(button);
        QCOMPARE(h.box(kStatusBox), std::string(" Not sent: no serial port is open"));
        QCOMPARE(h.box(kTxdBox), std::string());            // nothing rendered
        QVERIFY(h.view.logs.back().find("not sent:") == 0); // and a line on standard error
        h.clock.advance(1s);
        if (hold) {
            h.panel.release(button); // its Timer4 empties the notice a second later
        }
        h.clock.advance(5s);
        QVERIFY(h.port.written().empty());
        QCOMPARE(h.state().awaitingReply, 0);
        QVERIFY(!h.clock.isRunning(TimerId::Timer1));
        QVERIFY(!h.clock.isRunning(TimerId::Timer2));
        QCOMPARE(h.view.warnings.size(), std::size_t{1}); // the loss itself, told once
        QCOMPARE(h.view.quits, 0);
    }

    void floodOfGarbageThenAQuery() {
        PanelHarness h;
        h.started();
        std::mt19937 random(7);
        for (int piece = 0; piece < 256; ++piece) { // 1 MiB in 4 KiB pieces
            std::string bytes(4096, '\0');
            for (char& c : bytes) {
                c = static_cast<char>(random());
            }
            h.reply(bytes);
            QVERIFY(h.state().receiveBuffer.size() <= kReceiveBufferCap);
        }
        QVERIFY(h.box(kRxdBox).size() <= 1 + 3 * kReceiveBufferCap);
        // The next reply window clears the garbage and a query is understood again.
        h.panel.click(Control::Command44);
        h.clock.advance(500ms);
        h.panel.click(Control::Command44);
        h.reply("00\r");
        QCOMPARE(h.box(kStatusBox), std::string(" Power ON"));
    }

    void replyTenMinutesLongInPieces() {
        PanelHarness h;
        h.started();
        h.panel.click(Control::Command46);           // L-TIME
        for (int piece = 0; piece < 6000; ++piece) { // a digit every 100 ms for 10 minutes
            h.reply(std::string(1, char('0' + piece % 10)));
            h.clock.advance(100ms);
        }
        QCOMPARE(h.state().receiveBuffer.size(), kReceiveBufferCap);
        const std::string status = h.box(kStatusBox);
        QVERIFY(status.size() == 38 + 9 && status.substr(38) == " Hour Use");
        QCOMPARE(h.box(kRxdBox).size(), 1 + 2 * kReceiveBufferCap);
    }
};

QTEST_APPLESS_MAIN(TstDrills)
#include "tst_drills.moc"
