// Programs run under their limits: verdicts, figures, and nothing left behind.

#include "runnerfixture.h"

#include <QRegularExpression>
#include <QStandardPaths>

#include <csignal>
#include <limits>

#include <fcntl.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace runnerfixture;

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

    const QMap<QString, QString> seen = readReport(work.filePath(u"probe.txt"_s));
    QVERIFY(!seen.isEmpty());
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

void RunnerTest::processFamilies_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("report");  // the file it writes in its work folder
    QTest::addColumn<QString>("holds");  // what that file holds, as a pattern
    // All three had started, and none is left.
    QTest::newRow("children that try to survive") << u"family"_s << u"pids.txt"_s << u"([0-9]+\n){3}"_s;
    QTest::newRow("process creation capped") << u"forks"_s << u"forks.txt"_s << u"64\n"_s;
}

void RunnerTest::processFamilies()
{
    QFETCH(QString, program);
    QFETCH(QString, report);
    QFETCH(QString, holds);
    auto dir = makeWorkDir();
    QVERIFY(copyProgram(program, dir->path(), program));
    RunSlot judge;
    const RunResult result = runIn(judge, dir->path(), program, 5.0, 64.0);
    QVERIFY2(result.ok, qPrintable(result.note));
    const QString written = QString::fromUtf8(readFile(dir->filePath(report)));
    QVERIFY2(QRegularExpression(QRegularExpression::anchoredPattern(holds)).match(written).hasMatch(),
             qPrintable(written));
    QVERIFY(livingProcessesIn(dir->path()).isEmpty());
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
