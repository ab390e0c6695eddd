#include "contestfiles.h"

#include "contest.h"
#include "dirs.h"
#include "fileread.h"
#include "xmlfile.h"

#include <QFile>
#include <QFileInfo>

bool importPlayerList(const Contest &contest, const QString &source)
{
    const FileRead read = readRegularFile(source);
    return read.status == FileRead::Read && writeFileAtomically(contest.playerListPath(), read.bytes);
}

bool removePlayerList(const Contest &contest)
{
    removeFile(contest.playerListPath());
    return !QFileInfo::exists(contest.playerListPath());
}

bool writeContestFile(const Contest &contest, const QStringList &order)
{
    XmlFile file;
    QDomDocument &document = file.document;
    QDomElement orderElement;
    if (file.load(contest.contestFilePath())) {
        orderElement = queryUnder(document, QStringLiteral("order")).item(0);
        if (orderElement.isNull()) {
            QDomElement root = queryUnder(document, QStringLiteral("contest")).item(0);
            // Nowhere to keep the order: leave the file as it is rather than
            // rewrite what may be the readable part of a damaged file.
            if (root.isNull())
                return false;
            orderElement = root.appendChild(document.createElement(QStringLiteral("order"))).toElement();
        }
    } else {
        document = newDocument();
        QDomElement root = document.createElement(QStringLiteral("contest"));
        root.setAttribute(QStringLiteral("version"), QStringLiteral("0.4"));
        document.appendChild(root);
        orderElement = root.appendChild(document.createElement(QStringLiteral("order"))).toElement();
    }

    while (orderElement.hasChildNodes())
        orderElement.removeChild(orderElement.firstChild());
    for (const QString &name : order) {
        QDomElement problem = document.createElement(QStringLiteral("problem"));
        problem.appendChild(document.createTextNode(name));
        orderElement.appendChild(problem);
    }
    return file.save(4);
}

// One line: player/problem/score/time/state/ ; a NUL state is an empty field.
static void appendResultLine(QByteArray &out, const CellResult &cell)
{
    out += cell.player.toUtf8();
    out += '/';
    out += cell.problem.toUtf8();
    out += '/';
    out += QByteArray::number(cell.info.score);
    out += '/';
    out += realText(cell.info.time).toLatin1();
    out += '/';
    if (cell.info.state != '\0')
        out += cell.info.state;
    out += "/\n";
}

QByteArray resultListContent(const QList<CellResult> &cells)
{
    QByteArray content;
    content.reserve(cells.size() * 32);
    for (const CellResult &cell : cells)
        appendResultLine(content, cell);
    return content;
}

bool writeResultList(const Contest &contest, const QList<CellResult> &cells)
{
    const QString path = contest.resultListPath();
    if (QFile::exists(path))
        return true;
    ensureDir(contest.resultDir());
    return writeFileAtomically(path, resultListContent(cells));
}

void Contest::loadResultList()
{
    cachedResults.clear();
    const FileRead read = readRegularFile(resultListPath());
    if (read.status != FileRead::Read)
        return;
    const QByteArray &content = read.bytes;
    cachedResults.reserve(content.count('\n') + 1);

    qsizetype start = 0;
    while (start < content.size()) {
        qsizetype end = content.indexOf('\n', start);
        if (end < 0)
            end = content.size();
        const QByteArrayView line = QByteArrayView(content).sliced(start, end - start).trimmed();
        start = end + 1;

        // Fields are split at every "/", empty ones kept; ids hold spaces, never "/".
        qsizetype slash[5];
        int found = 0;
        for (qsizetype from = 0; found < 5; ++found) {
            slash[found] = line.indexOf('/', from);
            if (slash[found] < 0)
                break;
            from = slash[found] + 1;
        }
        if (found < 4)
            continue;  // fewer than five fields: not a line this system writes
        const auto field = [&](int n) {
            const qsizetype end = n < found ? slash[n] : line.size();
            return line.sliced(slash[n - 1] + 1, end - slash[n - 1] - 1);
        };

        ScoreInfo info;
        info.score = readInt(QString::fromLatin1(field(2)));
        info.time = readReal(QString::fromLatin1(field(3)));
        const QByteArrayView state = field(4);
        info.state = state.isEmpty() ? '\0' : state.front();
        cachedResults.insert(QString::fromUtf8(line.first(slash[1])), info);
    }
}
