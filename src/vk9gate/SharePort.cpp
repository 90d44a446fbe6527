#include "SharePort.h"

#include "Sockets.h"
#include "transport/GateTickets.h"
#include "transport/Printable.h"

#include <QMetaObject>

namespace vk9::gate {

namespace {

using tickets::Fate;

// The outcome a tickets client reads, by the arbiter's.
constexpr Fate kFates[] = {Fate::Answered, Fate::Unanswered, Fate::Absent, Fate::Busy,
                           Fate::Repeated, Fate::Full,       Fate::Lost};

long long msBetween(Time from, Time to) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(to - from).count();
}

} // namespace

ShareSession::ShareSession(QTcpSocket* socket, std::uint32_t number, Arbiter& arbiter,
                           const Log& log, Clock clock, LetGo letGo)
    : m_socket(socket), m_name("client " + std::to_string(number) + " (" + peerOf(*socket) + ")"),
      m_arbiter(arbiter), m_log(log), m_clock(std::move(clock)), m_letGo(std::move(letGo)) {}

ShareSession::~ShareSession() {
    m_arbiter.leave(m_clock(), *this);
    m_socket->deleteLater(); // what was written is the system's already: each write flushes
}

void ShareSession::read() {
    const QByteArray bytes = m_socket->readAll();
    take({bytes.constData(), std::size_t(bytes.size())});
}

void ShareSession::take(std::string_view bytes) {
    if (m_mode == Mode::Unknown && !bytes.empty()) {
        m_mode = bytes.front() == tickets::kGreeting.front() ? Mode::Tickets : Mode::Raw;
        m_greeting = m_mode == Mode::Tickets ? "" : std::string(tickets::kGreeting);
    }
    while (m_greeting.size() < tickets::kGreeting.size() && !bytes.empty()) {
        m_greeting += bytes.front();
        bytes.remove_prefix(1);
        if (!tickets::kGreeting.starts_with(m_greeting)) {
            m_letGo("not a frame, nor the tickets greeting: \"" + shownBytes(m_greeting) + "\"");
            return;
        }
        if (m_greeting == tickets::kGreeting) {
            write(tickets::kWelcome);
        }
    }
    const FrameReader::Read read = m_reader.feed(bytes);
    for (const std::string& frame : read.frames) {
        const Ticket ticket = m_arbiter.submit(m_clock(), *this, frame);
        if (m_mode == Mode::Tickets) {
            m_tickets[ticket] = {++m_count, m_clock(), {}};
        }
    }
    if (read.wrong) {
        m_letGo(*read.wrong);
    }
}

void ShareSession::write(std::string_view bytes) {
    m_socket->write(bytes.data(), qint64(bytes.size()));
    m_socket->flush();
    if (m_socket->bytesToWrite() > kMostUnread) {
        m_letGo("does not read what it is sent");
    }
}

void ShareSession::sent(Ticket ticket, Time at) {
    if (const auto it = m_tickets.find(ticket); it != m_tickets.end()) {
        write(tickets::format(
            {Fate::Sent, it->second.number, msBetween(it->second.submitted, at), {}}));
    }
}

void ShareSession::delivered(Ticket ticket, std::string_view reply) {
    if (m_mode == Mode::Raw) {
        write(reply);
    } else if (const auto it = m_tickets.find(ticket); it != m_tickets.end()) {
        it->second.reply = reply;
    }
}

void ShareSession::finished(Ticket ticket, const Ending& ending) {
    const auto it = m_tickets.find(ticket);
    if (it == m_tickets.end()) {
        return;
    }
    tickets::Notice notice{kFates[static_cast<int>(ending.outcome)], it->second.number, 0,
                           std::move(it->second.reply)};
    if (ending.outcome == Outcome::Answered) {
        notice.ms = msBetween(*ending.sentAt, ending.at);
    } else if (ending.nextTry) {
        notice.ms = msBetween(ending.at, *ending.nextTry);
    }
    m_tickets.erase(it);
    write(tickets::format(notice));
}

} // namespace vk9::gate
