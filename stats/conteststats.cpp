#include "conteststats.h"

#include "contest.h"
#include "contestfiles.h"
#include "problemfile.h"
#include "scoreinfo.h"
#include "storedresult.h"

#include <QDir>
#include <QHash>
#include <QRegularExpression>
#include <QSet>
#include <QtConcurrent/QtConcurrentMap>

#include <algorithm>
#include <cmath>

using namespace Qt::StringLiterals;

namespace {

const QString StandardPlayer = u"std"_s;
// Names listed in one warning before "…".
constexpr int NamesShown = 10;

bool judged(char state)
{
    return state != TaskState::NotJudged && state != '\0' && state != TaskState::Judging;
}

struct Cell
{
    ScoreInfo info;
    StoredResult stored;
};

// The summary from the result list when it has the cell, else from the
// file; the file is read as well when the cell has points.
Cell readCell(const Contest &contest, const QString &player, const QString &problem)
{
    Cell cell;
    const auto cached = contest.cachedResults.constFind(Contest::cellKey(player, problem));
    const char s = cached != contest.cachedResults.constEnd() ? cached->state : '?';
    const bool hasPoints = s == TaskState::Normal || s == TaskState::NoOutput
                           || s == TaskState::RunError || s == TaskState::JudgeError;
    if (s == '?' || hasPoints)
        cell.stored = readStoredResult(contest.resultFilePath(player, problem),
                                       player == StandardPlayer);
    if (cached != contest.cachedResults.constEnd())
        cell.info = *cached;
    else if (cell.stored.opened)
        cell.info = cell.stored.info;
    return cell;
}

QString namesText(const QStringList &names)
{
    QString text = names.mid(0, NamesShown).join(u", "_s);
    if (names.size() > NamesShown)
        text += u" …"_s;
    return text;
}

QString shortNote(QString note)
{
    note.replace(u'\n', u' ');
    if (note.size() > 60)
        note = note.left(60) + u'…';
    return note;
}

QString pointPlace(const QString &problem, int number)
{
    return problem + u" 第"_s + QString::number(number) + u"个测试点: "_s;
}

// The points of one problem as the configuration lays them out; points a
// result file has beyond it are added as they turn up.
class PointTable
{
public:
    PointTable(const TaskSpec &task, QList<PointStats> &points) : m_points(points)
    {
        for (qsizetype j = 0; j < task.subtasks.size(); ++j) {
            const QList<PointSpec> &specs = task.subtasks[j].points;
            for (qsizetype k = 0; k < specs.size(); ++k) {
                PointStats point;
                point.number = int(m_points.size()) + 1;
                point.subtask = int(j) + 1;
                point.timeLimit = specs[k].time;
                m_index.insert({int(j), int(k)}, int(m_points.size()));
                m_points.append(point);
            }
        }
    }

    int at(int subtask, int point)
    {
        const auto found = m_index.constFind({subtask, point});
        if (found != m_index.constEnd())
            return *found;
        PointStats extra;
        extra.number = int(m_points.size()) + 1;
        extra.subtask = subtask + 1;
        m_index.insert({subtask, point}, int(m_points.size()));
        m_points.append(extra);
        return int(m_points.size()) - 1;
    }

private:
    QList<PointStats> &m_points;
    QHash<QPair<int, int>, int> m_index;
};

struct ProblemWork
{
    QStringList notJudged;
    QStringList judgeFailed;
};

void addPlayerPoints(ProblemStats &problem, PointTable &table, const StoredResult &result)
{
    QSet<int> seen;
    for (qsizetype j = 0; j < result.subtasks.size(); ++j) {
        const QList<StoredPoint> &points = result.subtasks[j];
        for (qsizetype k = 0; k < points.size(); ++k) {
            const int index = table.at(int(j), int(k));
            if (seen.contains(index))
                continue;
            seen.insert(index);
            PointStats &stats = problem.points[index];
            const char state = points[k].state ? points[k].state : '?';
            ++stats.verdicts[state];
            if (state == PointState::Accepted)
                ++stats.passed;
            if (state == PointState::TimeLimit)
                problem.someoneTimedOut = true;
            if (stats.timeLimit <= 0)
                continue;
            double time = points[k].time;
            if (time < 0 && state == PointState::TimeLimit)
                time = stats.timeLimit;  // over the limit, by how much is not kept
            if (time < 0)
                continue;
            const double share = time / stats.timeLimit;
            ++stats.timed;
            stats.timeShareSum += share;
            stats.maxTimeShare = std::max(stats.maxTimeShare, share);
        }
    }
}

// Points (or the whole problem) the standard program does not pass.
void standardWarnings(QList<StatsWarning> &warnings, const QString &problem, const Cell &cell)
{
    const char state = cell.info.state;
    if (!judged(state))
        return;  // among the cells not judged
    StatsWarning warning;
    warning.kind = StatsWarning::StandardFails;
    warning.problem = problem;
    if (cell.stored.pointCount() == 0) {
        if (state == TaskState::Normal)
            return;  // no points to fail
        warning.text = problem + u": 标准程序"_s + TaskState::text(state, cell.info.time);
        warnings.append(warning);
        return;
    }
    int number = 0;
    for (const QList<StoredPoint> &points : cell.stored.subtasks) {
        for (const StoredPoint &point : points) {
            ++number;
            if (point.state == PointState::Accepted)
                continue;
            warning.point = number;
            warning.text = pointPlace(problem, number) + u"标准程序未通过 ("_s
                           + StatsText::verdictName(point.state);
            const QString note = shortNote(point.note);
            if (!note.isEmpty())
                warning.text += u": "_s + note;
            warning.text += u')';
            warnings.append(warning);
        }
    }
}

} // namespace

QString ScoreHistogram::label(qsizetype i) const
{
    if (low[i] == high[i])
        return QString::number(low[i]);
    return QString::number(low[i]) + u'-' + QString::number(high[i]);
}

ScoreHistogram scoreHistogram(const QList<int> &scores, int full)
{
    int top = full;
    if (top <= 0) {
        top = 0;
        for (const int score : scores)
            top = std::max(top, score);
    }
    const qint64 values = qint64(top) + 1;
    const int bins = int(std::min<qint64>(10, values));
    ScoreHistogram histogram;
    for (int i = 0; i < bins; ++i) {
        histogram.low.append(int(i * values / bins));
        histogram.high.append(int((i + 1) * values / bins - 1));
        histogram.counts.append(0);
    }
    for (const int score : scores) {
        const qint64 clamped = std::clamp<qint64>(score, 0, top);
        int bin = bins - 1;
        while (bin > 0 && histogram.low[bin] > clamped)
            --bin;
        ++histogram.counts[bin];
    }
    return histogram;
}

ScoreSummary scoreSummary(QList<int> scores, int full)
{
    ScoreSummary summary;
    summary.full = full;
    summary.count = int(scores.size());
    if (scores.isEmpty())
        return summary;
    std::sort(scores.begin(), scores.end());
    qint64 sum = 0;
    for (const int score : std::as_const(scores)) {
        sum += score;
        if (full > 0 && score >= full)
            ++summary.fullCount;
    }
    summary.mean = double(sum) / scores.size();
    const qsizetype middle = scores.size() / 2;
    summary.median = scores.size() % 2 ? scores[middle]
                                       : (double(scores[middle - 1]) + scores[middle]) / 2.0;
    summary.max = scores.last();
    return summary;
}

ContestStats computeContestStats(const Contest &source)
{
    Contest contest = source;
    contest.loadPlayers();
    contest.loadResultList();

    ContestStats stats;
    stats.contestName = QDir(contest.rootDir).dirName();
    stats.hasStandard = contest.playerNames.contains(StandardPlayer);
    QStringList players = contest.playerNames;
    players.removeAll(StandardPlayer);

    QHash<QString, qint64> totals;
    QSet<QString> judgedPlayers;
    int fullTotal = 0;
    QList<StatsWarning> nobody, easy, notJudged, failed, standard;

    for (const QString &name : std::as_const(contest.problemNames)) {
        const QDomDocument config = contest.problemConfigs.value(name).document;
        ProblemStats problem;
        problem.name = name;
        problem.traditional = problemKind(config) == KindTraditional;
        const int full = problemTotals(config).fullScore;
        fullTotal += full;
        PointTable table(problemTask(config), problem.points);
        ProblemWork work;
        QList<int> scores;

        // Reading the files is most of the work, and each stands alone.
        const QList<Cell> cells = QtConcurrent::blockingMapped(
            players, [&contest, &name](const QString &player) { return readCell(contest, player, name); });
        for (qsizetype i = 0; i < players.size(); ++i) {
            const QString &player = players[i];
            const Cell &cell = cells[i];
            if (!judged(cell.info.state)) {
                work.notJudged.append(player);
                continue;
            }
            if (cell.info.state == TaskState::JudgeError)
                work.judgeFailed.append(player);
            scores.append(cell.info.score);
            totals[player] += cell.info.score;
            judgedPlayers.insert(player);
            addPlayerPoints(problem, table, cell.stored);
        }
        problem.summary = scoreSummary(scores, full);
        problem.histogram = scoreHistogram(scores, full);
        for (PointStats &point : problem.points) {
            point.judged = problem.summary.count;
            int withResult = 0;
            for (const int players : std::as_const(point.verdicts))
                withResult += players;
            if (point.judged > withResult)
                point.verdicts[NotRunVerdict] = point.judged - withResult;
        }

        if (stats.hasStandard) {
            const Cell cell = readCell(contest, StandardPlayer, name);
            if (!judged(cell.info.state))
                work.notJudged.prepend(StandardPlayer);
            standardWarnings(standard, name, cell);
        }

        for (const PointStats &point : std::as_const(problem.points)) {
            StatsWarning warning;
            warning.problem = name;
            warning.point = point.number;
            if (point.judged > 0 && point.passed == 0) {
                warning.kind = StatsWarning::NobodyPasses;
                warning.text = pointPlace(name, point.number) + u"没有选手通过 ("_s
                               + QString::number(point.judged) + u" 人已测评)"_s;
                nobody.append(warning);
            }
            if (problem.someoneTimedOut && point.judged >= 2 && point.passed == point.judged
                && point.timed == point.judged && point.maxTimeShare <= EasyTimeShare) {
                warning.kind = StatsWarning::TooEasy;
                warning.text = pointPlace(name, point.number) + u"所有选手都在时限的 "_s
                               + StatsText::percent(EasyTimeShare)
                               + u" 以内通过, 此点可能区分不出慢的程序 (提示)"_s;
                easy.append(warning);
            }
        }
        if (!work.notJudged.isEmpty()) {
            stats.notJudgedCells += int(work.notJudged.size());
            notJudged.append({StatsWarning::NotJudged, name, 0,
                              name + u": "_s + QString::number(work.notJudged.size())
                                  + u" 名选手未测评: "_s + namesText(work.notJudged)});
        }
        if (!work.judgeFailed.isEmpty())
            failed.append({StatsWarning::JudgeFailed, name, 0,
                           name + u": "_s + QString::number(work.judgeFailed.size())
                               + u" 名选手测评器或校验器出错: "_s + namesText(work.judgeFailed)});
        stats.problems.append(problem);
    }

    QList<int> totalScores;
    for (const QString &player : std::as_const(players)) {
        if (judgedPlayers.contains(player))
            totalScores.append(int(std::clamp<qint64>(totals.value(player), INT_MIN, INT_MAX)));
    }
    stats.totals = scoreSummary(totalScores, fullTotal);
    stats.totalHistogram = scoreHistogram(totalScores, fullTotal);
    stats.warnings = standard + nobody + failed + notJudged + easy;
    return stats;
}

namespace StatsText {

QString count(int n)
{
    return QString::number(n);
}

QString score(double value)
{
    return QString::number(value, 'f', 1);
}

QString percent(double share)
{
    return QString::number(share * 100.0, 'f', 1) + u'%';
}

QString timeShare(double share)
{
    return share < 0 ? u"—"_s : percent(share);
}

QString verdictName(char verdict)
{
    switch (verdict) {
    case 'A': return u"正确"_s;
    case 'W': return u"答案错误"_s;
    case 'P': return u"部分正确"_s;
    case 'C': return u"校验器出错"_s;
    case 'E': return u"测评器出错"_s;
    case 'T': return u"超过时间限制"_s;
    case 'M': return u"超过内存限制"_s;
    case 'R': return u"运行时错误"_s;
    case 'O': return u"无输出"_s;
    case 'I': return u"忽略"_s;
    case 'U': return u"未提交"_s;
    case NotRunVerdict: return u"未运行"_s;
    default: return u"未知"_s;
    }
}

QString verdicts(const QMap<char, int> &verdicts)
{
    static const QByteArray order = "APWTMROCEIU-";
    QStringList parts;
    for (const char letter : order) {
        if (const int n = verdicts.value(letter); n > 0)
            parts.append(shortVerdictName(letter) + u' ' + QString::number(n));
    }
    for (auto it = verdicts.cbegin(); it != verdicts.cend(); ++it) {
        if (!order.contains(it.key()) && it.value() > 0)
            parts.append(shortVerdictName(it.key()) + u' ' + QString::number(it.value()));
    }
    return parts.join(u"  "_s);
}

QString shortVerdictName(char verdict)
{
    switch (verdict) {
    case 'A': return u"正确"_s;
    case 'W': return u"错误"_s;
    case 'P': return u"部分"_s;
    case 'C': return u"校验器错"_s;
    case 'E': return u"测评错"_s;
    case 'T': return u"超时"_s;
    case 'M': return u"超内存"_s;
    case 'R': return u"运行错"_s;
    case 'O': return u"无输出"_s;
    case 'I': return u"忽略"_s;
    case 'U': return u"未提交"_s;
    case NotRunVerdict: return u"未运行"_s;
    default: return u"未知"_s;
    }
}

QStringList summaryHeader()
{
    return {u"人数"_s, u"平均分"_s, u"中位数"_s, u"最高分"_s, u"满分率"_s};
}

QStringList summaryRow(const ScoreSummary &summary)
{
    return {count(summary.count), score(summary.mean), score(summary.median),
            count(summary.max), percent(summary.fullShare())};
}

QStringList pointHeader()
{
    return {u"测试点"_s, u"子任务"_s, u"时限"_s, u"通过率"_s, u"平均用时/时限"_s, u"结果"_s};
}

QStringList pointRow(const PointStats &point)
{
    const QString limit = point.timeLimit > 0
                              ? QString::number(point.timeLimit, 'g', 6) + u's' : u"—"_s;
    return {count(point.number), count(point.subtask), limit, percent(point.passRate()),
            timeShare(point.meanTimeShare()), verdicts(point.verdicts)};
}

} // namespace StatsText
