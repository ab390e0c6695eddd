#pragma once

#include "contestfiles.h"
#include "gridcells.h"

#include <QList>

class Contest;

// The data part of the results grid, shared by the window and qxj-judge.
// A row is its head: head->nameItem is the name cell, head->cells the
// problem cells in column order. Whoever builds a row owns its items (the
// window hands them to its table; others call deleteGridRows).

// One row for the player: name cell, row head and one cell per problem, each
// cell's summary from cellSummary, linked and with the head's totals.
AllSiteItem *buildPlayerRow(const Contest &contest, const QString &player);
// One row per player of contest.playerNames, in that order.
QList<AllSiteItem *> buildGridRows(const Contest &contest);
void deleteGridRows(QList<AllSiteItem *> &rows);

// The grid's default order: by total, best first (higher score, then shorter
// time, then higher state rank); rows that compare equal keep their order.
void sortRowsByTotal(QList<AllSiteItem *> &rows);

// What the cell's result file holds, ignoring the result list; untested when
// the file cannot be read.
ScoreInfo storedCellResult(const Contest &contest, const QString &player, const QString &problem);

// Every cell, rows top to bottom and cells left to right, for writeResultList.
QList<CellResult> gridCellResults(const QList<AllSiteItem *> &rows);
