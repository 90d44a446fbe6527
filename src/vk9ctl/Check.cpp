#include "Check.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

namespace vk9::ctl {

namespace {

constexpr const char* kWords[] = {"OK", "WARNING", "CRITICAL", "UNKNOWN"};

std::optional<double> number(std::string_view text) {
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || text.empty() ||
        !std::isfinite(value)) { // the range's own "~" stands for infinity
        return std::nullopt;
    }
    return value;
}

std::string shown(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

} // namespace

std::optional<Range> parseRange(std::string_view text) {
    Range range;
    range.text = std::string(text);
    if (!text.empty() && text.front() == '@') {
        range.inside = true;
        text.remove_prefix(1);
    }
    const auto colon = text.find(':');
    if (colon == std::string_view::npos) { // "10": 0 to 10
        range.start = 0;
        range.end = number(text);
        if (!range.end) {
            return std::nullopt;
        }
    } else {
        const std::string_view start = text.substr(0, colon);
        const std::string_view end = text.substr(colon + 1);
        if (start != "~") {
            range.start = number(start);
            if (!range.start) {
                return std::nullopt;
            }
        }
        if (!end.empty()) {
            range.end = number(end);
            if (!range.end) {
                return std::nullopt;
            }
        }
    }
    if ((range.start && range.end && *range.start > *range.end) || (!range.start && !range.end)) {
        return std::nullopt; // backwards, or "~:" that bounds nothing
    }
    return range;
}

bool alerts(const Range& range, double value) {
    const bool within =
        (!range.start || value >= *range.start) && (!range.end || value <= *range.end);
    return range.inside ? within : !within;
}

CheckOutcome checkFailed(CheckStatus status, const std::string& why) {
    return {status, std::string("VK9 ") + kWords[int(status)] + " - " + why};
}

CheckOutcome checkOutcome(const std::vector<Checked>& projectors, const Thresholds& t) {
    CheckStatus worst = CheckStatus::Ok;
    std::vector<std::pair<CheckStatus, std::string>> notes; // what is not OK, by how bad
    std::vector<std::string> readings;
    std::string perf;
    const auto raise = [&](CheckStatus s, const std::string& what) {
        worst = std::max(worst, s);
        notes.emplace_back(s, what);
    };
    const auto measure = [&](const std::string& who, const std::string& label, double value,
                             const std::optional<Range>& warning,
                             const std::optional<Range>& critical, const std::string& what) {
        if (critical && alerts(*critical, value)) {
            raise(CheckStatus::Critical, who + what);
        } else if (warning && alerts(*warning, value)) {
            raise(CheckStatus::Warning, who + what);
        }
        perf += (perf.empty() ? "" : " ") + label + "=" + shown(value) + ";" +
                (warning ? warning->text : "") + ";" + (critical ? critical->text : "");
    };
    for (const Checked& p : projectors) {
        const std::string who = p.address.empty() ? "" : p.address + " ";
        const std::string suffix = p.address.empty() ? "" : "_" + p.address;
        if (!p.error.empty()) { // what it did answer is still measured
            raise(CheckStatus::Critical, who + p.error);
        }
        if (!p.fault.empty()) {
            raise(CheckStatus::Critical, who + p.fault);
        }
        std::string reading;
        if (p.lampHours) {
            const std::string what = "lamp " + std::to_string(*p.lampHours) + " h";
            measure(who, "lamp_hours" + suffix, double(*p.lampHours), t.lampWarning, t.lampCritical,
                    what);
            reading = what;
        }
        for (const auto& [name, value] : {std::pair{"S1", p.s1}, std::pair{"S2", p.s2}}) {
            if (value) {
                const std::string what = std::string(name) + " " + shown(*value) + " °C";
                std::string label = std::string("temperature_") + (name[1] == '1' ? "s1" : "s2");
                measure(who, label + suffix, *value, t.temperatureWarning, t.temperatureCritical,
                        what);
                reading += (reading.empty() ? "" : ", ") + what;
            }
        }
        readings.push_back(who + reading);
    }
    std::string summary;
    std::stable_sort(notes.begin(), notes.end(),
                     [](const auto& a, const auto& b) { return a.first > b.first; });
    for (const auto& [status, what] : notes) {
        summary += (summary.empty() ? "" : ", ") + what;
    }
    if (summary.empty()) {
        for (const std::string& r : readings) {
            summary += (summary.empty() ? "" : "; ") + r;
        }
    }
    return {worst, std::string("VK9 ") + kWords[int(worst)] + " - " + summary +
                       (perf.empty() ? "" : " | " + perf)};
}

} // namespace vk9::ctl
