#include "runner.h"

#include "runprocess_linux.h"

#include <QFile>

#include <cerrno>
#include <csignal>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

extern char **environ;

using runner::closeFd;
using runner::monotonicNs;

SpawnedProcess::~SpawnedProcess()
{
    reset();
}

void SpawnedProcess::reset()
{
    if (m_pid > 0) {
        killProcessTree(m_pid);
        waitForFinished(-1);
    }
    closeFd(m_pidfd);
    releaseStack();
    m_pid = 0;
    m_ended = false;
    m_status = 0;
    m_error = 0;
}

bool SpawnedProcess::start(const QString &program, const QStringList &arguments, const QString &workDir, int cpu)
{
    reset();

    const QByteArray path = QFile::encodeName(program);
    const QByteArray dir = QFile::encodeName(workDir);
    std::vector<QByteArray> words;
    words.reserve(static_cast<size_t>(arguments.size()) + 1);
    words.push_back(path);
    for (const QString &argument : arguments)
        words.push_back(QFile::encodeName(argument));
    std::vector<char *> argv;
    for (QByteArray &word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawnattr_init(&attributes);
    for (int fd = 0; fd < 3; ++fd)
        ::posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", fd == 0 ? O_RDONLY : O_WRONLY, 0);
    if (!dir.isEmpty())
        ::posix_spawn_file_actions_addchdir_np(&actions, dir.constData());
    sigset_t none, all;
    ::sigemptyset(&none);
    ::sigfillset(&all);
    ::posix_spawnattr_setsigmask(&attributes, &none);
    ::posix_spawnattr_setsigdefault(&attributes, &all);
    ::posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    // The child takes the affinity of the thread that starts it.
    cpu_set_t own;
    bool pinned = false;
    if (cpu >= 0 && cpu < CPU_SETSIZE && ::sched_getaffinity(0, sizeof own, &own) == 0) {
        cpu_set_t one;
        CPU_ZERO(&one);
        CPU_SET(cpu, &one);
        pinned = ::sched_setaffinity(0, sizeof one, &one) == 0;
    }
    pid_t pid = 0;
    m_error = ::posix_spawn(&pid, path.constData(), &actions, &attributes, argv.data(), environ);
    if (pinned)
        ::sched_setaffinity(0, sizeof own, &own);
    ::posix_spawn_file_actions_destroy(&actions);
    ::posix_spawnattr_destroy(&attributes);
    if (m_error != 0)
        return false;
    m_pid = pid;
    m_pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    return true;
}

bool SpawnedProcess::waitForFinished(int timeoutMs, const std::function<void()> &beforeReap)
{
    if (m_pid <= 0)
        return m_ended;
    const long long dueNs = timeoutMs < 0 ? -1 : monotonicNs() + timeoutMs * 1'000'000LL;
    if (m_pidfd >= 0) {
        for (;;) {
            const long long left = dueNs < 0 ? -1 : dueNs - monotonicNs();
            if (dueNs >= 0 && left <= 0)
                return false;
            pollfd ended{m_pidfd, POLLIN, 0};
            const int ready = ::poll(&ended, 1, left < 0 ? -1 : static_cast<int>((left + 999'999) / 1'000'000));
            if (ready > 0)
                break;
            if (ready < 0 && errno != EINTR)
                break;  // waited for below
        }
    }
    int status = 0;
    pid_t reaped;
    if (m_pidfd < 0 && dueNs >= 0) {
        // Without a descriptor to poll, by looking, leaving it unreaped.
        siginfo_t info{};
        while (::waitid(P_PID, static_cast<id_t>(m_pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == 0) {
            if (monotonicNs() >= dueNs)
                return false;
            runner::sleepNs(1'000'000);
        }
    }
    if (beforeReap)
        beforeReap();
    while ((reaped = ::waitpid(m_pid, &status, 0)) < 0 && errno == EINTR) {
    }
    m_status = reaped == m_pid ? status : W_EXITCODE(0, SIGKILL);
    m_ended = true;
    m_pid = 0;
    closeFd(m_pidfd);
    releaseStack();
    return true;
}

void SpawnedProcess::releaseStack()
{
    if (m_stack)
        ::munmap(m_stack, m_stackBytes);
    m_stack = nullptr;
}
