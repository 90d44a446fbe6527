#include "io/NetworkConnection.h"

#include <QtGlobal>

#if !defined(Q_OS_WIN)
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/ioctl.h>
#if defined(Q_OS_LINUX)
#include <linux/sockios.h>
#endif
#include <sys/socket.h>
#endif

#include <chrono>

namespace vk9::qt {

namespace {

using namespace std::chrono_literals;

constexpr auto kConnectLimit = 3s;
// How long a Telnet server may take to answer our requests, and then our settings: at least
// 2 s, and four times what the connect took on top, for a link that is slow (a relay, a
// satellite, a device server busy starting).
constexpr auto kTelnetPatience = 2s;
constexpr int kPatiencePerConnect = 4;
// A Telnet server that has said nothing this long after the connect (and twice what the
// connect took, a round trip's worth) waits for us to speak.
constexpr auto kServerFirst = 250ms;
// A server that closes the connection this soon has refused it (its line is in use, or
// not open to this computer); what it said on the way is kept for the operator.
constexpr qint64 kRefusalWindowMs = 1000;
constexpr std::size_t kSaidLimit = 80;
constexpr const char* kTurnedAway =
    "the line is in use, or not open to this computer: the server hung up at once";
// Keep-alive probes after 5 s of silence, every 2 s; unacknowledged data for 10 s ends the
// connection. Either way a server that falls silent is a lost line within about 11 s.
constexpr int kKeepIdleSeconds = 5;
constexpr int kKeepIntervalSeconds = 2;
constexpr int kKeepCount = 3;
constexpr unsigned kUserTimeoutMs = 10000;

// What a server said, as a quotation: printable ASCII only, line ends dropped.
std::string quoted(const std::string& said) {
    std::string text;
    for (const char c : said) {
        if (c >= 32 && c < 127) {
            text += c;
        }
    }
    return text.empty() ? std::string() : ", saying \"" + text + "\"";
}

} // namespace

NetworkConnection::NetworkConnection(LineAddress address, const ConnectionEvents& events)
    : Connection(events), m_address(std::move(address)) {
    m_deadline.setSingleShot(true);
    m_deadline.setTimerType(Qt::PreciseTimer); // a patience is never cut short
    connect(&m_deadline, &QTimer::timeout, this, [this] {
        if (m_phase == Phase::Negotiating) {
            // A server that does not answer the settings: they stay as they are, and the far
            // line's speed is not known.
            note("the server did not answer the line settings: its line may run at another "
                 "speed than the one chosen",
                 true);
            becomeOpen();
        } else if (m_phase == Phase::Connecting) {
            failOpen("no answer from " + name() + " within " +
                     std::to_string(kConnectLimit.count()) + " s");
        } else {
            failOpen(name() + " does not speak Telnet; try tcp://" + name());
        }
    });
    m_speakUp.setSingleShot(true);
    m_speakUp.setTimerType(Qt::PreciseTimer);
    connect(&m_speakUp, &QTimer::timeout, this, [this] {
        if (m_phase == Phase::Greeting && !std::exchange(m_requested, true)) {
            send(m_telnet.start());
        }
    });
    connect(&m_socket, &QTcpSocket::connected, this, &NetworkConnection::handleConnected);
    connect(&m_socket, &QTcpSocket::readyRead, this, &NetworkConnection::handleReadyRead);
    connect(&m_socket, &QTcpSocket::errorOccurred, this, &NetworkConnection::handleError);
    connect(&m_socket, &QTcpSocket::disconnected, this,
            [this] { handleError(QAbstractSocket::RemoteHostClosedError); });
}

std::string NetworkConnection::name() const {
    return m_address.host + ":" + std::to_string(m_address.port);
}

SerialResult NetworkConnection::open(const SerialSettings& settings) {
    shut();
    m_settings = settings;
    m_telnet = TelnetClient{};
    (void)m_telnet.chooseSettings(settings); // they go out once the server agrees
    m_said.clear();
    m_told.clear();
    m_connected.invalidate();
    m_connecting.start();
    m_phase = Phase::Connecting;
    const SerialResult result = pending(); // before the connect, which may fail inside
    m_deadline.start(kConnectLimit);
    m_socket.connectToHost(QString::fromStdString(m_address.host),
                           static_cast<quint16>(m_address.port));
    return result;
}

void NetworkConnection::shut() {
    m_phase = Phase::Closed; // before abort(): what it signals is no news
    m_deadline.stop();
    m_speakUp.stop();
    m_socket.abort();
}

void NetworkConnection::failOpen(const std::string& why) {
    m_deadline.stop();
    tellOpened(SerialResult::failure(why)); // the line is closed before it is told
}

void NetworkConnection::handleConnected() {
    if (!opening()) {
        return;
    }
    m_connected.start();
    m_patience =
        kTelnetPatience + kPatiencePerConnect * std::chrono::milliseconds(m_connecting.elapsed());
    m_socket.setSocketOption(QAbstractSocket::LowDelayOption, 1); // frames go out at once
    keepAlive();
    if (telnet()) {
        // A Telnet server usually speaks first; RFC 854 lets it wait for the client instead,
        // so our requests go after a moment of its silence. Not at once: a server that
        // turns us away says why and hangs up, and bytes of ours that it never read would
        // make its close a reset that throws its words away.
        m_phase = Phase::Greeting;
        m_requested = false;
        m_deadline.start(m_patience);
        m_speakUp.start(kServerFirst + 2 * std::chrono::milliseconds(m_connecting.elapsed()));
        return;
    }
    becomeOpen();
}

void NetworkConnection::becomeOpen() {
    m_deadline.stop();
    m_phase = Phase::Open;
    tellOpened(SerialResult::success());
}

void NetworkConnection::keepAlive() {
    m_socket.setSocketOption(QAbstractSocket::KeepAliveOption, 1);
#if defined(Q_OS_LINUX)
    const auto fd = static_cast<int>(m_socket.socketDescriptor());
    const int idle = kKeepIdleSeconds;
    const int interval = kKeepIntervalSeconds;
    const int count = kKeepCount;
    const unsigned timeout = kUserTimeoutMs;
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof count);
    ::setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &timeout, sizeof timeout);
#endif
}

void NetworkConnection::handleReadyRead() {
    const QByteArray arrived = m_socket.readAll();
    std::string bytes(arrived.constData(), static_cast<std::size_t>(arrived.size()));
    if (m_phase == Phase::Greeting) {
        if (!opening() || bytes.empty()) {
            return;
        }
        if (bytes.front() != telnet::kIac) { // no frame of ours reaches a line not Telnet
            failOpen(name() + " does not speak Telnet; try tcp://" + name());
            return;
        }
        m_phase = Phase::Negotiating;
        m_deadline.start(m_patience); // for the answer to the settings
        m_speakUp.stop();
        std::string out;
        bytes = m_telnet.decode(bytes, out);
        send(out + (std::exchange(m_requested, true) ? std::string() : m_telnet.start()));
    } else if (m_phase == Phase::Negotiating || (m_phase == Phase::Open && telnet())) {
        if (m_phase == Phase::Negotiating) {
            m_deadline.start(m_patience); // the server is answering: as patient again
        }
        std::string out;
        bytes = m_telnet.decode(bytes, out);
        send(out);
    } else if (m_phase != Phase::Open) {
        return;
    }
    if (m_phase == Phase::Negotiating && opening() && m_telnet.settled()) {
        becomeOpen();
    }
    if (m_connected.elapsed() < kRefusalWindowMs && m_said.size() < kSaidLimit) {
        m_said += bytes.substr(0, kSaidLimit - m_said.size());
    }
    if (telnet()) {
        const TelnetClient::News news = m_telnet.takeNews();
        if (news.comPortRefused) {
            note("the server refused the COM port option: the far line runs at the "
                 "server's speed, whatever is chosen here",
                 false);
        }
        if (news.otherSpeed) {
            note("the line runs at " + std::to_string(*news.otherSpeed) + " bit/s", true);
        }
        for (const std::string& other : news.notTaken) {
            if (m_told.insert(other).second) { // once per connection
                note("the server did not take " + other, true);
            }
        }
    }
    if (!bytes.empty()) {
        take(bytes);
    }
}

void NetworkConnection::handleError(QAbstractSocket::SocketError error) {
    const bool atOnce = m_connected.isValid() && m_connected.elapsed() < kRefusalWindowMs;
    const bool closed = error == QAbstractSocket::RemoteHostClosedError;
    if (m_phase == Phase::Connecting || m_phase == Phase::Greeting ||
        m_phase == Phase::Negotiating) {
        if (!opening()) {
            return;
        }
        if (error == QAbstractSocket::ConnectionRefusedError) {
            failOpen(name() + ": connection refused");
        } else if (error == QAbstractSocket::HostNotFoundError) {
            failOpen(m_address.host + ": no such host");
        } else if (closed && telnet() && m_telnet.answered()) {
            failOpen(name() + ": the server closed the connection");
        } else if (closed) {
            m_deadline.stop();
            tellOpened(SerialResult::inUse(name() + ": " + kTurnedAway + quoted(m_said)));
        } else {
            failOpen(name() + ": " + m_socket.errorString().toStdString());
        }
    } else if (m_phase == Phase::Open && !goingAway()) {
        // A server that speaks and hangs up at once is turning the connection away, and
        // what it said is why ("Port already in use"); one that has answered our settings
        // took the connection, and is a line lost like any other.
        const bool turnedAway =
            m_guessRefusal && atOnce && !m_said.empty() && !(telnet() && m_telnet.answered());
        tellLost(!closed      ? m_socket.errorString().toStdString()
                 : turnedAway ? kTurnedAway + quoted(m_said)
                              : "the server closed the connection");
    }
}

void NetworkConnection::send(const std::string& bytes) {
    if (!bytes.empty()) {
        m_socket.write(bytes.data(), static_cast<qint64>(bytes.size()));
        m_socket.flush(); // to the kernel now, not on the next pass of the event loop
    }
}

SerialResult NetworkConnection::write(std::string_view bytes) {
    if (m_phase != Phase::Open) {
        return SerialResult::failure(m_phase == Phase::Closed ? "no serial port is open"
                                                              : "still connecting to " + name());
    }
    if (suspended()) {
        return SerialResult::failure(name() + ": the server has asked us to hold our data");
    }
    const std::string wire = telnet() ? m_telnet.encode(bytes) : std::string(bytes);
    if (m_socket.write(wire.data(), static_cast<qint64>(wire.size())) !=
        static_cast<qint64>(wire.size())) {
        return SerialResult::failure(name() + ": " + m_socket.errorString().toStdString());
    }
    m_socket.flush();
    return SerialResult::success();
}

SerialResult NetworkConnection::applySettings(const SerialSettings& settings) {
    // Over raw TCP the speed is the server's: kept, applied to nothing.
    m_settings = settings;
    if (telnet()) {
        // Before the server has agreed to the COM port option, nothing: the settings go out
        // with the agreement. After, at once, also while the options are still being agreed.
        const std::string sub = m_telnet.chooseSettings(settings);
        if (m_phase != Phase::Closed && m_phase != Phase::Connecting) {
            send(sub);
        }
    }
    return SerialResult::success();
}

void NetworkConnection::discardInput() {
    if (m_phase == Phase::Open && m_socket.bytesAvailable() > 0) {
        handleReadyRead(); // the server's Telnet commands are still answered
    }
    Connection::discardInput();
}

std::size_t NetworkConnection::pendingOutput() const {
    if (m_phase != Phase::Open) {
        return 0;
    }
    auto pending = static_cast<std::size_t>(m_socket.bytesToWrite());
    // The socket's send queue: on Linux the bytes not yet sent. Bytes sent and not yet
    // acknowledged have left this computer; counting them would hold a repeat back for a
    // peer's delayed acknowledgement, not for a queue.
#if defined(Q_OS_LINUX)
    constexpr unsigned long kNotSent = SIOCOUTQNSD;
#elif !defined(Q_OS_WIN)
    constexpr unsigned long kNotSent = TIOCOUTQ;
#endif
#if !defined(Q_OS_WIN)
    int queued = 0;
    if (ioctl(static_cast<int>(m_socket.socketDescriptor()), kNotSent, &queued) == 0 &&
        queued > 0) {
        pending += static_cast<std::size_t>(queued);
    }
#endif
    return pending;
}

int NetworkConnection::speed() const {
    const auto reported = telnet() ? m_telnet.reportedSpeed() : std::nullopt;
    return reported ? static_cast<int>(*reported) : m_settings.baud;
}

} // namespace vk9::qt
