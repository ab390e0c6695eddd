#include "contestgrid.h"

#include "contest.h"

#include <algorithm>

AllSiteItem *buildPlayerRow(const Contest &contest, const QString &player)
{
    auto *nameItem = new SourceItem(player, contest.realNames.value(player), contest.hasPlayerList);
    auto *head = new AllSiteItem;
    head->nameItem = nameItem;
    nameItem->rowHead = head;

    const QString displayName = contest.displayName(player);
    SiteItem *left = nullptr;
    for (const QString &problem : contest.problemNames) {
        auto *cell = new SiteItem;
        cell->edgeShadow = head->cells.isEmpty();
        cell->rowHead = head;
        cell->player = player;
        cell->problem = problem;
        cell->displayName = displayName;
        const auto config = contest.problemConfigs.constFind(problem);
        if (config != contest.problemConfigs.constEnd())
            cell->full = problemTotals(config->document);
        cell->info = contest.cellSummary(player, problem);
        // Cells that ended in a judge or checker error wait selected for a retry.
        cell->selected = cell->info.state == TaskState::JudgeError;
        cell->leftCell = left;
        if (left)
            left->rightCell = cell;
        left = cell;
        head->cells.append(cell);
    }
    head->recompute();
    for (SiteItem *cell : std::as_const(head->cells))
        cell->refreshData();
    return head;
}

QList<AllSiteItem *> buildGridRows(const Contest &contest)
{
    QList<AllSiteItem *> rows;
    rows.reserve(contest.playerNames.size());
    for (const QString &player : contest.playerNames)
        rows.append(buildPlayerRow(contest, player));
    return rows;
}

void deleteGridRows(QList<AllSiteItem *> &rows)
{
    for (AllSiteItem *head : std::as_const(rows)) {
        qDeleteAll(head->cells);
        delete head->nameItem;
        delete head;
    }
    rows.clear();
}

void sortRowsByTotal(QList<AllSiteItem *> &rows)
{
    // Descending as the table sorts it: a before b when b < a.
    std::stable_sort(rows.begin(), rows.end(),
                     [](const AllSiteItem *a, const AllSiteItem *b) { return *b < *a; });
}

ScoreInfo storedCellResult(const Contest &contest, const QString &player, const QString &problem)
{
    XmlFile file;
    if (!file.load(contest.resultFilePath(player, problem)))
        return ScoreInfo();
    return readScoreInfo(file.document);
}

QList<CellResult> gridCellResults(const QList<AllSiteItem *> &rows)
{
    QList<CellResult> cells;
    for (const AllSiteItem *head : rows) {
        for (const SiteItem *cell : head->cells)
            cells.append(CellResult{cell->player, cell->problem, cell->info});
    }
    return cells;
}
