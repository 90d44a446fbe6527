#include "model/Layout.h"
#include "model/Lookup.h"

#include <QtTest>

#include <algorithm>
#include <set>
#include <vector>

using namespace vk9;

namespace {

// The rectangle of a container in window coordinates (frames may nest).
Rect inWindow(Control id) {
    if (id == Control::Form1) {
        return {0, 0, kClientWidth, kDesignedClientHeight};
    }
    const FrameRow* frame = findRow(kFrames, id);
    const Rect outer = inWindow(frame->container);
    return {outer.left + frame->rect.left, outer.top + frame->rect.top, frame->rect.width,
            frame->rect.height};
}

bool within(const Rect& r, Control container) {
    const Rect c = inWindow(container);
    return r.left >= 0 && r.top >= 0 && r.right() <= c.width && r.bottom() <= c.height;
}

template <class Table>
void collect(const Table& table, std::vector<int>& tabs, std::vector<Control>& ids) {
    for (const auto& row : table) {
        tabs.push_back(row.tab);
        ids.push_back(row.id);
        QVERIFY2(row.container == Control::Form1 || findRow(kFrames, row.container),
                 controlName(row.id).data());
        QVERIFY2(within(row.rect, row.container), controlName(row.id).data());
    }
}

} // namespace

class TstLayout : public QObject {
    Q_OBJECT
private slots:
    void tablesHoldEveryControl() {
        QCOMPARE(kFrames.size(), std::size_t{13});
        QCOMPARE(kButtons.size(), std::size_t{56});
        QCOMPARE(kLabels.size(), std::size_t{21});
        QCOMPARE(kOptions.size(), std::size_t{10});
        QCOMPARE(kLines.size(), std::size_t{12});
        // With the window and the picture, every named control has exactly one row.
        QCOMPARE(kFrames.size() + kButtons.size() + kLabels.size() + kOptions.size() +
                     kLines.size() + 2,
                 kControlCount);
    }

    void tabIndicesRunWithoutGapsAndControlsFitTheirContainers() {
        std::vector<int> tabs;
        std::vector<Control> ids;
        collect(kFrames, tabs, ids);
        collect(kButtons, tabs, ids);
        collect(kLabels, tabs, ids);
        collect(kOptions, tabs, ids);
        std::sort(tabs.begin(), tabs.end());
        for (std::size_t i = 0; i < tabs.size(); ++i) {
            QCOMPARE(tabs[i], int(i));
        }
        QCOMPARE(tabs.size(), std::size_t{100});
        QCOMPARE(std::set<Control>(ids.begin(), ids.end()).size(), ids.size());
    }

    void buttonsThatShareACaptionHaveTheirOwnNames() {
        std::set<std::string_view> names;
        for (const auto& row : kButtons) {
            const auto shared = std::count_if(kButtons.begin(), kButtons.end(), [&](const auto& b) {
                return b.caption == row.caption;
            });
            const std::string_view name =
                row.accessibleName.empty() ? row.caption : row.accessibleName;
            if (shared > 1) {
                QVERIFY2(!row.accessibleName.empty(), controlName(row.id).data());
            }
            QVERIFY2(names.insert(name).second, name.data());
        }
    }
};

QTEST_APPLESS_MAIN(TstLayout)
#include "tst_layout.moc"
