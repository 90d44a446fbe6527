#pragma once

#include <string_view>

namespace vk9 {

// What the panel tells whoever watches it run, apart from the window: a line on standard
// error, and each frame and reply for the traffic log. Neither ever blocks the operator.
class Diagnostics {
public:
    virtual ~Diagnostics() = default;
    virtual void log(std::string_view line) = 0;
    // A frame sent, as the TXD box shows it.
    virtual void frameSent(std::string_view shown) = 0;
    // What has arrived, as the RXD box shows it, and the STATUS text it decoded to (empty
    // for none).
    virtual void replyShown(std::string_view shown, std::string_view status) = 0;
};

} // namespace vk9
