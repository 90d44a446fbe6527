#pragma once

#include "vk9gate/core/Config.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <string>

namespace vk9::gate {

// A client that does not read what it is sent is let go before its queue grows past this.
inline constexpr qint64 kMostUnread = 64 * 1024;

// "127.0.0.1:51234", for the log.
// A peer's address as written: an IPv4 one as such, also on a listener for IPv6 too.
inline QHostAddress peerAddress(const QTcpSocket& socket) {
    bool v4 = false;
    const quint32 address = socket.peerAddress().toIPv4Address(&v4);
    return v4 ? QHostAddress(address) : socket.peerAddress();
}

inline std::string peerOf(const QTcpSocket& socket) {
    return peerAddress(socket).toString().toStdString() + ":" + std::to_string(socket.peerPort());
}

// A client turned away is told why, in a line ("vk9gate: …"), as the connection closes.
inline void turnAway(QTcpSocket& socket, const std::string& why) {
    const std::string line = "vk9gate: " + why + "\r\n";
    socket.write(line.data(), qint64(line.size()));
    QObject::connect(&socket, &QTcpSocket::disconnected, &socket, &QObject::deleteLater);
    socket.disconnectFromHost(); // once the line has gone
    QTimer::singleShot(std::chrono::seconds(5), &socket, [&socket] { socket.abort(); });
}

// "::" is every address, IPv4 too, as it is to the system's own servers.
inline bool listenOn(QTcpServer& server, const ListenAddress& address) {
    const QHostAddress host(QString::fromStdString(address.hostAddress()));
    return server.listen(host == QHostAddress::AnyIPv6 ? QHostAddress(QHostAddress::Any) : host,
                         quint16(address.port));
}

} // namespace vk9::gate
