#include "runnerfixture.h"

#include <QMutexLocker>
#include <QScopeGuard>

#include <cstdio>

#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace runnerfixture {

namespace {

const QString programsDir = QString::fromUtf8(QXJ_PROGRAMS_DIR);

// Whether a process sees the folder dir
// (its canonical path, as mountinfo escapes it) at /box: a sandboxed program
// works in a copy of its work folder laid over it.
bool boxedIn(int pid, const QByteArray &dir)
{
    QFile mounts(u"/proc/%1/mountinfo"_s.arg(pid));
    if (!mounts.open(QIODevice::ReadOnly))
        return false;
    for (const QByteArray &line : mounts.readAll().split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        // id parent major:minor root mount-point ...: root is the path in its file system
        if (fields.size() > 4 && fields[4] == "/box" && fields[3] != "/" && dir.endsWith(fields[3]))
            return true;
    }
    return false;
}

} // namespace

QString programPath(const QString &name)
{
    // The one built in a folder whose name has a space.
    if (name == u"hello")
        return programsDir + u"/hello world/hello"_s;
    return programsDir + u'/' + name;
}

std::unique_ptr<QTemporaryDir> makeWorkDir()
{
    return std::make_unique<QTemporaryDir>(QDir::tempPath() + u"/qxj runner XXXXXX"_s);
}

bool copyProgram(const QString &name, const QString &workDir, const QString &exeName)
{
    return QFile::copy(programPath(name), workDir + u'/' + exeName);
}

QList<int> livingProcessesIn(const QString &dir)
{
    // By the folder itself: a sandboxed program sees it under another name.
    struct stat wanted;
    if (::stat(QFile::encodeName(dir).constData(), &wanted) != 0)
        return {};
    const QByteArray escaped = QFile::encodeName(QFileInfo(dir).canonicalFilePath()).replace(' ', "\\040");
    QList<int> found;
    for (const ProcStat &process : listProcesses()) {
        if (process.state == 'Z' || process.state == 'X')
            continue;
        char link[64];
        std::snprintf(link, sizeof link, "/proc/%d/cwd", static_cast<int>(process.pid));
        struct stat cwd;
        if (::stat(link, &cwd) == 0 && cwd.st_dev == wanted.st_dev && cwd.st_ino == wanted.st_ino)
            found.append(process.pid);
        else if (boxedIn(process.pid, escaped))
            found.append(process.pid);
    }
    return found;
}

QList<int> childrenOfTest()
{
    QList<int> found;
    for (const ProcStat &process : listProcesses()) {
        if (process.ppid == ::getpid())
            found.append(process.pid);
    }
    return found;
}

pid_t runningPid(RunSlot &judge)
{
    QMutexLocker lock(&judge.judgeMutex);
    return judge.childProcess.pid;
}

QStringList openFileTargets()
{
    QStringList targets;
    const QDir fds(u"/proc/self/fd"_s);
    for (const QString &fd : fds.entryList(QDir::Files | QDir::System))
        targets.append(QFileInfo(fds.filePath(fd)).symLinkTarget());
    return targets;
}

int openFilesIn(const QString &dir)
{
    const QString prefix = QFileInfo(dir).canonicalFilePath() + u'/';
    int count = 0;
    for (const QString &target : openFileTargets())
        count += target.startsWith(prefix) ? 1 : 0;
    return count;
}

RunResult runIn(RunSlot &judge, const QString &workDir, const QString &exeName, double timeLimit,
                double memoryLimit)
{
    RunResult result;
    QElapsedTimer clock;
    clock.start();
    result.ok = runProgram(judge, workDir, exeName, result.time, result.memory, result.state, result.note, timeLimit,
                           memoryLimit);
    result.wall = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    return result;
}

RunRecord runWith(bool sandboxed, RunSlot &slot, const RunRequest &request)
{
    setProgramSandboxForTesting(sandboxed);
    const auto restore = qScopeGuard([] { setProgramSandboxForTesting(true); });
    return runProgram(slot, request);
}

RunRequest requestIn(const QString &dir)
{
    RunRequest request;
    request.workDir = dir;
    request.executable = u"prog"_s;
    return request;
}

QString usageNote(double time, double memory)
{
    return u"时间: %1s 内存: %2MB"_s.arg(time, 0, 'f', 2).arg(memory, 0, 'f', 2);
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(unreadable)");
}

QMap<QString, QString> readReport(const QByteArray &text)
{
    QMap<QString, QString> seen;
    for (const QByteArray &line : text.split('\n')) {
        const qsizetype equals = line.indexOf('=');
        if (equals > 0)
            seen.insert(QString::fromUtf8(line.left(equals)), QString::fromUtf8(line.mid(equals + 1)));
    }
    return seen;
}

QMap<QString, QString> readReport(const QString &path)
{
    QFile report(path);
    return report.open(QIODevice::ReadOnly) ? readReport(report.readAll()) : QMap<QString, QString>();
}

void addJudgeUsers()
{
    QTest::addColumn<bool>("ordinaryUser");
    QTest::newRow("judge as it is started") << false;
    if (::geteuid() == 0)
        QTest::newRow("judge as an ordinary user") << true;
}

EscapeSite::EscapeSite()
    : homeFile(QDir::homePath() + u"/.qxj-escape-test-"_s + QString::number(::getpid()))
{
}

EscapeSite::~EscapeSite()
{
    QFile::remove(homeFile);
    if (listener >= 0)
        ::close(listener);
}

bool EscapeSite::make(const QString &program)
{
    if (!QDir(top->path()).mkpath(u"tmp"_s) || !QDir(top->path()).mkpath(u"data"_s))
        return false;
    for (const QString &path : {secret, homeFile}) {
        if (!writeFile(path, "42\n"))
            return false;
    }
    listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0
        || ::listen(listener, 4) != 0 || ::getsockname(listener, reinterpret_cast<sockaddr *>(&address), &length) != 0)
        return false;
    port = ntohs(address.sin_port);
    QFile::remove(u"/tmp/qxj-escape"_s);
    QFile::remove(u"/dev/shm/qxj-escape"_s);
    return copyProgram(program, work, u"prog"_s)
           && writeFile(work + u"/targets.txt"_s,
                        (secret + u'\n' + homeFile + u'\n' + QString::number(port) + u'\n').toUtf8());
}

} // namespace runnerfixture
