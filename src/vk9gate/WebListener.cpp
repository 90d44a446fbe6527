#include "WebListener.h"

#include "Sockets.h"

#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QHttpServerResponse>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslServer>

namespace vk9::gate {

QTcpServer* serveHttp(QHttpServer& http, const WebConfig& config, std::string& error) {
    QTcpServer* server = nullptr;
    if (config.tls()) {
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        const auto chain =
            QSslCertificate::fromData(QByteArray::fromStdString(config.certificate), QSsl::Pem);
        QSslKey key(QByteArray::fromStdString(config.key), QSsl::Rsa, QSsl::Pem);
        if (key.isNull()) {
            key = QSslKey(QByteArray::fromStdString(config.key), QSsl::Ec, QSsl::Pem);
        }
        if (chain.isEmpty() || key.isNull()) {
            error = "web.cert_file or web.key_file: not a certificate and its key that TLS takes";
            return nullptr;
        }
        tls.setLocalCertificateChain(chain);
        tls.setPrivateKey(key);
        auto* ssl = new QSslServer(&http);
        ssl->setSslConfiguration(tls);
        server = ssl;
    } else {
        server = new QTcpServer(&http);
    }
    if (!listenOn(*server, config.listen)) {
        error =
            "cannot listen on " + config.listen.text() + ": " + server->errorString().toStdString();
        delete server;
        return nullptr;
    }
    http.bind(server);
    return server;
}

void acceptUpgrades(QHttpServer& http, const QString& path) {
#if QT_VERSION >= QT_VERSION_CHECK(6, 8, 0)
    http.addWebSocketUpgradeVerifier(&http, [path](const QHttpServerRequest& request) {
        return request.url().path() == path ? QHttpServerWebSocketUpgradeResponse::accept()
                                            : QHttpServerWebSocketUpgradeResponse::passToNext();
    });
#endif
    // 6.4 hands an upgrade to its WebSocket server after the route has seen it; the route
    // must then write nothing. A plain request is told what is here.
    http.route(path, [](const QHttpServerRequest& request, QHttpServerResponder&& responder) {
        if (request.value("Upgrade").compare("websocket", Qt::CaseInsensitive) == 0) {
            return;
        }
        QHttpServerResponse("text/plain", "a WebSocket, for the page at /\n",
                            QHttpServerResponse::StatusCode::UpgradeRequired)
            .write(std::move(responder));
    });
}

} // namespace vk9::gate
