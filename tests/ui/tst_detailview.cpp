#include "contest.h"
#include "detailview.h"
#include "gridcells.h"
#include "viewinfo.h"

#include <QDir>
#include <QFile>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

class TestDetailView : public QObject
{
    Q_OBJECT

private slots:
    void runOfOneCell();
    void newestRowBecomesCurrent();
    void messageRowHeight_data();
    void messageRowHeight();
    void headingTrimsOldestRows_data();
    void headingTrimsOldestRows();
    void cutSubtaskKeepsItsScore_data();
    void cutSubtaskKeepsItsScore();
    void messageRowsPutLatinFirst();
    void contestRows_data();
    void contestRows();
    void subtaskStrips();
    void threePartStretch();
};

// Each row as "number|column 0|column 1"; a missing item reads as nothing.
static QStringList rowsOf(const QTableWidget &table)
{
    QStringList rows;
    for (int r = 0; r < table.rowCount(); ++r) {
        QStringList cells{table.verticalHeaderItem(r)->text()};
        for (int c = 0; c < 2; ++c)
            cells << (table.item(r, c) ? table.item(r, c)->text() : QString());
        rows << cells.join(u'|');
    }
    return rows;
}

static QImage backgroundOf(const QTableWidgetItem *item)
{
    return item->background().texture().toImage();
}

void TestDetailView::runOfOneCell()
{
    QTableWidget table;
    DetailView view(&table);
    view.append(headerRow(u"p1"_s, u"sum"_s, u"p1"_s));
    for (int s = 0; s < 2; ++s) {
        for (int i = 1; i <= 3; ++i)
            view.append(pointRow(u"pt%1"_s.arg(3 * s + i), 'A', 3 * s + i));
        view.append(subtaskRow(10 * (s + 1), 20));
    }
    view.append(subtaskRow(5, 5));  // a subtask without points
    const QString end = u"- 测评结束 -\n2\n3\n4\n5\n6\n7\n8"_s;
    view.append(messageRow(end, 2));

    QCOMPARE(rowsOf(table), QStringList({u"|p1 - sum|"_s, u"1|10|pt1"_s, u"2||pt2"_s, u"3||pt3"_s,
                                         u"4|20|pt4"_s, u"5||pt5"_s, u"6||pt6"_s, u"|5|"_s,
                                         u"|"_s + end + u'|'}));
    for (int spanning : {0, 8})
        QCOMPARE(table.columnSpan(spanning, 0), 2);
    for (int start : {1, 4}) {
        QCOMPARE(table.rowSpan(start, 0), 3);
        QCOMPARE(backgroundOf(table.item(start, 0)).height(), 3 * 22);
    }
    QCOMPARE(table.rowSpan(7, 0), 1);
    // Seven line feeds: five lines shown, the whole text as tool tip.
    const int height = 5 * table.fontMetrics().lineSpacing() + 22;
    QCOMPARE(table.rowHeight(8), height);
    QCOMPARE(backgroundOf(table.item(8, 0)).height(), height);
    QCOMPARE(table.item(8, 0)->toolTip(), end);
    QCOMPARE(table.item(8, 0)->textAlignment(), int(Qt::AlignCenter));
}

void TestDetailView::newestRowBecomesCurrent()
{
    QTableWidget table;
    table.show();
    DetailView view(&table);
    view.append(titleRow(u"t"_s));
    view.append(pointRow(u"a"_s, 'A', 1));
    view.append(subtaskRow(1, 1));
    QTRY_COMPARE(table.currentRow(), 1);
    view.append(messageRow(u"m"_s, 0));
    table.selectRow(0);  // chosen by the window: it stays
    QTest::qWait(20);
    QCOMPARE(table.currentRow(), 0);
}

void TestDetailView::messageRowHeight_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("lines");
    QTest::newRow("no line feed") << u"编译错误"_s << 0;
    QTest::newRow("one") << u"a\nb"_s << 1;
    QTest::newRow("five") << u"1\n2\n3\n4\n5\n"_s << 5;
    QTest::newRow("seven, cut at five") << u"\n\n\n\n\n\n\n"_s << 5;
}

void TestDetailView::messageRowHeight()
{
    QFETCH(QString, text);
    QFETCH(int, lines);
    QCOMPARE(::messageRowHeight(text, 17), lines * 17 + 22);
}

void TestDetailView::headingTrimsOldestRows_data()
{
    QTest::addColumn<int>("before");
    QTest::addColumn<int>("dropped");
    QTest::newRow("at the cap") << 2000 << 0;
    QTest::newRow("one over") << 2001 << 1;
    QTest::newRow("many over") << 2500 << 500;
}

void TestDetailView::headingTrimsOldestRows()
{
    QFETCH(int, before);
    QFETCH(int, dropped);
    QTableWidget table;
    DetailView view(&table);
    // Groups of a message and four points in one subtask; only the heading trims.
    for (int i = 0; table.rowCount() < before; ++i) {
        view.append(i % 5 == 0 ? messageRow(u"m%1"_s.arg(i), 0) : pointRow(u"m%1"_s.arg(i), 'A', i));
        if (i % 5 == 4)
            view.append(subtaskRow(1, 1));
    }
    view.append(titleRow(u"last"_s));
    QCOMPARE(table.rowCount(), before - dropped + 1);
    QCOMPARE(table.item(0, dropped % 5 == 0 ? 0 : 1)->text(), u"m%1"_s.arg(dropped));
    QCOMPARE(table.item(table.rowCount() - 1, 0)->text(), u"last"_s);
    // Spans move up with their rows.
    QCOMPARE(table.rowSpan(5 * (dropped / 5 + 1) + 1 - dropped, 0), 4);
}

void TestDetailView::cutSubtaskKeepsItsScore_data()
{
    QTest::addColumn<int>("points");   // of the first subtask, after the heading in row 0
    QTest::addColumn<bool>("complete");  // false: the run stopped inside it
    QTest::addColumn<int>("kept");     // of its rows after the cap; -1: none of its rows cut

    QTest::newRow("cut inside, four rows kept") << 10 << true << 4;
    QTest::newRow("cut before its last row") << 10 << true << 1;
    QTest::newRow("cut just before it") << 10 << true << -1;
    QTest::newRow("stopped inside it") << 10 << false << 3;
}

// A first subtask after the heading in row 0, then a heading and a second
// subtask of points enough to bring the cap's cut where wanted.
void TestDetailView::cutSubtaskKeepsItsScore()
{
    QFETCH(int, points);
    QFETCH(bool, complete);
    QFETCH(int, kept);

    QTableWidget table;
    DetailView view(&table);
    view.append(headerRow(u"p1"_s, u"a"_s, u"p1"_s));
    QList<char> states;
    for (int i = 1; i <= points; ++i) {
        states.append(i % 2 ? 'A' : 'P');
        view.append(pointRow(u"a%1"_s.arg(i), states.last(), i));
    }
    if (complete)
        view.append(subtaskRow(7, 10));
    // Rows to drop so that `kept` rows of the first subtask stay.
    const int dropped = kept < 0 ? 1 : 1 + points - kept;
    view.append(headerRow(u"p1"_s, u"b"_s, u"p1"_s));
    const int second = DetailView::MaxRows + dropped - table.rowCount();
    for (int i = 1; i <= second; ++i)
        view.append(pointRow(u"b%1"_s.arg(i), 'A', i));
    view.append(subtaskRow(1, 1));
    QCOMPARE(table.rowCount(), DetailView::MaxRows + dropped);

    view.append(titleRow(u"last"_s));
    QCOMPARE(table.rowCount(), DetailView::MaxRows + 1);
    if (kept < 0) {
        QCOMPARE(table.item(0, 0)->text(), complete ? u"7"_s : QString());
        QCOMPARE(table.rowSpan(0, 0), points);
        return;
    }
    QCOMPARE(table.item(0, 1)->text(), u"a%1"_s.arg(points - kept + 1));
    QTableWidgetItem *cell = table.item(0, 0);
    QVERIFY(cell);
    QCOMPARE(cell->text(), complete ? u"7"_s : QString());
    QCOMPARE(table.rowSpan(0, 0), kept);
    QCOMPARE(table.item(kept, 0)->text(), u"p1 - b"_s);
    if (!complete)
        return;
    // Drawn for the rows it still has, with the strips of the points kept.
    const QImage picture = backgroundOf(cell);
    QCOMPARE(picture.height(), kept * 22);
    const QImage expected = subtaskPicture(subtaskRow(7, 10).background,
                                           [&] {
                                               QList<QColor> strips;
                                               for (char state : states.mid(points - kept))
                                                   strips.append(stateRowColour(state));
                                               return strips;
                                           }(),
                                           kept * 22)
                                .toImage();
    QCOMPARE(picture, expected);
}

void TestDetailView::messageRowsPutLatinFirst()
{
    QTableWidget table;
    QFont font;
    font.setFamilies({u"Noto Sans CJK SC"_s});
    table.setFont(font);
    DetailView view(&table);
    view.append(messageRow(u"编译错误:\na.c:1: error: ‘x’ undeclared"_s, 1));
    view.append(headerRow(u"p1"_s, u"a"_s, u"p1"_s));
    const QStringList message = table.item(0, 0)->font().families();
    QCOMPARE(message.first(), u"DejaVu Sans"_s);
    QVERIFY(message.contains(u"Noto Sans CJK SC"_s));
    // Headings keep the table's font.
    QVERIFY(!table.item(1, 0)->data(Qt::FontRole).isValid());
}

void TestDetailView::contestRows_data()
{
    QTest::addColumn<QByteArray>("result");  // of p1 on "a"; empty: no file, null: the summary
    QTest::addColumn<QStringList>("rows");

    const QString head = u"|张三 - a|"_s;
    QTest::newRow("missing file") << QByteArray("") << QStringList{head, u"|无测评结果|"_s};
    QTest::newRow("judge error note")
        << R"(<task score="0" state="E"><note>找不到比较器</note></task>)"_ba
        << QStringList{head, u"|找不到比较器|"_s};
    QTest::newRow("numbered across subtasks")
        << R"(<task score="30" state="W"><subtask score="10"><point state="A" note="ok"/></subtask>
              <subtask score="20"><point state="Wx" note="bad"/><point note="ok2"/></subtask></task>)"_ba
        << QStringList{head, u"1|10|ok"_s, u"2|20|bad"_s, u"3||ok2"_s};
    QStringList summary;
    for (const QString &problem : {u"a"_s, u"none"_s, u"b"_s}) {
        summary << u"|\"%1\"的配置结果|"_s.arg(problem);
        if (problem != u"none"_s)
            summary << u"1|40|输入:\"1.in\" 输出:\"1.out\""_s << u"2|60|输入:\"2 x.in\" 输出:\"2.ans\""_s
                    << u"3||输入:\"3.in\" 输出:\"3.out\""_s;
    }
    QTest::newRow("configuration summary") << QByteArray() << summary;
}

void TestDetailView::contestRows()
{
    QFETCH(QByteArray, result);
    QFETCH(QStringList, rows);
    QTemporaryDir dir;
    Contest contest;
    contest.rootDir = dir.path();
    contest.problemNames = {u"a"_s, u"none"_s, u"b"_s};
    for (const QString &problem : {u"a"_s, u"b"_s})
        QVERIFY(contest.problemConfigs[problem].document.setContent(
            R"(<problem><task><subtask score="40"><point in="1.in" out="1.out"/></subtask>
               <subtask score="60"><point in="2 x.in" out="2.ans"/><point in="3.in" out="3.out"/>
               </subtask></task></problem>)"_ba));
    if (!result.isEmpty()) {
        QVERIFY(QDir().mkpath(contest.resultProblemDir(u"a"_s)));
        QFile file(contest.resultFilePath(u"p1"_s, u"a"_s));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(result) == result.size());
    }
    QTableWidget table;
    DetailView view(&table);
    if (result.isNull())
        view.showConfigSummary(contest);
    else
        view.showStoredResult(contest, u"p1"_s, u"a"_s, u"张三"_s);
    QCOMPARE(rowsOf(table), rows);
    if (result.contains("<note>"))  // state "E": the judge error style
        QCOMPARE(table.item(1, 0)->foreground().color(), messageRow({}, 3).foreground);
    if (result.contains("<subtask")) {  // full scores of the configuration's subtasks
        QCOMPARE(backgroundOf(table.item(1, 0)),
                 subtaskPicture(scoreColour(10, 40), {stateRowColour('A')}, 22).toImage());
        QCOMPARE(backgroundOf(table.item(2, 0)),
                 subtaskPicture(scoreColour(20, 60), {stateRowColour('W'), stateRowColour(0)}, 44)
                     .toImage());
    }
}

void TestDetailView::subtaskStrips()
{
    const QColor background(250, 100, 0);
    const QList<QColor> colours{stateRowColour('W'), stateRowColour('T'), Qt::white};
    const QImage picture = subtaskPicture(background, colours, 66, QPixmap()).toImage();
    QCOMPARE(picture.size(), QSize(44, 66));
    const QColor fill = lightened(background);
    const auto near = [](int seen, int colour, int under) {
        return qAbs(seen - (colour * 127 + under * 128) / 255) <= 2;
    };
    for (int i = 0; i < 3; ++i) {
        for (int y : {22 * i, 22 * i + 21}) {
            QCOMPARE(picture.pixelColor(42, y), fill);
            // The point colour, not lightened, half covering the fill.
            const QColor strip = picture.pixelColor(43, y);
            for (auto channel : {&QColor::red, &QColor::green, &QColor::blue})
                QVERIFY(near((strip.*channel)(), (colours[i].*channel)(), (fill.*channel)()));
        }
    }
}

void TestDetailView::threePartStretch()
{
    // A frame drawn in column 0 only: top part red, row 11 green, the rows below blue.
    QImage frame(44, 22, QImage::Format_ARGB32);
    frame.fill(Qt::transparent);
    for (int y = 0; y < 22; ++y)
        frame.setPixelColor(0, y, y < 11 ? Qt::red : y == 11 ? Qt::green : Qt::blue);
    const QImage picture = subtaskPicture(Qt::black, {}, 66, QPixmap::fromImage(frame)).toImage();
    for (int y = 0; y < 66; ++y) {
        QCOMPARE(picture.pixelColor(0, y), y < 11 ? QColor(Qt::red) : y <= 55 ? QColor(Qt::green)
                                                                               : QColor(Qt::blue));
        QCOMPARE(picture.pixelColor(1, y), lightened(Qt::black));
    }
}

QTEST_MAIN(TestDetailView)
#include "tst_detailview.moc"
