#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vk9::ctl {

// vk9ctl check: the projectors as a monitoring plugin reports them (the Monitoring Plugins'
// guidelines): one line, "VK9 STATUS - summary | performance data", and an exit status of
// 0 OK, 1 WARNING, 2 CRITICAL or 3 UNKNOWN.
enum class CheckStatus { Ok = 0, Warning = 1, Critical = 2, Unknown = 3 };

// A threshold in the plugins' range syntax: "10" (alert outside 0..10), "10:" (below 10),
// "~:10" (above 10), "10:20" (outside), "@10:20" (inside).
struct Range {
    std::optional<double> start; // none: -infinity
    std::optional<double> end;   // none: +infinity
    bool inside = false;         // "@": alert inside the range, not outside it
    std::string text;            // as given, for the performance data
};
std::optional<Range> parseRange(std::string_view text);
bool alerts(const Range& range, double value);

struct Thresholds {
    std::optional<Range> lampWarning, lampCritical;
    std::optional<Range> temperatureWarning, temperatureCritical; // each sensor's
};

// What one projector told.
struct Checked {
    std::string address; // "001", or "" for the one without an address
    std::optional<long long> lampHours;
    std::optional<double> s1, s2; // °C
    std::string fault;            // "power fault", "temperature fault"; empty: none
    std::string error;            // it did not answer, or not as it should
};

struct CheckOutcome {
    CheckStatus status;
    std::string line; // without its newline
};
CheckOutcome checkOutcome(const std::vector<Checked>& projectors, const Thresholds& thresholds);
// The line (status UNKNOWN or CRITICAL) when nothing could be asked.
CheckOutcome checkFailed(CheckStatus status, const std::string& why);

} // namespace vk9::ctl
