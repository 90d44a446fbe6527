// Reply decoding on arbitrary replies, queries and prefixes: never crashes, decodes only
// under the prefix it was sent with, and every table message is one the tables hold.
// Input: one byte choosing the command, one choosing the prefix, then the reply.
#include "traffic/ReplyDecoder.h"
#include "traffic/TrafficText.h"

#include <array>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {
constexpr std::array<std::string_view, 8> kCommands{"CR0", "CR1", "CR4", "CR3",
                                                    "CR6", "CR7", "C00", "C70"};
constexpr std::array<std::string_view, 6> kPrefixes{"", "AFFF", "A001", "A002", "A003", "A004"};

bool isTableMessage(const std::string& m) {
    for (const auto& r : vk9::kPowerReplies) {
        if (r.message == m)
            return true;
    }
    for (const auto& r : vk9::kInputReplies) {
        if (r.message == m)
            return true;
    }
    for (const auto& r : vk9::kReversalReplies) {
        if (r.message == m)
            return true;
    }
    return false;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) {
        return 0;
    }
    const auto command = kCommands[data[0] % kCommands.size()];
    const auto sentWith = kPrefixes[data[1] % kPrefixes.size()];
    const auto decodedWith = kPrefixes[(data[1] / kPrefixes.size()) % kPrefixes.size()];
    const std::string reply(reinterpret_cast<const char*>(data + 2), size - 2);
    const std::string frame = std::string(sentWith) + std::string(command) + "\r";
    const auto message = vk9::decodeReply(vk9::trafficText(reply), frame, decodedWith);
    const bool query = command.substr(0, 2) == "CR";
    if (message && (!query || sentWith != decodedWith)) {
        std::abort(); // decoded a reply it should not have
    }
    if (query && sentWith == decodedWith && (command == "CR3" || command == "CR6") && !message) {
        std::abort(); // lamp hours and temperatures always write
    }
    const bool table = command == "CR0" || command == "CR1" || command == "CR4";
    if (message && table && !isTableMessage(*message)) {
        std::abort();
    }
    return 0;
}
