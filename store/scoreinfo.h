#pragma once

#include <QMetaType>
#include <QString>

// TaskState: the state of a cell (player x problem).
namespace TaskState {
constexpr char NotJudged = ' ';
constexpr char Judging = '?';
constexpr char Normal = 'N';
constexpr char NoOutput = 'O';
constexpr char RunError = 'R';
constexpr char JudgeError = 'E';
constexpr char CompileError = 'C';
constexpr char CompileTimeout = 'T';
constexpr char CodeTooLarge = 'S';
constexpr char FileMissing = 'F';
// The text the grid shows for a cell; time is used by "N".
QString text(char state, double time);
}

// PointState: the state of one test point.
namespace PointState {
constexpr char Accepted = 'A';
constexpr char Wrong = 'W';
constexpr char Partial = 'P';
constexpr char CheckerError = 'C';
constexpr char JudgeError = 'E';
constexpr char TimeLimit = 'T';
constexpr char MemoryLimit = 'M';
constexpr char RunError = 'R';
constexpr char NoOutput = 'O';
constexpr char Ignored = 'I';
constexpr char NotSubmitted = 'U';
}

struct ScoreInfo
{
    int score = 0;
    double time = 0.0;
    char state = TaskState::NotJudged;

    friend bool operator==(const ScoreInfo &, const ScoreInfo &) = default;
};
Q_DECLARE_METATYPE(ScoreInfo)

// Ratio thresholds shared by every scoring step.
constexpr double FailedRatio = 0.00001;
constexpr double AcceptedRatio = 0.99999;
constexpr double TooLargeRatio = 1.00001;

// A subtask's score: its smallest ratio times its full score, truncated toward
// zero, except that a product within rounding noise of an integer is that
// integer (0.29 x 100 must give 29, not 28).
int subtaskScore(double minimum, int full);

// Scores are summed in 64 bits and the sum saturated to what a 32-bit score
// holds: a total never wraps round to a negative number.
int saturatedScore(qint64 total);

// The cell state of a problem judged point by point; states in judging order.
char problemStateFromPoints(const QString &states);
