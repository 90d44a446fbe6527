#pragma once

#include "ports/View.h"

#include <map>
#include <string>
#include <vector>

namespace vk9::test {

// A View that remembers what the handlers did to it. Captions and visibility start as the
// layout gives them.
class RecordingView final : public View {
public:
    RecordingView();

    void setCaption(Control control, std::string_view text) override;
    std::string caption(Control control) const override;
    void setVisible(Control control, bool visible) override { m_visible[control] = visible; }
    void selectOption(Control option) override { selected.push_back(option); }
    void setWindowHeight(int twips) override { height = twips; }
    int windowHeight() const override { return height; }
    void moveWindow(double l, double t) override {
        left = l;
        top = t;
    }
    ScreenSize screenSize() const override { return screen; }
    void warn(std::string_view message) override { warnings.emplace_back(message); }
    void log(std::string_view line) override { logs.emplace_back(line); }
    void quit() override { ++quits; }

    bool isVisible(Control control) const;

    int height = 0;
    double left = 0;
    double top = 0;
    ScreenSize screen{1920 * 15.0, 1080 * 15.0};
    std::vector<Control> selected;
    std::vector<std::string> warnings;
    std::vector<std::string> logs;
    int quits = 0;

private:
    std::map<Control, std::string> m_captions;
    std::map<Control, bool> m_visible;
};

} // namespace vk9::test
