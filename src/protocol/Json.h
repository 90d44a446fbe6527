#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vk9 {

// JSON text as vk9ctl and the gate write it: keys in the order they were added. A string of
// raw bytes (a reply) has control bytes and bytes above 126 as \u00XX, so that it is never
// re-encoded; a text in UTF-8 (a unit, "°C") keeps its bytes above 127.
std::string jsonString(std::string_view bytes, bool utf8 = false);

class JsonObject {
public:
    JsonObject& add(std::string_view key, std::string jsonValue) {
        m_fields.emplace_back(key, std::move(jsonValue));
        return *this;
    }
    std::string text() const;

private:
    std::vector<std::pair<std::string, std::string>> m_fields;
};

std::string jsonArray(const std::vector<std::string>& jsonValues);

} // namespace vk9
