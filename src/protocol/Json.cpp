#include "protocol/Json.h"

#include <cstdio>

namespace vk9 {

std::string jsonString(std::string_view bytes, bool utf8) {
    std::string out = "\"";
    for (const char c : bytes) {
        const auto code = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\n') {
            out += "\\n";
        } else if (code < 32 || code == 127 || (code > 127 && !utf8)) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", code);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string JsonObject::text() const {
    std::string out = "{";
    for (const auto& [key, value] : m_fields) {
        out += (out.size() > 1 ? "," : "") + jsonString(key) + ":" + value;
    }
    return out + "}";
}

std::string jsonArray(const std::vector<std::string>& jsonValues) {
    std::string out = "[";
    for (const auto& value : jsonValues) {
        out += (out.size() > 1 ? "," : "") + value;
    }
    return out + "]";
}

} // namespace vk9
