#pragma once

#include "conteststats.h"

#include <QString>

class Contest;

inline const QString StatisticsPageName = QStringLiteral("statistics.html");

// The statistics as one page: the warnings, the summary table, and per
// problem its charts and its test points, with the window's very texts.
QString statisticsHtml(const ContestStats &stats);
// result/statistics.html; false when it could not be written.
bool writeStatisticsPage(const Contest &contest, const ContestStats &stats);
