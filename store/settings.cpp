#include "settings.h"

#include "dirs.h"
#include "fileread.h"

#include <QFileInfo>
#include <QSettings>

namespace Settings {

static const QString GeometryKey = QStringLiteral("geometry");

QStringList readLines(const QString &path)
{
    const FileRead read = readRegularFile(path);
    if (read.status != FileRead::Read)
        return {};
    QList<QByteArray> rawLines = read.bytes.split('\n');
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

// QSettings reads the file it was given before it writes it, and would wait
// for ever on a FIFO there: anything but a regular file or nothing is left alone.
static bool settingsFileUsable(const QString &path)
{
    const QFileInfo info(path);
    return !info.exists() || info.isFile();
}

QByteArray readGeometry(const QString &path)
{
    if (!settingsFileUsable(path))
        return {};
    return QSettings(path, QSettings::IniFormat).value(GeometryKey).toByteArray();
}

void writeGeometry(const QByteArray &geometry, const QString &path)
{
    if (!settingsFileUsable(path))
        return;
    QSettings settings(path, QSettings::IniFormat);
    settings.setAtomicSyncRequired(true);  // written through a temporary file, as the others
    settings.setValue(GeometryKey, geometry);
    settings.sync();
}

}
