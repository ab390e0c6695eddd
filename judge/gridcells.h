#pragma once

#include "contest.h"
#include "scoreinfo.h"

#include <QColor>
#include <QTableWidgetItem>
#include <QVector>

// The grid's items. A SiteItem is also the judge's unit of work: the judge
// reads player, problem, displayName and the row's cells, never changes them.
// Their data works without a window; pictures are the window's business.

class AllSiteItem;
class SourceItem;

// Sort rank of a cell state: "E" best, blank last.
int stateRank(char state);

// Looks of a problem cell as functions of its data.
QString cellText(const ScoreInfo &info, bool selected);
QString cellToolTip(const ScoreInfo &info);
QColor cellTextColour(char state);
QColor cellBaseBackground(const ScoreInfo &info, int fullScore);
QColor lightened(const QColor &colour);  // +9 on each channel, capped at 255
// White text stays white only on a background dark enough to read it on (a
// light grey zero or the yellow of a cell being judged gets dark grey).
QColor readableTextColour(const QColor &text, const QColor &background);
QString rowHeadToolTip(double time);

class BasicItem : public QTableWidgetItem
{
public:
    enum Kind { NameCell = 0, RowHead = 1, ProblemCell = 2 };
    explicit BasicItem(int kind);
    int itemKind;
};

class ScoreItem : public BasicItem
{
public:
    explicit ScoreItem(int kind);
    bool operator<(const QTableWidgetItem &other) const override;
    ScoreInfo info;
    ProblemTotals full;
};

class SiteItem : public ScoreItem
{
public:
    SiteItem();
    QString cellKey() const { return Contest::cellKey(player, problem); }

    // Copies info in and brings the row head's totals up to date.
    void setInfo(const ScoreInfo &newInfo);
    void setSelectedFlag(bool flag);
    QColor baseBackground() const { return cellBaseBackground(info, full.fullScore); }
    // Text, tool tip, text colour and a plain lightened background; the window
    // paints its picture over the background.
    void refreshData();

    SiteItem *leftCell = nullptr;
    SiteItem *rightCell = nullptr;
    QString player;
    QString problem;
    QString displayName;
    AllSiteItem *rowHead = nullptr;
    bool selected = false;
    bool edgeShadow = false;
};

class AllSiteItem : public ScoreItem
{
public:
    AllSiteItem();
    // Totals of the row: score and time summed, state blank; full summed.
    // Also sets the head's text, tool tip and colours.
    void recompute();
    QVector<SiteItem *> cells;
    SourceItem *nameItem = nullptr;
};

class SourceItem : public BasicItem
{
public:
    SourceItem(const QString &playerName, const QString &listedName, bool listLoaded);
    bool operator<(const QTableWidgetItem &other) const override;
    QString displayText() const;
    QColor textColour() const;

    bool listLoaded = false;
    QString playerName;
    QString listedName;
    AllSiteItem *rowHead = nullptr;
};

