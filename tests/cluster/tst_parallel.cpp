// The GNU parallel recipe (docs/cluster/parallel-judge.sh) with this machine
// as every "host" (":"): one shard a host, then the merge, against one
// ordinary run of the sample contest.

#include "commandrun.h"
#include "contest.h"
#include "sameoutcome.h"
#include "shardrecord.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

const QString BuildDir = QStringLiteral(QXJ_BUILD_DIR);
const QString SampleContest = QStringLiteral(QXJ_SAMPLE);
const QString Recipe = QStringLiteral(QXJ_RECIPES) + u"/parallel-judge.sh"_s;

using Run = CommandRun;

// program run with the build folder first on PATH, as an installed qxj-judge would be found.
Run run(const QString &program, const QStringList &arguments, const QString &workDir)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(u"PATH"_s, BuildDir + u':' + environment.value(u"PATH"_s));
    return runCommand(program, arguments, workDir, environment);
}

}  // namespace

class TestParallel : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void recipe_data();
    void recipe();
    void readmeShowsRecipes_data();
    void readmeShowsRecipes();

private:
    QString alone() const { return m_work.path() + u"/alone"_s; }

    QTemporaryDir m_work;
};

// One ordinary run of the sample, with its score table beside it.
void TestParallel::initTestCase()
{
    if (QStandardPaths::findExecutable(u"parallel"_s).isEmpty()) {
        if (qEnvironmentVariableIsSet("QXJ_CI"))
            QFAIL("GNU parallel is not installed");
        QSKIP("GNU parallel is not installed (scripts/deps.sh installs it)");
    }
    QVERIFY(m_work.isValid());
    QVERIFY(copyTree(SampleContest, alone()));
    const Run single = run(BuildDir + u"/qxj-judge"_s, {u"--export"_s, alone() + u"/scores.csv"_s, alone()},
                           m_work.path());
    QVERIFY2(single.exitCode == 0, qPrintable(single.err));
}

void TestParallel::recipe_data()
{
    QTest::addColumn<QByteArray>("hosts");
    QTest::addColumn<int>("shards");
    QTest::newRow("three hosts") << QByteArray(":\n:\n:\n") << 3;
    QTest::newRow("one host, a blank line") << QByteArray(":\n\n") << 1;
}

void TestParallel::recipe()
{
    QFETCH(QByteArray, hosts);
    QFETCH(int, shards);
    QTemporaryDir work;
    QVERIFY(work.isValid());
    // A space in the path: the recipe quotes it for the shell at every host.
    const QString sharded = work.path() + u"/the contest"_s;
    QVERIFY(copyTree(SampleContest, sharded));
    QVERIFY(writeTestFile(work.path() + u"/hosts"_s, hosts));

    const Run recipe = run(u"bash"_s, {Recipe, u"hosts"_s, sharded}, work.path());
    QVERIFY2(recipe.exitCode == 0, qPrintable(recipe.out + recipe.err));
    for (int k = 0; k < shards; ++k)
        QVERIFY2(recipe.out.contains(u"shard %1/%2: "_s.arg(k).arg(shards)), qPrintable(recipe.out));
    const QString difference = outcomeDifference(alone(), sharded);
    QVERIFY2(difference.isEmpty(), qPrintable(difference));
    QCOMPARE(comparableTable(readTestFile(sharded + u"/scores.csv"_s)), comparableTable(readTestFile(alone() + u"/scores.csv"_s)));
    Contest contest;
    contest.rootDir = sharded;
    QCOMPARE(readShardRecords(contest).size(), shards);
}

void TestParallel::readmeShowsRecipes_data()
{
    QTest::addColumn<QString>("script");
    QTest::newRow("Slurm") << u"slurm-judge.sh"_s;
    QTest::newRow("GNU parallel") << u"parallel-judge.sh"_s;
}

// What the README shows of each recipe is what the tests run.
void TestParallel::readmeShowsRecipes()
{
    QFETCH(QString, script);
    const QByteArray text = readTestFile(QStringLiteral(QXJ_RECIPES) + u'/' + script);
    const qsizetype marker = text.indexOf("# The recipe, as the README shows it:\n");
    QVERIFY(marker > 0);
    const QByteArray shown = text.mid(text.indexOf('\n', marker) + 1);
    QVERIFY(shown.count('\n') >= 2);
    const QByteArray readme = readTestFile(QStringLiteral(QXJ_README));
    QVERIFY2(readme.contains("\n```sh\n" + shown + "```\n"), shown.constData());
}

QTEST_GUILESS_MAIN(TestParallel)
#include "tst_parallel.moc"
