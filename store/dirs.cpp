#include "dirs.h"

#include "fileread.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <set>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

static std::atomic<FileRemover> fileRemover{nullptr};

void setFileRemoverForTesting(FileRemover remover)
{
    fileRemover.store(remover);
}

void ensureDir(const QString &path)
{
    if (!QFileInfo(path).isDir())
        QDir().mkdir(path);
}

void makePath(const QString &path)
{
    QDir().mkpath(path);
}

// Present in any form, a dangling symbolic link included.
static bool entryPresent(const QString &path)
{
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

static bool removeEntry(const QFileInfo &entry)
{
    const QString path = entry.filePath();
    // A link to a directory is removed as a link: following it would empty
    // whatever it points to.
    if (entry.isDir() && !entry.isSymLink()) {
        clearDir(path);
        return QDir().rmdir(path);
    }
    if (const FileRemover remover = fileRemover.load())
        remover(path);
    else
        QFile::remove(path);
    return !entryPresent(path);
}

bool clearDir(const QString &path)
{
    // System also lists dangling links, pipes and sockets a program may leave behind.
    const QFileInfoList entries = QDir(path).entryInfoList(
        QDir::Files | QDir::Dirs | QDir::System | QDir::NoDotAndDotDot,
        QDir::Name | QDir::IgnoreCase);
    constexpr int Attempts = 5;
    for (const QFileInfo &entry : entries) {
        for (int attempt = 1;; ++attempt) {
            if (removeEntry(entry))
                break;
            if (attempt == Attempts)
                return false;
            QThread::msleep(10UL << attempt);
        }
    }
    return true;
}

namespace {

constexpr int DirFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

// Gives a directory's owner back the rights to list, enter and change it:
// a program may leave its folder, or one it made, without them (chmod 000),
// and a judge that is no root could then neither empty nor remove it. The
// name is never followed when it is a link.
void restoreAccess(int parent, const char *name)
{
    struct stat info;
    if (::fstatat(parent, name, &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(info.st_mode)
        && (info.st_mode & S_IRWXU) != S_IRWXU)
        ::fchmodat(parent, name, (info.st_mode & 07777) | S_IRWXU, AT_SYMLINK_NOFOLLOW);
}

// A path for a note: a tree nested thousands deep is shown by its ends.
QString shownPath(const QByteArray &path)
{
    constexpr qsizetype Head = 120;
    constexpr qsizetype Tail = 200;
    if (path.size() <= Head + Tail)
        return QFile::decodeName(path);
    return QFile::decodeName(path.left(Head)) + u'…' + QFile::decodeName(path.right(Tail));
}

// Empties the open directory top (kept) through descriptors, each step
// relative to the directory above: no path grows with the depth, so a tree
// nested beyond the longest path the system accepts goes too. One directory
// is open at a time; links are removed, never followed. An entry that stays
// is passed by, so that everything else still goes; the first one is
// described in failure.
class TreeEmptier
{
public:
    TreeEmptier(const QByteArray &topPath, QString *failure) : m_topPath(topPath), m_failure(failure) {}

    bool empty(int top)
    {
        int fd = ::dup(top);
        if (fd < 0) {
            fail(m_topPath, errno);
            return false;
        }
        m_levels.assign(1, Level());
        while (fd >= 0) {
            QByteArray down;
            if (!removeFilesIn(fd, down)) {
                ::close(fd);
                return false;
            }
            if (!down.isEmpty()) {
                restoreAccess(fd, down.constData());
                const int child = ::openat(fd, down.constData(), DirFlags);
                if (child < 0) {
                    fail(pathOf(down), errno);
                    m_levels.back().stays.insert(down);
                    continue;
                }
                ::close(fd);
                fd = child;
                m_levels.push_back(Level{down, {}});
                continue;
            }
            if (m_levels.size() == 1)
                break;  // back at the top: what could go has gone
            const QByteArray name = m_levels.back().name;
            m_levels.pop_back();
            const int parent = ::openat(fd, "..", DirFlags);
            const int error = errno;
            ::close(fd);
            fd = parent;
            if (fd < 0) {
                fail(pathOf(name), error);
                return false;
            }
            if (::unlinkat(fd, name.constData(), AT_REMOVEDIR) != 0) {
                // Not empty: an entry inside stayed, and was named already.
                fail(pathOf(name), errno);
                m_levels.back().stays.insert(name);
            }
        }
        if (fd >= 0)
            ::close(fd);
        return !m_failed;
    }

private:
    struct Level
    {
        QByteArray name;  // of this directory in the one above; empty for the top
        std::set<QByteArray> stays;  // entries of it that could not be removed
    };

    // Removes every entry of fd but directories, which are left for the
    // caller: the first one still to do comes back in down.
    bool removeFilesIn(int fd, QByteArray &down)
    {
        const int listingFd = ::dup(fd);
        DIR *listing = listingFd < 0 ? nullptr : ::fdopendir(listingFd);
        if (!listing) {
            fail(pathOf(QByteArray()), errno);
            if (listingFd >= 0)
                ::close(listingFd);
            return false;
        }
        ::rewinddir(listing);
        const std::set<QByteArray> &stays = m_levels.back().stays;
        while (const dirent *e = ::readdir(listing)) {
            const QByteArray name(e->d_name);
            if (name == "." || name == ".." || stays.count(name))
                continue;
            struct stat info;
            if (::fstatat(fd, e->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(info.st_mode)) {
                down = name;
                break;
            }
            if (!removeFile(fd, name)) {
                fail(pathOf(name), errno);
                m_levels.back().stays.insert(name);
            }
        }
        ::closedir(listing);
        return true;
    }

    bool removeFile(int fd, const QByteArray &name)
    {
        if (const FileRemover remover = fileRemover.load()) {
            errno = 0;
            return remover(QFile::decodeName(pathOf(name)));
        }
        return ::unlinkat(fd, name.constData(), 0) == 0 || errno == ENOENT;
    }

    QByteArray pathOf(const QByteArray &name) const
    {
        QByteArray path = m_topPath;
        for (size_t i = 1; i < m_levels.size(); ++i)
            path += '/' + m_levels[i].name;
        return name.isEmpty() ? path : path + '/' + name;
    }

    void fail(const QByteArray &path, int error)
    {
        if (!m_failed && m_failure)
            *m_failure = shownPath(path) + u": "_s + fileErrorText(error);
        m_failed = true;
    }

    const QByteArray m_topPath;
    QString *m_failure;
    std::vector<Level> m_levels;
    bool m_failed = false;
};

} // namespace

bool emptyScratchDir(const QString &path, QString *failure)
{
    const QByteArray top = QFile::encodeName(path);
    // The folder itself may have lost its owner's rights: it is the
    // program's current directory. The folder is followed, as every path
    // the judge is given; only what lies inside it is not.
    restoreAccess(AT_FDCWD, top.constData());
    const int fd = top.isEmpty() ? -1 : ::open(top.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        if (failure)
            *failure = shownPath(top) + u": "_s
                       + fileErrorText(top.isEmpty() ? ENOENT : errno);
        return false;
    }
    const bool emptied = TreeEmptier(top, failure).empty(fd);
    ::close(fd);
    return emptied;
}

bool removeDir(const QString &path)
{
    const bool cleared = clearDir(path);
    return QDir().rmdir(path) && cleared;
}

void removeFile(const QString &path)
{
    QFile::remove(path);
}

namespace {

// Closes its descriptor on every way out.
struct Descriptor
{
    int fd;
    explicit Descriptor(int fd) : fd(fd) {}
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    ~Descriptor()
    {
        if (fd >= 0)
            ::close(fd);
    }
    // Closing is the last chance to hear of a failed write.
    bool close()
    {
        const int closing = fd;
        fd = -1;
        return ::close(closing) == 0;
    }
};

bool writeAll(int fd, const char *data, ssize_t size)
{
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size_t(size));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += written;
        size -= written;
    }
    return true;
}

// From the start of in, whatever its offset, to the end.
bool copyContent(int in, int out)
{
    // In the kernel where the file systems allow it.
    off_t offset = 0;
    for (;;) {
        const ssize_t copied = ::copy_file_range(in, &offset, out, nullptr, size_t(1) << 30, 0);
        if (copied > 0 || (copied < 0 && errno == EINTR))
            continue;
        if (copied < 0 && errno != EXDEV && errno != EINVAL && errno != ENOSYS
            && errno != EOPNOTSUPP)
            return false;
        break;
    }
    // The rest by hand: some file systems (/proc, say) report an end that is
    // none, so only a read may say the source is done.
    char buffer[64 * 1024];
    for (;;) {
        const ssize_t got = ::pread(in, buffer, sizeof buffer, offset);
        if (got == 0)
            return true;
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (!writeAll(out, buffer, got))
            return false;
        offset += got;
    }
}

} // namespace

bool copyWritable(const QString &from, const QString &to)
{
    const QByteArray source = QFile::encodeName(from);
    if (source.isEmpty())
        return false;
    // Non-blocking: opening a named pipe must not wait for a writer.
    Descriptor in(::open(source.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    return in.fd >= 0 && copyWritableFrom(in.fd, to);
}

bool copyWritableFrom(int fd, const QString &to)
{
    const QByteArray target = QFile::encodeName(to);
    struct stat sourceStat;
    if (target.isEmpty() || ::fstat(fd, &sourceStat) != 0 || !S_ISREG(sourceStat.st_mode))
        return false;

    // Whatever is at the destination is replaced, a link as a link; the
    // source itself (or a hard link to it) never.
    struct stat targetStat;
    if (::lstat(target.constData(), &targetStat) == 0) {
        if (targetStat.st_dev == sourceStat.st_dev && targetStat.st_ino == sourceStat.st_ino)
            return false;
        if (!S_ISDIR(targetStat.st_mode))
            ::unlink(target.constData());
    }
    Descriptor out(::open(target.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (out.fd < 0)
        return false;
    const mode_t mode = (sourceStat.st_mode & 0777) | S_IWUSR;
    if (copyContent(fd, out.fd) && ::fchmod(out.fd, mode) == 0 && out.close())
        return true;
    ::unlink(target.constData());
    return false;
}

namespace {

// Between a file's name and the random part of its temporary's.
constexpr char TemporaryMark[] = ".qxj-";

} // namespace

bool isAtomicTemporary(const QByteArray &name)
{
    const qsizetype mark = name.lastIndexOf(TemporaryMark);
    if (mark <= 0)
        return false;
    const QByteArray random = name.mid(mark + qsizetype(sizeof TemporaryMark) - 1);
    return !random.isEmpty() && random.size() <= 7
           && std::all_of(random.cbegin(), random.cend(), [](char c) {
                  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z');
              });
}

int removeStaleTemporaries(const QString &dir, int olderThanSeconds)
{
    const QByteArray path = QFile::encodeName(dir);
    const int fd = path.isEmpty() ? -1 : ::open(path.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR *listing = fd < 0 ? nullptr : ::fdopendir(fd);
    if (!listing) {
        if (fd >= 0)
            ::close(fd);
        return 0;
    }
    const time_t before = ::time(nullptr) - olderThanSeconds;
    int removed = 0;
    while (const dirent *e = ::readdir(listing)) {
        struct stat info;
        if (isAtomicTemporary(QByteArray(e->d_name))
            && ::fstatat(fd, e->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(info.st_mode)
            && info.st_mtime < before && ::unlinkat(fd, e->d_name, 0) == 0)
            ++removed;
    }
    ::closedir(listing);
    return removed;
}

bool writeFileAtomically(const QString &path, const QByteArray &bytes)
{
    const QByteArray target = QFile::encodeName(path);
    if (target.isEmpty())
        return false;
    // Not QSaveFile: it resolves a link at the name and replaces the file the
    // link points to. A fresh file beside the name, renamed onto it, replaces
    // whatever entry stands there, a link as a link.
    struct stat old;
    const bool oldFile = ::lstat(target.constData(), &old) == 0 && S_ISREG(old.st_mode);
    QByteArray temporary;
    Descriptor out(-1);
    for (int attempt = 0; out.fd < 0; ++attempt) {
        temporary = target + TemporaryMark
                    + QByteArray::number(QRandomGenerator::global()->generate(), 36);
        // Private until it gets the old file's permissions; a new file gets
        // the usual ones, as the umask has them.
        out.fd = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                        oldFile ? 0600 : 0666);
        if (out.fd < 0 && (errno != EEXIST || attempt == 100))
            return false;
    }
    // A crash after the rename must not leave an empty file in place of a good one.
    const bool written = writeAll(out.fd, bytes.constData(), bytes.size())
                         && (!oldFile || ::fchmod(out.fd, old.st_mode & 07777) == 0)
                         && (::fdatasync(out.fd) == 0 || errno == EINVAL) && out.close();
    if (written && ::rename(temporary.constData(), target.constData()) == 0)
        return true;
    ::unlink(temporary.constData());
    return false;
}

static std::atomic<StorageProbe> storageProbe{nullptr};

void setStorageProbeForTesting(StorageProbe probe)
{
    storageProbe.store(probe);
}

static bool measureStorage(const QString &path, StorageSpace &space)
{
    struct statvfs figures;
    if (::statvfs(QFile::encodeName(path).constData(), &figures) != 0)
        return false;
    // What compilers and programs may use: they run under users of their
    // own, never as root, whatever user the judge runs as.
    space.readOnly = figures.f_flag & ST_RDONLY;
    space.freeBytes = quint64(figures.f_bavail) * figures.f_frsize;
    space.freeFiles = figures.f_favail;
    space.fileCount = figures.f_files;
    return true;
}

StorageState storageState(const QString &path)
{
    StorageSpace space;
    const StorageProbe probe = storageProbe.load();
    if (!(probe ? probe : measureStorage)(path, space))
        return StorageState::Unreachable;
    if (space.readOnly)
        return StorageState::ReadOnly;
    // Some file systems (btrfs, say) count no inodes at all.
    if (space.freeBytes < StorageReserve
        || (space.fileCount > 0 && space.freeFiles < StorageReserveFiles))
        return StorageState::Short;
    return StorageState::Fine;
}
