#include "runsteps.h"

#include "contest.h"
#include "contestfiles.h"
#include "contestgrid.h"
#include "dirs.h"
#include "testcore.h"

#include <QCoreApplication>
#include <QDir>
#include <QSet>

namespace {

template<typename Take> QList<SiteItem *> cellsWhere(const QList<AllSiteItem *> &rows, Take take)
{
    QList<SiteItem *> cells;
    for (const AllSiteItem *head : rows) {
        for (SiteItem *cell : head->cells) {
            if (take(cell))
                cells.append(cell);
        }
    }
    return cells;
}

} // namespace

QList<SiteItem *> untestedCells(const QList<AllSiteItem *> &rows)
{
    return cellsWhere(rows, [](const SiteItem *cell) {
        return cell->info.state == TaskState::NotJudged;
    });
}

QList<SiteItem *> selectedCells(const QList<AllSiteItem *> &rows)
{
    return cellsWhere(rows, [](const SiteItem *cell) { return cell->selected; });
}

QList<SiteItem *> allCells(const QList<AllSiteItem *> &rows)
{
    return cellsWhere(rows, [](const SiteItem *) { return true; });
}

QList<SiteItem *> judgeableCells(const Contest &contest, const QList<SiteItem *> &cells,
                                 QStringList *leftOut)
{
    QList<SiteItem *> kept;
    QSet<QString> faulty;
    for (SiteItem *cell : cells) {
        if (contest.problemFaults.contains(cell->problem))
            faulty.insert(cell->problem);
        else
            kept.append(cell);
    }
    if (leftOut) {
        leftOut->clear();
        for (const QString &problem : contest.problemNames) {
            if (faulty.contains(problem))
                leftOut->append(problem);
        }
    }
    return kept;
}

void queueCells(TestCore &judge, const QList<SiteItem *> &cells, bool rejudge)
{
    for (SiteItem *cell : cells) {
        if (rejudge)
            cell->setInfo(ScoreInfo());
        judge.workQueue.append(cell);
    }
}

namespace {

// Temporary files younger than this may be another judge's being written
// (a shard on the same contest folder); a write takes milliseconds.
constexpr int TemporaryAgeSeconds = 60;

// What a judge killed while writing left of its files: beside the contest
// file and the player list, the result list and the result files, each
// player's report and each problem's configuration.
void removeLeftTemporaries(const Contest &contest)
{
    QStringList dirs{contest.rootDir, contest.resultDir()};
    for (const QString &problem : QDir(contest.resultDir()).entryList(QDir::Dirs | QDir::NoDotAndDotDot))
        dirs.append(contest.resultProblemDir(problem));
    for (const QString &problem : contest.problemNames)
        dirs.append(contest.problemDir(problem));
    for (const QString &player : contest.playerNames)
        dirs.append(contest.playerDir(player));
    for (const QString &dir : std::as_const(dirs))
        removeStaleTemporaries(dir, TemporaryAgeSeconds);
}

} // namespace

void beginRun(TestCore &judge, const Contest &contest)
{
    removeLeftTemporaries(contest);
    judge.problemConfigs = &contest.problemConfigs;
    judge.problemNames = contest.problemNames;
    judge.contest.problemFaults = contest.problemFaults;
    judge.startJudging();
    removeFile(contest.resultListPath());
}

QList<SiteItem *> restoreUnfinishedCells(const Contest &contest, TestCore &judge)
{
    // A queued "being judged" delivered after the restore would stay.
    QCoreApplication::sendPostedEvents();
    QList<SiteItem *> restored;
    QSet<SiteItem *> seen;
    for (qsizetype i = 0; i < judge.workQueue.size(); ++i) {
        SiteItem *cell = judge.workQueue[i];
        if (!cell || judge.isEntryFinished(i) || seen.contains(cell))
            continue;
        seen.insert(cell);
        cell->setInfo(storedCellResult(contest, cell->player, cell->problem));
        restored.append(cell);
    }
    return restored;
}

bool finishRun(const Contest &contest, const QList<AllSiteItem *> &rows)
{
    // Emptied completely first: hidden leftovers of a program would keep it.
    const QString tmp = contest.tmpDir();
    if (emptyScratchDir(tmp))
        QDir().rmdir(tmp);
    return writeResultList(contest, gridCellResults(rows));
}
