#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vk9::gate {

// A client's bytes, read as frames: an optional address ("A001" to "A004", "AFFF"), a
// three-character code, a carriage return; printable ASCII only. Anything else is not a frame, and
// its client is turned away: a frame is never guessed from bytes that are not one.
class FrameReader {
public:
    static constexpr std::size_t kLongest = 7; // "A001C00", before the carriage return

    struct Read {
        std::vector<std::string> frames;  // whole, with their carriage returns
        std::optional<std::string> wrong; // why the bytes are not frames
    };
    Read feed(std::string_view bytes);

private:
    std::string m_partial;
};

} // namespace vk9::gate
