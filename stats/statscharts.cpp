#include "statscharts.h"

#include "uifont.h"
#include "viewinfo.h"

#include <QBuffer>
#include <QGraphicsLayout>
#include <QGraphicsScene>
#include <QPainter>
#include <QSvgGenerator>
#include <QtCharts/QBarCategoryAxis>
#include <QtCharts/QBarSeries>
#include <QtCharts/QBarSet>
#include <QtCharts/QPercentBarSeries>
#include <QtCharts/QValueAxis>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace {

// Pixel sizes: the same on a screen of any resolution and in the SVG.
QFont chartFont(int pixels, bool bold = false)
{
    QFont font = windowFont();
    font.setPixelSize(pixels);
    font.setBold(bold);
    return font;
}

QChart *newChart(const QString &title)
{
    auto *chart = new QChart;
    chart->setTitle(title);
    chart->setTitleFont(chartFont(15, true));
    chart->setTitleBrush(QColor(0x33, 0x33, 0x33));
    chart->setAnimationOptions(QChart::NoAnimation);
    chart->setBackgroundRoundness(0);
    chart->layout()->setContentsMargins(0, 0, 0, 0);
    chart->setMargins(QMargins(6, 4, 10, 4));
    chart->legend()->setFont(chartFont(12));
    return chart;
}

void styleAxis(QAbstractAxis *axis, const QString &title)
{
    axis->setLabelsFont(chartFont(12));
    axis->setTitleText(title);
    axis->setTitleFont(chartFont(12));
    axis->setLabelsColor(QColor(0x33, 0x33, 0x33));
}

} // namespace

QColor verdictColour(char verdict)
{
    switch (verdict) {
    case 'M': return QColor(176, 32, 32);
    case 'E': return QColor(150, 30, 150);
    case 'U': return QColor(190, 190, 190);
    case NotRunVerdict: return QColor(232, 232, 232);
    default: return stateRowColour(verdict);
    }
}

QColor warningColour(StatsWarning::Kind kind)
{
    switch (kind) {
    case StatsWarning::StandardFails:
    case StatsWarning::JudgeFailed: return QColor(232, 53, 232);
    case StatsWarning::NobodyPasses: return QColor(255, 51, 0);
    case StatsWarning::TooEasy: return QColor(230, 200, 0);
    case StatsWarning::NotJudged: return QColor(164, 164, 164);
    }
    return QColor(164, 164, 164);
}

QSize histogramChartSize()
{
    return QSize(620, 300);
}

QSize pointsChartSize(qsizetype points)
{
    return QSize(int(std::clamp<qsizetype>(120 + 22 * points, 560, 1100)), 320);
}

QChart *histogramChart(const ScoreHistogram &histogram, const QString &title)
{
    QChart *chart = newChart(title);
    auto *set = new QBarSet(u"人数"_s);
    set->setColor(QColor(72, 153, 217));
    set->setBorderColor(QColor(52, 120, 180));
    set->setLabelColor(QColor(0x33, 0x33, 0x33));
    set->setLabelFont(chartFont(11));
    int most = 0;
    QStringList labels;
    for (qsizetype i = 0; i < histogram.counts.size(); ++i) {
        set->append(histogram.counts[i]);
        most = std::max(most, histogram.counts[i]);
        labels.append(histogram.label(i));
    }
    auto *series = new QBarSeries;
    series->append(set);
    series->setBarWidth(0.85);
    series->setLabelsVisible(true);
    series->setLabelsPosition(QAbstractBarSeries::LabelsOutsideEnd);
    chart->addSeries(series);
    chart->legend()->hide();

    auto *categories = new QBarCategoryAxis;
    categories->append(labels);
    styleAxis(categories, u"得分"_s);
    // Ranges such as "270-300" are wider than a tenth of the chart.
    qsizetype longest = 0;
    for (const QString &label : std::as_const(labels))
        longest = std::max(longest, label.size());
    if (longest > 3 && labels.size() > 6)
        categories->setLabelsFont(chartFont(longest > 5 ? 9 : 10));
    chart->addAxis(categories, Qt::AlignBottom);
    series->attachAxis(categories);

    auto *counts = new QValueAxis;
    // Room above the highest bar for its label, and whole players only.
    const int top = std::max(1, most + std::max(1, most / 8));
    counts->setRange(0, top);
    counts->setTickType(QValueAxis::TicksDynamic);
    counts->setTickAnchor(0);
    counts->setTickInterval(std::max(1, (top + 4) / 5));
    counts->setLabelFormat(u"%d"_s);
    styleAxis(counts, u"人数"_s);
    chart->addAxis(counts, Qt::AlignLeft);
    series->attachAxis(counts);
    return chart;
}

QChart *pointsChart(const ProblemStats &problem)
{
    QChart *chart = newChart(problem.name + u" 各测试点结果"_s);
    static const QByteArray order = "APWTMROCEIU-";
    QByteArray present;
    for (const PointStats &point : problem.points) {
        for (auto it = point.verdicts.cbegin(); it != point.verdicts.cend(); ++it) {
            if (it.value() > 0 && !present.contains(it.key()))
                present.append(it.key());
        }
    }
    std::sort(present.begin(), present.end(), [](char a, char b) {
        const auto rank = [](char c) {
            const qsizetype i = order.indexOf(c);
            return i < 0 ? order.size() : i;
        };
        return rank(a) < rank(b);
    });

    auto *series = new QPercentBarSeries;
    series->setBarWidth(0.8);
    for (const char verdict : std::as_const(present)) {
        auto *set = new QBarSet(StatsText::verdictName(verdict));
        set->setColor(verdictColour(verdict));
        set->setBorderColor(verdictColour(verdict).darker(115));
        for (const PointStats &point : problem.points)
            set->append(point.verdicts.value(verdict));
        series->append(set);
    }
    chart->addSeries(series);
    chart->legend()->setAlignment(Qt::AlignBottom);

    QStringList numbers;
    for (const PointStats &point : problem.points)
        numbers.append(QString::number(point.number));
    auto *categories = new QBarCategoryAxis;
    categories->append(numbers);
    styleAxis(categories, u"测试点"_s);
    chart->addAxis(categories, Qt::AlignBottom);
    series->attachAxis(categories);

    auto *share = new QValueAxis;
    share->setRange(0, 100);
    share->setTickCount(6);
    share->setLabelFormat(u"%d%%"_s);
    styleAxis(share, u"选手比例"_s);
    chart->addAxis(share, Qt::AlignLeft);
    series->attachAxis(share);
    return chart;
}

QByteArray chartSvg(QChart *chart, QSize size)
{
    QGraphicsScene scene;
    scene.addItem(chart);
    chart->setGeometry(QRectF(QPointF(0, 0), size));
    chart->layout()->activate();

    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QSvgGenerator generator;
    generator.setOutputDevice(&buffer);
    generator.setSize(size);
    generator.setViewBox(QRect(QPoint(0, 0), size));
    generator.setResolution(96);
    {
        QPainter painter(&generator);
        painter.setRenderHint(QPainter::Antialiasing);
        scene.render(&painter, QRectF(QPointF(0, 0), size), QRectF(QPointF(0, 0), size));
    }
    scene.removeItem(chart);
    return buffer.data();
}
