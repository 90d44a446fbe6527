#include "PanelHarness.h"
#include "traffic/Hyouji.h"

using namespace vk9;
using namespace vk9::test;

class TstHyouji : public QObject {
    Q_OBJECT
private slots:
    void transmitWritesOneFrameAndShowsIt_data();
    void transmitWritesOneFrameAndShowsIt();
    void transmitLeavesReplyBoxesAlone();
    void receiveShowsTheBufferPieceByPiece();
    void otherPortEventsChangeNothing();
    void writeWhilePortClosedSendsNothingAndSaysSo();
    void receiveBufferIsCapped();
};

void TstHyouji::transmitWritesOneFrameAndShowsIt_data() {
    QTest::addColumn<QString>("prefix");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("txd");
    QTest::newRow("no address") << "" << QByteArray::fromHex("4330300d") << " C 0 0 CR ";
    QTest::newRow("A001") << "A001" << QByteArray::fromHex("413030314330300d")
                          << " A 0 0 1 C 0 0 CR ";
}

void TstHyouji::transmitWritesOneFrameAndShowsIt() {
    QFETCH(QString, prefix);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, txd);
    PanelHarness h;
    h.started();
    if (!prefix.isEmpty()) {
        h.panel.select(Control::Option5); // "001"
    }
    h.panel.click(Control::Command17); // POWER ON: "C00"
    QCOMPARE(h.port.writes(), std::vector<std::string>{bytes.toStdString()});
    QCOMPARE(h.state().commandText, bytes.toStdString());
    QCOMPARE(h.box(kTxdBox), txd.toStdString());
    QCOMPARE(h.state().awaitingReply, 1);
    QVERIFY(h.clock.isRunning(TimerId::Timer2));
    QVERIFY(h.clock.isRunning(TimerId::Timer4));
}

void TstHyouji::transmitLeavesReplyBoxesAlone() {
    PanelHarness h;
    h.started();
    h.panel.click(Control::Command44);
    h.reply("00\r");
    QCOMPARE(h.box(kStatusBox), std::string(" Power ON"));
    h.panel.click(Control::Command17);
    QCOMPARE(h.box(kRxdBox), std::string(" 0 0 CR "));
    QCOMPARE(h.box(kStatusBox), std::string(" Power ON"));
}

void TstHyouji::receiveShowsTheBufferPieceByPiece() {
    PanelHarness h;
    h.started();
    h.panel.click(Control::Command17);
    h.reply("0");
    QCOMPARE(h.box(kRxdBox), std::string(" 0 "));
    QCOMPARE(h.state().awaitingReply, 0);
    h.reply("0");
    QCOMPARE(h.box(kRxdBox), std::string(" 0 0 "));
    h.reply("\r");
    QCOMPARE(h.box(kRxdBox), std::string(" 0 0 CR "));
    QCOMPARE(h.state().receiveBuffer, std::string("00\r"));
    QCOMPARE(h.box(kTxdBox), std::string(" C 0 0 CR ")); // receiving never touches TXD
}

void TstHyouji::otherPortEventsChangeNothing() {
    PanelHarness h;
    h.started();
    h.panel.click(Control::Command17);
    h.port.deliver("00\r");
    h.panel.comm(static_cast<CommEvent>(1)); // a line-state or error event
    QCOMPARE(h.state().receiveBuffer, std::string());
    QCOMPARE(h.state().awaitingReply, 1);
    QCOMPARE(h.view.captionWrites(kRxdBox), 0);
}

void TstHyouji::writeWhilePortClosedSendsNothingAndSaysSo() {
    PanelHarness h;
    h.port.makeAbsent(1, "absent");
    h.started();
    h.view.logs.clear();
    h.panel.click(Control::Command44);
    QVERIFY(h.port.written().empty());
    QCOMPARE(h.state().commandText, std::string("CR0\r"));
    QCOMPARE(h.view.captionWrites(kTxdBox), 0);
    QCOMPARE(h.state().awaitingReply, 0);
    QVERIFY(!h.clock.isRunning(TimerId::Timer2));
    QVERIFY(!h.clock.isRunning(TimerId::Timer4));
    QCOMPARE(h.box(kStatusBox), std::string(" Not sent: no serial port is open"));
    QCOMPARE(h.view.logs.size(), std::size_t{1});
    QVERIFY(h.view.logs.front().find(" C R 0 CR ") != std::string::npos);
}

void TstHyouji::receiveBufferIsCapped() {
    PanelHarness h;
    h.started();
    for (int piece = 0; piece < 100; ++piece) {
        h.reply(std::string(100, 'x'));
    }
    QCOMPARE(h.state().receiveBuffer.size(), kReceiveBufferCap);
    QCOMPARE(h.box(kRxdBox).size(), 1 + 2 * kReceiveBufferCap);
    // The head of the buffer is kept: it is what decoding reads.
    h.clock.advance(0ms);
    h.panel.tick(TimerId::Timer2);
    h.reply("y");
    QCOMPARE(h.state().receiveBuffer, std::string("y"));
}

QTEST_APPLESS_MAIN(TstHyouji)
#include "tst_hyouji.moc"
