#include "traffic/TrafficText.h"

namespace vk9 {

namespace {
constexpr unsigned char kAck = 6;
constexpr unsigned char kLineFeed = 10;
constexpr unsigned char kCarriageReturn = 13;
constexpr unsigned char kFirstPrintable = 32;
constexpr unsigned char kLastPrintable = 122; // "z": "{" and above render as unknown
} // namespace

std::string trafficText(std::string_view bytes) {
    std::string out;
    out.reserve(1 + 3 * bytes.size());
    out += ' ';
    for (const char c : bytes) {
        const auto code = static_cast<unsigned char>(c);
        if (code == kAck) {
            out += '&';
        } else if (code == kCarriageReturn) {
            out += "CR ";
        } else if (code == kLineFeed) {
            out += "LF ";
        } else if (code >= kFirstPrintable && code <= kLastPrintable) {
            out += c;
            out += ' ';
        } else {
            out += "? ";
        }
    }
    return out;
}

std::string_view leftOf(std::string_view text, std::size_t n) {
    return text.substr(0, n);
}

std::string_view midOf(std::string_view text, std::size_t position, std::size_t n) {
    if (position == 0 || position > text.size()) {
        return {};
    }
    return text.substr(position - 1, n);
}

} // namespace vk9
