// A shard's own ground in a shared contest folder: its lock, the calibration
// of its machine, and its scratch folder and record from begin to end.

#include "calibration.h"
#include "contest.h"
#include "shardlock.h"
#include "shardrecord.h"
#include "shardsession.h"
#include "testfiles.h"

#include <QCoreApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

const QString Calibrator = QStringLiteral(QXJ_CALIBRATE);
const QString Programs = QStringLiteral(QXJ_PROGRAMS_DIR);

QString ownHolder()
{
    return QSysInfo::machineHostName() + u' ' + QString::number(QCoreApplication::applicationPid());
}

} // namespace

class TestShardSession : public QObject, public ContestFixture
{
    Q_OBJECT

private slots:
    void init() { QVERIFY(renewContest()); }

    void lockIsExclusive()
    {
        const QString path = m_dir->path() + u"/tmp/shard-0-of-2.lock"_s;
        ShardLock first;
        QString holder;
        QVERIFY(first.acquire(path, holder));  // its folder made on the way
        QVERIFY(first.held());
        QCOMPARE(QString::fromUtf8(readTestFile(path)).trimmed(), ownHolder());

        ShardLock second;
        QVERIFY(!second.acquire(path, holder));
        QVERIFY(!second.held());
        QCOMPARE(holder, ownHolder());

        first.release();
        QVERIFY(!QFileInfo::exists(path));
        QVERIFY(second.acquire(path, holder));
        QVERIFY(holder.isEmpty());
    }

    // What a killed run leaves is a file nobody locks: taken over at once.
    void lockOfAKilledHolder()
    {
        const QString path = m_dir->path() + u"/shard.lock"_s;
        QProcess holderProcess;
        // The lock's only holder is the process killed below.
        holderProcess.start(u"bash"_s, {u"-c"_s, u"exec 9>\"$0\" && flock -n 9 && exec sleep 600"_s, path});
        QVERIFY(holderProcess.waitForStarted());
        ShardLock lock;
        QString holder;
        QTRY_VERIFY(QFileInfo::exists(path) && !lock.acquire(path, holder));
        holderProcess.kill();
        QVERIFY(holderProcess.waitForFinished());
        QVERIFY(QFileInfo::exists(path));
        QVERIFY(lock.acquire(path, holder));
        QCOMPARE(QString::fromUtf8(readTestFile(path)).trimmed(), ownHolder());
    }

    void lockWhereNoFileCanBe()
    {
        QVERIFY(writeTestFile(m_dir->path() + u"/plain"_s, "a file"));
        ShardLock lock;
        QString holder = u"x"_s;
        QVERIFY(!lock.acquire(m_dir->path() + u"/plain/shard.lock"_s, holder));
        QVERIFY(holder.isEmpty());
        QVERIFY(!lock.held());
    }

    void calibration_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<bool>("measured");
        QTest::newRow("the calibration program") << Calibrator << true;
        QTest::newRow("a program that ends at once") << Programs + u"/trivial"_s << true;
        QTest::newRow("missing") << u"/nonexistent/qxj-calibrate"_s << false;
        QTest::newRow("crashes") << Programs + u"/segv"_s << false;
        QTest::newRow("exits with 3") << Programs + u"/exit3"_s << false;
        QTest::newRow("beyond the memory limit") << Programs + u"/hog100"_s << false;
    }

    void calibration()
    {
        QFETCH(QString, program);
        QFETCH(bool, measured);
        const QString work = m_dir->path() + u"/scratch/calibrate"_s;
        QString error;
        const double seconds = calibrate(program, work, CalibrationRuns, error);
        QCOMPARE(seconds >= 0, measured);
        QCOMPARE(error.isEmpty(), measured);
        QVERIFY(!QFileInfo::exists(work));
        if (program == Calibrator)
            QVERIFY2(seconds > 0.001 && seconds < 2.0, qPrintable(QString::number(seconds)));
    }

    void session()
    {
        QVERIFY(writeTestFile(m_dir->path() + u"/tmp/shard-1-of-3/test_thread_0/left.out"_s, "a killed run's"));
        ShardSession session(m_contest, ShardPart{1, 3}, u"9.8.7"_s, Calibrator);
        QCOMPARE(m_contest.tmpDir(), m_dir->path() + u"/tmp/shard-1-of-3"_s);
        QString error;
        QVERIFY2(session.begin(error), qPrintable(error));
        QCOMPARE(session.calibrationProblem(), QString());
        QCOMPARE(treeOf(m_contest.tmpDir()), QStringList());
        QVERIFY(QFileInfo::exists(m_dir->path() + u"/tmp/shard-1-of-3.lock"_s));

        ShardRecord record;
        const QString recordPath = shardRecordPath(m_contest, ShardPart{1, 3});
        QCOMPARE(readShardRecord(recordPath, record), QString());
        QCOMPARE(record.state, ShardRecord::State::Running);
        QCOMPARE(record.version, u"9.8.7"_s);
        QCOMPARE(record.host, QSysInfo::machineHostName());
        QVERIFY(!record.cpuModel.isEmpty());
        QVERIFY(record.calibration > 0);
        QVERIFY(record.started.isValid() && !record.finished.isValid());

        QVERIFY(session.end(true, 12, 12));
        QCOMPARE(readShardRecord(recordPath, record), QString());
        QCOMPARE(record.state, ShardRecord::State::Done);
        QCOMPARE(record.cells, 12);
        QCOMPARE(record.judged, 12);
        QVERIFY(record.cpuSeconds > 0 && record.wallSeconds > 0);
        QVERIFY(record.finished >= record.started);
        QVERIFY(!QFileInfo::exists(m_dir->path() + u"/tmp"_s));
        QVERIFY(!readTestFile(recordPath).contains(m_dir->path().toUtf8()));
    }

    void stoppedSession()
    {
        ShardSession session(m_contest, ShardPart{0, 1}, u"1"_s, Calibrator);
        QString error;
        QVERIFY(session.begin(error));
        QVERIFY(session.end(false, 5, 2));
        ShardRecord record;
        QCOMPARE(readShardRecord(shardRecordPath(m_contest, ShardPart{0, 1}), record), QString());
        QCOMPARE(record.state, ShardRecord::State::Stopped);
        QCOMPARE(record.judged, 2);
    }

    void sameShardTwice()
    {
        Contest other = m_contest;
        ShardSession first(m_contest, ShardPart{0, 2}, u"1"_s, Calibrator);
        ShardSession second(other, ShardPart{0, 2}, u"1"_s, Calibrator);
        QString error;
        QVERIFY(first.begin(error));
        QVERIFY(!second.begin(error));
        QVERIFY2(error.startsWith(u"shard 0/2 is being judged already (by "_s + ownHolder()), qPrintable(error));
        QVERIFY(first.end(true, 0, 0));
        QVERIFY(second.begin(error));
        QVERIFY(second.end(true, 0, 0));
    }

    // tmp/ goes with the last shard that uses it.
    void sharedTmp()
    {
        Contest other = m_contest;
        ShardSession first(m_contest, ShardPart{0, 2}, u"1"_s, Calibrator);
        ShardSession second(other, ShardPart{1, 2}, u"1"_s, Calibrator);
        QString error;
        QVERIFY(first.begin(error));
        QVERIFY(second.begin(error));
        QVERIFY(first.end(true, 0, 0));
        QCOMPARE(treeOf(m_dir->path() + u"/tmp"_s),
                 (QStringList{u"shard-1-of-2"_s, u"shard-1-of-2.lock"_s}));
        QVERIFY(second.end(true, 0, 0));
        QVERIFY(!QFileInfo::exists(m_dir->path() + u"/tmp"_s));
    }

    void withoutCalibrator()
    {
        ShardSession session(m_contest, ShardPart{0, 1}, u"1"_s, m_dir->path() + u"/qxj-calibrate"_s);
        QString error;
        QVERIFY(session.begin(error));
        QCOMPARE(session.calibrationProblem(), u"校准程序不存在: qxj-calibrate"_s);
        QVERIFY(session.record().calibration < 0);
        QVERIFY(session.end(true, 0, 0));
    }

    // No record, no shard: the lock is let go again.
    void recordCannotBeWritten()
    {
        QVERIFY(writeTestFile(m_contest.resultDir(), "a file where result/ belongs"));
        ShardSession session(m_contest, ShardPart{0, 1}, u"1"_s, Calibrator);
        QString error;
        QVERIFY(!session.begin(error));
        QCOMPARE(error, u"cannot write "_s + shardRecordPath(m_contest, ShardPart{0, 1}));
        ShardLock lock;
        QString holder;
        QVERIFY(lock.acquire(shardLockPath(m_contest, ShardPart{0, 1}), holder));
    }
};

QTEST_GUILESS_MAIN(TestShardSession)
#include "tst_shardsession.moc"
