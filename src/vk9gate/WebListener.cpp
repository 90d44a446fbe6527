#include "WebListener.h"

#include "Sockets.h"

#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QHttpServerResponse>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslServer>

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <memory>

namespace vk9::gate {

std::string tlsProblem(const WebConfig& config) {
    if (!config.tls()) {
        return {};
    }
    const auto bio = [](const std::string& pem) {
        return std::unique_ptr<BIO, decltype(&BIO_free)>(
            BIO_new_mem_buf(pem.data(), int(pem.size())), &BIO_free);
    };
    const std::unique_ptr<X509, decltype(&X509_free)> cert(
        PEM_read_bio_X509(bio(config.certificate).get(), nullptr, nullptr, nullptr), &X509_free);
    // No passphrase is asked for: a key that needs one cannot be read by a service.
    const auto noPassphrase = [](char*, int, int, void*) { return 0; };
    const std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(
        PEM_read_bio_PrivateKey(bio(config.key).get(), nullptr, noPassphrase, nullptr),
        &EVP_PKEY_free);
    if (!cert) {
        return "web.cert_file " + config.certFile + ": not a certificate TLS can read";
    }
    if (!key) {
        return "web.key_file " + config.keyFile +
               ": not a private key that can be read without a passphrase";
    }
    const int kind = EVP_PKEY_base_id(key.get());
    if (kind != EVP_PKEY_RSA && kind != EVP_PKEY_EC) {
        return "web.key_file " + config.keyFile + ": an RSA or EC key (Qt takes no other kind)";
    }
    if (X509_check_private_key(cert.get(), key.get()) != 1) {
        return "web.key_file " + config.keyFile + ": not the key of web.cert_file " +
               config.certFile;
    }
    return {};
}

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

void answer(const QHttpServerRequest& request, QHttpServerResponder&& responder,
            QHttpServerResponder::StatusCode status, const QByteArray& type, const QByteArray& body,
            const Headers& headers) {
    const QByteArray length = QByteArray::number(body.size());
    responder.writeStatusLine(status);
    for (const auto& [name, value] : headers) {
        responder.writeHeader(name, value);
    }
    responder.writeHeaders({{"Content-Type", type}, {"Content-Length", length}});
    responder.writeBody(request.method() == QHttpServerRequest::Method::Head ? QByteArray() : body);
}

} // namespace vk9::gate
