#pragma once

// How the runner turns what it measured into a test point's state and note.

#include "runner.h"

#include <QString>

// One look at the program: its user CPU time (s), its memory so far (MB) and,
// once it has ended, its wait status; while it runs, whether it has idled
// too long (the idle rule) and whether it has run too long by the clock.
struct RunSample
{
    double time = 0.0;
    double memory = 0.0;
    bool ended = false;
    int waitStatus = 0;
    bool idle = false;
    bool pastClock = false;
};

enum class RunOutcome { Running, Passed, Failed };

// Memory is tested before time, both strictly (a value equal to its limit
// passes), on every sample including the one that finds the program ended;
// then, while it runs, idleness ("运行时错误: 未知") before the clock.
// Only user time counts against the time limit: a program that keeps the CPU
// busy in other ways (children of a fork bomb) is stopped by the clock.
// Passed writes the time and memory note and leaves state alone; Failed sets
// both; Running touches neither.
RunOutcome judgeSample(const RunSample &sample, double timeLimit, double memoryLimit,
                       char &state, QString &note);

// How long a program may run by the clock, in ns: three times its time limit
// and 2 s more. Limits beyond what the clock can count (or not a number) give
// the largest value, a negative one 2 s.
long long wallClockLimitNs(double timeLimit);

// A program that could not be started: exec's ENOMEM, EBADF and ENOENT read as
// lack of memory, everything else as a judge error with the errno.
void execFailure(int error, char &state, QString &note);
// A failure before exec (fork, work directory, descriptors): judge error.
void startFailure(int error, char &state, QString &note);

// "SIGSEGV" for 11; "SIG" + number where the system has no name.
QString signalName(int signal);

// The exit code or the signal of a wait status, into the record.
void recordExit(RunRecord &record, int waitStatus);
