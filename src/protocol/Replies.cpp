#include "protocol/Replies.h"

#include "protocol/Json.h"

#include "traffic/ReplyDecoder.h"
#include "traffic/TrafficPath.h"
#include "traffic/TrafficText.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <regex>

namespace vk9::protocol {

namespace {

// The word of the decoding table's row for the STATUS text.
template <std::size_t N>
Value wordFor(const std::array<ReplyRow, N>& rows, std::string_view message) {
    for (const ReplyRow& row : rows) {
        if (row.message == message) {
            return std::string(row.word);
        }
    }
    return std::string();
}

// A temperature as the reply gives it ("041.5", " 38.0"), or nothing.
std::optional<double> temperature(std::string_view field) {
    const std::string text(field);
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (end == text.c_str() || *end != '\0') {
        return std::nullopt;
    }
    return value;
}

const ReplyShape* shapeOf(std::string_view code) {
    const auto* shape = std::find_if(kReplyShapes.begin(), kReplyShapes.end(),
                                     [&](const ReplyShape& s) { return s.code == code; });
    return shape == kReplyShapes.end() ? nullptr : shape;
}

} // namespace

bool isQuery(std::string_view code) {
    return shapeOf(code) != nullptr;
}

std::vector<std::string> valueKeys(std::string_view code) {
    if (code == "CR0") {
        return {"power"};
    }
    if (code == "CR1") {
        return {"input"};
    }
    if (code == "CR3") {
        return {"lamp_hours"};
    }
    if (code == "CR4") {
        return {"reversal"};
    }
    if (code == "CR6") {
        return {"s1", "s2"};
    }
    if (code == "CR7") {
        return {"lamp_mode", "lamps_lit"};
    }
    return {};
}

const Value* valueOf(const Reading& reading, std::string_view key) {
    for (const auto& [name, value] : reading.values) {
        if (name == key) {
            return &value;
        }
    }
    return nullptr;
}

Reading readReply(std::string_view code, std::string_view reply) {
    const ReplyShape* shape = shapeOf(code);
    if (shape == nullptr) {
        return {reply == kAcknowledged, {}, {}};
    }
    if (reply.empty() || reply.back() != '\r') {
        return {};
    }
    const std::string body(reply.substr(0, reply.size() - 1));
    if (!std::regex_match(body, std::regex(std::string(shape->pattern)))) {
        return {};
    }
    const auto text = decodeReply(trafficText(reply), commandFrame("", code), "");
    if (!text) {
        return {}; // of the shape, but in no row of the decoding table
    }
    Reading r{true, *text, {}};
    if (code == "CR0") {
        r.values = {{"power", wordFor(kPowerReplies, *text)}};
    } else if (code == "CR1") {
        r.values = {{"input", static_cast<long long>(body[0] - '0')}};
    } else if (code == "CR3") {
        r.values = {{"lamp_hours", std::stoll(body)}};
    } else if (code == "CR4") {
        r.values = {{"reversal", wordFor(kReversalReplies, *text)}};
    } else if (code == "CR6") {
        const auto s1 = temperature(std::string_view(body).substr(0, 5));
        const auto s2 = temperature(std::string_view(body).substr(7, 4));
        if (!s1 || !s2) {
            return {};
        }
        r.values = {{"s1", *s1}, {"s2", *s2}};
    } else if (code == "CR7") {
        const auto& mode = kLampModes.at(static_cast<std::size_t>(body[0] - '0'));
        const int lit = std::stoi(body.substr(1, 1), nullptr, 16);
        std::vector<int> lamps;
        for (int lamp = 0; lamp < 4; ++lamp) {
            if ((lit & (1 << lamp)) != 0) {
                lamps.push_back(lamp + 1);
            }
        }
        r.values = {{"lamp_mode", std::string(mode.word)}, {"lamps_lit", lamps}};
    }
    return r;
}

std::optional<PowerReading> readPower(std::string_view reply) {
    if (!readReply("CR0", reply).ok) {
        return std::nullopt;
    }
    // The first character, as the power table's rows without a temperature abnormality.
    static constexpr std::pair<char, Power> kStates[] = {{'0', Power::On},
                                                         {'8', Power::StandBy},
                                                         {'4', Power::CountDown},
                                                         {'2', Power::Cooling},
                                                         {'1', Power::Fault}};
    for (const auto& [first, state] : kStates) {
        if (reply[0] == first) {
            return PowerReading{state, reply[1] == '8'};
        }
    }
    return std::nullopt;
}

std::string valueJson(const Value& value) {
    if (const auto* word = std::get_if<std::string>(&value)) {
        return word->empty() ? "null" : jsonString(*word);
    }
    if (const auto* whole = std::get_if<long long>(&value)) {
        return std::to_string(*whole);
    }
    if (const auto* number = std::get_if<double>(&value)) {
        char text[32];
        std::snprintf(text, sizeof text, "%g", *number);
        return text;
    }
    std::vector<std::string> items;
    for (const int item : std::get<std::vector<int>>(value)) {
        items.push_back(std::to_string(item));
    }
    return jsonArray(items);
}

} // namespace vk9::protocol
