#include "stopsignal.h"

#include <atomic>

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
