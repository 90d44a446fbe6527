#include "commands/Catalogue.h"

#include "model/Layout.h"
#include "model/Lookup.h"
#include "traffic/TrafficPath.h"

#include <cctype>

namespace vk9 {

void sendOneShot(Context& ctx, const OneShotRow& row) {
    sendCommand(ctx, row.code);
}

std::string commandName(const OneShotRow& row) {
    const std::string group(row.group);
    std::string name = group;
    std::string word;
    const std::string_view caption = findRow(kButtons, row.id)->caption;
    for (std::size_t at = 0; at <= caption.size(); ++at) {
        if (at < caption.size() && caption[at] != ' ') {
            word += static_cast<char>(std::tolower(static_cast<unsigned char>(caption[at])));
            continue;
        }
        // "4 LAMP" in the lamp group is "lamp-4"
        if (!word.empty() && ("-" + group + "-").find("-" + word + "-") == std::string::npos) {
            name += (name.empty() ? "" : "-") + word;
        }
        word.clear();
    }
    return name;
}

} // namespace vk9
