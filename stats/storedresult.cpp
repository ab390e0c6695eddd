#include "storedresult.h"

#include "contestfiles.h"
#include "fileread.h"
#include "xmlfile.h"

#include <QRegularExpression>
#include <QXmlStreamReader>

using namespace Qt::StringLiterals;

namespace {

// Files written before points carried their time still have it in an
// accepted point's note.
double timeInNote(const QString &note)
{
    static const QRegularExpression inNote(u"时间: ([0-9]+(?:\\.[0-9]+)?)s"_s);
    const QRegularExpressionMatch match = inNote.match(note);
    return match.hasMatch() ? readReal(match.captured(1)) : -1.0;
}

} // namespace

qsizetype StoredResult::pointCount() const
{
    qsizetype n = 0;
    for (const QList<StoredPoint> &points : subtasks)
        n += points.size();
    return n;
}

StoredResult readStoredResult(const QString &path, bool withNotes)
{
    StoredResult result;
    result.info.state = '\0';
    // A FIFO where a result file should be must not hold the statistics up.
    const FileRead file = readRegularFile(path);
    if (file.status != FileRead::Read)
        return result;
    result.opened = true;
    QXmlStreamReader reader(file.bytes);
    bool taskSeen = false;
    // Subtasks whose element is open: a point belongs to each of them.
    QList<qsizetype> open;
    QList<bool> isSubtask;
    while (!reader.atEnd()) {
        const QXmlStreamReader::TokenType token = reader.readNext();
        if (token == QXmlStreamReader::EndElement) {
            if (!isSubtask.isEmpty() && isSubtask.takeLast())
                open.removeLast();
            continue;
        }
        if (token != QXmlStreamReader::StartElement)
            continue;
        const QStringView name = reader.name();
        const QXmlStreamAttributes attributes = reader.attributes();
        const bool subtask = name == ResultXml::Subtask;
        isSubtask.append(subtask);
        if (name == ResultXml::Task && !taskSeen) {
            taskSeen = true;
            result.info.score = readInt(attributes.value(ResultXml::Score).toString());
            result.info.time = readReal(attributes.value(ResultXml::Time).toString());
            const QByteArray state = attributes.value(ResultXml::State).toUtf8();
            result.info.state = state.isEmpty() ? '\0' : state.at(0);
        } else if (subtask) {
            open.append(result.subtasks.size());
            result.subtasks.append(QList<StoredPoint>());
        } else if (name == ResultXml::Point && !open.isEmpty()) {
            StoredPoint point;
            const QByteArray state = attributes.value(ResultXml::State).toUtf8();
            point.state = state.isEmpty() ? '\0' : state.at(0);
            const QStringView time = attributes.value(ResultXml::Time);
            if (withNotes || time.isEmpty()) {
                const QString note = attributes.value(ResultXml::Note).toString();
                if (withNotes)
                    point.note = note;
                point.time = time.isEmpty() ? timeInNote(note) : readReal(time.toString());
            } else {
                point.time = readReal(time.toString());
            }
            for (const qsizetype index : std::as_const(open))
                result.subtasks[index].append(point);
        }
    }
    return result;
}
