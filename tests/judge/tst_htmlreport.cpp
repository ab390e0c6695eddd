#include "contest.h"
#include "htmlreport.h"

#include <QDir>
#include <QDomDocument>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

const QString Player = u"alice"_s;
const QString Border = u"border:1 solid #FFFFFF"_s;

QList<QDomElement> childElements(const QDomNode &parent)
{
    QList<QDomElement> children;
    for (QDomElement e = parent.firstChildElement(); !e.isNull(); e = e.nextSiblingElement())
        children.append(e);
    return children;
}

QStringList tagNames(const QList<QDomElement> &elements)
{
    QStringList names;
    for (const QDomElement &e : elements)
        names.append(e.tagName());
    return names;
}

QStringList texts(const QList<QDomElement> &elements)
{
    QStringList result;
    for (const QDomElement &e : elements)
        result.append(e.text());
    return result;
}

// A result document as the judge writes it: subtasks of (score, points),
// each point a (state, note) pair.
struct PointText
{
    QString state;
    QString note;
};
struct SubtaskText
{
    QString score;
    QList<PointText> points;
};

QString resultXml(int score, const QString &state, const QList<SubtaskText> &subtasks,
                  const QString &note = QString())
{
    QDomDocument doc;
    QDomElement task = doc.createElement(u"task"_s);
    task.setAttribute(u"score"_s, score);
    task.setAttribute(u"time"_s, 0);
    task.setAttribute(u"state"_s, state);
    doc.appendChild(task);
    for (const SubtaskText &s : subtasks) {
        QDomElement subtask = doc.createElement(u"subtask"_s);
        subtask.setAttribute(u"score"_s, s.score);
        for (const PointText &p : s.points) {
            QDomElement point = doc.createElement(u"point"_s);
            point.setAttribute(u"ratio"_s, 0);
            point.setAttribute(u"state"_s, p.state);
            point.setAttribute(u"note"_s, p.note);
            subtask.appendChild(point);
        }
        task.appendChild(subtask);
    }
    if (!note.isNull()) {
        QDomElement n = doc.createElement(u"note"_s);
        n.appendChild(doc.createTextNode(note));
        task.appendChild(n);
    }
    return u"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"_s + doc.toString(0);
}

}  // namespace

class TestHtmlReport : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void noResultsAtAll();
    void documentFrame();
    void subtaskScoreSpansItsPoints();
    void pointNumbersRestartPerProblem();
    void problemNote_data();
    void problemNote();
    void pointStateColours_data();
    void pointStateColours();
    void subtaskColours_data();
    void subtaskColours();
    void totalSumsProblemsAndMalformedFileShowsEmpty();
    void notesAreTextNotMarkup();
    void noCellIsSelfClosing();
    void controlCharactersKeepPageReadable();
    void replacesPreviousPage();
    void unwritablePageIsSkipped();

private:
    void writeFile(const QString &path, const QByteArray &bytes);
    void writeResult(const QString &problem, const QString &xml);
    void setConfig(const QString &problem, const QList<int> &subtaskScores);
    // Writes the report and returns the table's rows.
    QList<QDomElement> reportRows(const QStringList &problems);
    QDomDocument readReport();

    std::unique_ptr<QTemporaryDir> dir;
    Contest contest;
    QMap<QString, XmlFile> configs;
};

void TestHtmlReport::init()
{
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
    contest = Contest();
    contest.rootDir = dir->path();
    configs.clear();
    QVERIFY(QDir().mkpath(contest.playerDir(Player)));
}

void TestHtmlReport::writeFile(const QString &path, const QByteArray &bytes)
{
    QVERIFY(QDir().mkpath(QFileInfo(path).path()));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(bytes), bytes.size());
}

void TestHtmlReport::writeResult(const QString &problem, const QString &xml)
{
    writeFile(contest.resultFilePath(Player, problem), xml.toUtf8());
}

void TestHtmlReport::setConfig(const QString &problem, const QList<int> &subtaskScores)
{
    XmlFile config(contest.problemConfigPath(problem));
    QDomElement root = config.document.createElement(u"problem"_s);
    root.setAttribute(u"type"_s, u"ANS_0_4"_s);
    QDomElement task = config.document.createElement(u"task"_s);
    for (int score : subtaskScores) {
        QDomElement subtask = config.document.createElement(u"subtask"_s);
        subtask.setAttribute(u"score"_s, score);
        task.appendChild(subtask);
    }
    root.appendChild(task);
    config.document.appendChild(root);
    configs.insert(problem, config);
}

QDomDocument TestHtmlReport::readReport()
{
    QFile file(contest.playerDir(Player) + u"/result.html"_s);
    if (!file.open(QIODevice::ReadOnly))
        return QDomDocument();
    QDomDocument doc;
    doc.setContent(file.readAll());
    return doc;
}

QList<QDomElement> TestHtmlReport::reportRows(const QStringList &problems)
{
    writeHtmlReport(contest, Player, problems, &configs);
    const QDomDocument doc = readReport();
    const QDomElement table = doc.documentElement()
                                  .firstChildElement(u"meta"_s)
                                  .firstChildElement(u"font"_s)
                                  .firstChildElement(u"table"_s);
    return childElements(table);
}

void TestHtmlReport::noResultsAtAll()
{
    setConfig(u"a"_s, {50, 50});
    const QList<QDomElement> rows = reportRows({u"a"_s, u"b"_s});
    QCOMPARE(tagNames(rows), QStringList(5, u"tr"_s));

    struct Wide
    {
        QString background;
        QString style;
        QString text;
    };
    const QList<Wide> expected = {
        {u"#D7D7D7"_s, Border + u"; color:#333333"_s, u"总分: 0"_s},
        {u"#777777"_s, Border + u"; color:white"_s, u"a: 0"_s},
        {u"#D7D7D7"_s, Border + u"; color:#666666"_s, u"无测评结果"_s},
        {u"#777777"_s, Border + u"; color:white"_s, u"b: 0"_s},
        {u"#D7D7D7"_s, Border + u"; color:#666666"_s, u"无测评结果"_s},
    };
    for (int i = 0; i < rows.size(); ++i) {
        const QList<QDomElement> cells = childElements(rows[i]);
        QCOMPARE(tagNames(cells), QStringList{u"td"_s});
        const QDomElement td = cells.first();
        QCOMPARE(td.attribute(u"bgcolor"_s), expected[i].background);
        QCOMPARE(td.attribute(u"colspan"_s), u"3"_s);
        QCOMPARE(td.attribute(u"style"_s), expected[i].style);
        QCOMPARE(td.attribute(u"height"_s), u"30"_s);
        QCOMPARE(td.text(), expected[i].text);
    }
}

void TestHtmlReport::documentFrame()
{
    writeHtmlReport(contest, Player, {}, &configs);
    QFile file(contest.playerDir(Player) + u"/result.html"_s);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    QVERIFY2(!bytes.trimmed().startsWith("<?xml"), bytes.left(60).constData());
    QVERIFY(bytes.contains(QStringLiteral("alice的测评结果").toUtf8()));

    QDomDocument doc;
    QVERIFY(doc.setContent(bytes));
    const QDomElement html = doc.documentElement();
    QCOMPARE(html.tagName(), u"html"_s);
    QCOMPARE(html.attributes().count(), 0);
    QCOMPARE(tagNames(childElements(html)), QStringList{u"meta"_s});

    const QDomElement meta = html.firstChildElement();
    QCOMPARE(meta.attribute(u"http-equiv"_s), u"Content-Type"_s);
    QCOMPARE(meta.attribute(u"content"_s), u"text/html; charset=utf-8"_s);
    QCOMPARE(tagNames(childElements(meta)), (QStringList{u"title"_s, u"font"_s}));
    QCOMPARE(meta.firstChildElement(u"title"_s).text(), Player + u"的测评结果"_s);

    const QDomElement font = meta.firstChildElement(u"font"_s);
    QCOMPARE(font.attribute(u"face"_s), u"verdana"_s);
    const QList<QDomElement> parts = childElements(font);
    QCOMPARE(tagNames(parts), (QStringList{u"table"_s, u"p"_s, u"hr"_s, u"p"_s}));

    const QDomElement table = parts[0];
    QCOMPARE(table.attribute(u"border"_s), u"1"_s);
    QCOMPARE(table.attribute(u"cellspacing"_s), u"0"_s);
    QCOMPARE(table.attribute(u"cellpadding"_s), u"2"_s);
    QCOMPARE(table.attribute(u"width"_s), u"500"_s);
    QCOMPARE(table.attribute(u"style"_s), Border);
    QCOMPARE(texts(childElements(table)), QStringList{u"总分: 0"_s});

    QVERIFY(parts[1].text().contains(u"QXJ 测评器"_s));
    const QDomElement rule = parts[2];
    QCOMPARE(rule.attribute(u"align"_s), u"left"_s);
    QCOMPARE(rule.attribute(u"width"_s), u"500"_s);
    QCOMPARE(rule.attribute(u"color"_s), u"#A0A0A0"_s);
    QCOMPARE(rule.attribute(u"size"_s), u"1"_s);
    QVERIFY(parts[3].text().contains(u"QXJ"_s));
    QVERIFY(parts[3].text() != parts[1].text());
}

void TestHtmlReport::subtaskScoreSpansItsPoints()
{
    setConfig(u"a"_s, {30, 10});
    writeResult(u"a"_s, resultXml(25, u"N"_s,
                                  {{u"20"_s,
                                    {{u"A"_s, u"ok"_s}, {u"P"_s, u"部分正确"_s}, {u"A"_s, u"ok"_s}}},
                                   {u"5"_s, {{u"P"_s, u"half"_s}}}}));
    const QList<QDomElement> rows = reportRows({u"a"_s});
    QCOMPARE(rows.size(), 2 + 4);
    QCOMPARE(rows[0].text(), u"总分: 25"_s);
    QCOMPARE(rows[1].text(), u"a: 25"_s);

    const QList<QDomElement> first = childElements(rows[2]);
    QCOMPARE(rows[2].attribute(u"height"_s), u"30"_s);
    QCOMPARE(first.size(), 3);
    QCOMPARE(first[0].attribute(u"bgcolor"_s), u"#EEEEEE"_s);
    QCOMPARE(first[0].attribute(u"style"_s), Border);
    QCOMPARE(first[0].attribute(u"align"_s), u"right"_s);
    QCOMPARE(first[0].attribute(u"width"_s), u"25"_s);
    QCOMPARE(first[0].attribute(u"height"_s), u"30"_s);
    QCOMPARE(first[1].attribute(u"rowspan"_s), u"3"_s);
    QCOMPARE(first[1].attribute(u"style"_s), Border + u"; color:white"_s);
    QCOMPARE(first[1].attribute(u"align"_s), u"center"_s);
    QCOMPARE(first[1].attribute(u"width"_s), u"52"_s);
    QCOMPARE(first[1].text(), u"20"_s);
    QCOMPARE(first[2].attribute(u"style"_s), Border);
    QCOMPARE(first[2].text(), u"ok"_s);

    QCOMPARE(childElements(rows[3]).size(), 2);
    QCOMPARE(texts(childElements(rows[3])), (QStringList{u"2"_s, u"部分正确"_s}));
    QCOMPARE(childElements(rows[4]).size(), 2);

    const QList<QDomElement> second = childElements(rows[5]);
    QCOMPARE(texts(second), (QStringList{u"4"_s, u"5"_s, u"half"_s}));
    QCOMPARE(second[1].attribute(u"rowspan"_s), u"1"_s);
}

void TestHtmlReport::pointNumbersRestartPerProblem()
{
    const QList<SubtaskText> subtasks = {{u"0"_s, {{u"W"_s, u"x"_s}, {u"I"_s, u"忽略"_s}}},
                                         {u"0"_s, {{u"W"_s, u"y"_s}}}};
    writeResult(u"a"_s, resultXml(0, u"N"_s, subtasks));
    writeResult(u"b"_s, resultXml(0, u"N"_s, subtasks));
    const QList<QDomElement> rows = reportRows({u"a"_s, u"b"_s});

    QStringList numbers;
    for (const QDomElement &row : rows) {
        if (row.hasAttribute(u"height"_s))
            numbers.append(childElements(row).first().text());
        else
            numbers.append(row.text());
    }
    QCOMPARE(numbers, (QStringList{u"总分: 0"_s, u"a: 0"_s, u"1"_s, u"2"_s, u"3"_s, u"b: 0"_s,
                                   u"1"_s, u"2"_s, u"3"_s}));
}

void TestHtmlReport::problemNote_data()
{
    QTest::addColumn<QString>("state");
    QTest::addColumn<QString>("background");
    QTest::newRow("judge error") << u"E"_s << u"#E835E8"_s;
    QTest::newRow("compile error") << u"C"_s << u"#B4B4B4"_s;
    QTest::newRow("file missing") << u"F"_s << u"#B4B4B4"_s;
}

void TestHtmlReport::problemNote()
{
    QFETCH(QString, state);
    QFETCH(QString, background);
    writeResult(u"a"_s, resultXml(0, state, {}, u"临时目录无法清空: 011"_s));
    const QList<QDomElement> rows = reportRows({u"a"_s});
    QCOMPARE(texts(rows), (QStringList{u"总分: 0"_s, u"a: 0"_s, u"临时目录无法清空: 011"_s}));
    const QDomElement note = rows[2].firstChildElement();
    QCOMPARE(childElements(rows[2]).size(), 1);
    QCOMPARE(note.attribute(u"bgcolor"_s), background);
    QCOMPARE(note.attribute(u"colspan"_s), u"3"_s);
    QCOMPARE(note.attribute(u"style"_s), Border + u"; color:#343434"_s);
    QCOMPARE(note.attribute(u"height"_s), u"30"_s);
}

void TestHtmlReport::pointStateColours_data()
{
    QTest::addColumn<QString>("state");
    QTest::addColumn<QString>("colour");
    QTest::newRow("accepted") << u"A"_s << u"#0ACA3A"_s;
    QTest::newRow("partial") << u"P"_s << u"#98EE6F"_s;
    QTest::newRow("wrong") << u"W"_s << u"#FF9933"_s;
    QTest::newRow("checker error") << u"C"_s << u"#E835E8"_s;
    QTest::newRow("judge error") << u"E"_s << u"#E835E8"_s;
    QTest::newRow("memory") << u"M"_s << u"#FF3300"_s;
    QTest::newRow("run error") << u"R"_s << u"#FF3300"_s;
    QTest::newRow("time") << u"T"_s << u"#E6E600"_s;
    QTest::newRow("no output") << u"O"_s << u"#A4A4A4"_s;
    QTest::newRow("ignored") << u"I"_s << u"#D7D7D7"_s;
    QTest::newRow("not submitted") << u"U"_s << u"#D7D7D7"_s;
    QTest::newRow("first letter counts") << u"Wx"_s << u"#FF9933"_s;
    QTest::newRow("lower case") << u"a"_s << u"#FFFFFF"_s;
    QTest::newRow("empty") << QString() << u"#FFFFFF"_s;
    QTest::newRow("non-ASCII") << u"错"_s << u"#FFFFFF"_s;
}

void TestHtmlReport::pointStateColours()
{
    QFETCH(QString, state);
    QFETCH(QString, colour);
    writeResult(u"a"_s, resultXml(0, u"N"_s, {{u"0"_s, {{state, u"忽略"_s}}}}));
    const QList<QDomElement> rows = reportRows({u"a"_s});
    QCOMPARE(rows.size(), 3);
    const QDomElement note = childElements(rows[2]).last();
    QCOMPARE(note.attribute(u"bgcolor"_s), colour);
    QCOMPARE(note.text(), u"忽略"_s);
}

void TestHtmlReport::subtaskColours_data()
{
    QTest::addColumn<QList<int>>("fullScores");
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("colour");
    QTest::newRow("nothing of 10") << QList<int>{10} << u"0"_s << u"#d7d7d7"_s;
    QTest::newRow("10 of 10") << QList<int>{10} << u"10"_s << u"#4899d9"_s;
    // x = 0.5^0.9 = 0.5359: (215 - 76.6, 215 - 33.2, 215 + 1.07)
    QTest::newRow("5 of 10") << QList<int>{10} << u"5"_s << u"#8ab5d8"_s;
    QTest::newRow("above full") << QList<int>{10} << u"12"_s << u"#4899d9"_s;
    QTest::newRow("no configuration") << QList<int>{} << u"5"_s << u"#4899d9"_s;
    QTest::newRow("text kept as stored") << QList<int>{10} << u"010"_s << u"#4899d9"_s;
}

void TestHtmlReport::subtaskColours()
{
    QFETCH(QList<int>, fullScores);
    QFETCH(QString, stored);
    QFETCH(QString, colour);
    if (!fullScores.isEmpty())
        setConfig(u"a"_s, fullScores);
    writeResult(u"a"_s, resultXml(stored.toInt(), u"N"_s, {{stored, {{u"A"_s, QString()}}}}));
    const QList<QDomElement> rows = reportRows({u"a"_s});
    QCOMPARE(rows.size(), 3);
    const QDomElement score = childElements(rows[2]).at(1);
    QCOMPARE(score.attribute(u"bgcolor"_s), colour);
    QCOMPARE(score.text(), stored);
}

void TestHtmlReport::totalSumsProblemsAndMalformedFileShowsEmpty()
{
    writeResult(u"a"_s, resultXml(30, u"N"_s, {}));
    writeResult(u"b"_s, u"not a result file"_s);
    writeResult(u"c"_s, resultXml(45, u"N"_s, {}));
    const QList<QDomElement> rows = reportRows({u"a"_s, u"b"_s, u"c"_s});
    QCOMPARE(texts(rows), (QStringList{u"总分: 75"_s, u"a: 30"_s, u"b: 0"_s, u"c: 45"_s}));
}

void TestHtmlReport::notesAreTextNotMarkup()
{
    const QString note = u"<b>bold</b> & \"quoted\" <script>x</script>"_s;
    writeResult(u"a"_s, resultXml(0, u"E"_s, {{u"0"_s, {{u"W"_s, note}}}}, note));
    const QList<QDomElement> rows = reportRows({u"a"_s});
    QCOMPARE(rows.size(), 4);
    QCOMPARE(rows[2].text(), note);
    const QDomElement pointNote = childElements(rows[3]).last();
    QCOMPARE(pointNote.text(), note);
    QVERIFY(pointNote.firstChildElement().isNull());
}

void TestHtmlReport::noCellIsSelfClosing()
{
    writeResult(u"a"_s, resultXml(0, u"N"_s, {{QString(), {{u"W"_s, QString()}}}}));
    writeHtmlReport(contest, Player, {u"a"_s}, &configs);
    QFile file(contest.playerDir(Player) + u"/result.html"_s);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(file.readAll());
    QVERIFY(text.contains(u"<td"_s));
    QVERIFY2(!text.contains(QRegularExpression(u"<(td|tr|title|p)\\b[^>]*/>"_s)),
             qPrintable(text));
}

void TestHtmlReport::controlCharactersKeepPageReadable()
{
    // Directory names may hold characters that XML cannot carry.
    const QString player = u"bob\u0001"_s;
    const QString problem = u"a\u0002"_s;
    QVERIFY(QDir().mkpath(contest.playerDir(player)));
    writeHtmlReport(contest, player, {problem}, &configs);
    QFile file(contest.playerDir(player) + u"/result.html"_s);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QDomDocument doc;
    QVERIFY(doc.setContent(file.readAll()));
    const QDomElement meta = doc.documentElement().firstChildElement(u"meta"_s);
    QCOMPARE(meta.firstChildElement(u"title"_s).text(), u"bob\uFFFD的测评结果"_s);
    const QDomElement table = meta.firstChildElement(u"font"_s).firstChildElement(u"table"_s);
    QCOMPARE(texts(childElements(table)),
             (QStringList{u"总分: 0"_s, u"a\uFFFD: 0"_s, u"无测评结果"_s}));
}

void TestHtmlReport::replacesPreviousPage()
{
    const QString page = contest.playerDir(Player) + u"/result.html"_s;
    writeFile(page, QByteArray(100000, 'x'));
    writeResult(u"a"_s, resultXml(7, u"N"_s, {}));
    const QList<QDomElement> rows = reportRows({u"a"_s});
    QCOMPARE(texts(rows), (QStringList{u"总分: 7"_s, u"a: 7"_s}));
    QVERIFY(QFileInfo(page).size() < 10000);
}

void TestHtmlReport::unwritablePageIsSkipped()
{
    // The player's directory is a regular file: the page cannot be created.
    const QString ghost = u"ghost"_s;
    writeFile(contest.playerDir(ghost), "not a directory");
    QVERIFY(!writeHtmlReport(contest, ghost, {u"a"_s}, &configs));
    QFile file(contest.playerDir(ghost));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("not a directory"));
    QCOMPARE(QDir(contest.srcDir()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
             (QStringList{Player, ghost}));
}

QTEST_GUILESS_MAIN(TestHtmlReport)
#include "tst_htmlreport.moc"
