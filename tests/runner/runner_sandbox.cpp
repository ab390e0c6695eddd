// The sandbox around a run and a compile: what is out of reach, what comes back.

#include "runnerfixture.h"

#include <QScopeGuard>
#include <QStandardPaths>

#include <cerrno>
#include <csignal>
#include <thread>

#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace runnerfixture;

void RunnerTest::confined_data()
{
    addJudgeUsers();
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
    QTest::addColumn<bool>("program");  // a program's run rather than a compile
    QTest::newRow("compile, judge as it is started") << false << false;
    QTest::newRow("program, judge as it is started") << false << true;
    if (::geteuid() == 0) {
        QTest::newRow("compile, judge as an ordinary user") << true << false;
        QTest::newRow("program, judge as an ordinary user") << true << true;
    }
}

namespace {

// The processes below pid, by pid and start time.
QList<ProcStat> descendantsOf(pid_t pid)
{
    const std::vector<ProcStat> processes = listProcesses();
    QList<ProcStat> found;
    QList<pid_t> parents{pid};
    for (qsizetype grown = 1; grown > 0;) {
        grown = 0;
        for (const ProcStat &process : processes) {
            if (parents.contains(process.ppid) && !parents.contains(process.pid)) {
                parents.append(process.pid);
                found.append(process);
                ++grown;
            }
        }
    }
    return found;
}

bool anyAlive(const QList<ProcStat> &processes)
{
    for (const ProcStat &now : listProcesses()) {
        for (const ProcStat &seen : processes) {
            if (now.pid == seen.pid && now.startTicks == seen.startTicks && now.state != 'Z' && now.state != 'X')
                return true;
        }
    }
    return false;
}

} // namespace

// A judge killed with SIGKILL during a compile or a run leaves nothing of it
// running: not the compiler or the program, not what they started, not the
// processes the judge put between itself and them.
void RunnerTest::compilerDiesWithJudge()
{
    QFETCH(bool, ordinaryUser);
    QFETCH(bool, program);
    if (!sandboxWarning().isEmpty())
        QSKIP(qPrintable(sandboxWarning()));
    auto dir = makeWorkDir();
    if (program)
        QVERIFY(copyProgram(u"sleeper"_s, dir->path(), u"prog"_s));
    if (ordinaryUser) {
        QVERIFY(::chown(QFile::encodeName(dir->path()).constData(), 65534, 65534) == 0);
        if (program)
            QVERIFY(::chown(QFile::encodeName(dir->filePath(u"prog"_s)).constData(), 65534, 65534) == 0);
    }
    QProcess judge;
    QStringList arguments{QCoreApplication::applicationFilePath(), u"--compile-for-ever"_s, dir->path()};
    if (program)
        arguments = QStringList{QCoreApplication::applicationFilePath(), u"--run"_s, dir->path(), u"prog"_s, u"60"_s};
    if (ordinaryUser)
        arguments = QStringList{u"--reuid=65534"_s, u"--regid=65534"_s, u"--clear-groups"_s} + arguments;
    else
        arguments.removeFirst();
    judge.start(ordinaryUser ? u"setpriv"_s : QCoreApplication::applicationFilePath(), arguments);
    QVERIFY(judge.waitForStarted(10000));
    // The stand-in compiler and the process it left in the background; the
    // program and its sandbox's init.
    QTRY_VERIFY_WITH_TIMEOUT(livingProcessesIn(dir->path()).size() >= 2, 20000);
    const QList<ProcStat> started = descendantsOf(static_cast<pid_t>(judge.processId()));
    QVERIFY(started.size() >= 2);
    ::kill(static_cast<pid_t>(judge.processId()), SIGKILL);
    QVERIFY(judge.waitForFinished(10000));
    QTRY_VERIFY_WITH_TIMEOUT(livingProcessesIn(dir->path()).isEmpty(), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(!anyAlive(started), 10000);
}

void RunnerTest::slotsApart_data()
{
    addJudgeUsers();
}

// Runs of two slots side by side share no /tmp, /dev/shm, network or IPC;
// a slot's next run finds none of what the run before it left there; a work
// folder made anew under the same name is the one the next run sees.
void RunnerTest::slotsApart()
{
    QFETCH(bool, ordinaryUser);
    if (!sandboxWarning().isEmpty())
        QSKIP(qPrintable(sandboxWarning()));
    auto top = makeWorkDir();
    QProcess judge;
    judge.start(QCoreApplication::applicationFilePath(), {u"--slots"_s, top->path(), ordinaryUser ? u"1"_s : u"0"_s});
    QVERIFY(judge.waitForFinished(120000));
    const QString output = QString::fromUtf8(judge.readAllStandardOutput());
    QVERIFY2(judge.exitCode() == 0, qPrintable(output + QString::fromUtf8(judge.readAllStandardError())));
    const QMap<QString, QString> seen = readReport(output.toUtf8());
    for (const char *run : {"a1", "b1", "a2", "a3"})
        QVERIFY2(seen.value(QString::fromLatin1(run) + u"_state"_s).startsWith(u"A "_s), qPrintable(output));
    // Side by side.
    QCOMPARE(seen.value(u"a1_tmp"_s), u"mark-a"_s);
    QCOMPARE(seen.value(u"a1_shm"_s), u"mark-a"_s);
    QCOMPARE(seen.value(u"b1_tmp"_s), u"mark-b"_s);
    QCOMPARE(seen.value(u"b1_shm"_s), u"mark-b"_s);
    QVERIFY2(!seen.value(u"a1_net"_s).isEmpty() && seen.value(u"a1_net"_s) != seen.value(u"b1_net"_s), qPrintable(output));
    QVERIFY2(!seen.value(u"a1_ipc"_s).isEmpty() && seen.value(u"a1_ipc"_s) != seen.value(u"b1_ipc"_s), qPrintable(output));
    // One after another in one slot.
    QCOMPARE(seen.value(u"a2_tmp"_s), QString());
    QCOMPARE(seen.value(u"a2_shm"_s), QString());
    // (Not a2's IPC against a1's: a namespace's number is used again once it is gone.)
    QVERIFY2(!seen.value(u"a2_net"_s).isEmpty() && seen.value(u"a2_net"_s) != seen.value(u"b1_net"_s), qPrintable(output));
    // The folder made anew.
    QCOMPARE(seen.value(u"a3_token"_s), u"new"_s);
    QCOMPARE(seen.value(u"a3_tmp"_s), QString());
    // Each run's /proc shows its own few processes alone.
    for (const char *run : {"a1", "b1", "a2", "a3"}) {
        const int highest = seen.value(QString::fromLatin1(run) + u"_pids"_s).toInt();
        QVERIFY2(highest >= 1 && highest < 64, qPrintable(output));
    }
    // The runs of an ordinary user's judge went through its own user namespace.
    if (ordinaryUser)
        QCOMPARE(seen.value(u"kept"_s), u"1"_s);
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

void RunnerTest::restricted_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("timeLimit");  // empty: the helper's own
    QTest::addColumn<QString>("outcome");  // "ok state note", or its start up to the time
    // Where the runner cannot install its own filter (here: an outer filter
    // already has a listener), it judges from its samples and searches for
    // survivors after every run.
    const QString filter = u"--under-filter"_s;
    QTest::newRow("outer filter: normal exit") << filter << u"hello"_s << QString() << u"1 ? 时间: "_s;
    QTest::newRow("outer filter: exit code") << filter << u"exit3"_s << QString() << u"0 R 运行时错误: 3"_s;
    QTest::newRow("outer filter: static array") << filter << u"static512"_s << QString() << u"0 M 超过内存限制"_s;
    QTest::newRow("outer filter: blocked for good") << filter << u"blocked"_s << QString() << u"0 R 运行时错误: 未知"_s;
    QTest::newRow("outer filter: children that try to survive") << filter << u"family"_s << QString() << u"1 ? 时间: "_s;
    // Where the system refuses namespaces, programs still run, and the judge
    // says why and what that means.
    const QString namespaces = u"--without-namespaces"_s;
    QTest::newRow("no namespaces: normal exit") << namespaces << u"hello"_s << u"5"_s << u"1 ? 时间: "_s;
    // Counted once they are reaped at the run's end, with the judge as their subreaper.
    QTest::newRow("no namespaces: children computing, never waited for")
        << namespaces << u"orphans"_s << u"1"_s << u"0 T 超过时间限制"_s;
    // Where an ordinary user's judge cannot join the namespaces it keeps (made
    // with none, or refused at the run), runs are sandboxed as without them.
    if (::geteuid() == 0) {
        QTest::newRow("ordinary user joining nothing: normal exit")
            << u"--without-joining"_s << u"hello"_s << u"5"_s << u"1 ? 时间: "_s;
        QTest::newRow("ordinary user joining no network: normal exit")
            << u"--without-joining-networks"_s << u"hello"_s << u"5"_s << u"1 ? 时间: "_s;
        QTest::newRow("ordinary user joining no network: runtime error")
            << u"--without-joining-networks"_s << u"exit3"_s << u"5"_s << u"0 R 运行时错误: 3"_s;
    }
}

// The judge run by this helper again, under what the system withholds.
void RunnerTest::restricted()
{
    QFETCH(QString, mode);
    QFETCH(QString, program);
    QFETCH(QString, timeLimit);
    QFETCH(QString, outcome);
    auto dir = makeWorkDir();
    QVERIFY(copyProgram(program, dir->path(), u"prog"_s));
    QProcess judge;
    QStringList arguments{mode, dir->path(), u"prog"_s};
    if (!timeLimit.isEmpty())
        arguments << timeLimit;
    judge.start(QCoreApplication::applicationFilePath(), arguments);
    QVERIFY(judge.waitForFinished(60000));
    QCOMPARE(judge.exitCode(), 0);
    const QStringList lines = QString::fromUtf8(judge.readAllStandardOutput()).trimmed().split(u'\n');
    if (outcome.endsWith(u"时间: "_s))
        QVERIFY2(lines[0].startsWith(outcome), qPrintable(lines[0]));
    else
        QCOMPARE(lines[0], outcome);
    if (mode == u"--without-namespaces") {
        QCOMPARE(lines.size(), 2);
        QVERIFY2(lines[1].startsWith(u"沙箱不可用: "_s), qPrintable(lines[1]));
        QVERIFY2(lines[1].contains(u"选手程序能读取比赛的其他文件"_s), qPrintable(lines[1]));
    } else {
        QCOMPARE(lines.size(), 1);
    }
    QVERIFY(!QFile::exists(dir->filePath(u"prog"_s)));
    QVERIFY(livingProcessesIn(dir->path()).isEmpty());
}

void RunnerTest::boundedWorkFolder_data()
{
    addJudgeUsers();
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
    const QMap<QString, QString> seen = readReport(output.toUtf8());
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
    RunRequest request = requestIn(dir->path());
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
        RunRequest request = requestIn(dir->path());
        const RunRecord record = runWith(started == u"program", slot, request);
        QVERIFY2(record.status == RunStatus::Passed, qPrintable(record.note));
        seen = QString::fromUtf8(readFile(dir->filePath(u"environment.txt"_s))).split(u'\n', Qt::SkipEmptyParts);
    }
    seen.sort();
    expected.sort();
    QCOMPARE(seen, expected);
}
