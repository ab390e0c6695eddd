#pragma once

// Starting a program. Everything the child needs is prepared before the
// clone (makePlan, StandardStreams); startProgram clones it (in a sandbox,
// the run's init, which starts the program), records it in the slot and
// lets it exec.

#include "runner.h"
#include "sandbox_linux.h"

#include <QByteArray>
#include <QString>

#include <array>
#include <csignal>

#include <linux/filter.h>
#include <sched.h>
#include <sys/resource.h>

namespace runner {

struct Run;

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
    // The program's whole environment, the same on every machine: nothing of
    // the judge's (its HOME, proxies, LD_PRELOAD or GLIBC_TUNABLES).
    std::array<QByteArray, 3> environment;
    char *envp[4] = {nullptr, nullptr, nullptr, nullptr};
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
    // Where the judge's child only joins the judge's user namespace and
    // starts the init as the judge's child (a process tree is new for
    // children only): the init's namespaces and stack, and its pid.
    int initNamespaces = 0;
    void *initStack = nullptr;
    pid_t initPid = 0;
};

// The program's standard streams as the judge opens them, above 2; -1 for
// /dev/null. Files named: regular files only, a pipe or a device named here
// could stall the judge before the program even starts. Descriptors given
// (a peer's pipe) are copied.
class StandardStreams
{
public:
    explicit StandardStreams(const RunRequest &request);
    ~StandardStreams();
    StandardStreams(const StandardStreams &) = delete;
    StandardStreams &operator=(const StandardStreams &) = delete;

    std::array<int, 3> fds{-1, -1, -1};
    int error = 0;  // why one could not be opened

private:
    void open(int stream, const QString &file, int flags);
};

// identity: the run's own user when sandboxed as root; null otherwise.
ChildPlan makePlan(const RunRequest &request, const std::array<int, 3> &streams, bool sandboxed,
                   sandbox::Identity *identity);

struct Started
{
    bool ok = false;
    bool execFailed = false;
    int error = 0;
};

// judgeMutex held. Forks the child, records it in the slot and lets
// it exec; on success run describes the program.
Started startProgram(RunSlot &slot, ChildPlan &plan, Run &run);

} // namespace runner
