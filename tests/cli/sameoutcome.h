#pragma once

// What one judging of a contest leaves that another judging of it must leave
// too, wherever and however it ran: every result file, every player's report
// and the result list, times and memory figures aside.

#include "clitestutil.h"

#include <QDir>
#include <QMap>
#include <QRegularExpression>

#include <algorithm>

// Markup with the attributes of each tag in name order (the files are
// written with them in any order), every "time" attribute and every figure
// with a decimal point masked.
inline QString comparableMarkup(const QString &text)
{
    static const QRegularExpression tag(QStringLiteral("<([A-Za-z]+)((?:\\s+[\\w:-]+=\"[^\"]*\")+)\\s*(/?)>"));
    static const QRegularExpression attribute(QStringLiteral("([\\w:-]+)=\"([^\"]*)\""));
    static const QRegularExpression figure(QStringLiteral("\\d+\\.\\d+"));
    QString out;
    qsizetype from = 0;
    for (auto tags = tag.globalMatch(text); tags.hasNext();) {
        const QRegularExpressionMatch match = tags.next();
        QStringList attributes;
        for (auto it = attribute.globalMatch(match.captured(2)); it.hasNext();) {
            const QRegularExpressionMatch a = it.next();
            attributes.append(a.captured(1) == QStringLiteral("time") ? QStringLiteral("time=\"#\"")
                                                                       : a.captured(0));
        }
        attributes.sort();
        out += text.mid(from, match.capturedStart() - from) + u'<' + match.captured(1) + u' '
               + attributes.join(u' ') + match.captured(3) + u'>';
        from = match.capturedEnd();
    }
    out += text.mid(from);
    return out.replace(figure, QStringLiteral("#"));
}

// The result list with each line's time field masked.
inline QString comparableList(const QByteArray &list)
{
    QStringList lines = QString::fromUtf8(list).split(u'\n');
    for (QString &line : lines) {
        QStringList fields = line.split(u'/');
        if (fields.size() > 4)
            fields[3] = QStringLiteral("#");
        line = fields.join(u'/');
    }
    return lines.join(u'\n');
}

// A score table with its rows in name order: rows of equal totals are
// ordered by time, which differs from run to run.
inline QList<QByteArray> comparableTable(const QByteArray &table)
{
    QList<QByteArray> lines = table.split('\n');
    if (!lines.isEmpty())
        std::sort(lines.begin() + 1, lines.end());
    return lines;
}

// By path relative to the contest: result/<problem>/<player>.res,
// src/<player>/result.html and result/.reslist; the shards' records left out.
inline QMap<QString, QString> judgedOutcome(const QString &root)
{
    QMap<QString, QString> outcome;
    const QDir base(root);
    for (const QString &entry : treeOf(root + QStringLiteral("/result"))) {
        const QString path = QStringLiteral("result/") + entry;
        if (entry == QStringLiteral(".reslist"))
            outcome.insert(path, comparableList(readTestFile(base.filePath(path))));
        else if (entry.endsWith(QStringLiteral(".res")))
            outcome.insert(path, comparableMarkup(QString::fromUtf8(readTestFile(base.filePath(path)))));
    }
    for (const QString &player : QDir(root + QStringLiteral("/src")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QString path = QStringLiteral("src/") + player + QStringLiteral("/result.html");
        if (QFileInfo::exists(base.filePath(path)))
            outcome.insert(path, comparableMarkup(QString::fromUtf8(readTestFile(base.filePath(path)))));
    }
    return outcome;
}

// Empty when both contests were judged alike, else the first difference.
inline QString outcomeDifference(const QString &expectedRoot, const QString &actualRoot)
{
    const QMap<QString, QString> expected = judgedOutcome(expectedRoot);
    const QMap<QString, QString> actual = judgedOutcome(actualRoot);
    if (expected.keys() != actual.keys())
        return QStringLiteral("files differ:\n  %1\n  %2")
            .arg(expected.keys().join(u' '), actual.keys().join(u' '));
    if (expected.isEmpty())
        return QStringLiteral("nothing judged");
    for (auto it = expected.cbegin(); it != expected.cend(); ++it) {
        if (actual.value(it.key()) != it.value())
            return it.key() + QStringLiteral(" differs:\n") + it.value() + QStringLiteral("\n---\n")
                   + actual.value(it.key());
    }
    return QString();
}
