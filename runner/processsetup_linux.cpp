#include "runner.h"

#include "sandbox_linux.h"

#include <QProcess>
#include <QProcessEnvironment>

#include <atomic>
#include <cerrno>

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

// Compilers and checkers: children of QProcess, set up between its fork and
// their exec.

namespace {
std::atomic<bool> compilerSandbox{true};
}

void setCompilerSandboxForTesting(bool enabled)
{
    compilerSandbox = enabled;
}

const sandbox::Identity &sandbox::compilerIdentity()
{
    // Compilers are the system's: one user for all of them.
    static const Identity identity;
    return identity;
}

bool sandbox::compilerSandboxEnabled()
{
    return compilerSandbox;
}

namespace {

// A compiler's environment is fixed as a program's is, with its scratch
// space: /tmp, its private one in a sandbox.
QProcessEnvironment compilerEnvironment()
{
    QProcessEnvironment environment;
    for (const char *variable : {sandbox::programPath, sandbox::programLanguage, "TMPDIR=/tmp"}) {
        const QString text = QString::fromLatin1(variable);
        const qsizetype equals = text.indexOf(u'=');
        environment.insert(text.left(equals), text.mid(equals + 1));
    }
    return environment;
}

// The process QProcess started, outside the compiler's process tree: waits
// for the compiler and ends as it ended. It lets go of every descriptor
// first (but aliveEnd, which the compiler watches while it sets itself up),
// so that QProcess hears of the compiler's exec and output from the compiler
// alone; its own death (the judge's, or a kill) takes the compiler and all it
// started with it.
[[noreturn]] void relayCompiler(pid_t compiler, int aliveEnd)
{
    ::syscall(SYS_close_range, 0, aliveEnd - 1, 0);
    ::syscall(SYS_close_range, aliveEnd + 1, ~0u, 0);
    int status = 0;
    while (::waitpid(compiler, &status, __WALL) < 0 && errno == EINTR) {
    }
    if (WIFSIGNALED(status)) {
        const int signal = WTERMSIG(status);
        ::signal(signal, SIG_DFL);
        sigset_t only;
        ::sigemptyset(&only);
        ::sigaddset(&only, signal);
        ::sigprocmask(SIG_UNBLOCK, &only, nullptr);
        ::kill(::getpid(), signal);
        ::_exit(128 + signal);
    }
    ::_exit(WIFEXITED(status) ? WEXITSTATUS(status) : 127);
}

} // namespace

void startSandboxed(QProcess &process, const QString &workDir, qint64 addressSpace)
{
    process.setProcessEnvironment(compilerEnvironment());
    if (!compilerSandbox || !sandbox::available()) {
        startInOwnSession(process, addressSpace);
        return;
    }
    const sandbox::Identity &compilerIdentity = sandbox::compilerIdentity();
    const uid_t uid = ::geteuid() == 0 ? compilerIdentity.uid() : 0;
    if (::geteuid() == 0 && !uid) {
        startInOwnSession(process, addressSpace);
        return;
    }
    sandbox::RootPlan root = sandbox::makeRootPlan(workDir, true, 1024);
    if (uid)
        sandbox::handOver(root.workDir, uid, uid);
    root.network = uid ? compilerIdentity.network() : -1;
    const int namespaces = sandbox::namespaceFlags(false, root.network < 0) | CLONE_NEWPID;
    process.setChildProcessModifier([root, uid, namespaces, addressSpace] {
        ::setsid();
        // Kept: this process stays the judge's user.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL, 0, 0, 0);
        if (addressSpace > 0) {
            const rlimit bound{rlim_t(addressSpace), rlim_t(addressSpace)};
            ::setrlimit(RLIMIT_AS, &bound);
        }
        int error = ::unshare(namespaces) == 0 ? 0 : errno;
        if (!error)
            error = sandbox::enterRoot(root);
        int alive[2] = {-1, -1};
        if (!error && ::pipe2(alive, O_CLOEXEC) != 0)
            error = errno;
        const pid_t compiler = error ? -1 : ::fork();
        if (!error && compiler < 0)
            error = errno;
        if (error) {
            static const char message[] = "judge: cannot enter the compiler's sandbox\n";
            [[maybe_unused]] const ssize_t written = ::write(2, message, sizeof message - 1);
            ::_exit(127);
        }
        if (compiler > 0)
            relayCompiler(compiler, alive[1]);
        // The compiler: the init of a process tree of its own, so that all it
        // starts dies with it, and with the judge.
        if (uid
            && (::setgroups(0, nullptr) != 0 || ::setresgid(uid, uid, uid) != 0 || ::setresuid(uid, uid, uid) != 0))
            ::_exit(127);
        // After the change of user, which clears it; then, in case the
        // relay died before, the relay's end of the pipe tells.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL, 0, 0, 0);
        ::close(alive[1]);
        pollfd relay{alive[0], POLLIN, 0};
        if (::poll(&relay, 1, 0) != 0)
            ::_exit(127);
        ::close(alive[0]);
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
