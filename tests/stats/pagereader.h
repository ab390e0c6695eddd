#pragma once

// Reads the report pages back: they are well-formed XML, so a document
// finds their tables, lists and charts.

#include <QDomDocument>
#include <QList>
#include <QStringList>

inline QList<QDomElement> elementsByTag(const QDomNode &root, const QString &tag)
{
    QList<QDomElement> found;
    const QDomNodeList all = root.isDocument() ? root.toDocument().elementsByTagName(tag)
                                               : root.toElement().elementsByTagName(tag);
    for (int i = 0; i < all.size(); ++i)
        found.append(all.item(i).toElement());
    return found;
}

inline QDomElement elementById(const QDomDocument &page, const QString &id)
{
    QList<QDomElement> pending{page.documentElement()};
    while (!pending.isEmpty()) {
        const QDomElement element = pending.takeFirst();
        if (element.attribute(QStringLiteral("id")) == id)
            return element;
        for (QDomElement child = element.firstChildElement(); !child.isNull();
             child = child.nextSiblingElement())
            pending.append(child);
    }
    return QDomElement();
}

// Every row's cell texts, header row included.
inline QList<QStringList> tableRows(const QDomElement &table)
{
    QList<QStringList> rows;
    for (const QDomElement &row : elementsByTag(table, QStringLiteral("tr"))) {
        QStringList cells;
        for (QDomElement cell = row.firstChildElement(); !cell.isNull();
             cell = cell.nextSiblingElement())
            cells.append(cell.text());
        rows.append(cells);
    }
    return rows;
}
