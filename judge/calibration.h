#pragma once

#include <QString>

// How fast this machine runs contestants' programs: the CPU time of a fixed
// CPU-bound program, run and measured exactly as a contestant's program is
// (copied into a work folder, sandboxed, user time). Shards compare it to
// tell whether their times compare.

// Times the calibration program takes this many runs.
inline constexpr int CalibrationRuns = 3;

// The least CPU time, in seconds, of `runs` runs of program in workDir (made
// when missing, removed afterwards); negative when it could not be measured,
// with the reason in error (short, in Chinese).
double calibrate(const QString &program, const QString &workDir, int runs, QString &error);
