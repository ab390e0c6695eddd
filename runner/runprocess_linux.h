#pragma once

// What the steps of a run share: the clock it is timed by, and the runner's
// own view of the program it started.

#include <cerrno>
#include <cstddef>
#include <string>

#include <sys/mman.h>
#include <sys/types.h>
#include <time.h>
#include <unistd.h>

namespace runner {

// The stack a child of the judge starts on: the program's until its exec,
// the init's for the whole run.
inline constexpr size_t ChildStackSize = 256 * 1024;

inline long long monotonicNs()
{
    timespec now;
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1'000'000'000LL + now.tv_nsec;
}

inline void sleepNs(long long ns)
{
    timespec delay{static_cast<time_t>(ns / 1'000'000'000), static_cast<long>(ns % 1'000'000'000)};
    while (::nanosleep(&delay, &delay) < 0 && errno == EINTR) {
    }
}

inline void closeFd(int &fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

// The runner's own view of the program. Its descriptors are private: a stop
// request releases the shared record, never these. /proc files opened on the
// program keep naming it even after its pid is reused.
struct Run
{
    pid_t pid = 0;      // the program
    pid_t reapPid = 0;  // the judge's child: the program, or the init of its sandbox
    void *initStack = nullptr;  // until the init is reaped
    size_t initStackBytes = ChildStackSize;
    int familyFd = -1;  // the sandbox's /proc, once the program has started others
    int waitFd = -1;
    int listener = -1;
    int procFd = -1;  // /proc/<pid>
    int statFd = -1;
    int statusFd = -1;
    int mapsFd = -1;     // opened when first needed
    int pagemapFd = -1;
    clockid_t cpuClock{};
    bool haveCpuClock = false;
    bool filtered = false;  // exits, process creation and unmapping are reported
    bool spawned = false;
    bool watchMemfds = false;
    bool threaded = false;  // has mapped thread stacks
    int created = 0;
    int maxCreated = 0;  // more processes started fail with EAGAIN
    long long startNs = 0;
    long long peakKb = 0;      // memory figure so far
    long long peakFileKb = 0;  // most file pages ever seen mapped
    long long familyPeakKb = 0;  // the whole run's: its other processes and private /tmp and /dev/shm too
    long long nowKb = 0;         // what the program owns at the last look
    long long familyKb = 0;      // what its other processes own, at the last look
    long long familyScratchKb = 0;  // of which pages of /tmp and /dev/shm mapped
    // The run's /tmp and /dev/shm as the judge reaches them, and their devices.
    int scratchFds[2] = {-1, -1};
    dev_t scratchDevices[2] = {};
    bool sandboxOpened = false;
    long long scratchMappedKb = 0;  // of the program's shared pages, those of /tmp and /dev/shm, at the last look
    long long scratchCountedKb = 0; // of /tmp and /dev/shm, counted among the program's shared pages
    std::string text;          // maps, read again and again
    long long countedAtNs = 0;  // pages of thread stacks
    long long countCostNs = 0;
    long long lastCpuNs = -1;
    int unchangedSamples = 0;

    Run() = default;
    Run(const Run &) = delete;
    Run &operator=(const Run &) = delete;
    ~Run() { release(); }
    void release()
    {
        for (int *fd : {&waitFd, &listener, &procFd, &statFd, &statusFd, &mapsFd, &pagemapFd, &familyFd,
                        &scratchFds[0], &scratchFds[1]})
            closeFd(*fd);
        if (initStack)
            ::munmap(initStack, initStackBytes);
        initStack = nullptr;
    }
};

} // namespace runner
