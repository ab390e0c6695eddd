#include "cpus.h"

#include <sched.h>

QList<int> allowedCpus()
{
    QList<int> cpus;
    cpu_set_t mask;
    CPU_ZERO(&mask);
    if (::sched_getaffinity(0, sizeof mask, &mask) != 0)
        return cpus;
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
        if (CPU_ISSET(cpu, &mask))
            cpus.append(cpu);
    }
    return cpus;
}

int jobsForAllCpus(int cpuCount)
{
    if (cpuCount <= 1)
        return 1;
    return qMin(cpuCount > 2 ? cpuCount - 1 : cpuCount, MaxJobs);
}

int slotCpu(const QList<int> &cpus, int jobs, int slot)
{
    if (jobs <= 1 || jobs > cpus.size() || slot < 0 || slot >= jobs)
        return -1;
    return cpus.at(slot);
}
