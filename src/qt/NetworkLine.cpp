#include "NetworkLine.h"

#include <QtGlobal>

#if !defined(Q_OS_WIN)
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#endif

#include <chrono>

namespace vk9::qt {

namespace {

using namespace std::chrono_literals;

constexpr auto kConnectLimit = 3s;
// A Telnet server speaks first: it offers or asks for options as soon as a client connects.
constexpr auto kTelnetWait = 300ms;
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

constexpr char kIac = char(255);

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

NetworkLine::NetworkLine(LineAddress address, const LineEvents& events)
    : Line(events), m_address(std::move(address)) {
    m_deadline.setSingleShot(true);
    connect(&m_deadline, &QTimer::timeout, this, [this] {
        if (m_phase == Phase::Negotiating) {
            becomeOpen(); // a server that does not answer the settings: they stay as they are
        } else {
            failOpen(m_phase == Phase::Connecting
                         ? "no answer from " + name() + " within " +
                               std::to_string(kConnectLimit.count()) + " s"
                         : name() + " does not speak Telnet; try tcp://" + name());
        }
    });
    connect(&m_socket, &QTcpSocket::connected, this, &NetworkLine::handleConnected);
    connect(&m_socket, &QTcpSocket::readyRead, this, &NetworkLine::handleReadyRead);
    connect(&m_socket, &QTcpSocket::errorOccurred, this, &NetworkLine::handleError);
    connect(&m_socket, &QTcpSocket::disconnected, this,
            [this] { handleError(QAbstractSocket::RemoteHostClosedError); });
}

std::string NetworkLine::name() const {
    return m_address.host + ":" + std::to_string(m_address.port);
}

SerialResult NetworkLine::open(const LineSettings& settings) {
    shut();
    m_settings = settings;
    m_telnet = TelnetClient{};
    (void)m_telnet.chooseSettings(settings); // they go out once the server agrees
    m_said.clear();
    m_connected.invalidate();
    m_phase = Phase::Connecting;
    const SerialResult result = pending(); // before the connect, which may fail inside
    m_deadline.start(kConnectLimit);
    m_socket.connectToHost(QString::fromStdString(m_address.host),
                           static_cast<quint16>(m_address.port));
    return result;
}

void NetworkLine::shut() {
    m_phase = Phase::Closed; // before abort(): what it signals is no news
    m_deadline.stop();
    m_socket.abort();
}

void NetworkLine::failOpen(const std::string& why) {
    m_deadline.stop();
    tellOpened(SerialResult::failure(why)); // the line is closed before it is told
}

void NetworkLine::handleConnected() {
    if (!opening()) {
        return;
    }
    m_connected.start();
    m_socket.setSocketOption(QAbstractSocket::LowDelayOption, 1); // frames go out at once
    keepAlive();
    if (telnet()) {
        m_phase = Phase::Greeting;
        m_deadline.start(kTelnetWait);
        return;
    }
    becomeOpen();
}

void NetworkLine::becomeOpen() {
    m_deadline.stop();
    m_phase = Phase::Open;
    tellOpened(SerialResult::success());
}

void NetworkLine::keepAlive() {
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

void NetworkLine::handleReadyRead() {
    const QByteArray arrived = m_socket.readAll();
    std::string bytes(arrived.constData(), static_cast<std::size_t>(arrived.size()));
    if (m_phase == Phase::Greeting) {
        if (!opening() || bytes.empty()) {
            return;
        }
        if (bytes.front() != kIac) { // nothing of ours reaches a line that is not Telnet
            failOpen(name() + " does not speak Telnet; try tcp://" + name());
            return;
        }
        m_phase = Phase::Negotiating;
        m_deadline.start(kTelnetWait); // for the answer to the settings
        std::string out;
        bytes = m_telnet.decode(bytes, out);
        send(out + m_telnet.start());
    } else if (m_phase == Phase::Negotiating || (m_phase == Phase::Open && telnet())) {
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
    }
    if (!bytes.empty()) {
        take(bytes);
    }
}

void NetworkLine::handleError(QAbstractSocket::SocketError error) {
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
        } else if (closed) {
            failOpen(name() + ": " + kTurnedAway + quoted(m_said));
        } else {
            failOpen(name() + ": " + m_socket.errorString().toStdString());
        }
    } else if (m_phase == Phase::Open && !goingAway()) {
        // A server that speaks and hangs up at once is turning the connection away, and
        // what it said is why ("Port already in use").
        tellLost(!closed                     ? m_socket.errorString().toStdString()
                 : atOnce && !m_said.empty() ? kTurnedAway + quoted(m_said)
                                             : "the server closed the connection");
    }
}

void NetworkLine::send(const std::string& bytes) {
    if (!bytes.empty()) {
        m_socket.write(bytes.data(), static_cast<qint64>(bytes.size()));
        m_socket.flush(); // to the kernel now, not on the next pass of the event loop
    }
}

SerialResult NetworkLine::write(std::string_view bytes) {
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

SerialResult NetworkLine::applySettings(const LineSettings& settings) {
    // Over raw TCP the speed is the server's: kept, applied to nothing.
    m_settings = settings;
    if (telnet()) {
        const std::string sub = m_telnet.chooseSettings(settings);
        if (m_phase == Phase::Open) {
            send(sub);
        }
    }
    return SerialResult::success();
}

void NetworkLine::discardInput() {
    if (m_phase == Phase::Open && m_socket.bytesAvailable() > 0) {
        handleReadyRead(); // the server's Telnet commands are still answered
    }
    Line::discardInput();
}

std::size_t NetworkLine::pendingOutput() const {
    if (m_phase != Phase::Open) {
        return 0;
    }
    auto pending = static_cast<std::size_t>(m_socket.bytesToWrite());
#if !defined(Q_OS_WIN)
    int queued = 0; // the socket's send queue
    if (ioctl(static_cast<int>(m_socket.socketDescriptor()), TIOCOUTQ, &queued) == 0 &&
        queued > 0) {
        pending += static_cast<std::size_t>(queued);
    }
#endif
    return pending;
}

int NetworkLine::speed() const {
    const auto reported = telnet() ? m_telnet.reportedSpeed() : std::nullopt;
    return reported ? static_cast<int>(*reported) : m_settings.baud;
}

} // namespace vk9::qt
