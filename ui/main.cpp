// qxj: the judge's window.

#include "mainwindow.h"

#include <QApplication>
#include <QDir>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    // The settings folder is ~/.config/qxj whoever starts us.
    QCoreApplication::setApplicationName(QStringLiteral("qxj"));
    // The shared checkers live in checker/ beside the program; contest paths
    // are absolute, so the working directory serves only this.
    QDir::setCurrent(QCoreApplication::applicationDirPath());
    MainWindow window;
    window.show();
    return app.exec();
}
