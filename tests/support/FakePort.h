#pragma once

#include "ports/SerialPort.h"

#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace vk9::test {

// A serial port in memory. It records every call and every write with its time, hands the
// panel whatever text a test delivers, and plays absent ports, a failing open and a slow
// line whose written bytes stay pending until the test drains them.
struct FakePort final : SerialPort {
    std::map<int, std::string> absent; // ports that fail to open, with their message
    int failingOpen = 0;               // the nth open from now fails (1 = the next one)
    std::string openFailure;
    std::string input; // waiting to be read by the receive event
    bool queueWrites = false;
    std::size_t pending = 0;
    bool held = false; // the far end asked to hold our data
    std::function<std::chrono::milliseconds()> now;
    std::string calls; // "close,number 2,open"
    std::vector<std::string> writes;
    std::vector<std::chrono::milliseconds> writeTimes;
    std::string settings;
    bool opened = false;
    bool connects = false; // opens are pending, as a network line's
    int number = 1;
    std::vector<std::string> machinePorts{"/dev/ttyUSB0"};
    PortNaming names{"/dev/ttyS0", "", false, ""}; // of the current port

    void clearRecords() { calls.clear(), writes.clear(), writeTimes.clear(); }
    void note(const std::string& call) { calls += (calls.empty() ? "" : ",") + call; }
    SerialResult setPortNumber(int n) override {
        note("number " + std::to_string(number = n));
        return {};
    }
    int portNumber() const override { return number; }
    SerialResult setSettings(std::string_view s) override {
        note("settings " + (settings = s));
        return {};
    }
    bool isOpen() const override { return opened; }
    SerialResult open() override {
        note("open");
        if (failingOpen > 0 && --failingOpen == 0) {
            return SerialResult::failure(openFailure);
        }
        const auto missing = absent.find(number);
        opened = missing == absent.end() || connects;
        if (connects) {
            return SerialResult::connecting();
        }
        return opened ? SerialResult{} : SerialResult::failure(missing->second);
    }
    SerialResult close() override {
        note("close");
        opened = false;
        return {};
    }
    SerialResult write(std::string_view bytes) override {
        if (!opened) {
            return SerialResult::failure("no serial port is open");
        }
        writes.emplace_back(bytes);
        writeTimes.push_back(now ? now() : std::chrono::milliseconds{});
        pending += queueWrites ? bytes.size() : 0;
        return {};
    }
    std::string readAll() override { return std::exchange(input, {}); }
    std::size_t pendingOutput() const override { return pending; }
    bool suspended() const override { return held; }
    int lineSpeed() const override { return settings.rfind("9600,", 0) == 0 ? 9600 : 19200; }
    PortNaming naming() const override { return names; }
    std::vector<std::string> portsOnMachine() const override { return machinePorts; }
};

} // namespace vk9::test
