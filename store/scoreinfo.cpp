#include "scoreinfo.h"

#include <algorithm>

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
