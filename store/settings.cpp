#include "settings.h"

#include "dirs.h"

#include <QFile>
#include <QSettings>

namespace Settings {

static const QString GeometryKey = QStringLiteral("geometry");

QStringList readLines(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QList<QByteArray> rawLines = file.readAll().split('\n');
    // The final line break ends the last line; it does not start another.
    if (rawLines.last().isEmpty())
        rawLines.removeLast();
    QStringList lines;
    lines.reserve(rawLines.size());
    for (const QByteArray &raw : std::as_const(rawLines)) {
        const QByteArray trimmed = raw.trimmed();
        const qsizetype nul = trimmed.indexOf('\0');
        lines.append(QString::fromUtf8(nul < 0 ? trimmed : trimmed.first(nul)));
    }
    return lines;
}

bool writeLines(const QString &path, const QStringList &lines)
{
    QByteArray bytes;
    for (const QString &line : lines) {
        bytes += line.toUtf8();
        bytes += '\n';
    }
    return writeFileAtomically(path, bytes);
}

QStringList readHistory(const QString &path)
{
    return readLines(path);
}

bool writeHistory(const QStringList &entries, const QString &path)
{
    return writeLines(path, entries);
}

bool recordHistory(const QString &entry, const QString &path)
{
    QStringList entries = readHistory(path);
    if (entries.contains(entry, Qt::CaseSensitive))
        return false;
    entries.prepend(entry);
    return writeHistory(entries, path);
}

QString readLastContest(const QString &path)
{
    return readLines(path).value(0);
}

void writeLastContest(const QString &contest, const QString &path)
{
    writeFileAtomically(path, contest.toUtf8());
}

int readJobs(const QString &path)
{
    bool number = false;
    const int jobs = readLines(path).value(0).toInt(&number);
    return number && jobs >= 1 ? jobs : 1;
}

bool writeJobs(int jobs, const QString &path)
{
    return writeLines(path, {QString::number(jobs)});
}

QByteArray readGeometry(const QString &path)
{
    return QSettings(path, QSettings::IniFormat).value(GeometryKey).toByteArray();
}

void writeGeometry(const QByteArray &geometry, const QString &path)
{
    QSettings settings(path, QSettings::IniFormat);
    settings.setAtomicSyncRequired(true);  // written through a temporary file, as the others
    settings.setValue(GeometryKey, geometry);
    settings.sync();
}

}
