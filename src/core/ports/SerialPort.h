#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace vk9 {

// Outcome of a port operation: failures carry the serial component's own message. An open
// of a network line is pending while it connects: its outcome comes later, as one
// Panel::opened() event, unless the port is closed first.
struct SerialResult {
    bool ok = true;
    std::string message;
    bool pending = false;

    static SerialResult success() { return {}; }
    static SerialResult failure(std::string text) { return {false, std::move(text)}; }
    static SerialResult connecting() { return {true, {}, true}; }
};

// Kinds of port events handed to Panel::comm(). Only "received" matters to the panel.
enum class CommEvent : int { Received = 2 };

// The serial-port component as the panel uses it. Text on the line is bytes.
class SerialPort {
public:
    virtual ~SerialPort() = default;
    virtual SerialResult setPortNumber(int number) = 0; // takes effect at the next open
    virtual int portNumber() const = 0;
    virtual SerialResult setSettings(std::string_view settings) = 0; // "19200,N,8,1", at once
    virtual bool isOpen() const = 0; // also while an open is pending
    virtual SerialResult open() = 0;
    virtual SerialResult close() = 0;
    virtual SerialResult write(std::string_view bytes) = 0; // queues the whole text at once
    virtual std::string readAll() = 0;
    // Bytes written but not yet on the wire (our buffer plus the driver's queue).
    virtual std::size_t pendingOutput() const = 0;
    // The serial ports this machine has, for the operator's information.
    virtual std::vector<std::string> portsOnMachine() const = 0;
};

} // namespace vk9
