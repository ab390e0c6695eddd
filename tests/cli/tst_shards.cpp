// qxj-judge --shard and --merge: one contest judged in shards, one after
// another, side by side and killed half way, against one ordinary run.

#include "clitestutil.h"
#include "commandrun.h"
#include "contest.h"
#include "resultcheck.h"
#include "sameoutcome.h"
#include "shardrecord.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <functional>

#include <signal.h>
#include <sys/stat.h>

using namespace Qt::StringLiterals;

namespace {

const QString JudgeProgram = QStringLiteral(QXJ_JUDGE);
const QString SampleContest = QStringLiteral(QXJ_SAMPLE);

using Run = CommandRun;

Run runJudge(const QString &workDir, const QStringList &arguments)
{
    return runCommand(JudgeProgram, arguments, workDir);
}

QString shardArgument(int index, int count)
{
    return u"%1/%2"_s.arg(index).arg(count);
}

// A problem "slow" whose every player burns about 0.3 s of CPU and answers
// right: long enough to kill a shard between two cells.
bool writeSlowContest(const QString &root, const QStringList &players)
{
    const QByteArray burn = "#include <stdio.h>\n#include <time.h>\nint main(void)\n{\n"
                            "    while (clock() < CLOCKS_PER_SEC * 3 / 10) {}\n"
                            "    FILE *f = fopen(\"slow.out\", \"w\");\n    fputs(\"1\\n\", f);\n"
                            "    fclose(f);\n    return 0;\n}\n";
    bool written = writeTestFile(root + u"/data/slow/.prb"_s, traditionalConfig(u"slow"_s, 100, u"5"_s))
                   && writeTestFile(root + u"/data/slow/slow.in"_s, "1\n")
                   && writeTestFile(root + u"/data/slow/slow.ans"_s, "1\n");
    for (const QString &player : players)
        written = written && writeTestFile(root + u"/src/"_s + player + u"/slow/slow.c"_s, burn);
    return written;
}

// The processes below pid, each after all of its own: the order in which a
// batch system that tracks a job by parentage signals it.
QList<pid_t> descendantsDeepestFirst(pid_t pid)
{
    QMultiHash<pid_t, pid_t> children;
    for (const QString &entry : QDir(u"/proc"_s).entryList(QDir::Dirs)) {
        bool number = false;
        const pid_t child = entry.toInt(&number);
        const QByteArray stat = number ? readTestFile(u"/proc/"_s + entry + u"/stat"_s) : QByteArray();
        const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 1)
            children.insert(fields[1].toInt(), child);
    }
    QList<pid_t> order;
    const std::function<void(pid_t)> visit = [&](pid_t parent) {
        for (const pid_t child : children.values(parent)) {
            visit(child);
            order.append(child);
        }
    };
    visit(pid);
    return order;
}

// The lines of standard error that begin with prefix, without it, sorted.
QStringList errorLines(const QString &err, const QString &prefix)
{
    QStringList lines;
    for (const QString &line : err.split(u'\n')) {
        if (line.startsWith(prefix))
            lines.append(line.mid(prefix.size()));
    }
    lines.sort();
    return lines;
}

}  // namespace

class TestShards : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void badArguments_data();
    void badArguments();
    void threeShardsOneAfterAnother();
    void twoShardsAtOnce();
    void mergeOfIncompleteResults_data();
    void mergeOfIncompleteResults();
    void mergeTellsWhyAProblemHasNoResults();
    void killedShardRunAgain();
    void sameShardTwiceAtOnce();
    void machinesCompared_data();
    void machinesCompared();
    void shardWithFilters();
    void jobCancelledAsAWhole_data();
    void jobCancelledAsAWhole();
    void programsOwnSignal();

private:
    QString single() const { return m_work.path() + u"/single"_s; }
    // A copy of the sample at dir, sharded there already when judged is set.
    bool sample(const QString &dir) const { return copyTree(SampleContest, dir); }
    bool judgedSample(const QString &dir) const { return copyTree(m_judged, dir); }

    QTemporaryDir m_work;
    QString m_judged;  // the sample, judged in three shards and merged
};

// One ordinary run of the sample, with its score table: what every sharded
// run below must come to.
void TestShards::initTestCase()
{
    QVERIFY2(QFileInfo(JudgeProgram).isExecutable(), qPrintable(JudgeProgram));
    QVERIFY(m_work.isValid());
    QVERIFY(sample(single()));
    const Run run = runJudge(m_work.path(), {u"--export"_s, u"single.csv"_s, single()});
    QVERIFY2(run.exitCode == 0, qPrintable(run.err));
}

void TestShards::badArguments_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("message");
    const QString usage = u"--shard takes K/N"_s;
    for (const char *bad : {"3/3", "4/3", "-1/3", "1/0", "0/0", "a/3", "1/", "/3", "/", "1/3/4", " 1/3",
                            "1 /3", "+1/3", "1/3 ", "0x1/3", "1.0/3", "0/99999999999", ""}) {
        QTest::addRow("--shard \"%s\"", bad) << QStringList{u"--shard"_s, QString::fromUtf8(bad), u"c"_s}
                                             << usage;
    }
    QTest::newRow("--shard twice") << QStringList{u"--shard"_s, u"0/2"_s, u"--shard"_s, u"1/2"_s, u"c"_s}
                                   << u"--shard given more than once"_s;
    QTest::newRow("--shard and --export")
        << QStringList{u"--shard"_s, u"0/2"_s, u"--export"_s, u"s.csv"_s, u"c"_s} << u"--export and --shard"_s;
    for (const char *other : {"--all", "--player=p01", "--problem=sum", "--jobs=2", "--shard=0/2"}) {
        QTest::addRow("--merge with %s", other)
            << QStringList{u"--merge"_s, QString::fromUtf8(other), u"c"_s} << u"--merge judges nothing"_s;
    }
    QTest::newRow("--merge of no contest") << QStringList{u"--merge"_s, u"nothere"_s} << u"no such directory"_s;
}

// Nothing is judged, written or removed; one line says why.
void TestShards::badArguments()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, message);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(sample(dir.path() + u"/c"_s));
    const QStringList before = treeSnapshot(dir.path());
    const Run run = runJudge(dir.path(), arguments);
    QCOMPARE(run.exitCode, 2);
    QCOMPARE(run.out, QString());
    QCOMPARE(run.err.count(u'\n'), 1);
    QVERIFY2(run.err.contains(message), qPrintable(run.err));
    QCOMPARE(treeSnapshot(dir.path()), before);
}

// Three shards, each given the contest by another path (as on machines that
// mount it elsewhere), then the merge: the files of one ordinary run, and
// nothing that names where the contest lay.
void TestShards::threeShardsOneAfterAnother()
{
    const QString root = m_work.path() + u"/sharded"_s;
    QVERIFY(sample(root));
    QVERIFY(QFile::link(root, m_work.path() + u"/mounted-elsewhere"_s));
    const QStringList paths{root, m_work.path() + u"/mounted-elsewhere"_s, u"sharded"_s};
    for (int k = 0; k < 3; ++k) {
        const Run run = runJudge(m_work.path(), {u"--shard"_s, shardArgument(k, 3), paths[k]});
        QVERIFY2(run.exitCode == 0, qPrintable(run.err));
        QVERIFY2(run.out.startsWith(u"shard %1: "_s.arg(shardArgument(k, 3))), qPrintable(run.out));
        QVERIFY(!QFileInfo::exists(root + u"/result/.reslist"_s));  // only --merge writes it
    }
    QVERIFY(!QFileInfo::exists(root + u"/tmp"_s));

    const Run merge = runJudge(m_work.path(), {u"--merge"_s, u"--export"_s, u"sharded.csv"_s, root});
    QVERIFY2(merge.exitCode == 0, qPrintable(merge.err));
    const QString difference = outcomeDifference(single(), root);
    QVERIFY2(difference.isEmpty(), qPrintable(difference));
    QCOMPARE(comparableTable(readTestFile(m_work.path() + u"/sharded.csv"_s)), comparableTable(readTestFile(m_work.path() + u"/single.csv"_s)));
    QVERIFY2(merge.out.endsWith(u"21 cells of 7 players, 21 with a result; result/.reslist written\n"_s),
             qPrintable(merge.out));

    // One record a shard, each saying it judged its cells to the end, none
    // naming a path.
    Contest contest;
    contest.rootDir = root;
    const QList<ShardRecord> records = readShardRecords(contest);
    QCOMPARE(records.size(), 3);
    int cells = 0;
    for (int k = 0; k < 3; ++k) {
        const ShardRecord &record = records[k];
        QCOMPARE(record.shard, (ShardPart{k, 3}));
        QCOMPARE(record.state, ShardRecord::State::Done);
        QCOMPARE(record.judged, record.cells);
        cells += record.cells;
        QVERIFY2(merge.out.contains(QRegularExpression(u"\\n%1 +%2 "_s.arg(QRegularExpression::escape(shardArgument(k, 3)),
                                                                             QRegularExpression::escape(record.host)))),
                 qPrintable(merge.out));
        const QByteArray file = readTestFile(shardRecordPath(contest, record.shard));
        QVERIFY(!file.contains(m_work.path().toUtf8()) && !file.contains("mounted-elsewhere"));
    }
    QCOMPARE(cells, 21);

    // Merged once more: not a file touched.
    const QStringList before = treeSnapshot(m_work.path());
    const Run again = runJudge(m_work.path(), {u"--merge"_s, u"--export"_s, u"sharded.csv"_s, root});
    QCOMPARE(again.exitCode, 0);
    QVERIFY(again.out.endsWith(u"result/.reslist unchanged\n"_s));
    QCOMPARE(treeSnapshot(m_work.path()), before);
    m_judged = root;
}

// Two shards on one machine at the same time, into one contest folder.
void TestShards::twoShardsAtOnce()
{
    const QString root = m_work.path() + u"/together"_s;
    QVERIFY(sample(root));
    QProcess first;
    QProcess second;
    first.start(JudgeProgram, {u"--shard"_s, u"0/2"_s, root});
    second.start(JudgeProgram, {u"--shard"_s, u"1/2"_s, root});
    QVERIFY(first.waitForStarted() && second.waitForStarted());
    // Both judge in scratch folders of their own, at once.
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(root + u"/tmp/shard-0-of-2"_s)
                                 && QFileInfo::exists(root + u"/tmp/shard-1-of-2"_s),
                             60000);
    QVERIFY(first.waitForFinished(300000) && second.waitForFinished(300000));
    QVERIFY2(first.exitCode() == 0, first.readAllStandardError().constData());
    QVERIFY2(second.exitCode() == 0, second.readAllStandardError().constData());
    QVERIFY(!QFileInfo::exists(root + u"/tmp"_s));

    const Run merge = runJudge(m_work.path(), {u"--merge"_s, root});
    QVERIFY2(merge.exitCode == 0, qPrintable(merge.err));
    const QString difference = outcomeDifference(single(), root);
    QVERIFY2(difference.isEmpty(), qPrintable(difference));
}

void TestShards::mergeOfIncompleteResults_data()
{
    QTest::addColumn<QString>("damage");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QStringList>("missing");
    QTest::addColumn<QStringList>("unusable");
    QTest::addColumn<QStringList>("ignored");
    QTest::newRow("all there") << QString() << 0 << QStringList() << QStringList() << QStringList();
    QTest::newRow("one missing") << u"remove result/sum/p02.res"_s << 1 << QStringList{u"p02/sum"_s}
                                 << QStringList() << QStringList();
    QTest::newRow("a player's all missing")
        << u"remove result/sum/p05.res result/guess/p05.res result/split/p05.res"_s << 1
        << QStringList{u"p05/guess"_s, u"p05/split"_s, u"p05/sum"_s} << QStringList() << QStringList();
    QTest::newRow("cut off") << u"truncate result/guess/std.res"_s << 1 << QStringList()
                             << QStringList{u"std/guess (XML 格式错误 (第 2 行))"_s} << QStringList();
    QTest::newRow("empty") << u"empty result/split/p01.res"_s << 1 << QStringList()
                           << QStringList{u"p01/split (XML 格式错误 (第 1 行))"_s} << QStringList();
    QTest::newRow("a folder in its place") << u"folder result/sum/p03.res"_s << 1 << QStringList()
                                           << QStringList{u"p03/sum (不是普通文件（目录）)"_s} << QStringList();
    QTest::newRow("a FIFO in its place") << u"fifo result/guess/p06.res"_s << 1 << QStringList()
                                         << QStringList{u"p06/guess (不是普通文件（命名管道）)"_s} << QStringList();
    QTest::newRow("extra files")
        << u"extra result/sum/ghost.res result/gone/p01.res result/sum/p01.res.k3j2 result/notes.txt"_s << 0
        << QStringList() << QStringList()
        << QStringList{u"result/gone: no result of this contest's cells"_s,
                       u"result/notes.txt: no result of this contest's cells"_s,
                       u"result/sum/ghost.res: no result of this contest's cells"_s,
                       u"result/sum/p01.res.k3j2: no result of this contest's cells"_s};
}

// Missing and unusable results are named one by one and fail the merge;
// files that are no cell's are named and left alone. The list shows what
// is there, a cell without a usable result untested.
void TestShards::mergeOfIncompleteResults()
{
    QFETCH(QString, damage);
    QFETCH(int, exitCode);
    QFETCH(QStringList, missing);
    QFETCH(QStringList, unusable);
    QFETCH(QStringList, ignored);
    QVERIFY(!m_judged.isEmpty());
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString root = dir.path() + u"/c"_s;
    QVERIFY(judgedSample(root));
    const QStringList words = damage.split(u' ', Qt::SkipEmptyParts);
    for (qsizetype i = 1; i < words.size(); ++i) {
        const QString path = root + u'/' + words[i];
        const QString what = words.first();
        if (what == u"remove"_s)
            QVERIFY(QFile::remove(path));
        else if (what == u"truncate"_s)
            QVERIFY(writeTestFile(path, readTestFile(path).left(60)));
        else if (what == u"empty"_s)
            QVERIFY(writeTestFile(path, QByteArray()));
        else if (what == u"folder"_s)
            QVERIFY(QFile::remove(path) && QDir().mkpath(path));
        else if (what == u"fifo"_s)
            QVERIFY(QFile::remove(path) && ::mkfifo(QFile::encodeName(path).constData(), 0644) == 0);
        else if (what == u"extra"_s)
            QVERIFY(writeTestFile(path, "<task score=\"1\" time=\"0\" state=\"N\"/>"));
    }
    // The machines the shards ran on are not this test's matter.
    for (const QString &record : QDir(root + u"/result"_s).entryList({u".shard-*"_s}, QDir::Files | QDir::Hidden))
        QVERIFY(QFile::remove(root + u"/result/"_s + record));
    const QStringList extras = treeSnapshot(root);

    const Run run = runJudge(dir.path(), {u"--merge"_s, root});
    QCOMPARE(run.exitCode, exitCode);
    QCOMPARE(errorLines(run.err, u"qxj-judge: missing result: "_s), missing);
    QCOMPARE(errorLines(run.err, u"qxj-judge: unusable result: "_s), unusable);
    QCOMPARE(errorLines(run.err, u"qxj-judge: ignored "_s), ignored);
    QCOMPARE(run.err.count(u'\n'), missing.size() + unusable.size() + ignored.size());

    Contest contest;
    contest.rootDir = root;
    contest.loadResultList();
    QCOMPARE(contest.cachedResults.size(), 21);
    for (const QString &cell : missing + unusable)
        QCOMPARE(contest.cachedResults.value(cell.section(u' ', 0, 0)), ScoreInfo());
    Contest reference;
    reference.rootDir = single();
    reference.loadResultList();
    for (auto it = reference.cachedResults.cbegin(); it != reference.cachedResults.cend(); ++it) {
        if (!(missing + unusable).join(u' ').contains(it.key()))
            QCOMPARE(contest.cachedResults.value(it.key()).score, it.value().score);
    }
    // The merge wrote the list and nothing else.
    const auto list = [](const QString &entry) {
        return entry.startsWith(u"result/.reslist "_s) || entry.startsWith(u"result "_s);
    };
    QStringList after = treeSnapshot(root);
    after.removeIf(list);
    QStringList expected = extras;
    expected.removeIf(list);
    QCOMPARE(after, expected);
}

// A problem the judge refuses for a fault in its .prb: its missing results
// name the fault; those judged before it broke still count.
void TestShards::mergeTellsWhyAProblemHasNoResults()
{
    QVERIFY(!m_judged.isEmpty());
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString root = dir.path() + u"/c"_s;
    QVERIFY(judgedSample(root));
    const QString config = root + u"/data/sum/.prb"_s;
    QVERIFY(writeTestFile(config, readTestFile(config).left(100)));
    QVERIFY(QFile::remove(root + u"/result/sum/p02.res"_s));
    const Run run = runJudge(dir.path(), {u"--merge"_s, root});
    QCOMPARE(run.exitCode, 1);
    const QStringList missing = errorLines(run.err, u"qxj-judge: missing result: "_s);
    QCOMPARE(missing.size(), 1);
    QVERIFY2(missing.first().startsWith(u"p02/sum (data/sum/.prb 第 "_s), qPrintable(missing.first()));
    QVERIFY2(run.out.contains(u"21 cells of 7 players, 20 with a result, 1 without"_s), qPrintable(run.out));
}

// A shard killed outright between two cells leaves only whole result files;
// the merge then names the cells it did not reach and says the shard did not
// finish; the shard run again completes the contest.
void TestShards::killedShardRunAgain()
{
    const QString root = m_work.path() + u"/killed"_s;
    QStringList players;
    for (int i = 1; i <= 8; ++i)
        players.append(u"k%1"_s.arg(i));
    QVERIFY(writeSlowContest(root, players));
    const QStringList mine{u"k1"_s, u"k3"_s, u"k5"_s, u"k7"_s};  // shard 0/2

    const Run other = runJudge(m_work.path(), {u"--shard"_s, u"1/2"_s, root});
    QVERIFY2(other.exitCode == 0, qPrintable(other.err));
    QProcess shard;
    shard.start(JudgeProgram, {u"--shard"_s, u"0/2"_s, root});
    QVERIFY(shard.waitForStarted());
    Contest contest;
    contest.rootDir = root;
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(contest.resultFilePath(u"k1"_s, u"slow"_s)), 120000);
    QVERIFY(::kill(pid_t(shard.processId()), SIGKILL) == 0);
    QVERIFY(shard.waitForFinished());

    QStringList judged;
    for (const QString &player : mine) {
        const QString path = contest.resultFilePath(player, u"slow"_s);
        ScoreInfo info;
        if (QFileInfo::exists(path)) {
            QCOMPARE(resultFileFault(path, info), QString());
            judged.append(player);
        }
    }
    QVERIFY2(judged.size() < mine.size(), "the shard was not stopped half way");

    const Run early = runJudge(m_work.path(), {u"--merge"_s, root});
    QCOMPARE(early.exitCode, 1);
    QStringList unreached;
    for (const QString &player : mine) {
        if (!judged.contains(player))
            unreached.append(player + u"/slow"_s);
    }
    QCOMPARE(errorLines(early.err, u"qxj-judge: missing result: "_s), unreached);
    QVERIFY2(early.err.contains(u"warning: shard 0/2 (on "_s) && early.err.contains(u"has not finished"_s),
             qPrintable(early.err));

    const Run again = runJudge(m_work.path(), {u"--shard"_s, u"0/2"_s, root});
    QVERIFY2(again.exitCode == 0, qPrintable(again.err));
    // The cells judged before the kill are not judged again.
    for (const QString &player : std::as_const(judged))
        QVERIFY2(!again.out.contains(player + u" - slow"_s), qPrintable(again.out));
    const Run merge = runJudge(m_work.path(), {u"--merge"_s, root});
    QVERIFY2(merge.exitCode == 0, qPrintable(merge.err));
    QVERIFY2(!merge.err.contains(u"missing"_s) && !merge.err.contains(u"has not finished"_s), qPrintable(merge.err));
    contest.loadResultList();
    QCOMPARE(contest.cachedResults.size(), 8);
    for (const ScoreInfo &info : std::as_const(contest.cachedResults))
        QCOMPARE(info.score, 100);
    QVERIFY(!QFileInfo::exists(root + u"/tmp"_s));
}

// A second run of a shard that is being judged refuses at once; the first,
// stopped, says so in its record.
void TestShards::sameShardTwiceAtOnce()
{
    const QString root = m_work.path() + u"/twice"_s;
    QVERIFY(writeSlowContest(root, {u"a"_s, u"b"_s, u"c"_s, u"d"_s}));
    QProcess first;
    first.start(JudgeProgram, {u"--shard"_s, u"0/1"_s, root});
    QVERIFY(first.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(root + u"/result/.shard-0-of-1.xml"_s), 60000);

    const Run second = runJudge(m_work.path(), {u"--shard"_s, u"0/1"_s, root});
    QCOMPARE(second.exitCode, 1);
    QCOMPARE(second.err, u"qxj-judge: shard 0/1 is being judged already (by %1 %2)\n"_s.arg(
                             QSysInfo::machineHostName())
                             .arg(first.processId()));
    QVERIFY(QFileInfo::exists(root + u"/tmp/shard-0-of-1"_s));

    QVERIFY(::kill(pid_t(first.processId()), SIGINT) == 0);
    QVERIFY(first.waitForFinished(60000));
    QCOMPARE(first.exitCode(), 130);
    Contest contest;
    contest.rootDir = root;
    const QList<ShardRecord> records = readShardRecords(contest);
    QCOMPARE(records.size(), 1);
    QCOMPARE(records.first().state, ShardRecord::State::Stopped);
    QVERIFY(!QFileInfo::exists(root + u"/tmp"_s));
    const Run merge = runJudge(m_work.path(), {u"--merge"_s, root});
    QCOMPARE(merge.exitCode, 1);
    QVERIFY(merge.err.contains(u"warning: shard 0/1 (on "_s) && merge.err.contains(u"was stopped before its end"_s));
}

void TestShards::machinesCompared_data()
{
    QTest::addColumn<double>("slower");  // shard 2/3's calibration, times the others'
    QTest::addColumn<QString>("version");
    QTest::addColumn<QStringList>("warnings");
    QTest::newRow("alike") << 1.03 << QString() << QStringList();
    QTest::newRow("one 20 % slower")
        << 1.2 << QString()
        << QStringList{u"the shards' machines differ in speed by 20%: the calibration took 25.0 ms "
                       "(shard 0/3 on fast) to 30.0 ms (shard 2/3 on slow); times measured on them do "
                       "not compare"_s};
    QTest::newRow("another judge") << 1.0 << u"0.0.1"_s
                                   << QStringList{u"the shards ran different versions of the judge: {version}, 0.0.1"_s};
}

// Where the shards' records say they ran, as the merge reads them.
void TestShards::machinesCompared()
{
    QFETCH(double, slower);
    QFETCH(QString, version);
    QFETCH(QStringList, warnings);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString root = dir.path() + u"/c"_s;
    QVERIFY(judgedSample(root));
    Contest contest;
    contest.rootDir = root;
    const QList<ShardRecord> records = readShardRecords(contest);
    QCOMPARE(records.size(), 3);
    for (ShardRecord record : records) {
        record.calibration = record.shard.index == 2 ? 0.025 * slower : 0.025;
        record.host = record.shard.index == 2 ? u"slow"_s : u"fast"_s;
        if (record.shard.index == 2 && !version.isEmpty())
            record.version = version;
        QVERIFY(writeShardRecord(contest, record));
    }
    for (QString &warning : warnings)
        warning.replace(u"{version}"_s, records.first().version);
    const Run run = runJudge(dir.path(), {u"--merge"_s, root});
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(errorLines(run.err, u"qxj-judge: warning: "_s), warnings);
    QCOMPARE(run.err.count(u'\n'), warnings.size());
    QVERIFY2(run.out.contains(u"\n2/3    slow  "_s), qPrintable(run.out));
}

// --player and --problem narrow a shard further; a player of another shard
// is not judged by this one.
void TestShards::shardWithFilters()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString root = dir.path() + u"/c"_s;
    QVERIFY(sample(root));
    const Run elsewhere = runJudge(dir.path(), {u"--shard"_s, u"0/3"_s, u"--player"_s, u"p02"_s, root});
    QVERIFY2(elsewhere.exitCode == 0, qPrintable(elsewhere.err));
    QVERIFY(!QFileInfo::exists(root + u"/result/sum"_s));

    const Run mine = runJudge(dir.path(), {u"--shard"_s, u"0/3"_s, u"--player"_s, u"p04"_s, u"--problem"_s,
                                           u"sum"_s, root});
    QVERIFY2(mine.exitCode == 0, qPrintable(mine.err));
    QCOMPARE(treeOf(root + u"/result"_s),
             (QStringList{u".shard-0-of-3.xml"_s, u"sum"_s, u"sum/p04.res"_s}));
    QCOMPARE(readTestFile(root + u"/result/sum/p04.res"_s).isEmpty(), false);
    QCOMPARE(judgedOutcome(root).value(u"result/sum/p04.res"_s),
             judgedOutcome(single()).value(u"result/sum/p04.res"_s));
}

void TestShards::jobCancelledAsAWhole_data()
{
    QTest::addColumn<QString>("held");  // what of the cell runs when the job is stopped
    QTest::addColumn<int>("signalNumber");
    QTest::newRow("program, SIGTERM") << u"program"_s << int(SIGTERM);
    QTest::newRow("program, SIGINT") << u"program"_s << int(SIGINT);
    QTest::newRow("program, SIGHUP") << u"program"_s << int(SIGHUP);
    QTest::newRow("checker, SIGTERM") << u"checker"_s << int(SIGTERM);
    QTest::newRow("checker, SIGHUP") << u"checker"_s << int(SIGHUP);
    QTest::newRow("compiler, SIGTERM") << u"compiler"_s << int(SIGTERM);
    QTest::newRow("compiler, SIGINT") << u"compiler"_s << int(SIGINT);
}

// A batch system cancels a job by signalling every process of it, the
// contestant's program, the compiler or the checker before the judge: their
// end is then no verdict, and the cell keeps no result.
void TestShards::jobCancelledAsAWhole()
{
    QFETCH(QString, held);
    QFETCH(int, signalNumber);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString root = dir.path() + u"/c"_s;
    QVERIFY(writeSlowContest(root, {u"a"_s}));
    QByteArray config = traditionalConfig(u"slow"_s, 100, u"20"_s);
    QString process = u"sleep"_s;  // the process below the judge that is running
    if (held == u"program"_s) {
        QVERIFY(writeTestFile(root + u"/src/a/slow/slow.c"_s, "int main(void)\n{\n    for (;;) {}\n}\n"));
        process = u"slow"_s;
    } else if (held == u"checker"_s) {
        QVERIFY(writeTestFile(root + u"/data/slow/hold"_s, "#!/bin/sh\nexec sleep 60\n"));
        QVERIFY(QFile::setPermissions(root + u"/data/slow/hold"_s, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner
                                                                     | QFile::ReadOther | QFile::ExeOther));
        config.replace("checker=\"全文比较\"", "checker=\"hold\"");
    } else {
        config.replace("cmd=\"gcc -o slow slow.c\"", "cmd=\"sleep 60\"");
    }
    QVERIFY(writeTestFile(root + u"/data/slow/.prb"_s, config));

    QProcess shard;
    shard.start(JudgeProgram, {u"--shard"_s, u"0/1"_s, root});
    QVERIFY(shard.waitForStarted());
    const pid_t judge = pid_t(shard.processId());
    const auto living = [&] {
        QList<pid_t> pids;
        for (const pid_t pid : descendantsDeepestFirst(judge)) {
            const QByteArray stat = readTestFile(u"/proc/%1/stat"_s.arg(pid));
            if (stat.contains("(" + process.toUtf8() + ") ") && !stat.contains(") Z "))
                pids.append(pid);
        }
        return pids;
    };
    QTRY_VERIFY_WITH_TIMEOUT(!living().isEmpty(), 60000);
    for (const pid_t pid : descendantsDeepestFirst(judge))
        ::kill(pid, signalNumber);
    // The judge hears of the stop last, once the process it ran has ended: a
    // loaded machine may deliver the judge's signal that late.
    QTRY_VERIFY_WITH_TIMEOUT(living().isEmpty(), 60000);
    QVERIFY(::kill(judge, signalNumber) == 0);
    QVERIFY(shard.waitForFinished(60000));
    QCOMPARE(shard.exitCode(), 130);
    QVERIFY2(!QFileInfo::exists(root + u"/result/slow/a.res"_s), readTestFile(root + u"/result/slow/a.res"_s));
    QVERIFY(!QFileInfo::exists(root + u"/tmp"_s));
}

// A program that ends itself by such a signal, with nobody stopping the
// judge, has its runtime error as ever.
void TestShards::programsOwnSignal()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString root = dir.path() + u"/c"_s;
    QVERIFY(writeSlowContest(root, {u"a"_s}));
    QVERIFY(writeTestFile(root + u"/src/a/slow/slow.c"_s,
                          "#include <signal.h>\nint main(void)\n{\n    raise(SIGTERM);\n    return 0;\n}\n"));
    const Run run = runJudge(dir.path(), {u"--shard"_s, u"0/1"_s, root});
    QVERIFY2(run.exitCode == 0, qPrintable(run.err));
    XmlFile file;
    QVERIFY(file.load(root + u"/result/slow/a.res"_s));
    QCOMPARE(pointStates(file), u"R"_s);
    QCOMPARE(attributeText(queryUnder(file.document, u"point"_s).item(0), u"note"_s), u"运行时错误: SIGTERM"_s);
}

QTEST_GUILESS_MAIN(TestShards)
#include "tst_shards.moc"
