#include "contestfiles.h"
#include "pagereader.h"
#include "prompts.h"
#include "sourcegen.h"
#include "statsdialog.h"
#include "statsfixture.h"
#include "statspage.h"

#include <QDirIterator>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QStandardPaths>
#include <QTabWidget>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

QStringList rowTexts(const QTableWidget *table, int row)
{
    QStringList texts;
    for (int c = 0; c < table->columnCount(); ++c)
        texts.append(table->item(row, c) ? table->item(row, c)->text() : QString());
    return texts;
}

} // namespace

class TestStatsDialog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void pageNumbersEqualWindow();
    void problemPageEqualsPage_data();
    void problemPageEqualsPage();
    void escapeStopsComparison();
    void pairShownSideBySide();

private:
    template<typename T> T *child(StatsDialog &dialog, const char *name)
    {
        T *found = dialog.findChild<T *>(QLatin1String(name));
        if (!found)
            qFatal("no widget %s", name);
        return found;
    }

    QTemporaryDir m_dir;
    StatsFixture *m_fixture = nullptr;
};

void TestStatsDialog::initTestCase()
{
    Prompts::setScripted(true);
    m_fixture = new StatsFixture(m_dir.path());
    StatsFixture &f = *m_fixture;
    f.addProblem(u"sum"_s, {2, 2}, 1.0);
    f.addProblem(u"tree"_s, {3});
    f.addResult(u"std"_s, u"sum"_s, 50, 'N', {{{'A', 0.1}, {'W', 0.1}}, {{'A', 0.1}, {'A', 0.1}}});
    f.addResult(u"p1"_s, u"sum"_s, 50, 'N', {{{'A', 0.1}, {'A', 0.2}}, {{'A', 0.3}, {'W', 0.4}}});
    f.addResult(u"p2"_s, u"sum"_s, 50, 'N', {{{'A', 0.1}, {'A', 0.2}}, {{'T', 1.2}, {'I'}}});
    f.addResult(u"p3"_s, u"sum"_s, 0, 'F');
    f.addResult(u"p1"_s, u"tree"_s, 33, 'N', {{{'A', 0.1}, {'W', 0.2}, {'R', 0.0}}});
    f.addPlayer(u"p4"_s);
    QVERIFY(writeContestFile(f.contest, {u"sum"_s, u"tree"_s}));
    f.opened();
}

// What the window shows and what the page says are the same texts.
void TestStatsDialog::pageNumbersEqualWindow()
{
    StatsDialog dialog(m_fixture->contest);
    dialog.show();
    const QString path = dialog.savePage();
    QCOMPARE(path, m_fixture->contest.resultDir() + u"/statistics.html"_s);
    QDomDocument page;
    QVERIFY(page.setContent(readTestFile(path)));

    const QList<QStringList> rows = tableRows(elementById(page, u"summary"_s));
    const auto *summary = child<QTableWidget>(dialog, "summaryTable");
    QCOMPARE(summary->rowCount(), 3);
    QCOMPARE(rows.size(), summary->rowCount() + 1);
    for (int r = 0; r < summary->rowCount(); ++r)
        QCOMPARE(rowTexts(summary, r), rows[r + 1]);
    QStringList header;
    for (int c = 0; c < summary->columnCount(); ++c)
        header.append(summary->horizontalHeaderItem(c)->text());
    QCOMPARE(header, rows[0]);

    QStringList pageWarnings;
    for (const QDomElement &item : elementsByTag(elementById(page, u"warnings"_s), u"li"_s))
        pageWarnings.append(item.text());
    const auto *list = child<QListWidget>(dialog, "warningList");
    QStringList shown;
    for (int i = 0; i < list->count(); ++i)
        shown.append(list->item(i)->text());
    QCOMPARE(shown, pageWarnings);
    // std fails sum's point 2; nobody passes sum's point 4 nor tree's 2 and 3;
    // cells not judged on both problems.
    QCOMPARE(shown.size(), 6);
    QVERIFY(shown[0].startsWith(u"sum 第2个测试点: 标准程序未通过"_s));
    QVERIFY(shown[1].startsWith(u"sum 第4个测试点: 没有选手通过"_s));
}

void TestStatsDialog::problemPageEqualsPage_data()
{
    QTest::addColumn<int>("problem");
    QTest::newRow("sum") << 0;
    QTest::newRow("tree") << 1;
}

void TestStatsDialog::problemPageEqualsPage()
{
    QFETCH(int, problem);
    StatsDialog dialog(m_fixture->contest);
    dialog.show();
    QDomDocument page;
    QVERIFY(page.setContent(statisticsHtml(dialog.stats())));
    const QDomElement section = elementById(page, u"problem-%1"_s.arg(problem + 1));
    const QList<QDomElement> tables = elementsByTag(section, u"table"_s);
    QCOMPARE(tables.size(), 2);

    child<QListWidget>(dialog, "statsNav")->setCurrentRow(2 + problem);
    const auto *summary = child<QTableWidget>(dialog, "detailSummary");
    QCOMPARE(rowTexts(summary, 0), tableRows(tables[0])[1]);
    const auto *points = child<QTableWidget>(dialog, "pointStatsTable");
    const QList<QStringList> rows = tableRows(tables[1]);
    QCOMPARE(points->rowCount(), rows.size() - 1);
    for (int r = 0; r < points->rowCount(); ++r)
        QCOMPARE(rowTexts(points, r), rows[r + 1]);
    QVERIFY(points->isVisible());
}

void TestStatsDialog::escapeStopsComparison()
{
    QTemporaryDir tools;
    QVERIFY(writeTestFile(tools.filePath(u"sim_c++"_s), "#!/bin/sh\nexec sleep 60\n"));
    QVERIFY(QFile::setPermissions(tools.filePath(u"sim_c++"_s), QFile::ExeOwner | QFile::ReadOwner));
    QTemporaryDir dir;
    StatsFixture f(dir.path());
    f.addProblem(u"slow"_s, {1});
    for (int i = 0; i < 3; ++i)
        f.addSource(u"p%1"_s.arg(i), u"slow"_s, u"slow.cpp"_s, "int main() {}\n");

    StatsDialog dialog(f.opened());
    SimilarityOptions options;
    options.toolDirectory = tools.path();
    dialog.setSimilarityOptions(options);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    child<QTabWidget>(dialog, "tabWidget")->setCurrentIndex(1);
    QTest::mouseClick(child<QPushButton>(dialog, "compareButton"), Qt::LeftButton);
    QVERIFY(dialog.similarity().isRunning());
    QTRY_COMPARE(childProcesses().size(), 1);
    QVERIFY(child<QPushButton>(dialog, "stopButton")->isEnabled());

    QTest::keyClick(&dialog, Qt::Key_Escape);
    QVERIFY(!dialog.similarity().isRunning());
    QVERIFY(dialog.similarity().report().stopped);
    QVERIFY(dialog.isVisible());  // the first Esc only stops
    QCOMPARE(child<QLabel>(dialog, "similarityStatus")->text(), u"已停止"_s);
    QVERIFY(child<QPushButton>(dialog, "compareButton")->isEnabled());
    QVERIFY(child<QPlainTextEdit>(dialog, "notesView")->toPlainText().contains(u"中途停止"_s));
    QTRY_VERIFY(childProcesses().isEmpty());

    QTest::keyClick(&dialog, Qt::Key_Escape);
    QVERIFY(!dialog.isVisible());
    QCOMPARE(dialog.result(), int(QDialog::Rejected));
}

void TestStatsDialog::pairShownSideBySide()
{
    if (QStandardPaths::findExecutable(u"sim_c++"_s).isEmpty()) {
        if (qEnvironmentVariableIsSet("QXJ_CI"))
            QFAIL("similarity-tester is not installed");
        QSKIP("similarity-tester is not installed");
    }
    QTemporaryDir dir;
    StatsFixture f(dir.path());
    f.addProblem(u"copy"_s, {1});
    SourceGenerator generator(3);
    const QString original = generator.program();
    f.addSource(u"a"_s, u"copy"_s, u"copy.cpp"_s, original.toUtf8());
    f.addSource(u"b"_s, u"copy"_s, u"copy.cpp"_s, generator.disguised(original).toUtf8());
    f.addSource(u"c"_s, u"copy"_s, u"copy.cpp"_s, generator.program().toUtf8());
    f.addResult(u"a"_s, u"copy"_s, 100, 'N');

    StatsDialog dialog(f.opened());
    dialog.show();
    child<QTabWidget>(dialog, "tabWidget")->setCurrentIndex(1);
    dialog.startComparison();
    QTRY_VERIFY_WITH_TIMEOUT(!dialog.similarity().isRunning(), 60'000);
    const auto *pairs = child<QTableWidget>(dialog, "pairTable");
    QCOMPARE(pairs->rowCount(), 1);
    const QStringList row = rowTexts(pairs, 0);
    QCOMPARE(row.mid(1), (QStringList{u"copy"_s, u"C++"_s, u"a"_s, u"100"_s, u"b"_s, u"未测评"_s}));
    const auto *first = child<QPlainTextEdit>(dialog, "firstSource");
    const auto *second = child<QPlainTextEdit>(dialog, "secondSource");
    QVERIFY(first->toPlainText().contains(u"int main() {"_s));
    QVERIFY(second->toPlainText().contains(u"int main() {"_s));
    QVERIFY(first->extraSelections().size() > 10);
    QVERIFY(second->extraSelections().size() > 10);
    QVERIFY(child<QLabel>(dialog, "firstSourceLabel")->text().startsWith(u"a  "_s));

    // Raising the threshold narrows the list without comparing again.
    child<QSpinBox>(dialog, "thresholdBox")->setValue(100);
    QCOMPARE(pairs->rowCount(), row.first() == u"100.0%"_s ? 1 : 0);
    QVERIFY(!dialog.similarity().isRunning());

    // The page of the similarity tab.
    const QString path = dialog.savePage();
    QCOMPARE(path, f.contest.resultDir() + u"/similarity.html"_s);
    QDomDocument page;
    QVERIFY(page.setContent(readTestFile(path)));
    QCOMPARE(tableRows(elementById(page, u"pairs"_s))[1].mid(1), row);
}

QTEST_MAIN(TestStatsDialog)
#include "tst_statsdialog.moc"
