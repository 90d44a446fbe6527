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

// The values a script can use, in JSON, keyed by what the STATUS box shows. These words
// are vk9ctl's own, kept apart from the panel's messages so that scripts do not have to
// parse display text.
struct Word {
    std::string_view message;
    std::string_view word;
};

inline constexpr std::array kPowerWords{
    Word{" Power ON", "on"},
    Word{" Stand by", "standby"},
    Word{" Count down", "countdown"},
    Word{" Cooling down", "cooling"},
    Word{" Power abnormality", "power-abnormality"},
    Word{" Temperature abnormality", "temperature-abnormality"},
};

inline constexpr std::array kReversalWords{
    Word{" Normally", "none"},
    Word{" Top/Bottom reversal", "top-bottom"},
    Word{" Left/Right reversal", "left-right"},
    Word{" Top/Bottom , Left/Right reversal", "both"},
};

inline constexpr std::array kLampModeWords{
    Word{"4 Lamp mode", "4-lamp"},
    Word{"2 Lamp mode(1,4)", "2-lamp-1-4"},
    Word{"2 Lamp mode(2,3)", "2-lamp-2-3"},
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
