#include "vk9gate/core/Passwords.h"

#include <algorithm>

namespace vk9::gate {

Time PasswordTurns::answerAt(Time now, const std::string& host, bool wrong) {
    using namespace std::chrono_literals;
    constexpr auto kForgetAfter = std::chrono::minutes(10);
    constexpr auto kLongestDelay = 8s;
    std::erase_if(m_hosts, [&](const auto& h) { return now - h.second.last > kForgetAfter; });
    const auto found = m_hosts.find(host);
    if (found == m_hosts.end() && !wrong) {
        return now;
    }
    Turns& t = found != m_hosts.end() ? found->second : m_hosts[host];
    const Time turn = std::max(now, t.next);
    if (!wrong) {
        t.inARow = 0; // the next wrong one starts the wait again
        t.next = turn;
        return turn;
    }
    t.last = now;
    const auto delay =
        std::min<std::chrono::milliseconds>(kLongestDelay, 250ms * (1 << std::min(t.inARow++, 6)));
    t.next = turn + delay;
    return t.next;
}

} // namespace vk9::gate
