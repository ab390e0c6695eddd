// End to end: qxj-judge on a copy of the sample contest, judged once for the
// cases that look at what it left, and again to rejudge, stop and compare.

#include "clifixture.h"

#include "contest.h"
#include "mixedcontest.h"
#include "scoreinfo.h"
#include "xmlfile.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QStringDecoder>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>

#include <signal.h>

using namespace clifixture;

namespace {

// A cell's heading in the judge's output; the sample's players go by their
// listed names.
QString headingOf(const QString &player, const QString &problem)
{
    if (player == QStringLiteral("std"))
        return u'"' + problem + QStringLiteral("\"的标程");
    return (player.size() == 3 ? sampleName(player) : player) + QStringLiteral(" - ") + problem;
}

// The headings in the judge's output and, under each, its point rows'
// numbers ("1 2 3 ") and letters.
struct ShownCells
{
    QStringList headings;
    QHash<QString, QString> letters;
    QHash<QString, QString> numbers;
};

ShownCells shownCells(const QString &out)
{
    static const QRegularExpression pointRow(QStringLiteral("^  +(\\d+)  ([A-Z])  "));
    ShownCells shown;
    for (const QString &line : out.split(u'\n')) {
        const QRegularExpressionMatch match = pointRow.match(line);
        if (match.hasMatch() && !shown.headings.isEmpty()) {
            shown.letters[shown.headings.last()] += match.captured(2);
            shown.numbers[shown.headings.last()] += match.captured(1) + u' ';
        } else if (!line.isEmpty() && !line.startsWith(u' ')) {
            shown.headings << line;
        }
    }
    return shown;
}

}  // namespace

// Judges a fresh copy of the sample once; the tests below look at what it left.
void TestCli::initTestCase()
{
    QVERIFY2(QFileInfo(JudgeProgram).isExecutable(), qPrintable(JudgeProgram));
    QVERIFY(m_work.isValid());
    QVERIFY(copyTree(SampleContest, sampleRoot()));
    QElapsedTimer timer;
    timer.start();
    // A relative contest path: it must be resolved before the judge moves to its own directory.
    m_sample = runJudge(m_work.path(), {QStringLiteral("contest")});
    qInfo("sample contest judged in %.2f s", double(timer.elapsed()) / 1000);
}

void TestCli::sampleRunEnds()
{
    QVERIFY2(m_sample.exitCode == 0, qPrintable(m_sample.err));
}

void TestCli::cells_data()
{
    QTest::addColumn<QString>("player");
    QTest::addColumn<QString>("problem");
    QTest::addColumn<int>("score");
    QTest::addColumn<char>("state");
    QTest::addColumn<QString>("points");
    for (const Outcome &o : SampleOutcomes) {
        QTest::addRow("%s/%s", o.player, o.problem)
            << QString::fromUtf8(o.player) << QString::fromUtf8(o.problem) << o.score << o.state
            << QString::fromUtf8(o.points);
    }
}

void TestCli::cells()
{
    QFETCH(QString, player);
    QFETCH(QString, problem);
    QFETCH(int, score);
    QFETCH(char, state);
    QFETCH(QString, points);

    Contest contest;
    contest.rootDir = sampleRoot();
    XmlFile file;
    QVERIFY(file.load(contest.resultFilePath(player, problem)));
    const ScoreInfo info = readScoreInfo(file.document);
    QCOMPARE(info.state, state);
    QCOMPARE(info.score, score);
    QCOMPARE(pointStates(file), points);
}

void TestCli::resultList()
{
    Contest contest;
    contest.rootDir = sampleRoot();
    const QStringList lines =
        QString::fromUtf8(readTestFile(contest.resultListPath())).split(u'\n');
    const int cellCount = int(std::size(SampleOutcomes));
    QCOMPARE(lines.size(), cellCount + 1);
    QCOMPARE(lines.last(), QString());
    // Nothing was judged before, so the grid, and the list, is in name order.
    for (int i = 0; i < cellCount; ++i) {
        const Outcome &o = SampleOutcomes[i];
        const QString player = QString::fromUtf8(o.player);
        const QString problem = QString::fromUtf8(o.problem);
        XmlFile file;
        QVERIFY(file.load(contest.resultFilePath(player, problem)));
        const ScoreInfo info = readScoreInfo(file.document);
        const QString expected = player + u'/' + problem + u'/' + QString::number(info.score) + u'/'
                                 + realText(info.time) + u'/' + QLatin1Char(info.state) + u'/';
        QCOMPARE(lines[i], expected);
    }
}

void TestCli::reports()
{
    for (const QString &player :
         QDir(sampleRoot() + QStringLiteral("/src")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QString report =
            sampleRoot() + QStringLiteral("/src/") + player + QStringLiteral("/result.html");
        QVERIFY2(QFileInfo::exists(report), qPrintable(report));
        QVERIFY(QString::fromUtf8(readTestFile(report))
                    .contains(player + QStringLiteral("的测评结果")));
    }
}

void TestCli::scratchRemoved()
{
    QVERIFY(!QFileInfo::exists(sampleRoot() + QStringLiteral("/tmp")));
}

// A program that leaves hidden files in the work directory and in the
// scratch directory above it: the scratch directory still goes at the end.
void TestCli::hiddenLeftoversDoNotKeepScratch()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString root = dir.path();
    QVERIFY(writeOnePointContest(root, QStringLiteral("hide"), QStringLiteral("1"),
                                 "#include <stdio.h>\n"
                                 "#include <sys/stat.h>\n"
                                 "int main(void)\n{\n"
                                 "    mkdir(\"d\", 0755);\n"
                                 "    fclose(fopen(\".x\", \"w\"));\n"
                                 "    fclose(fopen(\"d/.x\", \"w\"));\n"
                                 "    FILE *above = fopen(\"../.x\", \"w\");\n"
                                 "    if (above)\n"
                                 "        fclose(above);\n"
                                 "    FILE *f = fopen(\"hide.out\", \"w\");\n"
                                 "    fputs(\"1\\n\", f);\n"
                                 "    fclose(f);\n"
                                 "    return 0;\n}\n"));

    const CommandRun run = runJudge(root, {root});
    QVERIFY2(run.exitCode == 0, qPrintable(run.err));
    XmlFile file;
    QVERIFY(file.load(root + QStringLiteral("/result/hide/a.res")));
    QCOMPARE(pointStates(file), QStringLiteral("A"));
    QVERIFY2(!QFileInfo::exists(root + QStringLiteral("/tmp")),
             qPrintable(treeOf(root + QStringLiteral("/tmp")).join(u' ')));
}

// Every judged cell shows its heading and one row per point whose letter is
// the state stored in its result file.
void TestCli::detailRows()
{
    const ShownCells shown = shownCells(m_sample.out);
    const QStringList &headings = shown.headings;
    const int end = int(headings.indexOf(QStringLiteral("- 测评结束 -")));
    QCOMPARE(end, int(std::size(SampleOutcomes)));

    Contest contest;
    contest.rootDir = sampleRoot();
    for (int i = 0; i < end; ++i) {
        const Outcome &o = SampleOutcomes[i];
        const QString player = QString::fromUtf8(o.player);
        const QString problem = QString::fromUtf8(o.problem);
        const QString heading = headingOf(player, problem);
        QCOMPARE(headings[i], heading);
        XmlFile file;
        QVERIFY(file.load(contest.resultFilePath(player, problem)));
        QCOMPARE(shown.letters.value(heading), pointStates(file));
        QString expectedNumbers;
        for (int n = 1; n <= pointStates(file).size(); ++n)
            expectedNumbers += QString::number(n) + u' ';
        QCOMPARE(shown.numbers.value(heading), expectedNumbers);
    }
}

void TestCli::gridPrinted()
{
    const QStringList lines =
        m_sample.out.section(QStringLiteral("- 测评结束 -\n"), 1).split(u'\n', Qt::SkipEmptyParts);
    QHash<QString, int> totals;
    for (const Outcome &o : SampleOutcomes)
        totals[QString::fromUtf8(o.player)] += o.score;
    QStringList players = totals.keys();
    std::sort(players.begin(), players.end(),
              [&](const QString &a, const QString &b) { return totals[a] > totals[b]; });

    QCOMPARE(lines.size(), players.size() + 1);
    static const QRegularExpression gap(QStringLiteral("  +"));
    QCOMPARE(lines[0].split(gap),
             (QStringList{QStringLiteral("选手"), QStringLiteral("总分")} + SampleProblems));
    for (int i = 0; i < players.size(); ++i) {
        const QString &player = players[i];
        const QString line = lines[i + 1];
        QVERIFY2(line.startsWith(sampleName(player) + QStringLiteral("  ")), qPrintable(line));
        const QStringList fields = line.mid(sampleName(player).size()).trimmed().split(gap);
        QCOMPARE(fields.size(), 1 + SampleProblems.size());
        QCOMPARE(fields[0], QString::number(totals[player]));
        for (int j = 0; j < SampleProblems.size(); ++j) {
            const Outcome &o = sampleOutcome(player, SampleProblems[j]);
            const QString score = QString::number(o.score);
            QVERIFY2(fields[j + 1].trimmed().startsWith(score + u' '), qPrintable(fields[j + 1]));
            if (o.state != 'N')
                QCOMPARE(fields[j + 1].trimmed(), score + u' ' + TaskState::text(o.state, 0));
            else
                QVERIFY(fields[j + 1].contains(QStringLiteral("用时: ")));
        }
    }
}

void TestCli::secondRunJudgesNothing()
{
    Contest contest;
    contest.rootDir = sampleRoot();
    const QStringList before = filesBelow(contest.resultDir());
    QStringList listBefore = QString::fromUtf8(readTestFile(contest.resultListPath())).split(u'\n');
    const CommandRun run = runJudge(m_work.path(), {sampleRoot()});
    QCOMPARE(run.exitCode, 0);
    QVERIFY(!run.out.contains(QStringLiteral(" - ")));
    QCOMPARE(filesBelow(contest.resultDir()), before);
    // Written again from the grid, now in the order of the totals.
    QStringList listAfter = QString::fromUtf8(readTestFile(contest.resultListPath())).split(u'\n');
    listBefore.sort();
    listAfter.sort();
    QCOMPARE(listAfter, listBefore);
}

void TestCli::rejudgeOneCell()
{
    Contest contest;
    contest.rootDir = sampleRoot();
    const QString cell = contest.resultFilePath(QStringLiteral("p01"), QStringLiteral("split"));
    QStringList others = filesBelow(contest.resultDir());
    others.removeIf(
        [](const QString &entry) { return entry.startsWith(QStringLiteral("split/p01.res")); });

    const CommandRun run = runJudge(m_work.path(), {QStringLiteral("--all"), QStringLiteral("--player"),
                                             QStringLiteral("p01"), QStringLiteral("--problem"),
                                             QStringLiteral("split"), sampleRoot()});
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.out.count(QStringLiteral(" - split\n")), 1);
    QVERIFY(run.out.contains(QStringLiteral("p01 [张晓伟] - split\n")));
    QStringList after = filesBelow(contest.resultDir());
    after.removeIf(
        [](const QString &entry) { return entry.startsWith(QStringLiteral("split/p01.res")); });
    QCOMPARE(after, others);
    XmlFile file;
    QVERIFY(file.load(cell));
    const Outcome &expected = sampleOutcome(QStringLiteral("p01"), QStringLiteral("split"));
    QCOMPARE(readScoreInfo(file.document).score, expected.score);
    QCOMPARE(pointStates(file), QString::fromUtf8(expected.points));
}

void TestCli::stoppedRejudgeKeepsEveryResult_data()
{
    QTest::addColumn<int>("signalNumber");
    QTest::newRow("SIGINT") << int(SIGINT);
    QTest::newRow("SIGKILL") << int(SIGKILL);
}

// Judging everything again, ended in the fourth cell: every cell still has
// a complete result file, old or new (the same here), and after a stop the
// result list shows them all.
void TestCli::stoppedRejudgeKeepsEveryResult()
{
    QFETCH(int, signalNumber);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString root = dir.path() + QStringLiteral("/contest");
    QVERIFY(copyTree(sampleRoot(), root));
    QProcess process;
    QByteArray out;
    connect(&process, &QProcess::readyReadStandardOutput, this,
            [&] { out += process.readAllStandardOutput(); });
    markRun(process, root);
    process.start(JudgeProgram, {QStringLiteral("--all"), root});
    static const QRegularExpression heading(QStringLiteral("^\\S"));
    QTRY_VERIFY_WITH_TIMEOUT(QString::fromUtf8(out).split(u'\n').filter(heading).size() >= 4, 120000);
    QVERIFY(::kill(pid_t(process.processId()), signalNumber) == 0);
    QVERIFY(process.waitForFinished(120000));
    QVERIFY2(!out.contains("- 测评结束 -"), "the run ended before the signal");
    QCOMPARE(process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
             signalNumber == SIGKILL ? -1 : 130);

    Contest contest;
    contest.rootDir = root;
    contest.loadResultList();
    for (const Outcome &o : SampleOutcomes) {
        XmlFile file;
        const QString player = QString::fromUtf8(o.player);
        const QString problem = QString::fromUtf8(o.problem);
        QVERIFY2(file.load(contest.resultFilePath(player, problem)), o.player);
        QCOMPARE(pointStates(file), QString::fromUtf8(o.points));
        const ScoreInfo info = readScoreInfo(file.document);
        QCOMPARE(info, (ScoreInfo{o.score, info.time, o.state}));
        if (signalNumber != SIGKILL)
            QCOMPARE(contest.cachedResults.value(Contest::cellKey(player, problem)), info);
    }
    QTRY_VERIFY_WITH_TIMEOUT(!anyProcessWorksIn(root), 30000);
}

// The same contest judged one cell at a time and two at a time: the same
// verdicts, and on standard output each cell's rows together under its heading.
void TestCli::twoJobsGiveTheSameVerdicts()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString one = dir.path() + QStringLiteral("/one");
    const QString two = dir.path() + QStringLiteral("/two");
    QVERIFY(writeMixedContest(SampleContest, one, 2));
    QVERIFY(copyTree(one, two));

    const CommandRun single = runJudge(dir.path(), {QStringLiteral("--jobs"), QStringLiteral("1"), one});
    QVERIFY2(single.exitCode == 0, qPrintable(single.err));
    const CommandRun pair = runJudge(dir.path(), {QStringLiteral("--jobs"), QStringLiteral("2"), two});
    QVERIFY2(pair.exitCode == 0, qPrintable(pair.err));
    QVERIFY(!QFileInfo::exists(two + QStringLiteral("/tmp")));

    const QMap<QString, QString> verdicts = verdictsBelow(one);
    QCOMPARE(verdicts.size(), 22 * 4);
    QCOMPARE(verdictsBelow(two), verdicts);
    QString letters;
    for (const QString &verdict : verdicts)
        letters += verdict.section(u'|', 0, 0);
    for (const QChar letter : QStringLiteral("AWPTMROIUCF"))
        QVERIFY2(letters.contains(letter), qPrintable(QString(letter)));

    // Under each heading exactly the points of that cell's result file.
    const ShownCells shown = shownCells(pair.out.section(QStringLiteral("- 测评结束 -"), 0, 0));
    QCOMPARE(shown.headings.size(), verdicts.size());
    for (auto it = verdicts.cbegin(); it != verdicts.cend(); ++it) {
        const QString problem = it.key().section(u'/', 0, 0);
        const QString player = it.key().section(u'/', 1);
        const QString heading = headingOf(player, problem);
        QVERIFY2(shown.headings.contains(heading), qPrintable(heading));
        QCOMPARE(shown.letters.value(heading), it.value().section(u'|', 0, 0).section(u' ', 2));
    }
}

QTEST_GUILESS_MAIN(TestCli)
