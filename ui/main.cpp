// qxj: the judge's window.

#include "checkerhome.h"
#include "mainwindow.h"

#include <QApplication>
#include <QDir>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    // The settings folder is ~/.config/qxj whoever starts us.
    QCoreApplication::setApplicationName(QStringLiteral("qxj"));
    // The judge finds the shared checkers as checker/<name> from here;
    // contest paths are absolute, so the working directory serves only this.
    QDir::setCurrent(checkerHome());
    MainWindow window;
    window.show();
    return app.exec();
}
