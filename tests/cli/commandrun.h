#pragma once

// A program run to its end, for the tests that start the built programs and
// the cluster's tools.

#include <QProcess>
#include <QString>
#include <QStringList>

struct CommandRun
{
    int exitCode = -1;  // -1 also when it crashed or did not end in time
    QString out;
    QString err;
};

inline CommandRun runCommand(const QString &program, const QStringList &arguments, const QString &workDir,
                             const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment(),
                             int timeoutMs = 900000)
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setWorkingDirectory(workDir);
    process.start(program, arguments);
    CommandRun run;
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        run.err = QStringLiteral("<timed out>");
        return run;
    }
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}
