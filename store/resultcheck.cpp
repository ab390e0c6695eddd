#include "resultcheck.h"

#include "contest.h"
#include "dirs.h"
#include "fileread.h"
#include "shard.h"
#include "xmlfile.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>

#include <algorithm>
#include <cmath>

using namespace Qt::StringLiterals;

namespace {

bool judgedState(const QString &state)
{
    static const char judged[] = {TaskState::Normal,       TaskState::NoOutput,
                                  TaskState::RunError,     TaskState::JudgeError,
                                  TaskState::CompileError, TaskState::CompileTimeout,
                                  TaskState::CodeTooLarge, TaskState::FileMissing};
    return state.size() == 1
           && std::find(std::begin(judged), std::end(judged), state.front().unicode()) != std::end(judged);
}

} // namespace

QString resultFileFault(const QString &path, ScoreInfo &info)
{
    const FileRead file = readRegularFile(path);
    if (file.status != FileRead::Read)
        return file.reason();
    QDomDocument document;
    int line = 0;
    if (!document.setContent(file.bytes, nullptr, &line))
        return u"XML 格式错误 (第 %1 行)"_s.arg(line);
    const QDomElement task = document.documentElement();
    if (task.tagName() != ResultXml::Task)
        return u"没有 task 元素"_s;

    bool scoreOk = false;
    bool timeOk = false;
    const int score = task.attribute(ResultXml::Score).toInt(&scoreOk);
    const double time = task.attribute(ResultXml::Time).toDouble(&timeOk);
    const QString state = task.attribute(ResultXml::State);
    if (!scoreOk)
        return u"得分无效"_s;
    if (!timeOk || !std::isfinite(time) || time < 0)
        return u"用时无效"_s;
    if (!judgedState(state))
        return u"状态无效"_s;
    info = ScoreInfo{score, time, state.front().toLatin1()};
    return QString();
}

QHash<QString, ScoreInfo> ResultCheck::summaries() const
{
    QHash<QString, ScoreInfo> byKey;
    byKey.reserve(cells.size());
    for (const CellResult &cell : cells)
        byKey.insert(Contest::cellKey(cell.player, cell.problem), cell.info);
    return byKey;
}

ResultCheck checkResultFiles(const Contest &contest)
{
    ResultCheck check;
    QStringList players = contest.playerNames;
    std::sort(players.begin(), players.end(), folderNameBefore);
    check.cells.reserve(players.size() * contest.problemNames.size());
    for (const QString &player : std::as_const(players)) {
        for (const QString &problem : contest.problemNames) {
            CellResult cell{player, problem, ScoreInfo()};
            const QString path = contest.resultFilePath(player, problem);
            const QFileInfo file(path);
            if (!file.exists() && !file.isSymLink()) {
                check.missing.append(Contest::cellKey(player, problem));
            } else {
                ScoreInfo stored;
                const QString fault = resultFileFault(path, stored);
                if (fault.isEmpty())
                    cell.info = stored;
                else
                    check.unreadable.append({Contest::cellKey(player, problem), fault});
            }
            check.cells.append(cell);
        }
    }

    // What else lies under result/: the list and the shards' records are the
    // judge's; a problem's folder holds one <player>.res per player.
    const QSet<QString> problems(contest.problemNames.cbegin(), contest.problemNames.cend());
    const QSet<QString> known(players.cbegin(), players.cend());
    const auto all = QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot;
    QDir results(contest.resultDir());
    for (const QFileInfo &entry : results.entryInfoList(all, QDir::Name)) {
        const QString name = entry.fileName();
        if (entry.isDir() && problems.contains(name)) {
            for (const QFileInfo &inner : QDir(entry.filePath()).entryInfoList(all, QDir::Name)) {
                const QString file = inner.fileName();
                const bool cell = file.endsWith(u".res"_s) && known.contains(file.chopped(4));
                if (!cell)
                    check.extra.append(name + u'/' + file);
            }
        } else if (name != QFileInfo(contest.resultListPath()).fileName()
                   && !(entry.isFile() && isShardRecordName(name))) {
            check.extra.append(name);
        }
    }
    return check;
}

bool replaceResultList(const Contest &contest, const QList<CellResult> &cells, bool *changed)
{
    const QByteArray content = resultListContent(cells);
    const QString path = contest.resultListPath();
    const FileRead current = readRegularFile(path);
    if (current.status == FileRead::Read && current.bytes == content && !QFileInfo(path).isSymLink()) {
        if (changed)
            *changed = false;
        return true;
    }
    if (changed)
        *changed = true;
    makePath(contest.resultDir());
    return writeFileAtomically(path, content);
}
