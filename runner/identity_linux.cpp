#include "sandbox_linux.h"
#include "rawcalls_linux.h"

#include <QByteArray>
#include <QDir>
#include <QFile>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <pwd.h>
#include <sched.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

// Users, network namespaces and roots kept from run to run.

namespace sandbox {

using raw::addr;
using raw::sys;

namespace {

constexpr uid_t firstReservedId = 60100;
constexpr uid_t reservedIds = 900;

struct Claimed
{
    uid_t uid;
    int network;
    int root;
    int rootFolder;
};

struct IdentityPool
{
    std::mutex mutex;
    std::vector<Claimed> free;
    uid_t nextCandidate = firstReservedId;
};

IdentityPool &pool()
{
    static IdentityPool instance;
    return instance;
}

// Held for the life of the process: the name goes with it.
bool claimSystemWide(uid_t id)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray name = "qxj-sandbox-uid-" + QByteArray::number(id);
    std::memcpy(address.sun_path + 1, name.constData(), static_cast<size_t>(name.size()));
    const socklen_t length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
    if (::bind(fd, reinterpret_cast<const sockaddr *>(&address), length) != 0) {
        ::close(fd);
        return false;
    }
    return true;
}

// Made on a thread of its own, whose namespaces alone change.
int emptyNetwork()
{
    int fd = -1;
    std::thread([&fd] {
        if (::unshare(CLONE_NEWNET) == 0)
            fd = ::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
    }).join();
    return fd;
}

// Calls work (raw system calls only, returning 0 or an errno) in a child
// process that shares this one's memory and descriptors, on the stack
// [stack, stack + stackBytes), and waits for it: a thread cannot join a user
// namespace.
template<typename Work>
int inChildProcess(Work &work, char *stack, size_t stackBytes, int flags) noexcept
{
    struct Call
    {
        Work *work;
        int result = ECHILD;
    } call{&work};
    const auto entry = [](void *argument) -> int {
        Call &c = *static_cast<Call *>(argument);
        c.result = (*c.work)();
        return 0;
    };
    const long pid = ::clone(entry, stack + stackBytes, CLONE_VM | CLONE_FILES | CLONE_VFORK | SIGCHLD | flags, &call);
    if (pid < 0)
        return errno;
    while (sys(SYS_wait4, pid, 0, __WALL, 0) < 0 && errno == EINTR) {
    }
    return call.result;
}

// As inChildProcess, from one of the judge's threads, every signal blocked.
// work(spare, spareBytes) gets a stack for a child of its own. *made, a
// descriptor the child opened, is closed again where it failed.
template<typename Work>
int inHelperProcess(Work work, int flags, int *made)
{
    constexpr size_t half = 64 * 1024;
    void *stack = ::mmap(nullptr, 2 * half, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
    if (stack == MAP_FAILED)
        return errno;
    char *spare = static_cast<char *>(stack);
    auto call = [&work, spare] { return work(spare, half); };
    sigset_t all, previous;
    ::sigfillset(&all);
    ::pthread_sigmask(SIG_SETMASK, &all, &previous);
    const int result = inChildProcess(call, spare + half, half, flags);
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    ::munmap(stack, 2 * half);
    if (result != 0 && *made >= 0) {
        ::close(*made);
        *made = -1;
    }
    return result;
}

std::atomic<bool> judgeUsersRefused{false};

// A namespace of the calling process, opened into the descriptors it shares
// with the judge.
int openOwn(const char *name, int *fd) noexcept
{
    const long opened = sys(SYS_openat, AT_FDCWD, addr(name), O_RDONLY | O_CLOEXEC);
    if (opened < 0)
        return errno;
    *fd = static_cast<int>(opened);
    return 0;
}

// An empty network namespace owned by the judge's user namespace.
int networkInJudgeUsers()
{
    const int users = judgeUserNamespace();
    int made = -1;
    if (users < 0)
        return -1;
    inHelperProcess(
        [users, &made](char *, size_t) -> int {
            if (sys(SYS_setns, users, CLONE_NEWUSER) < 0 || sys(SYS_unshare, CLONE_NEWNET) < 0)
                return errno;
            return openOwn("/proc/self/ns/net", &made);
        },
        0, &made);
    return made;
}

bool namedUser(uid_t id)
{
    passwd entry{};
    passwd *found = nullptr;
    char buffer[1024];
    return ::getpwuid_r(id, &entry, buffer, sizeof buffer, &found) == 0 && found;
}

} // namespace

int judgeUserNamespace()
{
    static const int users = [] {
        if (::geteuid() == 0)
            return -1;
        // The same map a run's user namespace gets.
        const RootPlan plan = makeRootPlan(QDir::rootPath(), false, 16);
        int made = -1;
        inHelperProcess(
            [&plan, &made](char *, size_t) -> int {
                if (int e = mapJudgeUser(plan))
                    return e;
                return openOwn("/proc/self/ns/user", &made);
            },
            CLONE_NEWUSER, &made);
        return made;
    }();
    return judgeUsersRefused ? -1 : users;
}

void refuseJudgeUserNamespace()
{
    judgeUsersRefused = true;
}

Identity::Identity()
{
    const bool asRoot = ::geteuid() == 0;
    if (!asRoot && judgeUserNamespace() < 0)
        return;
    IdentityPool &ids = pool();
    std::lock_guard lock(ids.mutex);
    if (!ids.free.empty()) {
        const Claimed &claimed = ids.free.back();
        id = claimed.uid;
        net = claimed.network;
        root = claimed.root;
        rootFolder = claimed.rootFolder;
        ids.free.pop_back();
        return;
    }
    if (!asRoot) {
        net = networkInJudgeUsers();
        return;
    }
    while (ids.nextCandidate < firstReservedId + reservedIds) {
        const uid_t candidate = ids.nextCandidate++;
        if (!namedUser(candidate) && claimSystemWide(candidate)) {
            id = candidate;
            net = emptyNetwork();
            return;
        }
    }
}

namespace {

// A mount namespace with the root of a run in plan's work folder built, and
// that folder held open: a new folder may get the number of a removed one.
struct PrebuiltRoot
{
    int root = -1;
    int folder = -1;

    bool holds(const struct stat &workDir) const
    {
        struct stat bound;
        return root >= 0 && ::fstat(folder, &bound) == 0 && bound.st_nlink > 0 && workDir.st_dev == bound.st_dev
               && workDir.st_ino == bound.st_ino;
    }
    bool gone() const
    {
        struct stat bound;
        return ::fstat(folder, &bound) != 0 || bound.st_nlink == 0;
    }
    void release()
    {
        for (int *fd : {&root, &folder}) {
            if (*fd >= 0)
                ::close(*fd);
            *fd = -1;
        }
    }
};

// Built by a child of a child of the judge, in the judge's user namespace:
// the first of a process tree of its own, whose /proc of no process the
// prebuilt root keeps.
PrebuiltRoot prebuildInJudgeUsers(const RootPlan &build)
{
    PrebuiltRoot made;
    const int users = judgeUserNamespace();
    if (users < 0)
        return made;
    inHelperProcess(
        [users, &build, &made](char *spare, size_t spareBytes) -> int {
            if (sys(SYS_setns, users, CLONE_NEWUSER) < 0)
                return errno;
            auto builder = [&build, &made]() -> int {
                if (sys(SYS_unshare, CLONE_NEWNS) < 0)
                    return errno;
                if (int e = openOwn("/proc/self/ns/mnt", &made.root))
                    return e;
                return enterRoot(build);
            };
            return inChildProcess(builder, spare, spareBytes, CLONE_NEWPID);
        },
        0, &made.root);
    if (made.root >= 0)
        made.folder = ::open(build.workDir.constData(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (made.folder < 0)
        made.release();
    return made;
}

PrebuiltRoot prebuild(const RootPlan &plan)
{
    RootPlan build = plan;
    build.scratchMounts = false;
    build.network = -1;
    build.prebuiltRoot = -1;
    build.judgeUsers = -1;
    build.mapOwnUser = false;
    build.boxBytes = 0;  // each run covers the folder with a copy of its own
    if (::geteuid() != 0) {
        build.coveredProc = plan.mountProc;
        return prebuildInJudgeUsers(build);
    }
    PrebuiltRoot made;
    // Built on a thread of its own, whose root alone changes.
    std::thread([&build, &made] {
        if (::unshare(CLONE_FS | CLONE_NEWNS) != 0)
            return;
        // Named while /proc is still in sight.
        made.root = ::open("/proc/thread-self/ns/mnt", O_RDONLY | O_CLOEXEC);
        if (made.root >= 0 && enterRoot(build) != 0)
            made.release();
    }).join();
    if (made.root >= 0)
        made.folder = ::open(plan.workDir.constData(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (made.folder < 0)
        made.release();
    return made;
}

} // namespace

int Identity::prebuiltRoot(const RootPlan &plan)
{
    if (!id && !inJudgeUsers())
        return -1;
    struct stat folder;
    if (::stat(plan.workDir.constData(), &folder) != 0)
        return -1;
    PrebuiltRoot kept{root, rootFolder};
    if (kept.holds(folder))
        return root;
    kept.release();
    kept = prebuild(plan);
    root = kept.root;
    rootFolder = kept.folder;
    return root;
}

int sharedPrebuiltRoot(const RootPlan &plan)
{
    if (::geteuid() != 0 && judgeUserNamespace() < 0)
        return -1;
    struct stat folder;
    if (::stat(plan.workDir.constData(), &folder) != 0)
        return -1;
    static std::mutex mutex;
    static std::vector<PrebuiltRoot> roots;
    // A slot's organiser's folders outlive each start, not each cell.
    constexpr size_t kept = 16;
    {
        std::lock_guard lock(mutex);
        std::erase_if(roots, [](PrebuiltRoot &r) {
            if (!r.gone())
                return false;
            r.release();
            return true;
        });
        for (const PrebuiltRoot &r : roots) {
            if (r.holds(folder))
                return ::fcntl(r.root, F_DUPFD_CLOEXEC, 0);
        }
    }
    PrebuiltRoot made = prebuild(plan);
    if (made.root < 0)
        return -1;
    const int own = ::fcntl(made.root, F_DUPFD_CLOEXEC, 0);
    std::lock_guard lock(mutex);
    if (roots.size() >= kept) {
        roots.front().release();
        roots.erase(roots.begin());
    }
    roots.push_back(made);
    return own;
}

Identity::~Identity()
{
    if (!id && net < 0)
        return;
    IdentityPool &ids = pool();
    std::lock_guard lock(ids.mutex);
    ids.free.push_back({id, net, root, rootFolder});
}

} // namespace sandbox
