#pragma once

#include <QMutex>
#include <QString>

#include <sys/types.h>

// The contestant program the runner has started. pid 0: none runs.
struct ChildProcess
{
    pid_t pid = 0;
    int pidfd = -1;
};

// What the judge thread shares with the stop request. Every member is read
// and written only under judgeMutex.
struct JudgeState
{
    bool keepRunning = true;
    QMutex judgeMutex;
    ChildProcess childProcess;
    QString runningExePath;
    qint64 compilerPid = 0;  // compiler's session leader while it runs
    qint64 checkerPid = 0;   // checker while it runs
    // The CPU the contestant's programs and the checker are pinned to, so that
    // programs judged side by side never share a core; -1: not pinned.
    int cpu = -1;
};
