// Renders the panel at its three heights to PNG files: vk9rsc-5200.png, -6645.png, -7200.png.
// Usage: vk9rsc-screenshot [output directory]. Runs offscreen unless QT_QPA_PLATFORM is set.
#include "Form1.h"

#include <QDir>
#include <QKeyEvent>
#include <QPushButton>
#include <QWindow>

#include <pty.h>
#include <unistd.h>

#include <cstdio>

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    // A pseudo-terminal stands in for port 1, so no warning box covers the window.
    int master = -1;
    int slave = -1;
    char name[256] = {};
    if (openpty(&master, &slave, name, nullptr, nullptr) == 0) {
        qputenv("VK9RSC_COM1", name);
    }
    QApplication app(argc, argv);
    vk9::qt::prepareApplication(app);
    const QDir out(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::currentPath());

    vk9::qt::Form1 form;
    form.show();
    QCoreApplication::processEvents();

    const auto save = [&](int twips) {
        QCoreApplication::processEvents();
        const QString file = out.filePath(QStringLiteral("vk9rsc-%1.png").arg(twips));
        if (!form.grab().save(file)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
            return false;
        }
        std::printf("%s\n", qPrintable(file));
        return true;
    };
    const auto clickDataButton = [&] {
        qobject_cast<QPushButton*>(form.control(vk9::Control::Command34))->click();
    };

    // Ctrl+J opens the whole panel; the data display button then toggles 5200 and 6645.
    QKeyEvent ctrlJ(QEvent::KeyPress, Qt::Key_J, Qt::ControlModifier, QStringLiteral("\n"));
    QCoreApplication::sendEvent(form.windowHandle(), &ctrlJ);
    bool ok = save(7200);
    clickDataButton();
    ok = save(5200) && ok;
    clickDataButton();
    ok = save(6645) && ok;

    ::close(master);
    ::close(slave);
    return ok ? 0 : 1;
}
