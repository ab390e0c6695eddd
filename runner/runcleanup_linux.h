#pragma once

// Ending a program and cleaning up after it: nothing it started outlives the
// run, its executable goes, and the slot's record is released.

#include "runner.h"

#include <QByteArray>

#include <sys/resource.h>
#include <sys/types.h>

namespace runner {

// While a program runs, the judge process adopts whatever the program leaves
// orphaned, so that clean-up can find it even after a setsid or a double fork.
// Only set during runs: other orphans (a detached helper of the window) keep
// going to init, where they are reaped.
class SubreaperScope
{
public:
    SubreaperScope();
    ~SubreaperScope();
    SubreaperScope(const SubreaperScope &) = delete;
    SubreaperScope &operator=(const SubreaperScope &) = delete;
};

// Kills the program (our unreaped child) with everything it started, and reaps
// it once. Survivors of a setsid or a double fork have been adopted by the
// judge (SubreaperScope); they are found among its children by their mark and
// reaped one by one, never with a wildcard wait that would take children of
// QProcess; usage then includes their time, which the program never waited for.
void endProgramTree(pid_t pid, bool searchAdopted, int *status, rusage *usage);

// Closes and clears the slot's childProcess.
void releaseRecord(RunSlot &slot);
// Deletes the slot's runningExePath and clears it.
void removeExecutable(RunSlot &slot);

// The judge keeps the executable open while it runs. Unlinking it then only
// drops its name; the storage goes with the last descriptor, and releasing a
// file that was synced to disk can take milliseconds, so that last close
// happens off the judge thread.
class ExecutableHold
{
public:
    explicit ExecutableHold(const QByteArray &path);
    ~ExecutableHold();
    ExecutableHold(const ExecutableHold &) = delete;
    ExecutableHold &operator=(const ExecutableHold &) = delete;

    const int fd;
};

} // namespace runner
