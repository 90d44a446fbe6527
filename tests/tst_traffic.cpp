#include "PanelHarness.h"
#include "traffic/TrafficTimers.h"

using namespace vk9;
using namespace vk9::test;

class TstTraffic : public QObject {
    Q_OBJECT
private slots:
    void transmitWritesOneFrameAndShowsIt_data() {
        QTest::addColumn<bool>("addressed");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("txd");
        QTest::newRow("no address") << false << QByteArray::fromHex("4330300d") << " C 0 0 CR ";
        QTest::newRow("A001") << true << QByteArray::fromHex("413030314330300d")
                              << " A 0 0 1 C 0 0 CR ";
    }

    void transmitWritesOneFrameAndShowsIt() {
        QFETCH(bool, addressed);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, txd);
        PanelHarness h;
        h.started();
        if (addressed) {
            h.panel.select(Control::Option5); // "001"
        }
        h.panel.click(Control::Command17); // POWER ON: "C00"
        QCOMPARE(h.port.writes(), std::vector<std::string>{bytes.toStdString()});
        QCOMPARE(h.state().commandText, bytes.toStdString());
        QCOMPARE(h.box(kTxdBox), txd.toStdString());
        QCOMPARE(h.state().awaitingReply, 1);
        QVERIFY(h.clock.isRunning(TimerId::Timer2) && h.clock.isRunning(TimerId::Timer4));
    }

    void oneExchangeFromQueryToClearing() {
        PanelHarness h;
        h.started();
        h.panel.click(Control::Command44);
        h.reply("0"); // pieces: the RXD box grows and decoding runs on each
        QCOMPARE(h.box(kRxdBox), std::string(" 0 "));
        QCOMPARE(h.state().awaitingReply, 0);
        h.reply("0");
        QCOMPARE(h.box(kStatusBox), std::string(" Power ON"));
        h.reply("\r");
        QCOMPARE(h.box(kRxdBox), std::string(" 0 0 CR "));
        h.clock.advance(500ms); // reply window: nothing marked, buffer emptied
        QCOMPARE(h.box(kRxdBox), std::string(" 0 0 CR "));
        QCOMPARE(h.state().receiveBuffer, std::string());
        h.clock.advance(499ms);
        QCOMPARE(h.box(kTxdBox), std::string(" C R 0 CR "));
        h.clock.advance(1ms); // 1000 ms: all three boxes emptied
        QCOMPARE(h.box(kTxdBox) + h.box(kRxdBox) + h.box(kStatusBox), std::string());
        h.clock.advance(10s); // both timers were one-shot
        QVERIFY(!h.clock.isRunning(TimerId::Timer2) && !h.clock.isRunning(TimerId::Timer4));
    }

    void missingReplyIsMarkedAt500ms_data() {
        QTest::addColumn<int>("pieceAtMs"); // -1: no reply at all
        QTest::addColumn<QString>("rxdAt500");
        QTest::newRow("no reply") << -1 << " X X X X";
        QTest::newRow("ACK at 499 ms") << 499 << " &";
    }

    void missingReplyIsMarkedAt500ms() {
        QFETCH(int, pieceAtMs);
        QFETCH(QString, rxdAt500);
        PanelHarness h;
        h.started();
        h.panel.click(Control::Command17);
        h.clock.advance(499ms);
        QCOMPARE(h.box(kRxdBox), std::string());
        if (pieceAtMs == 499) {
            h.reply("\x06");
        }
        h.clock.advance(1ms);
        QCOMPARE(h.box(kRxdBox), rxdAt500.toStdString());
        QCOMPARE(h.state().awaitingReply, 0);
        QVERIFY(!h.clock.isRunning(TimerId::Timer2));
    }

    void lateRepliesAreShownAndKept() {
        PanelHarness h;
        h.started();
        h.panel.click(Control::Command44);
        h.clock.advance(700ms); // between the window's end and the clearing
        h.reply("00\r");
        QCOMPARE(h.box(kStatusBox), std::string(" Power ON"));
        h.panel.click(Control::Command17); // a transmission leaves RXD and STATUS alone
        QCOMPARE(h.box(kRxdBox), std::string(" 0 0 CR "));
        QCOMPARE(h.box(kStatusBox), std::string(" Power ON"));
        h.clock.advance(300ms); // Timer4 keeps the count of its first start
        QCOMPARE(h.box(kStatusBox), std::string());
        QCOMPARE(h.state().receiveBuffer, std::string("00\r")); // until the next window ends
        h.clock.advance(5s);
        h.panel.click(Control::Command44);
        h.clock.advance(1000ms);
        h.reply("20\r"); // after the clearing: it stays in view
        h.clock.advance(60s);
        QCOMPARE(h.box(kRxdBox), std::string(" 2 0 CR "));
        QCOMPARE(h.box(kStatusBox), std::string(" Cooling down"));
    }

    void otherPortEventsChangeNothing() {
        PanelHarness h;
        h.started();
        h.port.deliver("00\r");
        h.panel.comm(static_cast<CommEvent>(1)); // a line-state or error event
        QCOMPARE(h.state().receiveBuffer, std::string());
        QCOMPARE(h.box(kRxdBox), std::string());
    }
};

QTEST_APPLESS_MAIN(TstTraffic)
#include "tst_traffic.moc"
