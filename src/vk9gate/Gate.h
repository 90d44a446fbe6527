#pragma once

#include "LineKeeper.h"
#include "Log.h"
#include "Metrics.h"
#include "MqttBridge.h"
#include "PjLinkServer.h"
#include "SharePort.h"
#include "WebServer.h"
#include "io/TrafficLog.h"
#include "vk9gate/core/Arbiter.h"
#include "vk9gate/core/Config.h"
#include "vk9gate/core/Projectors.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QTcpServer>
#include <QTimer>

#include <functional>
#include <map>
#include <memory>
#include <set>
#include <vector>

namespace vk9::gate {

// The gate: one line, and the clients that share it through the arbiter: the share port's
// sessions, and each projector's PJLink and MQTT services. While the line is down the gate
// does not listen, and its clients are let go, so that each sees a lost line and its own
// reconnection takes over. It keeps one state per projector from every answered frame.
class Gate final : public QObject, public Line, public Watcher {
public:
    Gate(GateConfig config, const Log& log);
    ~Gate() override;
    Gate(const Gate&) = delete;
    Gate& operator=(const Gate&) = delete;

    // Opens the line (and listens once it is open). `fatal` is called once if the gate
    // cannot go on: exit status 3, the line not opened at start (without keepTrying); 4,
    // the listening address not to be had. `ready` is called once the gate serves: at once
    // with keepTrying (it goes on trying), else once the line is open and every address had.
    void start(bool keepTrying, std::function<void(int status)> fatal, std::function<void()> ready);
    void stop();       // clients let go, the line closed, the log written out
    void reopenLogs(); // SIGHUP: the traffic log starts on its file again
    std::string status() const;
    std::string metrics() const { return m_metrics.scrape(snapshot()); }
    // Tells the service manager the gate's status whenever it changes.
    void onStatus(std::function<void(const std::string&)> handler) {
        m_statusChanged = std::move(handler);
    }

    // Line
    bool write(std::string_view frame, const Client& by) override;
    int speed() const override;
    std::size_t pending() const override;
    bool suspended() const override;
    // Watcher
    void answered(Time now, std::string_view frame, std::string_view reply) override;
    void thrownAway(Time now, std::string_view reply) override;
    void presence(Time now, std::string_view prefix, bool answers) override;
    void ended(const Client& client, std::string_view frame, const Ending& ending) override;

private:
    Time now() const;
    void rearm();
    std::string titleOf(std::string_view prefix) const; // "projector 001 (Hall left)"
    bool listen(bool mayEnd);
    void lineUp();
    void lineDown(const std::string& why);
    void lineBytes();
    void accept();
    void letGo(std::uint32_t id, const std::string& why);
    void tellStatus();

    GateConfig m_config;
    const Log& m_log;
    QElapsedTimer m_clock;
    ProjectorStates m_states;
    Arbiter m_arbiter;
    LineKeeper m_line;
    QTimer m_wake;
    QTcpServer m_server;
    QTimer m_listenAgain;
    std::set<std::string> m_listenFailures; // told once, until they are mended
    bool m_keepTrying = false;
    bool m_wasUp = false;
    bool m_lineUp = false;
    bool m_failed = false; // the gate ends: it could not start
    std::map<std::uint32_t, std::unique_ptr<ShareSession>> m_sessions;
    std::uint32_t m_lastId = 0;
    std::vector<std::pair<QHostAddress, int>> m_allowed; // none: anyone who reaches the port
    Tally m_outsiders;                                   // clients not in line.allow, turned away
    Tally m_overflow; // clients beyond line.max_clients, turned away
    std::unique_ptr<qt::TrafficLog> m_traffic;
    std::function<void(int)> m_fatal;
    std::function<void()> m_ready;
    std::function<void(const std::string&)> m_statusChanged;
    std::string m_toldStatus; // the last status told, told again only once it changes
    Time m_thrownAwayToldAt{-60000000};
    std::vector<std::unique_ptr<PjLinkServer>> m_pjlink; // one a projector that has PJLink
    std::unique_ptr<MqttBridge> m_mqtt;
    std::unique_ptr<WebServer> m_web;
    Metrics m_metrics;
    std::unique_ptr<QHttpServer> m_metricsHttp; // [metrics] listen
    GateSnapshot snapshot() const;
    std::optional<std::string> scrape(const QHostAddress& peer) const;
    std::string serveMetrics(); // why its address is not to be had
};

} // namespace vk9::gate
