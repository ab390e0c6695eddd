#pragma once

#include "runner.h"

// What the judge thread shares with the stop request: the runner's slot, and
// the compiler and checker the slot starts itself. Every member is read and
// written only under judgeMutex.
struct JudgeState : RunSlot
{
    qint64 compilerPid = 0;  // compiler's session leader while it runs
    qint64 checkerPid = 0;   // checker while it runs
    // The CPU the contestant's programs and the checker are pinned to, so that
    // programs judged side by side never share a core; -1: not pinned.
    int cpu = -1;
};
