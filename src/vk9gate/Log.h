#pragma once

#include <QTimer>

#include <cstdint>
#include <functional>
#include <string>
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

// Events of one kind that may come in bursts (clients turned away): the first told at once,
// the rest of each minute in one line at its end, with their count. `line(1, detail)` tells
// one; `line(n, detail)` the n more of a minute, `detail` the last one's.
class Tally {
public:
    using Line = std::function<std::string(std::uint64_t count, const std::string& detail)>;
    Tally(const Log& log, Line line);
    void add(const std::string& detail);

private:
    const Log& m_log;
    Line m_line;
    QTimer m_minute;
    std::uint64_t m_untold = 0;
    std::string m_last;
};

} // namespace vk9::gate
