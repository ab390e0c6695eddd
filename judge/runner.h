#pragma once

#include "judgestate.h"

#include <QString>

class QProcess;

// Runs a contestant's program: workDir becomes its current directory and holds
// the executable exeName. No arguments; standard streams on /dev/null.
// Time in seconds of user CPU, memory in MB (1024 * 1024 bytes).
// True only for a normal exit within both limits (note: time and memory);
// otherwise state and note say why. False without touching them on a stop.
bool runProgram(JudgeState &judge, const QString &workDir, const QString &exeName,
                double &timeUsed, double &memoryUsed, char &state, QString &note,
                double timeLimit, double memoryLimit);

// Kills a process and everything it started, leaving none alive.
// processId 0 does nothing.
void killProcessTree(qint64 processId);

// Stop request side, called with judgeMutex held: ends the running program
// (and anything it started) and releases its record; deletes runningExePath.
void stopRunningProgram(JudgeState &judge);

// Makes a QProcess start its program in a session of its own, so that
// killProcessTree can end the whole tree.
void startInOwnSession(QProcess &process);
