#pragma once

// Small file helpers shared by the store tests.

#include "contest.h"
#include "scoreinfo.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>

#include <ftw.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <atomic>
#include <csignal>
#include <ctime>
#include <functional>
#include <memory>
#include <thread>

inline bool writeTestFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

inline QByteArray readTestFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray("<unreadable>");
    return file.readAll();
}

// Every entry below dir, hidden ones included, as sorted relative paths.
inline QStringList treeOf(const QString &dir)
{
    QStringList entries;
    const QDir base(dir);
    const auto filters = QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot;
    QStringList pending{dir};
    while (!pending.isEmpty()) {
        const QString current = pending.takeFirst();
        for (const QFileInfo &info : QDir(current).entryInfoList(filters)) {
            entries.append(base.relativeFilePath(info.filePath()));
            if (info.isDir() && !info.isSymLink())
                pending.append(info.filePath());
        }
    }
    entries.sort();
    return entries;
}

// Empties dir whatever names it holds: QDir, and so QTemporaryDir, cannot
// list a name that is no UTF-8.
inline bool emptyTreeByBytes(const QString &dir)
{
    const auto removeBelow = [](const char *path, const struct stat *, int, FTW *where) {
        return where->level == 0 ? 0 : ::remove(path);
    };
    return ::nftw(QFile::encodeName(dir).constData(), removeBelow, 16, FTW_DEPTH | FTW_PHYS) == 0;
}

inline bool makeFifo(const QString &path)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    return ::mkfifo(QFile::encodeName(path).constData(), 0644) == 0;
}

// Runs read on a thread of its own; true when it returned within 5 s. A
// reader caught waiting on the FIFO for a writer is let go (a writer comes
// and goes), so that the test fails rather than hangs.
inline bool returnsAtOnce(const QString &fifo, const std::function<void()> &read)
{
    std::atomic<bool> done{false};
    std::thread reader([&] {
        read();
        done = true;
    });
    const bool atOnce = QTest::qWaitFor([&] { return done.load(); }, 5000);
    while (!done) {
        const int fd = ::open(QFile::encodeName(fifo).constData(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0)
            ::close(fd);
        QTest::qWait(20);
    }
    reader.join();
    return atOnce;
}

// Sets the last change of path (not followed) age seconds back.
inline bool setAge(const QString &path, int age)
{
    timespec times[2];
    ::clock_gettime(CLOCK_REALTIME, &times[0]);
    times[0].tv_sec -= age;
    times[1] = times[0];
    return ::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, AT_SYMLINK_NOFOLLOW) == 0;
}

// The user ("nobody") the tests that run the judge as an ordinary user take.
constexpr uid_t OrdinaryUser = 65534;

// Gives dir and everything below it to user (and the user's group), links as
// links: for the tests that run the judge as an ordinary user.
inline bool chownTree(const QString &dir, uid_t user)
{
    bool given = ::lchown(QFile::encodeName(dir).constData(), user, user) == 0;
    QDirIterator it(dir, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        given = ::lchown(QFile::encodeName(it.next()).constData(), user, user) == 0 && given;
    return given;
}

// A file name longer than any file system accepts.
inline QString overlongName()
{
    return QString(300, QLatin1Char('n'));
}

// Runs write() under a file size limit of 4 KiB: larger writes then fail the
// way they would on a full disk.
template<typename F> auto withFullDisk(F write)
{
    rlimit saved;
    getrlimit(RLIMIT_FSIZE, &saved);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 4096;
    setrlimit(RLIMIT_FSIZE, &small);
    const auto result = write();
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
    return result;
}

inline char *toString(const ScoreInfo &info)
{
    return QTest::toString(QStringLiteral("(%1, %2, '%3')")
                               .arg(info.score)
                               .arg(info.time)
                               .arg(info.state ? QString(QLatin1Char(info.state)) : QStringLiteral("NUL")));
}

// A contest in a fresh temporary directory; renewContest() from each init().
class ContestFixture
{
protected:
    std::unique_ptr<QTemporaryDir> m_dir;
    Contest m_contest;

    bool renewContest()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_contest = Contest();
        m_contest.rootDir = m_dir->path();
        return m_dir->isValid();
    }
};
