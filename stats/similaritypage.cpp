#include "similaritypage.h"

#include "htmlpage.h"

#include <QStringDecoder>

using namespace Qt::StringLiterals;

namespace {

QString scoreText(const ScoreInfo &result)
{
    const char s = result.state;
    if (s == TaskState::NotJudged || s == '\0')
        return u"未测评"_s;
    return QString::number(result.score);
}

QString sourceColumn(const SimilarityReport &report, const SimPair &pair, bool first)
{
    const SimSource &source = report.sources[first ? pair.first : pair.second];
    const QStringList lines = SimilarityText::sourceText(source.text).split(u'\n');
    const QList<int> runs = SimilarityText::runOfLines(pair, first, lines.size());
    QString html = u"<td class=\"text source\"><div class=\"who\">"_s + escaped(source.player)
                   + u" <span class=\"note\">"_s + escaped(source.path) + u"</span></div><pre>"_s;
    const int width = int(QString::number(lines.size()).size());
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QString number = QString::number(i + 1).rightJustified(width);
        const QString line = u"<span class=\"ln\">"_s + number + u"</span> "_s
                             + escaped(lines[i]);
        if (runs[i] >= 0)
            html += u"<span style=\"background:"_s + SimilarityText::runColour(runs[i])
                    + u"\">"_s + line + u"</span>\n"_s;
        else
            html += line + u'\n';
    }
    html += u"</pre>"_s;
    if (source.truncated)
        html += u"<div class=\"note\">… 只比较了前 "_s + QString::number(source.text.size())
                + u" 字节</div>"_s;
    return html + u"</td>"_s;
}

} // namespace

namespace SimilarityText {

QStringList header()
{
    return {u"相似度"_s, u"试题"_s, u"语言"_s, u"选手"_s, u"得分"_s, u"选手"_s, u"得分"_s};
}

QString percent(double value)
{
    return QString::number(value, 'f', 1) + u'%';
}

QStringList pairRow(const SimilarityReport &report, const SimPair &pair)
{
    const SimSource &a = report.sources[pair.first];
    const SimSource &b = report.sources[pair.second];
    return {percent(pair.percent), a.problem, a.language ? a.language->name : QString(),
            a.player, scoreText(a.result), b.player, scoreText(b.result)};
}

QString sourceText(const QByteArray &bytes)
{
    QStringDecoder utf8(QStringDecoder::Utf8);
    QString text = utf8(bytes);
    if (!utf8.hasError())
        return text;
    QStringDecoder gb(QByteArrayLiteral("GB18030"));
    text = gb(bytes);
    return gb.hasError() ? QString::fromUtf8(bytes) : text;
}

QList<int> runOfLines(const SimPair &pair, bool firstSource, qsizetype lines)
{
    QList<int> runs(lines, -1);
    for (qsizetype r = 0; r < pair.runs.size(); ++r) {
        const SimRun &run = pair.runs[r];
        const int from = firstSource ? run.firstFrom : run.secondFrom;
        const int to = firstSource ? run.firstTo : run.secondTo;
        for (qsizetype line = std::max(1, from); line <= to && line <= lines; ++line)
            runs[line - 1] = int(r);
    }
    return runs;
}

QString runColour(int run)
{
    static const QString colours[] = {u"#FFE08A"_s, u"#A8E6A1"_s, u"#AFCBFF"_s,
                                      u"#FFB8B8"_s, u"#D9B8FF"_s, u"#9FE3E3"_s};
    return colours[run % 6];
}

} // namespace SimilarityText

QString similarityHtml(const SimilarityReport &report)
{
    const QString title = report.contestName + u" 代码相似度"_s;
    QString html = pageStart(title,
                             u"pre { font-family: 'DejaVu Sans Mono', 'Noto Sans Mono CJK SC', monospace;"
                             " font-size: 12px; margin: 0; white-space: pre-wrap; word-break: break-all; }\n"
                             ".ln { color: #999999; }\n"
                             "td.source { vertical-align: top; background: #FAFAFA; width: 50%; }\n"
                             "table.sides { width: 100%; table-layout: fixed; }\n"
                             ".who { font-weight: bold; margin-bottom: 4px; }\n"_s);
    html += u"<h1>"_s + escaped(title) + u"</h1>\n"_s;
    html += u"<p class=\"note\">相似度: 两份源程序中较小的一份有多少 (按 sim 的记号计) 出现在另一份里。"
            "只比较同一试题、同一语言的源程序; 标准程序 (std) 不参与比较。阈值 "_s
            + SimilarityText::percent(report.threshold) + u"。</p>\n"_s;
    if (!report.complete)
        html += u"<p style=\"color:#FF3300\">比较不完整: 已比较 "_s
                + QString::number(report.comparedPairs) + u" / "_s
                + QString::number(report.totalPairs) + u" 对。</p>\n"_s;
    html += u"<h2>说明</h2>\n<ul id=\"notes\">\n"_s;
    for (const QString &note : report.notes)
        html += u"<li>"_s + escaped(note) + u"</li>\n"_s;
    html += u"</ul>\n<h2>相似的源程序 ("_s + QString::number(report.pairs.size()) + u" 对)</h2>\n"_s;
    if (report.pairs.isEmpty()) {
        html += u"<p id=\"pairs\">没有相似度达到阈值的源程序。</p>\n"_s;
        return html + pageEnd();
    }
    html += u"<table id=\"pairs\">\n"_s + tableRow(QStringList{u"#"_s} + SimilarityText::header(), true);
    const qsizetype listed = std::min<qsizetype>(report.pairs.size(), PairsListed);
    for (qsizetype i = 0; i < listed; ++i) {
        QString row = tableRow(QStringList{QString::number(i + 1)}
                               + SimilarityText::pairRow(report, report.pairs[i]));
        if (i < PairsShownSideBySide)
            row.replace(u"<td class=\"text\">"_s + QString::number(i + 1) + u"</td>"_s,
                        u"<td class=\"text\"><a href=\"#pair-%1\">%1</a></td>"_s.arg(i + 1));
        html += row;
    }
    html += u"</table>\n"_s;
    if (listed < report.pairs.size())
        html += u"<p class=\"note\">另有 "_s + QString::number(report.pairs.size() - listed)
                + u" 对未列出。</p>\n"_s;
    const qsizetype shown = std::min<qsizetype>(report.pairs.size(), PairsShownSideBySide);
    for (qsizetype i = 0; i < shown; ++i) {
        const SimPair &pair = report.pairs[i];
        const QStringList row = SimilarityText::pairRow(report, pair);
        html += u"<section id=\"pair-%1\">\n<h3>#%1 "_s.arg(i + 1) + escaped(row[3]) + u" 与 "_s
                + escaped(row[5]) + u" — "_s + escaped(row[1]) + u" ("_s + escaped(row[2])
                + u") "_s + row[0] + u"</h3>\n<table class=\"sides\"><tr>"_s
                + sourceColumn(report, pair, true) + sourceColumn(report, pair, false)
                + u"</tr></table>\n</section>\n"_s;
    }
    if (shown < report.pairs.size())
        html += u"<p class=\"note\">只并排显示了前 "_s + QString::number(shown) + u" 对。</p>\n"_s;
    return html + pageEnd();
}

bool writeSimilarityPage(const Contest &contest, const SimilarityReport &report)
{
    return writeResultPage(contest, SimilarityPageName, similarityHtml(report));
}
