#include "runner.h"

#include "procfs_linux.h"
#include "programfilter_linux.h"
#include "runoutcome_linux.h"
#include "sandbox_linux.h"

#include <QDir>
#include <QFile>
#include <QMutexLocker>
#include <QProcess>
#include <QScopeGuard>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <condition_variable>
#include <csignal>
#include <cstddef>
#include <cstring>
#include <limits>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <dirent.h>
#include <grp.h>
#include <fcntl.h>
#include <linux/close_range.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <poll.h>
#include <pwd.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

extern char **environ;

namespace {

constexpr long long samplePeriodNs = 10'000'000;
constexpr int idleSampleLimit = 100;
constexpr double bytesPerMb = 1024.0 * 1024.0;
std::atomic<bool> programSandbox{true};

long long monotonicNs()
{
    timespec now;
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1'000'000'000LL + now.tv_nsec;
}

void sleepNs(long long ns)
{
    timespec delay{static_cast<time_t>(ns / 1'000'000'000), static_cast<long>(ns % 1'000'000'000)};
    while (::nanosleep(&delay, &delay) < 0 && errno == EINTR) {
    }
}

double ticksPerSecond()
{
    static const double ticks = [] {
        const long value = ::sysconf(_SC_CLK_TCK);
        return value > 0 ? static_cast<double>(value) : 100.0;
    }();
    return ticks;
}

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

// While a program runs, the judge process adopts whatever the program leaves
// orphaned, so that clean-up can find it even after a setsid or a double fork.
// Only set during runs: other orphans (a detached helper of the window) keep
// going to init, where they are reaped.
class SubreaperScope
{
public:
    SubreaperScope()
    {
        std::lock_guard lock(mutex);
        if (users++ == 0)
            ::prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0);
    }
    ~SubreaperScope()
    {
        std::lock_guard lock(mutex);
        if (--users == 0)
            ::prctl(PR_SET_CHILD_SUBREAPER, 0, 0, 0, 0);
    }
    SubreaperScope(const SubreaperScope &) = delete;
    SubreaperScope &operator=(const SubreaperScope &) = delete;

private:
    static inline std::mutex mutex;
    static inline int users = 0;
};

// ---- starting the program -------------------------------------------------

struct Limit
{
    int resource;
    rlimit wanted;
    rlimit fallback;  // within the judge's own hard limit
};

// Everything the child needs, prepared before fork: between fork and exec the
// child makes raw system calls only.
struct ChildPlan
{
    QByteArray exePath;  // absolute: the program's argv[0]
    QByteArray execPath; // relative to the work directory: the ancestors of
                         // the work directory may be closed to an unprivileged program
    QByteArray workDir;
    bool dropPrivileges = false;  // the judge runs as root: the program runs as nobody
    uid_t uid = 0;
    gid_t gid = 0;
    char *argv[2] = {nullptr, nullptr};
    std::array<Limit, 5> limits;
    sock_fprog filter{};
    int socket = -1;      // to the judge: "ready" with the filter's descriptor; from it: "go"
    int statusPipe = -1;  // to the judge: a failure; closed by a successful exec
    int descriptorLimit = 1024;
    // The judge's descriptors for standard input, output and error, above 2;
    // -1: /dev/null.
    std::array<int, 3> streams{-1, -1, -1};
    int cpu = -1;         // the one CPU the program runs on; -1: the judge's
    cpu_set_t cpus;       // the judge's own CPUs, given back to the child
    bool haveCpus = false;
    // In a sandbox the judge starts the run's init, which builds the root and
    // starts the program on programStack, reaps every process of the run and
    // leaves the program's wait status here.
    bool sandboxed = false;
    int namespaces = 0;
    sandbox::RootPlan root;
    void *programStack = nullptr;
    volatile int programStatus = SIGKILL;  // stands until the init has reaped the program
};

struct ChildMessage
{
    char kind;  // 'R' ready, 'S' set-up failed, 'X' exec failed
    int error;
};

rlim_t bytesLimit(double megabytes, rlim_t floor)
{
    if (!(megabytes * bytesPerMb < 9.0e18))
        return RLIM_INFINITY;
    return std::max(floor, static_cast<rlim_t>(std::max(0.0, megabytes) * bytesPerMb));
}

Limit makeLimit(int resource, rlim_t soft, rlim_t hard)
{
    rlimit current{RLIM_INFINITY, RLIM_INFINITY};
    ::getrlimit(resource, &current);
    const rlim_t cappedHard = std::min(hard, current.rlim_max);
    return Limit{resource, {soft, hard}, {std::min(soft, cappedHard), cappedHard}};
}

// A contestant's program never runs as root: as root it could kill every
// process on the machine or delete the contest. It runs as "nobody", owning
// only its work directory and what the judge put there (its executable and
// its input), which it must be able to run, read and replace.
void handOverToNobody(ChildPlan &plan)
{
    static const std::pair<uid_t, gid_t> nobody = [] {
        passwd entry{};
        passwd *found = nullptr;
        char buffer[1024];
        if (::getpwnam_r("nobody", &entry, buffer, sizeof buffer, &found) == 0 && found)
            return std::pair<uid_t, gid_t>(found->pw_uid, found->pw_gid);
        return std::pair<uid_t, gid_t>(65534, 65534);
    }();
    plan.dropPrivileges = true;
    plan.uid = nobody.first;
    plan.gid = nobody.second;
    sandbox::handOver(plan.workDir, plan.uid, plan.gid);
}

// identity: the run's own user when sandboxed as root; null otherwise.
ChildPlan makePlan(const RunRequest &request, const std::array<int, 3> &streams, bool sandboxed,
                   sandbox::Identity *identity)
{
    const QString &workDir = request.workDir;
    const QString &exeName = request.executable;
    const double timeLimit = request.limits.time;
    const double memoryLimit = request.limits.memory;
    ChildPlan plan;
    plan.streams = streams;
    plan.cpu = request.limits.cpu;
    plan.exePath = QFile::encodeName(QDir(workDir).absoluteFilePath(exeName));
    plan.execPath = "./" + QFile::encodeName(exeName);
    plan.workDir = QFile::encodeName(workDir);
    plan.sandboxed = sandboxed;
    if (plan.sandboxed) {
        plan.root = sandbox::makeRootPlan(workDir, false, memoryLimit);
        plan.root.network = identity ? identity->network() : -1;
        plan.root.prebuiltRoot = identity ? identity->prebuiltRoot(plan.root) : -1;
        plan.namespaces = sandbox::namespaceFlags(true, plan.root.network < 0);
        plan.exePath = "/box/" + QFile::encodeName(exeName);
        plan.workDir = "/box";
        if (identity) {
            plan.dropPrivileges = true;
            plan.uid = identity->uid();
            plan.gid = identity->gid();
            sandbox::handOver(plan.root.workDir, plan.uid, plan.gid);
        }
    } else if (::geteuid() == 0) {
        handOverToNobody(plan);
    }

    // Stack as large as the memory limit, so deep recursion works inside it.
    const rlim_t stack = bytesLimit(memoryLimit, 1 << 20);
    const double seconds = std::isfinite(timeLimit) ? std::clamp(std::ceil(timeLimit), 0.0, 1.0e9) : 1.0e9;
    const rlim_t cpu = static_cast<rlim_t>(seconds) + 1;
    // The run's user is its own: the count of its processes and threads is the run's.
    const rlim_t tasks = plan.sandboxed ? rlim_t(std::max(request.limits.processes, 1)) : RLIM_INFINITY;
    const rlim_t output = rlim_t(std::max<qint64>(request.limits.outputBytes, 0));
    plan.limits = {makeLimit(RLIMIT_CORE, 0, 0), makeLimit(RLIMIT_STACK, stack, stack),
                   makeLimit(RLIMIT_FSIZE, output, output),
                   makeLimit(RLIMIT_CPU, cpu, cpu + 1), makeLimit(RLIMIT_NPROC, tasks, tasks)};

    const std::vector<sock_filter> &filter = programFilter();
    plan.filter.len = static_cast<unsigned short>(filter.size());
    plan.filter.filter = const_cast<sock_filter *>(filter.data());

    rlimit files{1024, 1024};
    ::getrlimit(RLIMIT_NOFILE, &files);
    plan.descriptorLimit = static_cast<int>(std::min<rlim_t>(files.rlim_cur, 65536));
    return plan;
}

[[noreturn]] void childReport(int statusPipe, char kind, int error)
{
    const ChildMessage message{kind, error};
    ::syscall(SYS_write, statusPipe, &message, sizeof message);
    ::syscall(SYS_exit_group, 127);
    __builtin_unreachable();
}

// The child, sharing the judge's memory until exec: raw system calls only
// (libc or sanitizer locks may be held by the judge's threads), nothing
// written but its own stack.
// Every signal is blocked on entry.
[[noreturn]] void runChild(const ChildPlan &plan)
{
    const int socket = plan.socket;
    const int status = plan.statusPipe;
    if (plan.haveCpus)
        ::syscall(SYS_sched_setaffinity, 0, sizeof plan.cpus, &plan.cpus);
    // Exec keeps ignored signals ignored: give the program the defaults.
    const unsigned long defaultAction[4] = {};  // SIG_DFL, no flags, empty mask
    for (int signal = 1; signal <= 64; ++signal) {
        if (signal != SIGKILL && signal != SIGSTOP)
            ::syscall(SYS_rt_sigaction, signal, defaultAction, nullptr, sizeof(unsigned long));
    }
    if (::syscall(SYS_setsid) < 0)
        childReport(status, 'S', errno);
    if (::syscall(SYS_chdir, plan.workDir.constData()) < 0)
        childReport(status, 'S', errno);
    long null = ::syscall(SYS_openat, AT_FDCWD, "/dev/null", O_RDWR | O_CLOEXEC);
    if (null < 0)
        childReport(status, 'S', errno);
    if (null <= 2) {
        // The judge runs without that stream: out of the way of the streams'.
        const long above = ::syscall(SYS_fcntl, null, F_DUPFD_CLOEXEC, 3);
        if (above < 0)
            childReport(status, 'S', errno);
        null = above;
    }
    for (int fd = 0; fd < 3; ++fd) {
        const long source = plan.streams[fd] >= 0 ? plan.streams[fd] : null;
        if (::syscall(SYS_dup3, source, fd, 0) < 0)
            childReport(status, 'S', errno);
    }
    ::syscall(SYS_close, null);
    for (const Limit &limit : plan.limits) {
        if (::syscall(SYS_prlimit64, 0, limit.resource, &limit.wanted, nullptr) < 0
            && ::syscall(SYS_prlimit64, 0, limit.resource, &limit.fallback, nullptr) < 0)
            childReport(status, 'S', errno);
    }
    // The judge's descriptors stay with the judge.
    if (::syscall(SYS_close_range, 3, ~0u, CLOSE_RANGE_CLOEXEC) < 0) {
        for (int fd = 3; fd < plan.descriptorLimit; ++fd)
            ::syscall(SYS_fcntl, fd, F_SETFD, FD_CLOEXEC);
    }
    // Where the system refuses the change (a user namespace without that
    // user), the program runs as the judge does rather than not at all.
    if (plan.dropPrivileges && ::syscall(SYS_setgroups, 0, nullptr) == 0
        && ::syscall(SYS_setresgid, plan.gid, plan.gid, plan.gid) == 0)
        ::syscall(SYS_setresuid, plan.uid, plan.uid, plan.uid);
    // After the change of user, which clears it.
    ::syscall(SYS_prctl, PR_SET_PDEATHSIG, SIGKILL, 0, 0, 0);

    long listener = -1;
    int filterError = 0;
    if (plan.filter.len > 0 && ::syscall(SYS_prctl, PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0) {
        listener = ::syscall(SYS_seccomp, SECCOMP_SET_MODE_FILTER, SECCOMP_FILTER_FLAG_NEW_LISTENER,
                             &plan.filter);
        if (listener < 0)
            filterError = errno;
    }
    ChildMessage ready{'R', filterError};
    iovec part{&ready, sizeof ready};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
    msghdr message{};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    if (listener >= 0) {
        const int fd = static_cast<int>(listener);
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        cmsghdr *header = CMSG_FIRSTHDR(&message);
        header->cmsg_level = SOL_SOCKET;
        header->cmsg_type = SCM_RIGHTS;
        header->cmsg_len = CMSG_LEN(sizeof(int));
        std::memcpy(CMSG_DATA(header), &fd, sizeof fd);
    }
    if (::syscall(SYS_sendmsg, socket, &message, MSG_NOSIGNAL) < 0)
        childReport(status, 'S', errno);
    if (listener >= 0)
        ::syscall(SYS_close, listener);

    // Suspended until the judge has recorded us.
    char go = 0;
    if (::syscall(SYS_recvfrom, socket, &go, 1, 0, nullptr, nullptr) != 1)
        childReport(status, 'S', EPIPE);
    const unsigned long noSignals = 0;
    ::syscall(SYS_rt_sigprocmask, SIG_SETMASK, &noSignals, nullptr, sizeof noSignals);
    ::syscall(SYS_execve, plan.execPath.constData(), plan.argv, environ);
    childReport(status, 'X', errno);
}

int childEntry(void *plan)
{
    runChild(*static_cast<const ChildPlan *>(plan));
}

constexpr size_t ChildStackSize = 256 * 1024;

// PID 1 of the run: builds the root, starts the program as its child (so that
// the program's signals behave as anywhere else), and once the program has
// ended kills and reaps whatever is left, so that the judge's wait for the
// init covers the CPU time of every process of the run.
// Closes every descriptor from 3 up but those in keep.
template<size_t N>
void closeAllBut(std::array<int, N> keep)
{
    std::sort(keep.begin(), keep.end());
    unsigned from = 3;
    for (int fd : keep) {
        if (fd < static_cast<int>(from))
            continue;
        if (static_cast<unsigned>(fd) > from)
            ::syscall(SYS_close_range, from, static_cast<unsigned>(fd) - 1, 0);
        from = static_cast<unsigned>(fd) + 1;
    }
    ::syscall(SYS_close_range, from, ~0u, 0);
}

[[noreturn]] void runInit(ChildPlan &plan)
{
    const int status = plan.statusPipe;
    // The init never execs: what it inherited from the judge would stay open
    // for the whole run, the ends of other runs' pipes among them.
    closeAllBut(std::array{status, plan.socket, plan.root.network, plan.root.prebuiltRoot, plan.streams[0],
                           plan.streams[1], plan.streams[2]});
    ::syscall(SYS_prctl, PR_SET_PDEATHSIG, SIGKILL, 0, 0, 0);
    if (const int error = sandbox::enterRoot(plan.root))
        childReport(status, 'S', error);
    const pid_t program = ::clone(childEntry, static_cast<char *>(plan.programStack) + ChildStackSize,
                                  CLONE_VM | SIGCHLD, &plan);
    if (program < 0)
        childReport(status, 'S', errno);
    // The program holds the only ends that matter now: exec closes them.
    // (The end of a pipe kept here would never see its other end close.)
    ::syscall(SYS_close, plan.socket);
    ::syscall(SYS_close, status);
    for (int stream : plan.streams) {
        if (stream >= 0)
            ::syscall(SYS_close, stream);
    }
    for (;;) {
        int result = 0;
        const long reaped = ::syscall(SYS_wait4, -1, &result, __WALL, nullptr);
        if (reaped == program) {
            plan.programStatus = result;
            break;
        }
        if (reaped < 0 && errno != EINTR)
            break;
    }
    ::syscall(SYS_kill, -1, SIGKILL);
    while (::syscall(SYS_wait4, -1, nullptr, __WALL, nullptr) > 0 || errno == EINTR) {
    }
    ::syscall(SYS_exit_group, 0);
    __builtin_unreachable();
}

int initEntry(void *plan)
{
    runInit(*static_cast<ChildPlan *>(plan));
}

int aboveStandardStreams(int fd)
{
    if (fd > 2)
        return fd;
    const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
    ::close(fd);
    return moved;
}

// The program's standard streams as the judge opens them, above 2; -1 for
// /dev/null. Regular files only: a pipe or a device named here could stall
// the judge before the program even starts.
class StandardStreams
{
public:
    explicit StandardStreams(const RunRequest &request)
    {
        open(0, request.input.file, O_RDONLY);
        open(1, request.output.file, O_WRONLY | O_CREAT | O_TRUNC);
    }
    ~StandardStreams()
    {
        for (int fd : fds) {
            if (fd >= 0)
                ::close(fd);
        }
    }
    StandardStreams(const StandardStreams &) = delete;
    StandardStreams &operator=(const StandardStreams &) = delete;

    std::array<int, 3> fds{-1, -1, -1};
    int error = 0;  // why one could not be opened

private:
    void open(int stream, const QString &file, int flags)
    {
        if (file.isEmpty() || error)
            return;
        // Never through a link, never held up by a FIFO.
        int fd = ::open(QFile::encodeName(file).constData(), flags | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC,
                        0644);
        if (fd < 0) {
            error = errno;
            return;
        }
        struct stat info;
        if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
            ::close(fd);
            error = EINVAL;
            return;
        }
        ::fcntl(fd, F_SETFL, 0);  // blocking, as a program expects its streams
        fd = aboveStandardStreams(fd);
        if (fd < 0)
            error = errno;
        fds[static_cast<size_t>(stream)] = fd;
    }
};

// Reads a message already waiting. Returns its length (-1 on error); an
// attached descriptor goes to *received.
long receiveMessage(int socket, ChildMessage &message, int *received, pid_t *sender = nullptr)
{
    iovec part{&message, sizeof message};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int)) + CMSG_SPACE(sizeof(ucred))] = {};
    msghdr header{};
    header.msg_iov = &part;
    header.msg_iovlen = 1;
    header.msg_control = control;
    header.msg_controllen = sizeof control;
    long length;
    while ((length = ::recvmsg(socket, &header, MSG_CMSG_CLOEXEC | MSG_DONTWAIT)) < 0 && errno == EINTR) {
    }
    for (cmsghdr *c = CMSG_FIRSTHDR(&header); c; c = CMSG_NXTHDR(&header, c)) {
        if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_RIGHTS) {
            int fd;
            std::memcpy(&fd, CMSG_DATA(c), sizeof fd);
            if (received && *received < 0)
                *received = fd;
            else
                ::close(fd);
        } else if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_CREDENTIALS && sender) {
            ucred credentials;
            std::memcpy(&credentials, CMSG_DATA(c), sizeof credentials);
            *sender = credentials.pid;  // as this process sees it
        }
    }
    return length;
}

void closeFd(int &fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

// ---- ending the program -------------------------------------------------

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

// Kills the program (our unreaped child) with everything it started, and reaps
// it once. Survivors of a setsid or a double fork have been adopted by the
// judge (SubreaperScope); they are found among its children by their mark and
// reaped one by one, never with a wildcard wait that would take children of
// QProcess.
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
        for (pid_t child : adopted)
            reapOnce(child, nullptr, nullptr);
    }
}

void releaseRecord(RunSlot &slot)
{
    closeFd(slot.childProcess.pidfd);
    slot.childProcess.pid = 0;
}

// Unlinking cannot be refused because the file is running; what remains is a
// path that cannot be removed at all, so the retries are bounded.
void removeExecutable(RunSlot &slot)
{
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

// The judge keeps the executable open while it runs. Unlinking it then only
// drops its name; the storage goes with the last descriptor, and releasing a
// file that was synced to disk can take milliseconds, so that last close
// happens off the judge thread.
class ExecutableHold
{
public:
    explicit ExecutableHold(const QByteArray &path)
        : fd(::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK))
    {
    }
    ~ExecutableHold()
    {
        if (fd >= 0)
            BackgroundCloser::close(fd);
    }
    ExecutableHold(const ExecutableHold &) = delete;
    ExecutableHold &operator=(const ExecutableHold &) = delete;

    const int fd;
};

// ---- watching the program ---------------------------------------------

// The runner's own view of the program. Its descriptors are private: a stop
// request releases the shared record, never these. /proc files opened on the
// program keep naming it even after its pid is reused.
struct Run
{
    pid_t pid = 0;      // the program
    pid_t reapPid = 0;  // the judge's child: the program, or the init of its sandbox
    void *initStack = nullptr;  // until the init is reaped
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
    long long familyPeakKb = 0;  // with the program's other processes
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
        for (int *fd : {&waitFd, &listener, &procFd, &statFd, &statusFd, &mapsFd, &pagemapFd, &familyFd})
            closeFd(*fd);
        if (initStack)
            ::munmap(initStack, ChildStackSize);
        initStack = nullptr;
    }
};

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

// judgeMutex held, the program still ours (the CPU clock names it by pid).
// Returns its total CPU time in ns, for the idle rule.
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

// Waits until the next sample is due or the program has ended, answering the
// filter meanwhile. Returns true once the program has ended.
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

struct Started
{
    bool ok = false;
    bool execFailed = false;
    int error = 0;
};

void recordEnd(RunRecord &result, int waitStatus)
{
    if (WIFEXITED(waitStatus))
        result.exitCode = WEXITSTATUS(waitStatus);
    else if (WIFSIGNALED(waitStatus))
        result.signal = WTERMSIG(waitStatus);
}

// judgeMutex held. Forks the child, records it in the slot and lets
// it exec; on success run describes the program.
Started startProgram(RunSlot &slot, ChildPlan &plan, Run &run)
{
    Started started;
    int sockets[2] = {-1, -1};
    int status[2] = {-1, -1};
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, sockets) < 0
        || ::pipe2(status, O_CLOEXEC) < 0) {
        started.error = errno;
        for (int &fd : sockets)
            closeFd(fd);
        return started;
    }
    int judgeEnd = aboveStandardStreams(sockets[0]);
    int childEnd = aboveStandardStreams(sockets[1]);
    int statusIn = aboveStandardStreams(status[0]);
    int statusOut = aboveStandardStreams(status[1]);
    auto closeAll = [&] {
        for (int *fd : {&judgeEnd, &childEnd, &statusIn, &statusOut})
            closeFd(*fd);
    };
    if (judgeEnd < 0 || childEnd < 0 || statusIn < 0 || statusOut < 0) {
        started.error = errno;
        closeAll();
        return started;
    }
    // The program's "ready" then says who it is, as the judge sees it.
    const int passCredentials = 1;
    ::setsockopt(judgeEnd, SOL_SOCKET, SO_PASSCRED, &passCredentials, sizeof passCredentials);
    plan.socket = childEnd;
    plan.statusPipe = statusOut;
    plan.argv[0] = const_cast<char *>(plan.exePath.constData());

    // The child is born on this CPU, which the judge leaves to it at once by
    // waiting. Left to itself, the scheduler may queue it behind a busy
    // process on another CPU for a tick or two.
    cpu_set_t judgeCpus;
    const bool haveJudgeCpus = ::sched_getaffinity(0, sizeof judgeCpus, &judgeCpus) == 0;
    plan.cpus = judgeCpus;
    plan.haveCpus = haveJudgeCpus;
    int birthCpu = ::sched_getcpu();
    if (plan.cpu >= 0 && plan.cpu < CPU_SETSIZE) {
        // Programs judged side by side never share a core.
        CPU_ZERO(&plan.cpus);
        CPU_SET(plan.cpu, &plan.cpus);
        plan.haveCpus = true;
        birthCpu = plan.cpu;
    }
    bool judgeMoved = false;
    if (haveJudgeCpus && birthCpu >= 0) {
        cpu_set_t one;
        CPU_ZERO(&one);
        CPU_SET(birthCpu, &one);
        judgeMoved = ::sched_setaffinity(0, sizeof one, &one) == 0;
    }
    // The child shares the judge's memory until its exec, on a stack of its
    // own: a fork would copy the judge's page tables and leave every page it
    // writes afterwards to a copy-on-write fault, which in a judge with a
    // window costs more than running a trivial program.
    auto newStack = [] {
        void *stack = ::mmap(nullptr, ChildStackSize, PROT_READ | PROT_WRITE,
                             MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
        return stack == MAP_FAILED ? nullptr : stack;
    };
    void *stack = newStack();
    plan.programStack = plan.sandboxed ? newStack() : nullptr;
    if (!stack || (plan.sandboxed && !plan.programStack)) {
        started.error = errno;
        for (void *s : {stack, plan.programStack}) {
            if (s)
                ::munmap(s, ChildStackSize);
        }
        closeAll();
        return started;
    }
    // Unmapped once the program has exec'd or been reaped, never while it
    // runs on it. The init runs on its stack until it is reaped.
    const auto unmapStacks = qScopeGuard([&] {
        if (plan.programStack)
            ::munmap(plan.programStack, ChildStackSize);
        if (stack)
            ::munmap(stack, ChildStackSize);
    });
    sigset_t all, previous;
    ::sigfillset(&all);
    ::pthread_sigmask(SIG_SETMASK, &all, &previous);
    const pid_t pid = ::clone(plan.sandboxed ? initEntry : childEntry, static_cast<char *>(stack) + ChildStackSize,
                              CLONE_VM | SIGCHLD | plan.namespaces, &plan);
    const int forkError = errno;
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    if (judgeMoved)
        ::sched_setaffinity(0, sizeof judgeCpus, &judgeCpus);
    closeFd(childEnd);
    closeFd(statusOut);
    if (pid < 0) {
        closeAll();
        started.execFailed = true;  // ENOMEM reads as lack of memory, like exec's
        started.error = forkError;
        return started;
    }

    const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    slot.childProcess.pid = pid;
    slot.childProcess.pidfd = pidfd;
    run.pid = pid;
    run.reapPid = pid;
    if (plan.sandboxed)
        run.initStack = std::exchange(stack, nullptr);
    if (pidfd >= 0)
        run.waitFd = ::fcntl(pidfd, F_DUPFD_CLOEXEC, 3);
    // Recorded: it may go on. Sent before anything is read back, so that the
    // child finds it waiting; the judge waits once, for the end of the status
    // pipe at exec (every extra hand-over between processes can cost a
    // scheduler tick on a busy machine).
    const char go = 'g';
    ::send(judgeEnd, &go, 1, MSG_NOSIGNAL);

    ChildMessage message{};
    ssize_t length;
    while ((length = ::read(statusIn, &message, sizeof message)) < 0 && errno == EINTR) {
    }
    if (length == 0) {
        // The exec succeeded, so "ready" was sent before it.
        ChildMessage ready{};
        if (receiveMessage(judgeEnd, ready, &run.listener, &run.pid) == static_cast<long>(sizeof ready)
            && ready.kind == 'R' && run.pid > 0) {
            started.ok = true;
            run.filtered = run.listener >= 0;
        } else {
            started.error = EPROTO;
        }
    } else if (length == static_cast<ssize_t>(sizeof message) && (message.kind == 'S' || message.kind == 'X')) {
        started.execFailed = message.kind == 'X';
        started.error = message.error;
    } else {
        started.error = length < 0 ? errno : EPROTO;
    }
    closeAll();

    if (!started.ok) {
        // Its exit would wait on the filter: kill it, then reap it.
        endProgramTree(pid, false, nullptr, nullptr);
        releaseRecord(slot);
        run.pid = 0;
        run.reapPid = 0;
        return started;
    }
    char path[48];
    std::snprintf(path, sizeof path, "/proc/%d", static_cast<int>(run.pid));
    run.procFd = ::open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    run.statFd = ::openat(run.procFd, "stat", O_RDONLY | O_CLOEXEC);
    run.statusFd = ::openat(run.procFd, "status", O_RDONLY | O_CLOEXEC);
    // Unwatched, memfd files and thread stacks can only be looked for at
    // every sample.
    run.watchMemfds = !run.filtered;
    run.threaded = !run.filtered;
    run.haveCpuClock = ::clock_getcpuclockid(run.pid, &run.cpuClock) == 0;
    return started;
}

} // namespace

RunRecord runProgram(RunSlot &slot, const RunRequest &request)
{
    RunRecord result;
    // Opened before the hand-over below, which gives a new output file in
    // the work folder to the program's user with the rest.
    const StandardStreams streams(request);
    // As root, a user of its own for this run; without root, the judge's user
    // in a user namespace of the run's own.
    // Where no user is left in the reserved range, the program runs as before.
    bool sandboxed = programSandbox && sandbox::available();
    std::optional<sandbox::Identity> identity;
    if (sandboxed && ::geteuid() == 0) {
        identity.emplace();
        sandboxed = identity->valid();
    }
    ChildPlan plan = makePlan(request, streams.fds, sandboxed, identity && identity->valid() ? &*identity : nullptr);
    const ExecutableHold executable(plan.exePath);
    // Static data is committed before the first instruction, and exec maps it
    // after the judge has been told that exec succeeded.
    const long long staticKb = executable.fd < 0 ? 0 : static_cast<long long>(elfWritableBytes(executable.fd) / 1024);
    std::optional<SubreaperScope> adoptOrphans;
    if (!plan.sandboxed)
        adoptOrphans.emplace();  // a sandbox's init adopts them instead
    Run run;
    run.maxCreated = request.limits.processes;
    char state = 0;
    for (int attempt = 1;; ++attempt) {
        QMutexLocker lock(&slot.judgeMutex);
        if (!slot.keepRunning) {
            result.status = RunStatus::Stopped;  // a stop has already been served: start nothing
            return result;
        }
        slot.runningExePath = request.workDir + u'/' + request.executable;
        const Started started = streams.error ? Started{false, false, streams.error} : startProgram(slot, plan, run);
        if (started.ok)
            break;
        run.release();
        // A process another slot is starting may hold the executable open
        // for writing until its own exec: the judge's doing, not the program's.
        if (started.execFailed && started.error == ETXTBSY && attempt < 100) {
            lock.unlock();
            sleepNs(2'000'000);
            continue;
        }
        removeExecutable(slot);
        if (started.execFailed)
            execFailure(started.error, state, result.note);
        else
            startFailure(started.error, state, result.note);
        result.status = RunStatus(state);
        return result;
    }
    result.started = true;
    run.peakKb = staticKb;
    run.startNs = monotonicNs();
    // Only user time counts against the limit; a program that keeps the CPU
    // busy in other ways (children of a fork bomb) is stopped by the clock.
    const long long wallLimitNs = wallClockLimitNs(request.limits.time);
    // Unsandboxed, what the program left orphaned has come to the judge.
    auto searchAdopted = [&] { return !plan.sandboxed && (run.spawned || !run.filtered); };

    bool ended = false;
    long long dueNs = monotonicNs();
    for (;;) {
        if (!ended)
            ended = waitForSample(run, dueNs, result.memory);
        const long long now = monotonicNs();
        dueNs += samplePeriodNs;
        if (dueNs <= now)
            dueNs = now + samplePeriodNs;  // late: no burst of samples

        QMutexLocker lock(&slot.judgeMutex);
        if (!slot.keepRunning || slot.childProcess.pid != run.reapPid) {
            result.status = RunStatus::Stopped;  // the stop request has ended the program and owns the clean-up
            return result;
        }
        const long long cpuNs = sample(run, result.time, result.memory);
        if (!ended && run.waitFd < 0)
            ended = hasEnded(run.reapPid);

        RunSample figures{result.time, result.memory, false, 0};
        if (ended) {
            rusage usage{};
            endProgramTree(run.reapPid, searchAdopted(), &figures.waitStatus, &usage);
            releaseRecord(slot);
            if (plan.sandboxed)
                figures.waitStatus = plan.programStatus;
            result.time = static_cast<double>(usage.ru_utime.tv_sec) + usage.ru_utime.tv_usec / 1e6;
            figures.time = result.time;
            figures.ended = true;
            recordEnd(result, figures.waitStatus);
        }
        RunOutcome outcome = judgeSample(figures, request.limits.time, request.limits.memory, state, result.note);
        if (outcome == RunOutcome::Running) {
            // Idle: the precise CPU clock (user and system) stands still.
            if (cpuNs == run.lastCpuNs) {
                if (++run.unchangedSamples > idleSampleLimit) {
                    state = 'R';
                    result.note = QStringLiteral("运行时错误: 未知");
                    outcome = RunOutcome::Failed;
                }
            } else {
                run.unchangedSamples = 0;
                run.lastCpuNs = cpuNs;
            }
        }
        if (outcome == RunOutcome::Running && now - run.startNs > wallLimitNs) {
            state = 'T';
            result.note = QStringLiteral("超过时间限制");
            outcome = RunOutcome::Failed;
        }
        if (outcome == RunOutcome::Running)
            continue;
        if (!ended) {
            int waitStatus = 0;
            endProgramTree(run.reapPid, searchAdopted(), &waitStatus, nullptr);
            releaseRecord(slot);
            recordEnd(result, plan.sandboxed ? plan.programStatus : waitStatus);
        }
        removeExecutable(slot);
        result.status = outcome == RunOutcome::Passed ? RunStatus::Passed : RunStatus(state);
        return result;
    }
}

bool runProgram(RunSlot &slot, const QString &workDir, const QString &exeName,
                double &timeUsed, double &memoryUsed, char &state, QString &note,
                double timeLimit, double memoryLimit)
{
    RunRequest request;
    request.workDir = workDir;
    request.executable = exeName;
    request.limits.time = timeLimit;
    request.limits.memory = memoryLimit;
    return runProgram(slot, request).unpack(timeUsed, memoryUsed, state, note);
}

QString sandboxWarning()
{
    const QString reason = sandbox::unavailableReason();
    return reason.isEmpty() ? QString() : QStringLiteral("沙箱不可用: ") + reason;
}

void stopRunningProgram(RunSlot &slot)
{
    if (slot.childProcess.pid > 0) {
        endProgramTree(slot.childProcess.pid, true, nullptr, nullptr);
        releaseRecord(slot);
    }
    removeExecutable(slot);
}

void killProcessTree(qint64 processId)
{
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
    const long long giveUpNs = monotonicNs() + 10'000'000'000LL;
    for (;;) {
        const std::vector<ProcStat> processes = listProcesses();
        std::vector<pid_t> tree;
        auto inTree = [&](pid_t pid) { return std::find(tree.begin(), tree.end(), pid) != tree.end(); };
        for (const ProcStat &p : processes) {
            if (p.pid != self && (p.pid == root || p.session == root || p.pgrp == root))
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
        for (const ProcStat &p : processes) {
            if (!inTree(p.pid))
                continue;
            if (p.state != 'Z' && p.state != 'X')
                alive.push_back(p.pid);
            else if (p.ppid == self && p.pid != root)
                ::waitpid(p.pid, nullptr, WNOHANG | __WALL);  // adopted while a program ran
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
        sleepNs(1'000'000);
    }
}

namespace {
std::atomic<bool> compilerSandbox{true};
}

void setCompilerSandboxForTesting(bool enabled)
{
    compilerSandbox = enabled;
}

void setProgramSandboxForTesting(bool enabled)
{
    programSandbox = enabled;
}

void startSandboxed(QProcess &process, const QString &workDir, qint64 addressSpace)
{
    if (!compilerSandbox || !sandbox::available()) {
        startInOwnSession(process, addressSpace);
        return;
    }
    // Compilers are the system's: one user for all of them, apart from every
    // program's.
    static const sandbox::Identity compilerIdentity;
    const uid_t uid = ::geteuid() == 0 ? compilerIdentity.uid() : 0;
    if (::geteuid() == 0 && !uid) {
        startInOwnSession(process, addressSpace);
        return;
    }
    sandbox::RootPlan root = sandbox::makeRootPlan(workDir, true, 1024);
    if (uid)
        sandbox::handOver(root.workDir, uid, uid);
    root.network = uid ? compilerIdentity.network() : -1;
    const int namespaces = sandbox::namespaceFlags(false, root.network < 0);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("TMPDIR"), QStringLiteral("/tmp"));
    process.setProcessEnvironment(environment);
    process.setChildProcessModifier([root, uid, namespaces, addressSpace] {
        ::setsid();
        ::prctl(PR_SET_PDEATHSIG, SIGKILL, 0, 0, 0);
        if (addressSpace > 0) {
            const rlimit bound{rlim_t(addressSpace), rlim_t(addressSpace)};
            ::setrlimit(RLIMIT_AS, &bound);
        }
        int error = ::unshare(namespaces) == 0 ? 0 : errno;
        if (!error)
            error = sandbox::enterRoot(root);
        if (!error && uid
            && (::setgroups(0, nullptr) != 0 || ::setresgid(uid, uid, uid) != 0 || ::setresuid(uid, uid, uid) != 0))
            error = errno;
        if (error) {
            static const char message[] = "judge: cannot enter the compiler's sandbox\n";
            [[maybe_unused]] const ssize_t written = ::write(2, message, sizeof message - 1);
            ::_exit(127);
        }
    });
}

void startInOwnSession(QProcess &process, qint64 addressSpace)
{
    process.setChildProcessModifier([addressSpace] {
        ::setsid();
        if (addressSpace > 0) {
            const rlimit bound{rlim_t(addressSpace), rlim_t(addressSpace)};
            ::setrlimit(RLIMIT_AS, &bound);
        }
    });
}
