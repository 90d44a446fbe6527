// Rendering: every byte becomes one piece, printable bytes land on even positions, and
// the rendered length follows from the input alone.
#include "traffic/TrafficText.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const std::string text = vk9::trafficText(bytes);
    std::size_t expected = 1;
    for (unsigned char c : bytes) {
        expected += c == 6 ? 1 : (c == 10 || c == 13) ? 3 : 2;
    }
    if (text.size() != expected || text[0] != ' ') {
        std::abort();
    }
    std::size_t at = 1;
    for (unsigned char c : bytes) {
        const bool printable = c >= 32 && c <= 122;
        if (printable && (text[at] != static_cast<char>(c) || text[at + 1] != ' ')) {
            std::abort();
        }
        at += c == 6 ? 1 : (c == 10 || c == 13) ? 3 : 2;
    }
    return 0;
}
