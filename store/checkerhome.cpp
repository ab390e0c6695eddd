#include "checkerhome.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

QString checkerHome(const QString &programDir)
{
    const QDir program(programDir);
    for (const QString &home : {program.path(), program.filePath(QStringLiteral(QXJ_INSTALLED_CHECKER_HOME))}) {
        if (QFileInfo(home + QStringLiteral("/checker")).isDir())
            return QDir::cleanPath(home);
    }
    return program.path();
}

QString checkerHome()
{
    return checkerHome(QCoreApplication::applicationDirPath());
}
