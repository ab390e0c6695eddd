#include "terminal.h"

#include "contest.h"
#include "gridcells.h"
#include "viewinfo.h"

namespace {
const QString StandardPlayer = QStringLiteral("std");
}

void writeTo(FILE *stream, const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

void fail(const QString &message)
{
    writeTo(stderr, QStringLiteral("qxj-judge: ") + message + u'\n');
}

int displayWidth(const QString &text)
{
    int width = 0;
    for (const char32_t c : text.toUcs4()) {
        const bool wide = (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0x303E)
                          || (c >= 0x3041 && c <= 0x33FF) || (c >= 0x3400 && c <= 0x4DBF)
                          || (c >= 0x4E00 && c <= 0x9FFF) || (c >= 0xA000 && c <= 0xA4CF)
                          || (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF)
                          || (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60)
                          || (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x20000 && c <= 0x3FFFD);
        width += wide ? 2 : 1;
    }
    return width;
}

QString padded(const QString &text, int width, bool right)
{
    const QString fill(qMax(0, width - displayWidth(text)), u' ');
    return right ? fill + text : text + fill;
}


const char *pointColour(char letter)
{
    switch (letter) {
    case PointState::Accepted:
        return "32";
    case PointState::Partial:
        return "92";
    case PointState::Wrong:
    case PointState::TimeLimit:
        return "33";
    case PointState::MemoryLimit:
    case PointState::RunError:
        return "31";
    case PointState::CheckerError:
    case PointState::JudgeError:
        return "35";
    default:
        return "90";
    }
}

const char *cellColour(const SiteItem *cell)
{
    switch (cell->info.state) {
    case TaskState::Normal:
        if (cell->info.score >= cell->full.fullScore && cell->info.score > 0)
            return "32";
        return cell->info.score > 0 ? "33" : "0";
    case TaskState::JudgeError:
        return "35";
    case TaskState::NotJudged:
    case TaskState::Judging:
        return "90";
    default:
        return "31";
    }
}

QString rowName(const Contest &contest, const QString &player)
{
    if (player == StandardPlayer && contest.realNames.value(player).isEmpty())
        return QStringLiteral("标准程序");
    return terminalText(contest.displayName(player));
}

