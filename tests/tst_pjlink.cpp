// PJLink Class 1 on the gate, without sockets: request lines, passwords and digests, every
// request and the projector's frames and replies that make its answer, the 1 s and 30 s
// reuse of what was read, and the 3.5 s bound, on a virtual clock; and the order of the MQTT
// service's frames.
#include "support/ArbiterHarness.h"
#include "vk9gate/core/Mqtt.h"
#include "vk9gate/core/PjLink.h"
#include "vk9gate/core/Projectors.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

using namespace vk9::gate;
using namespace vk9::gate::pjlink;
using namespace vk9::test;

namespace {

Settings hallLeft() {
    Settings s;
    s.prefix = "A001";
    s.inputs = {"11", "12", "31", "32"};
    s.name = "Hall left";
    s.manufacturer = "vk9gate";
    s.product = "Model 7";
    return s;
}

// A request, as the projector answers it with the replies given (code -> reply; a code
// missing gets no reply): the codes sent, and the answer.
QString answerWith(const QByteArray& line, const std::map<std::string, std::string>& replies,
                   ProjectorState state = {}) {
    const Parsed parsed = parse(line.toStdString());
    if (!parsed.request) {
        return parsed.garbage ? "(closed)" : QString::fromStdString(parsed.answer);
    }
    const Settings settings = hallLeft();
    Replies got;
    QStringList sent;
    for (int step = 0; step < 8; ++step) {
        const Step s = next(*parsed.request, {settings, &state, got});
        if (s.send.empty()) {
            return (sent.isEmpty() ? "" : sent.join(' ') + " -> ") +
                   QString::fromStdString(s.answer);
        }
        sent << QString::fromStdString(s.send);
        const auto reply = replies.find(s.send);
        got[s.send] = reply == replies.end() ? std::nullopt : std::optional(reply->second);
    }
    return "(no end)";
}

// Projector 001's link on a harness, woken at its deadlines; its answers collected.
struct WiredLink {
    WiredLink(Harness& h, QStringList& answers)
        : link(h.arbiter, h.states, hallLeft(), "projector 001 (PJLink)",
               [&answers](auto, const std::string& a) { answers << QString::fromStdString(a); }) {
        h.frontEndWake = [this] { return link.nextWake(); };
        h.wakeFrontEnd = [this](Time t) { link.wake(t); };
    }
    ProjectorLink link;
};

} // namespace

class TstPjLink : public QObject {
    Q_OBJECT
private slots:
    // Each request with the projector in a given state: the frames it takes and the answer.
    void requests_data() {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QString>("cr0"); // the power state; "-" no reply
        QTest::addColumn<QString>("expected");
        const auto row = [](const char* name, const char* line, const char* cr0,
                            const char* expected) {
            QTest::newRow(name) << QByteArray(line) << QString(cr0) << QString(expected);
        };
        // clang-format off
        row("POWR ? on", "%1POWR ?", "00", "CR0 -> %1POWR=1");
        row("POWR ? stand by", "%1POWR ?", "80", "CR0 -> %1POWR=0");
        row("POWR ? count down", "%1POWR ?", "40", "CR0 -> %1POWR=3");
        row("POWR ? cooling down", "%1POWR ?", "20", "CR0 -> %1POWR=2");
        row("POWR ? power abnormality", "%1POWR ?", "10", "CR0 -> %1POWR=ERR4");
        row("POWR ? too hot, on", "%1POWR ?", "08", "CR0 -> %1POWR=1");
        row("POWR ? too hot, in stand by", "%1POWR ?", "88", "CR0 -> %1POWR=0");
        row("POWR ? no reply", "%1POWR ?", "-", "CR0 -> %1POWR=ERR4");
        row("POWR 1", "%1POWR 1", "80", "CR0 C00 -> %1POWR=OK");
        row("POWR 0", "%1POWR 0", "00", "CR0 C02 -> %1POWR=OK");
        row("POWR 1 while warming up", "%1POWR 1", "40", "CR0 -> %1POWR=ERR3");
        row("POWR 0 while cooling down", "%1POWR 0", "20", "CR0 -> %1POWR=ERR3");
        row("POWR 2", "%1POWR 2", "80", "%1POWR=ERR2");
        row("INPT ?", "%1INPT ?", "00", "CR0 CR1 -> %1INPT=31");
        row("INPT ? in stand by", "%1INPT ?", "80", "CR0 -> %1INPT=ERR3");
        row("INPT 32", "%1INPT 32", "00", "CR0 C08 -> %1INPT=OK");
        row("INPT 11", "%1INPT 11", "00", "CR0 C05 -> %1INPT=OK");
        row("INPT 21, not in the list", "%1INPT 21", "00", "%1INPT=ERR2");
        row("INPT 12 in stand by", "%1INPT 12", "80", "CR0 -> %1INPT=ERR3");
        row("AVMT 11", "%1AVMT 11", "00", "CR0 C0D -> %1AVMT=OK");
        row("AVMT 10", "%1AVMT 10", "00", "CR0 C0E -> %1AVMT=OK");
        row("AVMT 21", "%1AVMT 21", "00", "CR0 C0B -> %1AVMT=OK");
        row("AVMT 20", "%1AVMT 20", "00", "CR0 C0C -> %1AVMT=OK");
        row("AVMT 31", "%1AVMT 31", "00", "CR0 C0D C0B -> %1AVMT=OK");
        row("AVMT 30", "%1AVMT 30", "00", "CR0 C0E C0C -> %1AVMT=OK");
        row("AVMT 12", "%1AVMT 12", "00", "%1AVMT=ERR2");
        row("AVMT 11 in stand by", "%1AVMT 11", "80", "CR0 -> %1AVMT=ERR3");
        row("AVMT ?", "%1AVMT ?", "00", "%1AVMT=30");
        row("ERST ? too hot", "%1ERST ?", "28", "CR0 -> %1ERST=002000");
        row("ERST ? power abnormality", "%1ERST ?", "10", "CR0 -> %1ERST=000002");
        row("ERST ? both", "%1ERST ?", "18", "CR0 -> %1ERST=002002");
        row("ERST ? all well", "%1ERST ?", "80", "CR0 -> %1ERST=000000");
        row("LAMP ?", "%1LAMP ?", "00", "CR3 CR7 -> %1LAMP=1200 1 1200 0 1200 0 1200 1");
        row("INST ?", "%1INST ?", "00", "%1INST=11 12 31 32");
        row("NAME ?", "%1NAME ?", "00", "%1NAME=Hall left");
        row("INF1 ?", "%1INF1 ?", "00", "%1INF1=vk9gate");
        row("INF2 ?", "%1INF2 ?", "00", "%1INF2=Model 7");
        row("INFO ?: the temperatures", "%1INFO ?", "00", "CR6 -> %1INFO=S1 41.5 C, S2 38.0 C");
        row("CLSS ?", "%1CLSS ?", "00", "%1CLSS=1");
        row("INST 1", "%1INST 1", "00", "%1INST=ERR2");
        row("an undefined command", "%1SNUM ?", "00", "%1SNUM=ERR1");
        row("another class", "%2POWR ?", "00", "%2POWR=ERR1");
        row("no parameter", "%1POWR", "00", "%1POWR=ERR2");
        row("no request at all", "HELLO WORLD", "00", "(closed)");
        row("a lower-case body", "%1powr ?", "00", "%1powr=ERR1");
        // clang-format on
    }

    void requests() {
        QFETCH(QByteArray, line);
        QFETCH(QString, cr0);
        QFETCH(QString, expected);
        std::map<std::string, std::string> replies{
            {"CR1", "3\r"}, {"CR3", "01200\r"}, {"CR6", "041.5, 38.0\r"}, {"CR7", "19\r"}};
        for (const char* op : {"C00", "C02", "C05", "C08", "C0B", "C0C", "C0D", "C0E"}) {
            replies[op] = "\x06\r";
        }
        if (cr0 != "-") {
            replies["CR0"] = cr0.toStdString() + "\r";
        }
        QCOMPARE(answerWith(line, replies), expected);
    }

    // Mutes are remembered from what was set through the gate; an operation that the
    // projector does not acknowledge is a failure.
    void mutesAndFailures() {
        const std::map<std::string, std::string> on{{"CR0", "00\r"}, {"C0D", "\x06\r"}};
        const auto muted = [](bool video, bool audio) {
            ProjectorState state;
            state.videoMuted = video;
            state.audioMuted = audio;
            return state;
        };
        QCOMPARE(answerWith("%1AVMT ?", on, muted(true, false)), QStringLiteral("%1AVMT=11"));
        QCOMPARE(answerWith("%1AVMT ?", on, muted(false, true)), QStringLiteral("%1AVMT=21"));
        QCOMPARE(answerWith("%1AVMT ?", on, muted(true, true)), QStringLiteral("%1AVMT=31"));
        QCOMPARE(answerWith("%1AVMT 31", on), QStringLiteral("CR0 C0D C0B -> %1AVMT=ERR4"));
        QCOMPARE(answerWith("%1POWR 1", {{"CR0", "80\r"}}),
                 QStringLiteral("CR0 C00 -> %1POWR=ERR4"));
    }

    // The digest: the published example, and a comparison that takes no shortcut.
    void passwords() {
        const std::string digest =
            QCryptographicHash::hash("a572f60cpassword", QCryptographicHash::Md5)
                .toHex()
                .toStdString();
        QCOMPARE(digest, std::string("e3d97429adffa11bce1f7275813d4bde"));
        QVERIFY(sameDigest("e3d97429adffa11bce1f7275813d4bde", digest));
        QVERIFY(!sameDigest("e3d97429adffa11bce1f7275813d4bdf", digest));
        QVERIFY(!sameDigest("e3d97429", digest));
        QVERIFY(!sameDigest("", digest));
    }

    // A connection as bytes: its greeting, its password, its lines, and what closes it.
    void sessions_data() {
        QTest::addColumn<bool>("password");
        QTest::addColumn<QByteArray>("bytes"); // '|' between pieces
        QTest::addColumn<QStringList>("seen"); // lines read, answers at once, the close
        const QByteArray digest = "e3d97429adffa11bce1f7275813d4bde";
        // clang-format off
        QTest::newRow("no password") << false << QByteArray("%1POWR ?\r%1CL|SS ?\r")
                                     << QStringList{"POWR ?", "CLSS ?"};
        QTest::newRow("a password") << true << digest + "%1POWR 1\r%1INPT ?\r" << QStringList{"POWR 1", "INPT ?"};
        QTest::newRow("a digest alone") << true << digest + "\r%1INPT ?\r" << QStringList{"INPT ?"};
        QTest::newRow("an empty line") << false << QByteArray("\r%1CLSS ?\r") << QStringList{"CLSS ?"};
        QTest::newRow("an empty line before the password") << true << "\r" + digest + "%1INPT ?\r" << QStringList{"INPT ?"};
        QTest::newRow("empty lines alone") << false << QByteArray("\r\r\r") << QStringList{};
        QTest::newRow("a wrong password") << true << QByteArray("00000000000000000000000000000000%1POWR 1\r")
                                          << QStringList{"PJLINK ERRA", "closed: wrong password"};
        QTest::newRow("no digest") << true << QByteArray("%1POWR 1\r")
                                   << QStringList{"PJLINK ERRA", "closed: wrong password"};
        QTest::newRow("CR LF") << false << QByteArray("%1POWR ?\r\n%1CLSS ?\r") << QStringList{"POWR ?", "CLSS ?"};
        QTest::newRow("a binary byte") << false << QByteArray("%1POWR ?\r%1PO\x01") << QStringList{"POWR ?", "closed: a byte that is not printable ASCII"};
        QTest::newRow("137 bytes") << false << "%1NAME " + QByteArray(130, 'x')
                                   << QStringList{"closed: a line longer than 136 bytes"};
        QTest::newRow("136 bytes") << false << "%1NAME " + QByteArray(129, 'x') + "\r"
                                   << QStringList{"NAME " + QString(129, 'x')};
        QTest::newRow("another class") << false << QByteArray("%2INPT ?\r") << QStringList{"%2INPT=ERR1"};
        QTest::newRow("no request") << false << QByteArray("GET / HTTP/1.0\r") << QStringList{"closed: not a PJLink request"};
        // clang-format on
    }

    void sessions() {
        QFETCH(bool, password);
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, seen);
        Session session(ms(0), password ? "a572f60c" : "", "e3d97429adffa11bce1f7275813d4bde");
        QCOMPARE(session.greeting(), std::string(password ? "PJLINK 1 a572f60c\r" : "PJLINK 0\r"));
        QStringList got;
        for (const QByteArray& piece : bytes.split('|')) {
            const Session::Fed fed = session.feed(ms(10), piece.toStdString());
            for (const Parsed& p : fed.lines) {
                got << (p.request ? QString::fromStdString(p.request->body + " " + p.request->param)
                                  : QString::fromStdString(p.answer));
            }
            if (!fed.answerNow.empty()) {
                got << QString::fromStdString(fed.answerNow);
            }
            if (!fed.close.empty()) {
                got << "closed: " + QString::fromStdString(fed.close);
                break;
            }
        }
        QCOMPARE(got, seen);
        // 30 s from the last request: an empty line, a digest alone or a wrong one is none
        const bool asked =
            bytes.contains('\r') && !bytes.startsWith("\r\r") && !got.contains("PJLINK ERRA");
        QCOMPARE(session.idleUntil(), ms(asked ? 10 : 0) + 30s);
    }

    // The link on the arbiter: a reading of the gate's less than 1 s old is used again; one of
    // the last 30 s while another client holds a button; no answer takes over 3.5 s; and a
    // projector that does not answer is answered ERR4, once found absent without a frame.
    void sharingTheLine() {
        Harness h;
        h.answers = {{"A001CR0", "00\r"}, {"A002C47", "\x06\r"}, {"A001C0D", "\x06\r"}};
        QStringList answers;
        WiredLink wired(h, answers);
        ProjectorLink& link = wired.link;
        const auto ask = [&](double at, const char* line) {
            h.run(ms(at));
            link.request(h.now, 1, parse(line));
            h.run(ms(at + 50));
        };
        ask(0, "%1POWR ?");
        ask(500, "%1POWR ?"); // fresh: no frame
        ask(1200, "%1POWR ?");
        QCOMPARE(answers, QStringList(3, "%1POWR=1"));
        QCOMPARE(int(std::count_if(h.written.begin(), h.written.end(),
                                   [](auto& w) { return w.second == "A001CR0"; })),
                 2);
        for (int tick = 0; tick < 400; ++tick) { // another client holds a button, 10 s
            h.submit(2000 + tick * 25, 2, "A002C47");
            if (tick == 200) {
                link.request(h.now, 1, parse("%1POWR ?")); // 5 s later: from the last read
            }
        }
        QCOMPARE(answers.last(), QStringLiteral("%1POWR=1"));
        QCOMPARE(h.written.back().second, std::string("A002C47"));
        ask(13000, "%1AVMT 11"); // the mutes the projector acknowledged
        ask(13100, "%1AVMT ?");
        QCOMPARE(answers.mid(answers.size() - 2), (QStringList{"%1AVMT=OK", "%1AVMT=11"}));
        // No reply: ERR4, twice; then the projector is absent, and answered with no frame.
        h.answers.clear();
        ask(20000, "%1INPT 31");
        ask(21000, "%1AVMT 31");
        h.run(ms(22600));
        const auto sent = h.written.size();
        ask(23000, "%1AVMT 31");
        QCOMPARE(answers.mid(answers.size() - 3),
                 (QStringList{"%1INPT=ERR4", "%1AVMT=ERR4", "%1AVMT=ERR4"}));
        QCOMPARE(h.written.size(), sent);
        h.submit(23100, 2, "A002C47"); // another client holds a button: still nothing of before
        h.submit(23150, 2, "A002C47");
        ask(23200, "%1POWR ?");
        QCOMPARE(answers.last(), QStringLiteral("%1POWR=ERR4"));
        // The line not to be had in time (another client's frame went unanswered, and the
        // line stays quiet 5 s after it): a mute that cannot go is ERR3, and nothing is sent.
        ArbiterSettings slow;
        slow.lateWindow = 5000ms;
        slow.maxWait = 5000ms;
        Harness quiet(slow);
        WiredLink other(quiet, answers);
        quiet.answers = {{"A001CR0", "00\r"}};
        other.link.request(quiet.now, 1, parse("%1POWR ?"));
        quiet.submit(100, 2, "A002CR0");
        quiet.run(ms(1500)); // the power read 1.5 s ago is asked again; the mute cannot go
        other.link.request(quiet.now, 1, parse("%1AVMT 21"));
        quiet.run(ms(1500 + 2999));
        QCOMPARE(answers.last(), QStringLiteral("%1POWR=1"));
        quiet.run(ms(1500 + 3000));
        QCOMPARE(answers.last(), QStringLiteral("%1AVMT=ERR3"));
        quiet.run(ms(9000));
        QCOMPARE(quiet.frames(), QStringLiteral("0.0 A001CR0, 100.0 A002CR0"));
        // A connection closes with its request waiting for the line: the next connection's
        // goes as soon as the line is free, not at its own deadline.
        Harness busy;
        WiredLink third(busy, answers);
        busy.answers = {{"A001CR3", "01200\r"}, {"A001CR7", "0F\r"}};
        busy.submit(0, 2, "A003CR0"); // unanswered: the line is quiet until 2000 ms
        third.link.request(busy.now, 1, parse("%1POWR ?"));
        third.link.request(busy.now, 2, parse("%1LAMP ?"));
        busy.run(ms(600)); // after A003CR0's window: nothing else is timed
        third.link.forget(busy.now, 1);
        busy.run(ms(2100));
        QCOMPARE(answers.last(), QStringLiteral("%1LAMP=1200 1 1200 1 1200 1 1200 1"));
    }

    // What the gate knows of a projector after another client's command was acknowledged:
    // its consequence, or nothing (asked again). PJLink answers from it.
    void afterAnotherClientsCommand_data() {
        QTest::addColumn<QString>("power"); // CR0 as last read
        QTest::addColumn<QString>("frame");
        QTest::addColumn<QString>("request");
        QTest::addColumn<QString>("answer"); // and the frames it took
        // clang-format off
        QTest::newRow("power off from on") << "00" << "A001C02" << "%1POWR ?" << "%1POWR=2";
        QTest::newRow("power on from stand-by, too hot") << "88" << "A001C00" << "%1POWR ?" << "%1POWR=3";
        QTest::newRow("power off in stand-by") << "80" << "A001C02" << "%1POWR ?" << "%1POWR=0";
        QTest::newRow("power on while cooling: asked") << "20" << "A001C00" << "%1POWR ?" << "A001CR0 %1POWR=1";
        QTest::newRow("power off, to every projector") << "00" << "AFFFC02" << "%1POWR ?" << "%1POWR=2";
        QTest::newRow("an input while on") << "00" << "A001C07" << "%1INPT ?" << "%1INPT=31";
        QTest::newRow("an input in stand-by: asked") << "80" << "A001C07" << "%1INPT ?" << "%1INPT=ERR3";
        QTest::newRow("no show") << "00" << "A001C0D" << "%1AVMT ?" << "%1AVMT=11";
        QTest::newRow("a lamp mode: its lamps asked") << "00" << "A001C71" << "%1LAMP ?" << "A001CR7 %1LAMP=1200 1 1200 0 1200 0 1200 1";
        QTest::newRow("another projector's") << "00" << "A002C02" << "%1POWR ?" << "%1POWR=1";
        // clang-format on
    }

    void afterAnotherClientsCommand() {
        QFETCH(QString, power);
        QFETCH(QString, frame);
        QFETCH(QString, request);
        QFETCH(QString, answer);
        Harness h;
        h.answers = {{"A001CR0", "00\r"},
                     {"A001CR1", "1\r"},
                     {"A001CR3", "01200\r"},
                     {"A001CR7", "19\r"},
                     {frame.toStdString(), "\x06\r"}};
        QStringList answers;
        WiredLink wired(h, answers);
        h.states.answered(h.now, "A001CR0\r", power.toStdString() + "\r");
        h.states.answered(h.now, "A001CR1\r", "1\r");
        h.states.answered(h.now, "A001CR3\r", "01200\r");
        h.states.answered(h.now, "A001CR7\r", "0F\r");
        h.submit(100, 2, frame.toStdString());
        h.run(ms(200));
        const auto before = h.written.size();
        wired.link.request(h.now, 1, parse(request.toStdString()));
        h.run(ms(300));
        QStringList took;
        for (auto w = h.written.begin() + std::ptrdiff_t(before); w != h.written.end(); ++w) {
            took << QString::fromStdString(w->second);
        }
        QCOMPARE((took << answers).join(' '), answer);
    }

    // Home Assistant's discovery of one projector's entities: what it reads of each kind.
    void discovery() {
        const mqtt::Device hallLeft{"vk9/vk9gate-hall", "vk9gate-hall", "001", "Hall left"};
        const auto config = [&](const char* key) {
            return QJsonDocument::fromJson(QByteArray::fromStdString(mqtt::discoveryConfig(
                                               *mqtt::findEntity(key), hallLeft)))
                .object();
        };
        QCOMPARE(QString::fromStdString(
                     mqtt::discoveryTopic("homeassistant", *mqtt::findEntity("power"), hallLeft)),
                 QStringLiteral("homeassistant/switch/vk9gate-hall_001/power/config"));
        const QJsonObject power = config("power");
        QCOMPARE(power["unique_id"].toString() + " " + power["command_topic"].toString() + " " +
                     power["state_topic"].toString() + " " +
                     power["availability"][1]["topic"].toString(),
                 QStringLiteral("vk9gate-hall_001_power vk9/vk9gate-hall/001/power/set "
                                "vk9/vk9gate-hall/001/power/state vk9/vk9gate-hall/001/status"));
        QCOMPARE(power["device"]["identifiers"][0].toString() + " " +
                     power["device"]["name"].toString(),
                 QStringLiteral("vk9gate-hall_001 Hall left"));
        const QJsonObject heat = config("temperature_s1");
        QCOMPARE(heat["unit_of_measurement"].toString(), QStringLiteral("°C"));
        QCOMPARE(heat["device_class"].toString(), QStringLiteral("temperature"));
        QVERIFY(!heat.contains("command_topic"));
        // Readings that are not controls are diagnostics; lamp hours only ever grow.
        QString shown;
        for (const char* key : {"power_state", "lamp_hours", "temperature_s1", "temperature_s2",
                                "picture_reversal", "power", "c01"}) {
            const QJsonObject c = config(key);
            shown += QStringLiteral("%1:%2:%3:%4 ")
                         .arg(key, c["entity_category"].toString(), c["state_class"].toString(),
                              c["name"].toString());
        }
        QCOMPARE(shown, QStringLiteral("power_state:::Power state lamp_hours:diagnostic:"
                                       "total_increasing:Lamp hours temperature_s1:diagnostic:"
                                       "measurement:Temperature S1 temperature_s2:diagnostic:"
                                       "measurement:Temperature S2 picture_reversal:diagnostic::"
                                       "Picture reversal power:::Power c01:::Function C01 "));
        QCOMPARE(config("input")["options"].toArray().size(), 4);
        QVERIFY(config("sound_mute")["optimistic"].toBool() &&
                !config("sound_mute").contains("state_topic"));
        QCOMPARE(config("menu_on")["payload_press"].toString(), QStringLiteral("PRESS"));
        QVERIFY(!config("menu_on").contains("optimistic"));
        QCOMPARE(config("lamp_mode")["json_attributes_topic"].toString(),
                 QStringLiteral("vk9/vk9gate-hall/001/lamp_mode/attributes"));
    }

    // MQTT: commands go before the polls waiting, in their order, each followed by the query
    // that reads it back, at most 16 frames waiting; when the power query goes unanswered the
    // rest of the poll is not asked, and once the projector is absent nothing is sent but its
    // probe.
    void mqttServiceOrder() {
        Harness h;
        h.answers = {{"A001CR0", "00\r"},   {"A001CR1", "3\r"},           {"A001CR3", "01200\r"},
                     {"A001CR4", "11\r"},   {"A001CR6", "041.5, 38.0\r"}, {"A001CR7", "0F\r"},
                     {"A001C00", "\x06\r"}, {"A001C07", "\x06\r"},        {"A001C0B", "\x06\r"}};
        QStringList events;
        mqtt::ProjectorService service(
            h.arbiter, "A001", "projector 001 (MQTT)",
            [&](const std::string& what) { events << QString::fromStdString(what); });
        QVERIFY(service.poll(h.now));
        service.command(h.now, *mqtt::findEntity("power"), "ON");
        service.command(h.now, *mqtt::findEntity("input"), "Input 3");
        for (int i = 0; i < 14; ++i) {
            service.command(h.now, *mqtt::findEntity("sound_mute"), "ON");
        }
        h.run(ms(6000));
        QCOMPARE(h.frames().remove(QRegularExpression("[\\d.]+ A001")),
                 "CR0, C00, CR0, C07, CR1, " + QString("C0B, ").repeated(12) +
                     "CR1, CR3, CR4, CR6, CR7");
        QCOMPARE(events.count("too many commands waiting: dropped C0B"), 2);
        const auto answering = std::exchange(h.answers, {});
        const auto pollsFrom = [&](int first, int count) {
            const auto before = h.written.size();
            for (int i = 0; i < count; ++i) {
                h.run(ms(first + i * 5000));
                service.poll(h.now);
            }
            h.run(ms(first + count * 5000));
            return int(h.written.size() - before);
        };
        QCOMPARE(pollsFrom(10000, 4), 2); // two power queries unanswered; then absent
        h.answers = answering;
        QCOMPARE(pollsFrom(30000, 1), 6); // its probe is answered: all its states at once
        h.arbiter.lineLost(h.now);
        h.states.lineLost();
        service.lineLost();
        QCOMPARE(pollsFrom(40000, 1), 6); // the line back: at its first poll
        h.answers["A002C47"] = "\x06\r";  // an operator holds a button while a poll runs
        const auto before = h.written.size();
        service.poll(h.now);
        h.submit(45000, 2, "A002C47");
        for (int tick = 0; tick < 20; ++tick) {
            h.submit(45001 + tick * 50, 2, "A002C47");
        }
        const auto polled = [&] {
            return std::count_if(h.written.begin() + std::ptrdiff_t(before), h.written.end(),
                                 [](auto& w) { return w.second.rfind("A001", 0) == 0; });
        };
        QCOMPARE(polled(), 1); // the rest of the poll waits for the hold to end
        h.run(ms(47000));
        service.poll(h.now);
        h.run(ms(48000));
        QCOMPARE(polled(), 7); // its rest, the new poll's power query first
    }
};

QTEST_APPLESS_MAIN(TstPjLink)
#include "tst_pjlink.moc"
