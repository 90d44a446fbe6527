#include "PjLinkServer.h"

#include "Sockets.h"

#include <QCryptographicHash>
#include <QHostAddress>

#include <sys/random.h>

#include <cstdio>

namespace vk9::gate {

namespace {

// Eight hex digits from the system's secure random source.
std::string randomHex() {
    unsigned char bytes[4] = {};
    if (getrandom(bytes, sizeof bytes, 0) != sizeof bytes) {
        return {}; // no greeting without it: the connection is refused
    }
    char text[9];
    std::snprintf(text, sizeof text, "%02x%02x%02x%02x", bytes[0], bytes[1], bytes[2], bytes[3]);
    return text;
}

pjlink::Settings settingsOf(const ProjectorConfig& p) {
    pjlink::Settings s;
    s.prefix = p.prefix();
    s.inputs = p.pjlink->inputs;
    s.name = p.name;
    s.manufacturer = p.pjlink->manufacturer;
    s.product = p.pjlink->product;
    s.info = p.pjlink->info;
    return s;
}

} // namespace

PjLinkServer::PjLinkServer(const ProjectorConfig& projector, Arbiter& arbiter,
                           const ProjectorStates& states, const Log& log,
                           std::function<Time()> clock, std::function<void()> changed)
    : m_config(*projector.pjlink), m_title(projector.title()), m_log(log),
      m_clock(std::move(clock)), m_changed(std::move(changed)),
      m_link(arbiter, states, settingsOf(projector), m_title + " (PJLink)",
             [this](pjlink::ProjectorLink::ConnectionId id, const std::string& line) {
                 answer(id, line);
             }),
      m_overflow(log, [this](std::uint64_t n, const std::string& peer) {
          const std::string full = std::to_string(m_config.maxConnections) + " are connected";
          return m_title + (n == 1 ? ": turned away a PJLink client from " + peer + ": " + full
                                   : ": turned away " + std::to_string(n) +
                                         " more PJLink clients in the last minute (" + full +
                                         "), the last from " + peer);
      }) {
    connect(&m_server, &QTcpServer::newConnection, this, &PjLinkServer::accept);
}

PjLinkServer::~PjLinkServer() {
    stop();
}

std::string PjLinkServer::listen() {
    if (m_server.isListening()) {
        return {};
    }
    if (!listenOn(m_server, m_config.listen)) {
        return m_title + ": cannot listen for PJLink on " + m_config.listen.text() + ": " +
               m_server.errorString().toStdString();
    }
    m_log.say(Log::Info, m_title + ": PJLink on " + m_config.listen.text() +
                             (m_config.password.empty() ? ", without a password" : ""));
    return {};
}

void PjLinkServer::stop() {
    m_server.close();
    for (auto& [id, c] : std::exchange(m_connections, {})) {
        c.socket->abort();
        c.socket->deleteLater();
    }
    m_link.lineLost();
}

void PjLinkServer::accept() {
    while (QTcpSocket* socket = m_server.nextPendingConnection()) {
        const std::string peer = peerOf(*socket);
        const std::string random = m_config.password.empty() ? std::string() : randomHex();
        if (int(m_connections.size()) >= m_config.maxConnections ||
            (!m_config.password.empty() && random.empty())) {
            m_overflow.add(peer);
            socket->abort();
            socket->deleteLater();
            continue;
        }
        const QByteArray digest =
            QCryptographicHash::hash(QByteArray::fromStdString(random + m_config.password),
                                     QCryptographicHash::Md5)
                .toHex();
        const auto id = ++m_lastId;
        socket->setParent(this);
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        auto* idle = new QTimer(socket);
        idle->setSingleShot(true);
        connect(idle, &QTimer::timeout, this,
                [this, id] { close(id, "no request for 30 s", Log::Debug); });
        ++m_taken;
        const auto& c =
            m_connections
                .emplace(id, Connection{socket,
                                        pjlink::Session(m_clock(), random, digest.toStdString()),
                                        idle,
                                        peer,
                                        peerAddress(*socket).toString().toStdString(),
                                        false,
                                        false,
                                        {}})
                .first->second;
        idle->start(pjlink::Session::kIdle);
        connect(socket, &QTcpSocket::readyRead, this, [this, id] { read(id); });
        // After the turn: a socket can say so inside a write, while an answer goes out.
        connect(
            socket, &QTcpSocket::disconnected, this, [this, id] { close(id, {}); },
            Qt::QueuedConnection);
        m_log.say(Log::Debug, m_title + ": PJLink client from " + peer);
        const std::string greeting = c.session.greeting();
        socket->write(greeting.data(), qint64(greeting.size()));
    }
}

void PjLinkServer::read(pjlink::ProjectorLink::ConnectionId id) {
    const auto it = m_connections.find(id);
    if (it != m_connections.end()) {
        take(id, it->second.socket->readAll());
    }
}

void PjLinkServer::take(pjlink::ProjectorLink::ConnectionId id, const QByteArray& bytes) {
    Connection& c = m_connections.at(id);
    if (c.refused) {
        return; // its answer is on its way
    }
    if (c.holding) {
        c.held += bytes;
        return;
    }
    const pjlink::Session::Fed fed =
        c.session.feed(m_clock(), {bytes.constData(), std::size_t(bytes.size())});
    if (!fed.wrongPassword && !fed.rightPassword) {
        serve(id, fed);
        return;
    }
    const Time now = m_clock();
    const Time at = passwordAnswered(c.host, fed.wrongPassword);
    if (fed.wrongPassword) {
        refuse(id, at);
    } else if (at <= now) {
        serve(id, fed);
    } else {
        c.holding = true;
        QTimer::singleShot(std::chrono::ceil<std::chrono::milliseconds>(at - now), c.socket,
                           [this, id, fed] {
                               const auto it = m_connections.find(id);
                               if (it == m_connections.end()) {
                                   return;
                               }
                               it->second.holding = false;
                               const QByteArray later = std::exchange(it->second.held, {});
                               serve(id, fed);
                               if (m_connections.count(id) != 0 && !later.isEmpty()) {
                                   take(id, later);
                               }
                           });
    }
}

void PjLinkServer::serve(pjlink::ProjectorLink::ConnectionId id, const pjlink::Session::Fed& fed) {
    Connection& c = m_connections.at(id);
    c.idle->start(std::chrono::ceil<std::chrono::milliseconds>(c.session.idleUntil() - m_clock()));
    constexpr std::size_t kMostWaiting = 8; // a client waits for each answer
    for (const pjlink::Parsed& line : fed.lines) {
        if (m_link.waiting(id) >= kMostWaiting) {
            close(id, "more than 8 requests waiting for their answers");
            m_changed();
            return;
        }
        m_link.request(m_clock(), id, line);
        if (m_connections.count(id) == 0) {
            m_changed();
            return;
        }
    }
    if (!fed.answerNow.empty()) {
        answer(id, fed.answerNow);
    }
    if (!fed.close.empty()) {
        close(id, fed.close);
    }
    m_changed();
}

// When a password from `host` is answered: at once while it has given no wrong one lately;
// else in its turn after the last answer there, a wrong one pushing the next further off (a
// quarter of a second, doubling to 8 s). Connections in parallel guess no faster.
Time PjLinkServer::passwordAnswered(const std::string& host, bool wrong) {
    constexpr auto kForgetAfter = std::chrono::minutes(10);
    const Time now = m_clock();
    std::erase_if(m_refusals, [&](const auto& r) {
        return now - r.second.last > kForgetAfter && r.second.untold == 0;
    });
    if (wrong) {
        m_refusals[host].last = now;
    }
    return m_turns.answerAt(now, host, wrong);
}

void PjLinkServer::refuse(pjlink::ProjectorLink::ConnectionId id, Time at) {
    using namespace std::chrono_literals;
    constexpr auto kTellEvery = 1min;
    Connection& c = m_connections.at(id);
    c.refused = true;
    ++m_wrongPasswords;
    const Time now = m_clock();
    Refusals& r = m_refusals[c.host];
    if (now - r.told >= kTellEvery) {
        m_log.say(Log::Warning, m_title + ": a wrong PJLink password from " + c.host +
                                    "; the next from there are answered more slowly");
        r.told = now;
    } else if (++r.untold == 1) { // the rest of this minute's, in one line at its end
        const auto tell = std::chrono::ceil<std::chrono::milliseconds>(r.told + kTellEvery - now);
        QTimer::singleShot(tell, this, [this, host = c.host] {
            const auto it = m_refusals.find(host);
            if (it != m_refusals.end() && it->second.untold > 0) {
                m_log.say(Log::Warning, m_title + ": " + std::to_string(it->second.untold) +
                                            " more wrong PJLink passwords from " + host +
                                            " in the last minute");
                it->second.told = m_clock();
                it->second.untold = 0;
            }
        });
    }
    QTimer::singleShot(std::chrono::ceil<std::chrono::milliseconds>(at - now), c.socket,
                       [this, id] {
                           answer(id, "PJLINK ERRA");
                           close(id, {});
                       });
}

void PjLinkServer::answer(pjlink::ProjectorLink::ConnectionId id, const std::string& line) {
    const auto it = m_connections.find(id);
    if (it == m_connections.end()) {
        return;
    }
    if (it->second.socket->bytesToWrite() > kMostUnread) { // closed after this turn
        QTimer::singleShot(0, this, [this, id] { close(id, "it reads none of its answers"); });
        return;
    }
    const std::string bytes = line + '\r'; // in one write: some clients read a segment as one
    it->second.socket->write(bytes.data(), qint64(bytes.size()));
    it->second.socket->flush();
}

void PjLinkServer::close(pjlink::ProjectorLink::ConnectionId id, const std::string& why,
                         Log::Level level) {
    const auto it = m_connections.find(id);
    if (it == m_connections.end()) {
        return;
    }
    const Connection c = it->second;
    m_connections.erase(it);
    m_link.forget(m_clock(), id);
    if (!why.empty()) {
        m_log.say(level, m_title + ": closed the PJLink connection from " + c.peer + ": " + why);
    }
    c.socket->disconnect(this);
    c.socket->disconnectFromHost(); // what was written goes first
    c.socket->deleteLater();
}

} // namespace vk9::gate
