#pragma once

#include <QList>


// Judging slots and the CPUs their programs run on.

// The most cells a judge takes on at once.
inline constexpr int MaxJobs = 256;

// The CPUs this process may run on (its affinity mask), in increasing order;
// empty when the mask cannot be read.
QList<int> allowedCpus();

// How many slots "one per core" means with this many CPUs: all of them, but
// one is left to the judge itself when there are more than two.
int jobsForAllCpus(int cpuCount);

// The CPU that slot `slot` of `jobs` pins its programs to: the slot-th of
// cpus. -1 (not pinned) when one slot judges, as the judge always has, or
// when there are more slots than CPUs: two pinned programs would then share
// a core for sure, where the scheduler can still spread them.
int slotCpu(const QList<int> &cpus, int jobs, int slot);

