#include "MqttBridge.h"

#include "transport/Printable.h"

#include <mosquitto.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>
#include <random>
#include <sstream>
#include <string_view>

namespace vk9::gate {

namespace {

using namespace std::chrono_literals;

constexpr int kKeepAlive = 30; // s
constexpr auto kFirstWait = 1s;
constexpr auto kLongestWait = 30s;
constexpr auto kNoAnswer = 10s; // a broker that takes the connection and says nothing
constexpr auto kSteady = 60s;   // a connection that lasts this long: troubles told anew
constexpr auto kShortLived = 10s;
constexpr auto kBusyAgain = 2s; // a poll waiting for another client's hold
constexpr std::size_t kLongestTopic = 256;
constexpr std::size_t kLongestPayload = 64;  // of a command
constexpr std::size_t kLongestCopied = 1024; // of anything heard, the gate's list among them
const std::string kSystemCas = "/etc/ssl/certs";

} // namespace

MqttBridge::MqttBridge(const MqttConfig& config, const std::vector<ProjectorConfig>& projectors,
                       Arbiter& arbiter, const ProjectorStates& states, const Log& log,
                       std::function<Time()> clock, std::function<void()> changed)
    : m_config(config), m_log(log), m_clock(std::move(clock)), m_changed(std::move(changed)),
      m_states(states) {
    for (const ProjectorConfig& p : projectors) {
        const std::string node = p.address.empty() ? "single" : p.address;
        m_projectors.push_back(
            {{base(), m_config.clientId, node, p.name.empty() ? p.title() : p.name},
             p.prefix(),
             std::make_unique<mqtt::ProjectorService>(
                 arbiter, p.prefix(), p.title() + " (MQTT)",
                 [this, node](const std::string& what) {
                     m_log.say(Log::Warning, "mqtt: projector " + node + ": " + what);
                 },
                 [this] { // asked again once the hold is over
                     if (!m_retryPoll.isActive()) {
                         m_retryPoll.start(kBusyAgain);
                     }
                 })});
    }
    m_poll.setInterval(m_config.poll);
    connect(&m_poll, &QTimer::timeout, this, &MqttBridge::pollAll);
    m_retryPoll.setSingleShot(true);
    connect(&m_retryPoll, &QTimer::timeout, this, &MqttBridge::pollAll);
    m_inventoryWait.setSingleShot(true);
    connect(&m_inventoryWait, &QTimer::timeout, this, [this] { removeStale({}); });

    {
        std::random_device random; // this run, told apart from a copy of this computer's
        m_instance = std::to_string(random()) + std::to_string(random());
    }
    mosquitto_lib_init();
    m_mosq = mosquitto_new(m_config.clientId.c_str(), true, this);
    mosquitto_threaded_set(m_mosq, true); // published from the Qt thread, run by our own
    const std::string will = base() + "/status";
    mosquitto_will_set(m_mosq, will.c_str(), 7, "offline", 1, true);
    if (!m_config.user.empty()) {
        mosquitto_username_pw_set(m_mosq, m_config.user.c_str(),
                                  m_config.password.empty() ? nullptr : m_config.password.c_str());
    }
    if (m_config.tls &&
        mosquitto_tls_set(m_mosq, m_config.caFile.empty() ? nullptr : m_config.caFile.c_str(),
                          m_config.caFile.empty() ? kSystemCas.c_str() : nullptr, nullptr, nullptr,
                          nullptr) != MOSQ_ERR_SUCCESS) {
        m_unusable = "cannot use " + (m_config.caFile.empty() ? kSystemCas : m_config.caFile) +
                     " for TLS"; // never in plain text instead
    }
    for (const Projector& p : m_projectors) { // offline until it answers
        m_published[base() + "/" + p.device.node + "/status"] = "offline";
    }
    // Told on the connection's thread; handed to the Qt thread.
    mosquitto_connect_callback_set(m_mosq, [](mosquitto*, void* self, int rc) {
        auto* bridge = static_cast<MqttBridge*>(self);
        bridge->m_connected = rc == 0;
        bridge->m_answered = true;
        QMetaObject::invokeMethod(
            bridge, [bridge, rc] { rc == 0 ? bridge->connected() : bridge->refused(rc); },
            Qt::QueuedConnection);
    });
    mosquitto_disconnect_callback_set(m_mosq, [](mosquitto*, void* self, int rc) {
        auto* bridge = static_cast<MqttBridge*>(self);
        bridge->m_connected = false;
        QMetaObject::invokeMethod(
            bridge, [bridge, rc] { bridge->disconnected(rc); }, Qt::QueuedConnection);
    });
    mosquitto_publish_callback_set(m_mosq, [](mosquitto*, void* self, int mid) {
        auto* bridge = static_cast<MqttBridge*>(self);
        if (mid == bridge->m_offlineMid) {
            bridge->m_offlineAcked = true;
        }
    });
    // The TLS library's reason, told through the log on the connection's thread.
    mosquitto_log_callback_set(m_mosq, [](mosquitto*, void* self, int level, const char* text) {
        static constexpr std::string_view kTls = "OpenSSL Error[0]: ";
        if (level == MOSQ_LOG_ERR && std::string_view(text).starts_with(kTls)) {
            static_cast<MqttBridge*>(self)->m_tlsError = text + kTls.size();
        }
    });
    mosquitto_message_callback_set(m_mosq, [](mosquitto*, void* self, const mosquitto_message* m) {
        auto* bridge = static_cast<MqttBridge*>(self);
        // Nothing much longer than anything the gate reads is copied: a byte more is too long.
        std::string topic(m->topic, ::strnlen(m->topic, kLongestTopic + 1));
        std::string payload =
            m->payload == nullptr
                ? std::string()
                : std::string(static_cast<const char*>(m->payload),
                              std::min(std::size_t(m->payloadlen), kLongestCopied + 1));
        const bool retained = m->retain;
        QMetaObject::invokeMethod(
            bridge,
            [bridge, topic, payload, retained] { bridge->message(topic, payload, retained); },
            Qt::QueuedConnection);
    });
}

MqttBridge::~MqttBridge() {
    stop();
    mosquitto_destroy(m_mosq);
    mosquitto_lib_cleanup();
}

std::string MqttBridge::base() const {
    return m_config.baseTopic + "/" + m_config.clientId;
}

void MqttBridge::start() {
    if (!m_unusable.empty()) {
        m_log.say(Log::Error, "mqtt: " + m_unusable + "; not publishing");
        return;
    }
    m_log.say(Log::Info, "mqtt: publishing to " + m_config.host + ":" +
                             std::to_string(m_config.port) + " as " + m_config.clientId +
                             ", under " + base());
    m_thread = std::thread([this] { run(); });
    m_poll.start();
}

void MqttBridge::stop() {
    if (!m_thread.joinable()) {
        return;
    }
    m_poll.stop();
    if (m_connected) { // a clean disconnect sends no will: "offline" is said here
        const std::string topic = base() + "/status";
        int mid = 0;
        if (mosquitto_publish(m_mosq, &mid, topic.c_str(), 7, "offline", 1, true) ==
            MOSQ_ERR_SUCCESS) {
            m_offlineMid = mid;
        }
    }
    {
        const std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    m_thread.join();
}

void MqttBridge::wait(std::chrono::milliseconds span) {
    std::unique_lock lock(m_mutex);
    m_wake.wait_for(lock, span, [this] { return m_stopping.load(); });
}

// The connection's thread: connect, run, and connect again after a growing wait. The connects
// are the library's asynchronous ones and each turn of the loop lasts 100 ms, so that a stop is
// done within a second whatever the broker does. When connected, the disconnect waits for
// the broker to acknowledge "offline" (at most 700 ms): a broker told goodbye with that
// message still owed takes it for a lost client. A connection on its way is given up.
void MqttBridge::run() {
    using Clock = std::chrono::steady_clock;
    std::chrono::milliseconds waitFor = kFirstWait;
    bool linked = false;
    bool first = true;
    Clock::time_point since = Clock::now(); // of the connection on its way, or of the stop
    bool leaving = false;
    bool saidGoodbye = false;
    bool up = false;     // connected, as this thread last saw
    bool steady = false; // connected for kSteady
    Clock::time_point upSince;
    int shortOnes = 0; // connections in a row the broker closed soon after it took them
    while (true) {
        if (m_stopping) {
            if (!std::exchange(leaving, true)) {
                since = Clock::now();
            }
            const auto spent = Clock::now() - since;
            if (!linked || !m_connected || spent > 850ms) {
                break;
            }
            if (!saidGoodbye && (m_offlineAcked || spent > 700ms)) {
                mosquitto_disconnect(m_mosq);
                saidGoodbye = true;
            }
        }
        if (!linked) {
            const int rc = first ? mosquitto_connect_async(m_mosq, m_config.host.c_str(),
                                                           m_config.port, kKeepAlive)
                                 : mosquitto_reconnect_async(m_mosq);
            first = false;
            if (rc != MOSQ_ERR_SUCCESS) {
                notThere(rc);
                wait(waitFor);
                waitFor = std::min<std::chrono::milliseconds>(2 * waitFor, kLongestWait);
                continue;
            }
            linked = true;
            m_answered = false;
            since = Clock::now();
        }
        int rc = mosquitto_loop(m_mosq, 100, 1);
        const auto now = Clock::now();
        if (m_connected && !up) {
            up = true;
            upSince = now;
        } else if (up && !steady && now - upSince >= kSteady) {
            steady = true; // the wait starts short again, and troubles are told again
            waitFor = kFirstWait;
            shortOnes = 0;
            QMetaObject::invokeMethod(
                this, [this] { held(); }, Qt::QueuedConnection);
        } else if (!m_connected && !m_answered && rc == MOSQ_ERR_SUCCESS && !m_stopping &&
                   now - since > kNoAnswer) {
            rc = MOSQ_ERR_TIMEOUT; // the connection taken, and no answer to it
            mosquitto_disconnect(m_mosq);
        }
        if (rc != MOSQ_ERR_SUCCESS) {
            if (m_stopping) {
                break;
            }
            if (std::exchange(up, false) && !std::exchange(steady, false) &&
                now - upSince < kShortLived && ++shortOnes == 2) {
                QMetaObject::invokeMethod(
                    this, [this] { closedSoon(); }, Qt::QueuedConnection);
            } else if (!m_answered) {
                notThere(rc); // a refusal is told by itself
            }
            linked = false;
            m_connected = false;
            wait(waitFor);
            waitFor = std::min<std::chrono::milliseconds>(2 * waitFor, kLongestWait);
        }
    }
}

// Told once until the broker is had again (on the connection's thread: handed over).
void MqttBridge::notThere(int rc) {
    const int error = errno;
    const std::string vouching = m_config.caFile.empty() ? "the system's CAs" : m_config.caFile;
    const std::string tls = std::exchange(m_tlsError, {});
    const std::string why = rc == MOSQ_ERR_TIMEOUT ? "it took the connection and did not answer"
                            : rc != MOSQ_ERR_TLS
                                ? (rc == MOSQ_ERR_ERRNO ? std::string(std::strerror(error))
                                                        : std::string(mosquitto_strerror(rc)))
                            : tls.find("certificate verify failed") != std::string::npos
                                ? "its certificate was refused (not vouched for by " + vouching +
                                      ", or not made for " + m_config.host + "): " + tls
                            : tls.find("wrong version number") != std::string::npos ||
                                    tls.empty() || tls.find("unexpected eof") != std::string::npos
                                ? "it does not speak TLS on that port"
                                : "TLS: " + tls;
    QMetaObject::invokeMethod(
        this,
        [this, why] {
            trouble(Log::Warning, "the broker " + m_config.host + ":" +
                                      std::to_string(m_config.port) + " is not to be had (" + why +
                                      "); tried again until it is");
        },
        Qt::QueuedConnection);
}

void MqttBridge::connected() {
    if (!std::exchange(m_connectionTold, true)) { // the first, and the first after a trouble
        m_log.say(Log::Info, "mqtt: connected to the broker " + m_config.host + ":" +
                                 std::to_string(m_config.port));
    }
    m_up = true;
    m_inventoryRead = false;
    const std::string commands = base() + "/+/+/set";
    const std::string homeAssistant = m_config.discoveryPrefix + "/status";
    const std::string inventory = base() + "/projectors";
    mosquitto_subscribe(m_mosq, nullptr, commands.c_str(), 1);
    mosquitto_subscribe(m_mosq, nullptr, homeAssistant.c_str(), 1);
    mosquitto_subscribe(m_mosq, nullptr, inventory.c_str(), 1);
    m_inventoryWait.start(1s); // the retained list, if there is one, comes first
}

// The list is this gate's (or there is none): everything is published, again after each
// connection.
void MqttBridge::ready() {
    m_ready = true;
    publish(base() + "/status", "online");
    publishConfigs();
    for (const auto& [topic, payload] : m_published) {
        mosquitto_publish(m_mosq, nullptr, topic.c_str(), int(payload.size()), payload.data(), 1,
                          true);
    }
}

void MqttBridge::disconnected(int reason) {
    const bool wasUp = std::exchange(m_up, false);
    m_ready = false;
    m_inventoryWait.stop(); // read again at the next connection
    if (reason != 0 && wasUp) {
        trouble(Log::Warning, "lost the broker " + m_config.host + ":" +
                                  std::to_string(m_config.port) +
                                  "; trying again, with a growing wait");
    }
}

void MqttBridge::refused(int code) {
    trouble(Log::Error,
            "the broker refused the connection: " + std::string(mosquitto_connack_string(code)));
}

// Two connections in a row closed by the broker within seconds: most often a second client
// under the same client_id, each taking the session from the other.
void MqttBridge::closedSoon() {
    trouble(Log::Warning, "the broker closed the connection soon after taking it, twice; is "
                          "another client connected as " +
                              m_config.clientId +
                              "? Each gate needs a client_id of its own; tried again, with a "
                              "growing wait");
}

// A trouble is told once, until a connection has held for a minute: a broker going up and
// down, or two clients taking the session from each other, fill no log.
void MqttBridge::trouble(Log::Level level, const std::string& what) {
    if (m_told.insert(what).second) {
        m_log.say(level, "mqtt: " + what);
        m_connectionTold = false; // the next connection is told, to end the trouble
    }
}

void MqttBridge::held() {
    m_told.clear();
}

void MqttBridge::publish(const std::string& topic, const std::string& payload, bool retain) {
    if (retain) {
        const auto [it, fresh] = m_published.try_emplace(topic, payload);
        if (!fresh && it->second == payload) {
            return; // retained as it is already: said again only after a reconnection
        }
        it->second = payload;
    }
    if (m_ready && m_connected) {
        mosquitto_publish(m_mosq, nullptr, topic.c_str(), int(payload.size()), payload.data(), 1,
                          retain);
    }
}

void MqttBridge::publishConfigs() {
    for (const Projector& p : m_projectors) {
        for (const mqtt::EntityRow& row : mqtt::kEntities) {
            const std::string json = mqtt::discoveryConfig(row, p.device);
            const std::string topic = mqtt::discoveryTopic(m_config.discoveryPrefix, row, p.device);
            mosquitto_publish(m_mosq, nullptr, topic.c_str(), int(json.size()), json.data(), 1,
                              true);
        }
    }
}

// The list of projectors under BASE says which gate publishes there, and which projectors it
// published. Another gate's list: a second gate under the same client_id, which would take
// the first one's session and its projectors; this one leaves the broker and publishes
// nothing. This gate's list: the projectors no longer configured are taken down, their
// discovery, states and availability (empty retained payloads), and the list written anew.
void MqttBridge::removeStale(const std::string& inventory) {
    if (std::exchange(m_inventoryRead, true)) {
        return;
    }
    m_inventoryWait.stop();
    const std::string topic = base() + "/projectors";
    std::vector<std::string> before;
    std::string owner = m_config.gate;
    if (!inventory.empty() && inventory.front() == '{') {
        const QJsonObject list =
            QJsonDocument::fromJson(QByteArray::fromStdString(inventory)).object();
        owner = list["gate"].toString().toStdString();
        const std::string instance = list["instance"].toString().toStdString();
        if (m_listed && owner == m_config.gate && instance != m_instance) {
            anotherGate(owner + ", a copy of this one"); // it wrote while this one was away
            return;
        }
        for (const QJsonValue node : list["projectors"].toArray()) {
            before.push_back(node.toString().toStdString());
        }
    } else { // as the first versions wrote it: "001 002"
        std::istringstream words(inventory);
        for (std::string node; words >> node;) {
            before.push_back(node);
        }
    }
    if (owner != m_config.gate) {
        anotherGate(owner);
        return;
    }
    QJsonArray now;
    for (const Projector& p : m_projectors) {
        now.append(QString::fromStdString(p.device.node));
    }
    for (const std::string& node : before) {
        if (std::any_of(m_projectors.begin(), m_projectors.end(),
                        [&](const Projector& p) { return p.device.node == node; }) ||
            node.empty() || node.size() > 8 || !allPrintable(node) ||
            node.find_first_of("/+#") != std::string::npos) {
            continue;
        }
        m_log.say(Log::Info, "mqtt: projector " + node + " is no longer here: its entities go");
        const mqtt::Device gone{base(), m_config.clientId, node, {}};
        std::vector<std::string> topics{base() + "/" + node + "/status",
                                        base() + "/" + node + "/lamp_mode/attributes"};
        for (const mqtt::EntityRow& row : mqtt::kEntities) {
            topics.push_back(mqtt::discoveryTopic(m_config.discoveryPrefix, row, gone));
            if (!row.stateFrom.empty()) {
                topics.push_back(base() + "/" + node + "/" + std::string(row.key) + "/state");
            }
        }
        for (const std::string& each : topics) {
            mosquitto_publish(m_mosq, nullptr, each.c_str(), 0, nullptr, 1, true);
        }
    }
    m_published[topic] = QJsonDocument(QJsonObject{{"gate", QString::fromStdString(m_config.gate)},
                                                   {"instance", QString::fromStdString(m_instance)},
                                                   {"projectors", now}})
                             .toJson(QJsonDocument::Compact)
                             .toStdString();
    m_listed = true;
    ready();
}

// Another gate publishes under this one's topics (two gates given one client_id, or a copy
// of this computer): this one publishes nothing more, clears nothing, and says so once.
void MqttBridge::anotherGate(const std::string& who) {
    m_log.say(Log::Error,
              "mqtt: " + base() + " is published by another gate, " + shownBytes(who) +
                  ": this one publishes nothing and leaves the broker. Give each gate a "
                  "client_id of its own (leave it out: each has one by default); if that "
                  "gate is gone for good, clear its list: mosquitto_pub -r -n -t " +
                  base() + "/projectors");
    m_ready = false;
    leave();
}

// Leaves the broker for good, while the rest of the gate goes on.
void MqttBridge::leave() {
    m_poll.stop();
    m_offlineAcked = true; // nothing owed: the disconnect goes at once
    {
        const std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
}

void MqttBridge::message(const std::string& topic, const std::string& payload, bool retained) {
    if (topic == m_config.discoveryPrefix + "/status") {
        if (payload == "online") { // Home Assistant has started: it hears the configurations
            publishConfigs();
        }
        return;
    }
    if (topic == base() + "/projectors") {
        if (!m_inventoryRead && retained) {
            removeStale(payload);
        } else if (m_ready && !payload.empty() && payload.size() <= kLongestCopied &&
                   payload != m_published[topic]) {
            anotherGate(QJsonDocument::fromJson(QByteArray::fromStdString(payload))["gate"]
                            .toString()
                            .toStdString() +
                        ", publishing at the same time");
        }
        return;
    }
    // BASE/NODE/KEY/set
    const std::string prefix = base() + "/";
    if (topic.size() > kLongestTopic || payload.size() > kLongestPayload ||
        topic.rfind(prefix, 0) != 0) {
        m_log.say(Log::Warning, "mqtt: ignored a command too long for any entity on " +
                                    shownBytes(topic.substr(0, kLongestTopic)));
        return;
    }
    if (retained) { // it would be obeyed again at every connection
        m_log.say(Log::Warning, "mqtt: " + shownBytes(topic) +
                                    ": ignored a retained command; publish commands without "
                                    "the retain flag");
        return;
    }
    const std::string rest = topic.substr(prefix.size());
    const auto slash = rest.find('/');
    const auto setAt = rest.rfind("/set");
    const std::string node = rest.substr(0, slash);
    const std::string key =
        slash == std::string::npos || setAt == std::string::npos || setAt <= slash
            ? std::string()
            : rest.substr(slash + 1, setAt - slash - 1);
    const auto projector = std::find_if(m_projectors.begin(), m_projectors.end(),
                                        [&](const Projector& p) { return p.device.node == node; });
    const mqtt::EntityRow* row = mqtt::findEntity(key);
    if (projector == m_projectors.end() || row == nullptr || row->kind == mqtt::Kind::Sensor) {
        m_log.say(Log::Warning, "mqtt: " + shownBytes(topic) + ": no entity takes commands there");
        return;
    }
    if (!m_lineUp || !projector->service->command(m_clock(), *row, payload)) {
        m_log.say(Log::Warning,
                  "mqtt: " + shownBytes(topic) + ": \"" + shownBytes(payload) + "\" " +
                      (m_lineUp ? "is not one of its values" : "while the line is down") +
                      "; nothing sent");
        return;
    }
    m_changed();
}

void MqttBridge::pollAll() {
    if (!m_lineUp) {
        return;
    }
    bool busy = false;
    for (Projector& p : m_projectors) {
        busy = !p.service->poll(m_clock()) || busy;
    }
    if (busy) {
        m_retryPoll.start(kBusyAgain); // an operator's hold: a moment later
    }
    m_changed();
}

void MqttBridge::lineUp() {
    m_lineUp = true;
    pollAll();
}

void MqttBridge::lineDown() {
    m_lineUp = false;
    for (Projector& p : m_projectors) {
        p.service->lineLost();
        p.absent = false; // all is read again once the line is back
        publish(base() + "/" + p.device.node + "/status", "offline");
    }
}

// The gate's state of a projector changed (from any client's frames): its new states, or
// whether it answers. A reading forgotten is read again at the next poll.
void MqttBridge::stateChanged(std::string_view prefix, std::string_view code) {
    const auto p = std::find_if(m_projectors.begin(), m_projectors.end(),
                                [&](const Projector& each) { return each.prefix == prefix; });
    const ProjectorState* state = m_states.find(prefix);
    if (p == m_projectors.end() || state == nullptr) {
        return;
    }
    const std::string node = base() + "/" + p->device.node;
    if (code.empty()) {
        publish(node + "/status", state->answers == true ? "online" : "offline");
        if (state->answers == true && std::exchange(p->absent, false) && m_lineUp) {
            // Back: all its states, once this turn of the arbiter's is over.
            QMetaObject::invokeMethod(
                this,
                [this, service = p->service.get()] {
                    service->poll(m_clock());
                    m_changed();
                },
                Qt::QueuedConnection);
        }
        p->absent = state->answers == false;
        return;
    }
    const auto reading = state->readings.find(code);
    if (reading == state->readings.end()) {
        return;
    }
    for (const auto& [key, payload] : mqtt::statesOf(code, reading->second.reply)) {
        const bool attributes = key.find('/') != std::string::npos;
        publish(node + "/" + key + (attributes ? "" : "/state"), payload);
    }
}

} // namespace vk9::gate
