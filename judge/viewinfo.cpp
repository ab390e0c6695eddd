#include "viewinfo.h"

#include "gridcells.h"
#include "scoreinfo.h"

#include <QMetaType>

#include <cmath>

using namespace Qt::StringLiterals;

namespace {

QColor grey(int n)
{
    return QColor(n, n, n);
}

ViewInfo makeRow(int kind, const QString &text, const QColor &background,
                 const QColor &foreground, const QString &number = QString())
{
    ViewInfo row;
    row.kind = kind;
    row.number = number;
    row.text = text;
    row.background = background;
    row.foreground = foreground;
    return row;
}

} // namespace

ViewInfo headerRow(const QString &player, const QString &problem, const QString &displayName)
{
    const QString std = u"std"_s;
    if (displayName == std && player == std)
        return makeRow(ViewInfo::Heading, u"\""_s + problem + u"\"的标程"_s, QColor(), grey(255));
    return makeRow(ViewInfo::Heading, displayName + u" - "_s + problem, grey(130), grey(255));
}

ViewInfo messageRow(const QString &text, int style)
{
    switch (style) {
    case 0:
        return makeRow(ViewInfo::Message, text, grey(225), grey(102));
    case 1:
        return makeRow(ViewInfo::Message, text, grey(180), grey(76));
    case 2:
        return makeRow(ViewInfo::End, text, grey(225), grey(51));
    default:
        return makeRow(ViewInfo::Message, text, QColor(232, 53, 223), grey(0));
    }
}

ViewInfo subtaskRow(int score, int fullScore)
{
    return makeRow(ViewInfo::Subtask, QString::number(score), scoreColour(score, fullScore),
                   grey(255));
}

ViewInfo pointRow(const QString &note, char state, int n)
{
    ViewInfo row = makeRow(ViewInfo::Point, note, stateRowColour(state), grey(0), QString::number(n));
    row.state = state;
    return row;
}

ViewInfo titleRow(const QString &text)
{
    return makeRow(ViewInfo::Heading, text, grey(130), grey(255));
}

QColor scoreColour(int score, int full)
{
    if (full < score)
        full = score;
    // A negative score (only a damaged result file has one) has no real power:
    // it is shown as nothing earned.
    long double x = 0;
    if (score > 0) {
        const long double d = full == 0 ? 1.0L : full;
        x = std::pow(static_cast<long double>(score), 0.9L) / std::pow(d, 0.9L);
    }
    return QColor(int(215 - 143 * x), int(215 - 62 * x), int(215 + 2 * x));
}

QColor stateRowColour(char state)
{
    switch (state) {
    case 'A':
        return QColor(0, 192, 48);
    case 'C':
    case 'E':
        return QColor(232, 53, 223);
    case 'I':
    case 'U':
        return grey(215);
    case 'M':
    case 'R':
        return QColor(248, 67, 52);
    case 'O':
        return grey(175);
    case 'P':
        return QColor(136, 222, 95);
    case 'T':
        return QColor(233, 211, 16);
    case 'W':
        return QColor(240, 154, 36);
    case '_':
        return QColor(72, 153, 217);
    default:
        return grey(255);
    }
}

void registerJudgeMetaTypes()
{
    qRegisterMetaType<ViewInfo>("ViewInfo");
    qRegisterMetaType<ScoreInfo>("ScoreInfo");
    qRegisterMetaType<SiteItem *>("SiteItem*");
}

QString terminalText(const QString &text)
{
    QString shown;
    shown.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text.at(i).unicode();
        if (c == u'\r' && i + 1 < text.size() && text.at(i + 1) == u'\n')
            continue;
        const bool control = c < 0x20 || (c >= 0x7F && c <= 0x9F);
        shown += control && c != u'\n' && c != u'\t' ? QChar(QChar::ReplacementCharacter) : QChar(c);
    }
    return shown;
}
