#include "RecordingView.h"

#include "model/Layout.h"

namespace vk9::test {

RecordingView::RecordingView() {
    for (const auto& row : kButtons) {
        m_captions[row.id] = row.caption;
        m_visible[row.id] = row.visible;
    }
    for (const auto& row : kLabels) {
        m_captions[row.id] = row.caption;
    }
    for (const auto& row : kFrames) {
        m_visible[row.id] = row.visible;
    }
}

void RecordingView::setCaption(Control control, std::string_view text) {
    m_captions[control] = text;
}

std::string RecordingView::caption(Control control) const {
    const auto it = m_captions.find(control);
    return it == m_captions.end() ? std::string{} : it->second;
}

bool RecordingView::isVisible(Control control) const {
    const auto it = m_visible.find(control);
    return it == m_visible.end() || it->second;
}

} // namespace vk9::test
