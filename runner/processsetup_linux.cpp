#include "runner.h"

#include "sandbox_linux.h"

#include <QProcess>
#include <QProcessEnvironment>

#include <atomic>
#include <cerrno>

#include <grp.h>
#include <sched.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
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
