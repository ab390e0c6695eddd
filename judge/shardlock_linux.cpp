#include "shardlock.h"

#include "hostinfo.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

ShardLock::~ShardLock()
{
    release();
}

bool ShardLock::acquire(const QString &path, QString &holder)
{
    release();
    holder.clear();
    const QByteArray name = QFile::encodeName(path);
    // A run that ends removes the file, and its tmp/ with it when empty: the
    // file taken must still be the one at the path once it is locked.
    for (int attempt = 0; attempt < 20; ++attempt) {
        QDir().mkpath(QFileInfo(path).path());
        const int fd = ::open(name.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
        if (fd < 0) {
            if (errno == ENOENT)
                continue;
            return false;
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            char text[256];
            const ssize_t got = ::pread(fd, text, sizeof text, 0);
            holder = QString::fromUtf8(text, got > 0 ? got : 0).trimmed();
            ::close(fd);
            if (holder.isEmpty())
                holder = QStringLiteral("?");
            return false;
        }
        struct stat locked;
        struct stat named;
        if (::fstat(fd, &locked) != 0 || ::stat(name.constData(), &named) != 0
            || locked.st_dev != named.st_dev || locked.st_ino != named.st_ino) {
            ::close(fd);
            continue;
        }
        const QByteArray owner =
            (hostName() + u' ' + QString::number(QCoreApplication::applicationPid())).toUtf8() + '\n';
        if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, owner.constData(), size_t(owner.size()), 0) < 0) {
            ::close(fd);
            return false;
        }
        m_fd = fd;
        m_path = path;
        return true;
    }
    return false;
}

void ShardLock::release()
{
    if (m_fd < 0)
        return;
    // Removed while still held, so that no other run can lock it meanwhile
    // and then find it gone.
    ::unlink(QFile::encodeName(m_path).constData());
    ::close(m_fd);
    m_fd = -1;
    m_path.clear();
}
