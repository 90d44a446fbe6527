#include "Replies.h"

#include "Json.h"
#include "traffic/ReplyDecoder.h"
#include "traffic/TrafficPath.h"
#include "traffic/TrafficText.h"

#include <QRegularExpression>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace vk9::ctl {

namespace {

// The word of the decoding table's row for the STATUS text.
template <std::size_t N>
std::string wordFor(const std::array<ReplyRow, N>& rows, std::string_view message) {
    for (const ReplyRow& row : rows) {
        if (row.message == message) {
            return jsonString(row.word);
        }
    }
    return "null";
}

// A temperature as the reply gives it ("041.5", " 38.0"), or nothing.
bool temperature(std::string_view field, std::string& json) {
    const std::string text(field);
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (end == text.c_str() || *end != '\0') {
        return false;
    }
    char number[32];
    std::snprintf(number, sizeof number, "%g", value);
    json = number;
    return true;
}

} // namespace

bool isQuery(std::string_view code) {
    return std::any_of(kReplyShapes.begin(), kReplyShapes.end(),
                       [&](const ReplyShape& s) { return s.code == code; });
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

Reading readReply(std::string_view code, std::string_view reply) {
    if (!isQuery(code)) {
        return {reply == "\x06\r", {}, {}};
    }
    if (reply.empty() || reply.back() != '\r') {
        return {};
    }
    const std::string_view body = reply.substr(0, reply.size() - 1);
    const auto* shape = std::find_if(kReplyShapes.begin(), kReplyShapes.end(),
                                     [&](const ReplyShape& s) { return s.code == code; });
    const QRegularExpression whole("\\A(?:" + QString::fromLatin1(shape->pattern) + ")\\z");
    if (!whole.match(QString::fromLatin1(body.data(), qsizetype(body.size()))).hasMatch()) {
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
        r.values = {{"input", std::string(body)}};
    } else if (code == "CR3") {
        const auto hours = body.find_first_not_of('0');
        r.values = {{"lamp_hours",
                     hours == std::string_view::npos ? "0" : std::string(body.substr(hours))}};
    } else if (code == "CR4") {
        r.values = {{"reversal", wordFor(kReversalReplies, *text)}};
    } else if (code == "CR6") {
        std::string s1;
        std::string s2;
        if (!temperature(body.substr(0, 5), s1) || !temperature(body.substr(7, 4), s2)) {
            return {};
        }
        r.values = {{"s1", s1}, {"s2", s2}};
    } else if (code == "CR7") {
        const std::string_view mode = *text;
        std::string word = "null";
        for (const LampMode& m : kLampModes) {
            if (mode.size() >= m.text.size() &&
                mode.substr(mode.size() - m.text.size()) == m.text) {
                word = jsonString(m.word);
            }
        }
        const int lit = std::stoi(std::string(body.substr(1, 1)), nullptr, 16);
        std::vector<std::string> lamps;
        for (int lamp = 0; lamp < 4; ++lamp) {
            if ((lit & (1 << lamp)) != 0) {
                lamps.push_back(std::to_string(lamp + 1));
            }
        }
        r.values = {{"lamp_mode", word}, {"lamps_lit", jsonArray(lamps)}};
    }
    return r;
}

} // namespace vk9::ctl
