#include "clitestutil.h"
#include "contest.h"
#include "contestgrid.h"

#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

const QByteArray ConfigA = R"(<?xml version="1.0" encoding="UTF-8"?>
<problem type="TRA_0_4"><task>
  <subtask score="60"><point time="1"/></subtask>
  <subtask score="40"><point time="0.5"/><point time="0.5"/></subtask>
</task></problem>
)";
const QByteArray ConfigB = R"(<?xml version="1.0" encoding="UTF-8"?>
<problem type="ANS_0_4"><task><subtask score="50"><point time="1"/></subtask></task></problem>
)";

QByteArray resultFile(int score, const char *time, char state)
{
    return QByteArray("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<task score=\"")
           + QByteArray::number(score) + "\" time=\"" + time + "\" state=\"" + state + "\"/>\n";
}

// Rows owned for the length of one test.
struct OwnedRows
{
    ~OwnedRows() { deleteGridRows(rows); }
    QList<AllSiteItem *> rows;
};

}  // namespace

class TestContestGrid : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void rowsFollowThePlayers();
    void rowLinks();
    void cellSummaries_data();
    void cellSummaries();
    void rowTotals();
    void defaultSortOfTheContest();
    void defaultSort_data();
    void defaultSort();
    void storedResultIgnoresTheResultList_data();
    void storedResultIgnoresTheResultList();
    void cellResultsInGridOrder();

private:
    Contest loaded() const;

    std::unique_ptr<QTemporaryDir> m_dir;
};

// Players a, B, c and std; problems a (100 points) and b (50 points); a
// player list naming a and std's absence; a result list for some cells and
// result files for others.
void TestContestGrid::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    const QString root = m_dir->path();
    QVERIFY(writeTestFile(root + QStringLiteral("/data/a/.prb"), ConfigA));
    QVERIFY(writeTestFile(root + QStringLiteral("/data/b/.prb"), ConfigB));
    QVERIFY(QDir().mkpath(root + QStringLiteral("/data/notaproblem")));
    for (const char *player : {"c", "B", "std", "a"})
        QVERIFY(QDir().mkpath(root + QStringLiteral("/src/") + QLatin1String(player)));
    QStringEncoder gb("GB18030");
    QVERIFY(writeTestFile(root + QStringLiteral("/.list"),
                          gb.encode(QStringLiteral("a,张三\nx9,李四\n"))));
    QVERIFY(writeTestFile(root + QStringLiteral("/result/.reslist"),
                          "a/a/60/1.5/N/\na/b/0/0/C/\nc/a/100/2/N/\nc/b/20/0/N/\n"));
    QVERIFY(writeTestFile(root + QStringLiteral("/result/a/B.res"), resultFile(30, "0.25", 'E')));
    QVERIFY(writeTestFile(root + QStringLiteral("/result/b/c.res"), resultFile(50, "0", 'N')));
}

Contest TestContestGrid::loaded() const
{
    Contest contest;
    contest.rootDir = m_dir->path();
    contest.loadProblems();
    contest.loadRealNames();
    contest.loadPlayers();
    contest.loadResultList();
    return contest;
}

void TestContestGrid::rowsFollowThePlayers()
{
    const Contest contest = loaded();
    OwnedRows grid{buildGridRows(contest)};
    QCOMPARE(grid.rows.size(), contest.playerNames.size());
    for (int i = 0; i < grid.rows.size(); ++i) {
        const AllSiteItem *head = grid.rows[i];
        const QString player = contest.playerNames[i];
        QVERIFY(head->nameItem);
        QCOMPARE(head->nameItem->playerName, player);
        QCOMPARE(head->nameItem->listedName, contest.realNames.value(player));
        QVERIFY(head->nameItem->listLoaded);
        QCOMPARE(head->cells.size(), contest.problemNames.size());
        for (int j = 0; j < head->cells.size(); ++j) {
            QCOMPARE(head->cells[j]->player, player);
            QCOMPARE(head->cells[j]->problem, contest.problemNames[j]);
            QCOMPARE(head->cells[j]->displayName, contest.displayName(player));
        }
    }
    QCOMPARE(grid.rows[0]->cells[0]->displayName, QStringLiteral("a [张三]"));
}

void TestContestGrid::rowLinks()
{
    OwnedRows grid{buildGridRows(loaded())};
    for (const AllSiteItem *head : grid.rows) {
        QCOMPARE(head->nameItem->rowHead, head);
        for (int j = 0; j < head->cells.size(); ++j) {
            const SiteItem *cell = head->cells[j];
            QCOMPARE(cell->rowHead, head);
            QCOMPARE(cell->edgeShadow, j == 0);
            QCOMPARE(cell->leftCell, j > 0 ? head->cells[j - 1] : nullptr);
            QCOMPARE(cell->rightCell, j + 1 < head->cells.size() ? head->cells[j + 1] : nullptr);
        }
    }
}

void TestContestGrid::cellSummaries_data()
{
    QTest::addColumn<QString>("player");
    QTest::addColumn<QString>("problem");
    QTest::addColumn<int>("score");
    QTest::addColumn<double>("time");
    QTest::addColumn<char>("state");
    QTest::addColumn<int>("fullScore");
    QTest::addColumn<bool>("selected");

    QTest::newRow("from the result list")
        << QStringLiteral("a") << QStringLiteral("a") << 60 << 1.5 << 'N' << 100 << false;
    QTest::newRow("compile error from the list")
        << QStringLiteral("a") << QStringLiteral("b") << 0 << 0.0 << 'C' << 50 << false;
    QTest::newRow("judge error from its file starts selected")
        << QStringLiteral("B") << QStringLiteral("a") << 30 << 0.25 << 'E' << 100 << true;
    QTest::newRow("no file and no line: untested")
        << QStringLiteral("B") << QStringLiteral("b") << 0 << 0.0 << ' ' << 50 << false;
    QTest::newRow("the list wins over the file")
        << QStringLiteral("c") << QStringLiteral("b") << 20 << 0.0 << 'N' << 50 << false;
    QTest::newRow("standard program untested")
        << QStringLiteral("std") << QStringLiteral("a") << 0 << 0.0 << ' ' << 100 << false;
}

void TestContestGrid::cellSummaries()
{
    QFETCH(QString, player);
    QFETCH(QString, problem);
    QFETCH(int, score);
    QFETCH(double, time);
    QFETCH(char, state);
    QFETCH(int, fullScore);
    QFETCH(bool, selected);

    const Contest contest = loaded();
    OwnedRows grid{buildGridRows(contest)};
    const AllSiteItem *head = grid.rows[contest.playerNames.indexOf(player)];
    const SiteItem *cell = head->cells[contest.problemNames.indexOf(problem)];
    QCOMPARE(cell->info, (ScoreInfo{score, time, state}));
    QCOMPARE(cell->full.fullScore, fullScore);
    QCOMPARE(cell->selected, selected);
    QCOMPARE(cell->text(), cellText(cell->info, cell->selected));
}

void TestContestGrid::rowTotals()
{
    OwnedRows grid{buildGridRows(loaded())};
    for (const AllSiteItem *head : grid.rows) {
        int score = 0;
        double time = 0;
        int full = 0;
        double fullTime = 0;
        for (const SiteItem *cell : head->cells) {
            score += cell->info.score;
            time += cell->info.time;
            full += cell->full.fullScore;
            fullTime += cell->full.totalTime;
        }
        QCOMPARE(head->info.score, score);
        QCOMPARE(head->info.time, time);
        QCOMPARE(head->info.state, TaskState::NotJudged);
        QCOMPARE(head->full.fullScore, full);
        QCOMPARE(head->full.totalTime, fullTime);
    }
    QCOMPARE(grid.rows[0]->full.fullScore, 150);
    QCOMPARE(grid.rows[0]->full.totalTime, 3.0);
}

void TestContestGrid::defaultSortOfTheContest()
{
    OwnedRows grid{buildGridRows(loaded())};
    sortRowsByTotal(grid.rows);
    QStringList order;
    for (const AllSiteItem *head : grid.rows)
        order << head->nameItem->playerName;
    // Totals: c 120, a 60, B 30, std 0.
    QCOMPARE(order, (QStringList{QStringLiteral("c"), QStringLiteral("a"), QStringLiteral("B"),
                                 QStringLiteral("std")}));
}

void TestContestGrid::defaultSort_data()
{
    QTest::addColumn<QList<int>>("scores");
    QTest::addColumn<QList<double>>("times");
    QTest::addColumn<QList<int>>("expected");  // original indexes, best first

    QTest::newRow("higher total first")
        << QList<int>{10, 20} << QList<double>{1, 1} << QList<int>{1, 0};
    QTest::newRow("shorter time first among equal totals")
        << QList<int>{10, 10} << QList<double>{2, 1} << QList<int>{1, 0};
    QTest::newRow("equal rows keep their order")
        << QList<int>{10, 10, 10} << QList<double>{1, 1, 1} << QList<int>{0, 1, 2};
    QTest::newRow("mixed") << QList<int>{5, 10, 10, 0, 10} << QList<double>{1, 3, 1, 0, 1}
                           << QList<int>{2, 4, 1, 0, 3};
}

void TestContestGrid::defaultSort()
{
    QFETCH(QList<int>, scores);
    QFETCH(QList<double>, times);
    QFETCH(QList<int>, expected);

    OwnedRows grid;
    for (int i = 0; i < scores.size(); ++i) {
        auto *head = new AllSiteItem;
        head->nameItem = new SourceItem(QString::number(i), QString(), false);
        head->info = ScoreInfo{scores[i], times[i], TaskState::NotJudged};
        grid.rows.append(head);
    }
    sortRowsByTotal(grid.rows);
    QList<int> order;
    for (const AllSiteItem *head : grid.rows)
        order << head->nameItem->playerName.toInt();
    QCOMPARE(order, expected);
}

void TestContestGrid::storedResultIgnoresTheResultList_data()
{
    QTest::addColumn<QString>("player");
    QTest::addColumn<QString>("problem");
    QTest::addColumn<ScoreInfo>("expected");

    QTest::newRow("file differs from the list")
        << QStringLiteral("c") << QStringLiteral("b") << ScoreInfo{50, 0, 'N'};
    QTest::newRow("only in the list") << QStringLiteral("a") << QStringLiteral("a") << ScoreInfo{};
    QTest::newRow("file only") << QStringLiteral("B") << QStringLiteral("a")
                               << ScoreInfo{30, 0.25, 'E'};
    QTest::newRow("nothing") << QStringLiteral("std") << QStringLiteral("b") << ScoreInfo{};
}

void TestContestGrid::storedResultIgnoresTheResultList()
{
    QFETCH(QString, player);
    QFETCH(QString, problem);
    QFETCH(ScoreInfo, expected);
    QCOMPARE(storedCellResult(loaded(), player, problem), expected);
}

void TestContestGrid::cellResultsInGridOrder()
{
    OwnedRows grid{buildGridRows(loaded())};
    sortRowsByTotal(grid.rows);
    const QList<CellResult> cells = gridCellResults(grid.rows);
    QCOMPARE(cells.size(), grid.rows.size() * 2);
    int k = 0;
    for (const AllSiteItem *head : grid.rows) {
        for (const SiteItem *cell : head->cells) {
            QCOMPARE(cells[k].player, cell->player);
            QCOMPARE(cells[k].problem, cell->problem);
            QCOMPARE(cells[k].info, cell->info);
            ++k;
        }
    }
}

QTEST_GUILESS_MAIN(TestContestGrid)
#include "tst_contestgrid.moc"
