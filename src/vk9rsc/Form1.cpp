#include "Form1.h"

#include "CaptionButton.h"

#include "adjust/Adjust.h"
#include "model/Layout.h"
#include "model/Lookup.h"
#include "window/WindowHeight.h"

#include <QButtonGroup>
#include <QCloseEvent>
#include <QFocusEvent>
#include <QFont>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QStyleFactory>
#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <map>
#include <vector>

// Resources of a static library are registered by hand, outside any namespace.
static void registerResources() {
    Q_INIT_RESOURCE(vk9rsc);
}

namespace vk9::qt {

namespace {

QColor toQColor(const Rgb& c) {
    return {c.r, c.g, c.b};
}

QString toQString(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QFont makeFont(Font key) {
    const FontRow& row = kFonts[static_cast<std::size_t>(key)];
    QFont font(toQString(row.face));
    font.setPointSizeF(row.points);
    font.setBold(row.bold);
    font.setStyleHint(row.face == kFixedFace ? QFont::TypeWriter : QFont::SansSerif);
    return font;
}

QRect toPixels(const Rect& r) {
    return {vk9::toPixels(r.left), vk9::toPixels(r.top), vk9::toPixels(r.width),
            vk9::toPixels(r.height)};
}

Qt::Alignment toQt(Align a) {
    // Captions sit at the top of their label.
    switch (a) {
    case Align::Left:
        return Qt::AlignLeft | Qt::AlignTop;
    case Align::Centre:
        return Qt::AlignHCenter | Qt::AlignTop;
    case Align::Right:
        return Qt::AlignRight | Qt::AlignTop;
    }
    return Qt::AlignLeft | Qt::AlignTop;
}

// The system's own colour is the platform's button face for a background, and the
// platform's colour of the same role otherwise.
void paint(QWidget* w, QPalette::ColorRole role, const Rgb& colour) {
    QPalette palette = w->palette();
    const QPalette::ColorRole systemRole = role == QPalette::Window ? QPalette::Button : role;
    palette.setColor(role,
                     colour.system ? QApplication::palette().color(systemRole) : toQColor(colour));
    w->setPalette(palette);
}

// A label with a border draws a plain line in the system's text colour around itself,
// whatever colour its text has.
class BorderedLabel final : public QLabel {
public:
    using QLabel::QLabel;

protected:
    void paintEvent(QPaintEvent* event) override {
        QLabel::paintEvent(event);
        QPainter painter(this);
        painter.setPen(QApplication::palette().color(QPalette::WindowText));
        painter.drawRect(rect().adjusted(0, 0, -1, -1));
    }
};

} // namespace

void prepareApplication(QApplication& app) {
    registerResources();
    QApplication::setApplicationName(QStringLiteral("VK9RSC"));
    // Fusion draws buttons in their palette colour on every platform.
    if (QStyle* fusion = QStyleFactory::create(QStringLiteral("Fusion"))) {
        QApplication::setStyle(fusion);
    }
    // The designed faces, then Debian's IPA fonts, then any fixed or proportional face.
    const QStringList fixed{QStringLiteral("MS Gothic"), QStringLiteral("IPAGothic"),
                            QStringLiteral("Noto Sans Mono CJK JP"),
                            QStringLiteral("DejaVu Sans Mono"), QStringLiteral("Monospace")};
    const QStringList proportional{QStringLiteral("MS PGothic"), QStringLiteral("IPAPGothic"),
                                   QStringLiteral("Noto Sans CJK JP"),
                                   QStringLiteral("DejaVu Sans"), QStringLiteral("Sans Serif")};
    QFont::insertSubstitutions(toQString(kFixedFace), fixed);
    QFont::insertSubstitutions(QStringLiteral("MS Gothic"), fixed.mid(1));
    QFont::insertSubstitutions(toQString(kProportionalFace), proportional);
    QFont::insertSubstitutions(QStringLiteral("MS PGothic"), proportional.mid(1));
    app.setWindowIcon(QIcon(QStringLiteral(":/vk9rsc/vk9rsc.png")));
}

Form1::Form1(const LaunchOptions& options, QWidget* parent)
    : QWidget(parent), m_view(*this, m_widgets), m_panel(m_timers, m_port, m_view, m_diagnostics) {
    m_widgets[static_cast<std::size_t>(Control::Form1)] = this;
    setObjectName(toQString(controlName(Control::Form1)));
    setWindowTitle(toQString(kWindowTitle));
    setFixedWidth(vk9::toPixels(kClientWidth));
    setAutoFillBackground(true);
    paint(this, QPalette::Window, kWindowBack);
    setFont(makeFont(kWindowFont));

    buildControls();
    setTabOrder();
    wireEvents();
    m_port.useLinesFile(options.linesFile);
    for (const int port : {1, 2}) {
        m_port.nameDevice(port, options.devices.at(port - 1));
        control(port == 1 ? Control::Option1 : Control::Option2)
            ->setToolTip(QStringLiteral("Port %1: %2")
                             .arg(port)
                             .arg(QString::fromStdString(m_port.lineFor(port).device)));
    }
    if (!options.trafficLog.isEmpty()) {
        m_diagnostics.keepLog(options.trafficLog);
    }

    if (!options.linesFile.error.empty()) { // before any failure it may have caused
        m_panel.notice(options.linesFile.error + "\nThe lines file is not used.");
    }
    m_panel.load();
    if (QWidget* first = control(Control::Command17)) {
        first->setFocus(); // "POWER" "ON", the first control that takes the focus
    }
}

void Form1::buildControls() {
    const auto place = [this](QWidget* w, Control id, Control container, const Rect& rect) {
        w->setParent(control(container));
        w->setObjectName(toQString(controlName(id)));
        w->setGeometry(toPixels(rect));
        m_widgets[static_cast<std::size_t>(id)] = w;
    };

    // Lines and the picture are drawn under every other control.
    for (const LineRow& line : kLines) {
        auto* w = new QFrame;
        const int x = vk9::toPixels(std::min(line.from.x, line.to.x));
        const int y = vk9::toPixels(std::min(line.from.y, line.to.y));
        const int w_ = vk9::toPixels(std::abs(line.to.x - line.from.x));
        const int h = vk9::toPixels(std::abs(line.to.y - line.from.y));
        place(w, line.id, Control::Form1, {});
        // Centred on the designed line, two pixels wide, long enough to close the corners.
        w->setGeometry(x - kLineWidthPixels / 2, y - kLineWidthPixels / 2,
                       std::max(w_, 0) + kLineWidthPixels, std::max(h, 0) + kLineWidthPixels);
        w->setAutoFillBackground(true);
        paint(w, QPalette::Window, kLineColour);
    }
    auto* image = new QLabel;
    place(image, Control::Image1, Control::Form1, kImage1);
    image->setPixmap(QPixmap(QStringLiteral(":/vk9rsc/image1.png")));
    image->setAccessibleName(QStringLiteral("VK9 logo"));

    for (const FrameRow& row : kFrames) {
        auto* w = new QFrame;
        place(w, row.id, row.container, row.rect);
        w->setFrameShape(QFrame::Box);
        w->setFrameShadow(QFrame::Sunken);
        w->setAutoFillBackground(true);
        paint(w, QPalette::Window, row.back);
        w->setVisible(row.visible);
    }
    for (const ButtonRow& row : kButtons) {
        auto* w = new CaptionButton(toQString(row.caption));
        place(w, row.id, row.container, row.rect);
        w->setFont(makeFont(row.font));
        paint(w, QPalette::Button, row.face);
        w->setAutoDefault(false);
        if (!row.accessibleName.empty()) {
            w->setAccessibleName(toQString(row.accessibleName));
        }
        w->setVisible(row.visible);
    }
    for (const LabelRow& row : kLabels) {
        auto* w = row.border ? new BorderedLabel(toQString(row.caption))
                             : new QLabel(toQString(row.caption));
        place(w, row.id, row.container, row.rect);
        w->setTextFormat(Qt::PlainText); // received text is never markup
        w->setAlignment(toQt(row.align));
        w->setFont(makeFont(row.font));
        w->setAutoFillBackground(true);
        paint(w, QPalette::Window, row.back);
        paint(w, QPalette::WindowText, row.text);
        if (row.border) {
            w->setFrameShape(QFrame::Box);
            w->setFrameShadow(QFrame::Plain);
        }
    }
    // One exclusive group per container. Qt's own grouping of radio buttons would take the
    // speed options of Frame13 into the port group of Frame8, which holds it.
    std::map<Control, QButtonGroup*> groups;
    for (const OptionRow& row : kOptions) {
        auto* w = new QRadioButton(toQString(row.caption));
        place(w, row.id, row.container, row.rect);
        w->setFont(makeFont(row.font));
        w->setChecked(row.selected);
        auto& group = groups[row.container];
        if (group == nullptr) {
            group = new QButtonGroup(this);
        }
        group->addButton(w);
    }
}

void Form1::setTabOrder() {
    std::vector<std::pair<int, QWidget*>> order;
    for (const ButtonRow& row : kButtons) {
        order.emplace_back(row.tab, control(row.id));
    }
    for (const OptionRow& row : kOptions) {
        order.emplace_back(row.tab, control(row.id));
    }
    std::sort(order.begin(), order.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    for (std::size_t i = 1; i < order.size(); ++i) {
        QWidget::setTabOrder(order[i - 1].second, order[i].second);
    }
}

void Form1::wireEvents() {
    for (const ButtonRow& row : kButtons) {
        auto* button = qobject_cast<QPushButton*>(control(row.id));
        if (findRow(kHoldButtons, row.id) != nullptr) {
            // Press and release are raw mouse events of any button; a click does nothing.
            button->installEventFilter(this);
            continue;
        }
        const Control id = row.id;
        connect(button, &QPushButton::clicked, this, [this, id] { m_panel.click(id); });
    }
    for (const OptionRow& row : kOptions) {
        const Control id = row.id;
        // clicked(), not toggled(): selecting from code raises no event, and clicking the
        // option that is already selected runs its selection again.
        connect(qobject_cast<QRadioButton*>(control(id)), &QRadioButton::clicked, this,
                [this, id] { m_panel.select(id); });
    }
    m_timers.onTick([this](TimerId id) { m_panel.tick(id); });
    m_port.onReceived([this] { m_panel.comm(CommEvent::Received); });
    m_port.onLost([this](const std::string& device, const std::string& reason, bool comesBack) {
        m_panel.portLost(device, reason, comesBack);
    });
    m_port.onOpened([this](const SerialResult& result) { m_panel.opened(result); });
    m_port.onNote([this](const std::string& device, const std::string& text, bool show) {
        m_panel.lineNote(device, text, show);
    });
    // Through a gate: a reply is decoded as the reply to its own frame, however long that
    // frame waited; a click the gate did not send says so in STATUS. A held button's copy
    // that was not needed says nothing.
    m_port.onFate([this](const std::string& frame, const tickets::Notice& notice) {
        if (notice.fate == tickets::Fate::Answered) {
            m_panel.replyTo(frame, notice.reply);
        } else if (const std::string why = tickets::whyNotSent(notice); !why.empty()) {
            m_panel.lineNote(m_port.deviceName(), "Not sent: " + why, true);
        }
    });

    // The window sees every key press before the focused control does, and lets it pass.
    winId();
    windowHandle()->installEventFilter(this);
}

bool Form1::eventFilter(QObject* watched, QEvent* event) {
    if (watched == windowHandle()) {
        if (event->type() == QEvent::KeyPress) {
            const auto* key = static_cast<QKeyEvent*>(event);
            const Qt::KeyboardModifiers mods = key->modifiers();
            const int shiftState = (mods.testFlag(Qt::ShiftModifier) ? kShiftBit : 0) |
                                   (mods.testFlag(Qt::ControlModifier) ? kCtrlBit : 0) |
                                   (mods.testFlag(Qt::AltModifier) ? kAltBit : 0);
            m_panel.keyDown(key->key(), shiftState);
        }
        return false;
    }
    for (const HoldRow& row : kHoldButtons) {
        if (watched == control(row.id)) {
            return handleHoldButtonEvent(row.id, event);
        }
    }
    return QWidget::eventFilter(watched, event);
}

// Raw presses and releases go to the core, which keeps the one hold: the first mouse button
// down is the press and the last one up the release; Qt delivers the release to the pressed
// button wherever the pointer is. Whatever takes the mouse from a hold button is a lost
// release.
bool Form1::handleHoldButtonEvent(Control id, QEvent* event) {
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick: { // a quick second press arrives as a double click
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->buttons() == mouse->button()) {
            m_panel.press(id);
        }
        break;
    }
    case QEvent::MouseButtonRelease:
        if (static_cast<QMouseEvent*>(event)->buttons() == Qt::NoButton) {
            m_panel.release(id);
        }
        break;
    case QEvent::Hide:
    case QEvent::EnabledChange:
        m_panel.captureLost(id);
        break;
    case QEvent::FocusOut: {
        const auto reason = static_cast<QFocusEvent*>(event)->reason();
        if (reason == Qt::PopupFocusReason || reason == Qt::ActiveWindowFocusReason) {
            m_panel.captureLost(id); // a popup or another window took the mouse
        }
        break;
    }
    case QEvent::KeyPress:
    case QEvent::KeyRelease: {
        // The keyboard never activates a hold button.
        const int key = static_cast<QKeyEvent*>(event)->key();
        return key == Qt::Key_Space || key == Qt::Key_Select || key == Qt::Key_Return ||
               key == Qt::Key_Enter;
    }
    default:
        break;
    }
    return false;
}

void Form1::changeEvent(QEvent* event) {
    if (event->type() == QEvent::ActivationChange && !isActiveWindow()) {
        m_panel.captureLost();
    }
    QWidget::changeEvent(event);
}

void Form1::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!m_shownOnce) {
        m_shownOnce = true;
        QTimer::singleShot(0, this, [this] { m_panel.shown(); });
    }
}

void Form1::closeEvent(QCloseEvent* event) {
    if (!m_closed) {
        m_closed = true;
        m_panel.close();
    }
    event->accept();
}

} // namespace vk9::qt
