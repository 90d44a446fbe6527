#pragma once

#include "model/Control.h"

#include <array>
#include <cstdint>
#include <string_view>

namespace vk9 {

// The window's layout as data. Lengths are twips (1440 to the inch, 15 to the pixel at
// 96 dpi); positions are relative to the container's top-left corner.

struct Rect {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
    constexpr int right() const { return left + width; }
    constexpr int bottom() const { return top + height; }
};

struct Point {
    int x = 0;
    int y = 0;
};

struct Rgb {
    int r = 0;
    int g = 0;
    int b = 0;
    bool system = false; // the platform's own colour (button face, window text)
};

inline constexpr Rgb kSystem{0, 0, 0, true};
inline constexpr Rgb kGrey{192, 192, 192};

enum class Font : std::uint8_t { A, B, C, D, E, F, G, W };
enum class Align : std::uint8_t { Left, Centre, Right };

struct FontRow {
    Font key;
    std::string_view face; // the designed face; the shell maps it to an installed one
    double points;
    bool bold;
};

inline constexpr std::string_view kFixedFace = "ＭＳ ゴシック";
inline constexpr std::string_view kProportionalFace = "ＭＳ Ｐゴシック";

inline constexpr std::array kFonts{
    FontRow{Font::A, kFixedFace, 9, true},
    FontRow{Font::B, kFixedFace, 9, false},
    FontRow{Font::C, kProportionalFace, 9, false},
    FontRow{Font::D, kFixedFace, 8.25, false},
    FontRow{Font::E, kProportionalFace, 9, true},
    FontRow{Font::F, kFixedFace, 8.25, true},
    FontRow{Font::G, kProportionalFace, 9.75, true},
    FontRow{Font::W, kProportionalFace, 7.5, false},
};
inline constexpr Font kWindowFont = Font::W;

struct FrameRow {
    Control id;
    Control container;
    Rect rect;
    Rgb back;
    bool visible;
    int tab;
};

struct ButtonRow {
    Control id;
    std::string_view caption;
    Control container;
    Rect rect;
    Rgb face;
    Font font;
    int tab;
    bool visible;
    std::string_view accessibleName; // tells apart buttons that share a caption
};

struct LabelRow {
    Control id;
    std::string_view caption;
    Control container;
    Rect rect;
    Align align;
    bool border;
    Rgb text;
    Rgb back;
    Font font;
    int tab;
};

struct OptionRow {
    Control id;
    std::string_view caption;
    Control container; // option buttons in one container form one group
    Rect rect;
    bool selected;
    Font font;
    int tab;
};

struct LineRow {
    Control id;
    Point from;
    Point to;
};

// clang-format off
// Frames draw a border and no caption; a group's title is a label inside it. Frame13 sits
// in Frame8 so that the speed options form a group apart from the port options.
inline constexpr std::array<FrameRow, 13> kFrames{{
    {Control::Frame1, Control::Form1, {60, 240, 1755, 975}, kGrey, true, 0},
    {Control::Frame2, Control::Form1, {2160, 240, 3132, 975}, kGrey, true, 3},
    {Control::Frame3, Control::Form1, {60, 1440, 1755, 855}, kGrey, true, 8},
    {Control::Frame4, Control::Form1, {1920, 1440, 1695, 855}, kGrey, true, 10},
    {Control::Frame5, Control::Form1, {5520, 1440, 1980, 855}, kGrey, true, 12},
    {Control::Frame6, Control::Form1, {5520, 240, 1935, 975}, kGrey, true, 14},
    {Control::Frame7, Control::Form1, {3720, 1440, 1695, 855}, kGrey, true, 25},
    {Control::Frame8, Control::Form1, {3480, 3555, 2775, 1185}, kGrey, false, 45},
    {Control::Frame9, Control::Form1, {60, 4815, 6312, 945}, kGrey, true, 48},
    {Control::Frame10, Control::Form1, {7620, 600, 1755, 1695}, kGrey, true, 80},
    {Control::Frame11, Control::Form1, {675, 6285, 6615, 480}, kGrey, true, 86},
    {Control::Frame12, Control::Form1, {60, 5745, 6330, 480}, kSystem, true, 94},
    {Control::Frame13, Control::Frame8, {90, 510, 2595, 615}, kGrey, true, 97},
}};

// Buttons, in tab order. "COM" (Command33) keeps the system face; Command34 is the data
// display button, hidden until the reveal shortcut; its caption reads "show data".
inline constexpr std::array<ButtonRow, 56> kButtons{{
    {Control::Command17, "ON", Control::Frame1, {120, 600, 615, 300}, Rgb{192, 255, 192}, Font::A, 1, true, "POWER ON"},
    {Control::Command1, "+", Control::Form1, {3480, 2880, 375, 255}, Rgb{255, 192, 128}, Font::E, 5, true, "VOL +"},
    {Control::Command2, "-", Control::Form1, {3480, 3240, 375, 255}, Rgb{255, 192, 128}, Font::E, 6, true, "VOL -"},
    {Control::Command3, "DISPLAY CLEAR", Control::Form1, {8160, 3480, 1215, 492}, Rgb{192, 192, 255}, Font::B, 16, true, ""},
    {Control::Command4, "NORMAL", Control::Form1, {8160, 2760, 1215, 250}, Rgb{192, 192, 255}, Font::B, 17, true, ""},
    {Control::Command5, "↑", Control::Form1, {1200, 2520, 855, 375}, Rgb{255, 224, 192}, Font::E, 18, true, "cursor up"},
    {Control::Command6, "SELECT", Control::Form1, {1200, 3000, 855, 375}, Rgb{255, 128, 0}, Font::C, 19, true, ""},
    {Control::Command7, "↓", Control::Form1, {1200, 3480, 855, 375}, Rgb{255, 224, 192}, Font::E, 20, true, "cursor down"},
    {Control::Command8, "→", Control::Form1, {2160, 3000, 855, 375}, Rgb{255, 224, 192}, Font::E, 21, true, "cursor right"},
    {Control::Command9, "←", Control::Form1, {240, 3000, 855, 375}, Rgb{255, 224, 192}, Font::E, 22, true, "cursor left"},
    {Control::Command10, "ZOOM", Control::Form1, {120, 4320, 900, 375}, Rgb{192, 255, 255}, Font::B, 23, true, ""},
    {Control::Command11, "FOCUS", Control::Form1, {1080, 4320, 930, 375}, Rgb{192, 255, 255}, Font::B, 24, true, ""},
    {Control::Command13, "A-IMAGE", Control::Form1, {8160, 2400, 1215, 250}, Rgb{0, 192, 192}, Font::B, 27, true, ""},
    {Control::Command14, "P-TIMER", Control::Form1, {8160, 3240, 1215, 250}, Rgb{192, 192, 255}, Font::B, 28, true, ""},
    {Control::Command16, "END", Control::Form1, {8400, 4320, 975, 375}, Rgb{192, 192, 192}, Font::A, 29, true, ""},
    {Control::Command18, "OFF", Control::Frame1, {960, 600, 615, 300}, Rgb{255, 192, 192}, Font::A, 30, true, "POWER OFF"},
    {Control::Command19, "ON", Control::Frame3, {120, 480, 615, 300}, Rgb{192, 255, 192}, Font::A, 31, true, "SOUND MUTE ON"},
    {Control::Command20, "OFF", Control::Frame3, {960, 480, 615, 300}, Rgb{255, 192, 192}, Font::A, 32, true, "SOUND MUTE OFF"},
    {Control::Command21, "ON", Control::Frame4, {120, 480, 615, 300}, Rgb{192, 255, 192}, Font::A, 33, true, "NO SHOW ON"},
    {Control::Command22, "OFF", Control::Frame4, {960, 480, 615, 300}, Rgb{255, 192, 192}, Font::A, 34, true, "NO SHOW OFF"},
    {Control::Command23, "ON", Control::Frame6, {120, 600, 615, 300}, Rgb{192, 255, 192}, Font::A, 35, true, "MENU ON"},
    {Control::Command24, "OFF", Control::Frame6, {1080, 600, 615, 300}, Rgb{255, 192, 192}, Font::A, 36, true, "MENU OFF"},
    {Control::Command25, "ON", Control::Frame7, {120, 480, 615, 300}, Rgb{192, 255, 192}, Font::A, 37, true, "FREEZE ON"},
    {Control::Command26, "OFF", Control::Frame7, {960, 480, 615, 300}, Rgb{255, 192, 192}, Font::A, 38, true, "FREEZE OFF"},
    {Control::Command27, "1", Control::Frame2, {240, 600, 495, 300}, Rgb{192, 255, 255}, Font::A, 39, true, "MODE SET 1"},
    {Control::Command28, "2", Control::Frame2, {960, 600, 495, 300}, Rgb{192, 255, 255}, Font::A, 40, true, "MODE SET 2"},
    {Control::Command29, "3", Control::Frame2, {1680, 600, 495, 300}, Rgb{192, 255, 255}, Font::A, 41, true, "MODE SET 3"},
    {Control::Command31, "Regular", Control::Frame5, {120, 480, 975, 300}, Rgb{192, 255, 255}, Font::B, 42, true, ""},
    {Control::Command32, "Wide", Control::Frame5, {1140, 480, 735, 300}, Rgb{192, 255, 255}, Font::B, 43, true, ""},
    {Control::Command33, "COM", Control::Form1, {4080, 4200, 1815, 375}, kSystem, Font::C, 44, true, ""},
    {Control::Command34, "データを表示する", Control::Form1, {8160, 4920, 1200, 375}, Rgb{192, 192, 192}, Font::C, 53, false, ""},
    {Control::Command15, "+", Control::Form1, {4440, 2880, 375, 255}, Rgb{192, 255, 255}, Font::C, 54, true, "Zoom +"},
    {Control::Command35, "-", Control::Form1, {4440, 3240, 375, 255}, Rgb{192, 255, 255}, Font::C, 55, true, "Zoom -"},
    {Control::Command36, "+", Control::Form1, {5400, 2880, 375, 255}, Rgb{192, 255, 255}, Font::C, 57, true, "Focus +"},
    {Control::Command37, "-", Control::Form1, {5400, 3240, 375, 255}, Rgb{192, 255, 255}, Font::C, 58, true, "Focus -"},
    {Control::Command41, "Lens shift", Control::Form1, {2145, 4395, 1290, 300}, Rgb{192, 255, 255}, Font::B, 60, true, ""},
    {Control::Command43, "CURSOL", Control::Form1, {8160, 3000, 1215, 255}, Rgb{192, 192, 255}, Font::B, 61, true, ""},
    {Control::Command44, "STATUS", Control::Form1, {6435, 5520, 975, 360}, Rgb{192, 255, 255}, Font::F, 62, true, ""},
    {Control::Command45, "MODE", Control::Form1, {6435, 5880, 975, 375}, Rgb{192, 255, 255}, Font::F, 63, true, ""},
    {Control::Command46, "L-TIME", Control::Form1, {7425, 5520, 990, 375}, Rgb{192, 255, 255}, Font::F, 64, true, ""},
    {Control::Command47, "SETTING", Control::Form1, {7410, 5880, 1005, 375}, Rgb{192, 255, 255}, Font::F, 65, true, ""},
    {Control::Command48, "+", Control::Form1, {6480, 2880, 375, 255}, Rgb{192, 255, 255}, Font::C, 66, true, "D.Zoom +"},
    {Control::Command49, "-", Control::Form1, {6480, 3240, 375, 255}, Rgb{192, 255, 255}, Font::C, 67, true, "D.Zoom -"},
    {Control::Command50, "+", Control::Form1, {7440, 2880, 375, 255}, Rgb{192, 255, 255}, Font::C, 69, true, "Keystone +"},
    {Control::Command51, "-", Control::Form1, {7440, 3240, 375, 255}, Rgb{192, 255, 255}, Font::C, 70, true, "Keystone -"},
    {Control::Command52, "C01", Control::Form1, {60, 6432, 492, 255}, Rgb{255, 192, 192}, Font::C, 72, true, ""},
    {Control::Command53, "4", Control::Frame2, {2400, 600, 495, 300}, Rgb{192, 255, 255}, Font::A, 73, true, "MODE SET 4"},
    {Control::Command54, "TEMP", Control::Form1, {8400, 5520, 1035, 375}, Rgb{192, 255, 255}, Font::A, 74, true, ""},
    {Control::Command55, "L-MODE", Control::Form1, {8400, 5880, 1035, 375}, Rgb{192, 255, 255}, Font::A, 75, true, ""},
    {Control::Command56, "4 LAMP", Control::Form1, {6600, 3960, 1410, 372}, Rgb{255, 255, 192}, Font::B, 76, true, ""},
    {Control::Command57, "1-4", Control::Form1, {6600, 4320, 705, 372}, Rgb{255, 255, 192}, Font::B, 77, true, ""},
    {Control::Command58, "2-3", Control::Form1, {7290, 4320, 720, 372}, Rgb{255, 255, 192}, Font::B, 78, true, ""},
    {Control::Command59, "↑", Control::Frame10, {600, 600, 492, 252}, Rgb{255, 224, 192}, Font::W, 81, true, "LENS SHIFT up"},
    {Control::Command60, "←", Control::Frame10, {240, 960, 492, 252}, Rgb{255, 224, 192}, Font::W, 82, true, "LENS SHIFT left"},
    {Control::Command61, "→", Control::Frame10, {960, 960, 492, 252}, Rgb{255, 224, 192}, Font::W, 83, true, "LENS SHIFT right"},
    {Control::Command62, "↓", Control::Frame10, {588, 1320, 492, 252}, Rgb{255, 224, 192}, Font::W, 84, true, "LENS SHIFT down"},
}};

// Label11, Label12 and Label22 are the TXD, RXD and STATUS boxes, written at run time.
inline constexpr std::array<LabelRow, 21> kLabels{{
    {Control::Label1, "POWER", Control::Frame1, {120, 240, 1500, 360}, Align::Centre, false, Rgb{192, 0, 0}, Rgb{192, 192, 192}, Font::A, 2},
    {Control::Label2, "MODE SET", Control::Frame2, {720, 255, 1815, 345}, Align::Centre, false, kSystem, Rgb{192, 192, 192}, Font::A, 4},
    {Control::Label3, "VOL", Control::Form1, {3360, 2520, 735, 345}, Align::Centre, false, kSystem, Rgb{192, 192, 192}, Font::B, 7},
    {Control::Label4, "SOUND MUTE", Control::Frame3, {90, 195, 1575, 300}, Align::Centre, false, kSystem, Rgb{192, 192, 192}, Font::A, 9},
    {Control::Label5, "NO SHOW", Control::Frame4, {135, 210, 1440, 315}, Align::Centre, false, kSystem, Rgb{192, 192, 192}, Font::A, 11},
    {Control::Label6, "AV Size SET", Control::Frame5, {120, 195, 1755, 315}, Align::Centre, false, kSystem, Rgb{192, 192, 192}, Font::A, 13},
    {Control::Label7, "MENU", Control::Frame6, {225, 240, 1380, 360}, Align::Centre, false, kSystem, Rgb{192, 192, 192}, Font::A, 15},
    {Control::Label8, "FREEZE", Control::Frame7, {120, 225, 1500, 285}, Align::Centre, false, kSystem, Rgb{192, 192, 192}, Font::A, 26},
    {Control::Label9, "TXD", Control::Frame9, {120, 210, 555, 315}, Align::Right, false, kSystem, Rgb{192, 192, 192}, Font::B, 49},
    {Control::Label10, "RXD", Control::Frame9, {120, 585, 555, 270}, Align::Right, false, kSystem, Rgb{192, 192, 192}, Font::B, 50},
    {Control::Label11, "", Control::Frame9, {735, 195, 5475, 300}, Align::Left, true, kSystem, Rgb{255, 255, 255}, Font::G, 51},
    {Control::Label12, "", Control::Frame9, {735, 540, 5490, 330}, Align::Left, true, kSystem, Rgb{255, 255, 255}, Font::G, 52},
    {Control::Label13, "Zoom", Control::Form1, {4170, 2520, 855, 300}, Align::Centre, false, kSystem, Rgb{192, 192, 192}, Font::B, 56},
    {Control::Label14, "Focus", Control::Form1, {5160, 2520, 855, 345}, Align::Centre, false, kSystem, Rgb{192, 192, 192}, Font::B, 59},
    {Control::Label17, "D.Zoom", Control::Form1, {6120, 2520, 1035, 345}, Align::Centre, false, kSystem, Rgb{192, 192, 192}, Font::B, 68},
    {Control::Label18, "Keystone", Control::Form1, {7065, 2520, 975, 330}, Align::Centre, false, kSystem, Rgb{192, 192, 192}, Font::B, 71},
    {Control::Label19, "LAMP SELECT", Control::Form1, {6465, 3615, 1605, 360}, Align::Centre, false, kSystem, Rgb{192, 192, 192}, Font::B, 79},
    {Control::Label20, "LENS SHIFT", Control::Frame10, {120, 225, 1500, 360}, Align::Centre, false, kSystem, Rgb{192, 192, 192}, Font::A, 85},
    {Control::Label21, "PJ Select", Control::Frame11, {90, 165, 1050, 270}, Align::Left, false, kSystem, Rgb{192, 192, 192}, Font::D, 87},
    {Control::Label22, "", Control::Frame12, {960, 120, 5310, 300}, Align::Left, true, Rgb{255, 0, 0}, Rgb{255, 255, 255}, Font::E, 95},
    {Control::Label23, "STATUS", Control::Frame12, {75, 180, 825, 270}, Align::Right, false, kSystem, Rgb{192, 192, 192}, Font::D, 96},
}};

inline constexpr std::array<OptionRow, 10> kOptions{{
    {Control::Option1, "COM1", Control::Frame8, {210, 180, 1095, 345}, false, Font::A, 46},
    {Control::Option2, "COM2", Control::Frame8, {1455, 165, 1140, 390}, false, Font::A, 47},
    {Control::Option3, "SINGLE", Control::Frame11, {1200, 135, 990, 300}, true, Font::D, 88},
    {Control::Option4, "ALL", Control::Frame11, {2250, 135, 750, 300}, false, Font::D, 89},
    {Control::Option5, "001", Control::Frame11, {3090, 150, 780, 300}, false, Font::D, 90},
    {Control::Option6, "002", Control::Frame11, {3960, 150, 795, 300}, false, Font::D, 91},
    {Control::Option7, "003", Control::Frame11, {4860, 135, 765, 300}, false, Font::D, 92},
    {Control::Option8, "004", Control::Frame11, {5805, 135, 750, 300}, false, Font::D, 93},
    {Control::Option9, "19200", Control::Frame13, {120, 165, 1140, 345}, true, Font::A, 98},
    {Control::Option10, "9600", Control::Frame13, {1350, 165, 1155, 345}, false, Font::A, 99},
}};

// The outline of a cross around the cursor pad.
inline constexpr std::array<LineRow, 12> kLines{{
    {Control::Line1, {1080, 2400}, {1080, 2880}},
    {Control::Line2, {2160, 2400}, {2160, 2880}},
    {Control::Line3, {3120, 2880}, {3120, 3480}},
    {Control::Line4, {2160, 3480}, {2160, 3960}},
    {Control::Line5, {1080, 3480}, {1080, 3960}},
    {Control::Line6, {120, 2880}, {120, 3480}},
    {Control::Line7, {1080, 2400}, {2160, 2400}},
    {Control::Line8, {120, 2880}, {1080, 2880}},
    {Control::Line9, {2160, 2880}, {3120, 2880}},
    {Control::Line10, {120, 3480}, {1080, 3480}},
    {Control::Line11, {1080, 3960}, {2160, 3960}},
    {Control::Line12, {2160, 3480}, {3120, 3480}},
}};

// clang-format on

inline constexpr Rgb kLineColour{128, 128, 255};
inline constexpr int kLineWidthPixels = 2;

inline constexpr Rect kImage1{8190, 60, 1200, 390};
inline constexpr int kImagePixelsWide = 80;
inline constexpr int kImagePixelsHigh = 26;

// Timers are invisible; all five start stopped with these intervals (ms), Timer1..Timer5.
inline constexpr std::array<int, 5> kDesignedTimerIntervals{200, 500, 5000, 1000, 2000};

inline constexpr std::string_view kWindowTitle = "ORVA   VK9  CONTROL  Ver.1.30";
inline constexpr Rgb kWindowBack = kGrey;
inline constexpr int kClientWidth = 9495; // never changes at run time
inline constexpr int kDesignedClientHeight = 6825;

// Outer window heights the panel sets, and the height from which the data button shortens.
inline constexpr int kStartHeight = 5200; // upper panel only
inline constexpr int kDataHeight = 6645;  // also the traffic boxes, STATUS and the queries
inline constexpr int kFullHeight = 7200;  // the whole layout, address group included
inline constexpr int kTallThreshold = 6000;

// The heights above are outer heights, designed around a nominal title bar and frame. The
// view sizes its client area as outer height minus this allowance, whatever the window
// manager draws, so that each height shows the same bands everywhere:
//   5200 -> client 4810 (between 4740, the bottom of Frame8, and 4815, the top of Frame9),
//   6645 -> client 6255 (the bottom of the status queries; Frame11 starts at 6285),
//   7200 -> client 6810 (the address frame ends at 6765).
// 390 twips (26 px) is the only whole-pixel allowance that satisfies the first two at once.
inline constexpr int kFrameAllowance = 390;
// Designed frame width on each side, used only to centre the window at start-up.
inline constexpr int kFrameSide = 60;

constexpr int clientHeightFor(int outerTwips) {
    return outerTwips - kFrameAllowance;
}
constexpr int outerHeightFor(int clientTwips) {
    return clientTwips + kFrameAllowance;
}
constexpr int designedOuterWidth() {
    return kClientWidth + 2 * kFrameSide;
}
constexpr int designedOuterHeight() {
    return outerHeightFor(kDesignedClientHeight);
}

inline constexpr int kTwipsPerPixel = 15;
constexpr int toPixels(double twips) {
    const double px = twips / kTwipsPerPixel;
    return static_cast<int>(px < 0 ? px - 0.5 : px + 0.5);
}

} // namespace vk9
