#pragma once

#include "contestfiles.h"
#include "scoreinfo.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

class Contest;

// The result files of a contest read as the final word on its cells, when the
// result list cannot be trusted: shards on other machines write the files,
// and only --merge writes the list.

// Empty when the file holds a usable result (then info is its summary),
// otherwise why not, short and in Chinese. Usable: well-formed XML whose root
// is "task" with an integer "score", a real "time" and a "state" that a
// judged cell can have.
QString resultFileFault(const QString &path, ScoreInfo &info);

struct UnreadableResult
{
    QString cell;    // Contest::cellKey
    QString reason;  // from resultFileFault
};

struct ResultCheck
{
    // Every cell of contest.playerNames x contest.problemNames, players in
    // name order and problems in contest order; a cell without a usable
    // result file is untested.
    QList<CellResult> cells;
    QStringList missing;  // cell keys without a result file
    QList<UnreadableResult> unreadable;
    // Entries under result/ that are no cell's result nor the judge's own
    // file, relative to result/: a result of a player or problem the contest
    // does not have, or what a killed judge left half written.
    QStringList extra;

    bool complete() const { return missing.isEmpty() && unreadable.isEmpty(); }
    // The cells as Contest::cachedResults holds them.
    QHash<QString, ScoreInfo> summaries() const;
};

ResultCheck checkResultFiles(const Contest &contest);

// Makes the result list hold exactly these lines. Untouched when it does
// already (changed is then false); replaced atomically otherwise. False when
// it could not be written.
bool replaceResultList(const Contest &contest, const QList<CellResult> &cells, bool *changed = nullptr);
