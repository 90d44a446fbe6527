#pragma once

#include "vk9gate/core/Arbiter.h"

#include <map>
#include <string>

namespace vk9::gate {

// Passwords from one address after a wrong one (PJLink's, the web panel's): answered one
// after another, whichever connection they come on, each wrong one later than the last
// (0.25 s, doubling to 8 s). A right one waits its turn too, so that guesses in parallel gain
// nothing, and starts the doubling again. An address is forgotten 10 minutes after its last
// wrong password.
class PasswordTurns {
public:
    // When the password given now from `host` is answered.
    Time answerAt(Time now, const std::string& host, bool wrong);

private:
    struct Turns {
        int inARow = 0;
        Time last{0};
        Time next{0};
    };
    std::map<std::string, Turns> m_hosts;
};

} // namespace vk9::gate
