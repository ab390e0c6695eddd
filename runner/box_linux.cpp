// The program's own bounded work folder: a tmpfs over /box in which the
// judge's files are bound read-only, and the results copied back after.

#include "rawcalls_linux.h"
#include "sandbox_linux.h"

#include <algorithm>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>

namespace sandbox {

using raw::addr;
using raw::mountAt;
using raw::sys;

namespace {

struct DirEntry64
{
    unsigned long long ino;
    long long off;
    unsigned short reclen;
    unsigned char type;
    char name[1];
};

bool isDotName(const char *name)
{
    return name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0));
}

bool sameName(const char *a, const char *b)
{
    while (*a && *a == *b) {
        ++a;
        ++b;
    }
    return *a == *b;
}

// Calls visit(name) for every entry of the folder open as dir but . and ..;
// stops at the first non-zero result and returns it.
template<typename Visit>
int forEachEntry(long dir, Visit visit)
{
    alignas(8) char buffer[4096];
    if (sys(SYS_lseek, dir, 0, SEEK_SET) < 0)
        return errno;
    for (;;) {
        const long length = sys(SYS_getdents64, dir, addr(buffer), sizeof buffer);
        if (length < 0)
            return errno;
        if (length == 0)
            return 0;
        for (long at = 0; at < length;) {
            const auto *entry = reinterpret_cast<const DirEntry64 *>(buffer + at);
            at += entry->reclen;
            if (isDotName(entry->name))
                continue;
            if (int e = visit(entry->name))
                return e;
        }
    }
}

// The regular file name of dir, opened to read without following a link or
// waiting on a FIFO; -1 (errno set) otherwise, ENOENT for what is not a file.
long openRegular(long dir, const char *name, struct stat &info)
{
    const long fd = sys(SYS_openat, dir, addr(name), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    if (sys(SYS_fstat, fd, addr(&info)) < 0 || !S_ISREG(info.st_mode)) {
        sys(SYS_close, fd);
        errno = ENOENT;
        return -1;
    }
    return fd;
}

int copyContents(long from, long to, unsigned long long size)
{
    for (unsigned long long done = 0; done < size;) {
        const long sent = sys(SYS_sendfile, to, from, 0, static_cast<long>(std::min(size - done, 1ULL << 30)));
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent < 0)
            return errno;
        if (sent == 0)
            break;  // it shrank meanwhile
        done += static_cast<unsigned long long>(sent);
    }
    return 0;
}

// Back to the judge's work folder. onlyChanged: a file the judge already has,
// as it was copied in, stays as it is.
void copyBack(long box, long host, const char *name, bool onlyChanged)
{
    struct stat info;
    const long from = openRegular(box, name, info);
    if (from < 0) {
        // Not made, or not a file: no result.
        if (!onlyChanged)
            sys(SYS_unlinkat, host, addr(name), 0);
        return;
    }
    struct stat there;
    if (onlyChanged && sys(SYS_newfstatat, host, addr(name), addr(&there), AT_SYMLINK_NOFOLLOW) == 0
        && S_ISREG(there.st_mode) && there.st_size == info.st_size && there.st_mtim.tv_sec == info.st_mtim.tv_sec
        && there.st_mtim.tv_nsec == info.st_mtim.tv_nsec) {
        sys(SYS_close, from);
        return;
    }
    const long to = sys(SYS_openat, host, addr(name), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC,
                        static_cast<long>(info.st_mode & 0755));
    if (to >= 0) {
        copyContents(from, to, static_cast<unsigned long long>(info.st_size));
        sys(SYS_close, to);
    }
    sys(SYS_close, from);
}

// A file the judge put in the work folder (the program, its input), bound
// read-only: its pages are then the page cache's, not memory of the run's,
// and nothing is copied. Anything but a regular file is left out.
int bindFile(long host, long box, const char *name)
{
    const long file = sys(SYS_openat, host, addr(name), O_PATH | O_NOFOLLOW | O_CLOEXEC);
    if (file < 0)
        return 0;
    struct stat info;
    if (sys(SYS_fstat, file, addr(&info)) < 0 || !S_ISREG(info.st_mode)) {
        sys(SYS_close, file);
        return 0;
    }
    const long made = sys(SYS_openat, box, addr(name), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0755);
    int error = made < 0 ? errno : 0;
    if (made >= 0)
        sys(SYS_close, made);
    char source[32] = "/proc/self/fd/";
    char target[300] = "/box/";
    size_t at = std::strlen(source);
    char digits[12];
    int n = 0;
    for (long v = file; n == 0 || v > 0; v /= 10)
        digits[n++] = static_cast<char>('0' + v % 10);
    while (n > 0)
        source[at++] = digits[--n];
    source[at] = 0;
    at = std::strlen(target);
    for (const char *p = name; *p && at < sizeof target - 1; ++p)
        target[at++] = *p;
    target[at] = 0;
    if (!error)
        error = mountAt(source, target, nullptr, MS_BIND, nullptr);
    if (!error)
        error = mountAt(nullptr, target, nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY | MS_NOSUID | MS_NODEV, nullptr);
    sys(SYS_close, file);
    return error;
}

} // namespace

int mountBox(const RootPlan &plan, int *workFolder) noexcept
{
    if (plan.boxBytes == 0)
        return 0;
    const long host = sys(SYS_openat, AT_FDCWD, addr("/box"), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (host < 0)
        return errno;
    int error = mountAt("qxj", "/box", "tmpfs", MS_NOSUID | MS_NODEV, plan.boxOptions.constData());
    const long box = error ? -1 : sys(SYS_openat, AT_FDCWD, addr("/box"), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (!error && box < 0)
        error = errno;
    if (!error) {
        error = forEachEntry(host, [&](const char *name) {
            return sameName(name, plan.streamName.constData()) ? 0 : bindFile(host, box, name);
        });
    }
    if (box >= 0)
        sys(SYS_close, box);
    if (error || !workFolder)
        sys(SYS_close, host);
    else
        *workFolder = static_cast<int>(host);
    return error;
}

void planBox(RootPlan &plan, unsigned long long outputBytes, uid_t owner, gid_t group)
{
    // A name for each file the judge put there, and room for what it writes.
    unsigned long long files = 0;
    if (DIR *dir = ::opendir(plan.workDir.constData())) {
        while (const dirent *entry = ::readdir(dir)) {
            struct stat info;
            if (isDotName(entry->d_name) || sameName(entry->d_name, plan.streamName.constData())
                || ::fstatat(::dirfd(dir), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(info.st_mode))
                continue;
            ++files;
        }
        ::closedir(dir);
    }
    plan.boxBytes = std::min(outputBytes, 1ULL << 50) + (1ULL << 20);
    plan.boxOptions = "size=" + QByteArray::number(plan.boxBytes) + ",nr_inodes=" + QByteArray::number(files + 1024)
        + ",mode=0755,uid=" + QByteArray::number(owner) + ",gid=" + QByteArray::number(group);
}

void returnResults(const RootPlan &plan, int workFolder) noexcept
{
    const long box = sys(SYS_openat, AT_FDCWD, addr("/box"), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (box < 0)
        return;
    if (plan.allResults) {
        forEachEntry(box, [&](const char *name) {
            if (!sameName(name, plan.streamName.constData()))
                copyBack(box, workFolder, name, true);
            return 0;
        });
    } else {
        for (const QByteArray &name : plan.results) {
            if (!sameName(name.constData(), plan.streamName.constData()))
                copyBack(box, workFolder, name.constData(), false);
        }
    }
    sys(SYS_close, box);
}

} // namespace sandbox
