// runPair: a program and its peer joined by pipes, each in its sandbox,
// started and stopped together. The peers are shell scripts.

#include "procfs_linux.h"
#include "runner.h"
#include "runoutcome_linux.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

#include <sys/stat.h>
#include <sys/wait.h>

using namespace Qt::StringLiterals;

namespace {

const QString programsDir = QString::fromUtf8(QXJ_PROGRAMS_DIR);

bool writeScript(const QString &path, const QByteArray &text)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write("#!/bin/sh\n" + text + '\n') > 0
           && file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadOther
                                  | QFile::ExeOther);
}

// Live processes whose current directory is dir (known by its inode: a
// sandboxed process sees it as /box).
int livingProcessesIn(const QString &dir)
{
    struct stat wanted;
    if (::stat(QFile::encodeName(dir).constData(), &wanted) != 0)
        return 0;
    int found = 0;
    for (const ProcStat &process : listProcesses()) {
        struct stat cwd;
        const QByteArray link = "/proc/" + QByteArray::number(process.pid) + "/cwd";
        if (process.state != 'Z' && ::stat(link.constData(), &cwd) == 0 && cwd.st_dev == wanted.st_dev
            && cwd.st_ino == wanted.st_ino)
            ++found;
    }
    return found;
}

QString described(const PairRecord &record)
{
    if (!record.peerStarted)
        return u"peer not started"_s;
    QString text = QString(QLatin1Char(char(record.program.status)));
    if (record.program.status == RunStatus::Passed)
        text = u"passed"_s;
    if (record.program.signal)
        text += u' ' + signalName(record.program.signal);
    const int peer = record.peerWaitStatus;
    text += record.peerTimedOut      ? u", peer timed out"_s
            : WIFEXITED(peer)        ? u", peer "_s + QString::number(WEXITSTATUS(peer))
                                     : u", peer "_s + signalName(WTERMSIG(peer));
    return text;
}

} // namespace

class TestPairRun : public QObject
{
    Q_OBJECT

private slots:
    void pair_data();
    void pair();
    void stoppedBeforeStart();
};

void TestPairRun::pair_data()
{
    QTest::addColumn<QString>("program");  // from the test programs, or a system tool
    // A script, or "@" and one of the test programs; empty: none there.
    QTest::addColumn<QByteArray>("peer");
    QTest::addColumn<double>("timeLimit");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<int>("atLeastMs");

    QTest::newRow("talk") << u"copy"_s << QByteArray("echo hi; read x; test \"$x\" = hi") << 1.0
                          << u"passed, peer 0"_s << 0;
    // The idle rule would end it after 1.5 s; the peer answers after 2.2 s,
    // within the clock's 3.5 s.
    QTest::newRow("waits for a slow peer") << u"copy"_s << QByteArray("sleep 2.2; echo done; exit 4") << 0.5
                                           << u"passed, peer 4"_s << 2200;
    QTest::newRow("peer gone, program writes on") << u"/usr/bin/yes"_s << QByteArray("exit 0") << 1.0
                                                  << u"R SIGPIPE, peer 0"_s << 0;
    // The peer's writes fail instead of killing it.
    QTest::newRow("program gone, peer writes on")
        << u"trivial"_s << QByteArray("sleep 0.2; while echo x; do :; done; exit 7") << 1.0 << u"passed, peer 7"_s
        << 0;
    // Both read: the program's clock (0.3 s: 2.9 s) ends it, then the peer
    // reads the end.
    QTest::newRow("deadlock") << u"copy"_s << QByteArray("read x; exit 5") << 0.3 << u"T SIGKILL, peer 5"_s
                              << 2900;
    QTest::newRow("peer crashes") << u"copy"_s << QByteArray("@segv") << 1.0 << u"passed, peer SIGSEGV"_s << 0;
    QTest::newRow("no peer") << u"copy"_s << QByteArray() << 1.0 << u"peer not started"_s << 0;
}

void TestPairRun::pair()
{
    QFETCH(QString, program);
    QFETCH(QByteArray, peer);
    QFETCH(double, timeLimit);
    QFETCH(QString, expected);
    QFETCH(int, atLeastMs);

    QTemporaryDir work;
    QTemporaryDir peerWork;
    const QString source = program.startsWith(u'/') ? program : programsDir + u'/' + program;
    QVERIFY(QFile::copy(source, work.path() + u"/prog"_s));
    if (peer.startsWith('@'))
        QVERIFY(QFile::copy(programsDir + u'/' + QString::fromUtf8(peer.mid(1)), peerWork.path() + u"/peer"_s));
    else if (!peer.isEmpty())
        QVERIFY(writeScript(peerWork.path() + u"/peer"_s, peer));
    RunSlot slot;
    PairRequest request;
    request.program.workDir = work.path();
    request.program.executable = u"prog"_s;
    request.program.limits.time = timeLimit;
    request.peerDir = peerWork.path();
    request.peer = u"peer"_s;
    QElapsedTimer clock;
    clock.start();
    const PairRecord record = runPair(slot, request);
    QCOMPARE(described(record), expected);
    QVERIFY2(clock.elapsed() >= atLeastMs, qPrintable(QString::number(clock.elapsed())));
    // Nothing of either is left, and the slot holds no program.
    QCOMPARE(livingProcessesIn(work.path()), 0);
    QCOMPARE(livingProcessesIn(peerWork.path()), 0);
    QCOMPARE(slot.childProcess.pid, 0);
}

void TestPairRun::stoppedBeforeStart()
{
    QTemporaryDir work;
    QTemporaryDir peerWork;
    QVERIFY(QFile::copy(programsDir + u"/copy"_s, work.path() + u"/prog"_s));
    QVERIFY(writeScript(peerWork.path() + u"/peer"_s, "touch started"));
    RunSlot slot;
    slot.keepRunning = false;
    PairRequest request;
    request.program.workDir = work.path();
    request.program.executable = u"prog"_s;
    request.peerDir = peerWork.path();
    request.peer = u"peer"_s;
    const PairRecord record = runPair(slot, request);
    QCOMPARE(record.program.status, RunStatus::Stopped);
    QVERIFY(!record.program.started);
    QVERIFY(!QFileInfo::exists(peerWork.path() + u"/started"_s));
}

QTEST_GUILESS_MAIN(TestPairRun)
#include "tst_pairrun.moc"
