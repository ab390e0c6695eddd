// The Slurm recipe (docs/cluster/slurm-judge.sh) on a real Slurm started
// here: the sample contest and a generated one of 43 players judged as a job
// array of three shards and a dependent merge job, against one ordinary run;
// a shard cancelled half way, then run again.

#include "contest.h"
#include "minislurm.h"
#include "mixedcontest.h"
#include "resultcheck.h"
#include "sameoutcome.h"
#include "shardrecord.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace Qt::StringLiterals;

namespace {

const QString BuildDir = QStringLiteral(QXJ_BUILD_DIR);
const QString SampleContest = QStringLiteral(QXJ_SAMPLE);
const QString Recipe = QStringLiteral(QXJ_RECIPES) + u"/slurm-judge.sh"_s;
constexpr int JobTimeoutMs = 900000;

}  // namespace

class TestSlurm : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void recipe_data();
    void recipe();
    void cancelledShard();

private:
    // One ordinary run of the contest at root, with its score table beside it.
    void judgeAlone(const QString &root);
    // The contest at root judged by the recipe in `shards` shards; the merge
    // job's id, empty on failure.
    QString submitRecipe(const QString &root, int shards);
    // The id of the newest shards' job array.
    QString newestArray() const;

    QTemporaryDir m_work;
    std::unique_ptr<MiniSlurm> m_slurm;
};

void TestSlurm::initTestCase()
{
    const QStringList missing = MiniSlurm::missingPrograms();
    if (!missing.isEmpty()) {
        const QByteArray message = "Slurm is not installed (" + missing.join(u", "_s).toUtf8()
                                   + "); QXJ_SLURM=1 bash scripts/deps.sh installs it";
        if (qEnvironmentVariableIsSet("QXJ_CI"))
            QFAIL(message.constData());
        QSKIP(message.constData());
    }
    QVERIFY(m_work.isValid());
    QVERIFY(QFileInfo(BuildDir + u"/qxj-judge"_s).isExecutable());
    m_slurm = std::make_unique<MiniSlurm>(m_work.path() + u"/slurm"_s, BuildDir);
    const QString failure = m_slurm->start();
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
}

// Every daemon it started is gone, and nothing of the jobs lives on.
void TestSlurm::cleanupTestCase()
{
    if (!m_slurm)
        return;
    m_slurm->stop();
    const QStringList left = m_slurm->livingProcesses();
    m_slurm.reset();
    QVERIFY2(left.isEmpty(), qPrintable(left.join(u'\n')));
}

void TestSlurm::judgeAlone(const QString &root)
{
    const MiniSlurm::Result run =
        m_slurm->run(BuildDir + u"/qxj-judge"_s, {u"--export"_s, root + u"/scores.csv"_s, root});
    QVERIFY2(run.exitCode == 0, qPrintable(run.err));
}

QString TestSlurm::submitRecipe(const QString &root, int shards)
{
    // Output files (slurm-<job>.out) go where the recipe is run.
    const MiniSlurm::Result submitted =
        m_slurm->run(u"bash"_s, {Recipe, root, QString::number(shards)}, QFileInfo(root).path());
    if (submitted.exitCode != 0) {
        qWarning("%s", qPrintable(submitted.err));
        return QString();
    }
    return submitted.out.trimmed();
}

QString TestSlurm::newestArray() const
{
    const MiniSlurm::Result shown = m_slurm->run(u"scontrol"_s, {u"show"_s, u"job"_s, u"-o"_s});
    int newest = -1;
    for (const QString &line : shown.out.split(u'\n', Qt::SkipEmptyParts)) {
        static const QRegularExpression array(u"ArrayJobId=(\\d+) .*JobName=qxj-shard "_s);
        const QRegularExpressionMatch match = array.match(line);
        if (match.hasMatch())
            newest = qMax(newest, match.captured(1).toInt());
    }
    return newest < 0 ? QString() : QString::number(newest);
}

void TestSlurm::recipe_data()
{
    QTest::addColumn<int>("copies");  // of each sample player; 0: the sample itself
    QTest::addColumn<int>("players");
    QTest::newRow("sample contest") << 0 << 7;
    QTest::newRow("generated contest") << 5 << 43;
}

// Judged by the job array and the merge job: the result files, reports,
// result list and score table of one ordinary run, and a record of each shard.
void TestSlurm::recipe()
{
    QFETCH(int, copies);
    QFETCH(int, players);
    // A space in the path: the recipe quotes it for the job's shell.
    const QString name = QString::fromUtf8(QTest::currentDataTag());
    const QString alone = m_work.path() + u'/' + name + u"/alone"_s;
    const QString sharded = m_work.path() + u'/' + name + u"/sharded"_s;
    QVERIFY(copies == 0 ? copyTree(SampleContest, alone) : writeMixedContest(SampleContest, alone, copies));
    QVERIFY(copyTree(alone, sharded));
    judgeAlone(alone);

    const QString merge = submitRecipe(sharded, 3);
    QVERIFY(!merge.isEmpty());
    const QString array = newestArray();
    QVERIFY(!array.isEmpty());
    const QStringList mergeState = m_slurm->waitForJob(merge, JobTimeoutMs);
    const QStringList shardStates = m_slurm->waitForJob(array, JobTimeoutMs);
    QCOMPARE(shardStates, QStringList(3, u"COMPLETED 0:0"_s));
    QCOMPARE(mergeState, QStringList{u"COMPLETED 0:0"_s});

    const QString difference = outcomeDifference(alone, sharded);
    QVERIFY2(difference.isEmpty(), qPrintable(difference));
    QCOMPARE(comparableTable(readTestFile(sharded + u"/scores.csv"_s)), comparableTable(readTestFile(alone + u"/scores.csv"_s)));

    Contest contest;
    contest.rootDir = sharded;
    contest.loadPlayers();
    QCOMPARE(contest.playerNames.size(), players);
    const QList<ShardRecord> records = readShardRecords(contest);
    QCOMPARE(records.size(), 3);
    int cells = 0;
    for (const ShardRecord &record : records) {
        QCOMPARE(record.state, ShardRecord::State::Done);
        QCOMPARE(record.judged, record.cells);
        cells += record.cells;
    }
    QCOMPARE(cells, int(readTestFile(alone + u"/result/.reslist"_s).count('\n')));
    // The merge job printed where the shards ran.
    const QString output = QString::fromUtf8(readTestFile(QFileInfo(sharded).path() + u"/slurm-"_s + merge + u".out"_s));
    for (int k = 0; k < 3; ++k)
        QVERIFY2(output.contains(u"\n%1/3 "_s.arg(k)), qPrintable(output));
    QVERIFY2(output.contains(u"%1 with a result; result/.reslist written"_s.arg(cells)), qPrintable(output));
}

// scancel ends one shard half way: its merge job can never run, a merge by
// hand names the cells it did not reach; the shard run again as a job of its
// own and a merge job complete the contest as one ordinary run would.
void TestSlurm::cancelledShard()
{
    const QString alone = m_work.path() + u"/cancelled/alone"_s;
    const QString root = m_work.path() + u"/cancelled/sharded"_s;
    QVERIFY(copyTree(SampleContest, alone));
    QVERIFY(copyTree(alone, root));
    judgeAlone(alone);

    const QString merge = submitRecipe(root, 3);
    QVERIFY(!merge.isEmpty());
    const QString array = newestArray();
    Contest contest;
    contest.rootDir = root;
    // Shard 0 judges p01, p04 and std; cancelled once its first cell is stored.
    const QStringList mine{u"p01"_s, u"p04"_s, u"std"_s};
    const QStringList problems{u"sum"_s, u"guess"_s, u"split"_s};
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(contest.resultFilePath(u"p01"_s, u"sum"_s)), 300000);
    const MiniSlurm::Result cancel = m_slurm->run(u"scancel"_s, {array + u"_0"_s});
    QVERIFY2(cancel.exitCode == 0, qPrintable(cancel.err));

    QStringList states = m_slurm->waitForJob(array, JobTimeoutMs);
    for (QString &state : states)
        state = state.section(u' ', 0, 0);
    states.sort();
    QCOMPARE(states, (QStringList{u"CANCELLED"_s, u"COMPLETED"_s, u"COMPLETED"_s}));
    QCOMPARE(m_slurm->waitForJob(merge, JobTimeoutMs).value(0).section(u' ', 0, 0), u"NEVER"_s);
    QCOMPARE(m_slurm->run(u"scancel"_s, {merge}).exitCode, 0);

    QStringList unreached;
    for (const QString &player : mine) {
        for (const QString &problem : problems) {
            const QString path = contest.resultFilePath(player, problem);
            ScoreInfo info;
            if (!QFileInfo::exists(path))
                unreached.append(player + u'/' + problem);
            else
                QCOMPARE(resultFileFault(path, info), QString());  // whole
        }
    }
    QVERIFY2(!unreached.isEmpty(), "shard 0 ended before it was cancelled");
    const MiniSlurm::Result early = m_slurm->run(BuildDir + u"/qxj-judge"_s, {u"--merge"_s, root});
    QCOMPARE(early.exitCode, 1);
    QStringList named;
    for (const QString &line : early.err.split(u'\n')) {
        if (line.startsWith(u"qxj-judge: missing result: "_s))
            named.append(line.section(u": "_s, 2));
    }
    named.sort();
    unreached.sort();
    QCOMPARE(named, unreached);
    QVERIFY2(early.err.contains(u"warning: shard 0/3 (on "_s), qPrintable(early.err));

    const MiniSlurm::Result again = m_slurm->run(
        u"sbatch"_s, {u"--parsable"_s, u"--wrap"_s, BuildDir + u"/qxj-judge --shard 0/3 "_s + root}, QFileInfo(root).path());
    QVERIFY2(again.exitCode == 0, qPrintable(again.err));
    const MiniSlurm::Result merged = m_slurm->run(
        u"sbatch"_s,
        {u"--parsable"_s, u"--dependency=afterok:"_s + again.out.trimmed(), u"--wrap"_s,
         BuildDir + u"/qxj-judge --merge --export "_s + root + u"/scores.csv "_s + root},
        QFileInfo(root).path());
    QVERIFY2(merged.exitCode == 0, qPrintable(merged.err));
    QCOMPARE(m_slurm->waitForJob(again.out.trimmed(), JobTimeoutMs), QStringList{u"COMPLETED 0:0"_s});
    QCOMPARE(m_slurm->waitForJob(merged.out.trimmed(), JobTimeoutMs), QStringList{u"COMPLETED 0:0"_s});
    const QString difference = outcomeDifference(alone, root);
    QVERIFY2(difference.isEmpty(), qPrintable(difference));
    QCOMPARE(comparableTable(readTestFile(root + u"/scores.csv"_s)), comparableTable(readTestFile(alone + u"/scores.csv"_s)));
}

QTEST_GUILESS_MAIN(TestSlurm)
#include "tst_slurm.moc"
