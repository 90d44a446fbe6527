#include "Gate.h"

#include "traffic/TrafficText.h"

namespace vk9::gate {

namespace {

using namespace std::chrono_literals;

// A client that does not read its replies is let go before its queue grows past this.
constexpr qint64 kMostUnread = 64 * 1024;
// The arbiter's clients that are the gate's own front ends: one for each PJLink projector,
// and one for each projector on MQTT.
constexpr ClientId kFirstFrontEnd = 0x80000000;
constexpr ClientId kFirstMqtt = 0x80001000;

std::string text(std::string_view bytes) {
    std::string out;
    for (const char c : bytes) {
        out += c == '\r'     ? std::string("<CR>")
               : c == '\x06' ? std::string("<ACK>")
                             : std::string(1, c);
    }
    return out;
}

} // namespace

Gate::Gate(GateConfig config, const Log& log)
    : m_config(std::move(config)), m_log(log),
      m_arbiter(*this, {500ms, m_config.lateWindow, m_config.maxWait, 8}),
      m_line(m_config.line, m_config.speed, log,
             {[this] { lineUp(); }, [this](const std::string& why) { lineDown(why); },
              [this](const std::string& why) {
                  m_log.say(Log::Error, "the line " + m_line.name() + " did not open: " + why);
                  m_fatal(3);
              },
              [this] { lineBytes(); }}) {
    m_clock.start();
    m_wake.setSingleShot(true);
    m_wake.setTimerType(Qt::PreciseTimer);
    connect(&m_wake, &QTimer::timeout, this, [this] {
        m_arbiter.wake(now());
        for (const auto& server : m_pjlink) {
            server->link().wake(now());
        }
        rearm();
    });
    connect(&m_server, &QTcpServer::newConnection, this, &Gate::accept);
    for (const ProjectorConfig& p : m_config.projectors) {
        if (p.pjlink) {
            m_pjlink.push_back(std::make_unique<PjLinkServer>(
                p, m_arbiter, kFirstFrontEnd + ClientId(m_pjlink.size()), m_log,
                [this] { return now(); }, [this] { rearm(); }));
        }
    }
    if (m_config.mqtt) {
        m_mqtt = std::make_unique<MqttBridge>(
            *m_config.mqtt, m_config.projectors, m_arbiter, kFirstMqtt, m_log,
            [this] { return now(); }, [this] { rearm(); });
    }
    if (!m_config.trafficLog.empty()) {
        m_traffic = std::make_unique<qt::TrafficLog>(QString::fromStdString(m_config.trafficLog),
                                                     "vk9gate", "the gate");
    }
}

Gate::~Gate() {
    stop();
}

Time Gate::now() const {
    return Time(m_clock.nsecsElapsed() / 1000);
}

// One timer for whatever the arbiter waits for next; none while nothing waits.
PjLinkServer* Gate::pjlinkOf(ClientId id) {
    const auto index = std::size_t(id - kFirstFrontEnd);
    return id >= kFirstFrontEnd && index < m_pjlink.size() ? m_pjlink[index].get() : nullptr;
}

std::string Gate::nameOf(ClientId id) const {
    if (const auto it = m_clients.find(id); it != m_clients.end()) {
        return it->second.name;
    }
    const auto pjlink = std::size_t(id - kFirstFrontEnd);
    if (id >= kFirstFrontEnd && pjlink < m_pjlink.size()) {
        return m_pjlink[pjlink]->title() + " (PJLink)";
    }
    const auto mqtt = std::size_t(id - kFirstMqtt);
    if (m_mqtt && id >= kFirstMqtt && mqtt < m_config.projectors.size()) {
        return m_config.projectors[mqtt].title() + " (MQTT)";
    }
    return "client " + std::to_string(id);
}

void Gate::rearm() {
    auto next = m_arbiter.nextWake();
    for (const auto& server : m_pjlink) {
        if (const auto wake = server->link().nextWake()) {
            next = next ? std::min(*next, *wake) : *wake;
        }
    }
    if (!next) {
        m_wake.stop();
        return;
    }
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(*next - now());
    m_wake.start(std::max(wait, 0ms));
}

void Gate::start(bool keepTrying, std::function<void(int)> fatal) {
    m_fatal = std::move(fatal);
    m_log.say(Log::Info, "serving the line " + m_line.name() + " on " + m_config.listen.text() +
                             (m_config.file.empty() ? "" : ", as " + m_config.file + " says"));
    m_line.start(keepTrying);
    if (m_mqtt) {
        m_mqtt->start(); // a broker that is not there stops nothing else
    }
    tellStatus();
}

void Gate::stop() {
    for (auto& [id, client] : std::exchange(m_clients, {})) {
        client.socket->abort();
        client.socket->deleteLater();
    }
    m_server.close();
    // The front ends let go first: told of their frames' ends, they must send nothing more.
    for (const auto& server : m_pjlink) {
        server->stop();
    }
    if (m_mqtt) {
        m_mqtt->lineDown();
        m_mqtt->stop();
    }
    m_arbiter.lineLost();
    m_wake.stop();
    m_line.stop();
    m_traffic.reset(); // written out
}

void Gate::reopenLogs() {
    if (m_traffic) {
        m_traffic->reopen();
        m_log.say(Log::Info, "the traffic log " + m_config.trafficLog + " is open again");
    }
}

std::string Gate::status() const {
    return m_line.state() +
           (m_server.isListening()
                ? "; " + std::to_string(m_clients.size()) + " client" +
                      (m_clients.size() == 1 ? "" : "s") + " on " + m_config.listen.text()
                : "; not listening");
}

void Gate::tellStatus() {
    if (m_statusChanged) {
        m_statusChanged(status());
    }
}

void Gate::lineUp() {
    if (!m_server.listen(QHostAddress(QString::fromStdString(m_config.listen.host == "localhost"
                                                                 ? "127.0.0.1"
                                                                 : m_config.listen.host)),
                         quint16(m_config.listen.port))) {
        m_log.say(Log::Error, "cannot listen on " + m_config.listen.text() + ": " +
                                  m_server.errorString().toStdString());
        m_fatal(4);
        return;
    }
    m_log.say(Log::Info, "listening on " + m_config.listen.text());
    for (const auto& server : m_pjlink) {
        if (!server->listen()) {
            m_fatal(4);
            return;
        }
    }
    if (m_mqtt) {
        m_mqtt->lineUp();
    }
    tellStatus();
}

void Gate::lineDown(const std::string& why) {
    // Every client sees the line go, and its own reconnection takes over.
    for (auto& [id, client] : std::exchange(m_clients, {})) {
        client.socket->disconnectFromHost();
        client.socket->deleteLater();
    }
    m_server.close();
    for (const auto& server : m_pjlink) { // its projector is unavailable, as PJLink shows it
        server->stop();
    }
    if (m_mqtt) {
        m_mqtt->lineDown();
    }
    m_arbiter.lineLost();
    rearm();
    m_log.say(Log::Info, "not listening until the line is back (" + why + ")");
    tellStatus();
}

void Gate::lineBytes() {
    const std::string bytes = m_line.port().readAll();
    if (m_traffic) {
        m_traffic->record(false, trafficText(bytes), {});
    }
    m_arbiter.received(now(), bytes);
    if (const auto late = m_arbiter.counts().lateReplies; late > m_lateTold) {
        m_lateTold = late;
        m_log.say(Log::Info, "a reply came after its window and was thrown away (" +
                                 std::to_string(late) + " so far)");
    }
    rearm();
}

void Gate::accept() {
    while (QTcpSocket* socket = m_server.nextPendingConnection()) {
        const std::string peer = socket->peerAddress().toString().toStdString() + ":" +
                                 std::to_string(socket->peerPort());
        if (int(m_clients.size()) >= m_config.maxClients) {
            m_log.say(Log::Warning, "turned away a client from " + peer + ": " +
                                        std::to_string(m_config.maxClients) + " are connected");
            socket->abort();
            socket->deleteLater();
            continue;
        }
        const ClientId id = ++m_lastId;
        socket->setParent(this);
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        m_clients.emplace(id,
                          Client{socket, {}, "client " + std::to_string(id) + " (" + peer + ")"});
        connect(socket, &QTcpSocket::readyRead, this, [this, id] { read(id); });
        // After the turn: a socket can say so inside a write, while the arbiter delivers.
        connect(
            socket, &QTcpSocket::disconnected, this, [this, id] { letGo(id, {}); },
            Qt::QueuedConnection);
        m_log.say(Log::Info, m_clients.at(id).name + " connected");
        tellStatus();
    }
}

void Gate::read(ClientId id) {
    const auto it = m_clients.find(id);
    if (it == m_clients.end()) {
        return;
    }
    const QByteArray bytes = it->second.socket->readAll();
    const FrameReader::Read read =
        it->second.reader.feed({bytes.constData(), std::size_t(bytes.size())});
    for (const std::string& frame : read.frames) {
        m_arbiter.submit(now(), id, frame);
    }
    if (read.wrong) {
        letGo(id, *read.wrong);
    }
    rearm();
}

void Gate::letGo(ClientId id, const std::string& why) {
    const auto it = m_clients.find(id);
    if (it == m_clients.end()) {
        return;
    }
    const Client client = it->second;
    m_clients.erase(it);
    m_log.say(why.empty() ? Log::Info : Log::Warning,
              client.name + (why.empty() ? " left" : ": " + why + "; let go"));
    client.socket->disconnect(this);
    client.socket->abort();
    client.socket->deleteLater();
    m_arbiter.leave(now(), id);
    rearm();
    tellStatus();
}

bool Gate::writeLine(ClientId client, std::string_view frame) {
    const SerialResult written = m_line.port().write(frame);
    if (m_traffic && written.ok) {
        m_traffic->record(true, trafficText(frame), nameOf(client));
    }
    return written.ok;
}

int Gate::lineSpeed() const {
    return m_line.port().lineSpeed();
}

std::size_t Gate::linePending() const {
    return m_line.port().pendingOutput();
}

bool Gate::lineSuspended() const {
    return m_line.port().suspended();
}

void Gate::deliver(ClientId id, std::string_view bytes) {
    const auto it = m_clients.find(id);
    if (it == m_clients.end()) {
        return;
    }
    QTcpSocket* socket = it->second.socket;
    socket->write(bytes.data(), qint64(bytes.size()));
    socket->flush();
    if (socket->bytesToWrite() > kMostUnread) {
        QMetaObject::invokeMethod(
            this, [this, id] { letGo(id, "does not read its replies"); }, Qt::QueuedConnection);
    }
}

void Gate::finished(ClientId id, std::string_view frame, Outcome outcome, std::string_view reply) {
    PjLinkServer* server = pjlinkOf(id);
    if (server != nullptr) {
        server->link().finished(now(), frame, outcome, reply);
    }
    if (auto* service = m_mqtt ? m_mqtt->serviceOf(id) : nullptr) {
        service->finished(now(), frame, outcome, reply);
    }
    if (!m_log.verbose()) {
        return;
    }
    static const char* const kOutcomes[] = {"answered",
                                            "unanswered",
                                            "dropped: it waited too long",
                                            "dropped: a copy of one waiting",
                                            "dropped: too many waiting",
                                            "lost with the line"};
    m_log.say(Log::Debug, nameOf(id) + ": " + text(frame) + " " + kOutcomes[int(outcome)] +
                              (reply.empty() ? "" : ": " + text(reply)));
}

} // namespace vk9::gate
