#include "sandbox_linux.h"
#include "rawcalls_linux.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace sandbox {
namespace {

// The host's top-level entries a program needs to start: the loader, the
// libraries and the shells' folders, as links where the host has links.
struct TopEntry
{
    QByteArray name;        // "usr"
    QByteArray linkTarget;  // set when the host's entry is a symbolic link
};

const std::vector<TopEntry> &hostLayout()
{
    static const std::vector<TopEntry> layout = [] {
        std::vector<TopEntry> entries;
        for (const char *name : {"usr", "bin", "sbin", "lib", "lib32", "lib64", "libx32"}) {
            const QByteArray path = QByteArray("/") + name;
            struct stat info;
            if (::lstat(path.constData(), &info) != 0)
                continue;
            if (S_ISLNK(info.st_mode)) {
                char target[4096];
                const ssize_t length = ::readlink(path.constData(), target, sizeof target);
                if (length > 0 && length < static_cast<ssize_t>(sizeof target))
                    entries.push_back({name, QByteArray(target, length)});
            } else if (S_ISDIR(info.st_mode)) {
                entries.push_back({name, {}});
            }
        }
        return entries;
    }();
    return layout;
}

bool hostHasLoaderCache()
{
    static const bool present = ::access("/etc/ld.so.cache", R_OK) == 0;
    return present;
}

// ---- raw system calls: the process building the root shares the judge's memory

using raw::addr;
using raw::mountAt;
using raw::sys;

// Takes no QByteArray by value or from a literal: that would allocate.
int writeWhole(long dir, const char *path, const char *text)
{
    const long fd = sys(SYS_openat, dir, addr(path), O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return errno;
    const long length = static_cast<long>(std::strlen(text));
    const long written = sys(SYS_write, fd, addr(text), length);
    const int error = written == length ? 0 : (written < 0 ? errno : EIO);
    sys(SYS_close, fd);
    return error;
}

} // namespace

int mapJudgeUser(const RootPlan &plan, long procDir) noexcept
{
    const bool own = procDir < 0;
    const long dir = own ? AT_FDCWD : procDir;
    if (int e = writeWhole(dir, own ? "/proc/self/setgroups" : "self/setgroups", "deny"))
        return e;
    if (int e = writeWhole(dir, own ? "/proc/self/uid_map" : "self/uid_map", plan.uidMap.constData()))
        return e;
    return writeWhole(dir, own ? "/proc/self/gid_map" : "self/gid_map", plan.gidMap.constData());
}

namespace {

int makeDir(const char *path, mode_t mode)
{
    if (sys(SYS_mkdirat, AT_FDCWD, addr(path), mode) < 0 && errno != EEXIST)
        return errno;
    return 0;
}

int makeFile(const char *path)
{
    const long fd = sys(SYS_openat, AT_FDCWD, addr(path), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
    if (fd < 0)
        return errno;
    sys(SYS_close, fd);
    return 0;
}

// A read-only bind of a host folder or file: the flags of a bind mount are
// changed by a second call.
int bindReadOnly(const char *source, const char *target)
{
    if (int e = mountAt(source, target, nullptr, MS_BIND | MS_REC, nullptr))
        return e;
    return mountAt(nullptr, target, nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY | MS_NOSUID | MS_NODEV, nullptr);
}

// Paths below are relative to the staging root, the current directory.
int buildRoot(const RootPlan &plan, long workFd)
{
    char path[128];
    char source[128];
    auto join = [](char *out, const char *a, const char *b) {
        size_t n = 0;
        for (const char *p = a; *p && n < 126; ++p)
            out[n++] = *p;
        for (const char *p = b; *p && n < 126; ++p)
            out[n++] = *p;
        out[n] = 0;
        return out;
    };
    for (const TopEntry &entry : hostLayout()) {
        if (!entry.linkTarget.isEmpty()) {
            if (sys(SYS_symlinkat, addr(entry.linkTarget.constData()), AT_FDCWD, addr(entry.name.constData())) < 0)
                return errno;
        } else {
            if (int e = makeDir(entry.name.constData(), 0755))
                return e;
            if (int e = bindReadOnly(join(source, "/", entry.name.constData()), entry.name.constData()))
                return e;
        }
    }
    if (int e = makeDir("etc", 0755))
        return e;
    if (plan.wholeEtc) {
        if (int e = bindReadOnly("/etc", "etc"))
            return e;
    } else if (hostHasLoaderCache()) {
        if (int e = makeFile("etc/ld.so.cache"))
            return e;
        if (int e = bindReadOnly("/etc/ld.so.cache", "etc/ld.so.cache"))
            return e;
    }

    if (int e = makeDir("dev", 0755))
        return e;
    for (const char *device : {"null", "zero", "full", "random", "urandom"}) {
        join(path, "dev/", device);
        if (int e = makeFile(path))
            return e;
        if (int e = mountAt(join(source, "/dev/", device), path, nullptr, MS_BIND, nullptr))
            return e;
    }
    const char *const links[][2] = {{"/proc/self/fd", "dev/fd"},
                                    {"/proc/self/fd/0", "dev/stdin"},
                                    {"/proc/self/fd/1", "dev/stdout"},
                                    {"/proc/self/fd/2", "dev/stderr"}};
    for (const auto &link : links) {
        if (sys(SYS_symlinkat, addr(link[0]), AT_FDCWD, addr(link[1])) < 0)
            return errno;
    }
    for (const char *scratch : {"dev/shm", "tmp"}) {
        if (int e = makeDir(scratch, 01777))
            return e;
        if (!plan.scratchMounts)
            continue;
        if (int e = mountAt("qxj", scratch, "tmpfs", MS_NOSUID | MS_NODEV, plan.tmpfsOptions.constData()))
            return e;
    }
    if (int e = makeDir("proc", 0555))
        return e;
    if (plan.mountProc && (plan.scratchMounts || plan.coveredProc)) {
        if (int e = mountAt("proc", "proc", "proc", MS_NOSUID | MS_NODEV | MS_NOEXEC, nullptr))
            return e;
    }

    if (int e = makeDir("box", 0755))
        return e;
    // The work folder may lie below the staging point: it was opened first.
    char workPath[32] = "/proc/self/fd/";
    {
        char digits[12];
        int n = 0;
        for (long v = workFd; n == 0 || v > 0; v /= 10)
            digits[n++] = static_cast<char>('0' + v % 10);
        size_t at = std::strlen(workPath);
        while (n > 0)
            workPath[at++] = digits[--n];
        workPath[at] = 0;
    }
    if (int e = mountAt(workPath, "box", nullptr, MS_BIND, nullptr))
        return e;
    return mountAt(nullptr, "box", nullptr, MS_REMOUNT | MS_BIND | MS_NOSUID | MS_NODEV, nullptr);
}

} // namespace

RootPlan makeRootPlan(const QString &workDir, bool forCompiler, double scratchMegabytes)
{
    RootPlan plan;
    plan.workDir = QFile::encodeName(workDir);
    plan.wholeEtc = forCompiler;
    plan.mountProc = !forCompiler;  // a compiler has no process tree of its own to show
    const double megabytes = std::isfinite(scratchMegabytes) ? std::clamp(scratchMegabytes, 16.0, 1.0e6) : 1.0e6;
    plan.scratchBytes = static_cast<unsigned long long>(megabytes * 1024 * 1024);
    plan.tmpfsOptions = "size=" + QByteArray::number(plan.scratchBytes) + ",nr_inodes=4096,mode=1777";
    plan.mapOwnUser = ::geteuid() != 0;
    if (plan.mapOwnUser) {
        plan.uidMap = QByteArray::number(::geteuid()) + ' ' + QByteArray::number(::geteuid()) + " 1\n";
        plan.gidMap = QByteArray::number(::getegid()) + ' ' + QByteArray::number(::getegid()) + " 1\n";
    }
    // Read now: the process building the root must not allocate.
    hostLayout();
    hostHasLoaderCache();
    return plan;
}

int namespaceFlags(bool withProcessTree, bool newNetwork)
{
    int flags = CLONE_NEWNS | CLONE_NEWIPC | (newNetwork ? CLONE_NEWNET : 0);
    if (::geteuid() != 0)
        flags |= CLONE_NEWUSER;
    if (withProcessTree)
        flags |= CLONE_NEWPID;
    return flags;
}

namespace {

// The run's own scratch folders, /proc (withProc) and box over a copy of a
// prebuilt root.
int mountRunParts(const RootPlan &plan, int *workFolder, bool withProc) noexcept
{
    for (const char *scratch : {"/dev/shm", "/tmp"}) {
        if (int e = mountAt("qxj", scratch, "tmpfs", MS_NOSUID | MS_NODEV, plan.tmpfsOptions.constData()))
            return e;
    }
    if (withProc && plan.mountProc) {
        if (int e = mountAt("proc", "/proc", "proc", MS_NOSUID | MS_NODEV | MS_NOEXEC, nullptr))
            return e;
    }
    if (int e = mountBox(plan, workFolder))
        return e;
    return sys(SYS_chdir, addr("/box")) < 0 ? errno : 0;
}

// A copy of the prebuilt root, with the run's own scratch folders and /proc.
int enterPrebuiltRoot(const RootPlan &plan, int *workFolder) noexcept
{
    if (sys(SYS_setns, plan.prebuiltRoot, CLONE_NEWNS) < 0 || sys(SYS_unshare, CLONE_NEWNS) < 0)
        return errno;
    return mountRunParts(plan, workFolder, true);
}

// In the run's own user namespace, below the judge's, with a copy of the
// prebuilt root its parent joined. The run's /proc comes first: the run's
// user is mapped through it, before anything is made that needs one.
int enterCopiedRoot(const RootPlan &plan, int *workFolder) noexcept
{
    if (plan.mountProc) {
        if (int e = mountAt("proc", "/proc", "proc", MS_NOSUID | MS_NODEV | MS_NOEXEC, nullptr))
            return e;
    }
    if (int e = mapJudgeUser(plan, plan.mountProc ? -1 : plan.hostProc))
        return e;
    return mountRunParts(plan, workFolder, false);
}

} // namespace

int joinJudgeNamespaces(const RootPlan &plan) noexcept
{
    if (sys(SYS_setns, plan.judgeUsers, CLONE_NEWUSER) < 0 || sys(SYS_setns, plan.network, CLONE_NEWNET) < 0
        || sys(SYS_setns, plan.prebuiltRoot, CLONE_NEWNS) < 0)
        return errno;
    return 0;
}

int enterRoot(const RootPlan &plan, int *workFolder) noexcept
{
    if (plan.judgeUsers >= 0)
        return enterCopiedRoot(plan, workFolder);
    if (plan.network >= 0 && sys(SYS_setns, plan.network, CLONE_NEWNET) < 0)
        return errno;
    if (plan.prebuiltRoot >= 0)
        return enterPrebuiltRoot(plan, workFolder);
    if (plan.mapOwnUser) {
        if (int e = mapJudgeUser(plan))
            return e;
    }
    const long workFd = sys(SYS_openat, AT_FDCWD, addr(plan.workDir.constData()), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (workFd < 0)
        return errno;
    // Nothing mounted here reaches the judge's view.
    if (int e = mountAt(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr))
        return e;
    if (int e = mountAt("qxj", "/tmp", "tmpfs", MS_NOSUID | MS_NODEV, "size=1m,nr_inodes=256,mode=755"))
        return e;
    if (sys(SYS_chdir, addr("/tmp")) < 0)
        return errno;
    if (int e = buildRoot(plan, workFd))
        return e;
    sys(SYS_close, workFd);
    if (sys(SYS_pivot_root, addr("."), addr(".")) < 0)
        return errno;
    if (sys(SYS_umount2, addr("."), MNT_DETACH) < 0)
        return errno;
    if (sys(SYS_chdir, addr("/")) < 0)
        return errno;
    if (int e = mountAt(nullptr, "/", nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY | MS_NOSUID | MS_NODEV, nullptr))
        return e;
    if (int e = mountBox(plan, workFolder))
        return e;
    return sys(SYS_chdir, addr("/box")) < 0 ? errno : 0;
}

void handOver(const QByteArray &workDir, uid_t owner, gid_t group)
{
    const int dir = ::open(workDir.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0)
        return;  // the run reports it
    ::fchown(dir, owner, group);
    if (DIR *listing = ::fdopendir(::dup(dir))) {
        while (const dirent *e = ::readdir(listing)) {
            if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
                ::fchownat(dir, e->d_name, owner, group, AT_SYMLINK_NOFOLLOW);
        }
        ::closedir(listing);
    }
    ::close(dir);
}

// ---- the probe ------------------------------------------------------------

namespace {

struct Probe
{
    RootPlan plan;
    uid_t uid = 0;
    int error = 0;
    const char *step = "";
};

int probeChild(void *argument)
{
    Probe &probe = *static_cast<Probe *>(argument);
    if (int e = enterRoot(probe.plan)) {
        probe.error = e;
        probe.step = "root";
        return 1;
    }
    if (probe.uid != 0
        && (sys(SYS_setgroups, 0, 0) < 0 || sys(SYS_setresgid, probe.uid, probe.uid, probe.uid) < 0
            || sys(SYS_setresuid, probe.uid, probe.uid, probe.uid) < 0)) {
        probe.error = errno;
        probe.step = "user";
        return 1;
    }
    return 0;
}

QString probe()
{
    QTemporaryDir dir;
    if (!dir.isValid())
        return QStringLiteral("无法建立临时目录");
    Probe probe;
    probe.plan = makeRootPlan(dir.path(), false, 16);
    Identity identity;
    if (::geteuid() == 0) {
        if (!identity.valid())
            return QStringLiteral("没有空闲的用户编号");
        probe.uid = identity.uid();
        probe.plan.network = identity.network();
    }
    planBox(probe.plan, 1 << 20, probe.uid ? probe.uid : ::geteuid(), probe.uid ? probe.uid : ::getegid());
    constexpr size_t stackSize = 256 * 1024;
    void *stack = ::mmap(nullptr, stackSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
    if (stack == MAP_FAILED)
        return QString::fromLocal8Bit(std::strerror(errno));
    const pid_t pid = ::clone(probeChild, static_cast<char *>(stack) + stackSize,
                              CLONE_VM | SIGCHLD | namespaceFlags(true, probe.plan.network < 0), &probe);
    const int cloneError = errno;
    int status = 0;
    if (pid > 0) {
        while (::waitpid(pid, &status, __WALL) < 0 && errno == EINTR) {
        }
    }
    ::munmap(stack, stackSize);
    if (pid < 0)
        return QStringLiteral("无法建立命名空间 (%1)").arg(QString::fromLocal8Bit(std::strerror(cloneError)));
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0)
        return {};
    if (probe.error == 0)
        return QStringLiteral("测试进程异常结束");
    const QString reason = QString::fromLocal8Bit(std::strerror(probe.error));
    return std::strcmp(probe.step, "user") == 0 ? QStringLiteral("无法切换用户 (%1)").arg(reason)
                                                 : QStringLiteral("无法建立独立的文件系统视图 (%1)").arg(reason);
}

} // namespace

QString unavailableReason()
{
    static const QString reason = probe();
    return reason;
}

} // namespace sandbox
