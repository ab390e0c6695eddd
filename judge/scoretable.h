#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

class AllSiteItem;

// The score table as CSV in GB18030: a header, then one line per row in the
// order given; every field is followed by a comma, lines end with "\n".
// With a player list the header is "编号,姓名,总分," and each line carries the
// listed name; without one it is "选手,总分,". Problems in column order.
QByteArray scoreTableCsv(const QStringList &problemNames, bool hasPlayerList,
                         const QList<AllSiteItem *> &rows);
// Writes it atomically; false when the file could not be written.
bool exportScoreTable(const QString &path, const QStringList &problemNames, bool hasPlayerList,
                      const QList<AllSiteItem *> &rows);
