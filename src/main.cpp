#include "Form1.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    vk9::qt::prepareApplication(app);
    vk9::qt::Form1 form;
    form.show();
    return QApplication::exec();
}
