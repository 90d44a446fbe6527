#include "Simulator.h"

#include <QtTest>

using namespace vk9::sim;

namespace {

// Feeds one frame at a time and returns the reply to the last one.
std::string ask(Simulator& sim, const std::string& frame, std::int64_t at = 0) {
    const auto answers = sim.feed(frame, at);
    return answers.empty() ? std::string("(none)") : answers.back().reply;
}

} // namespace

class TstSimulator : public QObject {
    Q_OBJECT
private slots:
    void answersQueriesAndOperations_data();
    void answersQueriesAndOperations();
    void powerCountsDownAndCoolsDown();
    void addressesReachTheirProjector();
    void allProjectorsActButOneAnswers();
    void badInputNeverAnswers_data();
    void badInputNeverAnswers();
    void framesMayArriveInPieces();
};

void TstSimulator::answersQueriesAndOperations_data() {
    QTest::addColumn<QByteArray>("before"); // frames sent first, each with its CR
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<QByteArray>("reply");
    QTest::newRow("power at rest") << QByteArray() << QByteArray("CR0\r") << QByteArray("80\r");
    QTest::newRow("input") << QByteArray("C07\r") << QByteArray("CR1\r") << QByteArray("3\r");
    QTest::newRow("lamp hours") << QByteArray() << QByteArray("CR3\r") << QByteArray("01200\r");
    QTest::newRow("reversal") << QByteArray() << QByteArray("CR4\r") << QByteArray("11\r");
    QTest::newRow("temperatures at rest")
        << QByteArray() << QByteArray("CR6\r") << QByteArray("025.0, 24.5\r");
    QTest::newRow("lamps off in stand by")
        << QByteArray("C72\r") << QByteArray("CR7\r") << QByteArray("20\r");
    QTest::newRow("lamps 1 and 4 when on")
        << QByteArray("C00\rC71\r") << QByteArray("CR7\r") << QByteArray("19\r");
    QTest::newRow("operation acknowledged")
        << QByteArray() << QByteArray("C43\r") << QByteArray("\x06\r");
}

void TstSimulator::answersQueriesAndOperations() {
    QFETCH(QByteArray, before);
    QFETCH(QByteArray, frame);
    QFETCH(QByteArray, reply);
    Simulator sim;
    sim.feed(before.toStdString(), 0);
    QCOMPARE(QByteArray::fromStdString(ask(sim, frame.toStdString())), reply);
}

void TstSimulator::powerCountsDownAndCoolsDown() {
    Simulator sim({4, 1000, 2000});
    QCOMPARE(ask(sim, "C00\r", 0), std::string("\x06\r"));
    QCOMPARE(ask(sim, "CR0\r", 999), std::string("40\r"));
    QCOMPARE(ask(sim, "CR0\r", 1000), std::string("00\r"));
    ask(sim, "C02\r", 1500);
    QCOMPARE(ask(sim, "CR0\r", 3499), std::string("20\r"));
    QCOMPARE(ask(sim, "CR0\r", 3500), std::string("80\r"));
}

void TstSimulator::addressesReachTheirProjector() {
    Simulator sim;
    ask(sim, "A003C08\r");
    QCOMPARE(ask(sim, "A003CR1\r"), std::string("4\r"));
    QCOMPARE(ask(sim, "CR1\r"), std::string("1\r")); // unaddressed is projector 1
    QCOMPARE(ask(sim, "A004CR3\r"), std::string("01533\r"));
    Simulator two({2, 5000, 5000});
    QCOMPARE(two.feed("A003CR0\r", 0).front().reply, std::string()); // only two on the line
}

void TstSimulator::allProjectorsActButOneAnswers() {
    Simulator sim;
    const auto answers = sim.feed("AFFFC06\r", 0);
    QCOMPARE(answers.size(), std::size_t{1});
    QCOMPARE(answers.front().reply, std::string("\x06\r"));
    for (int n = 1; n <= 4; ++n) {
        QCOMPARE(sim.projector(n).input, 2);
    }
}

void TstSimulator::badInputNeverAnswers_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("empty frame") << QByteArray("\r");
    QTest::newRow("bytes above 127") << QByteArray("\xff\xfe"
                                                   "C00\r");
    QTest::newRow("unknown address") << QByteArray("A009CR0\r");
    QTest::newRow("lower case") << QByteArray("cr0\r");
    QTest::newRow("two characters") << QByteArray("C0\r");
    QTest::newRow("overlong") << QByteArray(4000, 'C') + '\r';
    QTest::newRow("line feed instead of CR") << QByteArray("CR0\n\r");
    QTest::newRow("NUL bytes") << QByteArray("C\0\0\r", 4);
}

void TstSimulator::badInputNeverAnswers() {
    QFETCH(QByteArray, bytes);
    Simulator sim;
    const auto answers = sim.feed(bytes.toStdString(), 0);
    QCOMPARE(answers.size(), std::size_t{1});
    QVERIFY(answers.front().reply.empty());
    QVERIFY(!answers.front().note.empty());
    QCOMPARE(ask(sim, "CR0\r"), std::string("80\r")); // and the next frame is fine
}

void TstSimulator::framesMayArriveInPieces() {
    Simulator sim;
    QVERIFY(sim.feed("A00", 0).empty());
    QVERIFY(sim.feed("2CR", 0).empty());
    QCOMPARE(sim.feed("0\rCR1\r", 0).size(), std::size_t{2});
    sim.feed("CR0", 0); // never finished
    QCOMPARE(sim.abandonPartial().value_or(""), std::string("CR0"));
    QVERIFY(!sim.hasPartial());
}

QTEST_APPLESS_MAIN(TstSimulator)
#include "tst_simulator.moc"
