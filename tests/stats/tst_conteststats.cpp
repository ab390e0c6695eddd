#include "conteststats.h"
#include "contestfiles.h"
#include "statsfixture.h"
#include "storedresult.h"
#include "xmlfile.h"

#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

// Two problems judged by hand:
//   sum (2 subtasks of 2 points, 1 s): std fails point 2, nobody passes
//   point 4, p3 did not compile, p4 was never judged;
//   sort (1 subtask of 3 points, 2 s): everyone passes points 1 and 2 far
//   inside the limit while p3 runs out of time on point 3, and the judge
//   failed on p4's point 3.
class TestContestStats : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    ContestStats m_stats;

    const ProblemStats &problem(const QString &name) const
    {
        for (const ProblemStats &p : m_stats.problems) {
            if (p.name == name)
                return p;
        }
        qFatal("no such problem");
    }

private slots:
    void initTestCase();
    void summaries_data();
    void summaries();
    void points_data();
    void points();
    void warnings_data();
    void warnings();
    void warningOrder();
    void standardProblemFailure();
    void histogram_data();
    void histogram();
    void median_data();
    void median();
    void storedResultFollowsQueryRules_data();
    void storedResultFollowsQueryRules();
};

void TestContestStats::initTestCase()
{
    QVERIFY(m_dir.isValid());
    StatsFixture f(m_dir.path());
    f.addProblem(u"sum"_s, {2, 2}, 1.0);
    f.addProblem(u"sort"_s, {3}, 2.0);
    f.addResult(u"std"_s, u"sum"_s, 50, 'N',
                {{{'A', 0.1}, {'W', 0.3, u"答案错误"_s}}, {{'A', 0.2}, {'A', 0.1}}});
    f.addResult(u"p1"_s, u"sum"_s, 50, 'N',
                {{{'A', 0.05}, {'A', 0.06}},
                 {{'A', -1, u"时间: 0.50s 内存: 1.00MB"_s}, {'W', 0.2, u"答案错误"_s}}});
    f.addResult(u"p2"_s, u"sum"_s, 30, 'N',
                {{{'A', 0.1}, {'W', 0.1}}, {{'T', -1, u"超过时间限制"_s}, {'I', -1, u"忽略"_s}}});
    f.addResult(u"p3"_s, u"sum"_s, 0, 'C');
    f.addPlayer(u"p4"_s);

    f.addResult(u"std"_s, u"sort"_s, 100, 'N', {{{'A', 0.1}, {'A', 0.1}, {'A', 0.1}}});
    f.addResult(u"p1"_s, u"sort"_s, 100, 'N', {{{'A', 0.1}, {'A', 0.2}, {'A', 0.3}}});
    f.addResult(u"p2"_s, u"sort"_s, 100, 'N', {{{'A', 0.05}, {'A', 0.1}, {'A', 1.5}}});
    f.addResult(u"p3"_s, u"sort"_s, 0, 'N', {{{'A', 0.2}, {'A', 0.2}, {'T', 2.5}}});
    f.addResult(u"p4"_s, u"sort"_s, 0, 'E',
                {{{'A', 0.1}, {'A', 0.15}, {'C', 0.3, u"校验器超时或崩溃"_s}}});
    QVERIFY(writeContestFile(f.contest, {u"sum"_s, u"sort"_s}));
    m_stats = computeContestStats(f.opened());
}

void TestContestStats::summaries_data()
{
    QTest::addColumn<QString>("problem");  // empty: the totals
    QTest::addColumn<QStringList>("row");  // 人数, 平均分, 中位数, 最高分, 满分率
    QTest::addColumn<int>("full");
    QTest::newRow("sum: std out, the unjudged out, the compile error in")
        << u"sum"_s << QStringList{u"3"_s, u"26.7"_s, u"30.0"_s, u"50"_s, u"0.0%"_s} << 100;
    QTest::newRow("sort: a judge error still counts its score")
        << u"sort"_s << QStringList{u"4"_s, u"50.0"_s, u"50.0"_s, u"100"_s, u"50.0%"_s} << 100;
    QTest::newRow("totals: everyone judged on some problem")
        << QString() << QStringList{u"4"_s, u"70.0"_s, u"65.0"_s, u"150"_s, u"0.0%"_s} << 200;
}

void TestContestStats::summaries()
{
    QFETCH(QString, problem);
    QFETCH(QStringList, row);
    QFETCH(int, full);
    const ScoreSummary &summary = problem.isEmpty() ? m_stats.totals : this->problem(problem).summary;
    QCOMPARE(StatsText::summaryRow(summary), row);
    QCOMPARE(summary.full, full);
}

void TestContestStats::points_data()
{
    QTest::addColumn<QString>("problem");
    QTest::addColumn<int>("point");
    QTest::addColumn<int>("subtask");
    QTest::addColumn<QString>("passRate");
    QTest::addColumn<QString>("timeShare");
    QTest::addColumn<QString>("verdicts");
    QTest::newRow("a compile error is a judged player who did not run")
        << u"sum"_s << 1 << 1 << u"66.7%"_s << u"7.5%"_s << u"正确 2  未运行 1"_s;
    QTest::newRow("std's verdict is not counted")
        << u"sum"_s << 2 << 1 << u"33.3%"_s << u"8.0%"_s << u"正确 1  错误 1  未运行 1"_s;
    QTest::newRow("time from an old note; a time-out without a time counts as the limit")
        << u"sum"_s << 3 << 2 << u"33.3%"_s << u"75.0%"_s << u"正确 1  超时 1  未运行 1"_s;
    QTest::newRow("a point nobody passes")
        << u"sum"_s << 4 << 2 << u"0.0%"_s << u"20.0%"_s << u"错误 1  忽略 1  未运行 1"_s;
    QTest::newRow("time over the limit")
        << u"sort"_s << 3 << 1 << u"50.0%"_s << u"57.5%"_s << u"正确 2  超时 1  校验器错 1"_s;
}

void TestContestStats::points()
{
    QFETCH(QString, problem);
    QFETCH(int, point);
    QFETCH(int, subtask);
    QFETCH(QString, passRate);
    QFETCH(QString, timeShare);
    QFETCH(QString, verdicts);
    const PointStats &stats = this->problem(problem).points.at(point - 1);
    const QStringList row = StatsText::pointRow(stats);
    QCOMPARE(stats.number, point);
    QCOMPARE(stats.subtask, subtask);
    QCOMPARE(row.at(3), passRate);
    QCOMPARE(row.at(4), timeShare);
    QCOMPARE(row.at(5), verdicts);
}

void TestContestStats::warnings_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("problem");
    QTest::addColumn<int>("point");
    QTest::addColumn<QString>("says");
    QTest::newRow("a point std fails")
        << int(StatsWarning::StandardFails) << u"sum"_s << 2 << u"标准程序未通过 (答案错误"_s;
    QTest::newRow("a point nobody passes")
        << int(StatsWarning::NobodyPasses) << u"sum"_s << 4 << u"没有选手通过 (3 人已测评)"_s;
    QTest::newRow("an unjudged cell") << int(StatsWarning::NotJudged) << u"sum"_s << 0
                                      << u"1 名选手未测评: p4"_s;
    QTest::newRow("a judge error") << int(StatsWarning::JudgeFailed) << u"sort"_s << 0
                                   << u"1 名选手测评器或校验器出错: p4"_s;
    QTest::newRow("passed by all far inside a limit that matters")
        << int(StatsWarning::TooEasy) << u"sort"_s << 1 << u"10.0% 以内通过"_s;
    QTest::newRow("the same for the next point")
        << int(StatsWarning::TooEasy) << u"sort"_s << 2 << u"10.0% 以内通过"_s;
}

void TestContestStats::warnings()
{
    QFETCH(int, kind);
    QFETCH(QString, problem);
    QFETCH(int, point);
    QFETCH(QString, says);
    int found = 0;
    for (const StatsWarning &warning : std::as_const(m_stats.warnings)) {
        if (warning.kind == kind && warning.problem == problem && warning.point == point) {
            ++found;
            QVERIFY2(warning.text.contains(says), qPrintable(warning.text));
        }
    }
    QCOMPARE(found, 1);
}

void TestContestStats::warningOrder()
{
    // Exactly the warnings above, the ones about the data first.
    QList<int> kinds;
    for (const StatsWarning &warning : std::as_const(m_stats.warnings))
        kinds.append(warning.kind);
    QCOMPARE(kinds, (QList<int>{StatsWarning::StandardFails, StatsWarning::NobodyPasses,
                                StatsWarning::JudgeFailed, StatsWarning::NotJudged,
                                StatsWarning::TooEasy, StatsWarning::TooEasy}));
    QCOMPARE(m_stats.notJudgedCells, 1);
    QVERIFY(m_stats.hasStandard);
}

void TestContestStats::standardProblemFailure()
{
    QTemporaryDir dir;
    StatsFixture f(dir.path());
    f.addProblem(u"a"_s, {1});
    f.addProblem(u"b"_s, {1});
    f.addResult(u"std"_s, u"a"_s, 0, 'C');
    f.addPlayer(u"std"_s);  // never judged on b
    f.addResult(u"p1"_s, u"a"_s, 100, 'N', {{{'A', 0.1}}});
    f.addResult(u"p1"_s, u"b"_s, 100, 'N', {{{'A', 0.1}}});
    const ContestStats stats = computeContestStats(f.opened());
    QCOMPARE(stats.warnings.size(), 2);
    QCOMPARE(stats.warnings[0].kind, StatsWarning::StandardFails);
    QCOMPARE(stats.warnings[0].text, u"a: 标准程序编译错误"_s);
    QCOMPARE(stats.warnings[1].kind, StatsWarning::NotJudged);
    QCOMPARE(stats.warnings[1].text, u"b: 1 名选手未测评: std"_s);
}

void TestContestStats::histogram_data()
{
    QTest::addColumn<QList<int>>("scores");
    QTest::addColumn<int>("full");
    QTest::addColumn<QStringList>("labels");
    QTest::addColumn<QList<int>>("counts");
    QTest::newRow("tenths of 100, the full score in the last")
        << QList<int>{0, 9, 10, 55, 99, 100} << 100
        << QStringList{u"0-9"_s, u"10-19"_s, u"20-29"_s, u"30-39"_s, u"40-49"_s, u"50-59"_s,
                       u"60-69"_s, u"70-79"_s, u"80-89"_s, u"90-100"_s}
        << QList<int>{2, 1, 0, 0, 0, 1, 0, 0, 0, 2};
    QTest::newRow("a small full score: one score a bin")
        << QList<int>{0, 3, 3, 7} << 7
        << QStringList{u"0"_s, u"1"_s, u"2"_s, u"3"_s, u"4"_s, u"5"_s, u"6"_s, u"7"_s}
        << QList<int>{1, 0, 0, 2, 0, 0, 0, 1};
    QTest::newRow("no full score: up to the highest")
        << QList<int>{1, 2} << 0 << QStringList{u"0"_s, u"1"_s, u"2"_s} << QList<int>{0, 1, 1};
    QTest::newRow("scores outside the range go to the end bins")
        << QList<int>{-5, 12} << 3 << QStringList{u"0"_s, u"1"_s, u"2"_s, u"3"_s}
        << QList<int>{1, 0, 0, 1};
    QTest::newRow("nobody") << QList<int>{} << 0 << QStringList{u"0"_s} << QList<int>{0};
}

void TestContestStats::histogram()
{
    QFETCH(QList<int>, scores);
    QFETCH(int, full);
    QFETCH(QStringList, labels);
    QFETCH(QList<int>, counts);
    const ScoreHistogram histogram = scoreHistogram(scores, full);
    QStringList shown;
    for (qsizetype i = 0; i < histogram.counts.size(); ++i)
        shown.append(histogram.label(i));
    QCOMPARE(shown, labels);
    QCOMPARE(histogram.counts, counts);
}

void TestContestStats::median_data()
{
    QTest::addColumn<QList<int>>("scores");
    QTest::addColumn<double>("median");
    QTest::addColumn<double>("fullShare");
    QTest::newRow("odd count, unsorted") << QList<int>{30, 10, 20} << 20.0 << 0.0;
    QTest::newRow("even count: the middle two") << QList<int>{100, 0, 50, 100} << 75.0 << 0.5;
    QTest::newRow("nobody") << QList<int>{} << 0.0 << 0.0;
}

void TestContestStats::median()
{
    QFETCH(QList<int>, scores);
    QFETCH(double, median);
    QFETCH(double, fullShare);
    const ScoreSummary summary = scoreSummary(scores, 100);
    QCOMPARE(summary.median, median);
    QCOMPARE(summary.fullShare(), fullShare);
}

// The stream reader must find what a document searched by ElementQuery finds.
void TestContestStats::storedResultFollowsQueryRules_data()
{
    QTest::addColumn<QByteArray>("xml");
    QTest::newRow("as the judge writes it")
        << QByteArray("<task score=\"7\" time=\"1.5\" state=\"N\"><subtask score=\"7\">"
                      "<point state=\"A\" note=\"ok\" time=\"0.1\"/><point state=\"W\" note=\"x\"/>"
                      "</subtask><subtask><point state=\"I\" note=\"忽略\"/></subtask></task>");
    QTest::newRow("broken after the first subtask")
        << QByteArray("<task score=\"3\" state=\"R\"><subtask><point state=\"R\" note=\"a\"/>"
                      "</subtask><subtask><point state=\"A\" note=\"b\"/><oops</task>");
    QTest::newRow("a subtask inside a subtask: its points count for both")
        << QByteArray("<task><subtask><point state=\"A\"/><subtask><point state=\"W\"/>"
                      "</subtask></subtask><point state=\"T\"/></task>");
    QTest::newRow("the task not at the root")
        << QByteArray("<result><other/><task score=\"5\" state=\"E\"/><task score=\"9\"/></result>");
    QTest::newRow("no task at all") << QByteArray("<result><subtask/></result>");
    QTest::newRow("an old note with the time") << QByteArray(
        "<task><subtask><point state=\"A\" note=\"abc 时间: 0.25s 内存: 1.00MB\"/></subtask></task>");
}

void TestContestStats::storedResultFollowsQueryRules()
{
    QFETCH(QByteArray, xml);
    QTemporaryDir dir;
    const QString path = dir.filePath(u"r.res"_s);
    QVERIFY(writeTestFile(path, xml));
    const StoredResult stored = readStoredResult(path);
    XmlFile file;
    QVERIFY(file.load(path));
    QVERIFY(stored.opened);
    QCOMPARE(stored.info, readScoreInfo(file.document));
    const QList<QDomElement> subtasks = queryUnder(file.document, ResultXml::Subtask).elements();
    QCOMPARE(stored.subtasks.size(), subtasks.size());
    for (qsizetype j = 0; j < subtasks.size(); ++j) {
        const QList<QDomElement> points = queryWithin(subtasks[j], ResultXml::Point).elements();
        QCOMPARE(stored.subtasks[j].size(), points.size());
        for (qsizetype k = 0; k < points.size(); ++k) {
            const QString state = attributeText(points[k], ResultXml::State);
            QCOMPARE(stored.subtasks[j][k].state, state.isEmpty() ? '\0' : state.at(0).toLatin1());
            QCOMPARE(stored.subtasks[j][k].note, attributeText(points[k], ResultXml::Note));
        }
    }
    QVERIFY(!readStoredResult(dir.filePath(u"missing.res"_s)).opened);
    // A FIFO in a result file's place is not waited on: no result.
    const QString fifo = dir.filePath(u"fifo.res"_s);
    QVERIFY(makeFifo(fifo));
    bool opened = true;
    QVERIFY(returnsAtOnce(fifo, [&] { opened = readStoredResult(fifo).opened; }));
    QVERIFY(!opened);
}

QTEST_GUILESS_MAIN(TestContestStats)
#include "tst_conteststats.moc"
