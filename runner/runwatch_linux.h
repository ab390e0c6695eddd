#pragma once

// Watching a program: a sample every 10 ms (user time, memory, and the
// whole run's when the program has started others), the seccomp filter's
// notifications answered in between, and the idle rule.

#include <sys/types.h>

namespace runner {

struct Run;

inline constexpr long long samplePeriodNs = 10'000'000;

// Waits until the next sample is due or the program has ended, answering the
// filter meanwhile. Returns true once the program has ended.
bool waitForSample(Run &run, long long dueNs, double &memoryUsed);

// judgeMutex held, the program still ours (the CPU clock names it by pid).
// Returns its total CPU time in ns, for the idle rule.
long long sample(Run &run, double &timeUsed, double &memoryUsed);

// Whether pid (a child of the judge's not yet reaped) has ended.
bool hasEnded(pid_t pid);

// The idle rule: true once the precise CPU clock (user and system) has stood
// still for more than 100 samples in a row.
bool idle(Run &run, long long cpuNs);

} // namespace runner
