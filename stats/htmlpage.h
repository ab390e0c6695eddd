#pragma once

#include <QByteArray>
#include <QSize>
#include <QString>
#include <QStringList>

class Contest;

// The pieces both report pages are made of: one file each, nothing loaded
// from elsewhere, in the colours of the players' reports, readable on paper.

QString pageStart(const QString &title, const QString &extraStyle = QString());
QString pageEnd();
QString escaped(const QString &text);
// A table row: every cell escaped; header cells are th.
QString tableRow(const QStringList &cells, bool header = false);
// An SVG document as an element of the page: no XML prologue, pixel size,
// and the window's font families for its text.
QString inlineSvg(const QByteArray &svg, QSize size, const QString &label);

// resultDir()/name, written atomically (result/ made when missing). False
// when it could not be written.
bool writeResultPage(const Contest &contest, const QString &name, const QString &html);
QString resultPagePath(const Contest &contest, const QString &name);
