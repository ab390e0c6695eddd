#include "procfs_linux.h"
#include "runner.h"
#include "runoutcome_linux.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMutexLocker>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QScopeGuard>
#include <QStandardPaths>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <thread>

#include <fcntl.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <poll.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <netinet/in.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

const QString programsDir = QString::fromUtf8(QXJ_PROGRAMS_DIR);

QString programPath(const QString &name)
{
    // The one built in a folder whose name has a space.
    if (name == u"hello")
        return programsDir + u"/hello world/hello"_s;
    return programsDir + u'/' + name;
}

std::unique_ptr<QTemporaryDir> makeWorkDir()
{
    // A space in every work directory: nothing may split the path.
    auto dir = std::make_unique<QTemporaryDir>(QDir::tempPath() + u"/qxj runner XXXXXX"_s);
    return dir;
}

bool copyProgram(const QString &name, const QString &workDir, const QString &exeName)
{
    return QFile::copy(programPath(name), workDir + u'/' + exeName);
}

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

// Live processes whose current directory is dir: everything a program started
// in its work directory, however it detached itself.
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

// Children of this test process, zombies included: a runner that forgets to
// reap leaves them here.
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

struct RunResult
{
    bool ok = false;
    double time = -1.0;
    double memory = -1.0;
    char state = '?';
    QString note = u"untouched"_s;
    double wall = 0.0;
};

RunResult runIn(RunSlot &judge, const QString &workDir, const QString &exeName,
                double timeLimit, double memoryLimit)
{
    RunResult result;
    QElapsedTimer clock;
    clock.start();
    result.ok = runProgram(judge, workDir, exeName, result.time, result.memory, result.state,
                           result.note, timeLimit, memoryLimit);
    result.wall = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    return result;
}

QString usageNote(double time, double memory)
{
    return u"时间: %1s 内存: %2MB"_s.arg(time, 0, 'f', 2).arg(memory, 0, 'f', 2);
}

QStringList openFileTargets()
{
    QStringList targets;
    const QDir fds(u"/proc/self/fd"_s);
    for (const QString &fd : fds.entryList(QDir::Files | QDir::System))
        targets.append(QFileInfo(fds.filePath(fd)).symLinkTarget());
    return targets;
}

// Descriptors this process holds on files in dir.
int openFilesIn(const QString &dir)
{
    const QString prefix = QFileInfo(dir).canonicalFilePath() + u'/';
    int count = 0;
    for (const QString &target : openFileTargets())
        count += target.startsWith(prefix) ? 1 : 0;
    return count;
}

} // namespace

class RunnerTest : public QObject
{
    Q_OBJECT

private slots:
    void outcome_data();
    void outcome();
    void idleAndClock_data();
    void idleAndClock();
    void creationErrors_data();
    void creationErrors();
    void procStat_data();
    void procStat();
    void procStatus();
    void ownedMemory();
    void residentOnDevices_data();
    void residentOnDevices();
    void elfStaticData();

    void programs_data();
    void programs();
    void fairVerdicts_data();
    void fairVerdicts();
    void startedAsDocumented();
    void startFailures_data();
    void startFailures();
    void familyDoesNotSurvive();
    void processCreationCapped();
    void nothingLeaks();

    void wholeRunCounts_data();
    void wholeRunCounts();
    void memoryHeldAnywhere_data();
    void memoryHeldAnywhere();
    void confined_data();
    void confined();
    void compilerConfined_data();
    void compilerConfined();
    void compilerDiesWithJudge_data();
    void compilerDiesWithJudge();
    void replacedWorkFolder();
    void boundedWorkFolder_data();
    void boundedWorkFolder();
    void results_data();
    void results();
    void fixedEnvironment_data();
    void fixedEnvironment();

    void withoutFilter_data();
    void withoutFilter();
    void withoutNamespaces_data();
    void withoutNamespaces();

    void killTree_data();
    void killTree();
    void killTreeWithoutProcess();

    void stop_data();
    void stop();
    void stopBeforeStart();

    void standardStreams_data();
    void standardStreams();
    void streamFailures_data();
    void streamFailures();
    void recordText_data();
    void recordText();
    void recordFromBadText_data();
    void recordFromBadText();
    void recordOfRun_data();
    void recordOfRun();
};

void RunnerTest::outcome_data()
{
    QTest::addColumn<double>("time");
    QTest::addColumn<double>("memory");
    QTest::addColumn<bool>("ended");
    QTest::addColumn<int>("waitStatus");
    QTest::addColumn<int>("outcome");
    QTest::addColumn<QString>("state");
    QTest::addColumn<QString>("note");

    const int running = int(RunOutcome::Running);
    const int passed = int(RunOutcome::Passed);
    const int failed = int(RunOutcome::Failed);
    const QString untouched = u"untouched"_s;
    // Limits: 1 s and 128 MB throughout.
    QTest::newRow("time equal to the limit passes")
        << 1.0 << 10.0 << true << W_EXITCODE(0, 0) << passed << u"?"_s << u"时间: 1.00s 内存: 10.00MB"_s;
    QTest::newRow("memory equal to the limit passes")
        << 0.5 << 128.0 << true << W_EXITCODE(0, 0) << passed << u"?"_s << u"时间: 0.50s 内存: 128.00MB"_s;
    QTest::newRow("two decimals, fixed point")
        << 0.031 << 1.25 << true << W_EXITCODE(0, 0) << passed << u"?"_s << u"时间: 0.03s 内存: 1.25MB"_s;
    QTest::newRow("within both limits, still running")
        << 0.99 << 127.9 << false << 0 << running << u"?"_s << untouched;
    QTest::newRow("memory tested before time")
        << 2.0 << 200.0 << false << 0 << failed << u"M"_s << u"超过内存限制"_s;
    QTest::newRow("time over while running")
        << 1.01 << 10.0 << false << 0 << failed << u"T"_s << u"超过时间限制"_s;
    QTest::newRow("ended over memory")
        << 0.1 << 128.01 << true << W_EXITCODE(0, 0) << failed << u"M"_s << u"超过内存限制"_s;
    QTest::newRow("ended over time")
        << 1.001 << 10.0 << true << W_EXITCODE(0, 0) << failed << u"T"_s << u"超过时间限制"_s;
    QTest::newRow("ended over memory with an exit code")
        << 0.1 << 300.0 << true << W_EXITCODE(3, 0) << failed << u"M"_s << u"超过内存限制"_s;
    QTest::newRow("exit code")
        << 0.1 << 1.0 << true << W_EXITCODE(3, 0) << failed << u"R"_s << u"运行时错误: 3"_s;
    QTest::newRow("exit code 255")
        << 0.1 << 1.0 << true << W_EXITCODE(255, 0) << failed << u"R"_s << u"运行时错误: 255"_s;
    QTest::newRow("SIGSEGV")
        << 0.1 << 1.0 << true << W_EXITCODE(0, SIGSEGV) << failed << u"R"_s << u"运行时错误: SIGSEGV"_s;
    QTest::newRow("SIGKILL")
        << 0.1 << 1.0 << true << W_EXITCODE(0, SIGKILL) << failed << u"R"_s << u"运行时错误: SIGKILL"_s;
    QTest::newRow("SIGXCPU is the time limit")
        << 0.9 << 1.0 << true << W_EXITCODE(0, SIGXCPU) << failed << u"T"_s << u"超过时间限制"_s;
    QTest::newRow("SIGXFSZ is too much output")
        << 0.1 << 1.0 << true << W_EXITCODE(0, SIGXFSZ) << failed << u"R"_s << u"运行时错误: 输出文件过大"_s;
}

void RunnerTest::outcome()
{
    QFETCH(double, time);
    QFETCH(double, memory);
    QFETCH(bool, ended);
    QFETCH(int, waitStatus);
    QFETCH(int, outcome);
    QFETCH(QString, state);
    QFETCH(QString, note);

    char gotState = '?';
    QString gotNote = u"untouched"_s;
    const RunSample sample{time, memory, ended, waitStatus};
    QCOMPARE(int(judgeSample(sample, 1.0, 128.0, gotState, gotNote)), outcome);
    QCOMPARE(QString(QLatin1Char(gotState)), state);
    QCOMPARE(gotNote, note);
}

void RunnerTest::idleAndClock_data()
{
    QTest::addColumn<double>("memory");
    QTest::addColumn<bool>("ended");
    QTest::addColumn<bool>("idle");
    QTest::addColumn<bool>("pastClock");
    QTest::addColumn<int>("outcome");
    QTest::addColumn<QString>("state");
    QTest::addColumn<QString>("note");

    const int failed = int(RunOutcome::Failed);
    // Limits: 1 s and 128 MB; 0.5 s used throughout.
    QTest::newRow("idle too long") << 1.0 << false << true << false << failed << u"R"_s << u"运行时错误: 未知"_s;
    QTest::newRow("too long by the clock") << 1.0 << false << false << true << failed << u"T"_s << u"超过时间限制"_s;
    QTest::newRow("both: idleness first") << 1.0 << false << true << true << failed << u"R"_s << u"运行时错误: 未知"_s;
    QTest::newRow("over memory and idle: memory first")
        << 200.0 << false << true << true << failed << u"M"_s << u"超过内存限制"_s;
    QTest::newRow("neither counts once it has ended")
        << 1.0 << true << true << true << int(RunOutcome::Passed) << u"?"_s << u"时间: 0.50s 内存: 1.00MB"_s;
}

void RunnerTest::idleAndClock()
{
    QFETCH(double, memory);
    QFETCH(bool, ended);
    QFETCH(bool, idle);
    QFETCH(bool, pastClock);
    QFETCH(int, outcome);
    QFETCH(QString, state);
    QFETCH(QString, note);

    RunSample sample{0.5, memory, ended, W_EXITCODE(0, 0)};
    sample.idle = idle;
    sample.pastClock = pastClock;
    char gotState = '?';
    QString gotNote = u"untouched"_s;
    QCOMPARE(int(judgeSample(sample, 1.0, 128.0, gotState, gotNote)), outcome);
    QCOMPARE(QString(QLatin1Char(gotState)), state);
    QCOMPARE(gotNote, note);
}

void RunnerTest::creationErrors_data()
{
    QTest::addColumn<int>("error");
    QTest::addColumn<QString>("state");
    QTest::addColumn<QString>("note");
    QTest::newRow("ENOMEM") << ENOMEM << u"M"_s << u"超过内存限制"_s;
    QTest::newRow("EBADF") << EBADF << u"M"_s << u"超过内存限制"_s;
    QTest::newRow("ENOENT") << ENOENT << u"M"_s << u"超过内存限制"_s;
    QTest::newRow("ENOEXEC") << ENOEXEC << u"E"_s << u"线程创建失败: "_s + QString::number(ENOEXEC);
    QTest::newRow("EACCES") << EACCES << u"E"_s << u"线程创建失败: "_s + QString::number(EACCES);
    QTest::newRow("E2BIG") << E2BIG << u"E"_s << u"线程创建失败: "_s + QString::number(E2BIG);
}

void RunnerTest::creationErrors()
{
    QFETCH(int, error);
    QFETCH(QString, state);
    QFETCH(QString, note);
    char gotState = '?';
    QString gotNote;
    execFailure(error, gotState, gotNote);
    QCOMPARE(QString(QLatin1Char(gotState)), state);
    QCOMPARE(gotNote, note);
}

void RunnerTest::procStat_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<bool>("parsed");
    QTest::addColumn<int>("ppid");
    QTest::addColumn<int>("session");
    QTest::addColumn<qulonglong>("userTicks");
    QTest::addColumn<qulonglong>("startTicks");

    const QByteArray tail = " S 17 4242 4243 0 -1 4194560 120 0 0 0 250 31 0 0 20 0 1 0 987654 1000 20\n";
    QTest::newRow("plain name") << QByteArray("4242 (loop)" + tail) << true << 17 << 4243
                                << qulonglong(250) << qulonglong(987654);
    QTest::newRow("name with spaces and parentheses")
        << QByteArray("4242 (a) S 1 2 (b c)" + tail) << true << 17 << 4243
        << qulonglong(250) << qulonglong(987654);
    QTest::newRow("cut short") << QByteArray("4242 (loop) S 17 4242 4243 0 -1") << false << 0 << 0
                               << qulonglong(0) << qulonglong(0);
    QTest::newRow("no name") << QByteArray("4242 loop S 17") << false << 0 << 0
                             << qulonglong(0) << qulonglong(0);
}

void RunnerTest::procStat()
{
    QFETCH(QByteArray, line);
    QFETCH(bool, parsed);
    ProcStat stat;
    QCOMPARE(parseProcStat(std::string_view(line.constData(), size_t(line.size())), stat), parsed);
    if (!parsed)
        return;
    QFETCH(int, ppid);
    QFETCH(int, session);
    QFETCH(qulonglong, userTicks);
    QFETCH(qulonglong, startTicks);
    QCOMPARE(stat.pid, 4242);
    QCOMPARE(stat.state, 'S');
    QCOMPARE(stat.ppid, ppid);
    QCOMPARE(stat.session, session);
    QCOMPARE(qulonglong(stat.userTicks), userTicks);
    QCOMPARE(qulonglong(stat.systemTicks), qulonglong(31));
    QCOMPARE(qulonglong(stat.startTicks), startTicks);
}

void RunnerTest::procStatus()
{
    const std::string_view alive = "Name:\tx\nVmPeak:\t 9000 kB\nVmHWM:\t    1500 kB\nVmRSS:\t 1400 kB\n"
                                   "RssAnon:\t 136 kB\nRssFile:\t    1200 kB\nRssShmem:\t  64 kB\n"
                                   "VmData:\t  204800 kB\nVmStk:\t     132 kB\nSeccomp:\t2\n"
                                   "Seccomp_filters:\t1\n";
    const ProcStatus status = parseProcStatus(alive);
    QCOMPARE(status.peakResidentKb, 1500);
    QCOMPARE(status.dataKb, 204800);
    QCOMPARE(status.stackKb, 132);
    QCOMPARE(status.residentFileKb, 1200);
    QCOMPARE(status.residentShmemKb, 64);
    QCOMPARE(status.seccompFilters, 1);

    const ProcStatus zombie = parseProcStatus("Name:\tx\nState:\tZ (zombie)\nSeccomp_filters:\t0\n");
    QCOMPARE(zombie.dataKb, -1);
    QCOMPARE(zombie.peakResidentKb, -1);
    QCOMPARE(zombie.seccompFilters, 0);
}

void RunnerTest::ownedMemory()
{
    // A thread's stack above its guard, a mapping right above that stack, and
    // two memfd files.
    const std::string_view maps =
        "55d0a0000000-55d0a0001000 rw-p 00002000 fd:01 1234   /work/my prog\n"
        "7f0000000000-7f0000001000 ---p 00000000 00:00 0 \n"
        "7f0000001000-7f0010001000 rw-p 00000000 00:00 0 \n"
        "7f0010001000-7f0010101000 rw-p 00000000 00:00 0 \n"
        "7f0020000000-7f0020100000 rw-s 00000000 00:01 77     /memfd:hold (deleted)\n"
        "7f0030000000-7f0030100000 rw-s 00000000 00:01 78     /memfd:gone (deleted)\n";
    std::vector<Mapping> mappings = parseMappings(maps);
    QCOMPARE(mappings.size(), size_t(6));
    QVERIFY(!mappings[0].anonymous);
    QVERIFY(mappings[1].anonymous);
    QVERIFY(mappings[4].memfd);
    QCOMPARE(mappings[4].inode, 77ULL);
    QCOMPARE(mappings[2].end, 0x7f0010001000ULL);
    QVERIFY(isThreadStack(mappings, 2));
    QVERIFY(!isThreadStack(mappings, 3));  // right above a stack, not a guard
    QCOMPARE(threadStackSlackKb(mappings), 262144LL);

    mappings[2].residentKb = 64;  // touched
    const long long slack = 262144 - 64;
    QCOMPARE(threadStackSlackKb(mappings), slack);
    const long long privateKb = 4 + 262144 + 1024;  // the rw-p mappings
    QCOMPARE(ownedKb(mappings, 1536, {{77, 65536}}), privateKb - slack + 65536);
    QCOMPARE(ownedKb(mappings, 1536, {{77, 512}, {78, 512}}), privateKb - slack + 1536);
}

void RunnerTest::residentOnDevices_data()
{
    QTest::addColumn<QByteArray>("smaps");
    QTest::addColumn<long long>("kb");
    const QByteArray tmp = "7f0000000000-7f0003c00000 rw-s 00000000 00:2a 12 /tmp/hold\nSize: 61440 kB\nRss: 61440 kB\n";
    const QByteArray shm = "7f0010000000-7f0010100000 rw-s 00000000 00:2b 3 /dev/shm/x\nRss: 512 kB\nPss: 512 kB\n";
    const QByteArray input = "7f0040000000-7f0045000000 r--p 00000000 00:2a 14 /box/input.txt\nRss: 81920 kB\n";
    const QByteArray copied = "7f0050000000-7f0050100000 rw-p 00000000 00:2b 15 /box/x\nRss: 1024 kB\n";
    const QByteArray readShared = "7f0060000000-7f0060100000 r--s 00000000 00:2b 16 /box/y\nRss: 256 kB\n";
    const QByteArray anonymous = "7f0020000000-7f0030000000 rw-s 00000000 00:01 9 /dev/zero (deleted)\nRss: 262144 kB\n";
    const QByteArray disk = "55d0a0000000-55d0a0001000 r--p 00000000 fd:01 1234 /usr/bin/x\nRss: 4 kB\n";
    QTest::newRow("a /tmp file mapped shared") << tmp << 61440LL;
    QTest::newRow("both, among others") << QByteArray(disk + tmp + anonymous + shm) << 61952LL;
    QTest::newRow("mapped read-only, private or shared")
        << QByteArray(input + tmp + copied + readShared) << 81920LL + 61440 + 1024 + 256;
    QTest::newRow("shared memory of no file system of the run") << QByteArray(anonymous + disk) << 0LL;
    QTest::newRow("a device number that only starts the same") << QByteArray(tmp).replace("00:2a", "00:2a0") << 0LL;
    QTest::newRow("a header cut short") << QByteArray("7f0000000000-7f0003c00000 rw-s\nRss: 8 kB\n") << 0LL;
    QTest::newRow("empty") << QByteArray() << 0LL;
}

void RunnerTest::residentOnDevices()
{
    QFETCH(QByteArray, smaps);
    QFETCH(long long, kb);
    const std::string_view text(smaps.constData(), size_t(smaps.size()));
    QCOMPARE(residentOnDevicesKb(text, {makedev(0, 0x2a), makedev(0, 0x2b)}), kb);
}

void RunnerTest::elfStaticData()
{
    const double staticMb = double(elfWritableBytes(QFile::encodeName(programPath(u"static512"_s)))) / 1048576.0;
    QVERIFY2(staticMb >= 512.0 && staticMb < 513.0, qPrintable(QString::number(staticMb)));

    auto dir = makeWorkDir();
    QFile text(dir->filePath(u"notes"_s));
    QVERIFY(text.open(QIODevice::WriteOnly));
    text.write("just text\n");
    text.close();
    QCOMPARE(elfWritableBytes(QFile::encodeName(text.fileName())), 0ULL);
    QCOMPARE(elfWritableBytes(QFile::encodeName(dir->filePath(u"missing"_s))), 0ULL);
}

void RunnerTest::programs_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<double>("timeLimit");
    QTest::addColumn<double>("memoryLimit");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("state");
    QTest::addColumn<QString>("note");  // empty: the time and memory note
    QTest::addColumn<double>("minTime");
    QTest::addColumn<double>("maxTime");
    QTest::addColumn<double>("minMemory");
    QTest::addColumn<double>("maxMemory");
    QTest::addColumn<double>("minWall");
    QTest::addColumn<double>("maxWall");

    const QString usage;
    // Wide margins: the machine is shared; the precise figures are the benchmark's.
    QTest::newRow("normal exit, from a folder with a space")
        << u"hello"_s << 5.0 << 64.0 << true << u"?"_s << usage << 0.0 << 0.5 << 0.01 << 64.0 << 0.0 << 10.0;
    QTest::newRow("exit code 3")
        << u"exit3"_s << 5.0 << 64.0 << false << u"R"_s << u"运行时错误: 3"_s << 0.0 << 0.5 << 0.0 << 64.0 << 0.0 << 10.0;
    QTest::newRow("SIGSEGV")
        << u"segv"_s << 5.0 << 64.0 << false << u"R"_s << u"运行时错误: SIGSEGV"_s << 0.0 << 0.5 << 0.0 << 64.0 << 0.0 << 10.0;
    QTest::newRow("failed assert")
        << u"abort"_s << 5.0 << 64.0 << false << u"R"_s << u"运行时错误: SIGABRT"_s << 0.0 << 0.5 << 0.0 << 64.0 << 0.0 << 10.0;
    QTest::newRow("division by zero")
        << u"fpe"_s << 5.0 << 64.0 << false << u"R"_s << u"运行时错误: SIGFPE"_s << 0.0 << 0.5 << 0.0 << 64.0 << 0.0 << 10.0;
    QTest::newRow("endless loop")
        << u"loop"_s << 1.0 << 64.0 << false << u"T"_s << u"超过时间限制"_s << 1.0 << 1.3 << 0.0 << 64.0 << 0.9 << 15.0;
    QTest::newRow("touches 300 MB")
        << u"hog300"_s << 5.0 << 128.0 << false << u"M"_s << u"超过内存限制"_s << 0.0 << 5.0 << 128.0 << 400.0 << 0.0 << 20.0;
    QTest::newRow("512 MB static array, 1 MB touched")
        << u"static512"_s << 5.0 << 128.0 << false << u"M"_s << u"超过内存限制"_s << 0.0 << 5.0 << 512.0 << 600.0 << 0.0 << 10.0;
    // Static data is the program's from its first instruction, even when it
    // dies before the first look at it.
    QTest::newRow("512 MB static array, dies at its first instruction")
        << u"staticfault"_s << 5.0 << 128.0 << false << u"M"_s << u"超过内存限制"_s << 0.0 << 5.0 << 512.0 << 600.0 << 0.0 << 10.0;
    QTest::newRow("200 MB burst, freed, then computing")
        << u"burst200"_s << 5.0 << 128.0 << false << u"M"_s << u"超过内存限制"_s << 0.0 << 5.0 << 128.0 << 300.0 << 0.0 << 20.0;
    // A sleeping program is left to the clock (3 × 1 s + 2 s); one blocked
    // for good ends by the idle rule, but not before its time limit and 1 s.
    QTest::newRow("sleeps 10 s under 1 s")
        << u"sleeper"_s << 1.0 << 64.0 << false << u"T"_s << u"超过时间限制"_s << 0.0 << 0.1 << 0.0 << 64.0 << 4.9 << 10.0;
    QTest::newRow("sleeps 1.2 s under 5 s")
        << u"nap1200"_s << 5.0 << 64.0 << true << u"?"_s << usage << 0.0 << 0.1 << 0.0 << 64.0 << 1.15 << 5.0;
    QTest::newRow("blocked for good under 1 s")
        << u"blocked"_s << 1.0 << 64.0 << false << u"R"_s << u"运行时错误: 未知"_s << 0.0 << 0.1 << 0.0 << 64.0 << 2.0 << 4.9;
    QTest::newRow("busy in system calls for 1.5 s")
        << u"syscalls"_s << 3.0 << 64.0 << true << u"?"_s << usage << 0.0 << 3.0 << 0.0 << 64.0 << 1.4 << 20.0;
    QTest::newRow("1 ms naps for 1.5 s")
        << u"naps"_s << 3.0 << 64.0 << true << u"?"_s << usage << 0.0 << 3.0 << 0.0 << 64.0 << 1.4 << 20.0;
    QTest::newRow("1,000,000 frames deep")
        << u"recurse"_s << 5.0 << 256.0 << true << u"?"_s << usage << 0.0 << 5.0 << 8.0 << 256.0 << 0.0 << 20.0;
    QTest::newRow("writes 300 MB")
        << u"writer"_s << 10.0 << 64.0 << false << u"R"_s << u"运行时错误: 输出文件过大"_s << 0.0 << 10.0 << 0.0 << 64.0 << 0.0 << 60.0;
    QTest::newRow("0.5 s of CPU")
        << u"cpu500"_s << 3.0 << 64.0 << true << u"?"_s << usage << 0.4 << 0.6 << 0.0 << 64.0 << 0.4 << 20.0;
    QTest::newRow("fork bomb")
        << u"forkbomb"_s << 1.0 << 64.0 << false << u"T"_s << u"超过时间限制"_s << 0.0 << 1.3 << 0.0 << 64.0 << 0.9 << 15.0;
    QTest::newRow("touches 100 MB")
        << u"hog100"_s << 5.0 << 256.0 << true << u"?"_s << usage << 0.0 << 5.0 << 95.0 << 105.0 << 0.0 << 20.0;
}

void RunnerTest::programs()
{
    QFETCH(QString, program);
    QFETCH(double, timeLimit);
    QFETCH(double, memoryLimit);
    QFETCH(bool, ok);
    QFETCH(QString, state);
    QFETCH(QString, note);
    QFETCH(double, minTime);
    QFETCH(double, maxTime);
    QFETCH(double, minMemory);
    QFETCH(double, maxMemory);
    QFETCH(double, minWall);
    QFETCH(double, maxWall);

    auto dir = makeWorkDir();
    QVERIFY(dir->isValid());
    const QString exeName = u"prog"_s;
    QVERIFY(copyProgram(program, dir->path(), exeName));
    RunSlot judge;
    const RunResult result = runIn(judge, dir->path(), exeName, timeLimit, memoryLimit);

    const QString figures = u"%1 %2 %3 s %4 MB, %5 s wall"_s.arg(QString(QLatin1Char(result.state)), result.note)
                                .arg(result.time).arg(result.memory).arg(result.wall);
    QVERIFY2(result.ok == ok, qPrintable(figures));
    QCOMPARE(QString(QLatin1Char(result.state)), state);
    QCOMPARE(result.note, note.isEmpty() ? usageNote(result.time, result.memory) : note);
    QVERIFY2(result.time >= minTime && result.time <= maxTime, qPrintable(figures));
    QVERIFY2(result.memory >= minMemory && result.memory <= maxMemory, qPrintable(figures));
    QVERIFY2(result.wall >= minWall && result.wall <= maxWall, qPrintable(figures));

    // Cleaned up: nothing runs, nothing is recorded, the executable is gone.
    QVERIFY(!QFile::exists(dir->filePath(exeName)));
    QVERIFY(judge.runningExePath.isEmpty());
    QCOMPARE(judge.childProcess.pid, 0);
    QCOMPARE(judge.childProcess.pidfd, -1);
    QVERIFY(livingProcessesIn(dir->path()).isEmpty());
    QVERIFY(childrenOfTest().isEmpty());
}

void RunnerTest::fairVerdicts_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<int>("inputMb");  // lines of "input.txt", whose count the program writes back
    QTest::addColumn<double>("timeLimit");
    QTest::addColumn<double>("memoryLimit");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<double>("minMemory");
    QTest::addColumn<double>("maxMemory");

    const double inf = std::numeric_limits<double>::infinity();
    // A thread's stack is reserved as large as the memory limit; only what it touches counts.
    QTest::newRow("one thread, 64 MB limit") << u"threads"_s << 0 << 5.0 << 64.0 << true << 0.0 << 16.0;
    QTest::newRow("one thread, 512 MB limit") << u"threads"_s << 0 << 5.0 << 512.0 << true << 0.0 << 16.0;
    // Threads are no processes: the cap on processes a program may start leaves them alone.
    QTest::newRow("100 threads one after another") << u"threads100"_s << 0 << 5.0 << 64.0 << true << 0.0 << 16.0;
    QTest::newRow("thread touching 100 MB of its stack")
        << u"threadstack100"_s << 0 << 5.0 << 256.0 << true << 95.0 << 110.0;
    // Clean file pages belong to the page cache, not to the program.
    QTest::newRow("80 MB input mapped read-only, 64 MB limit")
        << u"mapread"_s << 80 << 5.0 << 64.0 << true << 0.0 << 16.0;
    // Shared memory the program made is its own, mapped or not.
    QTest::newRow("512 MB in memfd files, 128 MB limit")
        << u"memfd512"_s << 0 << 10.0 << 128.0 << false << 128.0 << 600.0;
    QTest::newRow("512 MB in memfd files, 1024 MB limit")
        << u"memfd512"_s << 0 << 10.0 << 1024.0 << true << 505.0 << 540.0;
    // Limits too large for any clock or byte count.
    QTest::newRow("time limit 1e10 s") << u"trivial"_s << 0 << 1e10 << 64.0 << true << 0.0 << 16.0;
    QTest::newRow("infinite time limit") << u"trivial"_s << 0 << inf << 64.0 << true << 0.0 << 16.0;
    QTest::newRow("memory limit 1e300 MB") << u"threads"_s << 0 << 5.0 << 1e300 << true << 0.0 << 16.0;
}

void RunnerTest::fairVerdicts()
{
    QFETCH(QString, program);
    QFETCH(int, inputMb);
    QFETCH(double, timeLimit);
    QFETCH(double, memoryLimit);
    QFETCH(bool, ok);
    QFETCH(double, minMemory);
    QFETCH(double, maxMemory);

    auto dir = makeWorkDir();
    QVERIFY(copyProgram(program, dir->path(), u"prog"_s));
    if (inputMb > 0) {
        QFile input(dir->filePath(u"input.txt"_s));
        QVERIFY(input.open(QIODevice::WriteOnly));
        const QByteArray block = QByteArray(QByteArray(63, 'x') + '\n').repeated(1 << 14);  // 1 MiB
        for (int i = 0; i < inputMb; ++i)
            QCOMPARE(input.write(block), block.size());
        input.close();
    }
    RunSlot judge;
    const RunResult result = runIn(judge, dir->path(), u"prog"_s, timeLimit, memoryLimit);
    const QString figures = u"%1 %2, %3 s %4 MB"_s.arg(QString(QLatin1Char(result.state)), result.note)
                                .arg(result.time).arg(result.memory);
    QVERIFY2(result.ok == ok, qPrintable(figures));
    if (ok)
        QCOMPARE(result.note, usageNote(result.time, result.memory));
    else
        QCOMPARE(result.note, u"超过内存限制"_s);
    QVERIFY2(result.memory >= minMemory && result.memory <= maxMemory, qPrintable(figures));
    if (inputMb > 0) {
        QFile output(dir->filePath(u"output.txt"_s));
        QVERIFY(output.open(QIODevice::ReadOnly));
        QCOMPARE(output.readAll().trimmed(), QByteArray::number(inputMb << 14));
    }
    QVERIFY(childrenOfTest().isEmpty());
}

void RunnerTest::startedAsDocumented()
{
    auto top = makeWorkDir();
    // The work directory inside a folder of the judge's, as in a contest.
    QVERIFY(QDir(top->path()).mkdir(u"work"_s));
    const QDir work(top->path() + u"/work"_s);
    QVERIFY(copyProgram(u"probe"_s, work.path(), u"probe"_s));
    // What the judge has set for itself must not reach the program.
    const int stray = ::open("/dev/null", O_RDONLY);  // inheritable on purpose
    QVERIFY(stray >= 0);
    sigset_t usr1, previousMask;
    sigemptyset(&usr1);
    sigaddset(&usr1, SIGUSR1);
    ::pthread_sigmask(SIG_BLOCK, &usr1, &previousMask);
    const auto previousPipe = std::signal(SIGPIPE, SIG_IGN);

    RunSlot judge;
    const RunResult result = runIn(judge, work.path(), u"probe"_s, 2.5, 100.0);

    std::signal(SIGPIPE, previousPipe);
    ::pthread_sigmask(SIG_SETMASK, &previousMask, nullptr);
    ::close(stray);
    QVERIFY2(result.ok, qPrintable(result.note));
    QVERIFY2(result.wall < 5.0, "standard input must end at once");

    QFile report(work.filePath(u"probe.txt"_s));
    QVERIFY(report.open(QIODevice::ReadOnly));
    QMap<QString, QString> seen;
    for (const QByteArray &line : report.readAll().split('\n')) {
        const int equals = line.indexOf('=');
        if (equals > 0)
            seen.insert(QString::fromUtf8(line.left(equals)), QString::fromUtf8(line.mid(equals + 1)));
    }
    QCOMPARE(seen.value(u"args"_s), u"1"_s);
    QCOMPARE(seen.value(u"stdin"_s), u"eof"_s);
    QCOMPARE(seen.value(u"null"_s), u"1"_s);
    QCOMPARE(seen.value(u"fds"_s), u"0"_s);
    QCOMPARE(seen.value(u"session"_s), u"1"_s);
    QCOMPARE(seen.value(u"core"_s), u"0"_s);
    QCOMPARE(seen.value(u"stack"_s), QString::number(100ULL << 20));
    QCOMPARE(seen.value(u"fsize"_s), QString::number(256ULL << 20));
    QCOMPARE(seen.value(u"cpu"_s), u"4"_s);  // ceil(2.5) + 1
    QCOMPARE(seen.value(u"blocked"_s), u"0"_s);
    QCOMPARE(seen.value(u"sigpipe"_s), u"default"_s);
    QCOMPARE(seen.value(u"cwd"_s), sandboxWarning().isEmpty() ? u"/box"_s : QFileInfo(work.path()).canonicalFilePath());
    if (::geteuid() == 0) {
        // A judge running as root hands the program to an unprivileged user.
        QVERIFY(seen.value(u"uid"_s) != u"0"_s);
        QCOMPARE(seen.value(u"signal_judge"_s), u"0"_s);
        QCOMPARE(seen.value(u"escape"_s), u"0"_s);
        QVERIFY(!QFileInfo::exists(top->filePath(u"probe_escape.txt"_s)));
    } else {
        QCOMPARE(seen.value(u"uid"_s), QString::number(::getuid()));
    }
}

void RunnerTest::startFailures_data()
{
    QTest::addColumn<QString>("setup");
    QTest::addColumn<QString>("state");
    QTest::addColumn<QString>("note");
    QTest::newRow("text file marked executable")
        << u"text"_s << u"E"_s << u"线程创建失败: "_s + QString::number(ENOEXEC);
    QTest::newRow("missing executable") << u"missing"_s << u"M"_s << u"超过内存限制"_s;
    QTest::newRow("work directory through a regular file")
        << u"file as directory"_s << u"E"_s << u"线程创建失败: "_s + QString::number(ENOTDIR);
}

void RunnerTest::startFailures()
{
    QFETCH(QString, setup);
    QFETCH(QString, state);
    QFETCH(QString, note);

    auto dir = makeWorkDir();
    QString workDir = dir->path();
    if (setup == u"text") {
        QFile text(dir->filePath(u"prog"_s));
        QVERIFY(text.open(QIODevice::WriteOnly));
        text.write("this is not a program\n");
        text.close();
        QVERIFY(text.setPermissions(text.permissions() | QFileDevice::ExeOwner | QFileDevice::ExeUser));
    } else if (setup == u"file as directory") {
        QFile plain(dir->filePath(u"plain"_s));
        QVERIFY(plain.open(QIODevice::WriteOnly));
        plain.close();
        workDir = plain.fileName();
    }
    RunSlot judge;
    const RunResult result = runIn(judge, workDir, u"prog"_s, 1.0, 64.0);
    QVERIFY(!result.ok);
    QCOMPARE(QString(QLatin1Char(result.state)), state);
    QCOMPARE(result.note, note);
    QCOMPARE(result.time, -1.0);  // no sample was taken
    QVERIFY(!QFile::exists(dir->filePath(u"prog"_s)));
    QVERIFY(judge.runningExePath.isEmpty());
    QCOMPARE(judge.childProcess.pid, 0);
    QVERIFY(childrenOfTest().isEmpty());
}

void RunnerTest::familyDoesNotSurvive()
{
    auto dir = makeWorkDir();
    QVERIFY(copyProgram(u"family"_s, dir->path(), u"family"_s));
    RunSlot judge;
    const RunResult result = runIn(judge, dir->path(), u"family"_s, 5.0, 64.0);
    QVERIFY2(result.ok, qPrintable(result.note));

    QFile list(dir->filePath(u"pids.txt"_s));
    QVERIFY(list.open(QIODevice::ReadOnly));
    QCOMPARE(list.readAll().count('\n'), 3);  // all three had started
    QVERIFY(livingProcessesIn(dir->path()).isEmpty());
    QVERIFY(childrenOfTest().isEmpty());
}

void RunnerTest::processCreationCapped()
{
    auto dir = makeWorkDir();
    QVERIFY(copyProgram(u"forks"_s, dir->path(), u"forks"_s));
    RunSlot judge;
    const RunResult result = runIn(judge, dir->path(), u"forks"_s, 5.0, 64.0);
    QVERIFY2(result.ok, qPrintable(result.note));
    QFile count(dir->filePath(u"forks.txt"_s));
    QVERIFY(count.open(QIODevice::ReadOnly));
    QCOMPARE(count.readAll().trimmed(), QByteArray("64"));
    QVERIFY(childrenOfTest().isEmpty());
}

void RunnerTest::nothingLeaks()
{
    auto dir = makeWorkDir();
    RunSlot judge;
    // One run first, so that whatever is made once per process is counted.
    QVERIFY(copyProgram(u"trivial"_s, dir->path(), u"prog"_s));
    QVERIFY(runIn(judge, dir->path(), u"prog"_s, 5.0, 64.0).ok);
    // The executable may be let go of a moment after the run, but it is.
    QTRY_COMPARE_WITH_TIMEOUT(openFilesIn(dir->path()), 0, 10000);
    const qsizetype fdsBefore = openFileTargets().size();
    for (int i = 0; i < 20; ++i) {
        // What a run leaves is the judge's file in the next, read-only to it.
        QFile::remove(dir->filePath(u"pids.txt"_s));
        QVERIFY(copyProgram(i % 2 ? u"trivial"_s : u"family"_s, dir->path(), u"prog"_s));
        const RunResult result = runIn(judge, dir->path(), u"prog"_s, 5.0, 64.0);
        QVERIFY2(result.ok, qPrintable(result.note));
    }
    QTRY_COMPARE_WITH_TIMEOUT(openFilesIn(dir->path()), 0, 10000);
    QCOMPARE(openFileTargets().size(), fdsBefore);
    QVERIFY(childrenOfTest().isEmpty());
    QVERIFY(livingProcessesIn(dir->path()).isEmpty());
}

void RunnerTest::killTree_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<int>("processes");
    QTest::addColumn<QString>("ready");  // a file the script makes once it is set; empty: none
    QTest::newRow("sleeping grandchild that starts another")
        << u"sleep 300 & sh -c 'sleep 300 & sh -c \"sleep 300 & wait\" & wait' & wait"_s << 6 << QString();
    QTest::newRow("grandchild in a session of its own")
        << u"sh -c 'setsid sleep 300 & wait' & sleep 300 & wait"_s << 4 << QString();
    // Killed, it takes a while to give back 300 MB, while its parent is gone
    // and reaped: it has no link to the tree left, and must not be living
    // when the kill returns.
    QTest::newRow("grandchild in a session of its own, slow to die")
        << u"sh -c 'setsid perl -e \"\\$x = q(a) x 300000000; open(F, q(>ready)); close(F); sleep 300\" & wait' & wait"_s
        << 3 << u"ready"_s;
}

void RunnerTest::killTree()
{
    QFETCH(QString, script);
    QFETCH(int, processes);
    QFETCH(QString, ready);
    if (!ready.isEmpty() && QStandardPaths::findExecutable(u"perl"_s).isEmpty())
        QSKIP("perl is not installed");
    auto dir = makeWorkDir();
    QProcess compiler;
    startInOwnSession(compiler);
    compiler.setWorkingDirectory(dir->path());
    compiler.start(u"/bin/sh"_s, {u"-c"_s, script});
    QVERIFY(compiler.waitForStarted(10000));
    QTRY_VERIFY_WITH_TIMEOUT(livingProcessesIn(dir->path()).size() >= processes, 20000);
    if (!ready.isEmpty())
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(dir->filePath(ready)), 20000);

    killProcessTree(compiler.processId());
    QVERIFY2(livingProcessesIn(dir->path()).isEmpty(),
             qPrintable(QString::number(livingProcessesIn(dir->path()).size())));
    QVERIFY(compiler.waitForFinished(10000));
    QCOMPARE(compiler.exitStatus(), QProcess::CrashExit);
}

void RunnerTest::killTreeWithoutProcess()
{
    auto dir = makeWorkDir();
    QProcess sleeper;
    startInOwnSession(sleeper);
    sleeper.setWorkingDirectory(dir->path());
    sleeper.start(u"/bin/sleep"_s, {u"300"_s});
    QVERIFY(sleeper.waitForStarted(10000));

    killProcessTree(0);
    killProcessTree(-1);
    QCOMPARE(livingProcessesIn(dir->path()).size(), 1);
    QCOMPARE(sleeper.state(), QProcess::Running);

    killProcessTree(sleeper.processId());
    QVERIFY(sleeper.waitForFinished(10000));
}

void RunnerTest::stop_data()
{
    QTest::addColumn<QString>("program");
    QTest::newRow("endless loop") << u"loop"_s;
    QTest::newRow("family that keeps computing") << u"familyloop"_s;
}

// The window's stop request lands while the program runs.
void RunnerTest::stop()
{
    QFETCH(QString, program);
    auto dir = makeWorkDir();
    const QString exePath = dir->filePath(u"prog"_s);
    QVERIFY(copyProgram(program, dir->path(), u"prog"_s));

    RunSlot judge;
    RunResult result;
    std::atomic<bool> returned = false;
    // A plain thread: its join is a synchronisation a thread sanitizer sees.
    std::thread judgeThread([&] {
        result = runIn(judge, dir->path(), u"prog"_s, 60.0, 512.0);
        returned = true;
    });
    const auto joinAtEnd = qScopeGuard([&] {
        if (!returned) {  // a check failed early: stop it as the window would
            QMutexLocker lock(&judge.judgeMutex);
            judge.keepRunning = false;
            stopRunningProgram(judge);
        }
        if (judgeThread.joinable())
            judgeThread.join();
    });
    QTRY_VERIFY_WITH_TIMEOUT(runningPid(judge) > 0, 20000);
    if (program == u"familyloop") {
        QTRY_VERIFY_WITH_TIMEOUT(livingProcessesIn(dir->path()).size() >= 4, 20000);
    }
    const pid_t pid = runningPid(judge);
    // Still this test's unreaped child here, so the descriptor is the program's.
    const int watch = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    QVERIFY(watch >= 0);

    {
        QMutexLocker lock(&judge.judgeMutex);
        judge.keepRunning = false;
        stopRunningProgram(judge);
        QCOMPARE(judge.childProcess.pid, 0);
        QCOMPARE(judge.childProcess.pidfd, -1);
        QVERIFY(judge.runningExePath.isEmpty());
    }
    QVERIFY(!QFile::exists(exePath));
    QVERIFY(livingProcessesIn(dir->path()).isEmpty());
    pollfd ended{watch, POLLIN, 0};
    QCOMPARE(::poll(&ended, 1, 0), 1);
    // Reaped exactly once, by the stop.
    siginfo_t info{};
    QCOMPARE(::waitid(P_PIDFD, static_cast<id_t>(watch), &info, WEXITED | WNOHANG), -1);
    QCOMPARE(errno, ECHILD);
    ::close(watch);

    QTRY_VERIFY_WITH_TIMEOUT(returned, 20000);
    judgeThread.join();
    QVERIFY(!result.ok);
    QCOMPARE(result.state, '?');
    QCOMPARE(result.note, u"untouched"_s);
    QVERIFY(result.wall < 30.0);
    QVERIFY(childrenOfTest().isEmpty());
}

void RunnerTest::stopBeforeStart()
{
    auto dir = makeWorkDir();
    QVERIFY(copyProgram(u"trivial"_s, dir->path(), u"prog"_s));
    RunSlot judge;
    {
        QMutexLocker lock(&judge.judgeMutex);
        judge.keepRunning = false;
        stopRunningProgram(judge);  // nothing runs yet: nothing to do
    }
    const RunResult result = runIn(judge, dir->path(), u"prog"_s, 1.0, 64.0);
    QVERIFY(!result.ok);
    QCOMPARE(result.state, '?');
    QCOMPARE(result.note, u"untouched"_s);
    QCOMPARE(judge.childProcess.pid, 0);
    QVERIFY(judge.runningExePath.isEmpty());
    QVERIFY(childrenOfTest().isEmpty());
}

// What the program's other processes use counts as the program's own.
void RunnerTest::wholeRunCounts_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<double>("timeLimit");
    QTest::addColumn<double>("memoryLimit");
    QTest::addColumn<QString>("state");
    QTest::newRow("two children burning 1.8 s each, never waited for") << u"burners"_s << 1.0 << 64.0 << u"T"_s;
    QTest::newRow("a child holding 512 MB") << u"holder"_s << 5.0 << 64.0 << u"M"_s;
    QTest::newRow("two children computing, never waited for, the parent gone")
        << u"orphans"_s << 1.0 << 64.0 << u"T"_s;
    QTest::newRow("2000 threads made with a raw clone") << u"rawthreads"_s << 5.0 << 512.0 << u"?"_s;
}

void RunnerTest::wholeRunCounts()
{
    QFETCH(QString, program);
    QFETCH(double, timeLimit);
    QFETCH(double, memoryLimit);
    QFETCH(QString, state);
    if (!sandboxWarning().isEmpty())
        QSKIP(qPrintable(sandboxWarning()));
    auto dir = makeWorkDir();
    QVERIFY(copyProgram(program, dir->path(), u"prog"_s));
    RunSlot judge;
    const RunResult result = runIn(judge, dir->path(), u"prog"_s, timeLimit, memoryLimit);
    QVERIFY2(QString(QLatin1Char(result.state)) == state,
             qPrintable(u"%1 %2 %3 s %4 MB"_s.arg(QLatin1Char(result.state)).arg(result.note).arg(result.time).arg(result.memory)));
    if (program == u"rawthreads"_s) {
        QFile count(dir->filePath(u"threads.txt"_s));
        QVERIFY(count.open(QIODevice::ReadOnly));
        const int made = count.readAll().trimmed().toInt();
        QVERIFY2(made > 0 && made < 64, qPrintable(QString::number(made)));
    }
    QVERIFY(livingProcessesIn(dir->path()).isEmpty());
    QVERIFY(childrenOfTest().isEmpty());
}

void RunnerTest::memoryHeldAnywhere_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<double>("memoryLimit");
    QTest::addColumn<QString>("state");
    QTest::addColumn<double>("low");  // MB, for a passed run
    QTest::addColumn<double>("high");
    QTest::newRow("256 MB shared, mapped in a forked child, 64 MB limit") << u"sharedchild"_s << 64.0 << u"M"_s << 0.0 << 0.0;
    QTest::newRow("60 MB each of heap, /tmp and /dev/shm, 128 MB limit") << u"scratch180"_s << 128.0 << u"M"_s << 0.0 << 0.0;
    QTest::newRow("60 MB each of heap, /tmp and /dev/shm, 256 MB limit")
        << u"scratch180"_s << 256.0 << u"A"_s << 180.0 << 190.0;
    QTest::newRow("60 MB file of /dev/shm mapped: counted once") << u"shmmapped"_s << 128.0 << u"A"_s << 60.0 << 66.0;
    QTest::newRow("200 MB file it made mapped shared, 64 MB limit") << u"boxmapped"_s << 64.0 << u"M"_s << 0.0 << 0.0;
    QTest::newRow("200 MB file it made mapped shared, 512 MB limit")
        << u"boxmapped"_s << 512.0 << u"A"_s << 200.0 << 210.0;
    QTest::newRow("100 MB left in /tmp at its exit, 64 MB limit") << u"tmpatexit"_s << 64.0 << u"M"_s << 0.0 << 0.0;
}

// One figure against the limit for every page the run holds: shared memory
// of any of its processes, and what it keeps in its private /tmp and
// /dev/shm, a page it maps from there counted once.
void RunnerTest::memoryHeldAnywhere()
{
    QFETCH(QString, program);
    QFETCH(double, memoryLimit);
    QFETCH(QString, state);
    QFETCH(double, low);
    QFETCH(double, high);
    if (!sandboxWarning().isEmpty())
        QSKIP(qPrintable(sandboxWarning()));
    auto dir = makeWorkDir();
    QVERIFY(copyProgram(program, dir->path(), u"prog"_s));
    RunSlot judge;
    const RunResult result = runIn(judge, dir->path(), u"prog"_s, 5.0, memoryLimit);
    const QString figures = u"%1 %2 %3 MB"_s.arg(QLatin1Char(result.state)).arg(result.note).arg(result.memory);
    if (state == u"A"_s) {
        QVERIFY2(result.ok, qPrintable(figures));
        QVERIFY2(result.memory >= low && result.memory <= high, qPrintable(figures));
    } else {
        QVERIFY2(QString(QLatin1Char(result.state)) == state, qPrintable(figures));
    }
    QVERIFY(livingProcessesIn(dir->path()).isEmpty());
    QVERIFY(childrenOfTest().isEmpty());
}

namespace {

// What the escape program reports, as "name=value" pairs.
QMap<QString, QString> readReport(const QString &path)
{
    QMap<QString, QString> seen;
    QFile report(path);
    if (report.open(QIODevice::ReadOnly)) {
        for (const QByteArray &line : report.readAll().split('\n')) {
            const int equals = line.indexOf('=');
            if (equals > 0)
                seen.insert(QString::fromUtf8(line.left(equals)), QString::fromUtf8(line.mid(equals + 1)));
        }
    }
    return seen;
}

// A contest around the work folder, a file in the judge's home and a port
// listening on loopback: all out of the program's reach.
struct EscapeSite
{
    std::unique_ptr<QTemporaryDir> top = makeWorkDir();
    QString work = top->path() + u"/tmp"_s;
    QString secret = top->path() + u"/data/secret.ans"_s;
    QString homeFile = QDir::homePath() + u"/.qxj-escape-test-"_s + QString::number(::getpid());
    int listener = -1;
    int port = 0;

    bool make(const QString &program)
    {
        if (!QDir(top->path()).mkpath(u"tmp"_s) || !QDir(top->path()).mkpath(u"data"_s))
            return false;
        for (const QString &path : {secret, homeFile}) {
            QFile file(path);
            if (!file.open(QIODevice::WriteOnly) || file.write("42\n") != 3)
                return false;
        }
        listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0
            || ::listen(listener, 4) != 0
            || ::getsockname(listener, reinterpret_cast<sockaddr *>(&address), &length) != 0)
            return false;
        port = ntohs(address.sin_port);
        QFile targets(work + u"/targets.txt"_s);
        QFile::remove(u"/tmp/qxj-escape"_s);
        QFile::remove(u"/dev/shm/qxj-escape"_s);
        return copyProgram(program, work, u"prog"_s) && targets.open(QIODevice::WriteOnly)
            && targets.write((secret + u'\n' + homeFile + u'\n' + QString::number(port) + u'\n').toUtf8()) > 0;
    }
    ~EscapeSite()
    {
        QFile::remove(homeFile);
        if (listener >= 0)
            ::close(listener);
    }
};

} // namespace

void RunnerTest::confined_data()
{
    QTest::addColumn<bool>("ordinaryUser");
    QTest::newRow("judge as it is started") << false;
    if (::geteuid() == 0)
        QTest::newRow("judge as an ordinary user") << true;
}

// Nothing outside the work folder is in reach, and a run's kill(-1) does not
// reach another run of the same judge.
void RunnerTest::confined()
{
    QFETCH(bool, ordinaryUser);
    if (!sandboxWarning().isEmpty())
        QSKIP(qPrintable(sandboxWarning()));
    EscapeSite site;
    QVERIFY(site.make(u"escape"_s));

    QString otherRun;
    if (ordinaryUser) {
        // The whole judge as "nobody": it then maps its own user in a user namespace.
        for (const QString &path : {site.top->path(), site.work})
            QVERIFY(::chown(QFile::encodeName(path).constData(), 65534, 65534) == 0);
        for (const QString &name : QDir(site.work).entryList(QDir::Files))
            QVERIFY(::chown(QFile::encodeName(site.work + u'/' + name).constData(), 65534, 65534) == 0);
        QProcess judge;
        judge.start(u"setpriv"_s, {u"--reuid=65534"_s, u"--regid=65534"_s, u"--clear-groups"_s,
                                   QCoreApplication::applicationFilePath(), u"--run"_s, site.work, u"prog"_s});
        QVERIFY(judge.waitForFinished(60000));
        QCOMPARE(judge.exitCode(), 0);
        otherRun = QString::fromUtf8(judge.readAllStandardOutput()).trimmed();
        QVERIFY2(otherRun.startsWith(u"1 ?"_s), qPrintable(otherRun + QString::fromUtf8(judge.readAllStandardError())));
    } else {
        QVERIFY(copyProgram(u"cpu500"_s, site.top->path(), u"other"_s));
        RunSlot otherJudge;
        RunResult other;
        std::thread beside([&] { other = runIn(otherJudge, site.top->path(), u"other"_s, 5.0, 64.0); });
        QTest::qWait(100);  // the other program is computing when kill(-1) comes
        RunSlot judge;
        const RunResult result = runIn(judge, site.work, u"prog"_s, 5.0, 64.0);
        beside.join();
        QVERIFY2(result.ok, qPrintable(result.note));
        QVERIFY2(other.ok && other.time >= 0.4, qPrintable(other.note));
    }

    QMap<QString, QString> expected;
    for (const char *name : {"contest", "parent", "home", "shadow", "passwd", "write_usr", "write_root", "write_parent",
                             "connect", "others", "raise_limit", "kill_all", "new_namespace"})
        expected.insert(QString::fromLatin1(name), u"0"_s);
    // Private to the run: written, then gone with it.
    expected.insert(u"write_tmp"_s, u"1"_s);
    expected.insert(u"write_shm"_s, u"1"_s);
    expected.insert(u"done"_s, u"1"_s);
    QCOMPARE(readReport(site.work + u"/escape.txt"_s), expected);
    QVERIFY(!QFile::exists(u"/tmp/qxj-escape"_s));
    QVERIFY(!QFile::exists(u"/dev/shm/qxj-escape"_s));
    QVERIFY(!QFile::exists(site.top->path() + u"/qxj-escape"_s));
}

void RunnerTest::compilerConfined_data()
{
    QTest::addColumn<QByteArray>("source");
    QTest::addColumn<bool>("builds");
    QTest::newRow("ordinary source") << QByteArray("int main(void) { return 0; }\n") << true;
    QTest::newRow("answer file embedded with .incbin")
        << QByteArray("__asm__(\".section .rodata\\n.incbin \\\"SECRET\\\"\\n.previous\");\n"
                      "int main(void) { return 0; }\n")
        << false;
    QTest::newRow("answer file included") << QByteArray("#include \"SECRET\"\nint main(void) { return 0; }\n") << false;
}

// A source cannot pull a file of the contest into the program while it is compiled.
void RunnerTest::compilerConfined()
{
    QFETCH(QByteArray, source);
    QFETCH(bool, builds);
    if (!sandboxWarning().isEmpty())
        QSKIP(qPrintable(sandboxWarning()));
    if (QStandardPaths::findExecutable(u"gcc"_s).isEmpty())
        QSKIP("gcc is not installed");
    EscapeSite site;
    QVERIFY(site.make(u"trivial"_s));
    QFile file(site.work + u"/sum.c"_s);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(source.replace("SECRET", QFile::encodeName(site.secret)));
    file.close();
    QProcess compiler;
    compiler.setWorkingDirectory(site.work);
    startSandboxed(compiler, site.work, 0);
    compiler.start(u"gcc"_s, {u"-o"_s, u"sum"_s, u"sum.c"_s});
    QVERIFY(compiler.waitForFinished(60000));
    const QString output = QString::fromLocal8Bit(compiler.readAllStandardError());
    QCOMPARE(compiler.exitCode() == 0, builds);
    QVERIFY2(QFile::exists(site.work + u"/sum"_s) == builds, qPrintable(output));
}

void RunnerTest::compilerDiesWithJudge_data()
{
    QTest::addColumn<bool>("ordinaryUser");
    QTest::newRow("judge as it is started") << false;
    if (::geteuid() == 0)
        QTest::newRow("judge as an ordinary user") << true;
}

// A judge killed with SIGKILL during a compile leaves nothing of the compile
// running: not the compiler, not what it started.
void RunnerTest::compilerDiesWithJudge()
{
    QFETCH(bool, ordinaryUser);
    if (!sandboxWarning().isEmpty())
        QSKIP(qPrintable(sandboxWarning()));
    auto dir = makeWorkDir();
    if (ordinaryUser)
        QVERIFY(::chown(QFile::encodeName(dir->path()).constData(), 65534, 65534) == 0);
    QProcess judge;
    QStringList arguments{QCoreApplication::applicationFilePath(), u"--compile-for-ever"_s, dir->path()};
    if (ordinaryUser)
        arguments = QStringList{u"--reuid=65534"_s, u"--regid=65534"_s, u"--clear-groups"_s} + arguments;
    else
        arguments.removeFirst();
    judge.start(ordinaryUser ? u"setpriv"_s : QCoreApplication::applicationFilePath(), arguments);
    QVERIFY(judge.waitForStarted(10000));
    // The stand-in compiler and the process it left in the background.
    QTRY_VERIFY_WITH_TIMEOUT(livingProcessesIn(dir->path()).size() >= 2, 20000);
    ::kill(static_cast<pid_t>(judge.processId()), SIGKILL);
    QVERIFY(judge.waitForFinished(10000));
    QTRY_VERIFY_WITH_TIMEOUT(livingProcessesIn(dir->path()).isEmpty(), 10000);
}

// The scratch folder is removed after a judging run and made again for the
// next: the program must run in the new one, whatever number it gets.
void RunnerTest::replacedWorkFolder()
{
    auto top = makeWorkDir();
    const QString work = top->path() + u"/tmp"_s;
    for (int round = 0; round < 3; ++round) {
        QVERIFY(QDir(top->path()).mkdir(u"tmp"_s));
        QVERIFY(copyProgram(u"probe"_s, work, u"prog"_s));
        RunSlot judge;
        const RunResult result = runIn(judge, work, u"prog"_s, 5.0, 64.0);
        QVERIFY2(result.ok, qPrintable(result.note));
        QVERIFY(QFile::exists(work + u"/probe.txt"_s));
        QVERIFY(QDir(work).removeRecursively());
    }
}

void RunnerTest::withoutFilter_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("outcome");  // ok, state, note
    QTest::newRow("normal exit") << u"hello"_s << u"1 ?"_s;
    QTest::newRow("exit code") << u"exit3"_s << u"0 R 运行时错误: 3"_s;
    QTest::newRow("static array") << u"static512"_s << u"0 M 超过内存限制"_s;
    QTest::newRow("blocked for good") << u"blocked"_s << u"0 R 运行时错误: 未知"_s;
    QTest::newRow("children that try to survive") << u"family"_s << u"1 ?"_s;
}

// Where the runner cannot install its own filter (here: an outer filter
// already has a listener), it judges from its samples and searches for
// survivors after every run.
void RunnerTest::withoutFilter()
{
    QFETCH(QString, program);
    QFETCH(QString, outcome);
    auto dir = makeWorkDir();
    QVERIFY(copyProgram(program, dir->path(), u"prog"_s));
    QProcess judge;
    judge.start(QCoreApplication::applicationFilePath(), {u"--under-filter"_s, dir->path(), u"prog"_s});
    QVERIFY(judge.waitForFinished(60000));
    QCOMPARE(judge.exitCode(), 0);
    const QString line = QString::fromUtf8(judge.readAllStandardOutput()).trimmed();
    if (outcome.endsWith(u'?'))
        QVERIFY2(line.startsWith(outcome + u" 时间: "_s), qPrintable(line));
    else
        QCOMPARE(line, outcome);
    QVERIFY(livingProcessesIn(dir->path()).isEmpty());
    QVERIFY(!QFile::exists(dir->filePath(u"prog"_s)));
}

void RunnerTest::withoutNamespaces_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("timeLimit");
    QTest::addColumn<QString>("outcome");  // the start of "ok state note"
    QTest::newRow("normal exit") << u"hello"_s << u"5"_s << u"1 ? 时间: "_s;
    // Counted once they are reaped at the run's end, with the judge as their subreaper.
    QTest::newRow("children computing, never waited for") << u"orphans"_s << u"1"_s << u"0 T 超过时间限制"_s;
}

// Where the system refuses namespaces, programs still run, and the judge says
// why and what that means.
void RunnerTest::withoutNamespaces()
{
    QFETCH(QString, program);
    QFETCH(QString, timeLimit);
    QFETCH(QString, outcome);
    auto dir = makeWorkDir();
    QVERIFY(copyProgram(program, dir->path(), u"prog"_s));
    QProcess judge;
    judge.start(QCoreApplication::applicationFilePath(),
                {u"--without-namespaces"_s, dir->path(), u"prog"_s, timeLimit});
    QVERIFY(judge.waitForFinished(60000));
    QCOMPARE(judge.exitCode(), 0);
    const QStringList lines = QString::fromUtf8(judge.readAllStandardOutput()).trimmed().split(u'\n');
    QCOMPARE(lines.size(), 2);
    QVERIFY2(lines[0].startsWith(outcome), qPrintable(lines[0]));
    QVERIFY2(lines[1].startsWith(u"沙箱不可用: "_s), qPrintable(lines[1]));
    QVERIFY2(lines[1].contains(u"选手程序能读取比赛的其他文件"_s), qPrintable(lines[1]));
    QVERIFY(!QFile::exists(dir->filePath(u"prog"_s)));
    QVERIFY(livingProcessesIn(dir->path()).isEmpty());
}

// Runs one program as the judge would; prints "ok state note" and, on a
// second line, the judge's word on its sandbox.
static int runOne(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    RunSlot judge;
    double time = 0.0;
    double memory = 0.0;
    char state = '?';
    QString note;
    const double timeLimit = argc > 4 ? std::atof(argv[4]) : 5.0;
    const bool ok = runProgram(judge, QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]),
                               time, memory, state, note, timeLimit, 128.0);
    std::printf("%d %c %s\n%s\n", ok ? 1 : 0, state, note.toUtf8().constData(), sandboxWarning().toUtf8().constData());
    return 0;
}

// Starts a compiler that never ends, as the judge does, and waits for ever.
static int compileForEver(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QProcess compiler;
    const QString dir = QString::fromLocal8Bit(argv[2]);
    compiler.setWorkingDirectory(dir);
    startSandboxed(compiler, dir, 0);
    compiler.start(u"/bin/sh"_s, {u"-c"_s, u"sleep 300 & sleep 300"_s});
    if (!compiler.waitForStarted(10000))
        return 1;
    compiler.waitForFinished(-1);
    return 0;
}

// As runOne, inside a seccomp filter that already has a listener.
static int runUnderForeignFilter(int argc, char **argv)
{
    sock_filter allow = BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW);
    sock_fprog filter{1, &allow};
    if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0
        || ::syscall(SYS_seccomp, SECCOMP_SET_MODE_FILTER, SECCOMP_FILTER_FLAG_NEW_LISTENER, &filter) < 0)
        return 2;
    return runOne(argc, argv);
}

// As runOne, where the system refuses new namespaces.
static int runWithoutNamespaces(int argc, char **argv)
{
    const quint32 namespaces = CLONE_NEWNS | CLONE_NEWUSER | CLONE_NEWPID | CLONE_NEWNET | CLONE_NEWIPC;
    sock_filter code[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_unshare, 4, 0),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_clone3, 5, 0),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_clone, 0, 3),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, args)),
        BPF_JUMP(BPF_JMP | BPF_JSET | BPF_K, namespaces, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EPERM),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | ENOSYS),
    };
    sock_fprog filter{static_cast<unsigned short>(std::size(code)), code};
    if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 || ::syscall(SYS_seccomp, SECCOMP_SET_MODE_FILTER, 0, &filter) < 0)
        return 2;
    return runOne(argc, argv);
}

namespace {

// Runs the request with the program sandboxed or not, as asked.
RunRecord runWith(bool sandboxed, RunSlot &slot, const RunRequest &request)
{
    setProgramSandboxForTesting(sandboxed);
    const auto restore = qScopeGuard([] { setProgramSandboxForTesting(true); });
    return runProgram(slot, request);
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

} // namespace

void RunnerTest::boundedWorkFolder_data()
{
    QTest::addColumn<bool>("ordinaryUser");
    QTest::newRow("judge as it is started") << false;
    if (::geteuid() == 0)
        QTest::newRow("judge as an ordinary user") << true;
}

// A program that takes all the space it can from its work folder fills only
// its own: the program judged beside it writes its whole output, and the
// contest's disk (a small one the helper mounts) loses nothing but the results.
void RunnerTest::boundedWorkFolder()
{
    QFETCH(bool, ordinaryUser);
    if (!sandboxWarning().isEmpty())
        QSKIP(qPrintable(sandboxWarning()));
    if (::geteuid() != 0)
        QSKIP("mounting the contest's small disk needs root");
    auto contest = makeWorkDir();
    QProcess judge;
    judge.start(QCoreApplication::applicationFilePath(),
                {u"--fill-contest"_s, contest->path(), ordinaryUser ? u"1"_s : u"0"_s});
    QVERIFY(judge.waitForFinished(120000));
    const QString output = QString::fromUtf8(judge.readAllStandardOutput());
    QVERIFY2(judge.exitCode() == 0, qPrintable(output + QString::fromUtf8(judge.readAllStandardError())));
    QMap<QString, QString> seen;
    for (const QString &line : output.split(u'\n', Qt::SkipEmptyParts)) {
        const qsizetype equals = line.indexOf(u'=');
        if (equals > 0)
            seen.insert(line.left(equals), line.mid(equals + 1));
    }
    const QString figures = output;
    QVERIFY2(seen.value(u"honest"_s).startsWith(u"A 时间: "_s), qPrintable(figures));
    QCOMPARE(seen.value(u"out_bytes"_s).toLongLong(), 300LL * 16384);
    QVERIFY2(seen.value(u"filler"_s).startsWith(u"A 时间: "_s), qPrintable(figures));
    QCOMPARE(seen.value(u"kept"_s).toInt(), EOPNOTSUPP);
    QCOMPARE(seen.value(u"stdout_kept"_s).toInt(), EOPNOTSUPP);
    QCOMPARE(seen.value(u"bytes_error"_s).toInt(), ENOSPC);
    QCOMPARE(seen.value(u"files_error"_s).toInt(), ENOSPC);
    QVERIFY2(QList<int>({ENOSPC, EFBIG}).contains(seen.value(u"grow_error"_s).toInt()), qPrintable(figures));
    // More than the whole contest disk, no more than its output allowance.
    const qint64 bytes = seen.value(u"bytes"_s).toLongLong();
    QVERIFY2(bytes > (qint64(64) << 20) && bytes <= (qint64(258) << 20), qPrintable(figures));
    const int files = seen.value(u"files"_s).toInt();
    QVERIFY2(files > 100 && files <= 1100, qPrintable(figures));
    // What came back, and a page or two of folder entries.
    const qint64 lost = seen.value(u"free_before"_s).toLongLong() - seen.value(u"free_after"_s).toLongLong();
    QVERIFY2(lost <= 300LL * 16384 + 64 * 1024, qPrintable(figures));
    QCOMPARE(seen.value(u"left_a"_s), u"fill.txt stdout.txt"_s);
    QCOMPARE(seen.value(u"left_b"_s), u"out.txt"_s);
}

void RunnerTest::results_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<bool>("declared");
    QTest::addColumn<QStringList>("left");
    QTest::addColumn<QByteArray>("output");
    QTest::newRow("every file made or changed") << u"results"_s << false
                                                << QStringList{u"in.txt"_s, u"note.txt"_s, u"out.txt"_s} << QByteArray("7\n");
    QTest::newRow("only the declared output") << u"results"_s << true << QStringList{u"in.txt"_s, u"out.txt"_s}
                                              << QByteArray("7\n");
    QTest::newRow("declared output made a link to the input")
        << u"resultslink"_s << true << QStringList{u"in.txt"_s} << QByteArray();
}

// What the judge gets back from a run: what it asked for, as regular files,
// never through a link, and never its executable again.
void RunnerTest::results()
{
    QFETCH(QString, program);
    QFETCH(bool, declared);
    QFETCH(QStringList, left);
    QFETCH(QByteArray, output);
    auto dir = makeWorkDir();
    QVERIFY(copyProgram(program, dir->path(), u"prog"_s));
    RunRequest request;
    request.workDir = dir->path();
    request.executable = u"prog"_s;
    request.limits.time = 5.0;
    request.limits.memory = 64.0;
    if (declared)
        request.results = QStringList{u"out.txt"_s, u"missing.txt"_s};
    QFile input(dir->filePath(u"in.txt"_s));
    QVERIFY(input.open(QIODevice::WriteOnly));
    input.write("3 4\n");
    input.close();
    RunSlot judge;
    const RunRecord record = runProgram(judge, request);
    QVERIFY2(record.status == RunStatus::Passed, qPrintable(record.note));
    if (sandboxWarning().isEmpty()) {
        QCOMPARE(QDir(dir->path()).entryList(QDir::Files | QDir::System, QDir::Name), left);
        if (!output.isEmpty())
            QCOMPARE(readFile(dir->filePath(u"out.txt"_s)), output);
    }
    QCOMPARE(readFile(dir->filePath(u"in.txt"_s)), QByteArray("3 4\n"));
}

void RunnerTest::fixedEnvironment_data()
{
    QTest::addColumn<QString>("started");  // program, program without sandbox, compiler
    QTest::addColumn<QStringList>("expected");
    const QString path = u"PATH=/usr/local/bin:/usr/bin:/bin"_s;
    const QString language = u"LANG=C.UTF-8"_s;
    QTest::newRow("program in its sandbox") << u"program"_s << QStringList{path, language, u"HOME=/box"_s};
    QTest::newRow("program without sandbox") << u"unsandboxed"_s << QStringList{path, language};
    QTest::newRow("compiler") << u"compiler"_s << QStringList{path, language, u"TMPDIR=/tmp"_s};
}

// Whatever the judge's own environment holds, programs and compilers see the
// same few variables on every machine.
void RunnerTest::fixedEnvironment()
{
    QFETCH(QString, started);
    QFETCH(QStringList, expected);
    if (started != u"unsandboxed" && !sandboxWarning().isEmpty())
        QSKIP(qPrintable(sandboxWarning()));
    const QList<QPair<QByteArray, QByteArray>> judges = {
        {"HOME", "/root"}, {"http_proxy", "http://proxy.invalid:3128"},
        {"GLIBC_TUNABLES", "glibc.malloc.perturb=42"}, {"LD_LIBRARY_PATH", "/nowhere"}, {"LC_ALL", "zh_CN.UTF-8"}};
    QList<QPair<QByteArray, QByteArray>> saved;
    for (const auto &variable : judges) {
        saved.append({variable.first, qgetenv(variable.first.constData())});
        qputenv(variable.first.constData(), variable.second);
    }
    const auto restore = qScopeGuard([&] {
        for (const auto &variable : saved) {
            if (variable.second.isNull())
                qunsetenv(variable.first.constData());
            else
                qputenv(variable.first.constData(), variable.second);
        }
    });
    auto dir = makeWorkDir();
    QStringList seen;
    if (started == u"compiler") {
        QProcess compiler;
        compiler.setWorkingDirectory(dir->path());
        startSandboxed(compiler, dir->path(), 0);
        compiler.start(u"/usr/bin/env"_s, {});
        QVERIFY(compiler.waitForFinished(60000));
        seen = QString::fromUtf8(compiler.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
    } else {
        QVERIFY(copyProgram(u"environment"_s, dir->path(), u"prog"_s));
        RunSlot slot;
        RunRequest request;
        request.workDir = dir->path();
        request.executable = u"prog"_s;
        const RunRecord record = runWith(started == u"program", slot, request);
        QVERIFY2(record.status == RunStatus::Passed, qPrintable(record.note));
        seen = QString::fromUtf8(readFile(dir->filePath(u"environment.txt"_s))).split(u'\n', Qt::SkipEmptyParts);
    }
    seen.sort();
    expected.sort();
    QCOMPARE(seen, expected);
}

void RunnerTest::standardStreams_data()
{
    QTest::addColumn<bool>("sandboxed");
    QTest::addColumn<QByteArray>("input");  // kept outside the work folder; empty: none given
    QTest::addColumn<QByteArray>("stale");  // in the output file before the run; empty: no such file
    QTest::addColumn<qint64>("outputLimit");
    QTest::addColumn<QString>("status");
    QTest::addColumn<QString>("note");  // empty: the time and memory note
    QTest::addColumn<qint64>("outputSize");

    const QByteArray lines = QByteArray("3 4\n5 6\n").repeated(1000);
    const QByteArray twoMb = QByteArray(2 << 20, 'x');
    for (const bool sandboxed : {true, false}) {
        const char *how = sandboxed ? "sandboxed" : "unsandboxed";
        QTest::addRow("%s: input file in, output file out", how)
            << sandboxed << lines << QByteArray() << (qint64(256) << 20) << u"passed"_s << QString() << qint64(lines.size());
        QTest::addRow("%s: no input file, standard input at its end", how)
            << sandboxed << QByteArray() << QByteArray() << (qint64(256) << 20) << u"passed"_s << QString() << qint64(0);
        QTest::addRow("%s: an old output file emptied first", how)
            << sandboxed << QByteArray("new\n") << QByteArray("stale output, much longer than the new\n")
            << (qint64(256) << 20) << u"passed"_s << QString() << qint64(4);
        QTest::addRow("%s: output over its limit", how)
            << sandboxed << twoMb << QByteArray() << (qint64(1) << 20) << u"runtime-error"_s
            << u"运行时错误: 输出文件过大"_s << (qint64(1) << 20);
    }
}

// The program reads the input file as standard input and its standard
// output lands in the named file, wherever the two lie.
void RunnerTest::standardStreams()
{
    QFETCH(bool, sandboxed);
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, stale);
    QFETCH(qint64, outputLimit);
    QFETCH(QString, status);
    QFETCH(QString, note);
    QFETCH(qint64, outputSize);
    if (sandboxed && !sandboxWarning().isEmpty())
        QSKIP(qPrintable(sandboxWarning()));

    auto work = makeWorkDir();
    auto data = makeWorkDir();  // the problem's data: out of the program's sight
    QVERIFY(copyProgram(u"copy"_s, work->path(), u"prog"_s));
    RunRequest request;
    request.workDir = work->path();
    request.executable = u"prog"_s;
    request.limits.time = 5.0;
    request.limits.memory = 64.0;
    request.limits.outputBytes = outputLimit;
    if (!input.isEmpty()) {
        request.input.file = data->filePath(u"case 1.in"_s);
        QVERIFY(writeFile(request.input.file, input));
    }
    request.output.file = work->filePath(u"prog.out"_s);
    if (!stale.isEmpty())
        QVERIFY(writeFile(request.output.file, stale));

    RunSlot slot;
    const RunRecord record = runWith(sandboxed, slot, request);
    const QString text = record.toText();
    QCOMPARE(RunRecord::fromText(text).value_or(RunRecord()).toText(), text);
    QVERIFY2(text.startsWith(u"status:"_s + status + u'\n'), qPrintable(text));
    QCOMPARE(record.note, note.isEmpty() ? usageNote(record.time, record.memory) : note);
    const QByteArray written = readFile(request.output.file);
    QCOMPARE(written.size(), outputSize);
    QCOMPARE(written, input.left(outputSize));
    QCOMPARE(readFile(request.input.file.isEmpty() ? work->filePath(u"none"_s) : request.input.file),
             input.isEmpty() ? QByteArray("(unreadable)") : input);
    QVERIFY(!QFile::exists(work->filePath(u"prog"_s)));
    QVERIFY(childrenOfTest().isEmpty());
    QTRY_COMPARE_WITH_TIMEOUT(openFilesIn(work->path()) + openFilesIn(data->path()), 0, 10000);
}

void RunnerTest::streamFailures_data()
{
    QTest::addColumn<QString>("setup");
    QTest::addColumn<int>("error");
    QTest::newRow("input file missing") << u"missing input"_s << ENOENT;
    QTest::newRow("input is a folder") << u"folder input"_s << EINVAL;
    QTest::newRow("input is a FIFO nobody writes to") << u"fifo input"_s << EINVAL;
    QTest::newRow("output through a regular file") << u"output below a file"_s << ENOTDIR;
    QTest::newRow("output is a link to a file of the judge's") << u"output link"_s << ELOOP;
}

// A stream the judge cannot open is its own failure, before anything starts.
void RunnerTest::streamFailures()
{
    QFETCH(QString, setup);
    QFETCH(int, error);
    auto work = makeWorkDir();
    QVERIFY(copyProgram(u"copy"_s, work->path(), u"prog"_s));
    const QString precious = work->filePath(u"answer"_s);
    QVERIFY(writeFile(precious, "42\n"));
    RunRequest request;
    request.workDir = work->path();
    request.executable = u"prog"_s;
    request.input.file = work->filePath(u"in"_s);
    request.output.file = work->filePath(u"out"_s);
    if (setup == u"folder input") {
        QVERIFY(QDir(work->path()).mkdir(u"in"_s));
    } else if (setup == u"fifo input") {
        QVERIFY(::mkfifo(QFile::encodeName(request.input.file).constData(), 0600) == 0);
    } else if (setup == u"output below a file") {
        QVERIFY(writeFile(request.input.file, "1\n"));
        request.output.file = precious + u"/out"_s;
    } else if (setup == u"output link") {
        QVERIFY(writeFile(request.input.file, "1\n"));
        QVERIFY(QFile::link(precious, request.output.file));
    }

    RunSlot slot;
    QElapsedTimer clock;
    clock.start();
    const RunRecord record = runProgram(slot, request);
    QVERIFY(clock.elapsed() < 10000);
    QCOMPARE(record.status, RunStatus::StartFailed);
    QVERIFY(!record.started);
    QCOMPARE(record.note, u"线程创建失败: "_s + QString::number(error));
    QCOMPARE(readFile(precious), QByteArray("42\n"));
    QVERIFY(!QFile::exists(work->filePath(u"prog"_s)));
    QVERIFY(slot.runningExePath.isEmpty());
    QCOMPARE(slot.childProcess.pid, 0);
    QVERIFY(childrenOfTest().isEmpty());
}

void RunnerTest::recordText_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<bool>("started");
    QTest::addColumn<double>("time");
    QTest::addColumn<double>("memory");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<int>("signal");
    QTest::addColumn<QString>("note");
    QTest::addColumn<QString>("text");

    QTest::newRow("passed") << int(RunStatus::Passed) << true << 0.031 << 1.25 << 0 << 0
                            << u"时间: 0.03s 内存: 1.25MB"_s
                            << u"status:passed\ntime:0.031\nmemory:1.25\nexitcode:0\nnote:时间: 0.03s 内存: 1.25MB\n"_s;
    QTest::newRow("ended by a signal") << int(RunStatus::RuntimeError) << true << 0.5 << 3.0 << -1 << 11
                                       << u"运行时错误: SIGSEGV"_s
                                       << u"status:runtime-error\ntime:0.5\nmemory:3\nexitsig:11\nnote:运行时错误: SIGSEGV\n"_s;
    QTest::newRow("killed over its time, figures to the microsecond")
        << int(RunStatus::TimeLimit) << true << 1.010001 << 0.6640625 << -1 << 9 << u"超过时间限制"_s
        << u"status:time-limit\ntime:1.010001\nmemory:0.6640625\nexitsig:9\nnote:超过时间限制\n"_s;
    QTest::newRow("never started: no figures") << int(RunStatus::MemoryLimit) << false << 0.0 << 0.0 << -1 << 0
                                               << u"超过内存限制"_s << u"status:memory-limit\nnote:超过内存限制\n"_s;
    QTest::newRow("stopped") << int(RunStatus::Stopped) << false << 0.0 << 0.0 << -1 << 0 << QString()
                             << u"status:stopped\nnote:\n"_s;
    QTest::newRow("a note of two lines and a backslash")
        << int(RunStatus::StartFailed) << false << 0.0 << 0.0 << -1 << 0 << u"a\\b\nc:d"_s
        << u"status:start-failed\nnote:a\\\\b\\nc:d\n"_s;
}

void RunnerTest::recordText()
{
    QFETCH(int, status);
    QFETCH(bool, started);
    QFETCH(double, time);
    QFETCH(double, memory);
    QFETCH(int, exitCode);
    QFETCH(int, signal);
    QFETCH(QString, note);
    QFETCH(QString, text);
    RunRecord record;
    record.status = RunStatus(status);
    record.started = started;
    record.time = time;
    record.memory = memory;
    record.exitCode = exitCode;
    record.signal = signal;
    record.note = note;
    QCOMPARE(record.toText(), text);

    const std::optional<RunRecord> read = RunRecord::fromText(text);
    QVERIFY(read);
    QCOMPARE(int(read->status), status);
    QCOMPARE(read->started, started);
    QCOMPARE(read->time, time);
    QCOMPARE(read->memory, memory);
    QCOMPARE(read->exitCode, exitCode);
    QCOMPARE(read->signal, signal);
    QCOMPARE(read->note, note);
}

void RunnerTest::recordFromBadText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::newRow("a key this reader does not know") << u"status:passed\ncg-mem:12\nnote:\n"_s << true;
    QTest::newRow("no status") << u"time:1\nmemory:2\nnote:x\n"_s << false;
    QTest::newRow("unknown status") << u"status:TO\nnote:x\n"_s << false;
    QTest::newRow("time without memory") << u"status:passed\ntime:1\nnote:x\n"_s << false;
    QTest::newRow("time not a number") << u"status:passed\ntime:fast\nmemory:1\n"_s << false;
    QTest::newRow("negative signal") << u"status:runtime-error\nexitsig:-9\n"_s << false;
    QTest::newRow("unknown escape") << u"status:passed\nnote:a\\tb\n"_s << false;
    QTest::newRow("a line without a key") << u"status:passed\njust words\n"_s << false;
    QTest::newRow("empty") << QString() << false;
}

void RunnerTest::recordFromBadText()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QCOMPARE(RunRecord::fromText(text).has_value(), valid);
}

void RunnerTest::recordOfRun_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<bool>("stopFirst");
    QTest::addColumn<QString>("status");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<int>("signal");
    QTest::newRow("normal exit") << u"trivial"_s << false << u"passed"_s << 0 << 0;
    QTest::newRow("exit code 3") << u"exit3"_s << false << u"runtime-error"_s << 3 << 0;
    QTest::newRow("SIGSEGV") << u"segv"_s << false << u"runtime-error"_s << -1 << int(SIGSEGV);
    QTest::newRow("killed by the judge at its time limit") << u"loop"_s << false << u"time-limit"_s << -1 << int(SIGKILL);
    QTest::newRow("stopped before the start") << u"trivial"_s << true << u"stopped"_s << -1 << 0;
}

// How the program ended, as its record says.
void RunnerTest::recordOfRun()
{
    QFETCH(QString, program);
    QFETCH(bool, stopFirst);
    QFETCH(QString, status);
    QFETCH(int, exitCode);
    QFETCH(int, signal);
    auto dir = makeWorkDir();
    QVERIFY(copyProgram(program, dir->path(), u"prog"_s));
    RunRequest request;
    request.workDir = dir->path();
    request.executable = u"prog"_s;
    request.limits.time = 0.5;
    RunSlot slot;
    slot.keepRunning = !stopFirst;
    const RunRecord record = runProgram(slot, request);
    const QString text = record.toText();
    QVERIFY2(text.startsWith(u"status:"_s + status + u'\n'), qPrintable(text));
    QCOMPARE(record.exitCode, exitCode);
    QCOMPARE(record.signal, signal);
    QCOMPARE(record.started, !stopFirst);
    if (!stopFirst)
        QVERIFY2(record.time >= 0.0 && record.time <= 1.0 && record.memory > 0.0, qPrintable(text));
    QCOMPARE(RunRecord::fromText(text).value_or(RunRecord()).toText(), text);
    QVERIFY(childrenOfTest().isEmpty());
}

// Two programs judged side by side in a contest on a small disk of its own,
// mounted in a mount namespace of this helper alone: one takes all the space
// it can, the other writes an honest output. Prints "key=value" lines: the
// contest disk's free bytes before and after, each run's state and note,
// what the filler reports and what is left in each work folder. As an
// ordinary user the runs are made by this helper again, through setpriv.
static int fillContest(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QByteArray top = argv[2];
    const bool ordinaryUser = std::strcmp(argv[3], "1") == 0;
    if (!ordinaryUser || argc == 4) {
        if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0
            || ::mount("qxj-contest", top.constData(), "tmpfs", 0, "size=64m,nr_inodes=4096,mode=0755") != 0)
            return 2;
        const QString contest = QString::fromLocal8Bit(top);
        for (const char *work : {"a", "b"}) {
            if (!QDir(contest).mkdir(QString::fromLatin1(work)))
                return 2;
        }
        if (!copyProgram(u"filler"_s, contest + u"/a"_s, u"prog"_s) || !copyProgram(u"honest"_s, contest + u"/b"_s, u"prog"_s))
            return 2;
        if (ordinaryUser) {
            for (const char *path : {"", "/a", "/a/prog", "/b", "/b/prog"}) {
                if (::chown((top + path).constData(), 65534, 65534) != 0)
                    return 2;
            }
            QProcess judge;
            judge.setProcessChannelMode(QProcess::ForwardedChannels);
            judge.start(u"setpriv"_s, {u"--reuid=65534"_s, u"--regid=65534"_s, u"--clear-groups"_s,
                                       QCoreApplication::applicationFilePath(), u"--fill-contest"_s, contest,
                                       u"1"_s, u"run"_s});
            return judge.waitForFinished(100000) ? judge.exitCode() : 3;
        }
    }
    struct statvfs disk;
    auto freeBytes = [&] {
        return ::statvfs(top.constData(), &disk) == 0 ? qint64(disk.f_bavail) * qint64(disk.f_frsize) : -1;
    };
    const qint64 before = freeBytes();
    const QString contest = QString::fromLocal8Bit(top);
    auto run = [&](const QString &work, const QStringList &results, const QString &output) {
        RunRequest request;
        request.workDir = contest + work;
        request.executable = u"prog"_s;
        request.limits.time = 10.0;
        request.limits.memory = 64.0;
        request.results = results;
        if (!output.isEmpty())
            request.output.file = request.workDir + output;
        RunSlot slot;
        const RunRecord record = runProgram(slot, request);
        return QString(record.status == RunStatus::Passed ? QLatin1Char('A') : QLatin1Char(char(record.status)))
            + u' ' + record.note;
    };
    QString filler;
    std::thread beside([&] { filler = run(u"/a"_s, {u"fill.txt"_s}, u"/stdout.txt"_s); });
    const QString honest = run(u"/b"_s, {u"out.txt"_s}, QString());
    beside.join();
    const qint64 after = freeBytes();
    std::printf("free_before=%lld\nfree_after=%lld\nfiller=%s\nhonest=%s\n", static_cast<long long>(before),
                static_cast<long long>(after), filler.toUtf8().constData(), honest.toUtf8().constData());
    std::printf("%s", readFile(contest + u"/a/fill.txt"_s).constData());
    std::printf("out_bytes=%lld\n", static_cast<long long>(QFileInfo(contest + u"/b/out.txt"_s).size()));
    for (const char *work : {"a", "b"}) {
        std::printf("left_%s=%s\n", work,
                    QDir(contest + u'/' + QLatin1String(work)).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System, QDir::Name)
                        .join(u' ')
                        .toUtf8()
                        .constData());
    }
    return 0;
}

int main(int argc, char **argv)
{
    if (argc == 4 && std::strcmp(argv[1], "--under-filter") == 0)
        return runUnderForeignFilter(argc, argv);
    if (argc == 3 && std::strcmp(argv[1], "--compile-for-ever") == 0)
        return compileForEver(argc, argv);
    if (argc == 4 && std::strcmp(argv[1], "--run") == 0)
        return runOne(argc, argv);
    if ((argc == 4 || argc == 5) && std::strcmp(argv[1], "--fill-contest") == 0)
        return fillContest(argc, argv);
    if ((argc == 4 || argc == 5) && std::strcmp(argv[1], "--without-namespaces") == 0)
        return runWithoutNamespaces(argc, argv);
    QCoreApplication app(argc, argv);
    RunnerTest test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_runner.moc"
