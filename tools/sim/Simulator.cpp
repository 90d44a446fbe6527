#include "Simulator.h"

#include <cstdio>
#include <utility>

namespace vk9::sim {

namespace {

constexpr char kAck = 6;
constexpr char kCr = '\r';

bool isAddress(const std::string& a) {
    return a == "AFFF" ||
           (a.size() == 4 && a.compare(0, 3, "A00") == 0 && a[3] >= '1' && a[3] <= '4');
}

bool isCode(const std::string& c) {
    if (c.size() != 3 || c[0] != 'C') {
        return false;
    }
    for (char ch : c.substr(1)) {
        const bool ok = (ch >= '0' && ch <= '9') || (ch >= 'A' && ch <= 'Z');
        if (!ok) {
            return false;
        }
    }
    return true;
}

int lampsLit(const Projector& p) {
    if (p.power != Projector::Power::On && p.power != Projector::Power::CountDown) {
        return 0;
    }
    static constexpr int kLampsOfMode[] = {0xF, 0x9, 0x6}; // all; 1 and 4; 2 and 3
    return kLampsOfMode[p.lampMode];
}

std::string temperatures(const Projector& p) {
    const bool warm = p.power == Projector::Power::On || p.power == Projector::Power::CountDown;
    char text[32];
    // S1 is characters 1 to 5, S2 characters 8 to 11.
    std::snprintf(text, sizeof text, "%05.1f, %4.1f", warm ? 41.5 : 25.0, warm ? 38.0 : 24.5);
    return text;
}

} // namespace

std::string printable(const std::string& bytes) {
    std::string out;
    for (unsigned char c : bytes) {
        if (c >= 32 && c < 127 && c != '<') {
            out += static_cast<char>(c);
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "<%02X>", c);
            out += hex;
        }
    }
    return out;
}

Simulator::Simulator(Options options) : m_options(options) {
    for (std::size_t i = 0; i < m_projectors.size(); ++i) {
        m_projectors[i].lampHours += static_cast<int>(i) * 111;
    }
}

std::vector<Answer> Simulator::feed(const std::string& bytes, std::int64_t nowMs) {
    std::vector<Answer> answers;
    for (char c : bytes) {
        if (c == kCr) {
            if (m_discarding) {
                answers.push_back({m_partial + c, std::nullopt, {}, "overlong frame dropped"});
            } else {
                answers.push_back(handle(m_partial + c, nowMs));
            }
            m_partial.clear();
            m_discarding = false;
            continue;
        }
        if (m_partial.size() < kMaxFrame) {
            m_partial += c;
        } else {
            m_discarding = true; // keep only the head for the log
        }
    }
    return answers;
}

std::optional<std::string> Simulator::abandonPartial() {
    if (m_partial.empty()) {
        return std::nullopt;
    }
    m_discarding = false;
    return std::exchange(m_partial, {});
}

void Simulator::settle(Projector& p, std::int64_t nowMs) const {
    if (p.power == Projector::Power::CountDown && nowMs - p.powerSince >= m_options.warmUpMs) {
        p.power = Projector::Power::On;
        p.powerSince += m_options.warmUpMs;
    }
    if (p.power == Projector::Power::CoolingDown && nowMs - p.powerSince >= m_options.coolDownMs) {
        p.power = Projector::Power::StandBy;
        p.powerSince += m_options.coolDownMs;
    }
}

Answer Simulator::handle(const std::string& frame, std::int64_t nowMs) {
    const std::string body = frame.substr(0, frame.size() - 1);
    std::string address;
    std::string code = body;
    if (body.size() == 7) {
        address = body.substr(0, 4);
        code = body.substr(4);
    }
    if ((!address.empty() && !isAddress(address)) || !isCode(code)) {
        return {frame, std::nullopt, {}, "not a frame"};
    }
    int first = 1;
    int last = 1;
    if (address == "AFFF") {
        last = m_options.projectors;
    } else if (!address.empty()) {
        first = last = address[3] - '0';
    }
    if (first > m_options.projectors) {
        return {frame, std::nullopt, {}, "no such projector"};
    }
    Answer answer{frame, first, {}, {}};
    for (int n = first; n <= last; ++n) {
        const std::string reply = act(m_projectors[static_cast<std::size_t>(n - 1)], code, nowMs);
        if (n == first) {
            answer.reply = reply; // one answer on the line, from the lowest address
        }
    }
    return answer;
}

std::string Simulator::act(Projector& p, const std::string& code, std::int64_t nowMs) {
    using Power = Projector::Power;
    settle(p, nowMs);
    const std::string ack{kAck, kCr};
    if (code == "CR0") {
        static constexpr const char* kPower[] = {"80", "40", "00", "20"};
        return std::string(kPower[static_cast<int>(p.power)]) + kCr;
    }
    if (code == "CR1") {
        return std::to_string(p.input) + kCr;
    }
    if (code == "CR3") {
        char hours[16];
        std::snprintf(hours, sizeof hours, "%05d", p.lampHours);
        return hours + std::string(1, kCr);
    }
    if (code == "CR4") {
        return p.reversal + kCr;
    }
    if (code == "CR6") {
        return temperatures(p) + kCr;
    }
    if (code == "CR7") {
        static constexpr char kHex[] = "0123456789ABCDEF";
        return std::string{static_cast<char>('0' + p.lampMode), kHex[lampsLit(p)], kCr};
    }
    if (code == "C00" && (p.power == Power::StandBy)) {
        p.power = Power::CountDown;
        p.powerSince = nowMs;
    } else if (code == "C02" && (p.power == Power::On || p.power == Power::CountDown)) {
        p.power = Power::CoolingDown;
        p.powerSince = nowMs;
    } else if (code >= "C05" && code <= "C08") {
        p.input = code[2] - '4';
    } else if (code >= "C70" && code <= "C72") {
        p.lampMode = code[2] - '0';
    }
    return ack; // every operation code is acknowledged
}

} // namespace vk9::sim
