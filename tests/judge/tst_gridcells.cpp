#include "gridcells.h"

#include <QTest>

#include <algorithm>
#include <memory>
#include <vector>

using namespace Qt::StringLiterals;

// The items are used without any application object: the judge and the
// command-line judge hold them too.
class TestGridCells : public QObject
{
    Q_OBJECT

private slots:
    void scoreOrder_data();
    void scoreOrder();
    void sortingAColumn();
    void nameOrder_data();
    void nameOrder();
    void cellText_data();
    void cellText();
    void cellToolTip_data();
    void cellToolTip();
    void cellColours_data();
    void cellColours();
    void lightenedCaps();
    void nameCell_data();
    void nameCell();
    void rowHeadTotals();
    void selectedCellHidesText();
    void itemKinds();
};

void TestGridCells::scoreOrder_data()
{
    QTest::addColumn<ScoreInfo>("a");
    QTest::addColumn<ScoreInfo>("b");
    QTest::addColumn<bool>("less");

    QTest::newRow("lower score") << ScoreInfo{10, 0.1, 'N'} << ScoreInfo{20, 9.0, 'N'} << true;
    QTest::newRow("higher score") << ScoreInfo{20, 9.0, 'N'} << ScoreInfo{10, 0.1, 'N'} << false;
    QTest::newRow("score beats state") << ScoreInfo{10, 1.0, 'E'} << ScoreInfo{11, 1.0, ' '}
                                       << true;
    QTest::newRow("equal score, longer time") << ScoreInfo{10, 2.0, 'N'}
                                              << ScoreInfo{10, 1.0, 'N'} << true;
    QTest::newRow("equal score, shorter time") << ScoreInfo{10, 1.0, 'N'}
                                               << ScoreInfo{10, 2.0, 'N'} << false;
    QTest::newRow("time beats state") << ScoreInfo{0, 1.0, 'E'} << ScoreInfo{0, 0.5, 'F'}
                                      << true;
    QTest::newRow("N below E") << ScoreInfo{0, 0, 'N'} << ScoreInfo{0, 0, 'E'} << true;
    QTest::newRow("R below N") << ScoreInfo{0, 0, 'R'} << ScoreInfo{0, 0, 'N'} << true;
    QTest::newRow("! below N") << ScoreInfo{0, 0, '!'} << ScoreInfo{0, 0, 'N'} << true;
    QTest::newRow("R below !") << ScoreInfo{0, 0, 'R'} << ScoreInfo{0, 0, '!'} << true;
    QTest::newRow("S below R") << ScoreInfo{0, 0, 'S'} << ScoreInfo{0, 0, 'R'} << true;
    QTest::newRow("T below S") << ScoreInfo{0, 0, 'T'} << ScoreInfo{0, 0, 'S'} << true;
    QTest::newRow("O below T") << ScoreInfo{0, 0, 'O'} << ScoreInfo{0, 0, 'T'} << true;
    QTest::newRow("L below O") << ScoreInfo{0, 0, 'L'} << ScoreInfo{0, 0, 'O'} << true;
    QTest::newRow("C below L") << ScoreInfo{0, 0, 'C'} << ScoreInfo{0, 0, 'L'} << true;
    QTest::newRow("F below C") << ScoreInfo{0, 0, 'F'} << ScoreInfo{0, 0, 'C'} << true;
    QTest::newRow("? below F") << ScoreInfo{0, 0, '?'} << ScoreInfo{0, 0, 'F'} << true;
    QTest::newRow("blank below ?") << ScoreInfo{0, 0, ' '} << ScoreInfo{0, 0, '?'} << true;
    QTest::newRow("E not below N") << ScoreInfo{0, 0, 'E'} << ScoreInfo{0, 0, 'N'} << false;
    QTest::newRow("equal") << ScoreInfo{5, 1.5, 'N'} << ScoreInfo{5, 1.5, 'N'} << false;
}

void TestGridCells::scoreOrder()
{
    QFETCH(ScoreInfo, a);
    QFETCH(ScoreInfo, b);
    QFETCH(bool, less);
    SiteItem x;
    SiteItem y;
    x.info = a;
    y.info = b;
    QCOMPARE(x < y, less);
    AllSiteItem hx;
    AllSiteItem hy;
    hx.info = a;
    hy.info = b;
    QCOMPARE(hx < hy, less);
}

// Sorted best first, as the grid sorts a problem column: higher score, then
// shorter time, then the higher state rank.
void TestGridCells::sortingAColumn()
{
    const std::vector<ScoreInfo> infos = {{50, 1.0, 'N'}, {100, 3.0, 'N'}, {0, 0.0, ' '},
                                          {100, 2.0, 'N'}, {0, 0.0, 'C'}, {0, 0.0, 'E'},
                                          {0, 0.0, 'R'}};
    std::vector<std::unique_ptr<SiteItem>> items;
    for (const ScoreInfo &info : infos) {
        items.push_back(std::make_unique<SiteItem>());
        items.back()->info = info;
    }
    std::vector<SiteItem *> order;
    for (auto &item : items)
        order.push_back(item.get());
    std::stable_sort(order.begin(), order.end(), [](SiteItem *a, SiteItem *b) { return *b < *a; });

    QString states;
    QList<int> scores;
    QList<double> times;
    for (SiteItem *item : order) {
        states += QLatin1Char(item->info.state);
        scores << item->info.score;
        times << item->info.time;
    }
    QCOMPARE(scores, (QList<int>{100, 100, 50, 0, 0, 0, 0}));
    QCOMPARE(times.mid(0, 2), (QList<double>{2.0, 3.0}));
    QCOMPARE(states.mid(3), u"ERC "_s);
}

void TestGridCells::nameOrder_data()
{
    QTest::addColumn<QString>("a");
    QTest::addColumn<QString>("b");
    QTest::addColumn<bool>("less");

    QTest::newRow("std first") << u"std"_s << u"aaa"_s << true;
    QTest::newRow("std never after") << u"aaa"_s << u"std"_s << false;
    QTest::newRow("std before a smaller name") << u"std"_s << u"0"_s << true;
    QTest::newRow("std equal to itself") << u"std"_s << u"std"_s << false;
    QTest::newRow("plain comparison") << u"b"_s << u"c"_s << true;
    QTest::newRow("plain comparison reversed") << u"c"_s << u"b"_s << false;
    QTest::newRow("case matters") << u"B"_s << u"a"_s << true;
}

void TestGridCells::nameOrder()
{
    QFETCH(QString, a);
    QFETCH(QString, b);
    QFETCH(bool, less);
    const SourceItem x(a, QString(), false);
    const SourceItem y(b, QString(), false);
    QCOMPARE(x < y, less);
}

void TestGridCells::cellText_data()
{
    QTest::addColumn<char>("state");
    QTest::addColumn<int>("score");
    QTest::addColumn<QString>("text");

    QTest::newRow("untested") << ' ' << 0 << QString();
    QTest::newRow("!") << '!' << 5 << u"!"_s;
    QTest::newRow("judging") << '?' << 0 << u"~"_s;
    QTest::newRow("compile error") << 'C' << 0 << u"-"_s;
    QTest::newRow("file missing") << 'F' << 0 << u"-"_s;
    QTest::newRow("normal") << 'N' << 85 << u"85"_s;
    QTest::newRow("judge error") << 'E' << 40 << u"40"_s;
    QTest::newRow("run error") << 'R' << 0 << u"0"_s;
}

void TestGridCells::cellText()
{
    QFETCH(char, state);
    QFETCH(int, score);
    QFETCH(QString, text);
    const ScoreInfo info{score, 1.0, state};
    QCOMPARE(::cellText(info, false), text);
    QCOMPARE(::cellText(info, true), QString());

    SiteItem item;
    item.setInfo(info);
    QCOMPARE(item.text(), text);
}

void TestGridCells::cellToolTip_data()
{
    QTest::addColumn<char>("state");
    QTest::addColumn<double>("time");
    QTest::addColumn<QString>("tip");

    QTest::newRow("untested") << ' ' << 0.0 << u"未测评"_s;
    QTest::newRow("C") << 'C' << 0.0 << u"编译错误"_s;
    QTest::newRow("E") << 'E' << 0.0 << u"测评器或校验器出错"_s;
    QTest::newRow("F") << 'F' << 0.0 << u"找不到文件"_s;
    QTest::newRow("L") << 'L' << 0.0 << u"目录或文件名错误"_s;
    QTest::newRow("N") << 'N' << 1.234 << u"用时: 1.23s"_s;
    QTest::newRow("N rounds") << 'N' << 0.005 << u"用时: 0.01s"_s;
    QTest::newRow("O") << 'O' << 0.0 << u"无输出"_s;
    QTest::newRow("R") << 'R' << 0.0 << u"超过内存限制或运行时错误"_s;
    QTest::newRow("S") << 'S' << 0.0 << u"超过代码限制"_s;
    QTest::newRow("T") << 'T' << 0.0 << u"编译超时"_s;
    QTest::newRow("?") << '?' << 0.0 << QString();
    QTest::newRow("!") << '!' << 0.0 << QString();
    QTest::newRow("NUL") << '\0' << 0.0 << QString();
}

void TestGridCells::cellToolTip()
{
    QFETCH(char, state);
    QFETCH(double, time);
    QFETCH(QString, tip);
    const ScoreInfo info{0, time, state};
    QCOMPARE(::cellToolTip(info), tip);
    SiteItem item;
    item.setInfo(info);
    QCOMPARE(item.toolTip(), tip);
}

void TestGridCells::cellColours_data()
{
    QTest::addColumn<ScoreInfo>("info");
    QTest::addColumn<int>("fullScore");
    QTest::addColumn<QColor>("textColour");
    QTest::addColumn<QColor>("background");
    QTest::addColumn<QColor>("shownText");  // what the cell shows, readable on its background

    const QColor white(255, 255, 255);
    const QColor dark(51, 51, 51);
    const QColor black(0, 0, 0);
    const QColor red(255, 0, 0);
    const QColor lightGrey(215, 215, 215);
    const QColor green(0, 192, 48);
    const QColor blue(72, 153, 217);

    QTest::newRow("untested") << ScoreInfo{0, 0, ' '} << 100 << white << white << dark;
    QTest::newRow("judging") << ScoreInfo{0, 0, '?'} << 100 << white << QColor(237, 215, 0) << dark;
    QTest::newRow("normal full") << ScoreInfo{100, 1, 'N'} << 100 << white << green << white;
    QTest::newRow("normal nothing") << ScoreInfo{0, 1, 'N'} << 100 << white << lightGrey << dark;
    QTest::newRow("normal little") << ScoreInfo{10, 1, 'N'} << 100 << white
                                   << QColor(196, 207, 215) << dark;
    QTest::newRow("normal most") << ScoreInfo{80, 1, 'N'} << 100 << white << QColor(98, 164, 216)
                                 << white;
    QTest::newRow("error full") << ScoreInfo{100, 1, 'E'} << 100 << QColor(188, 0, 188) << green
                                << QColor(188, 0, 188);
    QTest::newRow("above full") << ScoreInfo{120, 1, 'N'} << 100 << white << blue << white;
    QTest::newRow("no configuration, some") << ScoreInfo{5, 1, 'N'} << 0 << white << blue << white;
    QTest::newRow("no configuration, nothing") << ScoreInfo{0, 1, 'N'} << 0 << white << green
                                               << white;
    QTest::newRow("negative score") << ScoreInfo{-3, 1, 'N'} << 100 << white << lightGrey << dark;
    QTest::newRow("compile error") << ScoreInfo{0, 0, 'C'} << 100 << black << lightGrey << black;
    QTest::newRow("run error") << ScoreInfo{0, 0, 'R'} << 100 << red << lightGrey << red;
    QTest::newRow("!") << ScoreInfo{0, 0, '!'} << 100 << red << lightGrey << red;
    QTest::newRow("no output") << ScoreInfo{0, 0, 'O'} << 100 << black << lightGrey << black;
}

void TestGridCells::cellColours()
{
    QFETCH(ScoreInfo, info);
    QFETCH(int, fullScore);
    QFETCH(QColor, textColour);
    QFETCH(QColor, background);
    QFETCH(QColor, shownText);
    QCOMPARE(::cellTextColour(info.state), textColour);
    QCOMPARE(::cellBaseBackground(info, fullScore), background);

    SiteItem item;
    item.full.fullScore = fullScore;
    item.setInfo(info);
    QCOMPARE(item.foreground().color(), shownText);
    QCOMPARE(item.background().color(), lightened(background));
}

void TestGridCells::lightenedCaps()
{
    QCOMPARE(lightened(QColor(0, 192, 48)), QColor(9, 201, 57));
    QCOMPARE(lightened(QColor(250, 246, 255)), QColor(255, 255, 255));
    // A partial score lies between nothing and full on every channel.
    const QColor half = cellBaseBackground(ScoreInfo{50, 0, 'N'}, 100);
    QVERIFY(half.red() < 215 && half.red() > 72);
    QVERIFY(half.green() < 215 && half.green() > 153);
    QVERIFY(half.blue() > 215 && half.blue() < 217 + 1);
}

void TestGridCells::nameCell_data()
{
    QTest::addColumn<QString>("player");
    QTest::addColumn<QString>("listed");
    QTest::addColumn<bool>("listLoaded");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QColor>("colour");
    QTest::addColumn<bool>("leftAligned");

    const QString sp(QChar(0x3000));
    const QColor normal(51, 51, 51);
    QTest::newRow("std") << u"std"_s << QString() << false << sp + u"标准程序"_s + sp
                         << QColor(0x00, 0x79, 0xe0) << false;
    QTest::newRow("std, list loaded") << u"std"_s << QString() << true
                                      << sp + u"标准程序"_s + sp << QColor(0x00, 0x79, 0xe0)
                                      << false;
    QTest::newRow("std with listed name") << u"std"_s << u"标程组"_s << true
                                          << sp + u"std [标程组]"_s + sp << normal << true;
    QTest::newRow("no list") << u"p1"_s << QString() << false << sp + u"p1"_s + sp << normal
                             << false;
    QTest::newRow("missing from list") << u"p1"_s << QString() << true << sp + u"p1"_s + sp
                                       << QColor(255, 0, 0) << false;
    QTest::newRow("two characters") << u"p1"_s << u"张三"_s << true
                                    << sp + u"p1 [张"_s + sp + u"三]"_s + sp << normal << true;
    QTest::newRow("three characters") << u"p1"_s << u"欧阳娜"_s << true
                                      << sp + u"p1 [欧阳娜]"_s + sp << normal << true;
    QTest::newRow("one character") << u"p1"_s << u"李"_s << true << sp + u"p1 [李]"_s << normal
                                   << true;
    QTest::newRow("four characters") << u"p1"_s << u"司马相如"_s << true
                                     << sp + u"p1 [司马相如]"_s << normal << true;
}

void TestGridCells::nameCell()
{
    QFETCH(QString, player);
    QFETCH(QString, listed);
    QFETCH(bool, listLoaded);
    QFETCH(QString, text);
    QFETCH(QColor, colour);
    QFETCH(bool, leftAligned);
    const SourceItem item(player, listed, listLoaded);
    QCOMPARE(item.text(), text);
    QCOMPARE(item.displayText(), text);
    QCOMPARE(item.toolTip(), player);
    QCOMPARE(item.foreground().color(), colour);
    QCOMPARE(item.textColour(), colour);
    const int expected = leftAligned ? int(Qt::AlignLeft | Qt::AlignVCenter) : int(Qt::AlignCenter);
    QCOMPARE(item.textAlignment(), expected);
}

void TestGridCells::rowHeadTotals()
{
    AllSiteItem head;
    SiteItem a;
    SiteItem b;
    for (SiteItem *cell : {&a, &b}) {
        cell->rowHead = &head;
        head.cells.append(cell);
    }
    a.full = ProblemTotals{100, 2.0};
    b.full = ProblemTotals{50, 3.5};
    a.setInfo(ScoreInfo{70, 1.25, 'N'});
    b.setInfo(ScoreInfo{20, 0.5, 'E'});

    QCOMPARE(head.info.score, 90);
    QCOMPARE(head.info.time, 1.75);
    QCOMPARE(head.info.state, ' ');
    QCOMPARE(head.full.fullScore, 150);
    QCOMPARE(head.full.totalTime, 5.5);
    QCOMPARE(head.text(), u"90"_s);
    QCOMPARE(head.toolTip(), u"总用时: 1.75s"_s);
    QCOMPARE(head.foreground().color(), QColor(60, 60, 60));

    a.setInfo(ScoreInfo());  // a reset cell leaves the total
    QCOMPARE(head.info.score, 20);
    QCOMPARE(head.text(), u"20"_s);
}

void TestGridCells::selectedCellHidesText()
{
    SiteItem item;
    item.setInfo(ScoreInfo{42, 1.0, 'N'});
    QCOMPARE(item.text(), u"42"_s);
    item.setSelectedFlag(true);
    QVERIFY(item.selected);
    QCOMPARE(item.text(), QString());
    item.setInfo(ScoreInfo{43, 1.0, 'N'});
    QCOMPARE(item.text(), QString());
    item.setSelectedFlag(false);
    QCOMPARE(item.text(), u"43"_s);
}

void TestGridCells::itemKinds()
{
    const SiteItem cell;
    const AllSiteItem head;
    const SourceItem name(u"p"_s, QString(), false);
    QCOMPARE(cell.itemKind, int(BasicItem::ProblemCell));
    QCOMPARE(head.itemKind, int(BasicItem::RowHead));
    QCOMPARE(name.itemKind, int(BasicItem::NameCell));
    QCOMPARE(cell.itemKind, 2);
    QCOMPARE(head.itemKind, 1);
    QCOMPARE(name.itemKind, 0);
    for (const QTableWidgetItem *item : {static_cast<const QTableWidgetItem *>(&cell),
                                         static_cast<const QTableWidgetItem *>(&head)})
        QCOMPARE(item->textAlignment(), int(Qt::AlignCenter));
    QCOMPARE(cell.info, ScoreInfo());
    SiteItem keyed;
    keyed.player = u"p1"_s;
    keyed.problem = u"sum"_s;
    QCOMPARE(keyed.cellKey(), u"p1/sum"_s);
}

QTEST_GUILESS_MAIN(TestGridCells)
#include "tst_gridcells.moc"
