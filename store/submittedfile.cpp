#include "submittedfile.h"

#include "dirs.h"

#include <QFile>
#include <QStringList>

#include <cerrno>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

SubmittedFile::Kind kindOf(mode_t mode)
{
    using Kind = SubmittedFile::Kind;
    if (S_ISREG(mode))
        return Kind::Regular;
    if (S_ISLNK(mode))
        return Kind::Link;
    if (S_ISDIR(mode))
        return Kind::Directory;
    if (S_ISFIFO(mode))
        return Kind::Pipe;
    return Kind::Special;
}

void closeFd(int &fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

} // namespace

SubmittedFile::SubmittedFile(const QString &folder, const QString &relative)
{
    open(folder, relative);
}

SubmittedFile::~SubmittedFile()
{
    closeFd(m_fd);
}

SubmittedFile::SubmittedFile(SubmittedFile &&other) noexcept
    : m_fd(std::exchange(other.m_fd, -1)),
      m_kind(other.m_kind),
      m_size(other.m_size),
      m_entry(std::move(other.m_entry))
{
}

SubmittedFile &SubmittedFile::operator=(SubmittedFile &&other) noexcept
{
    if (this != &other) {
        closeFd(m_fd);
        m_fd = std::exchange(other.m_fd, -1);
        m_kind = other.m_kind;
        m_size = other.m_size;
        m_entry = std::move(other.m_entry);
    }
    return *this;
}

void SubmittedFile::open(const QString &folder, const QString &relative)
{
    QStringList steps = relative.split(u'/', Qt::SkipEmptyParts);
    steps.removeAll(u"."_s);
    // The player's folder is followed; nothing below it is.
    int dir = steps.isEmpty() ? -1
                              : ::open(QFile::encodeName(folder).constData(),
                                       O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0)
        return;  // missing
    QString walked;
    for (qsizetype i = 0; i < steps.size(); ++i) {
        const QString &step = steps.at(i);
        walked += (walked.isEmpty() ? QString() : u"/"_s) + step;
        const bool last = i + 1 == steps.size();
        if (step == u"..") {
            m_kind = Kind::Outside;
            break;
        }
        const QByteArray name = QFile::encodeName(step);
        struct stat info;
        if (::fstatat(dir, name.constData(), &info, AT_SYMLINK_NOFOLLOW) != 0)
            break;  // missing
        const Kind kind = kindOf(info.st_mode);
        if (!last) {
            // A regular file on the way names nothing.
            if (kind == Kind::Link)
                m_kind = Kind::Link;
            if (kind != Kind::Directory)
                break;
            const int next = ::openat(dir, name.constData(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            ::close(dir);
            dir = next;
            if (dir < 0)
                break;
            continue;
        }
        m_kind = kind;
        if (kind != Kind::Regular)
            break;
        // A file the judge may not read stays regular, and its copy fails:
        // that is the judge's trouble, not the contestant's. Non-blocking:
        // whatever is swapped in meanwhile, a pipe must not stall the judge;
        // only a regular file is kept.
        m_size = info.st_size;
        m_fd = ::openat(dir, name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (m_fd < 0) {
            if (errno == ELOOP)
                m_kind = Kind::Link;
        } else if (::fstat(m_fd, &info) != 0 || !S_ISREG(info.st_mode)) {
            m_kind = kindOf(info.st_mode);
            closeFd(m_fd);
        } else {
            m_size = info.st_size;
        }
        break;
    }
    closeFd(dir);
    if (m_kind == Kind::Outside)
        m_entry = steps.join(u'/');
    else if (m_kind != Kind::Regular && m_kind != Kind::Missing)
        m_entry = walked;
}

QString SubmittedFile::refusal() const
{
    switch (m_kind) {
    case Kind::Regular:
    case Kind::Missing:
        return QString();
    case Kind::Link:
        return m_entry + u" 是符号链接，不是普通文件"_s;
    case Kind::Directory:
        return m_entry + u" 是目录，不是普通文件"_s;
    case Kind::Pipe:
        return m_entry + u" 是命名管道，不是普通文件"_s;
    case Kind::Special:
        return m_entry + u" 是设备或套接字，不是普通文件"_s;
    case Kind::Outside:
        return m_entry + u" 在选手目录之外，不是选手的文件"_s;
    }
    return QString();
}

bool SubmittedFile::copyTo(const QString &to) const
{
    return m_fd >= 0 && copyWritableFrom(m_fd, to);
}

bool SubmittedFile::read(qint64 limit, QByteArray &bytes) const
{
    bytes.clear();
    if (m_fd < 0)
        return false;
    char buffer[64 * 1024];
    while (bytes.size() < limit) {
        const ssize_t got = ::pread(m_fd, buffer, size_t(qMin<qint64>(sizeof buffer, limit - bytes.size())),
                                    bytes.size());
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return false;
        if (got == 0)
            break;
        bytes.append(buffer, got);
    }
    return true;
}
