// The gate's arbitration on a virtual clock: clients that overlap and take turns, a hold with
// a query waiting, replies late, cut off or of another frame's shape, projectors that stop
// answering, clients that leave, queues that fill, a line lost, the frames a client sends that
// are not frames; and a randomized run of all of these against the rules that must always
// hold.
#include "support/ArbiterHarness.h"
#include "transport/GateTickets.h"
#include "vk9gate/core/FrameReader.h"

#include <cstring>
#include <random>
#include <set>
#include <tuple>

using namespace vk9::gate;
using namespace vk9::test;
using namespace std::chrono_literals;

namespace {

// A far end with faults, each projector of its own kind, for the randomized run. Queries are
// lamp hours (CR3), each answered with the number of the frame it answers, so that a reply
// given to the wrong frame shows; operations are acknowledged.
enum class Kind { Prompt, Absent, Late, Echoes, Noisy, Abandons };

// By then three absent projectors have been found absent: two unanswered frames each, each
// followed by a late window of 2 s.
constexpr double kFoundAbsent = 15000;

struct FaultyLine {
    FaultyLine(Harness& h, std::mt19937& random, std::array<Kind, 4> kinds)
        : h(h), random(random), kinds(kinds) {
        h.farEnd = [this](const std::string& frame) { answer(frame); };
    }
    Harness& h;
    std::mt19937& random;
    std::array<Kind, 4> kinds;
    int writes = 0;
    std::array<Time, 4> last{}; // a projector answers its frames in their order

    double between(double a, double b) { return std::uniform_real_distribution(a, b)(random); }
    void at(const std::string& frame, double after, const std::string& bytes) {
        Time& mine = last.at(std::size_t(frame[3] - '1'));
        mine = std::max(h.now + ms(after), mine + 1ms);
        h.coming.emplace(mine, bytes);
    }
    void answer(const std::string& frame) {
        char serial[8];
        std::snprintf(serial, sizeof serial, "%05d\r", writes++);
        const bool query = frame.substr(4) == "CR3";
        const std::string reply = query ? serial : "\x06\r";
        switch (kinds.at(std::size_t(frame[3] - '1'))) {
        case Kind::Prompt:
            return at(frame, between(9, 100), reply);
        case Kind::Absent:
            return;
        case Kind::Late: // within the window or after it; now and then a stray acknowledgement
            if (between(0, 1) < 0.3) { // beyond the late window
                h.coming.emplace(h.now + ms(between(2100, 4000)), "\x06\r");
            }
            return at(frame, between(200, 1900), reply);
        case Kind::Echoes:
            at(frame, 9, frame + "\r");
            return at(frame, between(10, 100), reply);
        case Kind::Noisy:
            at(frame, between(1, 9), std::string(std::size_t(between(1, 40)), 'X') + "\r");
            return at(frame, between(10, 100), reply);
        case Kind::Abandons:
            return at(frame, between(9, 100), reply.substr(0, reply.size() / 2));
        }
    }
};

} // namespace

class TstArbiter : public QObject {
    Q_OBJECT
private slots:
    // Clients take turns, one frame each, whatever order their frames came in: one exchange
    // at a time, each reply to its own client, the next frame the moment a reply has come.
    void clientsTakeTurns() {
        Harness h;
        h.answers = {
            {"A001CR0", "00\r"}, {"A001CR1", "1\r"}, {"A002CR0", "80\r"}, {"A002CR1", "2\r"}};
        h.submit(0, 3, "A002CR1"); // on the line while the others' frames come
        h.submit(0, 1, "A001CR0");
        h.submit(0, 1, "A001CR1");
        h.submit(0, 2, "A002CR0");
        h.run(ms(200));
        // 8 bytes at 9600 bit/s: 8.3 ms on the wire, then 2 ms to answer.
        QCOMPARE(h.frames(),
                 QStringLiteral("0.0 A002CR1, 10.3 A001CR0, 20.7 A002CR0, 31.0 A001CR1"));
        QCOMPARE(h.client(1).got + "|" + h.client(2).got + "|" + h.client(3).got,
                 std::string("00\r1\r|80\r|2\r"));
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
    // served after one copy at most, and its reply goes to it alone. The held button is
    // another client's hold; a poll once a second is not.
    void holdWithAWaitingQuery() {
        Harness h;
        h.answerAfter = ms(0.5);
        h.answers = {{"A001C47", "\x06\r"}, {"A002CR1", "3\r"}};
        for (int tick = 0; tick <= 100; ++tick) { // 500 ms
            if (tick == 20) {
                h.submit(100, 2, "A002CR1");
            }
            h.submit(tick * 5, 1, "A001C47");
            if (tick == 50) {
                QVERIFY(h.arbiter.heldByAnother(h.client(2), h.now));
                QVERIFY(!h.arbiter.heldByAnother(h.client(1), h.now));
            }
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
        QCOMPARE(h.client(2).got, std::string("3\r"));
        QCOMPARE(int(std::count(h.client(1).got.begin(), h.client(1).got.end(), '\x06')), copies);
        QCOMPARE(int(h.arbiter.counts().repeated), 101 - copies);
        h.run(ms(1200));
        QVERIFY(!h.arbiter.heldByAnother(h.client(2), h.now)); // released
        Harness polled;
        polled.answers = {{"A001CR0", "00\r"}};
        for (int second = 0; second < 5; ++second) {
            polled.submit(second * 1000, 1, "A001CR0");
        }
        QVERIFY(!polled.arbiter.heldByAnother(polled.client(2), polled.now));
    }

    // What reaches a client is a whole reply of its frame's shape: bytes that are not (an
    // echo, noise, another frame's reply) are thrown away and the frame still gets its own; a
    // reply that comes after its window, or is never finished, reaches no one, and the next
    // exchange, another client's or the same client's, waits out the late window.
    void onlyWholeRepliesOfTheirShape_data() {
        QTest::addColumn<QStringList>("pieces"); // "ms bytes", bytes with | for CR, ! for ACK
        QTest::addColumn<QString>("got");
        QTest::addColumn<QString>("frames");
        QTest::newRow("in pieces") << QStringList{"200 012", "700 00|"} << "01200|"
                                   << "0.0 A001CR3, 700.0 A001CR0";
        QTest::newRow("an echo, then the reply")
            << QStringList{"9 A001CR3|", "20 01200|"} << "01200|"
            << "0.0 A001CR3, 20.0 A001CR0";
        QTest::newRow("noise, then the reply")
            << QStringList{"9 " + QString(40, 'Z') + "|", "20 01200|"} << "01200|"
            << "0.0 A001CR3, 20.0 A001CR0";
        QTest::newRow("an acknowledgement is no lamp hours") << QStringList{"20 !|"} << ""
                                                             << "0.0 A001CR3, 2000.0 A001CR0";
        QTest::newRow("late") << QStringList{"700 01200|"} << ""
                              << "0.0 A001CR3, 2000.0 A001CR0";
        QTest::newRow("begun and abandoned") << QStringList{"100 012"} << ""
                                             << "0.0 A001CR3, 2500.0 A001CR0";
        QTest::newRow("late bytes hold the line 100 ms") << QStringList{"700 0120", "1950 0|"} << ""
                                                         << "0.0 A001CR3, 2050.0 A001CR0";
    }

    void onlyWholeRepliesOfTheirShape() {
        QFETCH(QStringList, pieces);
        QFETCH(QString, got);
        QFETCH(QString, frames);
        for (const int second : {1, 2}) {
            Harness h;
            h.answers = {{"A001CR0", "80\r"}};
            h.submit(0, 1, "A001CR3");
            h.submit(5, second, "A001CR0");
            for (const QString& piece : pieces) {
                h.run(ms(piece.section(' ', 0, 0).toDouble()));
                h.arbiter.received(
                    h.now,
                    piece.section(' ', 1).replace('|', '\r').replace('!', '\x06').toStdString());
            }
            h.run(ms(3000));
            QCOMPARE(h.frames(), frames);
            const std::string mine = got.replace('|', '\r').toStdString();
            QCOMPARE(h.client(1).got, second == 1 ? mine + "80\r" : mine);
        }
    }

    // A projector that leaves two frames unanswered is absent: every client's frames to it
    // end at once, unsent, but for one probe every 10 s; a reply makes it present again. The
    // others meanwhile go first after each silence.
    void absentProjectors() {
        Harness h;
        h.answers = {{"A001CR0", "00\r"}};
        h.submit(0, 1, "A003CR0");
        h.submit(10, 2, "A001CR0");
        h.submit(20, 1, "A003CR1");
        h.submit(30, 1, "A003CR3");
        h.run(ms(6000));
        QCOMPARE(h.frames(), QStringLiteral("0.0 A003CR0, 2000.0 A001CR0, 2010.3 A003CR1"));
        QCOMPARE(h.endings.last(), QStringLiteral("1 A003CR3 absent"));
        QCOMPARE(h.presences, QStringList{"A003 absent"});
        const auto& ending = h.client(1).tickets.rbegin()->second.ends.front();
        QCOMPARE(ending.nextTry.value_or(Time{0}).count(), (ms(2510.333) + 10s).count());
        h.submit(6000, 2, "A003C00"); // another client's: ends at once too
        h.run(ms(6001));
        QCOMPARE(h.endings.last(), QStringLiteral("2 A003C00 absent"));
        h.answers["A003CR0"] = "80\r";
        h.submit(12600, 1, "A003CR0"); // the probe
        h.submit(12600, 1, "A003CR1");
        h.run(ms(12700));
        QCOMPARE(h.endings.mid(h.endings.size() - 2),
                 (QStringList{"1 A003CR1 absent", "1 A003CR0 answered"}));
        QCOMPARE(h.presences, (QStringList{"A003 absent", "A003 back"}));
        QCOMPARE(h.states.find("A003")->answers, std::optional(true));
        // Bytes of no frame's shape for it, whole, too long for a reply, or never finished:
        // something answers, garbled (a line at another speed), and is never taken for absent.
        for (const std::string& garbled :
             {std::string("Z8\r"), std::string(40, 'Z') + "\r", std::string("Z8")}) {
            Harness noisy;
            noisy.answers = {{"A002CR0", garbled}, {"A002CR1", garbled}};
            noisy.submit(0, 1, "A002CR0");
            noisy.submit(0, 2, "A002CR1");
            noisy.run(ms(8000));
            QVERIFY2(noisy.presences.isEmpty(), garbled.c_str());
        }
        // A slow projector's replies, after the reply window but within the late window, are
        // thrown away; it answers all the same, and is never taken for absent.
        Harness slow;
        slow.answerAfter = ms(700);
        slow.answers = {{"A002CR0", "80\r"}, {"A002CR1", "1\r"}};
        for (int i = 0; i < 4; ++i) {
            slow.submit(i * 3000, 1, i % 2 == 0 ? "A002CR0" : "A002CR1");
        }
        slow.run(ms(12000));
        QCOMPARE(slow.endings.filter(QRegularExpression("A002CR. unanswered$")).size(), 4);
        QVERIFY2(slow.presences.isEmpty(), qPrintable(slow.presences.join(", ")));
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
        h.clients.erase(1);
        h.run(ms(100));
        QCOMPARE(h.client(2).got, std::string("80\r"));
        QCOMPARE(h.frames(), QStringLiteral("0.0 A001CR0, 10.3 A002CR0"));
    }

    // Bounded: a frame that waits too long is dropped unsent, and so is one beyond a
    // client's eight waiting frames. A line lost ends every frame as lost. Each is told once,
    // from the arbiter's wake, never inside the submit that caused it.
    void boundsAndLosses() {
        ArbiterSettings settings;
        settings.maxWait = 1000ms;
        Harness h(settings);
        h.submit(0, 1, "A001CR0"); // never answered: the line is quiet until 2000 ms
        for (int n = 0; n < 9; ++n) {
            h.submit(10, 2, "A00" + std::to_string(1 + n % 4) + "C0" + std::to_string(n));
        }
        h.run(ms(10));
        QCOMPARE(h.endings.last(), QStringLiteral("2 A001C08 queue full"));
        h.submit(1500, 3, "A003CR0");
        h.run(ms(3500)); // client 2's frames waited more than 1000 ms
        QCOMPARE(h.arbiter.counts().tooLong, 8u);
        QCOMPARE(h.frames(), QStringLiteral("0.0 A001CR0, 2000.0 A003CR0"));
        h.submit(3600, 4, "A004CR0");
        h.submit(3600, 5, "A001CR0");
        h.arbiter.lineLost(h.now);
        QCOMPARE(h.endings.mid(h.endings.size() - 2),
                 (QStringList{"4 A004CR0 line lost", "5 A001CR0 line lost"}));
        QVERIFY(!h.arbiter.nextWake());
    }

    // Random clients, frames and faults: replies early, late, beyond the late window, echoed,
    // noisy, abandoned; projectors absent; tickets withdrawn; the line lost. Always: every
    // reply a client is given answers its own frame; one exchange is on the line at a time
    // (but for a held button's copies); every ticket ends exactly once, and never inside the
    // client's call.
    void randomHalls() {
        for (unsigned seed = 1; seed <= 1500; ++seed) {
            std::mt19937 random(seed);
            std::array<Kind, 4> kinds{};
            for (Kind& k : kinds) {
                k = Kind(std::uniform_int_distribution(0, 5)(random));
            }
            Harness h;
            FaultyLine line(h, random, kinds);
            std::set<Ticket> withdrawn;
            double at = 0;
            for (int step = 0; step < 120; ++step) {
                at += line.between(0, 200);
                const int client = std::uniform_int_distribution(1, 4)(random);
                const int roll = std::uniform_int_distribution(0, 99)(random);
                const std::string address = "A00" + std::to_string(1 + roll % 4);
                if (roll < 85) {
                    h.submit(at, client, address + (roll < 50 ? "CR3" : roll < 70 ? "C47" : "C00"));
                } else if (auto& mine = h.client(client).tickets; roll < 97 && !mine.empty()) {
                    if (h.arbiter.withdraw(mine.rbegin()->first)) {
                        withdrawn.insert(mine.rbegin()->first);
                    }
                } else if (roll >= 97) {
                    h.run(ms(at));
                    h.arbiter.lineLost(h.now);
                }
            }
            h.run(ms(at + 10000));
            const QString broken = brokenRule(h, kinds, withdrawn, false);
            QVERIFY2(broken.isEmpty(), qPrintable(QString("seed %1: %2").arg(seed).arg(broken)));
        }
    }

    // Halls where the only fault is projectors that are not there: a client asks one that
    // answers every half second, others ask the absent ones in loops, an operator sometimes
    // holds a button. Once the absent ones have been found absent, every frame to a projector
    // that answers is answered, whatever the others ask; and the rules above hold.
    void absentProjectorsStarveNoOne() {
        for (unsigned seed = 1; seed <= 500; ++seed) {
            std::mt19937 random(seed);
            std::array<Kind, 4> kinds{Kind::Prompt, Kind::Absent, Kind::Absent, Kind::Absent};
            kinds[1] = seed % 2 == 0 ? Kind::Prompt : Kind::Absent;
            const auto addressOf = [&](Kind kind) { // one of that kind
                std::string a;
                while (a.empty() || kinds.at(std::size_t(a[3] - '1')) != kind) {
                    a = "A00" + std::to_string(1 + random() % 4);
                }
                return a;
            };
            Harness h;
            FaultyLine line(h, random, kinds);
            const double holdFrom = line.between(0, 30000);
            const bool holds = seed % 3 == 0;
            const auto open = [&](int n) {
                auto& t = h.client(n).tickets;
                return !t.empty() && t.rbegin()->second.ends.empty();
            };
            for (double at = line.between(0, 50); at < 40000; at += 50) {
                h.run(ms(at));
                if (int(at) % 500 < 50 && !open(1)) {
                    h.submit(at, 1, addressOf(Kind::Prompt) + "CR3");
                }
                for (const int asker : {2, 3}) {
                    if (!open(asker)) {
                        h.submit(at, asker, addressOf(Kind::Absent) + (asker == 2 ? "CR3" : "C00"));
                    }
                }
                if (holds && at >= holdFrom && at < holdFrom + 5000) {
                    h.submit(at, 4, addressOf(Kind::Prompt) + "C47");
                }
            }
            h.run(ms(50000));
            const QString broken = brokenRule(h, kinds, {}, true);
            QVERIFY2(broken.isEmpty(), qPrintable(QString("seed %1: %2").arg(seed).arg(broken)));
        }
    }

    // What a client that greeted with tickets reads of each frame, and reads back; and lines
    // that are none of them.
    void ticketWords() {
        using vk9::tickets::Fate;
        const std::pair<vk9::tickets::Notice, const char*> words[] = {
            {{Fate::Sent, 3, 7, {}}, "sent 3 7\n"},
            {{Fate::Answered, 3, 152, "00\r"}, "answered 3 152 00%0D\n"},
            {{Fate::Answered, 3, 9, "\x06\r"}, "answered 3 9 %06%0D\n"},
            {{Fate::Answered, 3, 9, "1% \r"}, "answered 3 9 1%25%20%0D\n"},
            {{Fate::Unanswered, 3, 0, {}}, "unanswered 3\n"},
            {{Fate::Absent, 3, 8000, {}}, "absent 3 8000\n"},
            {{Fate::Busy, 3, 0, {}}, "busy 3\n"},
            {{Fate::Repeated, 3, 0, {}}, "repeated 3\n"},
            {{Fate::Full, 3, 0, {}}, "full 3\n"},
            {{Fate::Lost, 3, 0, {}}, "lost 3\n"},
        };
        for (const auto& [n, line] : words) {
            QCOMPARE(vk9::tickets::format(n), std::string(line));
            const auto back =
                vk9::tickets::parseNotice(std::string_view(line).substr(0, std::strlen(line) - 1));
            QVERIFY2(back && back->fate == n.fate && back->frame == 3 && back->ms == n.ms &&
                         back->reply == n.reply,
                     line);
        }
        for (const char* wrong :
             {"answered 3", "sent x 1", "hello 3", "answered 3 1 %G0", "busy 3 4"}) {
            QVERIFY2(!vk9::tickets::parseNotice(wrong), wrong);
        }
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
        QTest::newRow("an address no projector has")
            << QByteArray("A009C00\r") << QStringList{}
            << "not a frame: no projector has the address A009";
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

private:
    // Which rule a hall broke, or nothing.
    static QString brokenRule(Harness& h, const std::array<Kind, 4>& kinds,
                              const std::set<Ticket>& withdrawn, bool clean) {
        std::vector<std::tuple<Time, Time, int, std::string>> spans; // on the line, ended, whose
        for (const auto& [n, c] : h.clients) {
            for (const auto& [ticket, r] : c->tickets) {
                const bool gone = withdrawn.count(ticket) != 0;
                if (r.ends.size() != (gone ? 0u : 1u)) {
                    return QString("%1 ended %2 times").arg(r.frame.c_str()).arg(r.ends.size());
                }
                if (gone) {
                    continue;
                }
                const Ending& e = r.ends.front();
                const auto place = std::find(h.sentInOrder.begin(), h.sentInOrder.end(), ticket);
                const std::string own = // its own frame's reply: the number of its writing
                    r.frame.substr(4) == "CR3"
                        ? QString::asprintf("%05d\r", int(place - h.sentInOrder.begin()))
                              .toStdString()
                        : "\x06\r";
                if (!r.reply.empty() && (e.outcome != Outcome::Answered || r.reply != own)) {
                    return QString("%1 got %2").arg(r.frame.c_str(), r.reply.c_str());
                }
                const bool answers = kinds.at(std::size_t(r.frame[3] - '1')) == Kind::Prompt;
                if (clean && answers && e.at > ms(kFoundAbsent) && e.outcome != Outcome::Answered &&
                    e.outcome != Outcome::Repeated && e.outcome != Outcome::QueueFull) {
                    return QString("%1 to a projector that answers: outcome %2")
                        .arg(r.frame.c_str())
                        .arg(int(e.outcome));
                }
                if (r.sentAt) {
                    spans.emplace_back(*r.sentAt, e.at, n, r.frame);
                }
            }
        }
        std::sort(spans.begin(), spans.end());
        Time open{-1};
        std::pair<int, std::string> owner;
        for (const auto& [from, to, client, frame] : spans) {
            if (from < open && std::pair(client, frame) != owner) {
                return QString("%1 went during %2").arg(frame.c_str(), owner.second.c_str());
            }
            owner = from >= open ? std::pair(client, frame) : owner;
            open = std::max(open, to);
        }
        return {};
    }
};

QTEST_APPLESS_MAIN(TstArbiter)
#include "tst_arbiter.moc"
