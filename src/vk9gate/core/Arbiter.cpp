#include "vk9gate/core/Arbiter.h"

#include "context/RepeatPacing.h"

#include <algorithm>
#include <utility>

namespace vk9::gate {

namespace {

using namespace std::chrono_literals;

constexpr auto kQuietAfterLateBytes = 100ms;
constexpr std::size_t kReplyKept = 64;
constexpr auto kPoll = 1ms; // a line with bytes still queued, or held by its far end

} // namespace

void Arbiter::submit(Time now, ClientId client, std::string frame) {
    expire(now);
    const auto same = [&](const Waiting& w) { return w.client == client && w.frame == frame; };
    if (std::any_of(m_waiting.begin(), m_waiting.end(), same)) {
        ++m_counts.repeated; // one copy waits; the line's clock sends it
        tell(client, frame, Outcome::Repeated, {});
        flush();
        return;
    }
    const auto queued = std::count_if(m_waiting.begin(), m_waiting.end(),
                                      [&](const Waiting& w) { return w.client == client; });
    if (static_cast<std::size_t>(queued) >= m_settings.maxQueued) {
        ++m_counts.queueFull;
        tell(client, frame, Outcome::QueueFull, {});
        flush();
        return;
    }
    m_waiting.push_back({client, std::move(frame), now});
    pump(now);
    flush();
}

void Arbiter::received(Time now, std::string_view bytes) {
    expire(now); // a window that has closed takes no reply
    while (!bytes.empty()) {
        const auto cr = bytes.find('\r');
        const std::string_view piece = bytes.substr(0, cr == std::string_view::npos ? cr : cr + 1);
        bytes.remove_prefix(piece.size());
        const bool whole = piece.back() == '\r';
        if (m_sent.empty()) { // nothing asked: a late reply, or the line speaking unasked
            m_lastLateByte = now;
            m_counts.lateReplies += whole ? 1 : 0;
            continue;
        }
        // The record is brought up to date before the piece is delivered, and not touched
        // after: delivering can call back into the arbiter.
        Sent& answered = m_sent.front(); // replies come in the order of their frames
        answered.replying = true;
        answered.reply += piece.substr(0, kReplyKept - std::min(kReplyKept, answered.reply.size()));
        const ClientId client = answered.client;
        const bool gone = answered.gone;
        std::optional<Sent> done;
        if (whole) {
            ++m_counts.answered;
            done = std::move(answered);
            m_sent.pop_front();
            if (m_sent.empty()) { // answered: the projector has had the frame, whole
                m_wireFree = std::min(m_wireFree, now);
            }
        }
        if (!gone) {
            m_port.deliver(client, piece);
        }
        if (done) {
            end(*done, Outcome::Answered);
        }
    }
    pump(now);
    flush();
}

void Arbiter::wake(Time now) {
    pump(now);
    flush();
}

void Arbiter::leave(Time now, ClientId client) {
    std::erase_if(m_waiting, [&](const Waiting& w) { return w.client == client; });
    for (Sent& sent : m_sent) {
        sent.gone = sent.gone || sent.client == client;
    }
    pump(now);
    flush();
}

bool Arbiter::withdraw(ClientId client, std::string_view frame) {
    return std::erase_if(m_waiting, [&](const Waiting& w) {
               return w.client == client && w.frame == frame;
           }) > 0;
}

void Arbiter::lineLost() {
    for (const Waiting& w : std::exchange(m_waiting, {})) {
        tell(w.client, w.frame, Outcome::LineLost, {});
    }
    for (const Sent& sent : std::exchange(m_sent, {})) {
        end(sent, Outcome::LineLost);
    }
    m_owner.reset();
    m_wireFree = m_quietFrom = Time{0};
    m_lastLateByte = Time{-1000000};
    flush();
}

void Arbiter::tell(ClientId client, std::string_view frame, Outcome outcome,
                   std::string_view reply) {
    m_endings.push_back({client, std::string(frame), outcome, std::string(reply)});
}

// A client told of its frame's end may submit another at once: the arbiter is then between
// its steps, never in the middle of one. Endings told meanwhile wait their turn here.
void Arbiter::flush() {
    if (m_flushing) {
        return;
    }
    m_flushing = true;
    while (!m_endings.empty()) {
        const Ending e = std::move(m_endings.front());
        m_endings.pop_front();
        m_port.finished(e.client, e.frame, e.outcome, e.reply);
    }
    m_flushing = false;
}

bool Arbiter::heldByAnother(ClientId me, Time now) const {
    return m_copies >= 2 && m_lastClient != me && now - m_lastSentAt < 600ms;
}

void Arbiter::end(const Sent& sent, Outcome outcome) {
    if (!sent.gone) {
        tell(sent.client, sent.frame, outcome, sent.reply);
    }
}

bool Arbiter::quiet(Time now) const {
    return now >= m_quietFrom && now >= m_lastLateByte + kQuietAfterLateBytes;
}

// The frame that may go next: the oldest. While an exchange is on, only if it is a copy of
// the frame on the line from the same client (a held button): another frame would be
// answered by a reply that the client could not tell from the copy's.
std::deque<Arbiter::Waiting>::const_iterator Arbiter::next() const {
    const auto head = m_waiting.begin();
    if (head == m_waiting.end() || m_sent.empty() ||
        (head->client == m_sent.back().client && head->frame == m_sent.back().frame)) {
        return head;
    }
    return m_waiting.end();
}

void Arbiter::expire(Time now) {
    for (auto w = m_waiting.begin(); w != m_waiting.end();) {
        if (now - w->since > m_settings.maxWait) {
            ++m_counts.tooLong;
            tell(w->client, w->frame, Outcome::TooLong, {});
            w = m_waiting.erase(w);
        } else {
            ++w;
        }
    }
    for (auto s = m_sent.begin(); s != m_sent.end();) {
        // A reply that has begun may finish after its window; one that never ends is given
        // up with the late window.
        const Time closes =
            s->at + m_settings.replyWindow + (s->replying ? m_settings.lateWindow : 0ms);
        if (now < closes) {
            ++s;
            continue;
        }
        ++m_counts.unanswered;
        m_quietFrom = std::max<Time>(m_quietFrom, s->at + m_settings.lateWindow);
        const Sent done = std::move(*s);
        s = m_sent.erase(s);
        end(done, Outcome::Unanswered);
    }
    if (m_sent.empty()) {
        m_owner.reset();
    }
}

void Arbiter::pump(Time now) {
    m_lastWake = now;
    expire(now);
    for (auto w = next(); w != m_waiting.cend(); w = next()) {
        if (!quiet(now) || now < m_wireFree || m_port.linePending() > 0 || m_port.lineSuspended()) {
            return;
        }
        Waiting going = *w;
        m_waiting.erase(w);
        if (!m_port.writeLine(going.client, going.frame)) {
            tell(going.client, going.frame, Outcome::LineLost, {});
            continue;
        }
        ++m_counts.sent;
        m_copies = going.client == m_lastClient && going.frame == m_lastFrame ? m_copies + 1 : 1;
        m_lastClient = going.client;
        m_lastFrame = going.frame;
        m_lastSentAt = now;
        m_wireFree = now + lineTime(going.frame.size(), m_port.lineSpeed());
        m_owner = going.client;
        m_sent.push_back({going.client, std::move(going.frame), now, false, false, {}});
    }
}

std::optional<Time> Arbiter::nextWake() const {
    std::optional<Time> first;
    const auto consider = [&](Time t) { first = first ? std::min(*first, t) : t; };
    for (const Waiting& w : m_waiting) {
        consider(w.since + m_settings.maxWait + 1us);
    }
    for (const Sent& s : m_sent) {
        consider(s.at + m_settings.replyWindow + (s.replying ? m_settings.lateWindow : 0ms));
    }
    if (next() != m_waiting.end()) {
        const Time free =
            std::max({m_wireFree, m_quietFrom, m_lastLateByte + kQuietAfterLateBytes});
        const bool held = m_port.linePending() > 0 || m_port.lineSuspended();
        consider(held ? std::max(free, m_lastWake + kPoll) : free);
    }
    return first;
}

} // namespace vk9::gate
