#pragma once

#include "scoreinfo.h"

#include <QList>
#include <QString>

// A result file as the statistics read it: the task's summary and every
// point's state, note and time. One pass of a stream reader instead of a
// document, a few times faster, for contests of thousands of cells; the
// elements are found by the same rules as ElementQuery's (the first "task"
// in document order; each "subtask" in document order with the "point"
// elements of its subtree), and a malformed file gives what came before the
// fault, as a document does.

struct StoredPoint
{
    char state = '\0';
    QString note;
    double time = -1.0;  // seconds; negative when the file does not tell
};

struct StoredResult
{
    bool opened = false;
    ScoreInfo info;  // NUL state when the file has no task
    QList<QList<StoredPoint>> subtasks;
    qsizetype pointCount() const;
};

// Without notes the points' notes stay empty: thousands of cells need only
// their states and times.
StoredResult readStoredResult(const QString &path, bool withNotes = true);
