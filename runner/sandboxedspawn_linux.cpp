#include "runner.h"

#include "runprocess_linux.h"
#include "sandbox_linux.h"

#include <QFile>

#include <cerrno>
#include <csignal>
#include <vector>

#include <fcntl.h>
#include <grp.h>
#include <linux/close_range.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

// An organiser's program (a checker, an interactor) started without QProcess:
// cloned on a stack of its own, sharing the judge's memory until its exec
// (no page tables copied), and set up with raw system calls only.

using runner::ChildStackSize;
using runner::closeFd;

namespace {

struct SpawnPlan
{
    QByteArray path;
    QByteArray workDir;
    std::vector<QByteArray> words;
    std::vector<char *> argv;
    std::array<QByteArray, 3> environment;
    char *envp[4] = {nullptr, nullptr, nullptr, nullptr};
    std::array<int, 3> streams{-1, -1, -1};
    int null = -1;
    rlimit addressSpace{RLIM_INFINITY, RLIM_INFINITY};
    rlimit cpuTime{RLIM_INFINITY, RLIM_INFINITY};
    bool ignorePipeSignal = false;
    cpu_set_t cpus;
    bool pinned = false;
    bool sandboxed = false;
    sandbox::RootPlan root;
    uid_t uid = 0;
    // Where the judge does not run as root, its child joins the judge's user
    // namespace and starts the program in namespaces of its own, on this stack.
    int childNamespaces = 0;
    void *childStack = nullptr;
    // Written by the child before it gives up; read after the vfork-style
    // clone has returned, when the child has exec'd or died.
    volatile int error = 0;
};

[[noreturn]] void fail(SpawnPlan &plan, int error)
{
    plan.error = error;
    ::syscall(SYS_exit_group, 127);
    __builtin_unreachable();
}

int spawnChild(void *argument)
{
    SpawnPlan &plan = *static_cast<SpawnPlan *>(argument);
    // Exec keeps ignored signals ignored: give it the defaults, but the one
    // it is to ignore.
    const unsigned long defaultAction[4] = {};
    const unsigned long ignoreAction[4] = {reinterpret_cast<unsigned long>(SIG_IGN), 0, 0, 0};
    for (int signal = 1; signal <= 64; ++signal) {
        if (signal == SIGKILL || signal == SIGSTOP)
            continue;
        const bool ignore = signal == SIGPIPE && plan.ignorePipeSignal;
        ::syscall(SYS_rt_sigaction, signal, ignore ? ignoreAction : defaultAction, nullptr, sizeof(unsigned long));
    }
    if (::syscall(SYS_setsid) < 0)
        fail(plan, errno);
    ::syscall(SYS_prctl, PR_SET_PDEATHSIG, SIGKILL, 0, 0, 0);
    if (plan.pinned)
        ::syscall(SYS_sched_setaffinity, 0, sizeof plan.cpus, &plan.cpus);
    const rlimit noCore{0, 0};
    ::syscall(SYS_prlimit64, 0, RLIMIT_CORE, &noCore, nullptr);
    if (::syscall(SYS_prlimit64, 0, RLIMIT_AS, &plan.addressSpace, nullptr) < 0
        || ::syscall(SYS_prlimit64, 0, RLIMIT_CPU, &plan.cpuTime, nullptr) < 0)
        fail(plan, errno);
    // Standard streams first: the sandbox's root may have no way back to them.
    for (int fd = 0; fd < 3; ++fd) {
        const int source = plan.streams[fd] >= 0 ? plan.streams[fd] : plan.null;
        if (::syscall(SYS_dup3, source, fd, 0) < 0)
            fail(plan, errno);
    }
    if (plan.sandboxed) {
        if (const int error = sandbox::enterRoot(plan.root))
            fail(plan, error);
        if (plan.uid
            && (::syscall(SYS_setgroups, 0, nullptr) < 0 || ::syscall(SYS_setresgid, plan.uid, plan.uid, plan.uid) < 0
                || ::syscall(SYS_setresuid, plan.uid, plan.uid, plan.uid) < 0))
            fail(plan, errno);
        // A change of user clears it.
        ::syscall(SYS_prctl, PR_SET_PDEATHSIG, SIGKILL, 0, 0, 0);
    } else if (::syscall(SYS_chdir, plan.workDir.constData()) < 0) {
        fail(plan, errno);
    }
    // The judge's descriptors stay with the judge.
    ::syscall(SYS_close_range, 3, ~0u, CLOSE_RANGE_CLOEXEC);
    const unsigned long noSignals = 0;
    ::syscall(SYS_rt_sigprocmask, SIG_SETMASK, &noSignals, nullptr, sizeof noSignals);
    ::syscall(SYS_execve, plan.path.constData(), plan.argv.data(), plan.envp);
    fail(plan, errno);
}

// Between the judge and the organiser's program, for a judge that does not
// run as root: joins the judge's user namespace (one of the judge's threads
// cannot) and the namespaces made in it, starts the program there as the
// first of a process tree of its own, lets the judge go on once it has
// exec'd, and ends as the program ends.
int spawnBridge(void *argument)
{
    SpawnPlan &plan = *static_cast<SpawnPlan *>(argument);
    ::syscall(SYS_prctl, PR_SET_PDEATHSIG, SIGKILL, 0, 0, 0);
    long child = -1;
    if (const int error = sandbox::joinJudgeNamespaces(plan.root)) {
        plan.error = error;
    } else {
        for (int fd : {plan.root.judgeUsers, plan.root.network, plan.root.prebuiltRoot})
            ::syscall(SYS_close, fd);
        child = ::clone(spawnChild, plan.childStack, CLONE_VM | CLONE_VFORK | SIGCHLD | plan.childNamespaces, &plan);
        if (child < 0)
            plan.error = errno;
    }
    // The judge waits for the last of these, the end of its pipe, and the
    // program's peer for the ends of its streams.
    ::syscall(SYS_close_range, 0, ~0u, 0);
    if (child < 0)
        ::syscall(SYS_exit_group, 127);
    int status = 0;
    while (::syscall(SYS_wait4, child, &status, __WALL, nullptr) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status))
        ::syscall(SYS_exit_group, WEXITSTATUS(status));
    // Dies as the program did, without a core.
    const int signal = WTERMSIG(status);
    const rlimit noCore{0, 0};
    ::syscall(SYS_prlimit64, 0, RLIMIT_CORE, &noCore, nullptr);
    const unsigned long defaultAction[4] = {};
    ::syscall(SYS_rt_sigaction, signal, defaultAction, nullptr, sizeof(unsigned long));
    const unsigned long allBut = ~(1UL << (signal - 1));
    ::syscall(SYS_rt_sigprocmask, SIG_SETMASK, &allBut, nullptr, sizeof allBut);
    ::syscall(SYS_kill, ::syscall(SYS_getpid), signal);
    ::syscall(SYS_exit_group, 128 + signal);
    __builtin_unreachable();
}

rlimit bound(qint64 value)
{
    const rlim_t limit = value > 0 ? rlim_t(value) : RLIM_INFINITY;
    return rlimit{limit, limit};
}

} // namespace

bool SpawnedProcess::start(const QString &program, const QStringList &arguments, const QString &workDir,
                           const SpawnSetup &setup)
{
    reset();

    SpawnPlan plan;
    plan.workDir = QFile::encodeName(workDir);
    plan.streams = setup.streams;
    plan.addressSpace = bound(setup.addressSpace);
    // SIGKILL at the limit: the init of a sandbox ignores SIGXCPU.
    plan.cpuTime = setup.cpuSeconds > 0 ? rlimit{rlim_t(setup.cpuSeconds), rlim_t(setup.cpuSeconds)}
                                        : rlimit{RLIM_INFINITY, RLIM_INFINITY};
    plan.ignorePipeSignal = setup.ignorePipeSignal;
    if (setup.cpu >= 0 && setup.cpu < CPU_SETSIZE) {
        CPU_ZERO(&plan.cpus);
        CPU_SET(setup.cpu, &plan.cpus);
        plan.pinned = true;
    }

    int namespaces = 0;
    const sandbox::Identity &identity = sandbox::compilerIdentity();
    const bool asRoot = ::geteuid() == 0;
    plan.sandboxed = setup.sandboxed && sandbox::compilerSandboxEnabled() && sandbox::available()
                     && (!asRoot || identity.valid());
    if (plan.sandboxed) {
        plan.uid = asRoot ? identity.uid() : 0;
        plan.root = sandbox::makeRootPlan(workDir, true, 1024);
        if (plan.uid)
            sandbox::handOver(plan.root.workDir, plan.uid, plan.uid);
        const bool kept = plan.uid || identity.inJudgeUsers();
        plan.root.network = kept ? identity.network() : -1;
        plan.root.prebuiltRoot = kept ? sandbox::sharedPrebuiltRoot(plan.root) : -1;
        if (!asRoot) {
            // Made in the judge's user namespace: joined together, or not at all.
            if (plan.root.network >= 0 && plan.root.prebuiltRoot >= 0) {
                plan.root.judgeUsers = sandbox::judgeUserNamespace();
                plan.root.hostProc = ::open("/proc", O_PATH | O_DIRECTORY | O_CLOEXEC);
            }
            if (plan.root.judgeUsers < 0 || plan.root.hostProc < 0) {
                plan.root.judgeUsers = plan.root.network = -1;
                closeFd(plan.root.prebuiltRoot);
                closeFd(plan.root.hostProc);
            }
        }
        namespaces = sandbox::namespaceFlags(false, plan.root.network < 0) | CLONE_NEWPID;
        // The child copies the prebuilt root, not the judge's view.
        if (plan.root.prebuiltRoot >= 0)
            namespaces &= ~CLONE_NEWNS;
        if (plan.root.judgeUsers >= 0) {
            plan.childNamespaces = CLONE_NEWUSER | CLONE_NEWNS | CLONE_NEWIPC | CLONE_NEWPID;
            namespaces = 0;
        }
        plan.path = "/box/" + QFile::encodeName(program);
    } else {
        plan.path = QFile::encodeName(program.startsWith(u'/') ? program : workDir + u'/' + program);
    }
    plan.words.push_back(plan.path);
    for (const QString &argument : arguments)
        plan.words.push_back(QFile::encodeName(argument));
    for (QByteArray &word : plan.words)
        plan.argv.push_back(word.data());
    plan.argv.push_back(nullptr);
    plan.environment = {QByteArray(sandbox::programPath), QByteArray(sandbox::programLanguage),
                        QByteArray("TMPDIR=/tmp")};
    for (size_t i = 0; i < plan.environment.size(); ++i)
        plan.envp[i] = plan.environment[i].data();

    const bool bridged = plan.root.judgeUsers >= 0;
    const size_t stackBytes = bridged ? 2 * ChildStackSize : ChildStackSize;
    int started[2] = {-1, -1};
    plan.null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    void *stack = ::mmap(nullptr, stackBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
    auto release = [&] {
        closeFd(plan.null);
        closeFd(plan.root.prebuiltRoot);
        closeFd(plan.root.hostProc);
        for (int &fd : started)
            closeFd(fd);
    };
    if (plan.null < 0 || stack == MAP_FAILED || (bridged && ::pipe2(started, O_CLOEXEC) < 0)) {
        m_error = errno;
        release();
        if (stack != MAP_FAILED)
            ::munmap(stack, stackBytes);
        return false;
    }
    plan.childStack = static_cast<char *>(stack) + ChildStackSize;
    sigset_t all, previous;
    ::sigfillset(&all);
    ::pthread_sigmask(SIG_SETMASK, &all, &previous);
    // The judge waits until the child has exec'd or failed: only then may
    // its stack go and plan.error be read. A bridge's child does so while the
    // bridge holds on to the pipe; the bridge's stack stays until it is reaped.
    const pid_t pid = ::clone(bridged ? spawnBridge : spawnChild, static_cast<char *>(stack) + stackBytes,
                              CLONE_VM | (bridged ? 0 : CLONE_VFORK) | SIGCHLD | namespaces, &plan);
    const int cloneError = errno;
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    if (bridged && pid > 0) {
        closeFd(started[1]);
        char ignored;
        while (::read(started[0], &ignored, 1) < 0 && errno == EINTR) {
        }
    }
    release();
    if (bridged && pid > 0) {
        m_stack = stack;
        m_stackBytes = stackBytes;
    } else {
        ::munmap(stack, stackBytes);
    }
    if (pid < 0) {
        m_error = cloneError;
        return false;
    }
    m_pid = pid;
    if (plan.error != 0) {
        m_error = plan.error;
        waitForFinished(-1);
        return false;
    }
    m_pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    return true;
}
