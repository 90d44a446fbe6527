#pragma once

#include "LineKeeper.h"
#include "Log.h"
#include "MqttBridge.h"
#include "PjLinkServer.h"
#include "io/TrafficLog.h"
#include "vk9gate/core/Arbiter.h"
#include "vk9gate/core/Config.h"
#include "vk9gate/core/FrameReader.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <functional>
#include <map>
#include <memory>
#include <vector>

namespace vk9::gate {

// The gate: one line, and the clients that share it through the arbiter. Clients connect
// over TCP and speak the line's own language, frames in and replies out, as on the serial
// line. While the line is down the gate does not listen, and its clients are let go, so
// that each sees a lost line and its own reconnection takes over.
class Gate final : public QObject, public ArbiterPort {
public:
    Gate(GateConfig config, const Log& log);
    ~Gate() override;
    Gate(const Gate&) = delete;
    Gate& operator=(const Gate&) = delete;

    // Opens the line (and listens once it is open). `fatal` is called once if the gate
    // cannot go on: exit status 3, the line not opened at start (without keepTrying); 4,
    // the listening address not to be had.
    void start(bool keepTrying, std::function<void(int status)> fatal);
    void stop();       // clients let go, the line closed, the log written out
    void reopenLogs(); // SIGHUP: the traffic log starts on its file again
    std::string status() const;
    // Tells the service manager the gate's status whenever it changes.
    void onStatus(std::function<void(const std::string&)> handler) {
        m_statusChanged = std::move(handler);
    }

    // ArbiterPort
    bool writeLine(ClientId client, std::string_view frame) override;
    int lineSpeed() const override;
    std::size_t linePending() const override;
    bool lineSuspended() const override;
    void deliver(ClientId client, std::string_view bytes) override;
    void finished(ClientId client, std::string_view frame, Outcome outcome,
                  std::string_view reply) override;

private:
    struct Client {
        QTcpSocket* socket;
        FrameReader reader;
        std::string name; // "client 3 (127.0.0.1:51234)"
    };

    Time now() const;
    void rearm();
    PjLinkServer* pjlinkOf(ClientId id);
    std::string nameOf(ClientId id) const; // "client 3 (…)", "projector 001 (PJLink)"
    void lineUp();
    void lineDown(const std::string& why);
    void lineBytes();
    void accept();
    void read(ClientId id);
    void letGo(ClientId id, const std::string& why);
    void tellStatus();

    GateConfig m_config;
    const Log& m_log;
    QElapsedTimer m_clock;
    Arbiter m_arbiter;
    LineKeeper m_line;
    QTimer m_wake;
    QTcpServer m_server;
    std::map<ClientId, Client> m_clients;
    ClientId m_lastId = 0;
    std::unique_ptr<qt::TrafficLog> m_traffic;
    std::function<void(int)> m_fatal;
    std::function<void(const std::string&)> m_statusChanged;
    std::uint64_t m_lateTold = 0;
    std::vector<std::unique_ptr<PjLinkServer>> m_pjlink; // one a projector that has PJLink
    std::unique_ptr<MqttBridge> m_mqtt;
};

} // namespace vk9::gate
