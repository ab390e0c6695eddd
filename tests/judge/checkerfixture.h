#pragma once

// A throw-away contest with problems whose checkers are small shell scripts.

#include "contest.h"
#include "dirs.h"
#include "testcore.h"
#include "xmlfile.h"

#include <QDir>
#include <QFile>
#include <QMap>
#include <QTemporaryDir>


class CheckerContest
{
public:
    CheckerContest() { contest.rootDir = dir.path(); }

    // A problem of the given kind whose first task names the checker.
    void addProblem(const QString &problem, const QString &checker,
                    const QString &kind = QStringLiteral("TRA_0_4"))
    {
        addRawProblem(
            problem,
            QStringLiteral("<problem type=\"%1\"><source dir=\"\" file=\"a\" code=\"100\"/>"
                           "<task input=\"a.in\" output=\"a.out\" checker=\"%2\">"
                           "<subtask score=\"10\"><point in=\"a1.in\" out=\"a1.out\" "
                           "sub=\"a1.ans\" time=\"1\" mem=\"64\"/></subtask></task></problem>")
                .arg(kind, checker));
    }

    // A problem whose configuration is the given text.
    void addRawProblem(const QString &problem, const QString &xml)
    {
        makePath(contest.problemDir(problem));
        XmlFile config(contest.problemConfigPath(problem));
        config.document.setContent(xml);
        configs.insert(problem, config);
    }

    // Writes an executable /bin/sh script.
    static bool writeScript(const QString &path, const QByteArray &body)
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return false;
        file.write("#!/bin/sh\n" + body + "\n");
        file.close();
        return file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    bool writeProblemChecker(const QString &problem, const QString &name, const QByteArray &body)
    {
        return writeScript(contest.problemDir(problem) + u'/' + name, body);
    }

    QString workDir()
    {
        const QString work = contest.threadWorkDir(0);
        makePath(work);
        return work;
    }

    // Points the judge at a problem, as run() does when it starts a cell; the
    // player has a folder, as every player judged has.
    void aim(TestCore &core, const QString &problem)
    {
        makePath(contest.playerDir(QStringLiteral("p1")));
        core.problemConfigs = &configs;
        JudgeWorker &worker = core.worker(0);
        worker.currentProblem = problem;
        worker.currentPlayer = QStringLiteral("p1");
        worker.problemConfig = &configs[problem];
    }

    QTemporaryDir dir;
    Contest contest;
    QMap<QString, XmlFile> configs;
};

// Whether a process of that id still runs; a zombie waiting to be reaped
// does not.
inline bool processAlive(qint64 pid)
{
    if (pid <= 0)
        return false;
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return false;
    const QByteArray text = stat.readAll();
    const qsizetype close = text.lastIndexOf(')');
    return close >= 0 && text.size() > close + 2 && text.at(close + 2) != 'Z'
           && text.at(close + 2) != 'X';
}

inline qint64 readPid(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    return file.readAll().trimmed().toLongLong();
}
