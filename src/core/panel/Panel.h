#pragma once

#include "context/Context.h"
#include "model/PanelState.h"

#include <string_view>

namespace vk9 {

// Shift state bits of a key press, as the key handler masks them.
inline constexpr int kShiftBit = 1;
inline constexpr int kCtrlBit = 2;
inline constexpr int kAltBit = 4;
inline constexpr int kKeyJ = 'J';

// The window's behaviour: owns the state record and routes every event to the handler of
// its subsystem. It holds no behaviour of its own beyond that routing.
class Panel {
public:
    Panel(Timers& timers, SerialPort& port, View& view);

    void load();  // start-up, before the window is first shown
    void shown(); // the window is on screen
    void click(Control id);
    void press(Control id);   // mouse down, any mouse button
    void release(Control id); // mouse up, delivered to the pressed button
    void select(Control id);  // an option button was selected
    void keyDown(int key, int shiftState);
    void tick(TimerId id);
    void comm(CommEvent kind);
    // The line went away; one that comes back by itself is reconnected.
    void portLost(std::string_view device, std::string_view reason, bool comesBack);
    void opened(const SerialResult& result); // a pending open has connected or given up
    // Something the line has to say; shown in the STATUS box too when `show`.
    void lineNote(std::string_view device, std::string_view text, bool show);
    void captureLost(); // a press lost its mouse capture or the window its activation
    void close();       // the window's frame was closed: the same as "END"

    const PanelState& state() const { return m_state; }

private:
    PanelState m_state;
    LineStatus m_line;
    Context m_ctx;
};

} // namespace vk9
