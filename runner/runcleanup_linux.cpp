#include "runcleanup_linux.h"

#include "procfs_linux.h"
#include "runprocess_linux.h"

#include <QFile>

#include <algorithm>
#include <condition_variable>
#include <csignal>
#include <limits>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

namespace runner {
namespace {

std::mutex subreaperMutex;
int subreaperUsers = 0;

// Seccomp filters the judge itself runs under; the contestant's processes
// carry at least one more, which no process can drop again.
int ownSeccompFilters()
{
    static const int filters = [] {
        ProcStatus status;
        return readProcStatus(::getpid(), status) ? std::max(status.seccompFilters, 0) : 0;
    }();
    return filters;
}

// What marks a process as the program's, read before the program is reaped.
struct ProgramMark
{
    pid_t pid = 0;
    bool filtered = false;
    unsigned long long startTicks = 0;
};

ProgramMark markOf(pid_t pid)
{
    ProgramMark mark{pid, false, 0};
    ProcStatus status;
    mark.filtered = readProcStatus(pid, status) && status.seccompFilters > ownSeccompFilters();
    ProcStat stat;
    if (readProcStat(pid, stat))
        mark.startTicks = stat.startTicks;
    return mark;
}

bool belongsTo(const ProcStat &process, const ProgramMark &mark)
{
    if (process.session == mark.pid || process.pgrp == mark.pid)
        return true;
    if (!mark.filtered)
        return process.startTicks >= mark.startTicks;
    ProcStatus status;
    return readProcStatus(process.pid, status) && status.seccompFilters > ownSeccompFilters();
}

void reapOnce(pid_t pid, int *status, rusage *usage)
{
    int result = 0;
    rusage used{};
    while (::wait4(pid, &result, __WALL, &used) < 0 && errno == EINTR) {
    }
    if (status)
        *status = result;
    if (usage)
        *usage = used;
}

// Closes descriptors on a thread of its own.
class BackgroundCloser
{
public:
    static void close(int fd)
    {
        static BackgroundCloser closer;
        {
            std::lock_guard lock(closer.mutex);
            closer.pending.push_back(fd);
        }
        closer.wake.notify_one();
    }

private:
    BackgroundCloser() : worker([this] { work(); }) {}
    ~BackgroundCloser()
    {
        {
            std::lock_guard lock(mutex);
            quit = true;
        }
        wake.notify_one();
        worker.join();
    }

    void work()
    {
        std::unique_lock lock(mutex);
        for (;;) {
            wake.wait(lock, [this] { return quit || !pending.empty(); });
            std::vector<int> batch = std::exchange(pending, {});
            lock.unlock();
            for (int fd : batch)
                ::close(fd);
            lock.lock();
            if (quit && pending.empty())
                return;
        }
    }

    std::mutex mutex;
    std::condition_variable wake;
    std::vector<int> pending;
    bool quit = false;
    std::thread worker;  // last: started once the rest exists
};

} // namespace

SubreaperScope::SubreaperScope()
{
    std::lock_guard lock(subreaperMutex);
    if (subreaperUsers++ == 0)
        ::prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0);
}

SubreaperScope::~SubreaperScope()
{
    std::lock_guard lock(subreaperMutex);
    if (--subreaperUsers == 0)
        ::prctl(PR_SET_CHILD_SUBREAPER, 0, 0, 0, 0);
}

void endProgramTree(pid_t pid, bool searchAdopted, int *status, rusage *usage)
{
    const ProgramMark mark = searchAdopted ? markOf(pid) : ProgramMark{pid};
    ::kill(-pid, SIGKILL);
    ::kill(pid, SIGKILL);
    reapOnce(pid, status, usage);
    if (!searchAdopted)
        return;
    const pid_t self = ::getpid();
    for (;;) {
        std::vector<pid_t> adopted;
        for (const ProcStat &process : listProcesses()) {
            if (process.ppid == self && belongsTo(process, mark))
                adopted.push_back(process.pid);
        }
        if (adopted.empty())
            return;
        for (pid_t child : adopted)
            ::kill(child, SIGKILL);
        for (pid_t child : adopted) {
            // What it used was never counted in the program's figures.
            rusage used{};
            reapOnce(child, nullptr, &used);
            if (usage) {
                timeradd(&usage->ru_utime, &used.ru_utime, &usage->ru_utime);
                timeradd(&usage->ru_stime, &used.ru_stime, &usage->ru_stime);
            }
        }
    }
}

void releaseRecord(RunSlot &slot)
{
    closeFd(slot.childProcess.pidfd);
    slot.childProcess.pid = 0;
}

void removeExecutable(RunSlot &slot)
{
    // Unlinking cannot be refused because the file is running; what remains
    // is a path that cannot be removed at all, so the retries are bounded.
    if (slot.runningExePath.isEmpty())
        return;
    const QByteArray path = QFile::encodeName(slot.runningExePath);
    for (int attempt = 0; attempt < 50; ++attempt) {
        struct stat info;
        if (::unlink(path.constData()) == 0 || ::lstat(path.constData(), &info) != 0)
            break;
        sleepNs(20'000'000);
    }
    slot.runningExePath.clear();
}

ExecutableHold::ExecutableHold(const QByteArray &path)
    : fd(::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK))
{
}

ExecutableHold::~ExecutableHold()
{
    if (fd >= 0)
        BackgroundCloser::close(fd);
}

} // namespace runner

void stopRunningProgram(RunSlot &slot)
{
    if (slot.childProcess.pid > 0) {
        runner::endProgramTree(slot.childProcess.pid, true, nullptr, nullptr);
        runner::releaseRecord(slot);
    }
    runner::removeExecutable(slot);
}

void killProcessTree(qint64 processId)
{
    using runner::monotonicNs;
    using runner::sleepNs;
    const pid_t self = ::getpid();
    if (processId <= 1 || processId == self || processId > std::numeric_limits<pid_t>::max())
        return;
    const pid_t root = static_cast<pid_t>(processId);
    // Never the judge's own ancestors (and so never the judge).
    {
        pid_t ancestor = ::getppid();
        for (int depth = 0; ancestor > 1 && depth < 4096; ++depth) {
            if (ancestor == root)
                return;
            ProcStat stat;
            if (!readProcStat(ancestor, stat))
                break;
            ancestor = stat.ppid;
        }
    }

    // Freeze, then walk: a stopped process cannot start another, so the set
    // found by session, group and parent links is complete when it stops
    // growing. Then kill it whole, and look again until nothing is left.
    // A process already killed may take a while to die, and may meanwhile
    // have lost every link to the tree (its parent died first, and it has a
    // session of its own): it is known by its pid and start time until it has.
    std::vector<ProcStat> killed;
    auto wasKilled = [&](const ProcStat &p) {
        return std::any_of(killed.begin(), killed.end(), [&](const ProcStat &k) {
            return k.pid == p.pid && k.startTicks == p.startTicks;
        });
    };
    const long long giveUpNs = monotonicNs() + 10'000'000'000LL;
    for (;;) {
        const std::vector<ProcStat> processes = listProcesses();
        std::vector<pid_t> tree;
        auto inTree = [&](pid_t pid) { return std::find(tree.begin(), tree.end(), pid) != tree.end(); };
        for (const ProcStat &p : processes) {
            if (p.pid != self && (p.pid == root || p.session == root || p.pgrp == root || wasKilled(p)))
                tree.push_back(p.pid);
        }
        for (size_t grown = 1; grown != 0;) {
            grown = 0;
            for (const ProcStat &p : processes) {
                if (p.pid != self && inTree(p.ppid) && !inTree(p.pid)) {
                    tree.push_back(p.pid);
                    ++grown;
                }
            }
        }
        std::vector<pid_t> alive;
        std::vector<ProcStat> living;
        for (const ProcStat &p : processes) {
            if (!inTree(p.pid))
                continue;
            if (p.state != 'Z' && p.state != 'X') {
                alive.push_back(p.pid);
                living.push_back(p);
            } else if (p.ppid == self && p.pid != root) {
                ::waitpid(p.pid, nullptr, WNOHANG | __WALL);  // adopted while a program ran
            }
        }
        if (alive.empty() || monotonicNs() > giveUpNs)
            return;
        for (pid_t pid : alive)
            ::kill(pid, SIGSTOP);
        // Anything started between the listing and the stop shows up now.
        bool grew = false;
        for (const ProcStat &p : listProcesses()) {
            if (p.pid != self && !inTree(p.pid)
                && (inTree(p.ppid) || p.session == root || p.pgrp == root)) {
                ::kill(p.pid, SIGSTOP);
                grew = true;
            }
        }
        if (grew)
            continue;
        for (pid_t pid : alive)
            ::kill(pid, SIGKILL);
        for (const ProcStat &p : living) {
            if (!wasKilled(p))
                killed.push_back(p);
        }
        sleepNs(1'000'000);
    }
}

