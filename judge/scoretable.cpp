#include "scoretable.h"

#include "dirs.h"
#include "gridcells.h"

#include <QStringEncoder>

namespace {

// A quotation mark inside a name is doubled, so that a spreadsheet still
// reads the field whole.
QString quoted(QString text)
{
    text.replace(u'"', QStringLiteral("\"\""));
    return u'"' + text + u'"';
}

}  // namespace

QByteArray scoreTableCsv(const QStringList &problemNames, bool hasPlayerList,
                         const QList<AllSiteItem *> &rows)
{
    QString text = hasPlayerList ? QStringLiteral("编号,姓名,总分,") : QStringLiteral("选手,总分,");
    for (const QString &problem : problemNames)
        text += quoted(problem) + u',';
    text += u'\n';

    for (const AllSiteItem *head : rows) {
        text += quoted(head->nameItem ? head->nameItem->playerName : QString()) + u',';
        if (hasPlayerList)
            text += quoted(head->nameItem ? head->nameItem->listedName : QString()) + u',';
        text += QString::number(head->info.score) + u',';
        for (const SiteItem *cell : head->cells)
            text += QString::number(cell->info.score) + u',';
        text += u'\n';
    }

    QStringEncoder encoder("GB18030");
    return encoder.encode(text);
}

bool exportScoreTable(const QString &path, const QStringList &problemNames, bool hasPlayerList,
                      const QList<AllSiteItem *> &rows)
{
    return writeFileAtomically(path, scoreTableCsv(problemNames, hasPlayerList, rows));
}
