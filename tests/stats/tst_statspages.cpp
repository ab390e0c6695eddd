#include "contestfiles.h"
#include "conteststats.h"
#include "htmlpage.h"
#include "pagereader.h"
#include "similaritypage.h"
#include "statscharts.h"
#include "statsfixture.h"
#include "statspage.h"

#include <QApplication>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

using namespace Qt::StringLiterals;

namespace {

// A small judged contest: two traditional problems, four players and std.
void makeContest(StatsFixture &f)
{
    f.addProblem(u"加法"_s, {2});
    f.addProblem(u"sort"_s, {1, 2});
    f.addResult(u"std"_s, u"加法"_s, 100, 'N', {{{'A', 0.1}, {'A', 0.1}}});
    f.addResult(u"p1"_s, u"加法"_s, 100, 'N', {{{'A', 0.2}, {'A', 0.3}}});
    f.addResult(u"p2"_s, u"加法"_s, 0, 'N', {{{'W', 0.2}, {'I'}}});
    f.addResult(u"p3"_s, u"加法"_s, 0, 'C');
    f.addResult(u"p1"_s, u"sort"_s, 50, 'N', {{{'A', 0.2}}, {{'T', 1.5}, {'I'}}});
    f.addResult(u"p2"_s, u"sort"_s, 100, 'N', {{{'A', 0.2}}, {{'A', 0.5}, {'A', 0.9}}});
    f.addPlayer(u"p<4>"_s);
    QVERIFY(writeContestFile(f.contest, {u"加法"_s, u"sort"_s}));
}

QDomDocument parsed(const QString &html)
{
    QDomDocument page;
    QString error;
    int line = 0;
    if (!page.setContent(html, &error, &line)) {
        qWarning("line %d: %s", line, qPrintable(error));
        return QDomDocument();
    }
    return page;
}

}  // namespace

class TestStatsPages : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void statisticsPage();
    void chartSvgHasTheChart_data();
    void chartSvgHasTheChart();
    void similarityPage();
    void pageWrittenUnderResult();
    void browserRendersCharts();

private:
    QTemporaryDir m_dir;
    Contest m_contest;
    ContestStats m_stats;
};

void TestStatsPages::initTestCase()
{
    StatsFixture f(m_dir.path());
    makeContest(f);
    m_contest = f.opened();
    m_stats = computeContestStats(m_contest);
}

void TestStatsPages::statisticsPage()
{
    const QDomDocument page = parsed(statisticsHtml(m_stats));
    QVERIFY(!page.isNull());
    // The summary: a header, the totals, then the problems in contest order.
    QList<QStringList> rows = tableRows(elementById(page, u"summary"_s));
    QCOMPARE(rows.size(), 4);
    QCOMPARE(rows[1], QStringList({u"总分"_s, u"200"_s}) + StatsText::summaryRow(m_stats.totals));
    QCOMPARE(rows[2].first(), m_stats.problems[0].name);
    QCOMPARE(rows[3].mid(2), StatsText::summaryRow(m_stats.problems[1].summary));
    // Every warning, in order, with its text.
    QStringList warnings;
    for (const QDomElement &item : elementsByTag(elementById(page, u"warnings"_s), u"li"_s))
        warnings.append(item.text());
    QStringList expected;
    for (const StatsWarning &warning : std::as_const(m_stats.warnings))
        expected.append(warning.text);
    QVERIFY(!expected.isEmpty());
    QCOMPARE(warnings, expected);
    // A chart of the totals, and a histogram and a points chart per problem.
    QCOMPARE(elementsByTag(page, u"svg"_s).size(), 1 + 2 * 2);
    // The points table of the second problem.
    const QDomElement section = elementById(page, u"problem-2"_s);
    rows = tableRows(elementsByTag(section, u"table"_s).last());
    QCOMPARE(rows.size(), 1 + 3);
    QCOMPARE(rows[0], StatsText::pointHeader());
    QCOMPARE(rows[2], StatsText::pointRow(m_stats.problems[1].points[1]));
}

void TestStatsPages::chartSvgHasTheChart_data()
{
    QTest::addColumn<int>("problem");  // -1: the totals' histogram
    QTest::addColumn<bool>("points");
    QTest::addColumn<QString>("title");
    QTest::newRow("totals") << -1 << false << u"总分分布"_s;
    QTest::newRow("a problem's histogram") << 0 << false << u"加法 得分分布"_s;
    QTest::newRow("a problem's points") << 1 << true << u"sort 各测试点结果"_s;
}

void TestStatsPages::chartSvgHasTheChart()
{
    QFETCH(int, problem);
    QFETCH(bool, points);
    QFETCH(QString, title);
    QChart *chart = problem < 0 ? histogramChart(m_stats.totalHistogram, title)
                    : points    ? pointsChart(m_stats.problems[problem])
                                : histogramChart(m_stats.problems[problem].histogram, title);
    const QSize size = points ? pointsChartSize(3) : histogramChartSize();
    const QString svg = inlineSvg(chartSvg(chart, size), size, chart->title());
    delete chart;
    const QDomDocument document = parsed(svg);
    QCOMPARE(document.documentElement().tagName(), u"svg"_s);
    QCOMPARE(document.documentElement().attribute(u"width"_s), QString::number(size.width()));
    QCOMPARE(elementsByTag(document, u"title"_s).first().text(), title);
    QStringList texts;
    for (const QDomElement &text : elementsByTag(document, u"text"_s))
        texts.append(text.text().trimmed());
    // Latin and Chinese runs of one label are drawn as texts of their own.
    QVERIFY2(texts.join(QString()).remove(u' ').contains(QString(title).remove(u' ')),
             qPrintable(texts.join(u'|')));
    // A rectangle for the background and one per bar drawn, and no group left empty.
    int bars = 0;
    if (points) {
        for (const PointStats &point : m_stats.problems[problem].points)
            bars += int(point.verdicts.size());
    } else {
        const ScoreHistogram &histogram = problem < 0 ? m_stats.totalHistogram
                                                      : m_stats.problems[problem].histogram;
        for (const int count : histogram.counts)
            bars += count > 0;
    }
    QVERIFY(bars >= 2);
    QVERIFY(elementsByTag(document, u"rect"_s).size() >= bars + 1);
    for (const QDomElement &group : elementsByTag(document, u"g"_s))
        QVERIFY(group.hasChildNodes());
    if (points) {
        QVERIFY(texts.contains(u"正确"_s));  // the legend
        QVERIFY(svg.contains(verdictColour('A').name()));
    }
}

void TestStatsPages::similarityPage()
{
    SimilarityReport report;
    report.contestName = u"c"_s;
    report.threshold = 60;
    report.complete = true;
    SimSource a;
    a.player = u"p1"_s;
    a.problem = u"sort"_s;
    a.language = simLanguageOf(u"x.cpp"_s);
    a.text = "int a;\nint b;\nint c;\n";
    a.result = {50, 0, 'N'};
    SimSource b = a;
    b.player = u"p<2>"_s;
    b.text = "// mine\nint x;\nint y;\nint z;\n";
    b.result = {};
    report.sources = {a, b};
    report.pairs = {SimPair{0, 1, 87.5, 30, {SimRun{1, 2, 2, 3, 30}}}};
    report.notes = {u"sort: 比较 2 份 C++ 源程序"_s};
    const QDomDocument page = parsed(similarityHtml(report));
    QVERIFY(!page.isNull());
    const QList<QStringList> rows = tableRows(elementById(page, u"pairs"_s));
    QCOMPARE(rows.size(), 2);
    QCOMPARE(rows[1], QStringList{u"1"_s} + SimilarityText::pairRow(report, report.pairs[0]));
    QCOMPARE(rows[1], (QStringList{u"1"_s, u"87.5%"_s, u"sort"_s, u"C++"_s, u"p1"_s, u"50"_s,
                                   u"p<2>"_s, u"未测评"_s}));
    // Side by side: the marked lines are those of the run on each side.
    const QDomElement section = elementById(page, u"pair-1"_s);
    const QList<QDomElement> sides = elementsByTag(section, u"pre"_s);
    QCOMPARE(sides.size(), 2);
    const auto marked = [](const QDomElement &pre) {
        QStringList lines;
        for (const QDomElement &span : elementsByTag(pre, u"span"_s)) {
            if (span.attribute(u"style"_s).startsWith(u"background"_s))
                lines.append(span.text());
        }
        return lines;
    };
    QCOMPARE(marked(sides[0]), (QStringList{u"1 int a;"_s, u"2 int b;"_s}));
    QCOMPARE(marked(sides[1]), (QStringList{u"2 int x;"_s, u"3 int y;"_s}));
}

void TestStatsPages::pageWrittenUnderResult()
{
    QTemporaryDir dir;
    StatsFixture f(dir.path());
    makeContest(f);
    Contest &contest = f.opened();
    QVERIFY(!QFileInfo::exists(contest.resultDir() + u"/statistics.html"_s));
    QVERIFY(writeStatisticsPage(contest, computeContestStats(contest)));
    QVERIFY(QFileInfo(contest.resultDir() + u"/statistics.html"_s).size() > 1000);
    // A result "folder" that is a file: reported, not a crash.
    Contest broken = contest;
    broken.rootDir = contest.resultDir() + u"/statistics.html"_s;
    QVERIFY(!writeStatisticsPage(broken, m_stats));
}

// The page as a browser shows it: the charts are there and drawn.
void TestStatsPages::browserRendersCharts()
{
    const QString browser = QStandardPaths::findExecutable(u"chromium"_s);
    if (browser.isEmpty()) {
        if (qEnvironmentVariableIsSet("QXJ_CI"))
            QFAIL("chromium is not installed");
        QSKIP("chromium is not installed");
    }
    QTemporaryDir dir;
    const QString page = dir.filePath(u"statistics.html"_s);
    QVERIFY(writeTestFile(page, statisticsHtml(m_stats).toUtf8()));
    const QStringList common = {u"--headless"_s, u"--no-sandbox"_s, u"--disable-gpu"_s,
                                u"--no-first-run"_s, u"--disable-background-networking"_s,
                                u"--disable-component-update"_s, u"--disable-sync"_s,
                                u"--disable-quic"_s, u"--hide-scrollbars"_s};
    const auto run = [&](const QStringList &arguments, const QString &profile) {
        QProcess chromium;
        chromium.setStandardErrorFile(QProcess::nullDevice());
        chromium.start(browser, common + QStringList{u"--user-data-dir="_s + dir.filePath(profile)}
                                    + arguments + QStringList{QUrl::fromLocalFile(page).toString()});
        const bool ended = chromium.waitForFinished(120'000);
        if (!ended)
            chromium.kill();
        return ended ? chromium.readAllStandardOutput() : QByteArray();
    };

    // The rendered document holds every chart with its drawing.
    const QByteArray dom = run({u"--dump-dom"_s}, u"dom"_s);
    QVERIFY(!dom.isEmpty());
    QCOMPARE(dom.count("<svg"), 5);
    QVERIFY(dom.contains("总分分布"));
    QVERIFY(dom.count("<rect") > 10);

    // The top of the page, drawn: the totals' chart shows its blue bars.
    const QString shot = dir.filePath(u"shot.png"_s);
    run({u"--screenshot="_s + shot, u"--window-size=900,1000"_s}, u"shot"_s);
    const QImage image(shot);
    QVERIFY(!image.isNull());
    int bar = 0;
    QSet<QRgb> colours;
    const QColor blue(72, 153, 217);
    for (int y = 0; y < image.height(); y += 2) {
        for (int x = 0; x < image.width(); x += 2) {
            const QRgb pixel = image.pixel(x, y);
            colours.insert(pixel);
            bar += qAbs(qRed(pixel) - blue.red()) + qAbs(qGreen(pixel) - blue.green())
                       + qAbs(qBlue(pixel) - blue.blue())
                   < 12;
        }
    }
    QVERIFY2(colours.size() > 20, "the page looks blank");
    QVERIFY2(bar > 200, qPrintable(QString::number(bar)));
}

QTEST_MAIN(TestStatsPages)
#include "tst_statspages.moc"
