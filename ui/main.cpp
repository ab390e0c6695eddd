// qxj: the judge's window.

#include "checkerhome.h"
#include "commandline.h"
#include "mainwindow.h"
#include "translation.h"

#include <QApplication>
#include <QDir>
#include <QTimer>

#include <cstdio>

namespace {

void print(FILE *stream, const QString &text)
{
    std::fputs(text.toLocal8Bit().constData(), stream);
}

}  // namespace

int main(int argc, char *argv[])
{
    // The settings folder is ~/.config/qxj whoever starts us.
    QCoreApplication::setApplicationName(QStringLiteral("qxj"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QXJ_VERSION));

    // --help and --version need no display, so they are answered before
    // QApplication, which does.
    QStringList raw;
    for (int i = 0; i < argc; ++i)
        raw.append(QString::fromLocal8Bit(argv[i]));
    if (const CommandLine early = readCommandLine(raw);
        early.request == CommandLine::Help || early.request == CommandLine::Version) {
        print(stdout, early.text);
        return 0;
    }

    QApplication app(argc, argv);
    installQtTranslation();
    // Desktops match the window to qxj.desktop, and so to its icon, by this.
    QGuiApplication::setDesktopFileName(QStringLiteral("qxj"));
    // Read before the working directory moves: a relative folder is the user's.
    const CommandLine line = readCommandLine(QCoreApplication::arguments());
    if (line.request == CommandLine::Wrong) {
        print(stderr, line.text);
        return 2;
    }
    // The judge finds the shared checkers as checker/<name> from here;
    // contest paths are absolute, so the working directory serves only this.
    QDir::setCurrent(checkerHome());
    MainWindow window;
    window.show();
    if (!line.folder.isEmpty())
        QTimer::singleShot(0, &window, [&window, folder = line.folder] { window.openFolder(folder); });
    return app.exec();
}
