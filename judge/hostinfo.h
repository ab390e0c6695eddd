#pragma once

#include <QString>

// What a shard records of the machine it runs on.

// The machine's host name.
QString hostName();
// The processor's model as the system names it ("AMD EPYC 7B13"); its
// architecture when the system gives no model.
QString cpuModel();
// CPU seconds (user and system) this process has used, and its children
// that have ended and been waited for (the programs it judged among them).
double cpuSecondsUsed();
