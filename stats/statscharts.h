#pragma once

#include "conteststats.h"

#include <QByteArray>
#include <QColor>
#include <QSize>
#include <QString>

#include <QtCharts/QChart>

// One drawing code for the charts: the window shows them in a QChartView,
// the statistics page embeds the same charts drawn to SVG.

// Bars of players per score range.
QChart *histogramChart(const ScoreHistogram &histogram, const QString &title);
// One bar per test point, split by verdict; the share of "A" is its pass rate.
QChart *pointsChart(const ProblemStats &problem);

QSize histogramChartSize();
QSize pointsChartSize(qsizetype points);

// The chart drawn as an SVG document of that size. The chart stays the
// caller's, unchanged but for its geometry.
QByteArray chartSvg(QChart *chart, QSize size);

// The colour of a verdict's bars: those of the detail table, with the
// verdicts that share one there told apart.
QColor verdictColour(char verdict);

// The mark beside a warning, in the window and on the page.
QColor warningColour(StatsWarning::Kind kind);
