#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace vk9 {

// A row of a reply table: the rendered reply characters, the STATUS message, and the word
// that a script reads for it (vk9ctl's JSON).
struct ReplyRow {
    std::string_view compared;
    std::string_view message;
    std::string_view word = {};
};

inline constexpr std::array kPowerReplies{
    ReplyRow{" 0 0", " Power ON", "on"},
    ReplyRow{" 8 0", " Stand by", "standby"},
    ReplyRow{" 4 0", " Count down", "countdown"},
    ReplyRow{" 2 0", " Cooling down", "cooling"},
    ReplyRow{" 1 0", " Power abnormality", "power-abnormality"},
    ReplyRow{" 0 8", " Temperature abnormality", "temperature-abnormality"},
    ReplyRow{" 1 8", " Temperature abnormality", "temperature-abnormality"},
    ReplyRow{" 2 8", " Temperature abnormality", "temperature-abnormality"},
    ReplyRow{" 4 8", " Temperature abnormality", "temperature-abnormality"},
    ReplyRow{" 8 8", " Temperature abnormality", "temperature-abnormality"},
};

inline constexpr std::array kInputReplies{
    ReplyRow{" 1", " Input 1"},
    ReplyRow{" 2", " Input 2"},
    ReplyRow{" 3", " Input 3"},
    ReplyRow{" 4", " Input 4"},
};

inline constexpr std::array kReversalReplies{
    ReplyRow{" 1 1", " Normally", "none"},
    ReplyRow{" 1 0", " Top/Bottom reversal", "top-bottom"},
    ReplyRow{" 0 1", " Left/Right reversal", "left-right"},
    ReplyRow{" 0 0", " Top/Bottom , Left/Right reversal", "both"},
};

// Lamp mode replies: a mode digit 0..2 and an upper-case hex digit of lit lamps (bit 0 =
// No1 .. bit 3 = No4). Note the single space before the colon after "All OFF".
struct LampMode {
    std::string_view text;
    std::string_view word; // for scripts
};
inline constexpr std::array kLampModes{LampMode{"4 Lamp mode", "4-lamp"},
                                       LampMode{"2 Lamp mode(1,4)", "2-lamp-1-4"},
                                       LampMode{"2 Lamp mode(2,3)", "2-lamp-2-3"}};
inline constexpr std::array<std::string_view, 16> kLitLamps{
    " All OFF : ",   " No1 ON  : ",     " No2 ON  : ",     " No1,2 ON  : ",
    " No3 ON  : ",   " No1,3 ON  : ",   " No2,3 ON  : ",   " No1,2,3 ON  : ",
    " No4 ON  : ",   " No1,4 ON  : ",   " No2,4 ON  : ",   " No1,2,4 ON  : ",
    " No3,4 ON  : ", " No1,3,4 ON  : ", " No2,3,4 ON  : ", " All ON  : "};

enum class QueryKind { Power, Input, Reversal, LampHours, Temperature, LampMode };

struct QueryRow {
    std::string_view code;
    QueryKind kind;
};

// Tried in this order; a reply is decoded by the query that commandText holds.
inline constexpr std::array kQueries{
    QueryRow{"CR0", QueryKind::Power},       QueryRow{"CR1", QueryKind::Input},
    QueryRow{"CR4", QueryKind::Reversal},    QueryRow{"CR3", QueryKind::LampHours},
    QueryRow{"CR6", QueryKind::Temperature}, QueryRow{"CR7", QueryKind::LampMode},
};

// The STATUS message for a rendered reply (the RXD caption), or nothing when the last
// command is not a status query under the current prefix or the reply matches no row.
std::optional<std::string> decodeReply(std::string_view rxdCaption, std::string_view commandText,
                                       std::string_view addressPrefix);

} // namespace vk9
