#include "transport/Printable.h"

#include <algorithm>
#include <cstdio>

namespace vk9 {

bool allPrintable(std::string_view text) {
    return std::all_of(text.begin(), text.end(), isPrintable);
}

std::string escapedBytes(std::string_view bytes, bool (*plain)(char), const char* format) {
    std::string out;
    for (const char c : bytes) {
        if (plain(c)) {
            out += c;
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, format, static_cast<unsigned char>(c));
            out += escaped;
        }
    }
    return out;
}

std::string shownBytes(std::string_view bytes) {
    return escapedBytes(
        bytes, [](char c) { return isPrintable(c) && c != '<'; }, "<%02X>");
}

} // namespace vk9
