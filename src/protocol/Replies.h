#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace vk9::protocol {

// The projectors' replies as programs read them: vk9ctl, the gate and its front ends. Built
// on the panel's own decoding tables, so that a word means what the STATUS box says.

// The shape of each query's reply before its carriage return, as its decoding in the
// STATUS box expects it: which characters, how many (an ECMAScript regular expression).
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

// A value read from a reply: a word, a whole number, a number, or a list of whole numbers.
using Value = std::variant<std::string, long long, double, std::vector<int>>;

// What a whole reply (up to and with its carriage return) came to.
struct Reading {
    bool ok = false;  // a query's reply has its shape and decodes; an operation's is ACK CR
    std::string text; // a query's, as the STATUS box shows it
    std::vector<std::pair<std::string, Value>> values; // by key, in the order of valueKeys()
};

inline constexpr std::string_view kAcknowledged = "\x06\r";

bool isQuery(std::string_view code);
Reading readReply(std::string_view code, std::string_view reply);
// The keys of a query's values, in the order they are written; none for an operation.
std::vector<std::string> valueKeys(std::string_view code);
const Value* valueOf(const Reading& reading, std::string_view key);
// A value as JSON: an empty word is null.
std::string valueJson(const Value& value);

// The power state in a CR0 reply's two characters: the first is the state, a second "8"
// adds a temperature abnormality ("48": counting down, and too hot).
enum class Power { On, StandBy, CountDown, Cooling, Fault };
struct PowerReading {
    Power state;
    bool tooHot;
};
std::optional<PowerReading> readPower(std::string_view reply);

} // namespace vk9::protocol
