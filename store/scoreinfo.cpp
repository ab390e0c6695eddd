#include "scoreinfo.h"

#include <algorithm>
#include <climits>
#include <cmath>

QString TaskState::text(char state, double time)
{
    switch (state) {
    case NotJudged:
        return QStringLiteral("未测评");
    case Normal:
        return QStringLiteral("用时: ") + QString::number(time, 'f', 2) + u's';
    case NoOutput:
        return QStringLiteral("无输出");
    case RunError:
        return QStringLiteral("超过内存限制或运行时错误");
    case JudgeError:
        return QStringLiteral("测评器或校验器出错");
    case CompileError:
        return QStringLiteral("编译错误");
    case CompileTimeout:
        return QStringLiteral("编译超时");
    case CodeTooLarge:
        return QStringLiteral("超过代码限制");
    case FileMissing:
        return QStringLiteral("找不到文件");
    default:  // "?" and anything unknown, NUL included
        return QString();
    }
}

int subtaskScore(double minimum, int full)
{
    // Ratios are decimal texts read into binary doubles, so 0.29 x 100 comes
    // out as 28.999999999999996.
    const double product = minimum * full;
    if (std::isnan(product))
        return 0;
    const double nearest = std::round(product);
    const double score = std::abs(product - nearest) <= 1e-9 * std::max(1.0, std::abs(product))
                             ? nearest
                             : std::trunc(product);
    // Callers pass a minimum of at most 1; anything else must still not overflow.
    return static_cast<int>(std::clamp(score, double(INT_MIN), double(INT_MAX)));
}

int saturatedScore(qint64 total)
{
    return int(std::clamp<qint64>(total, INT_MIN, INT_MAX));
}

char problemStateFromPoints(const QString &states)
{
    QString judged = states;
    judged.remove(QLatin1Char(PointState::Ignored));
    if (judged.contains(QLatin1Char(PointState::JudgeError))
        || judged.contains(QLatin1Char(PointState::CheckerError)))
        return TaskState::JudgeError;
    if (judged.isEmpty())
        return TaskState::Normal;
    const auto onlyOf = [&](auto accept) {
        return std::all_of(judged.cbegin(), judged.cend(), accept);
    };
    if (onlyOf([](QChar c) {
            return c == QLatin1Char(PointState::MemoryLimit) || c == QLatin1Char(PointState::RunError);
        }))
        return TaskState::RunError;
    if (onlyOf([](QChar c) { return c == QLatin1Char(PointState::NoOutput); }))
        return TaskState::NoOutput;
    return TaskState::Normal;
}
