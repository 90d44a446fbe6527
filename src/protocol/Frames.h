#pragma once

#include "adjust/Adjust.h"
#include "commands/Catalogue.h"
#include "serial/Addressing.h"

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace vk9::protocol {

// The code a button sends, by the name scripts know it by ("power-on" -> "C00"): every table
// outside the panel names its codes through here, so the panel's catalogue is the only one.
// An unknown name does not compile where the result must be a constant.
constexpr std::string_view codeNamed(std::string_view name) {
    for (const auto& row : kOneShots) {
        if (row.name == name) {
            return row.code;
        }
    }
    for (const auto& row : kSelectors) {
        if (row.name == name) {
            return row.code;
        }
    }
    for (const auto& row : kHoldButtons) {
        if (row.name == name) {
            return row.code;
        }
    }
    throw std::invalid_argument("no button has this name");
}

// The six status queries, by what they ask.
inline constexpr std::string_view kPowerQuery = codeNamed("query-status");     // CR0
inline constexpr std::string_view kInputQuery = codeNamed("query-mode");       // CR1
inline constexpr std::string_view kLampHoursQuery = codeNamed("query-l-time"); // CR3
inline constexpr std::string_view kReversalQuery = codeNamed("query-setting"); // CR4
inline constexpr std::string_view kTemperatureQuery = codeNamed("query-temp"); // CR6
inline constexpr std::string_view kLampModeQuery = codeNamed("query-l-mode");  // CR7

// A frame's address prefix ("A001", "AFFF", or none) and its code.
struct FrameParts {
    std::string_view prefix;
    std::string_view code;
};
// Nothing for bytes that are no frame: a prefix of four characters or none, three for the
// code, a carriage return.
std::optional<FrameParts> splitFrame(std::string_view frame);

inline constexpr std::string_view kEveryProjector = "AFFF";

// An address prefix the panel can put on a frame: none, a projector's ("A001"), or AFFF.
constexpr bool knownPrefix(std::string_view prefix) {
    for (const auto& row : kAddressOptions) {
        if (row.prefix == prefix) {
            return true;
        }
    }
    return false;
}
// One projector's: "A001" to "A004", or none for the one without an address.
constexpr bool oneProjector(std::string_view prefix) {
    return prefix != kEveryProjector && knownPrefix(prefix);
}

// Whether a whole reply (up to and with its carriage return) has the shape of the answer to
// `code`: its own shape for a status query, an acknowledgement for an operation. A reply of
// another shape answers some other frame, or is noise.
bool fitsReply(std::string_view code, std::string_view reply);

} // namespace vk9::protocol
