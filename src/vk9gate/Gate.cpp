#include "Gate.h"

#include "Sockets.h"

#include "WebListener.h"
#include "traffic/TrafficText.h"
#include "transport/Printable.h"

#include <QHttpServerRequest>
#include <QSysInfo>

namespace vk9::gate {

namespace {

using namespace std::chrono_literals;

// Replies thrown away are logged with their count, at most this often.
constexpr auto kThrownAwayEvery = 60s;
constexpr auto kListenAgain = 5s; // a listening address that another program holds

const char* const kOutcomes[] = {"answered",
                                 "unanswered",
                                 "not sent: its projector does not answer",
                                 "not sent: it waited too long for the line",
                                 "not sent: a copy of one waiting",
                                 "not sent: too many waiting",
                                 "lost with the line"};

// This gate, as the web panel names it: its computer, and its file's stem.
std::string gateName(const GateConfig& config) {
    std::string name = QSysInfo::machineHostName().toStdString();
    if (!config.file.empty()) {
        std::string stem = config.file.substr(config.file.rfind('/') + 1);
        name += ":" + stem.substr(0, stem.rfind(".toml"));
    }
    return name;
}

// The projectors a page may choose: those configured, or else every address the line takes.
std::vector<web::Choice> choices(const GateConfig& config) {
    std::vector<web::Choice> all;
    for (const ProjectorConfig& p : config.projectors) {
        all.push_back({p.address, p.name.empty() ? p.title() : p.name});
    }
    if (all.empty()) {
        all = {{"", "SINGLE"}, {"001", "001"}, {"002", "002"}, {"003", "003"}, {"004", "004"}};
    }
    return all;
}

} // namespace

Gate::Gate(GateConfig config, const Log& log)
    : m_config(std::move(config)), m_log(log),
      m_arbiter(*this, *this,
                {500ms, m_config.lateWindow, m_config.maxWait, m_config.probe,
                 ArbiterSettings{}.maxQueued}),
      m_line(m_config.line, m_config.speed, log,
             {[this] { lineUp(); }, [this](const std::string& why) { lineDown(why); },
              [this](const std::string& why) {
                  m_log.say(Log::Error, "the line " + m_line.name() + " did not open: " + why);
                  m_fatal(3);
              },
              [this] { lineBytes(); }}),
      m_outsiders(log,
                  [](std::uint64_t n, const std::string& peer) {
                      return n == 1 ? "turned away a client not in line.allow, from " + peer
                                    : "turned away " + std::to_string(n) +
                                          " more clients not in line.allow in the last minute, "
                                          "the last from " +
                                          peer;
                  }),
      m_overflow(log, [this](std::uint64_t n, const std::string& peer) {
          const std::string full = std::to_string(m_config.maxClients) + " are connected";
          return n == 1
                     ? "turned away a client from " + peer + ": " + full
                     : "turned away " + std::to_string(n) + " more clients in the last minute (" +
                           full + "), the last from " + peer;
      }) {
    m_clock.start();
    m_wake.setSingleShot(true);
    m_wake.setTimerType(Qt::PreciseTimer);
    connect(&m_wake, &QTimer::timeout, this, [this] {
        m_arbiter.wake(now());
        for (const auto& server : m_pjlink) {
            server->link().wake(now());
        }
        if (m_web) {
            m_web->wake(now());
        }
        rearm();
    });
    connect(&m_server, &QTcpServer::newConnection, this, &Gate::accept);
    m_listenAgain.setSingleShot(true);
    connect(&m_listenAgain, &QTimer::timeout, this, [this] {
        listen(false);
        tellStatus();
    });
    for (const std::string& subnet : m_config.allow) {
        auto [address, length] = QHostAddress::parseSubnet(QString::fromStdString(subnet));
        bool v4 = false; // "::ffff:192.0.2.0/120" is 192.0.2.0/24, as peers are compared
        if (const quint32 mapped = address.toIPv4Address(&v4); v4 && length >= 96) {
            address = QHostAddress(mapped);
            length -= 96;
        }
        m_allowed.emplace_back(address, length);
    }
    const auto clock = [this] { return now(); };
    const auto changed = [this] { rearm(); };
    for (const ProjectorConfig& p : m_config.projectors) {
        if (p.pjlink) {
            m_pjlink.push_back(
                std::make_unique<PjLinkServer>(p, m_arbiter, m_states, m_log, clock, changed));
        }
    }
    if (m_config.mqtt) {
        m_mqtt = std::make_unique<MqttBridge>(*m_config.mqtt, m_config.projectors, m_arbiter,
                                              m_states, m_log, clock, changed);
    }
    if (m_config.web) {
        m_web = std::make_unique<WebServer>(*m_config.web, gateName(m_config), choices(m_config),
                                            m_arbiter, m_states, m_log, clock, changed);
        m_web->serveMetrics([this](const QHostAddress& peer) { return scrape(peer); });
    }
    m_states.onChange([this](std::string_view prefix, std::string_view code) {
        if (m_mqtt) {
            m_mqtt->stateChanged(prefix, code);
        }
        if (m_web) {
            m_web->stateChanged(prefix, code);
        }
    });
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

// One timer for whatever the arbiter and the PJLink services wait for next; none while
// nothing waits.
void Gate::rearm() {
    auto next = m_arbiter.nextWake();
    for (const auto& server : m_pjlink) {
        if (const auto wake = server->link().nextWake()) {
            next = next ? std::min(*next, *wake) : *wake;
        }
    }
    if (const auto wake = m_web ? m_web->nextWake() : std::nullopt) {
        next = next ? std::min(*next, *wake) : *wake;
    }
    if (!next) {
        m_wake.stop();
        return;
    }
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(*next - now());
    m_wake.start(std::max(wait, 0ms));
}

std::string Gate::titleOf(std::string_view prefix) const {
    for (const ProjectorConfig& p : m_config.projectors) {
        if (p.prefix() == prefix) {
            return p.title();
        }
    }
    return prefix.empty() ? "the projector without an address"
                          : "projector " + std::string(prefix.substr(1));
}

void Gate::start(bool keepTrying, std::function<void(int)> fatal, std::function<void()> ready) {
    m_fatal = std::move(fatal);
    m_ready = std::move(ready);
    m_keepTrying = keepTrying;
    m_log.say(Log::Info, "serving the line " + m_line.name() + " on " + m_config.listen.text() +
                             (m_config.file.empty() ? "" : ", as " + m_config.file + " says"));
    // The web panel and /metrics are served while the line is down too, so that a page and
    // Prometheus can say so; the share port and PJLink listen once the line is open.
    if (!listen(!keepTrying)) {
        m_failed = true; // nothing more is tried
        return;
    }
    m_line.start(keepTrying);
    if (m_mqtt) {
        m_mqtt->start(); // a broker that is not there stops nothing else
    }
    tellStatus();
    if (keepTrying && m_ready) { // the line may have opened already, and told it
        std::exchange(m_ready, nullptr)();
    }
}

void Gate::stop() {
    for (auto& [id, session] : std::exchange(m_sessions, {})) { // each leaves the arbiter
        session->socket()->disconnect(this);
        session->socket()->abort();
    }
    m_server.close();
    if (m_web) {
        m_web->close();
    }
    // The front ends let go first: told of their frames' ends, they must send nothing more.
    for (const auto& server : m_pjlink) {
        server->stop();
    }
    if (m_mqtt) {
        m_mqtt->lineDown();
        m_mqtt->stop();
    }
    m_arbiter.lineLost(now());
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
                ? "; " + std::to_string(m_sessions.size()) + " client" +
                      (m_sessions.size() == 1 ? "" : "s") + " on " + m_config.listen.text()
                : "; not listening");
}

void Gate::tellStatus() {
    if (std::string now = status(); m_statusChanged && now != m_toldStatus) {
        m_statusChanged(now);
        m_toldStatus = std::move(now);
    }
}

// Every listener that is not listening yet. One that cannot be had ends the gate at its first
// start (exit status 4), unless it keeps trying; otherwise it is tried again every few
// seconds, told once, while the rest serves.
bool Gate::listen(bool mayEnd) {
    std::vector<std::string> failures;
    if (m_lineUp && !m_server.isListening()) {
        if (listenOn(m_server, m_config.listen)) {
            m_log.say(Log::Info, "listening on " + m_config.listen.text());
        } else {
            failures.push_back("cannot listen on " + m_config.listen.text() + ": " +
                               m_server.errorString().toStdString());
        }
    }
    for (const auto& server : m_pjlink) {
        if (!m_lineUp) {
            break;
        }
        if (std::string why = server->listen(); !why.empty()) {
            failures.push_back(std::move(why));
        }
    }
    if (m_web) {
        if (std::string why = m_web->listen(); !why.empty()) {
            failures.push_back(std::move(why));
        }
    }
    if (m_config.metrics && !m_metricsHttp) {
        if (std::string why = serveMetrics(); !why.empty()) {
            failures.push_back(std::move(why));
        }
    }
    for (const std::string& why : failures) {
        if (mayEnd) {
            m_log.say(Log::Error, why);
        } else if (m_listenFailures.insert(why).second) {
            m_log.say(Log::Error,
                      why + "; tried again every " + std::to_string(kListenAgain.count()) + " s");
        }
    }
    if (!failures.empty() && mayEnd) {
        m_fatal(4);
        return false;
    }
    if (failures.empty()) {
        m_listenFailures.clear();
    } else {
        m_listenAgain.start(kListenAgain);
    }
    return true;
}

void Gate::lineUp() {
    if (m_failed) {
        return;
    }
    const bool first = !std::exchange(m_wasUp, true);
    m_lineUp = true;
    if (!listen(first && !m_keepTrying)) {
        return;
    }
    if (m_ready) {
        std::exchange(m_ready, nullptr)();
    }
    if (m_mqtt) {
        m_mqtt->lineUp();
    }
    if (m_web) {
        m_web->lineState("up");
    }
    tellStatus();
}

void Gate::lineDown(const std::string& why) {
    m_lineUp = false;
    if ((!m_web || m_web->listening()) && (!m_config.metrics || m_metricsHttp)) {
        m_listenAgain.stop();
    }
    m_server.close();
    for (const auto& server : m_pjlink) { // its projector is unavailable, as PJLink shows it
        server->stop();
    }
    if (m_mqtt) {
        m_mqtt->lineDown();
    }
    if (m_web) {
        m_web->lineState("lost", why);
    }
    m_arbiter.lineLost(now()); // a tickets client hears each frame lost
    // Every client sees the line go, and its own reconnection takes over.
    for (auto& [id, session] : std::exchange(m_sessions, {})) {
        session->socket()->disconnect(this);
        session->socket()->disconnectFromHost(); // once what was written has gone
    }
    m_states.lineLost();
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
    rearm();
}

void Gate::accept() {
    while (QTcpSocket* socket = m_server.nextPendingConnection()) {
        const QHostAddress peer = peerAddress(*socket);
        if (!m_allowed.empty() && std::none_of(m_allowed.begin(), m_allowed.end(),
                                               [&](auto& s) { return peer.isInSubnet(s); })) {
            m_outsiders.add(peerOf(*socket));
            turnAway(*socket, peer.toString().toStdString() + " may not connect: it is not in "
                                                              "line.allow");
            continue;
        }
        if (int(m_sessions.size()) >= m_config.maxClients) {
            m_overflow.add(peerOf(*socket));
            turnAway(*socket, std::to_string(m_config.maxClients) +
                                  " clients are connected, the most this gate takes");
            continue;
        }
        const std::uint32_t id = ++m_lastId;
        socket->setParent(this);
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        auto session = std::make_unique<ShareSession>(
            socket, id, m_arbiter, m_log, [this] { return now(); },
            [this, id](const std::string& why) { // never inside the session's own call
                QMetaObject::invokeMethod(
                    this, [this, id, why] { letGo(id, why); }, Qt::QueuedConnection);
            });
        connect(socket, &QTcpSocket::readyRead, this, [this, id] {
            if (const auto it = m_sessions.find(id); it != m_sessions.end()) {
                it->second->read();
                rearm();
            }
        });
        // After the turn: a socket can say so inside a write, while the arbiter delivers.
        connect(
            socket, &QTcpSocket::disconnected, this, [this, id] { letGo(id, {}); },
            Qt::QueuedConnection);
        m_log.say(Log::Debug, session->name() + " connected"); // a script's every run

        m_sessions.emplace(id, std::move(session));
        tellStatus();
    }
}

void Gate::letGo(std::uint32_t id, const std::string& why) {
    const auto it = m_sessions.find(id);
    if (it == m_sessions.end()) {
        return;
    }
    const std::unique_ptr<ShareSession> session = std::move(it->second);
    m_sessions.erase(it);
    m_log.say(why.empty() ? Log::Debug : Log::Warning,
              session->name() + (why.empty() ? " left" : ": " + why + "; let go"));
    session->socket()->disconnect(this);
    session->socket()->abort();
    rearm();
    tellStatus();
}

bool Gate::write(std::string_view frame, const Client& by) {
    const SerialResult written = m_line.port().write(frame);
    if (m_traffic && written.ok) {
        m_traffic->record(true, trafficText(frame), by.name());
    }
    return written.ok;
}

int Gate::speed() const {
    return m_line.port().lineSpeed();
}

std::size_t Gate::pending() const {
    return m_line.port().pendingOutput();
}

bool Gate::suspended() const {
    return m_line.port().suspended();
}

void Gate::answered(Time now, std::string_view frame, std::string_view reply) {
    m_states.answered(now, frame, reply);
}

void Gate::thrownAway(Time now, std::string_view reply) {
    if (now - m_thrownAwayToldAt >= kThrownAwayEvery) { // the line's speed may be wrong
        m_log.say(Log::Warning, "a reply came late, or fitted no frame, and was thrown away: \"" +
                                    shownBytes(reply) + "\" (" +
                                    std::to_string(m_arbiter.counts().thrownAway) + " so far)");
        m_thrownAwayToldAt = now;
    }
}

void Gate::presence(Time, std::string_view prefix, bool answers) {
    m_states.presence(prefix, answers);
    m_log.say(answers ? Log::Info : Log::Warning,
              titleOf(prefix) +
                  (answers ? " answers again"
                           : " stopped answering: its frames end at once, unsent, but for a try "
                             "every " +
                                 std::to_string(m_config.probe.count()) + " s"));
}

GateSnapshot Gate::snapshot() const {
    GateSnapshot s;
    s.lineUp = m_lineUp;
    s.frames = m_arbiter.counts();
    s.shareClients = m_sessions.size();
    s.webPages = m_web ? m_web->pages() : 0;
    for (const auto& server : m_pjlink) {
        s.pjlinkClients += server->connections();
        s.pjlinkConnections += server->taken();
        s.pjlinkWrongPasswords += server->wrongPasswords();
    }
    if (m_mqtt) {
        s.mqttConnected = m_mqtt->isConnected();
    }
    for (const ProjectorConfig& p : m_config.projectors) {
        s.projectors.push_back({p.address, p.name, m_states.find(p.prefix())});
    }
    s.now = now();
    s.unixSeconds =
        std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    return s;
}

// Beyond loopback, /metrics is for the addresses the share port takes.
std::optional<std::string> Gate::scrape(const QHostAddress& peer) const {
    bool v4 = false;
    const quint32 mapped = peer.toIPv4Address(&v4);
    const QHostAddress who = v4 ? QHostAddress(mapped) : peer;
    const bool allowed =
        who.isLoopback() ||
        (m_allowed.empty() ? m_config.insecureOpen
                           : std::any_of(m_allowed.begin(), m_allowed.end(),
                                         [&](auto& s) { return who.isInSubnet(s); }));
    return allowed ? std::optional(metrics()) : std::nullopt;
}

std::string Gate::serveMetrics() {
    m_metricsHttp = std::make_unique<QHttpServer>();
    m_metricsHttp->route(
        "/metrics", [this](const QHttpServerRequest& request, QHttpServerResponder&& responder) {
            answerMetrics(request, std::move(responder),
                          [this](const QHostAddress& peer) { return scrape(peer); });
        });
    WebConfig where;
    where.listen = *m_config.metrics;
    std::string error;
    if (serveHttp(*m_metricsHttp, where, error) == nullptr) {
        m_metricsHttp.reset();
        return error;
    }
    m_log.say(Log::Info, "metrics on http://" + m_config.metrics->text() + "/metrics");
    return {};
}

void Gate::ended(const Client& client, std::string_view frame, const Ending& ending) {
    if (ending.outcome == Outcome::Answered && ending.sentAt) {
        m_metrics.replied(std::chrono::duration<double>(ending.at - *ending.sentAt).count());
    }
    if (m_log.verbose()) {
        m_log.say(Log::Debug, client.name() + ": " + shownBytes(frame) + " " +
                                  kOutcomes[static_cast<int>(ending.outcome)]);
    }
}

} // namespace vk9::gate
