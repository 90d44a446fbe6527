#pragma once

#include <array>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vk9::ctl {

// The shape of each query's reply before its carriage return, as its decoding in the
// STATUS box expects it: which characters, how many (a regular expression).
struct ReplyShape {
    std::string_view code;
    std::string_view pattern;
};

inline constexpr std::array kReplyShapes{
    ReplyShape{"CR0", "[0-9A-F]{2}"},                // power state
    ReplyShape{"CR1", "[1-4]"},                      // input
    ReplyShape{"CR3", "[0-9]{1,17}"},                // lamp hours, shown whole up to 17
    ReplyShape{"CR4", "[01]{2}"},                    // picture reversal
    ReplyShape{"CR6", "[0-9 .+-]{5}..[0-9 .+-]{4}"}, // S1, two unshown, S2
    ReplyShape{"CR7", "[0-2][0-9A-F]"},              // lamp mode, lamps lit
};

// What a whole reply (up to and with its carriage return) came to.
struct Reading {
    bool ok = false;  // a query's reply has its shape and decodes; an operation's is ACK CR
    std::string text; // a query's, as the STATUS box shows it
    std::vector<std::pair<std::string, std::string>> values; // JSON keys and values
};

bool isQuery(std::string_view code);
Reading readReply(std::string_view code, std::string_view reply);
// The keys of a query's values, in the order they are written; none for an operation.
std::vector<std::string> valueKeys(std::string_view code);

} // namespace vk9::ctl
