// Verdicts from samples, what the system tells of a process, and the run's record as text.

#include "runnerfixture.h"

#include <cerrno>
#include <csignal>

#include <sys/sysmacros.h>
#include <sys/wait.h>

using namespace Qt::StringLiterals;
using namespace runnerfixture;

void RunnerTest::outcome_data()
{
    QTest::addColumn<double>("time");
    QTest::addColumn<double>("memory");
    QTest::addColumn<bool>("ended");
    QTest::addColumn<int>("waitStatus");
    QTest::addColumn<bool>("idle");
    QTest::addColumn<bool>("pastClock");
    QTest::addColumn<int>("outcome");
    QTest::addColumn<QString>("state");
    QTest::addColumn<QString>("note");

    const int running = int(RunOutcome::Running);
    const int passed = int(RunOutcome::Passed);
    const int failed = int(RunOutcome::Failed);
    const int exited = W_EXITCODE(0, 0);
    const auto row = [](const char *name, double time, double memory, bool ended, int waitStatus, int outcome,
                        const QString &state, const QString &note, bool idle = false, bool pastClock = false) {
        QTest::newRow(name) << time << memory << ended << waitStatus << idle << pastClock << outcome << state << note;
    };
    // Limits: 1 s and 128 MB throughout.
    row("time equal to the limit passes", 1.0, 10.0, true, exited, passed, u"?"_s, u"时间: 1.00s 内存: 10.00MB"_s);
    row("memory equal to the limit passes", 0.5, 128.0, true, exited, passed, u"?"_s, u"时间: 0.50s 内存: 128.00MB"_s);
    row("two decimals, fixed point", 0.031, 1.25, true, exited, passed, u"?"_s, u"时间: 0.03s 内存: 1.25MB"_s);
    row("within both limits, still running", 0.99, 127.9, false, 0, running, u"?"_s, u"untouched"_s);
    row("memory tested before time", 2.0, 200.0, false, 0, failed, u"M"_s, u"超过内存限制"_s);
    row("time over while running", 1.01, 10.0, false, 0, failed, u"T"_s, u"超过时间限制"_s);
    row("ended over memory", 0.1, 128.01, true, exited, failed, u"M"_s, u"超过内存限制"_s);
    row("ended over time", 1.001, 10.0, true, exited, failed, u"T"_s, u"超过时间限制"_s);
    row("ended over memory with an exit code", 0.1, 300.0, true, W_EXITCODE(3, 0), failed, u"M"_s, u"超过内存限制"_s);
    row("exit code", 0.1, 1.0, true, W_EXITCODE(3, 0), failed, u"R"_s, u"运行时错误: 3"_s);
    row("exit code 255", 0.1, 1.0, true, W_EXITCODE(255, 0), failed, u"R"_s, u"运行时错误: 255"_s);
    row("SIGSEGV", 0.1, 1.0, true, W_EXITCODE(0, SIGSEGV), failed, u"R"_s, u"运行时错误: SIGSEGV"_s);
    row("SIGKILL", 0.1, 1.0, true, W_EXITCODE(0, SIGKILL), failed, u"R"_s, u"运行时错误: SIGKILL"_s);
    row("SIGXCPU is the time limit", 0.9, 1.0, true, W_EXITCODE(0, SIGXCPU), failed, u"T"_s, u"超过时间限制"_s);
    row("SIGXFSZ is too much output", 0.1, 1.0, true, W_EXITCODE(0, SIGXFSZ), failed, u"R"_s,
        u"运行时错误: 输出文件过大"_s);
    // Idle for too long, or past the clock's limit: 0.5 s used.
    row("idle too long", 0.5, 1.0, false, exited, failed, u"R"_s, u"运行时错误: 未知"_s, true, false);
    row("too long by the clock", 0.5, 1.0, false, exited, failed, u"T"_s, u"超过时间限制"_s, false, true);
    row("both: idleness first", 0.5, 1.0, false, exited, failed, u"R"_s, u"运行时错误: 未知"_s, true, true);
    row("over memory and idle: memory first", 0.5, 200.0, false, exited, failed, u"M"_s, u"超过内存限制"_s, true, true);
    row("neither counts once it has ended", 0.5, 1.0, true, exited, passed, u"?"_s, u"时间: 0.50s 内存: 1.00MB"_s,
        true, true);
}

void RunnerTest::outcome()
{
    QFETCH(double, time);
    QFETCH(double, memory);
    QFETCH(bool, ended);
    QFETCH(int, waitStatus);
    QFETCH(bool, idle);
    QFETCH(bool, pastClock);
    QFETCH(int, outcome);
    QFETCH(QString, state);
    QFETCH(QString, note);

    char gotState = '?';
    QString gotNote = u"untouched"_s;
    RunSample sample{time, memory, ended, waitStatus};
    sample.idle = idle;
    sample.pastClock = pastClock;
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
