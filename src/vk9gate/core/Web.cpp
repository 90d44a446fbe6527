#include "vk9gate/core/Web.h"

#include "adjust/Adjust.h"
#include "commands/Catalogue.h"
#include "model/Layout.h"
#include "model/Lookup.h"
#include "protocol/Frames.h"
#include "protocol/Json.h"
#include "protocol/Replies.h"
#include "traffic/TrafficPath.h"

#include <algorithm>

namespace vk9::gate::web {

namespace {

std::vector<Button> allButtons() {
    std::vector<Button> all;
    for (const auto& row : kOneShots) {
        all.push_back({row.id, row.name, row.code, Press::Tap});
    }
    for (const auto& row : kSelectors) {
        all.push_back({row.id, row.name, row.code, Press::Select, row.repeat});
    }
    for (const auto& row : kHoldButtons) {
        all.push_back({row.id, row.name, row.code, Press::Hold,
                       row.kind == HoldKind::Timed ? row.repeat : milliseconds(0),
                       row.digitalZoom});
    }
    return all;
}

const std::vector<Button>& buttons() {
    static const std::vector<Button> all = allButtons();
    return all;
}

// The readings a page is shown, by the query that reads each.
struct ReadingKey {
    std::string_view code;
    std::string_view key;
};
constexpr std::array kReadingKeys{
    ReadingKey{protocol::kPowerQuery, "power"},
    ReadingKey{protocol::kInputQuery, "input"},
    ReadingKey{protocol::kLampHoursQuery, "lamp_hours"},
    ReadingKey{protocol::kLampModeQuery, "lamp_mode"},
    ReadingKey{protocol::kTemperatureQuery, "temperature"},
    ReadingKey{protocol::kReversalQuery, "reversal"},
};

std::string idJson(const std::optional<double>& id) {
    if (!id) {
        return "null";
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.17g", *id);
    return text;
}

} // namespace

const Button* findButton(std::string_view name) {
    const auto& all = buttons();
    const auto it =
        std::find_if(all.begin(), all.end(), [&](const Button& b) { return b.name == name; });
    return it == all.end() ? nullptr : &*it;
}

std::string helloMessage(std::string_view gate, const std::vector<Choice>& projectors) {
    std::vector<std::string> choices;
    for (const Choice& p : projectors) {
        choices.push_back(JsonObject()
                              .add("address", jsonString(p.address))
                              .add("name", jsonString(p.name, true))
                              .text());
    }
    std::vector<std::string> groups;
    for (const GroupRow& group : kGroups) {
        std::vector<std::string> items;
        for (const Control id : group.buttons) {
            const ButtonRow* row = findRow(kButtons, id);
            const auto b = std::find_if(buttons().begin(), buttons().end(),
                                        [&](const Button& each) { return each.id == id; });
            if (row == nullptr || b == buttons().end()) {
                continue;
            }
            const bool confirm =
                std::find(kConfirmed.begin(), kConfirmed.end(), b->name) != kConfirmed.end();
            items.push_back(
                JsonObject()
                    .add("button", jsonString(b->name))
                    .add("caption", jsonString(row->caption, true))
                    .add("label", jsonString(row->accessibleName.empty() ? row->caption
                                                                         : row->accessibleName,
                                             true))
                    .add("hold", b->press == Press::Hold ? "true" : "false")
                    .add("confirm", confirm ? "true" : "false")
                    .text());
        }
        groups.push_back(JsonObject()
                             .add("id", jsonString(group.id))
                             .add("title", jsonString(group.title, true))
                             .add("label", jsonString(group.label, true))
                             .add("buttons", jsonArray(items))
                             .text());
    }
    return JsonObject()
        .add("kind", jsonString("hello"))
        .add("version", std::to_string(kProtocolVersion))
        .add("gate", jsonString(gate, true))
        .add("heartbeat_ms", "100")
        .add("projectors", jsonArray(choices))
        .add("groups", jsonArray(groups))
        .text();
}

std::string lineMessage(std::string_view state, std::string_view why) {
    return JsonObject()
        .add("kind", jsonString("line"))
        .add("state", jsonString(state))
        .add("why", why.empty() ? "null" : jsonString(why, true))
        .text();
}

std::string stateMessage(const Choice& projector, const ProjectorState* state) {
    JsonObject readings;
    if (state != nullptr) {
        for (const auto& [code, key] : kReadingKeys) {
            const auto r = state->readings.find(code);
            if (r == state->readings.end()) {
                continue;
            }
            const protocol::Reading reading = protocol::readReply(code, r->second.reply);
            if (!reading.ok) {
                continue;
            }
            JsonObject values;
            for (const auto& [name, value] : reading.values) {
                values.add(name, protocol::valueJson(value));
            }
            readings.add(key, JsonObject()
                                  .add("text", jsonString(reading.text, true))
                                  .add("values", values.text())
                                  .text());
        }
    }
    const char* answers = "null";
    if (state != nullptr && state->answers.has_value()) {
        answers = state->answers.value() ? "true" : "false";
    }
    return JsonObject()
        .add("kind", jsonString("state"))
        .add("projector", jsonString(projector.address))
        .add("answers", answers)
        .add("readings", readings.text())
        .text();
}

bool Intake::take(Time now) {
    const double seconds = std::chrono::duration<double>(now - m_at).count();
    m_tokens = std::min(kBurst, m_tokens + std::max(0.0, seconds) * kRate);
    m_at = now;
    if (m_tokens < 1) {
        return false;
    }
    m_tokens -= 1;
    return true;
}

std::string_view outcomeWord(Outcome outcome, bool query) {
    switch (outcome) {
    case Outcome::Answered:
        return query ? "answered" : "acknowledged";
    case Outcome::Unanswered:
        return "unanswered";
    case Outcome::Absent:
        return "absent";
    case Outcome::TooLong:
    case Outcome::Repeated:
    case Outcome::QueueFull:
        return "busy";
    case Outcome::LineLost:
        return "lost";
    }
    return "lost";
}

Page::~Page() {
    m_arbiter.leave(m_now, *this);
}

std::optional<std::string> Page::prefixFor(std::string_view to) const {
    if (to == "all") {
        // Every projector, when they have addresses; a single one has none to share.
        const bool addressed = std::any_of(m_addresses.begin(), m_addresses.end(),
                                           [](const std::string& a) { return !a.empty(); });
        return addressed ? std::optional(std::string(protocol::kEveryProjector)) : std::nullopt;
    }
    if (std::find(m_addresses.begin(), m_addresses.end(), to) == m_addresses.end()) {
        return std::nullopt;
    }
    return to.empty() ? std::string() : "A" + std::string(to);
}

std::optional<std::string> Page::take(Time now, const Request& request) {
    m_now = now;
    if (request.kind == Request::Beat) {
        if (m_hold) {
            m_hold->lastWord = now;
        }
        return std::nullopt;
    }
    if (request.kind == Request::Release) {
        if (m_hold) {
            endHold(now, "released");
        }
        return std::nullopt;
    }
    const Button* button = findButton(request.button);
    if (button == nullptr) {
        return "no button is called \"" + request.button + "\"";
    }
    const auto prefix = prefixFor(request.to);
    if (!prefix) {
        return "no projector \"" + request.to + "\" here";
    }
    if (request.kind == Request::Hold && button->press != Press::Hold) {
        return std::string(button->name) + " is not held: press it";
    }
    if (m_hold) { // one hold at a time: any press ends it
        endHold(now, "another press");
    }
    const std::string frame = commandFrame(*prefix, button->code);
    if (request.kind == Request::Press) {
        if (button->press == Press::Select) {
            m_cursorRepeat = button->repeat;
        }
        const Ticket ticket = m_arbiter.submit(now, *this, frame);
        m_taps[ticket] = Tap{std::string(button->code), request.id, {}};
        return std::nullopt;
    }
    const milliseconds period = button->repeat.count() > 0 ? button->repeat : m_cursorRepeat;
    if (button->repeat.count() > 0) {
        m_cursorRepeat = button->repeat; // a timed hold sets the repeat the arrows use next
    }
    m_hold = Hold{button, frame, request.id, period, now, now + period, {}, {}, {}, 0, false};
    submitCopy(now);
    m_hold->first = m_hold->last;
    return std::nullopt;
}

void Page::submitCopy(Time now) {
    const Ticket ticket = m_arbiter.submit(now, *this, m_hold->frame);
    m_hold->waiting = ticket;
    m_hold->last = ticket;
}

void Page::wake(Time now) {
    m_now = now;
    if (!m_hold) {
        return;
    }
    if (now >= m_hold->lastWord + kHeartbeatLimit) {
        endHold(now, "no heartbeat");
        return;
    }
    if (now < m_hold->nextCopy) {
        return;
    }
    // One copy a period at most, and none while the last still waits for the line: a tick
    // that comes late sends one copy, not the ones it missed.
    if (!m_hold->waiting) {
        submitCopy(now);
    }
    while (m_hold->nextCopy <= now) {
        m_hold->nextCopy += m_hold->period;
    }
}

std::optional<Time> Page::nextWake() const {
    if (!m_hold) {
        return std::nullopt;
    }
    return std::min(m_hold->nextCopy, m_hold->lastWord + kHeartbeatLimit);
}

void Page::lineLost(Time now) {
    m_now = now;
    if (m_hold) {
        endHold(now, "lost");
    }
}

void Page::endHold(Time now, std::string_view why) {
    m_now = now;
    if (m_hold->waiting) {
        m_arbiter.withdraw(*m_hold->waiting);
    }
    if (m_hold->button->digitalZoom) {
        m_cursorRepeat = kDigitalZoomRepeat;
    }
    const std::string message = JsonObject()
                                    .add("kind", jsonString("released"))
                                    .add("id", idJson(m_hold->id))
                                    .add("button", jsonString(m_hold->button->name))
                                    .add("copies", std::to_string(m_hold->copies))
                                    .add("why", jsonString(why))
                                    .text();
    m_hold.reset();
    m_send(message);
}

void Page::sent(Ticket ticket, Time /*at*/) {
    if (m_hold && ticket == m_hold->waiting) {
        m_hold->waiting.reset();
        ++m_hold->copies;
        return;
    }
    if (const auto tap = m_taps.find(ticket); tap != m_taps.end()) {
        m_send(
            JsonObject().add("kind", jsonString("sent")).add("id", idJson(tap->second.id)).text());
    }
}

void Page::delivered(Ticket ticket, std::string_view reply) {
    if (const auto tap = m_taps.find(ticket); tap != m_taps.end()) {
        tap->second.reply = reply;
    }
}

void Page::finished(Ticket ticket, const Ending& ending) {
    if (const auto tap = m_taps.find(ticket); tap != m_taps.end()) {
        const bool query = protocol::isQuery(tap->second.code);
        const protocol::Reading reading =
            query && ending.outcome == Outcome::Answered
                ? protocol::readReply(tap->second.code, tap->second.reply)
                : protocol::Reading{};
        m_send(JsonObject()
                   .add("kind", jsonString("outcome"))
                   .add("id", idJson(tap->second.id))
                   .add("outcome", jsonString(outcomeWord(ending.outcome, query)))
                   .add("text", reading.ok ? jsonString(reading.text, true) : "null")
                   .text());
        m_taps.erase(tap);
        return;
    }
    if (!m_hold || (ticket != m_hold->last && ticket != m_hold->first)) {
        return;
    }
    if (ticket == m_hold->waiting) {
        m_hold->waiting.reset(); // ended without going on the line
    }
    if (ticket == m_hold->first && !m_hold->told) {
        m_hold->told = true;
        m_send(JsonObject()
                   .add("kind", jsonString("outcome"))
                   .add("id", idJson(m_hold->id))
                   .add("outcome", jsonString(outcomeWord(ending.outcome, false)))
                   .add("text", "null")
                   .text());
    }
    if (ticket == m_hold->last &&
        (ending.outcome == Outcome::Absent || ending.outcome == Outcome::LineLost)) {
        endHold(ending.at, outcomeWord(ending.outcome, false));
    }
}

} // namespace vk9::gate::web
