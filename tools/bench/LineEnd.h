#pragma once

#include "Simulator.h"

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vk9::bench {

using Clock = std::chrono::steady_clock;

// The far end of a pseudo-terminal: a thread that reads every byte as it arrives and
// timestamps each frame (up to its carriage return) by its first byte. Given a rate, it
// takes the bytes as a serial line would, one per character time, and a frame is in when
// its last byte has had its time. It may acknowledge every frame, or answer as the
// simulator's four projectors do.
class LineEnd {
public:
    enum class Answers { None, Acknowledgements, Projectors };

    struct Frame {
        Clock::time_point firstByte;
        Clock::time_point lastByte;
        std::string text;
    };

    explicit LineEnd(int bytesPerSecond = 0, Answers answers = Answers::None);
    ~LineEnd();
    LineEnd(const LineEnd&) = delete;
    LineEnd& operator=(const LineEnd&) = delete;

    bool ok() const { return m_master >= 0; }
    const std::string& device() const { return m_device; }
    void send(const std::string& bytes);
    std::vector<Frame> takeFrames();

private:
    void run();

    int m_bytesPerSecond = 0;
    Answers m_answers = Answers::None;
    sim::Simulator m_projectors;
    int m_master = -1;
    int m_slave = -1;
    std::string m_device;
    std::atomic<bool> m_stop{false};
    std::mutex m_mutex;
    std::vector<Frame> m_frames;
    Frame m_partial;
    std::thread m_thread;
};

} // namespace vk9::bench
