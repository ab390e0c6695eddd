#pragma once

// Raw system calls for code that runs in a process sharing the judge's
// memory (a clone before its exec): no libc wrapper that may take a lock.

#include <cerrno>

#include <sys/syscall.h>
#include <unistd.h>

namespace sandbox::raw {

inline long sys(long number, long a = 0, long b = 0, long c = 0, long d = 0, long e = 0)
{
    return ::syscall(number, a, b, c, d, e);
}

inline long addr(const void *p) { return reinterpret_cast<long>(p); }

inline int mountAt(const char *source, const char *target, const char *type, unsigned long flags, const char *data)
{
    return sys(SYS_mount, addr(source), addr(target), addr(type), static_cast<long>(flags), addr(data)) < 0 ? errno : 0;
}

} // namespace sandbox::raw
