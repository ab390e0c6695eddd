#pragma once

// File helpers of the console judge's tests, beside the store tests' ones.

#include "testfiles.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

// Every entry below dir with its size and modification time, hidden ones
// included: two equal snapshots mean nothing was created, removed or written.
inline QStringList treeSnapshot(const QString &dir)
{
    QStringList entries;
    const QDir base(dir);
    const auto filters = QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot;
    QStringList pending{dir};
    while (!pending.isEmpty()) {
        const QString current = pending.takeFirst();
        for (const QFileInfo &info : QDir(current).entryInfoList(filters)) {
            entries.append(base.relativeFilePath(info.filePath()) + u' '
                           + QString::number(info.size()) + u' '
                           + QString::number(info.lastModified().toMSecsSinceEpoch()));
            if (info.isDir() && !info.isSymLink())
                pending.append(info.filePath());
        }
    }
    entries.sort();
    return entries;
}

// Copies a directory tree, keeping permissions (a checker script must stay
// executable).
inline bool copyTree(const QString &from, const QString &to)
{
    if (!QDir().mkpath(to))
        return false;
    const auto filters = QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot;
    for (const QFileInfo &info : QDir(from).entryInfoList(filters)) {
        const QString target = to + u'/' + info.fileName();
        if (info.isDir()) {
            if (!copyTree(info.filePath(), target))
                return false;
        } else if (!QFile::copy(info.filePath(), target)
                   || !QFile::setPermissions(target, info.permissions())) {
            return false;
        }
    }
    return true;
}
