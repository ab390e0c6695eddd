#include "runwatch_linux.h"

#include "procfs_linux.h"
#include "programfilter_linux.h"
#include "runprocess_linux.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <linux/seccomp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace runner {
namespace {

constexpr int idleSampleLimit = 100;

double ticksPerSecond()
{
    static const double ticks = [] {
        const long value = ::sysconf(_SC_CLK_TCK);
        return value > 0 ? static_cast<double>(value) : 100.0;
    }();
    return ticks;
}

// ---- measuring memory ---------------------------------------------------

int procFile(const Run &run, int &fd, const char *name)
{
    if (fd < 0)
        fd = ::openat(run.procFd, name, O_RDONLY | O_CLOEXEC);
    return fd;
}

// The memfd files the program reaches through its descriptors or, where the
// judge is privileged enough to look, through mappings whose descriptor it
// has closed.
std::vector<HeldFile> heldMemfds(const Run &run, const std::vector<Mapping> &mappings)
{
    std::vector<HeldFile> files;
    auto known = [&](unsigned long long inode) {
        return std::any_of(files.begin(), files.end(), [&](const HeldFile &f) { return f.inode == inode; });
    };
    auto add = [&](const struct stat &info) {
        if (!known(info.st_ino))
            files.push_back({info.st_ino, static_cast<long long>(info.st_blocks) / 2});
    };
    const int fds = ::openat(run.procFd, "fd", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (DIR *dir = fds >= 0 ? ::fdopendir(fds) : nullptr) {
        while (const dirent *entry = ::readdir(dir)) {
            char target[64];
            const ssize_t length = ::readlinkat(::dirfd(dir), entry->d_name, target, sizeof target);
            struct stat info;
            if (length > 0 && std::string_view(target, static_cast<size_t>(length)).starts_with("/memfd:")
                && ::fstatat(::dirfd(dir), entry->d_name, &info, 0) == 0)
                add(info);
        }
        ::closedir(dir);
    } else if (fds >= 0) {
        ::close(fds);
    }
    for (const Mapping &m : mappings) {
        if (!m.memfd || known(m.inode))
            continue;
        char name[48];
        std::snprintf(name, sizeof name, "map_files/%llx-%llx", m.start, m.end);
        struct stat info;
        if (::fstatat(run.procFd, name, &info, 0) == 0)
            add(info);
    }
    return files;
}

// Counts the pages thread stacks have touched. That walks the page tables of
// ranges as large as the memory limit, so it is done only when the last count
// took a twentieth of the time since or less; uncounted, a stack counts as
// untouched (the resident peak holds what it has touched).
void countStackPages(Run &run, std::vector<Mapping> &mappings)
{
    const long long now = monotonicNs();
    if (now - run.countedAtNs < 20 * run.countCostNs)
        return;
    bool counted = false;
    for (size_t i = 0; i < mappings.size(); ++i) {
        if (!isThreadStack(mappings, i) || procFile(run, run.pagemapFd, "pagemap") < 0)
            continue;
        mappings[i].residentKb = std::max(0LL, residentKb(run.pagemapFd, mappings[i].start, mappings[i].end));
        counted = true;
    }
    if (counted) {
        run.countedAtNs = now;
        run.countCostNs = monotonicNs() - now;
    }
}

// What the program owns, or -1 when its address space is gone. Read from its
// mappings, not from status: a thread's stack may come or go in between.
// bound (from status) stands where the mappings cannot be read: a program
// that made itself undumpable hides them from a judge that is not root.
long long ownedNow(Run &run, long long sharedKb, long long bound)
{
    if (procFile(run, run.mapsFd, "maps") < 0 || !readProcText(run.mapsFd, run.text))
        return bound;
    std::vector<Mapping> mappings = parseMappings(run.text);
    if (mappings.empty())
        return -1;
    countStackPages(run, mappings);
    return ownedKb(mappings, sharedKb, run.watchMemfds ? heldMemfds(run, mappings) : std::vector<HeldFile>());
}

// Opens the run's /tmp and /dev/shm as the judge reaches them.
void lookIntoSandbox(Run &run)
{
    if (run.sandboxOpened || run.reapPid == run.pid)
        return;
    run.sandboxOpened = true;
    const char *const names[2] = {"tmp", "dev/shm"};
    for (int i = 0; i < 2; ++i) {
        char path[64];
        std::snprintf(path, sizeof path, "/proc/%d/root/%s", static_cast<int>(run.reapPid), names[i]);
        run.scratchFds[i] = ::open(path, O_PATH | O_DIRECTORY | O_CLOEXEC);
        struct stat info;
        if (run.scratchFds[i] >= 0 && ::fstat(run.scratchFds[i], &info) == 0)
            run.scratchDevices[i] = info.st_dev;
    }
}

// KiB the run keeps in its private /tmp and /dev/shm (0 outside a sandbox),
// as their file systems count them.
long long scratchKb(Run &run)
{
    lookIntoSandbox(run);
    long long total = 0;
    for (int fd : run.scratchFds) {
        struct statfs disk;
        if (fd >= 0 && ::fstatfs(fd, &disk) == 0 && disk.f_blocks >= disk.f_bfree)
            total += static_cast<long long>((disk.f_blocks - disk.f_bfree) * static_cast<unsigned long long>(disk.f_bsize) / 1024);
    }
    return total;
}

// Of a process's shared pages (its /proc folder: pid in dir), those of /tmp
// and /dev/shm, counted there too. Not read where its address space went
// meanwhile, for smaps may have been cut short.
struct SharedPages
{
    bool read = false;
    long long scratchKb = 0;
};

SharedPages sharedPages(const Run &run, int dir, const char *pid)
{
    SharedPages pages;
    char name[48];
    std::snprintf(name, sizeof name, "%s/smaps", pid);
    const int fd = ::openat(dir, name, O_RDONLY | O_CLOEXEC);
    std::string text;
    const bool read = fd >= 0 && readProcText(fd, text);
    if (fd >= 0)
        ::close(fd);
    std::snprintf(name, sizeof name, "%s/status", pid);
    char buffer[4096];
    const int statusFd = ::openat(dir, name, O_RDONLY | O_CLOEXEC);
    const long length = statusFd >= 0 ? readProcFile(statusFd, buffer, sizeof buffer) : -1;
    if (statusFd >= 0)
        ::close(statusFd);
    if (!read || length <= 0 || parseProcStatus(std::string_view(buffer, static_cast<size_t>(length))).dataKb < 0)
        return pages;
    pages.read = true;
    pages.scratchKb = residentOnDevicesKb(text, {run.scratchDevices[0], run.scratchDevices[1]});
    return pages;
}

// exact: the program's figure of the moment is added to others', so thread
// stacks are corrected even where that cannot raise its own peak.
void sampleMemory(Run &run, double &memoryUsed, bool exact, long long scratch)
{
    char buffer[4096];
    const long length = readProcFile(run.statusFd, buffer, sizeof buffer);
    run.nowKb = 0;  // unless it still has an address space
    if (length > 0) {
        const ProcStatus status = parseProcStatus(std::string_view(buffer, static_cast<size_t>(length)));
        const long long sharedKb = std::max(status.residentShmemKb, 0LL);
        // Of /tmp and /dev/shm, what it maps is counted among its shared
        // pages. An unmapping under way has taken the mapping out of smaps
        // before its pages out of the figures: what the last look found
        // stands too.
        run.scratchCountedKb = 0;
        if (sharedKb > 0 && scratch > 0) {
            const SharedPages pages = sharedPages(run, run.procFd, ".");
            const long long scratchNow = pages.read ? pages.scratchKb : sharedKb;
            run.scratchCountedKb = std::min(sharedKb, std::max(scratchNow, run.scratchMappedKb));
            run.scratchMappedKb = scratchNow;
        } else {
            run.scratchMappedKb = 0;
        }
        run.peakFileKb = std::max(run.peakFileKb, status.residentFileKb);
        // The kernel's peak resident set catches what came and went between
        // two looks, file pages included. Those are taken out as the most
        // ever seen mapped: between two looks the file pages mapped only
        // grow, for unmapping is a look.
        if (status.peakResidentKb >= 0)
            run.peakKb = std::max(run.peakKb, status.peakResidentKb - run.peakFileKb);
        if (status.dataKb >= 0 && status.stackKb >= 0) {
            // Apart from memfd files, the corrections (thread stacks) only
            // lower this bound: unless it would raise the peak they need not
            // be read.
            const long long bound = status.dataKb + status.stackKb + sharedKb;
            const bool correct = run.watchMemfds || (run.threaded && (exact || bound > run.peakKb));
            run.nowKb = std::max(correct ? ownedNow(run, sharedKb, bound) : bound, 0LL);
            run.peakKb = std::max(run.peakKb, run.nowKb);
        }
    }
    memoryUsed = static_cast<double>(std::max(run.peakKb, run.familyPeakKb)) / 1024.0;
}

// The whole run's figure: the program's, its other processes' (read at the
// last sample) and what it keeps in /tmp and /dev/shm, a page it maps there
// counted once.
void sampleWhole(Run &run, double &memoryUsed, long long scratch)
{
    const bool others = scratch > 0 || run.familyKb > 0;
    sampleMemory(run, memoryUsed, others, scratch);
    if (!others)
        return;
    const long long unmapped = std::max(0LL, scratch - run.familyScratchKb - run.scratchCountedKb);
    run.familyPeakKb = std::max(run.familyPeakKb, run.nowKb + run.familyKb + unmapped);
    memoryUsed = static_cast<double>(std::max(run.peakKb, run.familyPeakKb)) / 1024.0;
}

// The processes of a sandboxed run other than the program, as its own /proc
// lists them: the user time of each with that of the children it has reaped
// (the init's covers the orphans), and what each but the init owns: its
// private memory in full and the shared pages it maps, of which those of
// /tmp and /dev/shm apart (wanted only while these hold anything). The init
// is 1, the program 2.
struct Family
{
    unsigned long long userTicks = 0;
    long long memoryKb = 0;
    long long scratchKb = 0;
};

Family readFamily(Run &run, bool withScratch)
{
    Family family;
    if (run.familyFd < 0) {
        char path[64];
        std::snprintf(path, sizeof path, "/proc/%d/root/proc", static_cast<int>(run.reapPid));
        run.familyFd = ::open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (run.familyFd < 0)
            return family;
    }
    const int listing = ::dup(run.familyFd);
    DIR *dir = listing >= 0 ? ::fdopendir(listing) : nullptr;
    if (!dir) {
        if (listing >= 0)
            ::close(listing);
        return family;
    }
    ::rewinddir(dir);
    while (const dirent *entry = ::readdir(dir)) {
        char *end = nullptr;
        const long pid = std::strtol(entry->d_name, &end, 10);
        if (pid <= 0 || *end != 0)
            continue;
        char name[64];
        char buffer[4096];
        std::snprintf(name, sizeof name, "%ld/stat", pid);
        int fd = ::openat(::dirfd(dir), name, O_RDONLY | O_CLOEXEC);
        long length = fd >= 0 ? ::read(fd, buffer, sizeof buffer) : -1;
        if (fd >= 0)
            ::close(fd);
        ProcStat stat;
        if (length > 0 && parseProcStat(std::string_view(buffer, static_cast<size_t>(length)), stat))
            family.userTicks += (pid == 2 ? 0 : stat.userTicks) + stat.childUserTicks;
        if (pid <= 2)
            continue;
        std::snprintf(name, sizeof name, "%ld/status", pid);
        fd = ::openat(::dirfd(dir), name, O_RDONLY | O_CLOEXEC);
        length = fd >= 0 ? ::read(fd, buffer, sizeof buffer) : -1;
        if (fd >= 0)
            ::close(fd);
        if (length > 0) {
            const ProcStatus status = parseProcStatus(std::string_view(buffer, static_cast<size_t>(length)));
            const long long sharedKb = std::max(status.residentShmemKb, 0LL);
            if (sharedKb > 0 && withScratch) {
                const SharedPages pages = sharedPages(run, ::dirfd(dir), entry->d_name);
                family.scratchKb += pages.read ? pages.scratchKb : sharedKb;
            }
            family.memoryKb += std::max(status.dataKb, 0LL) + std::max(status.stackKb, 0LL) + sharedKb;
        }
    }
    ::closedir(dir);
    return family;
}

void answerNotification(Run &run, double &memoryUsed)
{
    seccomp_notif request;
    std::memset(&request, 0, sizeof request);
    if (::ioctl(run.listener, SECCOMP_IOCTL_NOTIF_RECV, &request) < 0)
        return;  // its caller was killed meanwhile
    seccomp_notif_resp response;
    std::memset(&response, 0, sizeof response);
    response.id = request.id;
    response.flags = SECCOMP_USER_NOTIF_FLAG_CONTINUE;
    switch (classifyCall(request.data.arch, request.data.nr)) {
    case Call::Exit:
    case Call::Unmap:
        sampleWhole(run, memoryUsed, scratchKb(run));  // last chance: the figures are about to fall
        break;
    case Call::MemfdCreate:
        run.watchMemfds = true;
        break;
    case Call::StackMapping:
        run.threaded = true;
        break;
    case Call::Creation:
        run.spawned = true;
        if (++run.created > run.maxCreated) {
            response.flags = 0;
            response.error = -EAGAIN;
        }
        break;
    }
    ::ioctl(run.listener, SECCOMP_IOCTL_NOTIF_SEND, &response);
}

// Whether the program is asleep in a call that ends by itself: nanosleep or
// clock_nanosleep, as its own /proc says (unreadable: no).
bool inTimedSleep(const Run &run)
{
    char buffer[256];
    const int fd = ::openat(run.procFd, "syscall", O_RDONLY | O_CLOEXEC);
    const long length = fd >= 0 ? ::read(fd, buffer, sizeof buffer - 1) : -1;
    if (fd >= 0)
        ::close(fd);
    if (length <= 0)
        return false;
    buffer[length] = 0;
    char *end = nullptr;
    const long number = std::strtol(buffer, &end, 10);
    return end != buffer && (number == SYS_nanosleep || number == SYS_clock_nanosleep);
}

} // namespace

long long sample(Run &run, double &timeUsed, double &memoryUsed)
{
    char buffer[1024];
    const long length = readProcFile(run.statFd, buffer, sizeof buffer);
    ProcStat stat;
    long long cpuNs = -1;
    if (length > 0 && parseProcStat(std::string_view(buffer, static_cast<size_t>(length)), stat)) {
        timeUsed = static_cast<double>(stat.userTicks) / ticksPerSecond();
        cpuNs = static_cast<long long>(static_cast<double>(stat.userTicks + stat.systemTicks)
                                       / ticksPerSecond() * 1e9);
    }
    const long long scratch = scratchKb(run);
    long long familyNs = 0;
    if (run.spawned && run.reapPid != run.pid) {
        // Limits hold for the whole run: what the program's other processes
        // use counts as its own.
        const Family family = readFamily(run, scratch > 0);
        run.familyKb = family.memoryKb;
        run.familyScratchKb = family.scratchKb;
        timeUsed += static_cast<double>(family.userTicks) / ticksPerSecond();
        familyNs = static_cast<long long>(static_cast<double>(family.userTicks) / ticksPerSecond() * 1e9);
    }
    sampleWhole(run, memoryUsed, scratch);
    if (cpuNs < 0)
        return -1;  // gone
    timespec cpu{};
    if (run.haveCpuClock && ::clock_gettime(run.cpuClock, &cpu) == 0)
        cpuNs = cpu.tv_sec * 1'000'000'000LL + cpu.tv_nsec;
    return cpuNs + familyNs;  // a program waiting for its busy children is not idle
}

bool waitForSample(Run &run, long long dueNs, double &memoryUsed)
{
    for (;;) {
        const long long left = dueNs - monotonicNs();
        if (left <= 0)
            return false;
        pollfd fds[2] = {{run.waitFd, POLLIN, 0}, {run.listener, POLLIN, 0}};
        const timespec timeout{static_cast<time_t>(left / 1'000'000'000), static_cast<long>(left % 1'000'000'000)};
        const int ready = ::ppoll(fds, 2, &timeout, nullptr);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            sleepNs(left);
            return false;
        }
        if (fds[0].revents)
            return true;
        if (fds[1].revents & POLLIN)
            answerNotification(run, memoryUsed);
        else if (fds[1].revents)
            closeFd(run.listener);  // every process under the filter is gone
    }
}

bool hasEnded(pid_t pid)
{
    siginfo_t info{};
    return ::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT | __WALL) == 0
        && info.si_pid == pid;
}

bool idle(Run &run, long long cpuNs, long long runningNs, long long notBeforeNs)
{
    // Gone: its sandbox's init is returning its results, which the clock bounds.
    if (cpuNs < 0)
        return false;
    if (cpuNs != run.lastCpuNs) {
        run.unchangedSamples = 0;
        run.lastCpuNs = cpuNs;
        return false;
    }
    if (++run.unchangedSamples <= idleSampleLimit || runningNs <= notBeforeNs)
        return false;
    // A program that sleeps will wake: the clock decides for it.
    return !inTimedSleep(run);
}

} // namespace runner
