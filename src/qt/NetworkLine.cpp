#include "NetworkLine.h"

#include <QtGlobal>

#if !defined(Q_OS_WIN)
#include <sys/ioctl.h>
#include <termios.h>
#endif

namespace vk9::qt {

namespace {
constexpr int kConnectSeconds = 3;
} // namespace

NetworkLine::NetworkLine(QObject* parent) : QObject(parent) {
    m_deadline.setSingleShot(true);
    connect(&m_deadline, &QTimer::timeout, this, [this] {
        giveUp("no answer from " + name() + " within " + std::to_string(kConnectSeconds) + " s");
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

void NetworkLine::open(const LineAddress& address, const LineSettings& settings) {
    close();
    m_address = address;
    m_settings = settings;
    m_telnet = TelnetCodec{};
    m_phase = Phase::Connecting;
    ++m_attempt;
    m_deadline.start(kConnectSeconds * 1000);
    m_socket.connectToHost(QString::fromStdString(address.host),
                           static_cast<quint16>(address.port));
}

void NetworkLine::close() {
    m_phase = Phase::Closed; // before abort(): what it signals is no news
    m_deadline.stop();
    m_socket.abort();
    m_input.clear();
}

bool NetworkLine::isOpen() const {
    return m_phase != Phase::Closed;
}

void NetworkLine::handleConnected() {
    m_deadline.stop();
    m_phase = Phase::Open;
    m_socket.setSocketOption(QAbstractSocket::LowDelayOption, 1); // frames go out at once
    if (telnet()) {
        const std::string greeting = m_telnet.greeting(m_settings);
        m_socket.write(greeting.data(), static_cast<qint64>(greeting.size()));
    }
    if (onOpened) {
        onOpened(SerialResult::success());
    }
}

void NetworkLine::giveUp(const std::string& message) {
    if (m_phase != Phase::Connecting) {
        return;
    }
    close();
    if (onOpened) {
        onOpened(SerialResult::failure(message));
    }
}

void NetworkLine::handleError(QAbstractSocket::SocketError error) {
    if (m_phase == Phase::Connecting) {
        switch (error) {
        case QAbstractSocket::ConnectionRefusedError:
            giveUp(name() + ": connection refused");
            break;
        case QAbstractSocket::HostNotFoundError:
            giveUp(m_address.host + ": no such host");
            break;
        default:
            giveUp(name() + ": " + m_socket.errorString().toStdString());
        }
    } else if (m_phase == Phase::Open) {
        // Closed after this signal has returned, and reported once.
        m_phase = Phase::Closed;
        const std::string reason = error == QAbstractSocket::RemoteHostClosedError
                                       ? "the server closed the connection"
                                       : m_socket.errorString().toStdString();
        QMetaObject::invokeMethod(
            this, [this, attempt = m_attempt, reason] { handleLoss(attempt, reason); },
            Qt::QueuedConnection);
    }
}

void NetworkLine::handleLoss(unsigned attempt, const std::string& reason) {
    if (attempt != m_attempt || m_phase != Phase::Closed) {
        return; // the line was chosen again in the meantime
    }
    close();
    if (onLost) {
        onLost(reason);
    }
}

void NetworkLine::handleReadyRead() {
    if (m_phase != Phase::Open) {
        return;
    }
    const QByteArray bytes = m_socket.readAll();
    std::string data(bytes.constData(), static_cast<std::size_t>(bytes.size()));
    if (telnet()) {
        std::string replies;
        data = m_telnet.decode(data, replies);
        m_socket.write(replies.data(), static_cast<qint64>(replies.size()));
    }
    if (!data.empty()) {
        m_input += data;
        if (onReceived) {
            onReceived();
        }
    }
}

SerialResult NetworkLine::write(std::string_view bytes) {
    if (m_phase != Phase::Open) {
        return SerialResult::failure(m_phase == Phase::Connecting ? "still connecting to " + name()
                                                                  : "no serial port is open");
    }
    const std::string wire = telnet() ? m_telnet.encode(bytes) : std::string(bytes);
    if (m_socket.write(wire.data(), static_cast<qint64>(wire.size())) !=
        static_cast<qint64>(wire.size())) {
        return SerialResult::failure(name() + ": " + m_socket.errorString().toStdString());
    }
    m_socket.flush(); // to the kernel now, not on the next pass of the event loop
    return SerialResult::success();
}

std::string NetworkLine::readAll() {
    return std::exchange(m_input, {});
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

void NetworkLine::applySettings(const LineSettings& settings) {
    m_settings = settings; // over raw TCP the speed is the server's: kept, applied to nothing
    if (m_phase == Phase::Open && telnet()) {
        const std::string sub = TelnetCodec::lineSettings(settings);
        m_socket.write(sub.data(), static_cast<qint64>(sub.size()));
        m_socket.flush();
    }
}

} // namespace vk9::qt
