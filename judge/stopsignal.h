#pragma once

// A stop asked for from outside the judge by a termination signal. When it
// comes from the stop of a whole process tree (a batch system cancelling a
// job signals every process of it, the deepest first), the programs the judge
// runs (contestant's program, compiler, checker) receive it too and may end
// before the judge hears of it: their end must not be recorded as a verdict.
// The judge's signal handler notes the stop here at once; from then on no
// judging step records a result.

// Async-signal-safe.
void noteStopSignal();
bool stopSignalled();

// Whether signal is one a terminal or a batch system sends to every process
// of a job it stops.
bool isTreeStopSignal(int signal);
