#include "Simulator.h"

#include <QtTest>

using namespace vk9::sim;

namespace {

// Feeds frames at one instant and returns the reply to the last frame.
std::string ask(Simulator& sim, const std::string& frames, std::int64_t at = 0) {
    const auto answers = sim.feed(frames, at);
    return answers.empty() ? std::string("(no frame)") : answers.back().reply;
}

} // namespace

class TstSimulator : public QObject {
    Q_OBJECT
private slots:
    void answers_data() {
        QTest::addColumn<QByteArray>("frames"); // the reply to the last one counts
        QTest::addColumn<QByteArray>("reply");  // empty: no answer
        // clang-format off
        const char* rows[][3] = {
            {"lamps off in stand by", "C72\rCR7\r", "20\r"}, {"unaddressed is 1", "A003C08\rCR1\r", "1\r"},
            {"AFFF: all act", "AFFFC06\rA004CR1\r", "2\r"},
            {"empty frame", "\r", ""},        {"above 127", "\xff\xfe" "C00\r", ""},
            {"unknown address", "A009CR0\r", ""}, {"lower case", "cr0\r", ""},
            {"two characters", "C0\r", ""},   {"line feed inside", "CR0\n\r", ""},
        };
        // clang-format on
        for (const auto& row : rows) {
            QTest::newRow(row[0]) << QByteArray(row[1]) << QByteArray(row[2]);
        }
        QTest::newRow("overlong") << QByteArray(4000, 'C') + '\r' << QByteArray();
        QTest::newRow("NUL bytes") << QByteArray("C\0\0\r", 4) << QByteArray();
    }

    void answers() {
        QFETCH(QByteArray, frames);
        QFETCH(QByteArray, reply);
        Simulator sim;
        QCOMPARE(QByteArray::fromStdString(ask(sim, frames.toStdString())), reply);
        QCOMPARE(ask(sim, "C43\r"), std::string("\x06\r")); // bad input leaves it working
    }

    void powerCountsDownAndCoolsDown() {
        Simulator sim({2, 1000, 2000});
        QCOMPARE(ask(sim, "C00\r", 0), std::string("\x06\r"));
        QCOMPARE(ask(sim, "CR0\r", 999), std::string("40\r"));
        QCOMPARE(ask(sim, "CR0\r", 1000), std::string("00\r"));
        ask(sim, "C02\r", 1500);
        QCOMPARE(ask(sim, "CR0\r", 3499), std::string("20\r"));
        QCOMPARE(ask(sim, "CR0\r", 3500), std::string("80\r"));
        QCOMPARE(ask(sim, "A003CR0\r"), std::string()); // only two on this line
    }

    void framesMayArriveInPieces() {
        Simulator sim;
        QVERIFY(sim.feed("A00", 0).empty() && sim.feed("2CR", 0).empty());
        QCOMPARE(sim.feed("0\rCR1\r", 0).size(), std::size_t{2});
        sim.feed("CR0", 0); // never finished
        QCOMPARE(sim.abandonPartial().value_or(""), std::string("CR0"));
        QVERIFY(!sim.hasPartial());
    }
};

QTEST_APPLESS_MAIN(TstSimulator)
#include "tst_simulator.moc"
