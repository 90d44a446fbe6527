#pragma once

#include <string_view>

namespace vk9::gate {

// One line per event on standard error, in a form journald reads well: under systemd (when
// JOURNAL_STREAM is set) each line starts with its priority ("<4>") and carries no time of
// its own, since the journal keeps one; run by hand, each starts with the local time. No
// colours. Debug lines (a line per frame) only with --verbose.
class Log {
public:
    enum Level { Error = 3, Warning = 4, Info = 6, Debug = 7 };
    explicit Log(bool verbose);
    void say(Level level, std::string_view line) const;
    bool verbose() const { return m_verbose; }

private:
    bool m_verbose;
    bool m_journal;
};

} // namespace vk9::gate
