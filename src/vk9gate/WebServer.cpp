#include "WebServer.h"

#include "Sockets.h"
#include "WebListener.h"
#include "protocol/Frames.h"

#include <QFile>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QHttpServerResponse>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QSysInfo>
#include <QUrlQuery>

#include <algorithm>

namespace vk9::gate {

namespace {

using namespace std::chrono_literals;

constexpr qsizetype kLongestMessage = 4096;
constexpr auto kSessionIdle = 12h; // a session unused this long is over
constexpr auto kPollEvery = 5s;    // while pages are connected
constexpr auto kFreshFor = 15s;    // a reading younger than this is not asked again
constexpr std::size_t kMostSessions = 1024;

// Every answer carries these: the page and its scripts come from here alone, nothing frames
// it, and nothing is guessed from its bytes.
const std::pair<QByteArray, QByteArray> kSecurityHeaders[] = {
    {"Content-Security-Policy",
     "default-src 'self'; connect-src 'self'; img-src 'self' data:; frame-ancestors 'none'; "
     "base-uri 'none'; form-action 'self'"},
    {"X-Content-Type-Options", "nosniff"},
    {"X-Frame-Options", "DENY"},
    {"Referrer-Policy", "no-referrer"},
    {"Cache-Control", "no-store"},
};

struct Asset {
    const char* path;
    const char* file;
    const char* type;
};
constexpr Asset kAssets[] = {
    {"/", ":/web/index.html", "text/html; charset=utf-8"}, // the only one behind the login
    {"/app.js", ":/web/app.js", "text/javascript; charset=utf-8"},
    {"/style.css", ":/web/style.css", "text/css; charset=utf-8"},
    {"/icon.svg", ":/web/icon.svg", "image/svg+xml"},
};

QByteArray resource(const char* name) {
    QFile file(QString::fromLatin1(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Whether two texts are the same, in a time that does not tell how much of them is.
bool sameText(const std::string& a, const std::string& b) {
    unsigned char differ = a.size() == b.size() ? 0 : 1;
    for (std::size_t i = 0; i < a.size(); ++i) {
        differ |= static_cast<unsigned char>(a[i] ^ b[i % std::max<std::size_t>(b.size(), 1)]);
    }
    return differ == 0 && !b.empty();
}

std::string newToken() { // 128 random bits
    quint32 words[4];
    QRandomGenerator::system()->fillRange(words);
    return QByteArray(reinterpret_cast<const char*>(words), sizeof words).toHex().toStdString();
}

// A page's message, read; why not.
std::optional<web::Request> readRequest(const QString& text, std::string& why) {
    QJsonParseError error{};
    const QJsonDocument json = QJsonDocument::fromJson(text.toUtf8(), &error);
    if (!json.isObject()) {
        why = "not a JSON object";
        return std::nullopt;
    }
    const QJsonObject o = json.object();
    static const std::pair<const char*, web::Request::Kind> kKinds[] = {
        {"press", web::Request::Press},
        {"hold", web::Request::Hold},
        {"beat", web::Request::Beat},
        {"release", web::Request::Release},
    };
    const QString kind = o.value("kind").toString();
    const auto k = std::find_if(std::begin(kKinds), std::end(kKinds),
                                [&](const auto& each) { return kind == each.first; });
    if (k == std::end(kKinds)) {
        why = "of no kind this gate knows (\"" + kind.left(32).toStdString() + "\")";
        return std::nullopt;
    }
    web::Request request{k->second, {}, {}, {}};
    if (request.kind == web::Request::Press || request.kind == web::Request::Hold) {
        if (!o.value("button").isString() || !o.value("to").isString()) {
            why = "a " + kind.toStdString() + " without its button or projector";
            return std::nullopt;
        }
        request.button = o.value("button").toString().left(64).toStdString();
        request.to = o.value("to").toString().left(8).toStdString();
    }
    if (o.contains("id")) {
        if (!o.value("id").isDouble()) {
            why = "an id that is not a number";
            return std::nullopt;
        }
        request.id = o.value("id").toDouble();
    }
    return request;
}

} // namespace

void answerMetrics(const QHttpServerRequest& request, QHttpServerResponder&& responder,
                   const std::function<std::optional<std::string>(const QHostAddress&)>& scrape,
                   Headers headers) {
    using Method = QHttpServerRequest::Method;
    using Status = QHttpServerResponder::StatusCode;
    if (request.method() != Method::Get && request.method() != Method::Head) {
        headers.emplace_back("Allow", "GET, HEAD");
        answer(request, std::move(responder), Status::MethodNotAllowed, "text/plain",
               "GET /metrics\n", headers);
    } else if (const std::optional<std::string> text = scrape(request.remoteAddress())) {
        answer(request, std::move(responder), Status::Ok,
               "text/plain; version=0.0.4; charset=utf-8", QByteArray::fromStdString(*text),
               headers);
    } else {
        answer(request, std::move(responder), Status::Forbidden, "text/plain",
               "not for this address: line.allow\n", headers);
    }
}

WebServer::WebServer(const WebConfig& config, std::string gate, std::vector<web::Choice> projectors,
                     Arbiter& arbiter, const ProjectorStates& states, const Log& log,
                     std::function<Time()> clock, std::function<void()> changed)
    : m_config(config), m_gate(std::move(gate)), m_projectors(std::move(projectors)),
      m_arbiter(arbiter), m_states(states), m_log(log), m_clock(std::move(clock)),
      m_changed(std::move(changed)),
      m_cookie("vk9session-" + QByteArray::number(config.listen.port)),
      m_refused(log,
                [](std::uint64_t n, const std::string& detail) {
                    return n == 1 ? "web panel: refused a page: " + detail
                                  : "web panel: refused " + std::to_string(n) +
                                        " more pages in the last minute, the last: " + detail;
                }),
      m_wrong(log, [](std::uint64_t n, const std::string& host) {
          return n == 1 ? "web panel: a wrong password from " + host +
                              "; the next from there are answered more slowly"
                        : "web panel: " + std::to_string(n) +
                              " more wrong passwords in the last minute, the last from " + host;
      }) {
    for (const web::Choice& p : m_projectors) {
        m_addresses.push_back(p.address);
        const std::string prefix = p.address.empty() ? "" : "A" + p.address;
        m_readers.push_back(std::make_unique<mqtt::ProjectorService>(
            m_arbiter, prefix, "web panel's reader of " + prefix, [](const std::string&) {}));
    }
    m_poll.setInterval(kPollEvery);
    connect(&m_poll, &QTimer::timeout, this, &WebServer::poll);
}

WebServer::~WebServer() {
    close();
}

bool WebServer::listening() const {
    return m_server != nullptr && m_server->isListening();
}

std::string WebServer::listen() {
    if (listening()) {
        return {};
    }
    m_http = std::make_unique<QHttpServer>();
    routes();
    std::string error;
    m_server = serveHttp(*m_http, m_config, error);
    if (m_server == nullptr) {
        m_http.reset();
        return error;
    }
    m_log.say(Log::Info, "web panel on " + std::string(m_config.tls() ? "https" : "http") + "://" +
                             m_config.listen.text() + "/" +
                             (needsLogin() ? ", with a password" : ""));
    return {};
}

void WebServer::close() {
    m_poll.stop();
    for (auto& [id, c] : std::exchange(m_pages, {})) {
        c.page.reset();
        c.socket->disconnect(this);
        c.socket->close(QWebSocketProtocol::CloseCodeGoingAway, "the gate stops");
    }
    m_http.reset();
    m_server = nullptr;
}

void WebServer::routes() {
    const Headers security(std::begin(kSecurityHeaders), std::end(kSecurityHeaders));
    for (const Asset& asset : kAssets) {
        m_http->route(asset.path, [this, asset, security](const QHttpServerRequest& request,
                                                          QHttpServerResponder&& responder) {
            if (needsLogin() && asset.path == std::string_view("/") &&
                !sessionOf(request.value("Cookie"))) {
                Headers to = security;
                to.emplace_back("Location", "/login");
                answer(request, std::move(responder), QHttpServerResponder::StatusCode::SeeOther,
                       "text/plain", {}, to);
                return;
            }
            answer(request, std::move(responder), QHttpServerResponder::StatusCode::Ok, asset.type,
                   resource(asset.file), security);
        });
    }
    m_http->route("/login", QHttpServerRequest::Method::Get, [](const QHttpServerRequest& r) {
        QByteArray page = resource(":/web/login.html");
        if (r.query().hasQueryItem("wrong")) {
            page.replace("<!--wrong-->", "<p role=\"alert\">That password is wrong.</p>");
        }
        return QHttpServerResponse("text/html; charset=utf-8", page);
    });
    m_http->route(
        "/login", QHttpServerRequest::Method::Post,
        [this](const QHttpServerRequest& request, QHttpServerResponder&& responder) {
            // A form's spaces come as "+", which QUrlQuery leaves as they are.
            const std::string given =
                QUrlQuery(QString::fromUtf8(QByteArray(request.body()).replace('+', "%20")))
                    .queryItemValue("password", QUrl::FullyDecoded)
                    .toStdString();
            const std::string host = request.remoteAddress().toString().toStdString();
            const bool right = needsLogin() && sameText(given, m_config.password);
            const Time now = m_clock();
            const Time at = m_turns.answerAt(now, host, !right);
            if (!right) {
                m_wrong.add(host);
            }
            auto answer = std::make_shared<QHttpServerResponder>(std::move(responder));
            std::string token;
            if (right) {
                token = newToken();
                if (m_sessions.size() >= kMostSessions) { // the one unused longest goes
                    m_sessions.erase(std::min_element(
                        m_sessions.begin(), m_sessions.end(),
                        [](const auto& a, const auto& b) { return a.second < b.second; }));
                }
                m_sessions[token] = now;
            }
            const QByteArray cookie = m_cookie + "=" + QByteArray::fromStdString(token) +
                                      "; Path=/; HttpOnly; SameSite=Strict" +
                                      (m_config.tls() ? "; Secure" : "");
            const auto reply = [answer, right, cookie] {
                QHttpServerResponse response("text/plain", "",
                                             QHttpServerResponse::StatusCode::SeeOther);
                for (const auto& [name, value] : kSecurityHeaders) {
                    response.setHeader(name, value);
                }
                response.setHeader("Location", right ? "/" : "/login?wrong");
                if (right) {
                    response.setHeader("Set-Cookie", cookie);
                }
                response.write(std::move(*answer));
            };
            const auto wait = std::chrono::ceil<std::chrono::milliseconds>(at - now);
            if (wait <= 0ms) {
                reply();
            } else {
                QTimer::singleShot(wait, this, reply);
            }
        });
    if (m_scrape) {
        m_http->route("/metrics", [this, security](const QHttpServerRequest& request,
                                                   QHttpServerResponder&& responder) {
            answerMetrics(request, std::move(responder), m_scrape, security);
        });
    }
    acceptUpgrades(*m_http, "/ws");
    m_http->afterRequest([](QHttpServerResponse&& response) { // the routes that answer so
        for (const auto& [name, value] : kSecurityHeaders) {
            response.setHeader(name, value);
        }
        return std::move(response);
    });
    connect(m_http.get(), &QHttpServer::newWebSocketConnection, this, &WebServer::upgrade);
}

// A page served by this gate names it by an address, "localhost" or this computer's name;
// another name is a page of another site that a name server points here (DNS rebinding),
// whose Origin would otherwise match.
bool WebServer::ownHost(const QByteArray& host) const {
    QString name = QString::fromLatin1(host).toLower();
    if (name.startsWith('[')) { // [::1]:8080
        name = name.mid(1, name.indexOf(']') - 1);
    } else if (name.count(':') == 1) {
        name = name.left(name.indexOf(':'));
    }
    const QString computer = QSysInfo::machineHostName().toLower();
    return !QHostAddress(name).isNull() || name == "localhost" || name == computer ||
           name == computer + ".local" || name.startsWith(computer + ".");
}

std::optional<std::string> WebServer::sessionOf(const QByteArray& cookies) {
    for (const QByteArray& each : cookies.split(';')) {
        const QByteArray pair = each.trimmed();
        if (!pair.startsWith(m_cookie + "=")) {
            continue;
        }
        const std::string token = pair.mid(m_cookie.size() + 1).toStdString();
        const auto it = m_sessions.find(token);
        if (it == m_sessions.end()) {
            continue;
        }
        const Time now = m_clock();
        if (now - it->second >= kSessionIdle) {
            m_sessions.erase(it);
            continue;
        }
        it->second = now;
        return token;
    }
    return std::nullopt;
}

void WebServer::upgrade() {
    while (m_http->hasPendingWebSocketConnections()) {
        std::unique_ptr<QWebSocket> socket = m_http->nextPendingWebSocketConnection();
        const QNetworkRequest request = socket->request();
        const QByteArray host = request.rawHeader("Host");
        const QString own = (m_config.tls() ? "https://" : "http://") + QString::fromLatin1(host);
        const std::string peer = socket->peerAddress().toString().toStdString();
        std::string refusal;
        std::optional<std::string> session;
        if (request.url().path() != "/ws") {
            refusal = "a WebSocket asked at " + request.url().path().toStdString();
        } else if (socket->origin().compare(own, Qt::CaseInsensitive) != 0 || !ownHost(host)) {
            refusal = "from " + peer + ", opened by another site (" +
                      socket->origin().left(80).toStdString() + ")";
        } else if (needsLogin() && !(session = sessionOf(request.rawHeader("Cookie")))) {
            refusal = "from " + peer + ", not logged in";
        } else if (int(m_pages.size()) >= m_config.maxClients) {
            refusal = "from " + peer + ": " + std::to_string(m_config.maxClients) +
                      " pages are connected, the most this gate takes";
        }
        if (!refusal.empty()) {
            m_refused.add(refusal);
            QWebSocket* gone = socket.release();
            connect(gone, &QWebSocket::disconnected, gone, &QObject::deleteLater);
            gone->close(QWebSocketProtocol::CloseCodePolicyViolated,
                        QString::fromStdString(refusal).left(120));
            continue;
        }
        const std::uint64_t id = ++m_lastId;
        Connection& c = m_pages[id];
        c.socket = std::move(socket);
        c.name = "web page " + std::to_string(id) + " (" + peer + ":" +
                 std::to_string(c.socket->peerPort()) + ")";
        c.session = session.value_or("");
        // A message Qt takes whole before it is read; the page's own limit is 4 KiB.
        c.socket->setMaxAllowedIncomingMessageSize(64 * 1024);
        QWebSocket* s = c.socket.get();
        c.page = std::make_unique<web::Page>(
            m_arbiter, c.name, m_addresses,
            [s](const std::string& json) { s->sendTextMessage(QString::fromStdString(json)); });
        connect(s, &QWebSocket::textMessageReceived, this,
                [this, id](const QString& text) { message(id, text); });
        connect(s, &QWebSocket::binaryMessageReceived, this,
                [this, id](const QByteArray&) { drop(id, "sent binary data"); });
        connect(
            s, &QWebSocket::disconnected, this, [this, id] { forget(id); }, Qt::QueuedConnection);
        m_log.say(Log::Debug, c.name + " connected");
        s->sendTextMessage(QString::fromStdString(web::helloMessage(m_gate, m_projectors)));
        s->sendTextMessage(QString::fromStdString(web::lineMessage(m_line, m_lineWhy)));
        for (const web::Choice& p : m_projectors) {
            const std::string prefix = p.address.empty() ? "" : "A" + p.address;
            s->sendTextMessage(QString::fromStdString(web::stateMessage(p, m_states.find(prefix))));
        }
        if (m_pages.size() == 1) {
            poll();
            m_poll.start();
        }
    }
}

void WebServer::message(std::uint64_t id, const QString& text) {
    const auto it = m_pages.find(id);
    if (it == m_pages.end() || !it->second.page) {
        return;
    }
    Connection& c = it->second;
    const Time now = m_clock();
    if (!c.intake.take(now)) {
        drop(id, "sent too many messages too fast");
        return;
    }
    if (text.toUtf8().size() > kLongestMessage) {
        drop(id, "sent a message over 4 KiB");
        return;
    }
    if (!c.session.empty() && !sessionOf(m_cookie + "=" + QByteArray::fromStdString(c.session))) {
        drop(id, "its session is over");
        return;
    }
    std::string why;
    const auto request = readRequest(text, why);
    if (!request) {
        drop(id, "sent a message " + why);
        return;
    }
    if (const auto refused = c.page->take(now, *request)) {
        drop(id, "sent a message with " + *refused);
        return;
    }
    m_changed();
}

void WebServer::drop(std::uint64_t id, const std::string& why) {
    const auto it = m_pages.find(id);
    if (it == m_pages.end() || !it->second.page) {
        return;
    }
    m_log.say(Log::Warning, it->second.name + " " + why + "; let go");
    it->second.page.reset(); // its hold ends here, not when the socket has closed
    it->second.socket->close(QWebSocketProtocol::CloseCodePolicyViolated,
                             QString::fromStdString(why).left(120));
    m_changed();
}

void WebServer::forget(std::uint64_t id) {
    const auto it = m_pages.find(id);
    if (it == m_pages.end()) {
        return;
    }
    m_log.say(Log::Debug, it->second.name + " left");
    it->second.page.reset();
    it->second.socket->disconnect(this);
    it->second.socket.release()->deleteLater(); // it may be inside its own signal
    m_pages.erase(it);
    if (m_pages.empty()) {
        m_poll.stop();
    }
    m_changed();
}

void WebServer::broadcast(const std::string& json) {
    const QString text = QString::fromStdString(json);
    for (auto& [id, c] : m_pages) {
        if (c.page) {
            c.socket->sendTextMessage(text);
        }
    }
}

void WebServer::lineState(const std::string& state, const std::string& why) {
    m_line = state;
    m_lineWhy = why;
    if (state != "up") {
        const Time now = m_clock();
        for (auto& [id, c] : m_pages) {
            if (c.page) {
                c.page->lineLost(now);
            }
        }
        for (const auto& reader : m_readers) {
            reader->lineLost();
        }
    }
    broadcast(web::lineMessage(state, why));
    if (state == "lost") { // a page that comes later sees the gate trying again
        m_line = "reconnecting";
    }
    if (state == "up" && !m_pages.empty()) {
        poll();
    }
}

void WebServer::stateChanged(std::string_view prefix, std::string_view code) {
    const auto p = std::find_if(m_projectors.begin(), m_projectors.end(), [&](const auto& each) {
        return (each.address.empty() ? "" : "A" + each.address) == prefix;
    });
    if (p == m_projectors.end()) {
        return;
    }
    const ProjectorState* state = m_states.find(prefix);
    broadcast(web::stateMessage(*p, state));
    if (m_pages.empty() || m_line != "up") {
        return;
    }
    // A reading made unknown by a command (another client's too) is asked again at once, and
    // everything once the projector answers again.
    auto& reader = *m_readers[std::size_t(p - m_projectors.begin())];
    if (code.empty() && state != nullptr && state->answers == true) {
        reader.poll(m_clock());
    } else if (!code.empty() && state != nullptr && state->readings.count(code) == 0) {
        reader.ask(m_clock(), code);
    }
    m_changed();
}

void WebServer::poll() {
    if (m_line != "up") {
        return;
    }
    const Time now = m_clock();
    for (const auto& [id, c] : m_pages) { // a page that only watches uses its session too
        if (const auto s = m_sessions.find(c.session); s != m_sessions.end()) {
            s->second = now;
        }
    }
    for (std::size_t i = 0; i < m_projectors.size(); ++i) {
        const std::string prefix =
            m_projectors[i].address.empty() ? "" : "A" + m_projectors[i].address;
        const ProjectorState* state = m_states.find(prefix);
        for (const std::string_view code : mqtt::kPolled) {
            // A projector that does not answer is asked its power alone: each try costs the
            // line a silence.
            if (state != nullptr && state->answers == false && code != protocol::kPowerQuery) {
                continue;
            }
            if (!m_states.reading(prefix, code, now, kFreshFor)) {
                m_readers[i]->ask(now, code);
            }
        }
    }
    m_changed();
}

std::optional<Time> WebServer::nextWake() const {
    std::optional<Time> next;
    for (const auto& [id, c] : m_pages) {
        if (const auto wake = c.page ? c.page->nextWake() : std::nullopt) {
            next = next ? std::min(*next, *wake) : *wake;
        }
    }
    return next;
}

void WebServer::wake(Time now) {
    for (auto& [id, c] : m_pages) {
        if (c.page) {
            c.page->wake(now);
        }
    }
}

} // namespace vk9::gate
