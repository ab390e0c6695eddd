#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// The judge's own small files, relative to the working directory.
namespace Settings {
inline const QString HistoryFile = QStringLiteral("history.cfg");
inline const QString LastFile = QStringLiteral("last.cfg");
inline const QString GeometryFile = QStringLiteral("geo.cfg");
inline const QString JobsFile = QStringLiteral("jobs.cfg");

// Lines trimmed, cut at the first NUL, decoded as UTF-8; missing file: empty.
QStringList readLines(const QString &path);
bool writeLines(const QString &path, const QStringList &lines);

QStringList readHistory(const QString &path = HistoryFile);
bool writeHistory(const QStringList &entries, const QString &path = HistoryFile);
// Puts entry first unless it is already there; true when the file was rewritten.
bool recordHistory(const QString &entry, const QString &path = HistoryFile);

QString readLastContest(const QString &path = LastFile);
void writeLastContest(const QString &contest, const QString &path = LastFile);

// How many cells the window judges at once: the number on the first line;
// 1 when there is none, or it is not a whole number from 1 up.
int readJobs(const QString &path = JobsFile);
bool writeJobs(int jobs, const QString &path = JobsFile);

QByteArray readGeometry(const QString &path = GeometryFile);
void writeGeometry(const QByteArray &geometry, const QString &path = GeometryFile);
}
