#include "vk9gate/core/Arbiter.h"

#include "context/RepeatPacing.h"
#include "protocol/Frames.h"

#include <algorithm>
#include <utility>

namespace vk9::gate {

namespace {

using namespace std::chrono_literals;

constexpr auto kQuietAfterLateBytes = 100ms;
constexpr auto kPoll = 1ms; // a line with bytes still queued, or held by its far end
// The longest repeat of a held button is 500 ms; copies further apart are not a hold.
constexpr auto kHeldGap = 600ms;
// No reply is this long (the lamp hours, the longest, take 18 bytes): longer is noise.
constexpr std::size_t kLongestReply = 32;
constexpr int kUnansweredForAbsent = 2;

} // namespace

Ticket Arbiter::submit(Time now, Client& client, std::string frame) {
    const Ticket ticket = ++m_lastTicket;
    Copies& copies = m_copies[&client]; // a held button: its copies, whatever becomes of them
    copies.inARow = copies.frame == frame && now - copies.at <= kHeldGap ? copies.inARow + 1 : 1;
    copies.frame = frame;
    copies.at = now;
    auto turn = std::find_if(m_turns.begin(), m_turns.end(),
                             [&](const Turn& t) { return t.client == &client; });
    if (turn != m_turns.end()) {
        const auto same = [&](const Waiting& w) { return w.frame == frame; };
        if (std::any_of(turn->waiting.begin(), turn->waiting.end(), same)) {
            ++m_counts.repeated; // one copy waits; the line's clock sends it
            tell(&client, ticket, frame, {Outcome::Repeated, now, {}, {}});
            m_lastWake = now;
            return ticket;
        }
        if (turn->waiting.size() >= m_settings.maxQueued) {
            ++m_counts.queueFull;
            tell(&client, ticket, frame, {Outcome::QueueFull, now, {}, {}});
            m_lastWake = now;
            return ticket;
        }
    } else {
        turn = m_turns.insert(m_turns.end(), Turn{&client, {}});
    }
    turn->waiting.push_back({ticket, &client, std::move(frame), now});
    if (!m_reading) { // while a reply is being read, it goes once the bytes have all been read
        pump(now);
    }
    return ticket;
}

bool Arbiter::withdraw(Ticket ticket) {
    for (auto turn = m_turns.begin(); turn != m_turns.end(); ++turn) {
        if (std::erase_if(turn->waiting, [&](const Waiting& w) { return w.ticket == ticket; })) {
            if (turn->waiting.empty()) {
                m_turns.erase(turn);
            }
            return true;
        }
    }
    return false;
}

void Arbiter::leave(Time now, const Client& client) {
    std::erase_if(m_turns, [&](const Turn& t) { return t.client == &client; });
    std::erase_if(m_events, [&](const Event& e) { return e.client == &client; });
    m_copies.erase(&client);
    for (OnLine& sent : m_sent) {
        if (sent.client == &client) {
            sent.client = nullptr;
        }
    }
    pump(now);
}

void Arbiter::received(Time now, std::string_view bytes) {
    expire(now); // a window that has closed takes no reply
    m_reading = true;
    for (const char c : bytes) {
        if (m_noise) { // too long to be a reply: thrown away up to its carriage return
            m_noise = c != '\r';
            m_lastLateByte = m_sent.empty() ? now : m_lastLateByte;
            continue;
        }
        m_reply += c;
        if (c == '\r') {
            take(now, std::exchange(m_reply, {}));
        } else if (m_reply.size() > kLongestReply) {
            ++m_counts.thrownAway;
            m_watcher.thrownAway(now, std::exchange(m_reply, {}));
            m_noise = true;
            m_lastLateByte = m_sent.empty() ? now : m_lastLateByte;
            if (!m_sent.empty()) {
                m_sent.front().heard = true; // something answers, garbled
            }
        } else if (!m_sent.empty()) {
            m_sent.front().replying = true;
        } else {
            m_lastLateByte = now; // nothing asked: late, or the line speaking unasked
        }
    }
    m_reading = false;
    pump(now);
    flush();
}

// A whole reply: the oldest frame's on the line, if it has that frame's shape.
void Arbiter::take(Time now, const std::string& reply) {
    const auto parts = m_sent.empty() ? std::nullopt : protocol::splitFrame(m_sent.front().frame);
    if (!parts || !protocol::fitsReply(parts->code, reply)) {
        ++m_counts.thrownAway;
        m_watcher.thrownAway(now, reply);
        if (m_sent.empty()) {
            m_lastLateByte = now;
            const OnLine& late = m_lastUnanswered;
            const auto lateParts = protocol::splitFrame(late.frame);
            if (lateParts && now - late.at <= m_settings.lateWindow &&
                protocol::fitsReply(lateParts->code, reply)) {
                answeredBy(now, late.frame); // slow, not absent: its replies are thrown away
            }
        } else {
            OnLine& on = m_sent.front();
            on.replying = false; // bytes of no reply to it: its own has not begun
            // Something answered, garbled (a line at another speed, noise): not an absent
            // projector. An echo of the frame itself says nothing of the projector.
            on.heard = on.heard || reply != on.frame;
        }
        return;
    }
    const OnLine answered = std::move(m_sent.front());
    m_sent.pop_front();
    ++m_counts.answered;
    if (m_sent.empty()) { // answered: the projector has had the frame, whole
        m_wireFree = std::min(m_wireFree, now);
    }
    answeredBy(now, answered.frame);
    m_watcher.answered(now, answered.frame, reply);
    if (answered.client != nullptr) {
        m_events.push_back({answered.client, answered.ticket, Event::Delivered, {}, reply});
        tell(answered.client, answered.ticket, answered.frame,
             {Outcome::Answered, now, answered.at, {}});
    }
}

void Arbiter::wake(Time now) {
    pump(now);
    flush();
}

void Arbiter::lineLost(Time now) {
    for (Turn& turn : std::exchange(m_turns, {})) {
        for (const Waiting& w : turn.waiting) {
            tell(w.client, w.ticket, w.frame, {Outcome::LineLost, now, {}, {}});
        }
    }
    for (const OnLine& sent : std::exchange(m_sent, {})) {
        m_quietFrom = std::max<Time>(m_quietFrom, sent.at + m_settings.lateWindow);
        if (sent.client != nullptr) {
            tell(sent.client, sent.ticket, sent.frame, {Outcome::LineLost, now, sent.at, {}});
        }
    }
    m_reply.clear();
    m_noise = false;
    m_afterSilence = false;
    m_answeringFirst.reset();
    m_addresses.clear();
    // A line that comes back at once may still carry a late reply of before: the late window
    // of every frame that was on it is waited out.
    m_lastWake = now;
    flush();
}

void Arbiter::tell(Client* client, Ticket ticket, std::string_view frame, const Ending& ending) {
    m_events.push_back({client, ticket, Event::Finished, ending, std::string(frame)});
}

// Clients hear of their frames only here, between the arbiter's steps: never inside their own
// call, and free to submit again from what they are told. Events told meanwhile wait their
// turn in the queue.
void Arbiter::flush() {
    if (m_flushing) {
        return;
    }
    m_flushing = true;
    while (!m_events.empty()) {
        const Event e = std::move(m_events.front());
        m_events.pop_front();
        switch (e.kind) {
        case Event::Sent:
            e.client->sent(e.ticket, e.ending.at);
            break;
        case Event::Delivered:
            e.client->delivered(e.ticket, e.bytes);
            break;
        case Event::Finished:
            m_watcher.ended(*e.client, e.bytes, e.ending);
            e.client->finished(e.ticket, e.ending);
            break;
        }
    }
    m_flushing = false;
}

bool Arbiter::heldByAnother(const Client& me, Time now) const {
    return std::any_of(m_copies.begin(), m_copies.end(), [&](const auto& c) {
        return c.first != &me && c.second.inARow >= 2 && now - c.second.at <= kHeldGap;
    });
}

bool Arbiter::quiet(Time now) const {
    return now >= m_quietFrom && now >= m_lastLateByte + kQuietAfterLateBytes;
}

bool Arbiter::lineFree(Time now) const {
    return quiet(now) && now >= m_wireFree && m_line.pending() == 0 && !m_line.suspended();
}

// The client whose turn it is may send its next frame: at once when nothing is on the line;
// while an exchange is on, only a copy of the frame on the line from the same client (a held
// button), since another frame would be answered by a reply its client could not tell apart.
bool Arbiter::mayGo(const Turn& turn) const {
    const Waiting& head = turn.waiting.front();
    return m_sent.empty() ||
           (head.client == m_sent.back().client && head.frame == m_sent.back().frame);
}

Arbiter::Address* Arbiter::addressOf(std::string_view frame) {
    const auto parts = protocol::splitFrame(frame);
    if (!parts || !protocol::oneProjector(parts->prefix)) {
        return nullptr;
    }
    auto it = m_addresses.find(parts->prefix);
    if (it == m_addresses.end()) {
        it = m_addresses.emplace(std::string(parts->prefix), Address{}).first;
    }
    return &it->second;
}

void Arbiter::answeredBy(Time now, std::string_view frame) {
    if (Address* a = addressOf(frame)) {
        a->unanswered = 0;
        a->answered = true;
        if (std::exchange(a->absent, false)) {
            m_watcher.presence(now, protocol::splitFrame(frame)->prefix, true);
        }
    }
}

void Arbiter::unansweredBy(Time now, std::string_view frame) {
    Address* a = addressOf(frame);
    if (a != nullptr && ++a->unanswered >= kUnansweredForAbsent && !a->absent) {
        a->absent = true;
        a->probeAt = now + m_settings.probe;
        m_watcher.presence(now, protocol::splitFrame(frame)->prefix, false);
    }
}

void Arbiter::expire(Time now) {
    for (auto turn = m_turns.begin(); turn != m_turns.end();) {
        for (auto w = turn->waiting.begin(); w != turn->waiting.end();) {
            if (now - w->since > m_settings.maxWait) {
                ++m_counts.tooLong;
                tell(w->client, w->ticket, w->frame, {Outcome::TooLong, now, {}, {}});
                w = turn->waiting.erase(w);
            } else {
                ++w;
            }
        }
        turn = turn->waiting.empty() ? m_turns.erase(turn) : std::next(turn);
    }
    while (!m_sent.empty()) {
        // A reply that has begun may finish after its window; one that never ends is given
        // up with the late window. Copies on the line close in their order.
        const OnLine& s = m_sent.front();
        const Time closes =
            s.at + m_settings.replyWindow + (s.replying ? m_settings.lateWindow : 0ms);
        if (now < closes) {
            break;
        }
        ++m_counts.unanswered;
        m_quietFrom = std::max<Time>(m_quietFrom, s.at + m_settings.lateWindow);
        OnLine done = std::move(m_sent.front());
        m_sent.pop_front();
        if (done.replying) { // begun and abandoned: no one's; but not an echo, something answers
            done.heard = done.heard || !std::string_view(done.frame).starts_with(m_reply);
            m_reply.clear();
        }
        if (!done.heard) {
            unansweredBy(now, done.frame);
        }
        m_lastUnanswered = done;
        m_afterSilence = true;
        if (done.client != nullptr) {
            tell(done.client, done.ticket, done.frame, {Outcome::Unanswered, now, done.at, {}});
        }
    }
}

// Frames to a projector that does not answer end at once, unless its probe is due.
void Arbiter::endAbsent(Time now) {
    for (auto turn = m_turns.begin(); turn != m_turns.end();) {
        for (auto w = turn->waiting.begin(); w != turn->waiting.end();) {
            const Address* a = addressOf(w->frame);
            if (a != nullptr && a->absent && now < a->probeAt) {
                ++m_counts.absent;
                tell(w->client, w->ticket, w->frame, {Outcome::Absent, now, {}, a->probeAt});
                w = turn->waiting.erase(w);
            } else {
                ++w;
            }
        }
        turn = turn->waiting.empty() ? m_turns.erase(turn) : std::next(turn);
    }
}

bool Arbiter::suspect(std::string_view frame) {
    const Address* a = addressOf(frame);
    return a != nullptr && (a->unanswered > 0 || !a->answered);
}

// The turn whose frame goes next: the first in turn order; after a silence, the first whose
// frame waited through it and goes to a projector that answers, until none is left. None
// while the frame chosen must wait for an exchange on the line.
std::optional<std::size_t> Arbiter::nextTurn() {
    if (m_turns.empty()) {
        return std::nullopt;
    }
    std::size_t chosen = 0;
    if (m_answeringFirst) {
        const auto answering = std::find_if(m_turns.begin(), m_turns.end(), [&](const Turn& t) {
            return t.waiting.front().since <= *m_answeringFirst &&
                   !suspect(t.waiting.front().frame);
        });
        if (answering == m_turns.end()) {
            m_answeringFirst.reset();
        } else {
            chosen = std::size_t(answering - m_turns.begin());
        }
    }
    return mayGo(m_turns[chosen]) ? std::optional(chosen) : std::nullopt;
}

void Arbiter::send(Time now, std::size_t index) {
    Turn& turn = m_turns[index];
    Waiting going = std::move(turn.waiting.front());
    turn.waiting.pop_front();
    // Its next frame waits for the others' turns.
    Turn rest = std::move(turn);
    m_turns.erase(m_turns.begin() + std::ptrdiff_t(index));
    if (!rest.waiting.empty()) {
        m_turns.push_back(std::move(rest));
    }
    if (Address* a = addressOf(going.frame); a != nullptr && a->absent) {
        a->probeAt = now + m_settings.probe; // this is its probe
    }
    if (m_sent.empty()) {
        m_reply.clear(); // bytes that came before the frame are no reply to it
        m_noise = false;
    }
    if (!m_line.write(going.frame, *going.client)) {
        tell(going.client, going.ticket, going.frame, {Outcome::LineLost, now, {}, {}});
        return;
    }
    ++m_counts.sent;
    m_wireFree = now + lineTime(going.frame.size(), m_line.speed());
    m_events.push_back(
        {going.client, going.ticket, Event::Sent, {Outcome::Answered, now, now, {}}, {}});
    m_sent.push_back({going.ticket, going.client, std::move(going.frame), now, false});
}

void Arbiter::pump(Time now) {
    m_lastWake = now;
    expire(now);
    endAbsent(now);
    while (lineFree(now)) {
        if (std::exchange(m_afterSilence, false)) {
            m_answeringFirst = now;
        }
        const auto turn = nextTurn();
        if (!turn) {
            return;
        }
        send(now, *turn);
    }
}

std::optional<Time> Arbiter::nextWake() {
    if (!m_events.empty()) {
        return m_lastWake; // clients to be told: at once
    }
    std::optional<Time> first;
    const auto consider = [&](Time t) { first = first ? std::min(*first, t) : t; };
    for (const Turn& turn : m_turns) {
        for (const Waiting& w : turn.waiting) {
            consider(w.since + m_settings.maxWait + 1us);
        }
    }
    if (!m_sent.empty()) {
        const OnLine& s = m_sent.front();
        consider(s.at + m_settings.replyWindow + (s.replying ? m_settings.lateWindow : 0ms));
    }
    if (nextTurn()) {
        const Time free =
            std::max({m_wireFree, m_quietFrom, m_lastLateByte + kQuietAfterLateBytes});
        const bool held = m_line.pending() > 0 || m_line.suspended();
        consider(held ? std::max(free, m_lastWake + kPoll) : free);
    }
    return first;
}

} // namespace vk9::gate
