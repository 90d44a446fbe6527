#pragma once

#include "Log.h"
#include "vk9gate/core/Config.h"
#include "vk9gate/core/Passwords.h"
#include "vk9gate/core/PjLink.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <functional>
#include <map>
#include <memory>

namespace vk9::gate {

// One projector's PJLink listener: connections, greetings and passwords, request lines,
// each answer in one write. The requests go to the projector's link on the arbiter.
class PjLinkServer final : public QObject {
public:
    // `clock` tells the gate's time; `changed` that the arbiter has more to time.
    PjLinkServer(const ProjectorConfig& projector, Arbiter& arbiter, const ProjectorStates& states,
                 const Log& log, std::function<Time()> clock, std::function<void()> changed);
    ~PjLinkServer() override;

    std::string listen(); // why the address is not to be had; empty: it listens
    void stop();          // the line is down: nobody is let in, and the connections go
    pjlink::ProjectorLink& link() { return m_link; }
    const std::string& title() const { return m_title; }
    std::size_t connections() const { return m_connections.size(); }
    std::uint64_t taken() const { return m_taken; }
    std::uint64_t wrongPasswords() const { return m_wrongPasswords; }

private:
    struct Connection {
        QTcpSocket* socket;
        pjlink::Session session;
        QTimer* idle;
        std::string peer;
        std::string host; // the peer's address alone
        bool refused = false;
        bool holding = false; // its right password waits for its turn; later bytes with it
        QByteArray held;
    };
    // Wrong passwords from one address, told in the log as a count, at most once a minute.
    struct Refusals {
        int untold = 0;
        Time last{0};
        Time told{-3600000000};
    };
    Time passwordAnswered(const std::string& host, bool wrong);
    void refuse(pjlink::ProjectorLink::ConnectionId id, Time at);
    void accept();
    void read(pjlink::ProjectorLink::ConnectionId id);
    void take(pjlink::ProjectorLink::ConnectionId id, const QByteArray& bytes);
    void serve(pjlink::ProjectorLink::ConnectionId id, const pjlink::Session::Fed& fed);
    void close(pjlink::ProjectorLink::ConnectionId id, const std::string& why,
               Log::Level level = Log::Warning);
    void answer(pjlink::ProjectorLink::ConnectionId id, const std::string& line);

    PjLinkConfig m_config;
    std::string m_title;
    const Log& m_log;
    std::function<Time()> m_clock;
    std::function<void()> m_changed;
    pjlink::ProjectorLink m_link;
    QTcpServer m_server;
    std::map<pjlink::ProjectorLink::ConnectionId, Connection> m_connections;
    std::map<std::string, Refusals> m_refusals;
    PasswordTurns m_turns;
    pjlink::ProjectorLink::ConnectionId m_lastId = 0;
    Tally m_overflow; // clients beyond max_connections, turned away
    std::uint64_t m_taken = 0;
    std::uint64_t m_wrongPasswords = 0;
};

} // namespace vk9::gate
