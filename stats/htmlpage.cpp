#include "htmlpage.h"

#include "contest.h"
#include "dirs.h"

#include <QRegularExpression>

using namespace Qt::StringLiterals;

namespace {

const QString FontFamilies =
    u"'Microsoft YaHei', '微软雅黑', 'Noto Sans CJK SC', 'WenQuanYi Micro Hei', sans-serif"_s;

} // namespace

QString escaped(const QString &text)
{
    return text.toHtmlEscaped();
}

QString pageStart(const QString &title, const QString &extraStyle)
{
    return u"<!DOCTYPE html>\n<html lang=\"zh-CN\">\n<head>\n<meta charset=\"utf-8\"/>\n<title>"_s
           + escaped(title)
           + u"</title>\n<style>\n"
             "body { font-family: "_s + FontFamilies + u"; color: #333333; margin: 16px; }\n"
             "h1 { font-size: 22px; margin: 0 0 8px; }\n"
             "h2 { font-size: 18px; margin: 20px 0 6px; padding: 4px 8px; color: white;"
             " background: #777777; }\n"
             "h3 { font-size: 15px; margin: 12px 0 4px; }\n"
             "table { border-collapse: collapse; margin: 4px 0 10px; }\n"
             "th { background: #777777; color: white; font-weight: normal; padding: 3px 8px;"
             " border: 1px solid #FFFFFF; }\n"
             "td { background: #EEEEEE; padding: 3px 8px; border: 1px solid #FFFFFF;"
             " text-align: right; }\n"
             "td.text, th.text { text-align: left; }\n"
             "svg { max-width: 100%; height: auto; display: block; margin: 4px 0; }\n"
             "section { break-inside: avoid; page-break-inside: avoid; }\n"
             ".note { color: #666666; }\n"
             "footer { margin-top: 24px; color: #888888; font-size: 12px; }\n"
             "@media print { body { margin: 0; } h2 { -webkit-print-color-adjust: exact;"
             " print-color-adjust: exact; } th, td { -webkit-print-color-adjust: exact;"
             " print-color-adjust: exact; } }\n"_s
           + extraStyle + u"</style>\n</head>\n<body>\n"_s;
}

QString pageEnd()
{
    return u"<footer>本页由 QXJ 测评器 生成。</footer>\n</body>\n</html>\n"_s;
}

QString tableRow(const QStringList &cells, bool header)
{
    const QString tag = header ? u"th"_s : u"td"_s;
    QString row = u"<tr>"_s;
    for (qsizetype i = 0; i < cells.size(); ++i) {
        // The first column names the row; numbers stand right.
        const QString open = i == 0 ? u"<"_s + tag + u" class=\"text\">"_s : u"<"_s + tag + u'>';
        row += open + escaped(cells[i]) + u"</"_s + tag + u'>';
    }
    return row + u"</tr>\n"_s;
}

QString inlineSvg(const QByteArray &svg, QSize size, const QString &label)
{
    QString text = QString::fromUtf8(svg);
    const qsizetype start = text.indexOf(u"<svg"_s);
    if (start < 0)
        return QString();
    text.remove(0, start);
    static const QRegularExpression width(u"^<svg width=\"[^\"]*\" height=\"[^\"]*\""_s);
    text.replace(width, u"<svg width=\"%1\" height=\"%2\" role=\"img\" aria-label=\"%3\""_s
                            .arg(size.width())
                            .arg(size.height())
                            .arg(escaped(label)));
    // The drawing names one family; a browser without it should still find
    // a Chinese font rather than boxes.
    static const QRegularExpression family(u"font-family=\"[^\"]*\""_s);
    text.replace(family, u"font-family=\""_s + FontFamilies + u'"');
    // The generator opens a group for every change of pen or font, most of
    // them left empty: a tenth of the size without them.
    static const QRegularExpression emptyGroup(u"<g [^>]*>\\s*</g>\\s*"_s);
    for (qsizetype before = -1; before != text.size();) {
        before = text.size();
        text.remove(emptyGroup);
    }
    static const QRegularExpression generatorTitle(u"<title>[^<]*</title>\\s*<desc>[^<]*</desc>"_s);
    text.replace(generatorTitle, u"<title>"_s + escaped(label) + u"</title>"_s);
    return text.trimmed() + u'\n';
}

QString resultPagePath(const Contest &contest, const QString &name)
{
    return contest.resultDir() + u'/' + name;
}

bool writeResultPage(const Contest &contest, const QString &name, const QString &html)
{
    makePath(contest.resultDir());
    return writeFileAtomically(resultPagePath(contest, name), html.toUtf8());
}
