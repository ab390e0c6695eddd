#include "statspage.h"

#include "htmlpage.h"
#include "statscharts.h"

#include <memory>

using namespace Qt::StringLiterals;

namespace {

QString chartElement(QChart *chart, QSize size)
{
    const std::unique_ptr<QChart> owned(chart);
    return inlineSvg(chartSvg(chart, size), size, chart->title());
}

QString summaryTable(const ContestStats &stats)
{
    QString html = u"<table id=\"summary\">\n"_s
                   + tableRow(QStringList{u"项目"_s, u"满分"_s} + StatsText::summaryHeader(), true);
    html += tableRow(QStringList{u"总分"_s, StatsText::count(stats.totals.full)}
                     + StatsText::summaryRow(stats.totals));
    for (const ProblemStats &problem : stats.problems)
        html += tableRow(QStringList{problem.name, StatsText::count(problem.summary.full)}
                         + StatsText::summaryRow(problem.summary));
    return html + u"</table>\n"_s;
}

QString warningList(const ContestStats &stats)
{
    if (stats.warnings.isEmpty())
        return u"<p id=\"warnings\">没有需要注意的问题。</p>\n"_s;
    QString html = u"<ul id=\"warnings\">\n"_s;
    for (const StatsWarning &warning : stats.warnings)
        html += u"<li style=\"border-left: 6px solid "_s + warningColour(warning.kind).name()
                + u"; padding-left: 6px; margin: 3px 0; list-style: none;\">"_s
                + escaped(warning.text) + u"</li>\n"_s;
    return html + u"</ul>\n"_s;
}

QString problemSection(const ProblemStats &problem, int index)
{
    QString html = u"<section id=\"problem-%1\">\n<h2>"_s.arg(index) + escaped(problem.name)
                   + u"</h2>\n"_s;
    html += u"<table class=\"problem-summary\">\n"_s
            + tableRow(QStringList{u"满分"_s} + StatsText::summaryHeader(), true)
            + tableRow(QStringList{StatsText::count(problem.summary.full)}
                       + StatsText::summaryRow(problem.summary))
            + u"</table>\n"_s;
    html += chartElement(histogramChart(problem.histogram, problem.name + u" 得分分布"_s),
                         histogramChartSize());
    if (problem.points.isEmpty())
        return html + u"<p class=\"note\">没有测试点。</p>\n</section>\n"_s;
    html += chartElement(pointsChart(problem), pointsChartSize(problem.points.size()));
    html += u"<table class=\"points\">\n"_s + tableRow(StatsText::pointHeader(), true);
    for (const PointStats &point : problem.points)
        html += tableRow(StatsText::pointRow(point));
    return html + u"</table>\n</section>\n"_s;
}

} // namespace

QString statisticsHtml(const ContestStats &stats)
{
    const QString title = stats.contestName + u" 成绩统计"_s;
    QString html = pageStart(title);
    html += u"<h1>"_s + escaped(title) + u"</h1>\n"_s;
    html += u"<p class=\"note\">"_s + StatsText::count(stats.totals.count) + u" 名选手, "_s
            + StatsText::count(int(stats.problems.size())) + u" 道试题"_s
            + (stats.hasStandard ? u"; 标准程序 (std) 不计入统计, 只用来检查数据。"_s
                                 : u"; 没有标准程序 (std)。"_s)
            + u"</p>\n"_s;
    html += u"<h2>需要注意</h2>\n"_s + warningList(stats);
    html += u"<h2>成绩概况</h2>\n"_s + summaryTable(stats);
    html += u"<section id=\"totals\">\n"_s
            + chartElement(histogramChart(stats.totalHistogram, u"总分分布"_s),
                           histogramChartSize())
            + u"</section>\n"_s;
    for (qsizetype i = 0; i < stats.problems.size(); ++i)
        html += problemSection(stats.problems[i], int(i) + 1);
    return html + pageEnd();
}

bool writeStatisticsPage(const Contest &contest, const ContestStats &stats)
{
    return writeResultPage(contest, StatisticsPageName, statisticsHtml(stats));
}
