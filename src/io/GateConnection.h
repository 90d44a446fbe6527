#pragma once

#include "io/Connection.h"
#include "io/NetworkConnection.h"

#include <QTimer>

#include <cstdint>
#include <map>
#include <string>

namespace vk9::qt {

// A line shared through vk9gate ("gate://HOST:PORT"): frames go to the gate as on any line,
// and the gate tells what became of each (transport/GateTickets.h): when it went on the line,
// its reply, or why it was not sent. Every word of the gate's, replies too, comes as a fate
// with the frame it is about, never as the line's bytes: a reply is its frame's, whatever was
// sent since. The TCP connection is a raw network line's; the line is open once the gate has
// answered the tickets greeting.
class GateConnection final : public Connection {
public:
    GateConnection(LineAddress address, const ConnectionEvents& events);
    ~GateConnection() override { shut(); }
    GateConnection(const GateConnection&) = delete;
    GateConnection& operator=(const GateConnection&) = delete;

    SerialResult open(const SerialSettings& settings) override;
    bool isOpen() const override { return m_tcp.isOpen(); }
    SerialResult write(std::string_view bytes) override;
    SerialResult applySettings(const SerialSettings& settings) override;
    std::size_t pendingOutput() const override { return m_tcp.pendingOutput(); }
    // The gate paces the line by its own speed; the one chosen here is assumed.
    int speed() const override { return m_settings.baud; }
    bool comesBack() const override { return true; }

private:
    void shut() override;
    void opened(const SerialResult& result);
    void received();
    void heard(const std::string& line);

    std::string m_name; // HOST:PORT
    ConnectionEvents m_tcpEvents;
    NetworkConnection m_tcp;
    QTimer m_welcome;
    SerialSettings m_settings;
    bool m_welcomed = false;
    std::string m_partial;                         // a line of the gate's, as far as it came
    std::string m_turnedAway;                      // why the gate said it turns this client away
    std::map<std::uint64_t, std::string> m_frames; // by number, until each has ended
    std::uint64_t m_written = 0;
};

} // namespace vk9::qt
