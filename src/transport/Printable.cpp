#include "transport/Printable.h"

#include <algorithm>
#include <cstdio>

namespace vk9 {

bool allPrintable(std::string_view text) {
    return std::all_of(text.begin(), text.end(), isPrintable);
}

std::string shownBytes(std::string_view bytes) {
    std::string out;
    for (const char c : bytes) {
        if (isPrintable(c) && c != '<') {
            out += c;
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "<%02X>", static_cast<unsigned char>(c));
            out += hex;
        }
    }
    return out;
}

} // namespace vk9
