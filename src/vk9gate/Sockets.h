#pragma once

#include "vk9gate/core/Config.h"

#include <QTcpServer>
#include <QTcpSocket>

#include <string>

namespace vk9::gate {

// A client that does not read what it is sent is let go before its queue grows past this.
inline constexpr qint64 kMostUnread = 64 * 1024;

// "127.0.0.1:51234", for the log.
inline std::string peerOf(const QTcpSocket& socket) {
    return socket.peerAddress().toString().toStdString() + ":" + std::to_string(socket.peerPort());
}

inline bool listenOn(QTcpServer& server, const ListenAddress& address) {
    return server.listen(QHostAddress(QString::fromStdString(address.hostAddress())),
                         quint16(address.port));
}

} // namespace vk9::gate
