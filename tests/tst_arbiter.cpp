// The gate's arbitration on a virtual clock: clients that overlap, a hold with a query
// waiting, replies late or cut off, clients that leave, queues that fill, a line lost, and
// the frames a client sends that are not frames.
#include "support/ArbiterHarness.h"
#include "vk9gate/core/FrameReader.h"

using namespace vk9::gate;
using namespace vk9::test;
using namespace std::chrono_literals;

class TstArbiter : public QObject {
    Q_OBJECT
private slots:
    // Two clients ask two projectors at once: one exchange at a time, each reply to its own.
    void overlappingClients() {
        Harness h;
        h.answers = {{"A001CR0", "00\r"}, {"A002CR0", "80\r"}};
        h.submit(0, 1, "A001CR0");
        h.submit(1, 2, "A002CR0");
        h.run(ms(100));
        // 8 bytes at 9600 bit/s: 8.3 ms on the wire, then 2 ms to answer; the second
        // frame goes the moment the first one's reply has come.
        QCOMPARE(h.frames(), QStringLiteral("0.0 A001CR0, 10.3 A002CR0"));
        QCOMPARE(h.got[1], std::string("00\r"));
        QCOMPARE(h.got[2], std::string("80\r"));
        QCOMPARE(h.ended, (QStringList{"1 A001CR0 answered 00", "2 A002CR0 answered 80"}));
        QVERIFY(!h.arbiter.nextWake()); // idle: nothing timed
        // A reply before the frame's wire time is up (a pseudo-terminal has no wire): the
        // projector has had the frame, and the line is free at once.
        Harness pty;
        pty.answers = h.answers;
        pty.answerAfter = ms(-8);
        pty.submit(0, 1, "A001CR0");
        pty.submit(0, 2, "A002CR0");
        pty.run(ms(100));
        QCOMPARE(pty.frames(), QStringLiteral("0.0 A001CR0, 0.3 A002CR0"));
    }

    // A button held at 5 ms on a 9600 bit/s line, with a query that comes in the middle:
    // copies go as fast as the wire carries them, never more than one waits, the query is
    // served in its turn, and its reply goes to it alone.
    void holdWithAWaitingQuery() {
        Harness h;
        h.answerAfter = ms(0.5);
        h.answers = {{"A001C47", "\x06\r"}, {"A002CR1", "3\r"}};
        for (int tick = 0; tick <= 100; ++tick) { // 500 ms
            if (tick == 20) {
                h.submit(100, 2, "A002CR1");
            }
            h.submit(tick * 5, 1, "A001C47");
        }
        h.run(ms(1000));
        const auto& w = h.written;
        int copies = 0;
        for (std::size_t i = 0; i < w.size(); ++i) {
            copies += w[i].second == "A001C47" ? 1 : 0;
            QVERIFY2(i == 0 || w[i].first - w[i - 1].first >= 8.3, qPrintable(h.frames()));
        }
        QVERIFY2(copies >= 50 && copies <= 60, qPrintable(h.frames())); // 500 ms / 8.8 ms
        QVERIFY(w.back().first <= 500 + 8.4 + 0.5 + 8.4); // a copy waiting and one on the wire
        const auto query =
            std::find_if(w.begin(), w.end(), [](auto& f) { return f.second == "A002CR1"; });
        QVERIFY(query != w.end() && query->first >= 100 && query->first < 100 + 2 * 8.9);
        QCOMPARE(h.got[2], std::string("3\r"));
        QCOMPARE(int(std::count(h.got[1].begin(), h.got[1].end(), '\x06')), copies);
        QCOMPARE(int(h.arbiter.counts().repeated), 101 - copies);
    }

    // A reply that comes after its window is thrown away and counted; the next exchange,
    // another client's or the same client's, waits out the late window.
    void lateReplyReachesNoOne_data() {
        QTest::addColumn<ClientId>("second"); // the client of the next frame
        QTest::newRow("another client") << ClientId(2);
        QTest::newRow("the same client") << ClientId(1);
    }

    void lateReplyReachesNoOne() {
        QFETCH(ClientId, second);
        Harness h;
        h.answers = {{"A001CR7", "0F\r"}, {"A001CR0", "00\r"}};
        h.answerAfter = ms(700); // late
        h.submit(0, 1, "A001CR7");
        h.submit(100, second, "A001CR0");
        h.run(ms(1500));
        QCOMPARE(h.frames(), QStringLiteral("0.0 A001CR7")); // quiet until 2 s after it
        QCOMPARE(h.arbiter.counts().lateReplies, 1u);
        h.answerAfter = ms(2);
        h.run(ms(3000));
        QCOMPARE(h.frames(), QStringLiteral("0.0 A001CR7, 2000.0 A001CR0"));
        QCOMPARE(h.got[1] + h.got[2], std::string("00\r")); // its own reply, and nothing else
        QCOMPARE(h.ended.first(), QStringLiteral("1 A001CR7 unanswered "));
    }

    // A reply in pieces goes to its client piece by piece; one that began in its window may
    // end after it. Bytes that come with no frame asked hold the line 100 ms.
    void repliesInPieces() {
        Harness h;
        h.submit(0, 1, "CR3");
        h.run(ms(400));
        h.arbiter.received(h.now, "012");
        h.run(ms(700));
        h.arbiter.received(h.now, "00\r");
        QCOMPARE(h.got[1], std::string("01200\r"));
        QCOMPARE(h.ended, QStringList{"1 CR3 answered 01200"});
        h.arbiter.received(h.now, "80\r"); // unasked
        h.submit(750, 2, "CR0");
        h.run(ms(850));
        QCOMPARE(h.frames(), QStringLiteral("0.0 CR3, 800.0 CR0"));
    }

    // A client that leaves mid-exchange: its reply is still taken off the line, for no one,
    // and its waiting frames are dropped.
    void clientLeavesMidExchange() {
        Harness h;
        h.answers = {{"A001CR0", "00\r"}, {"A002CR0", "80\r"}, {"A001CR1", "2\r"}};
        h.submit(0, 1, "A001CR0");
        h.submit(0, 1, "A001CR1");
        h.submit(1, 2, "A002CR0");
        h.run(ms(5));
        h.arbiter.leave(h.now, 1);
        h.run(ms(100));
        QCOMPARE(h.got.count(1), std::size_t(0));
        QCOMPARE(h.got[2], std::string("80\r"));
        QCOMPARE(h.frames(), QStringLiteral("0.0 A001CR0, 10.3 A002CR0"));
    }

    // Bounded: a frame that waits too long is dropped unsent, and so is one beyond a
    // client's eight waiting frames. A line lost ends every frame as lost.
    void boundsAndLosses() {
        ArbiterSettings settings;
        settings.maxWait = 1000ms;
        Harness h(settings);
        h.submit(0, 1, "A001CR0"); // never answered: the line is quiet until 2000 ms
        for (int n = 0; n < 9; ++n) {
            h.submit(10, 2, "A00" + std::to_string(1 + n % 4) + "C0" + std::to_string(n));
        }
        QCOMPARE(h.ended.last(), QStringLiteral("2 A001C08 queue full "));
        h.submit(1500, 3, "A003CR0");
        h.run(ms(3500)); // client 2's frames waited more than 1000 ms
        QCOMPARE(h.arbiter.counts().tooLong, 8u);
        QCOMPARE(h.frames(), QStringLiteral("0.0 A001CR0, 2000.0 A003CR0"));
        h.submit(3600, 4, "A004CR0");
        h.submit(3600, 5, "A001CR0");
        h.arbiter.lineLost();
        QCOMPARE(h.ended.mid(h.ended.size() - 2),
                 (QStringList{"4 A004CR0 line lost ", "5 A001CR0 line lost "}));
        QVERIFY(!h.arbiter.nextWake());
    }

    // Bytes from a client that are not frames turn it away; frames may come in any pieces.
    void framesFromAClient_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QStringList>("frames");
        QTest::addColumn<QString>("wrong");
        QTest::newRow("frames") << QByteArray("CR0\rA001C00\r") << QStringList{"CR0", "A001C00"}
                                << "";
        QTest::newRow("a frame in pieces")
            << QByteArray("A0|01C|00\r") << QStringList{"A001C00"} << "";
        QTest::newRow("a control byte")
            << QByteArray("CR0\r\nC00\r") << QStringList{"CR0"} << "not a frame: byte 0A";
        QTest::newRow("a byte above 126")
            << QByteArray("C\xff") << QStringList{} << "not a frame: byte FF";
        QTest::newRow("too long")
            << QByteArray("A001C000") << QStringList{}
            << "not a frame: more than 7 characters without a carriage return";
        QTest::newRow("too short")
            << QByteArray("C0\r") << QStringList{} << "not a frame: \"C0\" (2 characters)";
    }

    void framesFromAClient() {
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, frames);
        QFETCH(QString, wrong);
        FrameReader reader;
        QStringList read;
        QString told;
        for (const QByteArray& piece : bytes.split('|')) {
            const auto r = reader.feed(piece.toStdString());
            for (const auto& f : r.frames) {
                read << QString::fromStdString(f).chopped(1);
            }
            if (r.wrong) {
                told = QString::fromStdString(*r.wrong);
                break;
            }
        }
        QCOMPARE(read, frames);
        QCOMPARE(told, wrong);
    }
};

QTEST_APPLESS_MAIN(TstArbiter)
#include "tst_arbiter.moc"
