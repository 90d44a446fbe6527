#pragma once

#include "vk9gate/core/Config.h"

#include <QHttpServer>
#include <QTcpServer>

#include <string>
#include <utility>
#include <vector>

namespace vk9::gate {

// Qt HttpServer's setup, kept in one place because it changes with Qt: from 6.8 a server
// binds a listening QTcpServer or QSslServer of its caller's and asks a verifier before each
// WebSocket upgrade; 6.4 takes the same bind, and upgrades any request that asks, once a
// route for the path exists.

// Listens on the configured address (with TLS when a certificate is given), for `http`. The
// listening server, owned by `http`; null, and `error` says why.
QTcpServer* serveHttp(QHttpServer& http, const WebConfig& config, std::string& error);
// Why a configured certificate and key cannot serve TLS (an encrypted key, a key of a kind
// Qt does not take, a key that is not the certificate's); empty when they can.
std::string tlsProblem(const WebConfig& config);
using Headers = std::vector<std::pair<QByteArray, QByteArray>>;
// Writes an answer whole, or for HEAD its headers alone with the length GET would have: 6.4
// writes a response's body whatever the method, and a client that reuses the connection
// would read it as its next answer.
void answer(const QHttpServerRequest& request, QHttpServerResponder&& responder,
            QHttpServerResponder::StatusCode status, const QByteArray& type, const QByteArray& body,
            const Headers& headers = {});
// WebSockets on `path` only; a plain request there is answered 426.
void acceptUpgrades(QHttpServer& http, const QString& path);

} // namespace vk9::gate
