#pragma once

#include "similarity.h"

#include <QString>
#include <QStringList>

class Contest;

inline const QString SimilarityPageName = QStringLiteral("similarity.html");

// Pairs listed at most, in the window and on the page, and pairs whose two
// sources the page shows side by side: a contest where everyone wrote the
// same few lines must still give a page a browser can open.
constexpr int PairsListed = 2000;
constexpr int PairsShownSideBySide = 200;

namespace SimilarityText {
QStringList header();  // 相似度, 试题, 语言, 选手, 得分, 选手, 得分
QStringList pairRow(const SimilarityReport &report, const SimPair &pair);
QString percent(double value);
// A source as text: UTF-8, or GB18030 when it is no valid UTF-8.
QString sourceText(const QByteArray &bytes);
// For each line of the source (from 0), the run it belongs to, or -1.
QList<int> runOfLines(const SimPair &pair, bool firstSource, qsizetype lines);
// A line's background by its run, the same on both sides.
QString runColour(int run);
}

QString similarityHtml(const SimilarityReport &report);
// result/similarity.html; false when it could not be written.
bool writeSimilarityPage(const Contest &contest, const SimilarityReport &report);
