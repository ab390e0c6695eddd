#include "stopsignal.h"

#include <atomic>

#include <signal.h>

namespace {

std::atomic<bool> signalled{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");

} // namespace

void noteStopSignal()
{
    signalled.store(true);
}

bool stopSignalled()
{
    return signalled.load();
}

bool isTreeStopSignal(int signal)
{
    return signal == SIGTERM || signal == SIGINT || signal == SIGHUP || signal == SIGKILL;
}
