#include "runstart_linux.h"

#include "procfs_linux.h"
#include "programfilter_linux.h"
#include "runcleanup_linux.h"
#include "runprocess_linux.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <linux/close_range.h>
#include <linux/seccomp.h>
#include <pwd.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace runner {
namespace {

constexpr double bytesPerMb = 1024.0 * 1024.0;

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
    ::syscall(SYS_execve, plan.execPath.constData(), plan.argv, plan.envp);
    childReport(status, 'X', errno);
}

int childEntry(void *plan)
{
    runChild(*static_cast<const ChildPlan *>(plan));
}

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

// PID 1 of the run: builds the root, starts the program as its child (so that
// the program's signals behave as anywhere else), and once the program has
// ended kills and reaps whatever is left, so that the judge's wait for the
// init covers the CPU time of every process of the run.
[[noreturn]] void runInit(ChildPlan &plan)
{
    const int status = plan.statusPipe;
    // The init never execs: what it inherited from the judge would stay open
    // for the whole run, the ends of other runs' pipes among them.
    closeAllBut(std::array{status, plan.socket, plan.root.network, plan.root.prebuiltRoot, plan.streams[0],
                           plan.streams[1], plan.streams[2]});
    ::syscall(SYS_prctl, PR_SET_PDEATHSIG, SIGKILL, 0, 0, 0);
    int workFolder = -1;
    if (const int error = sandbox::enterRoot(plan.root, &workFolder))
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
    // Nothing of the program can change them any more.
    if (workFolder >= 0)
        sandbox::returnResults(plan.root, workFolder);
    ::syscall(SYS_exit_group, 0);
    __builtin_unreachable();
}

int initEntry(void *plan)
{
    runInit(*static_cast<ChildPlan *>(plan));
}

// Between the judge and the run's init, for a judge that does not run as
// root: joins the judge's user namespace, which one of the judge's threads
// cannot, and the namespaces made in it, and starts the init there (a new
// process tree is for children only) as the judge's own child, so that the
// judge waits for it, and its time, as for any init. Then it ends.
[[noreturn]] void runBridge(ChildPlan &plan)
{
    const int status = plan.statusPipe;
    closeAllBut(std::array{status, plan.socket, plan.root.judgeUsers, plan.root.network, plan.root.prebuiltRoot,
                           plan.streams[0], plan.streams[1], plan.streams[2]});
    ::syscall(SYS_prctl, PR_SET_PDEATHSIG, SIGKILL, 0, 0, 0);
    if (const int error = sandbox::joinJudgeNamespaces(plan.root))
        childReport(status, 'S', error);
    for (int fd : {plan.root.judgeUsers, plan.root.network, plan.root.prebuiltRoot})
        ::syscall(SYS_close, fd);
    // The init's pid is written before the init runs, so before the judge can
    // hear from its program.
    if (::clone(initEntry, plan.initStack, CLONE_VM | CLONE_PARENT | CLONE_PARENT_SETTID | plan.initNamespaces, &plan,
                &plan.initPid)
        < 0)
        childReport(status, 'S', errno);
    ::syscall(SYS_exit_group, 0);
    __builtin_unreachable();
}

int bridgeEntry(void *plan)
{
    runBridge(*static_cast<ChildPlan *>(plan));
}

int aboveStandardStreams(int fd)
{
    if (fd > 2)
        return fd;
    const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
    ::close(fd);
    return moved;
}

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

} // namespace

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
        if (identity && identity->inJudgeUsers()) {
            // Made in the judge's user namespace: joined together, or not at all.
            if (plan.root.network >= 0 && plan.root.prebuiltRoot >= 0)
                plan.root.judgeUsers = sandbox::judgeUserNamespace();
            if (plan.root.judgeUsers < 0)
                plan.root.network = plan.root.prebuiltRoot = -1;
        }
        plan.namespaces = sandbox::namespaceFlags(true, plan.root.network < 0);
        // The init joins the prebuilt root and copies that: a copy of the
        // judge's own view made by the clone would only be thrown away.
        if (plan.root.prebuiltRoot >= 0)
            plan.namespaces &= ~CLONE_NEWNS;
        if (plan.root.judgeUsers >= 0) {
            plan.initNamespaces = CLONE_NEWUSER | CLONE_NEWNS | CLONE_NEWIPC | CLONE_NEWPID;
            plan.namespaces = 0;
        }
        plan.exePath = "/box/" + QFile::encodeName(exeName);
        plan.workDir = "/box";
        const bool ownUser = identity && identity->valid();
        if (ownUser) {
            plan.dropPrivileges = true;
            plan.uid = identity->uid();
            plan.gid = identity->gid();
            sandbox::handOver(plan.root.workDir, plan.uid, plan.gid);
        }
        // Written in place, through the descriptor the judge opened.
        const QFileInfo output(request.output.file);
        if (!request.output.file.isEmpty() && output.absolutePath() == QFileInfo(workDir).absoluteFilePath())
            plan.root.streamName = QFile::encodeName(output.fileName());
        plan.root.allResults = !request.results.has_value();
        for (const QString &name : request.results.value_or(QStringList()))
            plan.root.results.push_back(QFile::encodeName(name));
        sandbox::planBox(plan.root, static_cast<unsigned long long>(std::max<qint64>(request.limits.outputBytes, 0)),
                         ownUser ? plan.uid : ::geteuid(), ownUser ? plan.gid : ::getegid());
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

    plan.environment = {QByteArray(sandbox::programPath), QByteArray(sandbox::programLanguage),
                        plan.sandboxed ? QByteArray("HOME=/box") : QByteArray()};

    const std::vector<sock_filter> &filter = programFilter();
    plan.filter.len = static_cast<unsigned short>(filter.size());
    plan.filter.filter = const_cast<sock_filter *>(filter.data());

    rlimit files{1024, 1024};
    ::getrlimit(RLIMIT_NOFILE, &files);
    plan.descriptorLimit = static_cast<int>(std::min<rlim_t>(files.rlim_cur, 65536));
    return plan;
}

StandardStreams::StandardStreams(const RunRequest &request)
{
    const RunStream *streams[2] = {&request.input, &request.output};
    for (int stream = 0; stream < 2; ++stream) {
        const int given = streams[stream]->fd;
        if (given < 0) {
            open(stream, streams[stream]->file, stream == 0 ? O_RDONLY : O_WRONLY | O_CREAT | O_TRUNC);
        } else if (!error) {
            // The run's own copy: closed with the run, whatever the caller keeps.
            fds[static_cast<size_t>(stream)] = ::fcntl(given, F_DUPFD_CLOEXEC, 3);
            if (fds[static_cast<size_t>(stream)] < 0)
                error = errno;
        }
    }
}

StandardStreams::~StandardStreams()
{
    for (int fd : fds) {
        if (fd >= 0)
            ::close(fd);
    }
}

void StandardStreams::open(int stream, const QString &file, int flags)
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
    size_t variables = 0;
    for (const QByteArray &variable : plan.environment) {
        if (!variable.isEmpty())
            plan.envp[variables++] = const_cast<char *>(variable.constData());
    }
    plan.envp[variables] = nullptr;

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
    // A bridge's stack, with its init's below.
    const bool bridged = plan.sandboxed && plan.root.judgeUsers >= 0;
    const size_t stackBytes = bridged ? 2 * ChildStackSize : ChildStackSize;
    auto newStack = [](size_t bytes) {
        void *stack = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
        return stack == MAP_FAILED ? nullptr : stack;
    };
    void *stack = newStack(stackBytes);
    plan.programStack = plan.sandboxed ? newStack(ChildStackSize) : nullptr;
    plan.initStack = bridged && stack ? static_cast<char *>(stack) + ChildStackSize : nullptr;
    plan.initPid = 0;
    if (!stack || (plan.sandboxed && !plan.programStack)) {
        started.error = errno;
        if (stack)
            ::munmap(stack, stackBytes);
        if (plan.programStack)
            ::munmap(plan.programStack, ChildStackSize);
        closeAll();
        return started;
    }
    // Unmapped once the program has exec'd or been reaped, never while it
    // runs on it. The init runs on its stack until it is reaped.
    const auto unmapStacks = qScopeGuard([&] {
        if (plan.programStack)
            ::munmap(plan.programStack, ChildStackSize);
        if (stack)
            ::munmap(stack, stackBytes);
    });
    sigset_t all, previous;
    ::sigfillset(&all);
    ::pthread_sigmask(SIG_SETMASK, &all, &previous);
    const pid_t pid = ::clone(bridged ? bridgeEntry : plan.sandboxed ? initEntry : childEntry,
                              static_cast<char *>(stack) + stackBytes, CLONE_VM | SIGCHLD | plan.namespaces, &plan);
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
    if (plan.sandboxed) {
        run.initStack = std::exchange(stack, nullptr);
        run.initStackBytes = stackBytes;
    }
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
    if (bridged) {
        // Gone once its end of the status pipe is, or soon after: from here on
        // the run is the init's, the judge's child too.
        while (::waitpid(pid, nullptr, __WALL) < 0 && errno == EINTR) {
        }
        releaseRecord(slot);
        run.reapPid = plan.initPid;
        if (plan.initPid > 0) {
            slot.childProcess.pid = plan.initPid;
            slot.childProcess.pidfd = static_cast<int>(::syscall(SYS_pidfd_open, plan.initPid, 0));
            closeFd(run.waitFd);
            if (slot.childProcess.pidfd >= 0)
                run.waitFd = ::fcntl(slot.childProcess.pidfd, F_DUPFD_CLOEXEC, 3);
        } else {
            started.ok = false;
        }
    }

    if (!started.ok) {
        // Its exit would wait on the filter: kill it, then reap it.
        if (run.reapPid > 0)
            endProgramTree(run.reapPid, false, nullptr, nullptr);
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

} // namespace runner
