#include "merge.h"

#include "contest.h"
#include "contestgrid.h"
#include "dirs.h"
#include "fileread.h"
#include "resultcheck.h"
#include "scoretable.h"
#include "shardrecord.h"


#include <cstdio>

using namespace Qt::StringLiterals;

namespace {

// Differences in calibration up to this share pass as noise.
constexpr double ComparableSpread = 0.05;

void put(FILE *stream, const QString &text)
{
    const QByteArray bytes = text.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

void warn(const QString &text)
{
    put(stderr, u"qxj-judge: "_s + text);
}

// A record still "running" may be of a shard that was killed.
QString stateText(const ShardRecord &record)
{
    return record.state == ShardRecord::State::Running ? u"not finished"_s : shardStateName(record.state);
}

QString milliseconds(double seconds)
{
    return seconds < 0 ? u"-"_s : QString::number(seconds * 1000.0, 'f', 1) + u" ms"_s;
}

void printRecords(const QList<ShardRecord> &records)
{
    QList<QStringList> table = {{u"shard"_s, u"host"_s, u"CPU"_s, u"judge"_s, u"calibration"_s,
                                 u"cells"_s, u"CPU time"_s, u"wall"_s, u"state"_s}};
    for (const ShardRecord &r : records) {
        const bool ended = r.state != ShardRecord::State::Running;
        table.append({shardText(r.shard), r.host, r.cpuModel, r.version, milliseconds(r.calibration),
                       ended ? u"%1/%2"_s.arg(r.judged).arg(r.cells) : u"-"_s,
                       ended ? QString::number(r.cpuSeconds, 'f', 1) + u" s"_s : u"-"_s,
                       ended ? QString::number(r.wallSeconds, 'f', 1) + u" s"_s : u"-"_s,
                       stateText(r)});
    }
    QList<qsizetype> widths(table.first().size(), 0);
    for (const QStringList &row : std::as_const(table)) {
        for (qsizetype c = 0; c < row.size(); ++c)
            widths[c] = qMax(widths[c], row[c].size());
    }
    for (const QStringList &row : std::as_const(table)) {
        QString line;
        for (qsizetype c = 0; c < row.size(); ++c)
            line += c + 1 == row.size() ? row[c] : row[c].leftJustified(widths[c] + 2);
        put(stdout, line);
    }
    put(stdout, QString());
}

// Times are only comparable on comparable machines: say so when they are not.
void warnAboutMachines(const QList<ShardRecord> &records)
{
    const ShardRecord *fastest = nullptr;
    const ShardRecord *slowest = nullptr;
    QStringList versions;
    for (const ShardRecord &r : records) {
        if (!versions.contains(r.version))
            versions.append(r.version);
        if (r.calibration <= 0)
            continue;
        if (!fastest || r.calibration < fastest->calibration)
            fastest = &r;
        if (!slowest || r.calibration > slowest->calibration)
            slowest = &r;
    }
    if (fastest && slowest->calibration > fastest->calibration * (1.0 + ComparableSpread)) {
        const int percent = qRound((slowest->calibration / fastest->calibration - 1.0) * 100.0);
        warn(u"warning: the shards' machines differ in speed by %1%: the calibration took %2 "
             "(shard %3 on %4) to %5 (shard %6 on %7); times measured on them do not compare"_s
                 .arg(percent)
                 .arg(milliseconds(fastest->calibration), shardText(fastest->shard), fastest->host,
                      milliseconds(slowest->calibration), shardText(slowest->shard), slowest->host));
    }
    if (versions.size() > 1)
        warn(u"warning: the shards ran different versions of the judge: %1"_s.arg(versions.join(u", "_s)));
    for (const ShardRecord &r : records) {
        if (r.state == ShardRecord::State::Running)
            warn(u"warning: shard %1 (on %2, started %3) has not finished: it is still running, "
                 "or it was killed"_s.arg(shardText(r.shard), r.host, r.started.toString(Qt::ISODate)));
        else if (r.state == ShardRecord::State::Stopped)
            warn(u"warning: shard %1 (on %2) was stopped before its end"_s.arg(shardText(r.shard), r.host));
    }
}

// The score table as a judging run exports it: rows best first.
bool exportTable(Contest &contest, const ResultCheck &check, const QString &path)
{
    contest.cachedResults = check.summaries();
    QList<AllSiteItem *> rows = buildGridRows(contest);
    sortRowsByTotal(rows);
    const QByteArray table = scoreTableCsv(contest.problemNames, contest.hasPlayerList, rows);
    deleteGridRows(rows);
    const FileRead current = readRegularFile(path);
    if (current.status == FileRead::Read && current.bytes == table)
        return true;
    return writeFileAtomically(path, table);
}

} // namespace

int mergeResults(Contest &contest, const QString &exportPath)
{
    QStringList unreadableRecords;
    const QList<ShardRecord> records = readShardRecords(contest, &unreadableRecords);
    if (!records.isEmpty())
        printRecords(records);
    for (const QString &name : std::as_const(unreadableRecords))
        warn(u"warning: %1/%2 is no shard record; left out"_s.arg(contest.resultDirName, name));
    warnAboutMachines(records);

    const ResultCheck check = checkResultFiles(contest);
    for (const QString &entry : check.extra)
        warn(u"ignored %1/%2: no result of this contest's cells"_s.arg(contest.resultDirName, entry));

    bool ok = true;
    bool changed = false;
    if (!replaceResultList(contest, check.cells, &changed)) {
        warn(u"cannot write %1"_s.arg(contest.resultListPath()));
        ok = false;
    }
    if (!exportPath.isEmpty() && !exportTable(contest, check, exportPath)) {
        warn(u"cannot write %1"_s.arg(exportPath));
        ok = false;
    }
    for (const QString &cell : check.missing) {
        // A problem the judge refuses for a fault in its .prb has no results.
        const QString fault = contest.problemFaultText(cell.section(u'/', 1));
        warn(u"missing result: %1"_s.arg(cell) + (fault.isEmpty() ? QString() : u" ("_s + fault + u')'));
    }
    for (const UnreadableResult &bad : check.unreadable)
        warn(u"unusable result: %1 (%2)"_s.arg(bad.cell, bad.reason));

    const qsizetype lacking = check.missing.size() + check.unreadable.size();
    QString summary = u"%1 cells of %2 players, %3 with a result"_s.arg(check.cells.size())
                          .arg(contest.playerNames.size())
                          .arg(check.cells.size() - lacking);
    if (lacking > 0)
        summary += u", %1 without"_s.arg(lacking);
    summary += changed ? u"; %1/.reslist written"_s.arg(contest.resultDirName)
                       : u"; %1/.reslist unchanged"_s.arg(contest.resultDirName);
    put(stdout, summary);
    return ok && check.complete() ? 0 : 1;
}
