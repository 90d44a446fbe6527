// The yardstick for start-up and memory: a bare Qt window, built like the panel.
#include <QApplication>
#include <QWidget>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("bare Qt window"));
    window.resize(633, 321);
    window.show();
    return QApplication::exec();
}
