#pragma once

#include "Log.h"
#include "vk9gate/core/Config.h"
#include "vk9gate/core/Mqtt.h"
#include "vk9gate/core/Projectors.h"

#include <QObject>
#include <QTimer>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

struct mosquitto;
struct mosquitto_message;

namespace vk9::gate {

// The gate's projectors on the building's MQTT broker, with Home Assistant's discovery, on
// libmosquitto. The connection is kept by a thread of its own (connecting may block on a
// name or a silent broker); everything it hears is handed to the Qt thread, where the
// gate's arbiter lives. A last will says "offline" on the gate's topic; it is connected
// again after the broker goes away (1 s, doubling to 30 s), and everything is published
// again. A broker that is down at start stops nothing else of the gate.
//
// Topics, under BASE = base_topic/client_id and NODE = the projector's address ("001"):
//   BASE/status                  online, offline (the will)
//   BASE/NODE/status             online, offline (its line lost, or it stops answering)
//   BASE/NODE/KEY/state          retained states, KEY as the entity table names them
//   BASE/NODE/KEY/set            commands
//   BASE/projectors              the nodes published, to take down those removed
//   PREFIX/COMPONENT/CLIENT_NODE/KEY/config    Home Assistant's discovery
class MqttBridge final : public QObject {
public:
    MqttBridge(const MqttConfig& config, const std::vector<ProjectorConfig>& projectors,
               Arbiter& arbiter, const ProjectorStates& states, const Log& log,
               std::function<Time()> clock, std::function<void()> changed);
    ~MqttBridge() override;
    MqttBridge(const MqttBridge&) = delete;
    MqttBridge& operator=(const MqttBridge&) = delete;

    void start();
    void stop(); // "offline" published, then a clean disconnect
    void lineUp();
    void lineDown();
    void stateChanged(std::string_view prefix, std::string_view code);
    bool isConnected() const { return m_up; }

private:
    struct Projector {
        mqtt::Device device;
        std::string prefix; // "A001"
        std::unique_ptr<mqtt::ProjectorService> service;
        bool absent = false; // the gate found it absent: when it answers, all is read again
    };

    void run(); // the connection's thread
    void wait(std::chrono::milliseconds span);
    void notThere(int rc);
    // On the Qt thread:
    void connected();
    void ready();
    void leave();
    void disconnected(int reason);
    void refused(int code);
    void closedSoon();
    void held();
    void trouble(Log::Level level, const std::string& what);
    void message(const std::string& topic, const std::string& payload, bool retained);
    void publish(const std::string& topic, const std::string& payload, bool retain = true);
    void publishConfigs();
    void removeStale(const std::string& inventory);
    void pollAll();

    std::string base() const;

    MqttConfig m_config;
    const Log& m_log;
    std::function<Time()> m_clock;
    std::function<void()> m_changed;
    const ProjectorStates& m_states;
    std::vector<Projector> m_projectors;
    mosquitto* m_mosq = nullptr;
    std::thread m_thread;
    std::atomic<bool> m_stopping{false};
    std::atomic<bool> m_connected{false};
    std::atomic<bool> m_answered{false}; // the broker answered this connection, yes or no
    std::atomic<int> m_offlineMid{-1};   // the last "offline", published at the stop
    std::atomic<bool> m_offlineAcked{false};
    std::string m_unusable; // why it cannot publish at all
    std::string m_tlsError; // the TLS library's last reason (the connection's thread)
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::map<std::string, std::string> m_published; // retained, to publish again
    QTimer m_poll;
    QTimer m_retryPoll;
    QTimer m_inventoryWait;
    bool m_inventoryRead = false;
    bool m_listed = false;  // this run has written its list
    std::string m_instance; // this run, in its list: another with the same name is a copy
    void anotherGate(const std::string& who);
    bool m_ready = false; // connected, and the list read: publishing
    bool m_lineUp = false;
    std::set<std::string> m_told; // troubles told since a connection last held
    bool m_connectionTold = false;
    bool m_up = false; // connected, as the Qt thread last heard
};

} // namespace vk9::gate
