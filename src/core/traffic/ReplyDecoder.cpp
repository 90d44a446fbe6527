#include "traffic/ReplyDecoder.h"

#include "traffic/TrafficText.h"

namespace vk9 {

namespace {

template <std::size_t N>
std::optional<std::string> lookUp(const std::array<ReplyRow, N>& table, std::string_view compared) {
    for (const auto& row : table) {
        if (row.compared == compared) {
            return std::string(row.message);
        }
    }
    return std::nullopt;
}

std::optional<int> hexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10; // upper case only: "1a" is no lamp reply
    }
    return std::nullopt;
}

std::optional<std::string> lampMode(std::string_view compared) {
    if (compared.size() != 4 || compared[0] != ' ' || compared[2] != ' ') {
        return std::nullopt;
    }
    const char mode = compared[1];
    const auto lamps = hexDigit(compared[3]);
    if (mode < '0' || mode > '2' || !lamps) {
        return std::nullopt;
    }
    return std::string(kLitLamps[static_cast<std::size_t>(*lamps)]) +
           std::string(kLampModes[static_cast<std::size_t>(mode - '0')].text);
}

std::optional<std::string> decodeAs(QueryKind kind, std::string_view rxd) {
    switch (kind) {
    case QueryKind::Power:
        return lookUp(kPowerReplies, leftOf(rxd, 4));
    case QueryKind::Input:
        return lookUp(kInputReplies, leftOf(rxd, 2));
    case QueryKind::Reversal:
        return lookUp(kReversalReplies, leftOf(rxd, 4));
    case QueryKind::LampHours:
        // The hours are shown as rendered, partial while the reply is still arriving.
        return std::string(leftOf(rxd, 38)) + " Hour Use";
    case QueryKind::Temperature:
        // S1 is reply characters 1 to 5, S2 characters 8 to 11; 6 and 7 are not shown.
        return "  S1=" + std::string(leftOf(rxd, 10)) +
               " C  ,   S2= " + std::string(midOf(rxd, 15, 8)) + " C";
    case QueryKind::LampMode:
        return lampMode(leftOf(rxd, 4));
    }
    return std::nullopt;
}

} // namespace

std::optional<std::string> decodeReply(std::string_view rxdCaption, std::string_view commandText,
                                       std::string_view addressPrefix) {
    for (const auto& query : kQueries) {
        const bool sent =
            commandText.size() == addressPrefix.size() + query.code.size() + 1 &&
            commandText.substr(0, addressPrefix.size()) == addressPrefix &&
            commandText.substr(addressPrefix.size(), query.code.size()) == query.code &&
            commandText.back() == '\r';
        if (sent) {
            return decodeAs(query.kind, rxdCaption);
        }
    }
    return std::nullopt;
}

} // namespace vk9
