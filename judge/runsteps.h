#pragma once

#include "gridcells.h"

#include <QList>

class Contest;
class TestCore;

// The steps around a judging run, the same for the window and qxj-judge:
// choose the cells, queue them, start, and after the end or a stop put the
// grid and the contest's files in order. All on the GUI (main) thread.

// Cells a run takes: rows in the order given, each row's cells left to right.
QList<SiteItem *> untestedCells(const QList<AllSiteItem *> &rows);  // state blank
QList<SiteItem *> selectedCells(const QList<AllSiteItem *> &rows);  // SiteItem::selected
QList<SiteItem *> allCells(const QList<AllSiteItem *> &rows);

// The cells without those of problems the judge must not take (their
// configuration has a fault, Contest::problemFaults). The problems left out,
// each once in contest order, go to leftOut when given.
QList<SiteItem *> judgeableCells(const Contest &contest, const QList<SiteItem *> &cells,
                                 QStringList *leftOut = nullptr);

// Queues the cells on the judge. With rejudge each cell shows untested, but
// its result file stays until the new result replaces it (the save is
// atomic): a stop, a kill or a crash at any moment leaves every cell with its
// old or its new result, never with none.
void queueCells(TestCore &judge, const QList<SiteItem *> &cells, bool rejudge);

// Removes the temporary files a judge killed while writing left beside the
// contest's files (writeFileAtomically), lends the judge the contest's
// configurations, problem names and configuration faults (a faulty problem is
// passed by even if queued), starts its thread (the handshake), then deletes
// the result list: the grid is about to change. The caller connects the
// judge's signals before.
void beginRun(TestCore &judge, const Contest &contest);

// After requestStop(): delivers the judge's signals still waiting in the
// event queue (a "being judged" for each interrupted cell among them), then
// gives every queued cell the run did not complete (the interrupted ones and
// all they never reached) its stored result again, untested when it has none.
// Returns those cells, each once, so that a window can repaint them.
QList<SiteItem *> restoreUnfinishedCells(const Contest &contest, TestCore &judge);

// End of a run, also after a stop (then after restoreUnfinishedCells): the
// scratch directory is emptied completely and removed, and the result list
// is written from the rows (top to bottom, cells left to right) when it is
// missing. False when the result list could not be written.
bool finishRun(const Contest &contest, const QList<AllSiteItem *> &rows);
