#pragma once

#include "judgestate.h"

#include <QString>

class QProcess;

// Runs a contestant's program: workDir becomes its current directory and holds
// the executable exeName. No arguments; standard streams on /dev/null; a
// session of its own. Time in seconds of user CPU, memory in MB (1024 * 1024
// bytes): the peak of what the program owns, its private writable memory
// (of a thread's stack only the part it has touched) and the shared memory it
// maps or holds in memfd files, not the pages of files it maps to read. Both
// limits are strict: a value equal to a limit passes.
// True only for a normal exit within both limits (note: time and memory);
// otherwise state and note say why. The executable is deleted afterwards, and
// nothing the program started is left running.
// Returns false without touching state and note when judging is stopped: if
// keepRunning is already false nothing is started; during the run the stop
// request (stopRunningProgram) ends the program and owns the clean-up.
// Several runs may go on at once, each with a JudgeState of its own: in its
// sandbox a run has its own user and process tree, so that no run can touch
// another's processes.
bool runProgram(JudgeState &judge, const QString &workDir, const QString &exeName,
                double &timeUsed, double &memoryUsed, char &state, QString &note,
                double timeLimit, double memoryLimit);

// Kills a process and everything it started, leaving none alive: the process,
// the members of its session and process group, and their descendants. The
// process itself is left for its owner (QProcess) to reap. processId 0 (or
// any id below 2, the judge or one of its ancestors) does nothing.
void killProcessTree(qint64 processId);

// Stop request side, called with judgeMutex held after keepRunning was
// cleared: ends the running program and everything it started, reaps it,
// closes and clears childProcess, and deletes runningExePath. The runner
// sees the cleared record at its next sample and returns false; it never uses
// the released pid or descriptor.
void stopRunningProgram(JudgeState &judge);

// Makes a QProcess start its program in a session of its own, so that
// killProcessTree can end the whole tree. A positive addressSpace bounds the
// address space (RLIMIT_AS, bytes) of the program and all it starts.
void startInOwnSession(QProcess &process, qint64 addressSpace = 0);

// The same for a compiler, in a sandbox of its own: the system's compilers,
// headers and libraries read-only, workDir (its sources and its output) at
// /box, read-write, as current directory, and a private /tmp. Without
// namespaces, as startInOwnSession.
void startSandboxed(QProcess &process, const QString &workDir, qint64 addressSpace);
// Tests whose stand-in compilers are scripts beside the contest turn it off.
void setCompilerSandboxForTesting(bool enabled);
// Benchmarks compare runs with and without it.
void setProgramSandboxForTesting(bool enabled);

// "沙箱不可用: <reason>" when contestants' programs run without a sandbox
// on this machine, for the judge to say once; empty otherwise.
QString sandboxWarning();
