#pragma once

#include <QColor>
#include <QMetaType>
#include <QString>

// One row of the detail table.
struct ViewInfo
{
    enum Kind { Heading = 0, Message = 1, Subtask = 2, Point = 3, End = 4 };

    int kind = Heading;
    QString number;
    QString text;
    QColor background;
    QColor foreground;
    // The point's state letter for point rows, so that a reader without
    // colours (the console judge) need not guess it from the background.
    char state = 0;
};
Q_DECLARE_METATYPE(ViewInfo)

ViewInfo headerRow(const QString &player, const QString &problem, const QString &displayName);
// style 0 plain, 1 problem failure, 2 end of run, 3 judge error
ViewInfo messageRow(const QString &text, int style);
ViewInfo subtaskRow(int score, int fullScore);
ViewInfo pointRow(const QString &note, char state, int n);
ViewInfo titleRow(const QString &text);

// A row's text as it may reach a terminal: every control character but the
// line feed and the tab (escape sequences, and the C1 controls U+0080 to
// U+009F, which terminals may obey as escapes) becomes U+FFFD, so that
// nothing a compiler or a checker printed can steer the terminal; a carriage
// return ending a line just goes.
QString terminalText(const QString &text);

QColor scoreColour(int score, int full);
QColor stateRowColour(char state);

// Registers ViewInfo, ScoreInfo and SiteItem* for queued signals.
void registerJudgeMetaTypes();
