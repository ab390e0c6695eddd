#include "gridview.h"
#include "testfiles.h"

#include <QHeaderView>
#include <QPainter>
#include <QProgressBar>
#include <QTableWidget>

#include <memory>

using namespace Qt::StringLiterals;

namespace {

// Two problems of 100 points; p1's sources live in "p1", tried as .pas, .cpp, .c.
const QByteArray Config = R"(<?xml version="1.0" encoding="UTF-8"?>
<problem type="TRA_0_4"><source dir="%1" file="%1"><language file="%1.pas"/>
<language file="%1.cpp"/><language file="%1.c"/></source>
<task><subtask score="100"><point time="1"/></subtask></task></problem>
)";

QStringList namesTopDown(const GridView &view)
{
    QStringList names;
    for (const AllSiteItem *head : view.rows())
        names.append(head->nameItem->playerName);
    return names;
}

} // namespace

class TestGridView : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cellPicture_data();
    void cellPicture();
    void sortOrders_data();
    void sortOrders();
    void selectionAreas_data();
    void selectionAreas();
    void resultHidesSortIndicator_data();
    void resultHidesSortIndicator();
    void interruptedFill_data();
    void interruptedFill();
    void cellMenuTarget_data();
    void cellMenuTarget();

private:
    // Players: those named by the result list ("player/problem/score/time/state/" lines) and more.
    bool makeContest(const QByteArray &resultList, QStringList players = {});

    std::unique_ptr<QTemporaryDir> m_dir;
    Contest m_contest;
    std::unique_ptr<QTableWidget> m_table;
    std::unique_ptr<QProgressBar> m_progress;
    std::unique_ptr<GridView> m_view;
};

void TestGridView::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_contest = Contest();
    m_contest.rootDir = m_dir->path();
    m_table = std::make_unique<QTableWidget>();
    m_progress = std::make_unique<QProgressBar>();
    m_view = std::make_unique<GridView>(m_table.get(), m_progress.get(), nullptr, m_contest);
}

bool TestGridView::makeContest(const QByteArray &resultList, QStringList players)
{
    for (const QByteArray &line : resultList.split('\n'))
        players.append(QString::fromUtf8(line.split('/').first()));
    players.removeAll(QString());
    players.removeDuplicates();
    bool written = writeTestFile(m_contest.resultListPath(), resultList);
    for (const char *problem : {"p1", "p2"})
        written &= writeTestFile(m_contest.problemConfigPath(QLatin1String(problem)),
                                 QByteArray(Config).replace("%1", problem));
    for (const QString &player : std::as_const(players))
        written &= QDir().mkpath(m_contest.playerDir(player));
    m_contest.loadProblems();
    return written && m_view->refresh([] { return true; }) && m_table->rowCount() == players.size();
}

void TestGridView::cellPicture_data()
{
    QTest::addColumn<QColor>("base");
    QTest::addColumn<QColor>("neighbour");
    QTest::addColumn<bool>("shadow");
    QTest::newRow("grey, no neighbour") << QColor(215, 215, 215) << QColor() << false;
    QTest::newRow("green, white neighbour") << QColor(0, 192, 48) << QColor(255, 255, 255) << false;
    QTest::newRow("white, blue neighbour") << QColor(255, 255, 255) << QColor(72, 153, 217) << false;
    QTest::newRow("shadow, yellow neighbour") << QColor(250, 100, 3) << QColor(237, 215, 0) << true;
}

void TestGridView::cellPicture()
{
    QFETCH(QColor, base);
    QFETCH(QColor, neighbour);
    QFETCH(bool, shadow);
    const auto light = [](const QColor &c) {
        return QColor(qMin(c.red() + 9, 255), qMin(c.green() + 9, 255), qMin(c.blue() + 9, 255));
    };
    // The underlying colours worked out here; the overlays, whatever they show, on top.
    QImage expected(88, 28, QImage::Format_ARGB32_Premultiplied);
    expected.fill(light(base));
    if (neighbour.isValid()) {
        const QColor b = light(base), n = light(neighbour);
        const auto mix = [](int over, int under) { return (over * 127 + under * 128) / 255; };
        const QColor strip(mix(n.red(), b.red()), mix(n.green(), b.green()), mix(n.blue(), b.blue()));
        for (int y = 0; y < 28; ++y)
            expected.setPixelColor(87, y, strip);
    }
    {
        QPainter painter(&expected);
        painter.drawPixmap(0, 0, QPixmap(u":/icon/fore.png"_s));
        if (shadow)
            painter.drawPixmap(0, 0, QPixmap(u":/icon/shadow.png"_s));
    }
    const QImage picture = ::cellPicture(base, neighbour, shadow).toImage();
    QCOMPARE(picture.size(), expected.size());
    for (int i = 0; i < 88 * 28; ++i) {
        const int x = i % 88, y = i / 88;
        const QRgb got = picture.pixel(x, y), want = expected.pixel(x, y);
        // Blending may round either way.
        const int off = qMax(qMax(qAbs(qRed(got) - qRed(want)), qAbs(qGreen(got) - qGreen(want))),
                             qAbs(qBlue(got) - qBlue(want)));
        if (off > 1)
            QFAIL(qPrintable(u"pixel %1,%2: %3 instead of %4"_s.arg(x).arg(y).arg(got, 0, 16).arg(want, 0, 16)));
    }
}

void TestGridView::sortOrders_data()
{
    QTest::addColumn<QByteArray>("results");
    QTest::addColumn<int>("column");
    QTest::addColumn<QStringList>("order");
    QTest::newRow("equal totals: smaller time first")
        << QByteArray("a/p1/50/2/N/\nb/p1/50/1/N/\nc/p1/70/5/N/\n") << 1
        << QStringList{u"c"_s, u"b"_s, u"a"_s};
    QTest::newRow("problem: E before N before R")
        << QByteArray("a/p2/30/1/R/\nb/p2/30/1/E/\nc/p2/30/1/N/\nd/p2/0/0/C/\n") << 3
        << QStringList{u"b"_s, u"c"_s, u"a"_s, u"d"_s};
    QTest::newRow("name: std first, then ascending")
        << QByteArray("b/p1/100/1/N/\nstd/p1/0/0/C/\nC/p1/5/1/N/\na/p1/7/1/N/\n") << 0
        << QStringList{u"std"_s, u"C"_s, u"a"_s, u"b"_s};
}

void TestGridView::sortOrders()
{
    QFETCH(QByteArray, results);
    QFETCH(int, column);
    QFETCH(QStringList, order);
    QVERIFY(makeContest(results));
    m_view->sort(column);
    QCOMPARE(namesTopDown(*m_view), order);
    QHeaderView *header = m_table->horizontalHeader();
    QVERIFY(header->isSortIndicatorShown());
    QCOMPARE(header->sortIndicatorSection(), column);
    QCOMPARE(header->sortIndicatorOrder(), column == 0 ? Qt::AscendingOrder : Qt::DescendingOrder);
}

void TestGridView::selectionAreas_data()
{
    QTest::addColumn<int>("headerSection");  // -1: none
    QTest::addColumn<int>("rowToggles");
    QTest::addColumn<QList<bool>>("selected");  // rows top down, problems left to right
    QTest::newRow("judge errors start selected") << -1 << 0 << QList<bool>{true, false, false, false};
    QTest::newRow("总分 header: every problem cell") << 1 << 0 << QList<bool>{true, true, true, true};
    QTest::newRow("problem header: its column") << 3 << 0 << QList<bool>{true, true, false, true};
    QTest::newRow("row number once: the row") << -1 << 1 << QList<bool>{true, true, false, false};
    QTest::newRow("row number twice: row cleared") << -1 << 2 << QList<bool>{false, false, false, false};
}

void TestGridView::selectionAreas()
{
    QFETCH(int, headerSection);
    QFETCH(int, rowToggles);
    QFETCH(QList<bool>, selected);
    QVERIFY(makeContest("a/p1/40/1/E/\nb/p1/10/1/N/\n"));
    if (headerSection >= 0) {
        const GridView::MenuTarget target = m_view->headerMenuTarget(headerSection);
        QVERIFY(target.valid);
        m_view->setArea(target.row, target.column, true);
    }
    for (int i = 0; i < rowToggles; ++i)
        m_view->toggleRow(0);
    QList<bool> found;
    for (const AllSiteItem *head : m_view->rows())
        for (const SiteItem *cell : head->cells)
            found.append(cell->selected);
    QCOMPARE(found, selected);
}

void TestGridView::resultHidesSortIndicator_data()
{
    QTest::addColumn<int>("sortColumn");
    QTest::addColumn<bool>("shown");
    QTest::newRow("by name") << 0 << true;
    QTest::newRow("by total") << 1 << false;
    QTest::newRow("by problem") << 2 << false;
}

void TestGridView::resultHidesSortIndicator()
{
    QFETCH(int, sortColumn);
    QFETCH(bool, shown);
    QVERIFY(makeContest("a/p1/40/1/N/\nb/p1/60/1/N/\n"));
    m_view->sort(sortColumn);
    const QStringList before = namesTopDown(*m_view);
    SiteItem *cell = m_view->rows().last()->cells[1];
    SiteItem *left = cell->leftCell;
    m_view->setCell(cell, ScoreInfo{100, 0.5, 'N'});
    QCOMPARE(m_table->horizontalHeader()->isSortIndicatorShown(), shown);
    QCOMPARE(namesTopDown(*m_view), before);
    QCOMPARE(cell->rowHead->text(), QString::number(left->info.score + 100));
    // The left neighbour shows the new colour in its strip.
    QCOMPARE(left->background().texture().toImage(),
             ::cellPicture(left->baseBackground(), cell->baseBackground(), true).toImage());
}

void TestGridView::interruptedFill_data()
{
    QTest::addColumn<QString>("meanwhile");
    QTest::addColumn<int>("rowsAfter");
    QTest::newRow("organiser left") << u"leave"_s << 5;
    QTest::newRow("grid cleared") << u"clear"_s << 0;
    QTest::newRow("grid refilled") << u"refill"_s << 200;
}

void TestGridView::interruptedFill()
{
    QFETCH(QString, meanwhile);
    QFETCH(int, rowsAfter);
    QStringList players;
    for (int i = 0; i < 200; ++i)
        players.append(u"player%1"_s.arg(i, 3, 10, QLatin1Char('0')));
    QVERIFY(makeContest("", players));
    int calls = 0;
    const bool finished = m_view->refresh([&] {
        if (++calls < 5)
            return true;
        if (meanwhile == u"clear"_s)
            m_view->clear();
        else if (meanwhile == u"refill"_s && calls == 5)
            m_view->refresh([] { return true; });
        return meanwhile != u"leave"_s;
    });
    QVERIFY(!finished);
    QCOMPARE(m_table->rowCount(), rowsAfter);
    QCOMPARE(m_view->rows().size(), rowsAfter);
    QVERIFY(m_progress->isHidden());
    QVERIFY(m_view->refresh([] { return true; }));
    QCOMPARE(namesTopDown(*m_view).size(), players.size());
}

void TestGridView::cellMenuTarget_data()
{
    QTest::addColumn<int>("column");
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QString>("sourceFile");
    QTest::addColumn<QString>("editText");
    QTest::addColumn<bool>("showEdit");
    QTest::newRow("problem cell, first language found") << 2 << QStringList{u"p1/p1.c"_s, u"p1/p1.cpp"_s}
                                                         << u"p1/p1.cpp"_s << u"编辑 \"p1.cpp\" (&E)..."_s << true;
    QTest::newRow("problem cell without source")
        << 3 << QStringList{u"p1/p1.cpp"_s} << QString() << u"编辑源代码(&E)..."_s << true;
    QTest::newRow("name cell") << 0 << QStringList{u"p1/p1.cpp"_s} << QString() << u"编辑源代码(&E)..."_s
                               << false;
    QTest::newRow("row head") << 1 << QStringList() << QString() << u"编辑源代码(&E)..."_s << false;
}

void TestGridView::cellMenuTarget()
{
    QFETCH(int, column);
    QFETCH(QStringList, files);
    QFETCH(QString, sourceFile);
    QFETCH(QString, editText);
    QFETCH(bool, showEdit);
    for (const QString &file : files)
        QVERIFY(writeTestFile(m_contest.playerDir(u"a"_s) + u'/' + file, "int main() {}\n"));
    QVERIFY(makeContest("", {u"a"_s}));
    const GridView::MenuTarget target = m_view->cellMenuTarget(m_table->item(0, column));
    QVERIFY(target.valid);
    QCOMPARE(target.column, column < 2 ? -1 : column);
    QCOMPARE(target.showEdit, showEdit);
    QCOMPARE(target.editText, editText);
    const QString player = m_contest.playerDir(u"a"_s);
    QCOMPARE(target.sourceFile, sourceFile.isEmpty() ? QString() : player + u'/' + sourceFile);
    QCOMPARE(target.canEdit, !sourceFile.isEmpty());
    if (column < 2)
        QCOMPARE(target.path, player);
    else
        QCOMPARE(target.path, player + u'/' + m_contest.problemNames[column - 2]);
    QVERIFY(!m_view->cellMenuTarget(nullptr).valid);
}

QTEST_MAIN(TestGridView)
#include "tst_gridview.moc"
