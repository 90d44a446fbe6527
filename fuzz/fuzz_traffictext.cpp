// Rendering, checked by what must hold of any input rather than by the rule again: text
// rendered in two parts is the whole rendered, less the second part's leading space; the
// rendering is a space and then at least one and at most three characters a byte; it holds
// only printable characters; and a byte from 32 to 122 stands for itself, a space after it.
#include "traffic/TrafficText.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

void check(bool ok) {
    if (!ok) {
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const std::string text = vk9::trafficText(bytes);
    check(text.size() >= 1 + size && text.size() <= 1 + 3 * size && text[0] == ' ');
    for (const char c : text) {
        check(c >= 32 && c <= 126);
    }
    const std::size_t cut = size / 2;
    check(text ==
          vk9::trafficText(bytes.substr(0, cut)) + vk9::trafficText(bytes.substr(cut)).substr(1));
    for (std::size_t at = 0; at < size; ++at) {
        const auto c = static_cast<unsigned char>(bytes[at]);
        if (c >= 32 && c <= 122) {
            check(vk9::trafficText(bytes.substr(at, 1)) == std::string{' ', char(c), ' '});
        }
    }
    return 0;
}
