#pragma once

#include "model/Layout.h"
#include "ports/Diagnostics.h"
#include "ports/View.h"

#include <map>
#include <string>
#include <vector>

namespace vk9::test {

// A View, and the diagnostics beside it, that remember what the handlers did to them.
// Buttons, frames and labels start with the captions and visibility of the layout.
struct RecordingView final : View, Diagnostics {
    std::map<Control, std::string> captions;
    std::map<Control, bool> visible;
    int height = 0;
    double left = 0;
    double top = 0;
    ScreenSize screen{1920 * 15.0, 1080 * 15.0};
    std::vector<Control> selected;
    std::vector<std::string> warnings; // every text the warning box was given
    bool warningOpen = false;
    std::vector<std::string> logs;
    std::vector<std::string> trafficLog; // "TX| C 0 0 CR |"
    int quits = 0;

    RecordingView() {
        for (const auto& row : kButtons) {
            captions[row.id] = row.caption;
            visible[row.id] = row.visible;
        }
        for (const auto& row : kFrames) {
            visible[row.id] = row.visible;
        }
    }
    void setCaption(Control c, std::string_view text) override { captions[c] = text; }
    std::string caption(Control c) const override {
        const auto it = captions.find(c);
        return it == captions.end() ? std::string{} : it->second;
    }
    void setVisible(Control c, bool shown) override { visible[c] = shown; }
    bool isVisible(Control c) const { return visible.count(c) == 0 || visible.at(c); }
    void selectOption(Control option) override { selected.push_back(option); }
    void setWindowHeight(int twips) override { height = twips; }
    int windowHeight() const override { return height; }
    void moveWindow(double l, double t) override { left = l, top = t; }
    ScreenSize screenSize() const override { return screen; }
    void warn(std::string_view message) override {
        warnings.emplace_back(message);
        warningOpen = true;
    }
    void withdrawWarning() override { warningOpen = false; }
    void log(std::string_view line) override { logs.emplace_back(line); }
    void quit() override { ++quits; }
    void frameSent(std::string_view shown) override {
        trafficLog.push_back("TX|" + std::string(shown) + "|");
    }
    void replyShown(std::string_view shown, std::string_view status) override {
        trafficLog.push_back("RX|" + std::string(shown) + "|" + std::string(status));
    }
};

} // namespace vk9::test
