#pragma once

// File helpers of the console judge's tests, beside the store tests' ones.

#include "testfiles.h"
#include "xmlfile.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <sys/resource.h>

// Every entry below dir with its size and modification time, hidden ones
// included: two equal snapshots mean nothing was created, removed or written.
inline QStringList treeSnapshot(const QString &dir)
{
    QStringList entries = treeOf(dir);
    for (QString &entry : entries) {
        const QFileInfo info(dir + u'/' + entry);
        entry += u' ' + QString::number(info.size()) + u' '
                 + QString::number(info.lastModified().toMSecsSinceEpoch());
    }
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

// The states of a result file's points, in judging order.
inline QString pointStates(const XmlFile &file)
{
    QString states;
    const ElementQuery points = queryUnder(file.document, QStringLiteral("point"));
    for (int i = 0; i < points.count(); ++i)
        states += attributeText(points.item(i), QStringLiteral("state"));
    return states;
}

// A traditional problem "name" solved in C: one subtask of one point, name.in
// checked against name.ans by the default checker, time limit in seconds,
// memory limit 64 MB.
inline const QByteArray TraditionalConfig = R"(<?xml version="1.0" encoding="UTF-8"?>
<problem type="TRA_0_4">
    <source dir="%1" file="%1" code="64">
        <language file="%1.c" cmd="gcc -o %1 %1.c"/>
    </source>
    <task input="%1.in" output="%1.out" checker="全文比较">
        <subtask score="%2"><point in="%1.in" out="%1.ans" time="%3" mem="64"/></subtask>
    </task>
</problem>
)";

inline QByteArray traditionalConfig(const QString &name, int score, const QString &time)
{
    return QString::fromUtf8(TraditionalConfig).arg(name, QString::number(score), time).toUtf8();
}

// Every process a test's judge starts carries a mark it inherits: sandboxed
// programs, whose environment is fixed and whose folders have other names,
// and compilers. The mark is a soft limit on queued POSIX message bytes that
// nothing else on the machine sets, the same for a given contest folder.
inline unsigned long long runMarkOf(const QString &root)
{
    return 500000 + qHash(root, 7) % 300000;
}

inline void markRun(QProcess &process, const QString &root)
{
    const rlim_t mark = runMarkOf(root);
    process.setChildProcessModifier([mark] {
        rlimit limit{};
        if (::getrlimit(RLIMIT_MSGQUEUE, &limit) == 0 && mark <= limit.rlim_max) {
            limit.rlim_cur = mark;
            ::setrlimit(RLIMIT_MSGQUEUE, &limit);
        }
    });
}

// Whether the process /proc/<pid> carries root's mark.
inline bool carriesRunMark(const QString &proc, const QString &root)
{
    for (const QByteArray &line : readTestFile(proc + QStringLiteral("/limits")).split('\n')) {
        if (line.startsWith("Max msgqueue size")) {
            const QList<QByteArray> words = line.simplified().split(' ');
            return words.size() > 3 && words.at(3).toULongLong() == runMarkOf(root);
        }
    }
    return false;
}
