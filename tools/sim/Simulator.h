#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vk9::sim {

// One projector on the line. Time is in milliseconds from the simulator's start.
struct Projector {
    enum class Power { StandBy, CountDown, On, CoolingDown };
    Power power = Power::StandBy;
    std::int64_t powerSince = 0; // when the current power state began
    int input = 1;               // 1..4
    std::string reversal = "11"; // "11" normal, "10", "01", "00"
    int lampMode = 0;            // 0: 4 lamps, 1: lamps 1 and 4, 2: lamps 2 and 3
    int lampHours = 1200;
};

struct Options {
    int projectors = 4;             // answering addresses A001 up to A00n
    std::int64_t warmUpMs = 5000;   // count down after power on
    std::int64_t coolDownMs = 5000; // cooling down after power off
};

// A reply decided for a frame, before any fault is applied.
struct Answer {
    std::string frame;            // the frame as received, carriage return included
    std::optional<int> projector; // who acted on it (1..4); none for a rejected frame
    std::string reply;            // what goes back; empty for no reply
    std::string note;             // why nothing goes back, for the log
};

// The projectors behind one serial line. Bytes go in; complete frames come out answered.
// Frames are an optional address ("A001".."A004", "AFFF"), a three-character code and a
// carriage return. Unaddressed frames go to projector 1. "AFFF" acts on every projector,
// but only projector 1 answers, so that replies never collide on the line.
class Simulator {
public:
    static constexpr std::size_t kMaxFrame = 16; // longer input is thrown away up to its CR

    explicit Simulator(Options options = {});

    // Feeds received bytes; returns the answers to the frames they completed.
    std::vector<Answer> feed(const std::string& bytes, std::int64_t nowMs);
    // Drops a frame left without its carriage return (after a pause on the line).
    std::optional<std::string> abandonPartial();
    bool hasPartial() const { return !m_partial.empty(); }

    const Projector& projector(int number) const { return m_projectors.at(number - 1); }
    Projector& projector(int number) { return m_projectors.at(number - 1); }

private:
    Answer handle(const std::string& frame, std::int64_t nowMs);
    std::string act(Projector& p, const std::string& code, std::int64_t nowMs);
    void settle(Projector& p, std::int64_t nowMs) const;

    Options m_options;
    std::array<Projector, 4> m_projectors{};
    std::string m_partial;
    bool m_discarding = false; // inside an overlong frame
};

// Bytes as a log shows them: printable ASCII as is, everything else as <hex>.
std::string printable(const std::string& bytes);

} // namespace vk9::sim
