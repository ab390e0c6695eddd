#pragma once

#include "scoreinfo.h"

#include <QList>
#include <QString>
#include <QStringList>

class Contest;

// Names of the result file's elements and attributes.
namespace ResultXml {
inline const QString Task = QStringLiteral("task");
inline const QString Subtask = QStringLiteral("subtask");
inline const QString Point = QStringLiteral("point");
inline const QString Note = QStringLiteral("note");
inline const QString Score = QStringLiteral("score");
inline const QString Time = QStringLiteral("time");
inline const QString State = QStringLiteral("state");
inline const QString Ratio = QStringLiteral("ratio");
}

// Rewrites the children of the contest file's first "order" element.
bool writeContestFile(const Contest &contest, const QStringList &order);

// The chosen file becomes the contest's player list, byte for byte; the old
// list stays when the file cannot be read or the list cannot be written.
bool importPlayerList(const Contest &contest, const QString &source);
// False when a player list is still there afterwards.
bool removePlayerList(const Contest &contest);

// One grid cell for the result list, in grid order.
struct CellResult
{
    QString player;
    QString problem;
    ScoreInfo info;
};
// The result list's lines for these cells, in their order.
QByteArray resultListContent(const QList<CellResult> &cells);
// Writes the result list unless it exists already. False on a write failure.
bool writeResultList(const Contest &contest, const QList<CellResult> &cells);
