#pragma once

#include "Log.h"
#include "WebListener.h"
#include "vk9gate/core/Config.h"
#include "vk9gate/core/Mqtt.h"
#include "vk9gate/core/Passwords.h"
#include "vk9gate/core/Projectors.h"
#include "vk9gate/core/Web.h"

#include <QHttpServer>
#include <QHttpServerResponse>
#include <QTcpServer>
#include <QTimer>
#include <QWebSocket>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vk9::gate {

// The touch panel: its page (from the program's resources), its login, and its WebSocket,
// all on one port. Each connected page is a client of the arbiter; the projectors' states
// are pushed to every page as they change, and asked for while pages are connected. It keeps
// listening while the line is down, so that a page can say so.
// Prometheus' text for GET and HEAD, 403 for a peer that may not read it (`scrape` gives
// nothing), 405 for another method.
void answerMetrics(const QHttpServerRequest& request, QHttpServerResponder&& responder,
                   const std::function<std::optional<std::string>(const QHostAddress&)>& scrape,
                   Headers headers = {});

class WebServer final : public QObject {
public:
    WebServer(const WebConfig& config, std::string gate, std::vector<web::Choice> projectors,
              Arbiter& arbiter, const ProjectorStates& states, const Log& log,
              std::function<Time()> clock, std::function<void()> changed);
    ~WebServer() override;
    WebServer(const WebServer&) = delete;
    WebServer& operator=(const WebServer&) = delete;

    std::string listen(); // why its address is not to be had; empty: it listens
    bool listening() const;
    void close(); // the gate stops: every page is let go
    // "up", "lost" (why) or "reconnecting", told to every page.
    void lineState(const std::string& state, const std::string& why = {});
    void stateChanged(std::string_view prefix, std::string_view code);
    std::optional<Time> nextWake() const;
    void wake(Time now);
    std::size_t pages() const { return m_pages.size(); }
    // /metrics on this listener too: the text for a peer, or none (403).
    using Scrape = std::function<std::optional<std::string>(const QHostAddress& peer)>;
    void serveMetrics(Scrape scrape) { m_scrape = std::move(scrape); }

private:
    struct Connection {
        std::unique_ptr<QWebSocket> socket;
        std::unique_ptr<web::Page> page; // none once it is being let go
        web::Intake intake;
        std::string name;
        std::string session;
    };
    void routes();
    void upgrade();
    void message(std::uint64_t id, const QString& text);
    void drop(std::uint64_t id, const std::string& why);
    void forget(std::uint64_t id);
    void broadcast(const std::string& json);
    void poll();
    bool needsLogin() const { return !m_config.password.empty(); }
    std::optional<std::string> sessionOf(const QByteArray& cookies); // a live session's token
    bool ownHost(const QByteArray& host) const;

    WebConfig m_config;
    std::string m_gate;
    std::vector<web::Choice> m_projectors;
    std::vector<std::string> m_addresses;
    Arbiter& m_arbiter;
    const ProjectorStates& m_states;
    const Log& m_log;
    std::function<Time()> m_clock;
    std::function<void()> m_changed;
    std::unique_ptr<QHttpServer> m_http;
    QTcpServer* m_server = nullptr; // the HTTP server's, once listening
    std::map<std::uint64_t, Connection> m_pages;
    std::uint64_t m_lastId = 0;
    QByteArray m_cookie; // by port: two gates on one computer keep their sessions apart
    std::map<std::string, Time> m_sessions; // token: last used
    PasswordTurns m_turns;
    Tally m_refused; // upgrades refused: another site, no session, too many pages
    Tally m_wrong;   // wrong passwords
    std::string m_line = "reconnecting";
    std::string m_lineWhy;
    // The projectors' states are read while pages are connected.
    std::vector<std::unique_ptr<mqtt::ProjectorService>> m_readers;
    QTimer m_poll;
    Scrape m_scrape;
};

} // namespace vk9::gate
