// vk9gate on a real Mosquitto broker, watched by a real client (mosquitto_sub, mosquitto_pub):
// Home Assistant's discovery, states that follow the simulator, commands that reach the line
// as their frames, payloads that send nothing, a broker that goes and comes back, the will of
// a gate that is killed, and a login refused.
#include "support/Broker.h"
#include "support/GateProcess.h"
#include "support/Simulator.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

using namespace vk9::test;

namespace {

// A gate on the simulator's line with two projectors, publishing to the broker.
struct Setup {
    Simulator sim{{"--warm-up", "2500", "--state", "1:power=on"}};
    QTemporaryDir dir;
    std::unique_ptr<GateProcess> gate;

    // `folder`: where the configuration is written, for a gate started again from its file.
    explicit Setup(const Broker& broker, const QByteArray& login = {}, bool both = true,
                   const QByteArray& clientId = "vk9gate-hall", const QString& folder = {})
        : Setup("127.0.0.1:" + QByteArray::number(broker.port), login, both, clientId, folder) {}
    explicit Setup(const QByteArray& brokerUrl, const QByteArray& login = {}, bool both = true,
                   const QByteArray& clientId = "vk9gate-hall", const QString& folder = {}) {
        QFile config((folder.isEmpty() ? dir.path() : folder) + "/hall.toml");
        config.open(QIODevice::WriteOnly);
        config.write("[line]\nport = \"" + sim.link.toUtf8() +
                     "\"\nlisten = \"127.0.0.1:%PORT\"\n"
                     "[[projector]]\naddress = \"001\"\nname = \"Hall left\"\n" +
                     (both ? "[[projector]]\naddress = \"002\"\nname = \"Hall right\"\n" : "") +
                     "[mqtt]\nbroker = \"" + brokerUrl + "\"\n" +
                     (clientId.isEmpty() ? "" : "client_id = \"" + clientId + "\"\n") +
                     "poll_seconds = 5\n" + login);
        config.close();
        gate = std::make_unique<GateProcess>(QStringList{"--config", config.fileName()});
    }
    // Retained states of a projector: key -> payload.
    std::map<QString, QByteArray> states(const Broker& broker, const char* node) const {
        std::map<QString, QByteArray> out;
        const QString base = QStringLiteral("vk9/vk9gate-hall/%1/").arg(node);
        for (const auto& [topic, payload] : broker.retained(base + "+/state")) {
            out[topic.mid(base.size()).chopped(6)] = payload;
        }
        return out;
    }
};

} // namespace

class TstMqtt : public QObject {
    Q_OBJECT
private slots:
    // Every entity of both projectors is announced, retained, as Home Assistant reads it,
    // and the states follow the simulator.
    void discoveryAndStates() {
        Broker broker;
        Setup s(broker);
        QTRY_COMPARE_WITH_TIMEOUT(broker.retained("homeassistant/#").size(), std::size_t(36), 5000);
        QMap<QString, int> kinds; // each entity's fields: in tst_pjlink
        for (const auto& [topic, payload] : broker.retained("homeassistant/#")) {
            QCOMPARE(QJsonDocument::fromJson(payload)["unique_id"].toString(),
                     topic.section('/', 2, 2) + "_" + topic.section('/', 3, 3));
            ++kinds[topic.section('/', 1, 1)];
        }
        QCOMPARE(kinds, (QMap<QString, int>{
                            {"button", 12}, {"select", 6}, {"sensor", 10}, {"switch", 8}}));
        const auto left = s.states(broker, "001");
        QCOMPARE(left.at("power"), QByteArray("ON"));
        QCOMPARE(left.at("power_state"), QByteArray("on"));
        QCOMPARE(left.at("input"), QByteArray("Input 1"));
        QCOMPARE(left.at("lamp_hours"), QByteArray("1200"));
        QCOMPARE(left.at("lamp_mode"), QByteArray("4 lamps"));
        QCOMPARE(left.at("temperature_s1"), QByteArray("41.5"));
        QCOMPARE(left.at("picture_reversal"), QByteArray("none"));
        QCOMPARE(broker.retained("vk9/vk9gate-hall/001/lamp_mode/attributes").begin()->second,
                 QByteArray("{\"lamps_lit\":[1,2,3,4]}"));
        QCOMPARE(s.states(broker, "002").at("power_state"), QByteArray("stand-by"));
        QCOMPARE(broker.retained("vk9/vk9gate-hall/+/status").size(), std::size_t(2));
        // Power on: warming up at once, on after the warm-up and the next poll, as a client
        // that stays subscribed hears it, however short the warm-up.
        QProcess watch;
        watch.start("mosquitto_sub", {"-p", QString::number(broker.port), "-t",
                                      "vk9/vk9gate-hall/002/power_state/state"});
        QByteArray heard;
        QTRY_VERIFY_WITH_TIMEOUT((heard += watch.readAllStandardOutput()).endsWith("stand-by\n"),
                                 5000);
        broker.publish("vk9/vk9gate-hall/002/power/set", "ON");
        QTRY_VERIFY2_WITH_TIMEOUT(
            (heard += watch.readAllStandardOutput()).contains("warming up\non\n"),
            heard.constData(), 12000);
        watch.kill();
        watch.waitForFinished();
        broker.publish("vk9/vk9gate-hall/001/input/set", "Input 3");
        QTRY_COMPARE_WITH_TIMEOUT(s.states(broker, "001").at("input"), QByteArray("Input 3"), 3000);
        // Another client of the gate switches 001 off: its state follows before any poll.
        QTcpSocket script;
        script.connectToHost(QHostAddress::LocalHost, quint16(s.gate->port));
        QVERIFY(script.waitForConnected(1000));
        script.write("A001C02\r");
        QTRY_COMPARE_WITH_TIMEOUT(s.states(broker, "001").at("power_state"),
                                  QByteArray("cooling down"), 1000);
        // Home Assistant starts again: it hears the configurations again.
        QProcess::execute("mosquitto_pub", {"-p", QString::number(broker.port), "-r", "-n", "-t",
                                            "homeassistant/switch/vk9gate-hall_001/power/config"});
        QCOMPARE(broker.retained("homeassistant/#").size(), std::size_t(35));
        broker.publish("homeassistant/status", "online");
        QTRY_COMPARE_WITH_TIMEOUT(broker.retained("homeassistant/#").size(), std::size_t(36), 3000);
    }

    // A command on each kind of entity reaches the line as its frame; a payload that is
    // not one of the entity's values sends nothing.
    void commandsReachTheLine() {
        Broker broker;
        Setup s(broker);
        QTRY_VERIFY_WITH_TIMEOUT(s.sim.log().contains("A002CR7"), 5000); // the first poll is done
        const QByteArray tooLong(100, 'O');
        const struct {
            const char* topic;
            const char* payload;
            const char* frame; // "": nothing
        } commands[] = {
            {"002/power/set", "ON", "A002C00"},
            {"001/power/set", "OFF", "A001C02"},
            {"001/input/set", "Input 4", "A001C08"},
            {"002/lamp_mode/set", "Lamps 2 and 3", "A002C72"},
            {"001/sound_mute/set", "ON", "A001C0B"},
            {"001/no_show/set", "OFF", "A001C0E"},
            {"002/freeze/set", "ON", "A002C43"},
            {"002/av_size/set", "Wide", "A002C10"},
            {"001/menu_on/set", "PRESS", "A001C1C"},
            {"001/p_timer/set", "PRESS", "A001C8A"},
            {"002/display_clear/set", "PRESS", "A002C1E"},
            {"002/c01/set", "PRESS", "A002C01"},
            {"001/input/set", "Input 7", ""},
            {"001/power/set", "on", ""},
            {"001/normal/set", "press", ""},
            {"001/lamp_hours/set", "5", ""},
            {"003/power/set", "ON", ""},
            {"001/power/set", tooLong.constData(), ""},
            {"001/input/set", "\x1b[2JInput 1", ""},
        };
        for (const auto& c : commands) {
            const int before = int(s.sim.log().count("\n"));
            broker.publish(QStringLiteral("vk9/vk9gate-hall/") + c.topic, c.payload);
            if (*c.frame != '\0') {
                QTRY_VERIFY2_WITH_TIMEOUT(s.sim.log().contains(" rx " + QByteArray(c.frame + 3, 1) +
                                                               " " + c.frame + "<0D>"),
                                          c.topic, 3000);
            } else {
                QTest::qWait(300);
                const QByteArray after = s.sim.log().split('\n').mid(before).join('\n');
                static const QRegularExpression kOperation(" rx \\S+ A00\\dC[0-9A-F]{2}<0D>");
                QVERIFY2(!QString::fromLatin1(after).contains(kOperation), c.topic); // polls aside
            }
        }
        QCOMPARE(s.gate->end(), 0);
        QVERIFY2(s.gate->said.contains("vk9/vk9gate-hall/001/input/set: \"Input 7\" is not one of "
                                       "its values; nothing sent"),
                 s.gate->said.constData());
        QVERIFY(s.gate->said.contains("\"<1B>[2JInput 1\" is not one of its values"));
        QVERIFY(s.gate->said.contains("mqtt: ignored a command too long"));
    }

    // The broker stops and starts again: the gate connects again by itself and publishes
    // everything again. Killed, the gate leaves its will: offline.
    void brokerAndGateGo() {
        Broker broker;
        Setup s(broker);
        QTRY_COMPARE_WITH_TIMEOUT(broker.retained("vk9/vk9gate-hall/status").size(), std::size_t(1),
                                  5000);
        broker.stop(); // it keeps nothing
        QVERIFY(broker.start());
        QTRY_COMPARE_WITH_TIMEOUT(broker.retained("homeassistant/#").size(), std::size_t(36),
                                  10000);
        QCOMPARE(broker.retained("vk9/vk9gate-hall/status").begin()->second, QByteArray("online"));
        QCOMPARE(s.states(broker, "001").at("power"), QByteArray("ON"));
        s.gate->process.kill();
        s.gate->process.waitForFinished(3000);
        QTRY_COMPARE_WITH_TIMEOUT(broker.retained("vk9/vk9gate-hall/status").begin()->second,
                                  QByteArray("offline"), 5000);
        // Started again without projector 002: its entities go. A command left retained is
        // not obeyed at the connection.
        broker.publish("vk9/vk9gate-hall/001/power/set", "OFF", true);
        Setup one(broker, {}, false, "vk9gate-hall", s.dir.path());
        QTRY_COMPARE_WITH_TIMEOUT(broker.retained("homeassistant/#").size(), std::size_t(18), 5000);
        const auto list =
            QJsonDocument::fromJson(broker.retained("vk9/vk9gate-hall/projectors").begin()->second);
        QCOMPARE(list["projectors"].toArray(), QJsonArray{"001"});
        QVERIFY(list["gate"].toString().endsWith(":" + s.dir.path() + "/hall.toml"));
        QVERIFY(broker.retained("vk9/vk9gate-hall/002/#").empty()); // states and status too
        QCOMPARE(one.gate->end(), 0);
        QTRY_VERIFY_WITH_TIMEOUT(broker.log().contains("Client vk9gate-hall disconnected."), 1000);
        QVERIFY2(!broker.log().contains("out of memory"), broker.log()); // left before its ack
        QVERIFY(one.gate->said.contains("power/set: ignored a retained command"));
        QVERIFY(!one.sim.log().contains("A001C02"));
    }

    // A login: refused once is told once, however often it is tried; accepted, published.
    void login() {
        Broker broker("hall", "right");
        QTemporaryDir dir;
        QFile secret(dir.filePath("mqtt.secret"));
        secret.open(QIODevice::WriteOnly);
        secret.write("wrong\n");
        secret.close();
        secret.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
        {
            Setup s(broker,
                    "user = \"hall\"\npassword_file = \"" + secret.fileName().toUtf8() + "\"\n");
            QTest::qWait(4000); // tried at 0, 1 and 3 s
            QCOMPARE(s.gate->end(), 0);
            QCOMPARE(s.gate->said.count("the broker refused the connection"), 1);
            QVERIFY(!s.gate->said.contains("lost the broker")); // it never had it
        }
        secret.open(QIODevice::WriteOnly);
        secret.write("right\n");
        secret.close();
        Setup s(broker,
                "user = \"hall\"\npassword_file = \"" + secret.fileName().toUtf8() + "\"\n");
        QTRY_VERIFY_WITH_TIMEOUT(s.gate->said.contains("mqtt: connected to the broker"), 5000);
    }

    // A broker that takes the connection and never answers: given up after 10 s, said once,
    // tried again; the line is served all along, and SIGTERM ends the gate at once.
    void silentBroker() {
        QTcpServer silent;
        QVERIFY(silent.listen(QHostAddress::LocalHost));
        int taken = 0; // connections, kept open and never answered
        connect(&silent, &QTcpServer::newConnection, [&] {
            while (silent.nextPendingConnection() != nullptr) {
                ++taken;
            }
        });
        Setup s("127.0.0.1:" + QByteArray::number(silent.serverPort()));
        QTcpSocket script;
        script.connectToHost(QHostAddress::LocalHost, quint16(s.gate->port));
        script.write("A002CR0\r");
        QByteArray got;
        QTRY_COMPARE_WITH_TIMEOUT((got += script.readAll()), QByteArray("80\r"), 3000);
        QTRY_VERIFY_WITH_TIMEOUT(s.gate->said.contains("did not answer"), 12000);
        QCOMPARE(s.gate->said.count("mqtt: the broker 127.0.0.1"), 1);
        QTRY_COMPARE_WITH_TIMEOUT(taken, 2, 3000); // tried again
        QCOMPARE(s.gate->end(), 0);
    }

    // TLS: a broker whose certificate the CA file vouches for is had; the system's CAs do
    // not vouch for it; a broker in plain text is told as one that does not speak TLS.
    void tls() {
        Broker secure({}, {}, true);
        Broker plain;
        const QByteArray ca = "ca_file = \"" + secure.dir.filePath("cert.pem").toUtf8() + "\"\n";
        const QByteArray url = "mqtts://127.0.0.1:" + QByteArray::number(secure.port);
        Setup vouched(url, ca);
        Setup unknown(url);
        Setup inPlainText(plain, ca);
        QTRY_VERIFY_WITH_TIMEOUT(vouched.gate->said.contains("mqtt: connected to the broker"),
                                 5000);
        QTRY_VERIFY2_WITH_TIMEOUT(unknown.gate->said.contains("was refused (not vouched for by the "
                                                              "system's CAs, or not made for "
                                                              "127.0.0.1): error:0A000086"),
                                  unknown.gate->said.constData(), 5000);
        QTRY_VERIFY2_WITH_TIMEOUT(inPlainText.gate->said.contains("does not speak TLS"),
                                  inPlainText.gate->said.constData(), 5000);
        QVERIFY(!unknown.gate->said.contains("connected to the broker"));
        QVERIFY(!inPlainText.gate->said.contains("connected to the broker"));
    }

    // Another client under the gate's client_id takes the session each time it connects:
    // the gate says so once, and waits longer each time, instead of filling the log.
    void anotherClientTakesTheSession() {
        Broker broker;
        Setup gate(broker, {}, false);
        QTRY_COMPARE_WITH_TIMEOUT(broker.retained("homeassistant/#").size(), std::size_t(18), 5000);
        QProcess other; // it connects again after 1 s, each time
        other.start("mosquitto_sub",
                    {"-p", QString::number(broker.port), "-i", "vk9gate-hall", "-t", "elsewhere"});
        QTRY_VERIFY_WITH_TIMEOUT(gate.gate->said.contains("is another client connected as "
                                                          "vk9gate-hall?"),
                                 8000);
        QTest::qWait(8000);
        other.kill();
        other.waitForFinished();
        QCOMPARE(gate.gate->said.count("another client"), 1);
        QCOMPARE(gate.gate->said.count("lost the broker"), 1);
    }

    // A second gate given the first one's client_id (a copied file) finds the first one's
    // list under its topics: it publishes nothing and leaves, and the first keeps all its
    // entities; so does a copy of the first one's computer. A gate without a client_id has one of
    // its own: the computer's and the file's names.
    void anotherGateUnderTheSameId() {
        Broker broker;
        Setup first(broker);
        QTRY_COMPARE_WITH_TIMEOUT(broker.retained("homeassistant/#").size(), std::size_t(36), 5000);
        Setup second(broker, {}, false); // only 001: it would take 002 down
        QTRY_VERIFY_WITH_TIMEOUT(second.gate->said.contains("mqtt: vk9/vk9gate-hall is published "
                                                            "by another gate"),
                                 5000);
        QTest::qWait(3000);
        QCOMPARE(broker.retained("homeassistant/#").size(), std::size_t(36));
        QCOMPARE(broker.retained("vk9/vk9gate-hall/status").begin()->second, QByteArray("online"));
        QCOMPARE(second.gate->end(), 0);
        // A copy of the first one's computer: the same name, file and id. One of the two
        // stops publishing and says so; the entities stay.
        Setup copy(broker, {}, true, "vk9gate-hall", first.dir.path());
        QTRY_VERIFY_WITH_TIMEOUT((first.gate->said + copy.gate->said).contains("by another gate"),
                                 10000);
        QTest::qWait(3000);
        QCOMPARE((first.gate->said + copy.gate->said).count("by another gate"), 1);
        QCOMPARE(broker.retained("homeassistant/#").size(), std::size_t(36));
        QCOMPARE(copy.gate->end(), 0);
        QCOMPARE(first.gate->end(), 0);
        Setup third(broker, {}, false, {});
        const QString own = "vk9/vk9gate-" + QSysInfo::machineHostName() + "-hall/status";
        QTRY_COMPARE_WITH_TIMEOUT(broker.retained(own).size(), std::size_t(1), 5000);
        QCOMPARE(broker.retained("homeassistant/#").size(), std::size_t(54));
    }
};

QTEST_GUILESS_MAIN(TstMqtt)
#include "tst_mqtt.moc"
