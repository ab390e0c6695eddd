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
// Returns its total CPU time in ns, for the idle rule; -1 once it is gone.
long long sample(Run &run, double &timeUsed, double &memoryUsed);

// Whether pid (a child of the judge's not yet reaped) has ended.
bool hasEnded(pid_t pid);

// The idle rule, for a program blocked for good (never one gone, cpuNs -1):
// true once the precise CPU
// clock (user and system) has stood still for more than 100 samples in a
// row, the run has lasted longer than notBeforeNs (runningNs so far), and
// the program is not merely asleep for a while (that is left to the clock).
bool idle(Run &run, long long cpuNs, long long runningNs, long long notBeforeNs);

} // namespace runner
