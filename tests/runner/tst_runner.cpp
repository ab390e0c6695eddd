// The runner's tests in one executable, and the helper modes they start it in.

#include "runnerfixture.h"
#include "sandbox_linux.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/statvfs.h>
#include <sys/syscall.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace runnerfixture;

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
        RunRequest request = requestIn(contest + work);
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

// What a program of slotsApart reports, as its mode file says: "leave"
// marks /tmp and /dev/shm and waits a little for the other slot's run.
// bash, not dash: under load dash's forks in the sandbox fail now and then
// ("Cannot fork"), which is not what this checks.
const QByteArray slotProgram = R"sh(#!/bin/bash
mode=$(cat mode)
if [ "$mode" != look ]; then
    echo x > "/tmp/mark-$mode" && echo x > "/dev/shm/mark-$mode" && sleep 1
fi
{
    echo "tmp=$(ls -A /tmp | tr '\n' ' ' | sed 's/ $//')"
    echo "shm=$(ls -A /dev/shm | tr '\n' ' ' | sed 's/ $//')"
    echo "net=$(readlink /proc/self/ns/net)"
    echo "ipc=$(readlink /proc/self/ns/ipc)"
    highest=0
    for process in /proc/[0-9]*; do
        [ "${process#/proc/}" -gt "$highest" ] && highest=${process#/proc/}
    done
    echo "pids=$highest"
    echo "token=$(cat token 2>/dev/null)"
} > report.txt
)sh";

// Runs of two slots in TOP/a and TOP/b: side by side, then the first slot's
// again, then again in a folder a made anew. Prints each run's report and
// state with its name ("a1_tmp=..."), and whether the judge kept a user
// namespace of its own. As an ordinary user the runs are made by this helper
// again, through setpriv.
static int slotsApartRuns(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QString top = QString::fromLocal8Bit(argv[2]);
    const bool ordinaryUser = std::strcmp(argv[3], "1") == 0;
    auto prepare = [&](const QString &slot, const QByteArray &mode, const QByteArray &token) {
        const QString work = top + u'/' + slot;
        return QDir().mkpath(work) && writeFile(work + u"/prog"_s, slotProgram)
               && QFile::setPermissions(work + u"/prog"_s, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner
                                                               | QFile::ReadOther | QFile::ExeOther)
               && writeFile(work + u"/mode"_s, mode + '\n') && (token.isEmpty() || writeFile(work + u"/token"_s, token));
    };
    if (ordinaryUser && argc == 4) {
        if (!prepare(u"a"_s, "a", {}) || !prepare(u"b"_s, "b", {}))
            return 2;
        for (const QString &path : {top, top + u"/a"_s, top + u"/b"_s}) {
            if (::chown(QFile::encodeName(path).constData(), 65534, 65534) != 0)
                return 2;
            for (const QString &name : QDir(path).entryList(QDir::Files)) {
                if (::chown(QFile::encodeName(path + u'/' + name).constData(), 65534, 65534) != 0)
                    return 2;
            }
        }
        QProcess judge;
        judge.setProcessChannelMode(QProcess::ForwardedChannels);
        judge.start(u"setpriv"_s, {u"--reuid=65534"_s, u"--regid=65534"_s, u"--clear-groups"_s,
                                   QCoreApplication::applicationFilePath(), u"--slots"_s, top, u"1"_s, u"run"_s});
        return judge.waitForFinished(100000) ? judge.exitCode() : 3;
    }
    if (!ordinaryUser && (!prepare(u"a"_s, "a", {}) || !prepare(u"b"_s, "b", {})))
        return 2;
    RunSlot judges[2];
    auto run = [&](int slot, const QString &name) {
        RunRequest request = requestIn(top + (slot == 0 ? u"/a"_s : u"/b"_s));
        request.limits.time = 10.0;
        request.limits.memory = 64.0;
        const RunRecord record = runProgram(judges[slot], request);
        QByteArray lines = "state=" + QByteArray(1, record.status == RunStatus::Passed ? 'A' : char(record.status))
                           + ' ' + record.note.toUtf8() + '\n' + readFile(request.workDir + u"/report.txt"_s);
        QByteArray named;
        for (const QByteArray &line : lines.split('\n')) {
            if (!line.isEmpty())
                named += name.toUtf8() + '_' + line + '\n';
        }
        return named;
    };
    QByteArray a1;
    std::thread beside([&] { a1 = run(0, u"a1"_s); });
    const QByteArray b1 = run(1, u"b1"_s);
    beside.join();
    // The judge removes a program once it has run.
    QFile::remove(top + u"/a/report.txt"_s);
    if (!writeFile(top + u"/a/mode"_s, "look\n") || !prepare(u"a"_s, "look", {}))
        return 2;
    const QByteArray a2 = run(0, u"a2"_s);
    if (!QDir(top + u"/a"_s).removeRecursively() || !prepare(u"a"_s, "look", "new"))
        return 2;
    const QByteArray a3 = run(0, u"a3"_s);
    std::printf("%s%s%s%skept=%d\n", a1.constData(), b1.constData(), a2.constData(), a3.constData(),
                sandbox::judgeUserNamespace() >= 0 ? 1 : 0);
    return 0;
}

// As runOne, as an ordinary user where the system refuses to join
// namespaces: any, or (networks) only network namespaces.
static int runWithoutJoining(int argc, char **argv)
{
    const bool networks = std::strcmp(argv[1], "--without-joining-networks") == 0;
    sock_filter code[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_setns, 0, 4),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, args) + sizeof(quint64)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, networks ? quint32(CLONE_NEWNET) : 0, 1, 0),
        BPF_JUMP(BPF_JMP | BPF_JA, networks ? 1u : 0u, 0, 0),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EPERM),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    sock_fprog filter{static_cast<unsigned short>(std::size(code)), code};
    if (::geteuid() == 0) {
        const QByteArray dir = argv[2];
        for (const QByteArray &path : {dir, dir + '/' + argv[3]}) {
            if (::chown(path.constData(), 65534, 65534) != 0)
                return 2;
        }
    }
    if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 || ::syscall(SYS_seccomp, SECCOMP_SET_MODE_FILTER, 0, &filter) < 0)
        return 2;
    if (::geteuid() != 0)
        return runOne(argc, argv);
    std::vector<char *> arguments{const_cast<char *>("setpriv"), const_cast<char *>("--reuid=65534"),
                                  const_cast<char *>("--regid=65534"), const_cast<char *>("--clear-groups")};
    arguments.insert(arguments.end(), argv, argv + argc);
    arguments.push_back(nullptr);
    ::execvp("setpriv", arguments.data());
    return 2;
}

int main(int argc, char **argv)
{
    if (argc == 4 && std::strcmp(argv[1], "--under-filter") == 0)
        return runUnderForeignFilter(argc, argv);
    if (argc == 3 && std::strcmp(argv[1], "--compile-for-ever") == 0)
        return compileForEver(argc, argv);
    if ((argc == 4 || argc == 5) && std::strcmp(argv[1], "--run") == 0)
        return runOne(argc, argv);
    if ((argc == 4 || argc == 5) && std::strcmp(argv[1], "--fill-contest") == 0)
        return fillContest(argc, argv);
    if ((argc == 4 || argc == 5) && std::strcmp(argv[1], "--without-namespaces") == 0)
        return runWithoutNamespaces(argc, argv);
    if ((argc == 4 || argc == 5)
        && (std::strcmp(argv[1], "--without-joining") == 0 || std::strcmp(argv[1], "--without-joining-networks") == 0))
        return runWithoutJoining(argc, argv);
    if ((argc == 4 || argc == 5) && std::strcmp(argv[1], "--slots") == 0)
        return slotsApartRuns(argc, argv);
    QCoreApplication app(argc, argv);
    RunnerTest test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
