// Process trees, the stop protocol, standard streams and the record of a run.

#include "runnerfixture.h"

#include <QMutexLocker>
#include <QScopeGuard>
#include <QStandardPaths>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <thread>

#include <poll.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace runnerfixture;

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
    RunRequest request = requestIn(work->path());
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
    RunRequest request = requestIn(work->path());
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
    RunRequest request = requestIn(dir->path());
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
