#include "testlibchecker.h"

#include "dirs.h"
#include "scoreinfo.h"
#include "testcore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>

#include <cerrno>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

QString withMessage(const QString &what, const QString &message)
{
    return message.isEmpty() ? what : what + u": "_s + message;
}

} // namespace

void parseTestlibVerdict(int exitCode, const QString &message, QString &note, char &state, double &ratio,
                         const QString &what)
{
    const QString program = what.isEmpty() ? u"校验器"_s : what;
    ratio = 0.0;
    switch (exitCode) {
    case 0:
        state = PointState::Accepted;
        ratio = 1.0;
        note = message.isEmpty() ? (note.isEmpty() ? u"答案正确"_s : note)
                                 : (note.isEmpty() ? message : message + u' ' + note);
        return;
    case 1:
    case 8:
        state = PointState::Wrong;
        note = message.isEmpty() ? u"答案错误"_s : message;
        return;
    case 2:
    case 4:
        state = PointState::Wrong;
        note = withMessage(u"格式错误"_s, message);
        return;
    case 3:
        state = PointState::CheckerError;
        note = withMessage(program + u"失败"_s, message);
        return;
    case 7: {
        // "0.5 ..." or, as testlib may write it, "points 0.5 ...".
        static const QRegularExpression number(u"^(?:points\\s+)?([0-9]+(?:\\.[0-9]*)?|\\.[0-9]+)(?:\\s+(.*))?$"_s,
                                               QRegularExpression::CaseInsensitiveOption);
        const QRegularExpressionMatch match = number.match(message);
        if (!match.hasMatch()) {
            state = PointState::CheckerError;
            note = withMessage(program + u"输出格式错误"_s, message);
            return;
        }
        ratio = match.captured(1).toDouble();
        if (ratio >= TooLargeRatio) {
            state = PointState::CheckerError;
            note = program + u"输出错误: 分数 = "_s + QString::number(ratio, 'f', 3) + u" > 1.000"_s;
            ratio = 0.0;
            return;
        }
        const QString rest = match.captured(2).trimmed();
        // Judged as a verdict file's bare ratio is.
        if (ratio >= AcceptedRatio) {
            state = PointState::Accepted;
            note = rest.isEmpty() ? (note.isEmpty() ? u"答案正确"_s : note) : rest + u' ' + note;
        } else if (ratio <= FailedRatio) {
            state = PointState::Wrong;
            note = rest.isEmpty() ? u"答案错误"_s : rest;
        } else {
            state = PointState::Partial;
            note = rest.isEmpty() ? u"部分正确"_s : rest;
        }
        note = note.trimmed();
        return;
    }
    default:
        state = PointState::CheckerError;
        note = withMessage(program + u"退出码 %1"_s.arg(exitCode), message);
        return;
    }
}

namespace {

struct CppCompiler
{
    QString identity;
    QString standard;
};

QString ask(const QStringList &arguments, bool *succeeded = nullptr)
{
    QProcess probe;
    probe.setStandardInputFile(QProcess::nullDevice());
    probe.setStandardErrorFile(QProcess::nullDevice());
    probe.start(u"g++"_s, arguments);
    const bool finished = probe.waitForFinished(30000);
    if (!finished) {
        probe.kill();
        probe.waitForFinished();
    }
    if (succeeded)
        *succeeded = finished && probe.exitStatus() == QProcess::NormalExit && probe.exitCode() == 0;
    return QString::fromLocal8Bit(probe.readAllStandardOutput()).section(u'\n', 0, 0).trimmed();
}

const CppCompiler &cppCompiler()
{
    static const CppCompiler found = [] {
        CppCompiler compiler;
        compiler.identity = ask({u"--version"_s}) + u' ' + ask({u"-dumpmachine"_s});
        for (const QString &standard : {u"c++26"_s, u"c++23"_s, u"c++2b"_s, u"c++20"_s, u"c++17"_s, u"c++14"_s}) {
            bool accepted = false;
            ask({u"-std="_s + standard, u"-fsyntax-only"_s, u"-x"_s, u"c++"_s, u"/dev/null"_s}, &accepted);
            if (accepted) {
                compiler.standard = standard;
                break;
            }
        }
        return compiler;
    }();
    return found;
}

} // namespace

namespace {
constexpr qint64 MessageBytes = 64 * 1024;
constexpr qsizetype MessageCap = 1000;
} // namespace

QString testlibResultMessage(const QString &path)
{
    // Never through a link the program left: the judge would read its target
    // with its own rights.
    const QFileInfo info(path);
    QFile file(path);
    if (info.isSymLink() || !info.isFile() || !file.open(QIODevice::ReadOnly))
        return QString();
    const QByteArray line = file.readLine(MessageBytes).trimmed();
    QStringDecoder utf8(QStringDecoder::Utf8);
    QString text = utf8.decode(line);
    if (utf8.hasError()) {
        QStringDecoder gb("GB18030");
        if (gb.isValid())
            text = gb.decode(line);
    }
    if (text.size() > MessageCap) {
        text.truncate(MessageCap);
        if (text.back().isHighSurrogate())
            text.chop(1);
        text += u'…';
    }
    return xmlSafeText(text);
}

namespace {

// Removes every entry of dir but keep, which must be there as a regular
// file; raw calls, as this is done for every point.
bool emptyAllBut(const QString &dir, const QString &keep)
{
    const QByteArray kept = QFile::encodeName(keep);
    const int fd = ::open(QFile::encodeName(dir).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    DIR *listing = fd < 0 ? nullptr : ::fdopendir(fd);
    if (!listing) {
        if (fd >= 0)
            ::close(fd);
        return false;
    }
    bool found = false;
    bool clean = true;
    while (const dirent *e = ::readdir(listing)) {
        if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0)
            continue;
        struct stat info;
        if (kept == e->d_name) {
            found = ::fstatat(fd, e->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(info.st_mode);
            continue;
        }
        if (::unlinkat(fd, e->d_name, 0) != 0
            && !(errno == EISDIR && removeDir(dir + u'/' + QFile::decodeName(e->d_name))))
            clean = false;
    }
    ::closedir(listing);
    return found && clean;
}

} // namespace

bool resetOrganiserFolder(const QString &dir, const QString &name, const QString &program, bool copied)
{
    if (copied && emptyAllBut(dir, name))
        return true;
    QDir(dir).removeRecursively();
    return QDir().mkpath(dir) && QFile::setPermissions(dir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner)
           && QFile::copy(program, dir + u'/' + name);
}

QString newestCppStandard()
{
    return cppCompiler().standard;
}

QString cppCompilerIdentity()
{
    return cppCompiler().identity;
}

QString checkerCacheDir()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) + u"/qxj/checkers"_s;
}
