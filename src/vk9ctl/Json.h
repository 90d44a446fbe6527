#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vk9::ctl {

// JSON text as vk9ctl writes it: keys in the order they were added, and strings byte for
// byte, with control bytes and bytes above 126 as \u00XX, so that a raw reply is never
// re-encoded.
std::string jsonString(std::string_view bytes);

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

} // namespace vk9::ctl
