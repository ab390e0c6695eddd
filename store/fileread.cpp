#include "fileread.h"

#include <QFile>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

QString fileTypeText(unsigned type)
{
    switch (type) {
    case S_IFDIR:
        return u"目录"_s;
    case S_IFIFO:
        return u"命名管道"_s;
    case S_IFSOCK:
        return u"套接字"_s;
    case S_IFCHR:
    case S_IFBLK:
        return u"设备文件"_s;
    default:
        return QString();
    }
}

FileRead failed(int error)
{
    FileRead result;
    result.status = error == ENOENT || error == ENOTDIR ? FileRead::Missing : FileRead::Failed;
    result.error = error;
    return result;
}

FileRead notRegular(unsigned type)
{
    FileRead result;
    result.status = FileRead::NotRegular;
    result.fileType = type;
    return result;
}

}  // namespace

QString fileErrorText(int error)
{
    switch (error) {
    case EACCES:
    case EPERM:
        return u"没有权限"_s;
    case EEXIST:
        return u"已有同名的文件"_s;
    case ENOENT:
        return u"不存在"_s;
    case ENOTDIR:
        return u"路径中有一段不是目录"_s;
    case EISDIR:
        return u"是目录"_s;
    case EROFS:
        return u"文件系统只读"_s;
    case ENOSPC:
    case EDQUOT:
        return u"磁盘空间不足"_s;
    case ENAMETOOLONG:
        return u"名称过长"_s;
    case ELOOP:
        return u"符号链接过多"_s;
    case EIO:
        return u"读写错误"_s;
    default:
        return QString::fromLocal8Bit(std::strerror(error));
    }
}

QString FileRead::reason() const
{
    switch (status) {
    case Read:
        return QString();
    case Missing:
        return u"文件不存在"_s;
    case NotRegular: {
        const QString type = fileTypeText(fileType);
        return type.isEmpty() ? u"不是普通文件"_s : u"不是普通文件（"_s + type + u"）"_s;
    }
    case Failed:
        break;
    }
    return u"无法读取: "_s + fileErrorText(error);
}

FileRead readRegularFile(const QString &path)
{
    const QByteArray name = QFile::encodeName(path);
    if (name.isEmpty())
        return failed(ENOENT);
    // Looked at before it is opened: opening a device can itself do something.
    struct stat info;
    if (::stat(name.constData(), &info) != 0)
        return failed(errno);
    if (!S_ISREG(info.st_mode))
        return notRegular(info.st_mode & S_IFMT);
    // Should it have been swapped for a FIFO since, O_NONBLOCK keeps the open
    // from waiting for a writer, and fstat tells.
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return failed(errno);
    FileRead result;
    if (::fstat(fd, &info) != 0) {
        result = failed(errno);
    } else if (!S_ISREG(info.st_mode)) {
        result = notRegular(info.st_mode & S_IFMT);
    } else {
        result.status = FileRead::Read;
        result.bytes.reserve(qsizetype(info.st_size));
        char buffer[65536];
        for (;;) {
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n > 0) {
                result.bytes.append(buffer, n);
            } else if (n == 0) {
                break;
            } else if (errno != EINTR) {
                result.status = FileRead::Failed;
                result.error = errno;
                result.bytes.clear();
                break;
            }
        }
    }
    ::close(fd);
    return result;
}
