#include "app/MainForm.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    QApplication::setApplicationName("pelbrisk");
    QApplication::setWindowIcon(QIcon(":/pelbrisk.png"));
    QApplication::setDesktopFileName("pelbrisk");
    pelbrisk::TMainForm mainForm;
    mainForm.show();
    return application.exec();
}
