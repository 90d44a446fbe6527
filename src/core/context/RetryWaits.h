#pragma once

#include <algorithm>
#include <chrono>

namespace vk9 {

// The waits between tries of a line that may come back by itself: the first wait, then
// twice as long each time, up to the longest. A line that goes away again before it has
// been steady goes on from the last wait, doubled: a server that takes each connection and
// hangs up at once is tried less and less often. The waits start over once the line has
// been steady (up for a while), or when someone chooses it again.
class RetryWaits {
public:
    using ms = std::chrono::milliseconds;
    explicit RetryWaits(ms longest, ms first = ms(1000)) : m_first(first), m_longest(longest) {}

    ms lost() { // the line went away: the wait before the first try
        m_last = m_steady ? m_first : std::min(2 * m_last, m_longest);
        m_steady = false;
        return m_last;
    }
    ms failed() { // a try failed: the wait before the next
        m_last = std::min(2 * m_last, m_longest);
        return m_last;
    }
    void steady() { m_steady = true; }
    bool isSteady() const { return m_steady; }
    ms last() const { return m_last; }

private:
    ms m_first;
    ms m_longest;
    ms m_last{0};
    bool m_steady = true;
};

} // namespace vk9
