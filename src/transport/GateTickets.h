#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vk9::tickets {

// vk9gate's share port speaks the line's own language, byte for byte. A client that wants to
// know what became of each frame opens its connection with kGreeting, which no frame can be
// (it starts with a control character); the gate answers kWelcome, and from then on tells a
// line for each frame: when it went on the line, then how it ended. Frames are numbered from
// 1 in the order the client sent them.
inline constexpr std::string_view kGreeting = "\x01TICKETS 1\r";
inline constexpr std::string_view kWelcome = "TICKETS 1\n";

enum class Fate : std::uint8_t {
    Sent,       // "sent N MS": on the line after waiting MS for it; its reply window opens
    Answered,   // "answered N MS REPLY": the reply, whole, MS after the frame went
    Unanswered, // "unanswered N": the reply window closed
    Absent,     // "absent N MS": not sent, its projector does not answer; tried again in MS
    Busy,       // "busy N": not sent, the line was not to be had in time
    Repeated,   // "repeated N": not sent, a copy of a frame still waiting (a held button)
    Full,       // "full N": not sent, too many frames waiting
    Lost,       // "lost N": the line went away
};

struct Notice {
    Fate fate;
    std::uint64_t frame = 0;
    long long ms = 0;
    std::string reply; // raw bytes; escaped on the wire as %XX outside printable ASCII
};

std::string format(const Notice& notice);                 // one line, with its "\n"
std::optional<Notice> parseNotice(std::string_view line); // without its "\n"

// Why a frame did not reach its projector, for the operator and for scripts; empty when it
// did, or when it is nothing to tell (a held button's copy that was not needed).
std::string whyNotSent(const Notice& notice);

} // namespace vk9::tickets
