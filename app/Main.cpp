#include "app/MainForm.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    QApplication::setApplicationName("pelbrisk");
    QApplication::setWindowIcon(pelbrisk::ProgramIcon());
    QApplication::setDesktopFileName("pelbrisk");
    pelbrisk::TMainForm mainForm;
    QObject::connect(&mainForm, &pelbrisk::TMainForm::Closed, &application,
                     &QCoreApplication::quit);
    mainForm.show();
    return application.exec();
}
