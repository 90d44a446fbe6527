#pragma once

#include "Log.h"
#include "vk9gate/core/Arbiter.h"
#include "vk9gate/core/FrameReader.h"

#include <QTcpSocket>

#include <cstdint>
#include <functional>
#include <map>
#include <string>

namespace vk9::gate {

// One client of the share port. It speaks the line's own language: frames in, and each
// reply out, byte for byte, once it is whole and fits its frame. A client that opens with
// the tickets greeting is told instead what became of each frame (transport/GateTickets.h).
// Bytes that are not frames, or a client that reads none of what it is sent, let it go.
class ShareSession final : public Client {
public:
    using Clock = std::function<Time()>;
    using LetGo = std::function<void(const std::string& why)>; // queued by the gate

    ShareSession(QTcpSocket* socket, std::uint32_t number, Arbiter& arbiter, const Log& log,
                 Clock clock, LetGo letGo);
    ~ShareSession() override;
    ShareSession(const ShareSession&) = delete;
    ShareSession& operator=(const ShareSession&) = delete;

    void read();
    QTcpSocket* socket() const { return m_socket; }

    std::string name() const override { return m_name; }
    void sent(Ticket ticket, Time at) override;
    void delivered(Ticket ticket, std::string_view reply) override;
    void finished(Ticket ticket, const Ending& ending) override;

private:
    enum class Mode : std::uint8_t { Unknown, Raw, Tickets };
    struct Numbered {
        std::uint64_t number;
        Time submitted;
        std::string reply;
    };
    void take(std::string_view bytes);
    void write(std::string_view bytes);

    QTcpSocket* m_socket;
    std::string m_name;
    Arbiter& m_arbiter;
    const Log& m_log;
    Clock m_clock;
    LetGo m_letGo;
    FrameReader m_reader;
    Mode m_mode = Mode::Unknown;
    std::string m_greeting; // as far as it has come
    std::map<Ticket, Numbered> m_tickets;
    std::uint64_t m_count = 0;
};

} // namespace vk9::gate
