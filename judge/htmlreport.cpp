#include "htmlreport.h"

#include "contest.h"
#include "contestfiles.h"
#include "testcore.h"
#include "viewinfo.h"

#include <initializer_list>
#include <utility>

using namespace Qt::StringLiterals;

namespace {

using Attributes = std::initializer_list<std::pair<QString, QString>>;

const QString CellBorder = u"border:1 solid #FFFFFF"_s;

QString stateColour(const QString &state)
{
    switch (state.isEmpty() ? u'\0' : state.at(0).unicode()) {
    case u'A': return u"#0ACA3A"_s;
    case u'P': return u"#98EE6F"_s;
    case u'W': return u"#FF9933"_s;
    case u'C':
    case u'E': return u"#E835E8"_s;
    case u'M':
    case u'R': return u"#FF3300"_s;
    case u'T': return u"#E6E600"_s;
    case u'O': return u"#A4A4A4"_s;
    case u'I':
    case u'U': return u"#D7D7D7"_s;
    default: return u"#FFFFFF"_s;
    }
}

class Report
{
public:
    QDomDocument doc;

    QDomElement add(QDomNode parent, const QString &tag, Attributes attributes)
    {
        QDomElement element = doc.createElement(tag);
        for (const auto &[name, value] : attributes)
            element.setAttribute(name, value);
        parent.appendChild(element);
        return element;
    }

    // Always a text child, even an empty one, so that no cell is written as
    // a self-closing tag, which HTML does not know.
    QDomText addText(QDomNode parent, const QString &text)
    {
        QDomText node = doc.createTextNode(xmlSafeText(text));
        parent.appendChild(node);
        return node;
    }

    // A row of one cell spanning the three columns.
    QDomText addWideRow(QDomElement table, const QString &background, const QString &colour,
                        const QString &text)
    {
        QDomElement row = add(table, u"tr"_s, {});
        QDomElement cell = add(row, u"td"_s,
                               {{u"bgcolor"_s, background},
                                {u"colspan"_s, u"3"_s},
                                {u"style"_s, CellBorder + u"; color:"_s + colour},
                                {u"height"_s, u"30"_s}});
        return addText(cell, text);
    }

    // Returns the problem's score (0 when it has no readable result).
    qint64 addProblem(QDomElement table, const Contest &contest, const QString &player,
                      const QString &problem, const QDomDocument &config);
};

qint64 Report::addProblem(QDomElement table, const Contest &contest, const QString &player,
                          const QString &problem, const QDomDocument &config)
{
    QDomText header = addWideRow(table, u"#777777"_s, u"white"_s, problem + u": 0"_s);

    XmlFile result;
    if (!result.load(contest.resultFilePath(player, problem))) {
        addWideRow(table, u"#D7D7D7"_s, u"#666666"_s, u"无测评结果"_s);
        return 0;
    }
    const QDomDocument &document = result.document;
    const int score = attributeInt(queryUnder(document, ResultXml::Task).item(0), ResultXml::Score);
    header.setData(xmlSafeText(problem + u": "_s + QString::number(score)));

    const ElementQuery notes = queryUnder(document, ResultXml::Note);
    if (notes.count() != 0) {
        const QString state = attributeText(document.documentElement(), ResultXml::State);
        const bool failed = state.startsWith(u'E');
        addWideRow(table, failed ? u"#E835E8"_s : u"#B4B4B4"_s, u"#343434"_s,
                   notes.item(0).text());
    }

    const QList<QDomElement> subtasks = queryUnder(document, ResultXml::Subtask).elements();
    const QList<QDomElement> configSubtasks = queryUnder(config, u"subtask"_s).elements();
    int number = 0;
    for (qsizetype j = 0; j < subtasks.size(); ++j) {
        const QDomElement &subtask = subtasks[j];
        const QList<QDomElement> points = queryWithin(subtask, ResultXml::Point).elements();
        for (qsizetype k = 0; k < points.size(); ++k) {
            const QDomElement &point = points[k];
            QDomElement row = add(table, u"tr"_s, {{u"height"_s, u"30"_s}});
            QDomElement numberCell = add(row, u"td"_s,
                                         {{u"bgcolor"_s, u"#EEEEEE"_s},
                                          {u"style"_s, CellBorder},
                                          {u"align"_s, u"right"_s},
                                          {u"width"_s, u"25"_s},
                                          {u"height"_s, u"30"_s}});
            addText(numberCell, QString::number(++number));
            if (k == 0) {
                const int full = j < configSubtasks.size()
                                     ? attributeInt(configSubtasks[j], u"score"_s) : 0;
                const QColor colour = scoreColour(attributeInt(subtask, ResultXml::Score), full);
                QDomElement scoreCell = add(row, u"td"_s,
                                            {{u"bgcolor"_s, colour.name(QColor::HexRgb)},
                                             {u"style"_s, CellBorder + u"; color:white"_s},
                                             {u"align"_s, u"center"_s},
                                             {u"rowspan"_s, QString::number(points.size())},
                                             {u"width"_s, u"52"_s}});
                addText(scoreCell, attributeText(subtask, ResultXml::Score));
            }
            QDomElement noteCell =
                add(row, u"td"_s,
                    {{u"bgcolor"_s, stateColour(attributeText(point, ResultXml::State))},
                     {u"style"_s, CellBorder}});
            addText(noteCell, attributeText(point, ResultXml::Note));
        }
    }
    return score;
}

}  // namespace

QString htmlReportPath(const Contest &contest, const QString &player)
{
    return contest.playerDir(player) + u"/result.html"_s;
}

bool writeHtmlReport(const Contest &contest, const QString &player, const QStringList &problems,
                     const QMap<QString, XmlFile> *problemConfigs)
{
    Report report;
    // Not add(): a fresh document is a null node until it creates its first element.
    QDomElement html = report.doc.createElement(u"html"_s);
    report.doc.appendChild(html);
    QDomElement meta = report.add(html, u"meta"_s,
                                  {{u"http-equiv"_s, u"Content-Type"_s},
                                   {u"content"_s, u"text/html; charset=utf-8"_s}});
    QDomElement title = report.add(meta, u"title"_s, {});
    report.addText(title, player + u"的测评结果"_s);
    QDomElement font = report.add(meta, u"font"_s, {{u"face"_s, u"verdana"_s}});
    QDomElement table = report.add(font, u"table"_s,
                                   {{u"border"_s, u"1"_s},
                                    {u"cellspacing"_s, u"0"_s},
                                    {u"cellpadding"_s, u"2"_s},
                                    {u"width"_s, u"500"_s},
                                    {u"style"_s, CellBorder}});
    QDomText totalText = report.addWideRow(table, u"#D7D7D7"_s, u"#333333"_s, QString());

    // Wide enough that no crafted result file can overflow the sum.
    qint64 total = 0;
    const QDomDocument noConfig;
    for (const QString &problem : problems) {
        const QDomDocument *config = &noConfig;
        if (problemConfigs) {
            const auto found = problemConfigs->constFind(problem);
            if (found != problemConfigs->constEnd())
                config = &found->document;
        }
        total += report.addProblem(table, contest, player, problem, *config);
    }
    totalText.setData(u"总分: "_s + QString::number(total));

    report.addText(report.add(font, u"p"_s, {}), u"本页由 QXJ 测评器 生成。"_s);
    report.add(font, u"hr"_s,
               {{u"align"_s, u"left"_s},
                {u"width"_s, u"500"_s},
                {u"color"_s, u"#A0A0A0"_s},
                {u"size"_s, u"1"_s}});
    report.addText(report.add(font, u"p"_s, {}), u"作者: QXJ 项目"_s);

    // A failed write leaves the previous page.
    return saveDocument(report.doc, htmlReportPath(contest, player), 0);
}
