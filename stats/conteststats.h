#pragma once

#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

class Contest;

// Statistics of a judged contest, read from its result files only: nothing
// is judged again. The standard program ("std") is left out of every figure
// and only checks the test data.

struct ScoreSummary
{
    int count = 0;      // players judged
    double mean = 0.0;
    double median = 0.0;
    int max = 0;
    int full = 0;       // the full score
    int fullCount = 0;  // players who reached it
    double fullShare() const { return count > 0 ? double(fullCount) / count : 0.0; }
};

// Counts of scores in ranges low[i] .. high[i] (both included), low to high.
struct ScoreHistogram
{
    QList<int> low;
    QList<int> high;
    QList<int> counts;
    QString label(qsizetype i) const;
};

// Bins over 0 .. full (or 0 .. the highest score when full is 0): at most
// ten, every score in exactly one; scores outside fall into the end bins.
ScoreHistogram scoreHistogram(const QList<int> &scores, int full);
ScoreSummary scoreSummary(QList<int> scores, int full);

// The letter kept for a player judged on the problem who has no result for
// the point (the source did not compile, was missing, ...).
constexpr char NotRunVerdict = '-';

struct PointStats
{
    int number = 0;          // 1, 2, ... across the problem's subtasks
    int subtask = 0;         // 1, 2, ...
    double timeLimit = 0.0;  // seconds; 0 when the configuration has no such point
    int judged = 0;          // players judged on the problem
    int passed = 0;          // of them, with "A" on this point
    int timed = 0;           // points whose time is known
    double timeShareSum = 0.0;
    double maxTimeShare = 0.0;
    QMap<char, int> verdicts;  // point state (or NotRunVerdict) -> players

    double passRate() const { return judged > 0 ? double(passed) / judged : 0.0; }
    // Average of time used / limit over the timed points; negative when none.
    double meanTimeShare() const { return timed > 0 ? timeShareSum / timed : -1.0; }
};

struct ProblemStats
{
    QString name;
    bool traditional = false;
    ScoreSummary summary;
    ScoreHistogram histogram;
    QList<PointStats> points;
    bool someoneTimedOut = false;  // a "T" anywhere: the time limit decides something
};

struct StatsWarning
{
    enum Kind { StandardFails, NobodyPasses, TooEasy, NotJudged, JudgeFailed };
    Kind kind = NotJudged;
    QString problem;
    int point = 0;  // 0: the problem (or contest) as a whole
    QString text;   // what the organiser reads, in the window and on the page alike
};

struct ContestStats
{
    QString contestName;
    bool hasStandard = false;
    ScoreSummary totals;
    ScoreHistogram totalHistogram;
    QList<ProblemStats> problems;
    QList<StatsWarning> warnings;
    int notJudgedCells = 0;
};

// A point passed by everyone within this share of its limit is a hint.
constexpr double EasyTimeShare = 0.10;

// contest needs rootDir and its problems loaded; players and the result list
// are read afresh, so the figures are those of the files as they are now.
ContestStats computeContestStats(const Contest &contest);

// The texts both the window and the page show, so that they cannot differ.
namespace StatsText {
QString count(int n);
QString score(double value);  // one decimal
QString percent(double share);  // "12.5%"
QString timeShare(double share);  // "—" when negative
QString verdictName(char verdict);
QString shortVerdictName(char verdict);  // for the points table
// "正确 12  错误 3  超时 1", in a fixed order of verdicts.
QString verdicts(const QMap<char, int> &verdicts);
// The summary's five columns: 人数, 平均分, 中位数, 最高分, 满分率.
QStringList summaryHeader();
QStringList summaryRow(const ScoreSummary &summary);
// The points table: 测试点, 子任务, 时限, 通过率, 平均用时/时限, 结果.
QStringList pointHeader();
QStringList pointRow(const PointStats &point);
}
