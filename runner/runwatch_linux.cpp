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

void sampleMemory(Run &run, double &memoryUsed)
{
    char buffer[4096];
    const long length = readProcFile(run.statusFd, buffer, sizeof buffer);
    if (length > 0) {
        const ProcStatus status = parseProcStatus(std::string_view(buffer, static_cast<size_t>(length)));
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
            const long long sharedKb = std::max(status.residentShmemKb, 0LL);
            const long long bound = status.dataKb + status.stackKb + sharedKb;
            if (run.watchMemfds || (bound > run.peakKb && run.threaded))
                run.peakKb = std::max(run.peakKb, ownedNow(run, sharedKb, bound));
            else
                run.peakKb = std::max(run.peakKb, bound);
        }
    }
    memoryUsed = static_cast<double>(run.peakKb) / 1024.0;
}

// The processes of a sandboxed run other than the program, as its own /proc
// lists them: the user time of each with that of the children it has reaped
// (the init's covers the orphans), and the private memory of each but the
// init. The init is 1, the program 2.
struct Family
{
    unsigned long long userTicks = 0;
    long long memoryKb = 0;
};

Family readFamily(Run &run)
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
            family.memoryKb += std::max(status.dataKb, 0LL) + std::max(status.stackKb, 0LL);
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
        sampleMemory(run, memoryUsed);  // last chance: the figures are about to fall
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
    sampleMemory(run, memoryUsed);
    long long familyNs = 0;
    if (run.spawned && run.reapPid != run.pid) {
        // Limits hold for the whole run: what the program's other processes
        // use counts as its own.
        const Family family = readFamily(run);
        run.familyPeakKb = std::max(run.familyPeakKb, run.peakKb + family.memoryKb);
        memoryUsed = static_cast<double>(run.familyPeakKb) / 1024.0;
        timeUsed += static_cast<double>(family.userTicks) / ticksPerSecond();
        familyNs = static_cast<long long>(static_cast<double>(family.userTicks) / ticksPerSecond() * 1e9);
    }
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

bool idle(Run &run, long long cpuNs)
{
    if (cpuNs != run.lastCpuNs) {
        run.unchangedSamples = 0;
        run.lastCpuNs = cpuNs;
        return false;
    }
    return ++run.unchangedSamples > idleSampleLimit;
}

} // namespace runner
