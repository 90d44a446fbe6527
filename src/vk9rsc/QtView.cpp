#include "QtView.h"

#include "model/Layout.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QMessageBox>
#include <QScreen>

namespace vk9::qt {

void QtView::setCaption(Control control, std::string_view text) {
    const QString caption = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    if (auto* label = qobject_cast<QLabel*>(widget(control))) {
        if (label->text() != caption) { // a flood of identical pieces costs no relayout
            label->setText(caption);
        }
    } else if (auto* button = qobject_cast<QAbstractButton*>(widget(control))) {
        button->setText(caption);
    }
}

std::string QtView::caption(Control control) const {
    if (const auto* label = qobject_cast<const QLabel*>(widget(control))) {
        return label->text().toStdString();
    }
    if (const auto* button = qobject_cast<const QAbstractButton*>(widget(control))) {
        return button->text().toStdString();
    }
    return {};
}

void QtView::setVisible(Control control, bool visible) {
    if (QWidget* w = widget(control)) {
        w->setVisible(visible);
        if (visible) {
            w->raise(); // the settings frame is drawn over "COM"
        }
    }
}

void QtView::selectOption(Control option) {
    if (auto* button = qobject_cast<QAbstractButton*>(widget(option))) {
        button->setChecked(true); // emits no clicked(): the panel runs the selection itself
    }
}

void QtView::setWindowHeight(int twips) {
    m_outerHeight = twips;
    m_window.setFixedHeight(toPixels(clientHeightFor(twips)));
}

void QtView::moveWindow(double left, double top) {
    m_window.move(toPixels(left), toPixels(top));
}

ScreenSize QtView::screenSize() const {
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (screen == nullptr) {
        return {};
    }
    const QSize size = screen->geometry().size();
    return {static_cast<double>(size.width()) * kTwipsPerPixel,
            static_cast<double>(size.height()) * kTwipsPerPixel};
}

// Window-modal and opened with open(), never exec(): the handler that warns returns at
// once, and no event loop runs inside it to deliver the next loss into a second box.
void QtView::warn(std::string_view message) {
    const QString text = QString::fromUtf8(message.data(), static_cast<qsizetype>(message.size()));
    if (m_warning == nullptr) {
        m_warning = new QMessageBox(QMessageBox::Warning, QStringLiteral("VK9RSC"), text,
                                    QMessageBox::Ok, &m_window);
        m_warning->setObjectName(QStringLiteral("warningBox"));
        m_warning->setAttribute(Qt::WA_DeleteOnClose);
        m_warning->setWindowModality(Qt::WindowModal);
    } else {
        m_warning->setText(text);
    }
    m_warning->open();
}

void QtView::withdrawWarning() {
    if (m_warning != nullptr) {
        m_warning->close();
    }
}

void QtView::quit() {
    QCoreApplication::quit();
}

} // namespace vk9::qt
