#pragma once

#include "model/Control.h"

#include <string>
#include <string_view>

namespace vk9 {

struct ScreenSize {
    double width = 0;  // twips
    double height = 0; // twips
};

// What the handlers change on screen, and the little they read back.
class View {
public:
    virtual ~View() = default;
    // Captions of the TXD, RXD and STATUS boxes and of the data display button.
    virtual void setCaption(Control control, std::string_view text) = 0;
    virtual std::string caption(Control control) const = 0;
    virtual void setVisible(Control control, bool visible) = 0; // the settings frame, Command34
    virtual void selectOption(Control option) = 0; // from code; raises no selection event
    // Outer window height and position in twips; the view maps them to its client area.
    virtual void setWindowHeight(int twips) = 0;
    virtual int windowHeight() const = 0;
    virtual void moveWindow(double left, double top) = 0;
    virtual ScreenSize screenSize() const = 0;
    // The warning box, titled "VK9RSC", with an exclamation icon and one OK button: modal to
    // the window, but returning at once. While it is open, a newer message takes the place
    // of its text; there is never a second box.
    virtual void warn(std::string_view message) = 0;
    virtual void withdrawWarning() = 0; // closes the box if it is open

    virtual void quit() = 0; // the window goes, and the program ends
};

} // namespace vk9
