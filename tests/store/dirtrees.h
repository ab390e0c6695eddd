#pragma once

// Trees of files, links and pipes built from a short description, and read
// back with their contents and permissions.

#include "testfiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <sys/stat.h>
#include <unistd.h>

// Every regular file below dir with its content, links and directories by name.
inline QStringList contentsOf(const QString &dir)
{
    QStringList entries = treeOf(dir);
    for (QString &entry : entries) {
        const QFileInfo info(dir + u'/' + entry);
        if (info.isFile() && !info.isSymLink())
            entry += u'=' + QString::fromUtf8(readTestFile(info.filePath()));
    }
    return entries;
}

// Permission bits as octal digits; QFile::permissions reports root's own
// access as the user's.
inline int modeOf(const QString &path)
{
    struct stat info;
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? int(info.st_mode & 07777) : -1;
}

// Builds a tree from entries: "d:path" directory, "f:path" file, "p:path" named
// pipe, "l:path>target" symbolic link, "h:path>target" hard link.
inline bool build(const QString &root, const QStringList &entries)
{
    for (const QString &entry : entries) {
        const QString path = root + u'/' + entry.mid(2);
        switch (entry.at(0).unicode()) {
        case 'd':
            if (!QDir().mkpath(path))
                return false;
            break;
        case 'f':
            if (!writeTestFile(path, "content"))
                return false;
            break;
        case 'p':
            if (mkfifo(QFile::encodeName(path).constData(), 0600) != 0)
                return false;
            break;
        case 'l': {
            const QStringList parts = entry.mid(2).split(u'>');
            if (!QFile::link(parts.at(1), root + u'/' + parts.at(0)))
                return false;
            break;
        }
        case 'h': {
            const QStringList parts = entry.mid(2).split(u'>');
            if (::link(QFile::encodeName(root + u'/' + parts.at(1)).constData(),
                       QFile::encodeName(root + u'/' + parts.at(0)).constData())
                != 0)
                return false;
            break;
        }
        default:
            return false;
        }
    }
    return true;
}
