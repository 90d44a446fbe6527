#include "protocol/Frames.h"

#include "protocol/Replies.h"

#include <array>
#include <regex>

namespace vk9::protocol {

std::optional<FrameParts> splitFrame(std::string_view frame) {
    if (frame.empty() || frame.back() != '\r' || (frame.size() != 4 && frame.size() != 8)) {
        return std::nullopt;
    }
    const std::size_t prefix = frame.size() - 4;
    return FrameParts{frame.substr(0, prefix), frame.substr(prefix, 3)};
}

bool fitsReply(std::string_view code, std::string_view reply) {
    // Compiled once: the gate asks this of every reply on the line.
    static const auto kCompiled = [] {
        std::array<std::regex, kReplyShapes.size()> compiled;
        for (std::size_t i = 0; i < kReplyShapes.size(); ++i) {
            compiled[i] = std::regex(std::string(kReplyShapes[i].pattern) + "\r");
        }
        return compiled;
    }();
    for (std::size_t i = 0; i < kReplyShapes.size(); ++i) {
        if (kReplyShapes[i].code == code) {
            return std::regex_match(reply.begin(), reply.end(), kCompiled[i]);
        }
    }
    return reply == kAcknowledged;
}

} // namespace vk9::protocol
