#pragma once

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
// its last byte has had its time. It may acknowledge every frame, as a projector does.
class LineEnd {
public:
    struct Frame {
        Clock::time_point firstByte;
        Clock::time_point lastByte;
        std::string text;
    };

    explicit LineEnd(int bytesPerSecond = 0, bool acknowledges = false);
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
    bool m_acknowledges = false;
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
