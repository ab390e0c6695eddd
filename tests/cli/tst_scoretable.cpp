#include "clitestutil.h"
#include "contestgrid.h"
#include "scoretable.h"

#include <QStringDecoder>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTest>

namespace {

struct RowSpec
{
    QString player;
    QString listedName;
    QList<int> scores;
};

// Rows built by hand, owned for the length of one test.
class Rows
{
public:
    Rows(const QList<RowSpec> &rowSpecs, bool listLoaded)
    {
        for (const RowSpec &rowSpec : rowSpecs) {
            auto *head = new AllSiteItem;
            head->nameItem = new SourceItem(rowSpec.player, rowSpec.listedName, listLoaded);
            head->nameItem->rowHead = head;
            for (const int score : rowSpec.scores) {
                auto *cell = new SiteItem;
                cell->player = rowSpec.player;
                cell->info = ScoreInfo{score, 0.5, TaskState::Normal};
                cell->rowHead = head;
                head->cells.append(cell);
                head->info.score += score;
            }
            rows.append(head);
        }
    }
    ~Rows() { deleteGridRows(rows); }

    QList<AllSiteItem *> rows;
};

QString decoded(const QByteArray &bytes)
{
    QStringDecoder decoder("GB18030");
    return decoder.decode(bytes);
}

}  // namespace

Q_DECLARE_METATYPE(RowSpec)

class TestScoreTable : public QObject
{
    Q_OBJECT

private slots:
    void table_data();
    void table();
    void namesAreGb18030();
    void rowsKeepTheGivenOrder();
    void exportWritesTheTable();
    void exportReplacesAnOldTable();
    void exportFailure_data();
    void exportFailure();
};

void TestScoreTable::table_data()
{
    QTest::addColumn<QStringList>("problems");
    QTest::addColumn<bool>("hasPlayerList");
    QTest::addColumn<QList<RowSpec>>("rows");
    QTest::addColumn<QString>("expected");

    const QStringList ab = {QStringLiteral("a"), QStringLiteral("b")};
    const QList<RowSpec> two = {{QStringLiteral("x1"), QStringLiteral("张三"), {100, 50}},
                                {QStringLiteral("x2"), QString(), {0, 7}}};

    QTest::newRow("with player list")
        << ab << true << two
        << QStringLiteral("编号,姓名,总分,\"a\",\"b\",\n\"x1\",\"张三\",150,100,50,\n"
                          "\"x2\",\"\",7,0,7,\n");
    QTest::newRow("without player list")
        << ab << false << two
        << QStringLiteral("选手,总分,\"a\",\"b\",\n\"x1\",150,100,50,\n\"x2\",7,0,7,\n");
    QTest::newRow("no rows") << ab << false << QList<RowSpec>()
                             << QStringLiteral("选手,总分,\"a\",\"b\",\n");
    QTest::newRow("no problems") << QStringList() << true
                                 << QList<RowSpec>{{QStringLiteral("x1"),
                                                    QStringLiteral("张三"),
                                                    {}}}
                                 << QStringLiteral("编号,姓名,总分,\n\"x1\",\"张三\",0,\n");
    QTest::newRow("comma inside a name stays inside the quotes")
        << QStringList{QStringLiteral("p,q")} << true
        << QList<RowSpec>{{QStringLiteral("a,b"), QStringLiteral("王,五"), {3}}}
        << QStringLiteral("编号,姓名,总分,\"p,q\",\n\"a,b\",\"王,五\",3,3,\n");
    QTest::newRow("quotation mark inside a name is doubled")
        << QStringList{QStringLiteral("a")} << true
        << QList<RowSpec>{{QStringLiteral("q\"1"), QStringLiteral("小\"明\""), {9}}}
        << QStringLiteral("编号,姓名,总分,\"a\",\n\"q\"\"1\",\"小\"\"明\"\"\",9,9,\n");
}

void TestScoreTable::table()
{
    QFETCH(QStringList, problems);
    QFETCH(bool, hasPlayerList);
    QFETCH(QList<RowSpec>, rows);
    QFETCH(QString, expected);

    const Rows grid(rows, hasPlayerList);
    const QByteArray bytes = scoreTableCsv(problems, hasPlayerList, grid.rows);
    QCOMPARE(decoded(bytes), expected);
    QVERIFY(!bytes.contains('\r'));
}

void TestScoreTable::namesAreGb18030()
{
    const Rows grid({{QStringLiteral("x1"), QStringLiteral("张三"), {1}}}, true);
    const QByteArray bytes = scoreTableCsv({QStringLiteral("题")}, true, grid.rows);
    QStringEncoder encoder("GB18030");
    const QByteArray name = encoder.encode(QStringLiteral("张三"));
    QCOMPARE(name, QByteArray("\xD5\xC5\xC8\xFD"));
    QVERIFY(bytes.contains(name));
    QVERIFY(!bytes.contains(QStringLiteral("张三").toUtf8()));
    QVERIFY(bytes.startsWith(QByteArray(encoder.encode(QStringLiteral("编号,姓名,总分,")))));
}

void TestScoreTable::rowsKeepTheGivenOrder()
{
    // The table is written in the grid's order, whatever the totals.
    const Rows grid({{QStringLiteral("low"), QString(), {1}},
                     {QStringLiteral("high"), QString(), {99}},
                     {QStringLiteral("mid"), QString(), {50}}},
                    false);
    const QStringList lines = decoded(scoreTableCsv({QStringLiteral("a")}, false, grid.rows))
                                  .split(u'\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 4);
    QVERIFY(lines[1].startsWith(QStringLiteral("\"low\",")));
    QVERIFY(lines[2].startsWith(QStringLiteral("\"high\",")));
    QVERIFY(lines[3].startsWith(QStringLiteral("\"mid\",")));
}

void TestScoreTable::exportWritesTheTable()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const Rows grid({{QStringLiteral("x1"), QStringLiteral("张三"), {100, 50}}}, true);
    const QStringList problems = {QStringLiteral("a"), QStringLiteral("b")};
    const QString path = dir.filePath(QStringLiteral("成绩.csv"));
    QVERIFY(exportScoreTable(path, problems, true, grid.rows));
    QCOMPARE(readTestFile(path), scoreTableCsv(problems, true, grid.rows));
    QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList{QStringLiteral("成绩.csv")});
}

void TestScoreTable::exportReplacesAnOldTable()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("out.csv"));
    QVERIFY(writeTestFile(path, QByteArray(10000, 'x')));
    const Rows grid({{QStringLiteral("x1"), QString(), {5}}}, false);
    QVERIFY(exportScoreTable(path, {QStringLiteral("a")}, false, grid.rows));
    QCOMPARE(readTestFile(path), scoreTableCsv({QStringLiteral("a")}, false, grid.rows));
}

void TestScoreTable::exportFailure_data()
{
    QTest::addColumn<QString>("target");  // relative to the temporary directory
    QTest::newRow("path through a regular file") << QStringLiteral("plain/out.csv");
    QTest::newRow("an existing directory") << QStringLiteral("folder");
    QTest::newRow("name too long") << overlongName();
}

void TestScoreTable::exportFailure()
{
    QFETCH(QString, target);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(writeTestFile(dir.filePath(QStringLiteral("plain")), "keep"));
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("folder")));
    const QStringList before = treeSnapshot(dir.path());

    const Rows grid({{QStringLiteral("x1"), QString(), {5}}}, false);
    QVERIFY(!exportScoreTable(dir.filePath(target), {QStringLiteral("a")}, false, grid.rows));
    QCOMPARE(treeSnapshot(dir.path()), before);
}

QTEST_GUILESS_MAIN(TestScoreTable)
#include "tst_scoretable.moc"
