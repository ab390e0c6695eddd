// The real window on the offscreen platform: opening, judging and stopping as
// an organiser does it, checked against the files the judge leaves.

#include "clitestutil.h"
#include "gridcells.h"
#include "gridview.h"
#include "judgingsession.h"
#include "mainwindow.h"
#include "prompts.h"
#include "statsdialog.h"
#include "translation.h"

#include <QAction>
#include <QApplication>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QPushButton>
#include <QListWidget>
#include <QMenuBar>
#include <QMimeData>
#include <QProcess>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QStringDecoder>
#include <QStringEncoder>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <functional>
#include <memory>

#include <unistd.h>

namespace {

const QString JudgeProgram = QStringLiteral(QXJ_JUDGE);
const QString SampleContest = QStringLiteral(QXJ_SAMPLE);
const QString BuildDir = QStringLiteral(QXJ_BUILD_DIR);
constexpr int RunTimeout = 180000;

// A C program for problem `name` that writes its answer, or one that never ends.
QByteArray program(const QString &name, bool endless)
{
    if (endless)
        return "int main(void){for(;;);}\n";
    return QStringLiteral("#include <stdio.h>\nint main(void){FILE*f=fopen(\"%1.out\",\"w\");"
                          "fputs(\"1\\n\",f);return 0;}\n")
        .arg(name)
        .toUtf8();
}

// Processes below this one whose command name is `name` (all when empty).
int descendants(const QString &name = QString())
{
    QHash<qint64, qint64> parents;
    QHash<qint64, QString> names;
    for (const QString &entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool ok = false;
        const qint64 pid = entry.toLongLong(&ok);
        if (!ok)
            continue;
        const QByteArray stat = readTestFile(QStringLiteral("/proc/%1/stat").arg(pid));
        const int close = stat.lastIndexOf(')');
        if (close < 0)
            continue;
        parents[pid] = stat.mid(close + 4).split(' ').value(0).toLongLong();
        names[pid] = QString::fromUtf8(stat.mid(stat.indexOf('(') + 1, close - stat.indexOf('(') - 1));
    }
    int count = 0;
    for (auto it = parents.cbegin(); it != parents.cend(); ++it) {
        for (qint64 p = it.value(); p > 1; p = parents.value(p, 0)) {
            if (p == ::getpid()) {
                if (name.isEmpty() || names.value(it.key()) == name)
                    ++count;
                break;
            }
        }
    }
    return count;
}

}

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void startState();
    void historyOpensLastContest();
    void deleteKeyRemovesFromHistory();
    void drop_data();
    void drop();
    void judgeSampleLikeConsoleJudge();
    void stopRestoresEveryUnfinishedCell();
    void closeTwice();
    void playerListAndExport();
    void configureProblems();
    void jobsSetting_data();
    void jobsSetting();
    void statisticsFromTheMenu();
    void configureFolderCopiedIn();
    void refreshFindsProblemFolders();
    void dropWithFileInTheWay_data();
    void dropWithFileInTheWay();
    void fileDialogsStartInContestFolder();
    void closingWithFolderGone_data();
    void closingWithFolderGone();
    void faultyConfigurationNotJudged();
    void translationLocales_data();
    void translationLocales();
    void qtTextsInChinese();

private:
    QAction *action(const char *name) const
    {
        auto *found = m_window->findChild<QAction *>(QLatin1String(name));
        if (!found)
            qFatal("no action %s", name);
        return found;
    }
    template<typename T> T *widget(const char *name) const
    {
        return m_window->findChild<T *>(QLatin1String(name));
    }
    void trigger(const char *name)
    {
        QAction *found = action(name);
        QVERIFY2(found->isEnabled(), name);
        found->trigger();
    }
    bool onContestPage() const
    {
        return widget<QStackedWidget>("stackedWidget")->currentIndex() == 0;
    }
    SiteItem *cell(const QString &player, const QString &problem) const
    {
        for (AllSiteItem *head : m_window->grid().rows())
            for (SiteItem *item : std::as_const(head->cells))
                if (item->player == player && item->problem == problem)
                    return item;
        return nullptr;
    }
    void newWindow()
    {
        m_window = std::make_unique<MainWindow>();
        m_window->show();
        QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
    }
    // A contest of one player "p1" with problems a, b, c worth 10 each.
    QString threeProblemContest()
    {
        const QString root = m_work->path() + QStringLiteral("/three");
        for (const char *name : {"a", "b", "c"}) {
            const QString problem = QLatin1String(name);
            writeTestFile(root + QStringLiteral("/data/%1/.prb").arg(problem),
                          traditionalConfig(problem, 10, QStringLiteral("30")));
            writeTestFile(root + QStringLiteral("/data/%1/%1.in").arg(problem), "");
            writeTestFile(root + QStringLiteral("/data/%1/%1.ans").arg(problem), "1\n");
            writeTestFile(root + QStringLiteral("/src/p1/%1/%1.c").arg(problem), program(problem, false));
        }
        writeTestFile(root + QStringLiteral("/.qxj"),
                      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<contest version=\"0.4\"><order>"
                      "<problem>a</problem><problem>b</problem><problem>c</problem></order></contest>\n");
        return root;
    }
    // F4 with the dialog driven by act (run once it shows), which closes it.
    void configure(const std::function<void(QWidget *dialog)> &act)
    {
        bool acted = false;
        QTimer::singleShot(0, this, [&] {
            QWidget *dialog = QApplication::activeModalWidget();
            if (!dialog || dialog->objectName() != QStringLiteral("PCDialog"))
                return;
            act(dialog);
            acted = true;
            if (dialog->isVisible())
                dialog->close();
        });
        trigger("action_P");
        QVERIFY(acted);
    }
    // The detail rows' texts, column 0 then 1 where there is an item.
    QStringList logTexts() const
    {
        QStringList texts;
        auto *log = widget<QTableWidget>("pointTable");
        for (int row = 0; row < log->rowCount(); ++row)
            for (int column = 0; column < 2; ++column)
                if (const QTableWidgetItem *item = log->item(row, column))
                    texts.append(item->text());
        return texts;
    }
    QStringList headerTexts() const
    {
        QStringList texts;
        auto *grid = widget<QTableWidget>("sourceTable");
        for (int column = 0; column < grid->columnCount(); ++column)
            texts.append(grid->horizontalHeaderItem(column)->text());
        return texts;
    }
    void waitForRunEnd()
    {
        QTRY_VERIFY_WITH_TIMEOUT(!m_window->isJudging(), RunTimeout);
        QCoreApplication::processEvents();
    }

    std::unique_ptr<QTemporaryDir> m_config;
    std::unique_ptr<QTemporaryDir> m_work;
    std::unique_ptr<MainWindow> m_window;
};

void TestMainWindow::initTestCase()
{
    // The checker is found in checker/ beside the programs.
    QVERIFY(QDir::setCurrent(BuildDir));
    Prompts::setScripted(true);
    // Browse and edit entries must open nothing on the test machine.
    QDesktopServices::setUrlHandler(QStringLiteral("file"), this, "deleteLater");
    QCoreApplication::setApplicationName(QStringLiteral("qxj"));
}

void TestMainWindow::init()
{
    m_config = std::make_unique<QTemporaryDir>();
    m_work = std::make_unique<QTemporaryDir>();
    qputenv("XDG_CONFIG_HOME", m_config->path().toUtf8());
    Prompts::takeAsked();
}

void TestMainWindow::cleanup()
{
    m_window.reset();
    Prompts::setNextAnswers({});
    Prompts::setNextFileNames({});
    Prompts::setNextNumbers({});
}

void TestMainWindow::startState()
{
    newWindow();
    QVERIFY(!onContestPage());
    QVERIFY(!widget<QMenuBar>("menuBar")->isEnabled());
    QVERIFY(!action("action_4")->isEnabled());
    QVERIFY(!action("action_6")->isEnabled());
    QVERIFY(!action("action_T")->isEnabled());
    QCOMPARE(m_window->windowTitle(), QStringLiteral("QXJ 测评器"));
    // F9 without a contest starts nothing.
    action("action_3")->trigger();
    QVERIFY(!m_window->isJudging());
    QCOMPARE(widget<QTableWidget>("pointTable")->rowCount(), 0);
    QVERIFY(m_window->settingsFolder().startsWith(m_config->path()));
}

void TestMainWindow::historyOpensLastContest()
{
    const QString contest = m_work->path() + QStringLiteral("/contest");
    QVERIFY(copyTree(SampleContest, contest));
    const QString gone = m_work->path() + QStringLiteral("/gone");
    const QString folder = m_config->path() + QStringLiteral("/qxj");
    writeTestFile(folder + QStringLiteral("/history.cfg"), (gone + u'\n' + contest + u'\n').toUtf8());
    writeTestFile(folder + QStringLiteral("/last.cfg"), contest.toUtf8());

    newWindow();
    auto *list = widget<QListWidget>("historyList");
    QCOMPARE(list->count(), 1);
    QVERIFY(list->currentItem());
    QCOMPARE(list->currentItem()->text(), contest);
    QCOMPARE(readTestFile(folder + QStringLiteral("/history.cfg")), (contest + u'\n').toUtf8());
    QVERIFY(!onContestPage());

    list->setFocus();
    QTest::keyClick(list, Qt::Key_Return);
    QVERIFY(onContestPage());
    QCOMPARE(m_window->windowTitle(), contest + QStringLiteral(" - QXJ 测评器"));
    QVERIFY(widget<QMenuBar>("menuBar")->isEnabled());
    QCOMPARE(widget<QTableWidget>("sourceTable")->rowCount(), 7);
    QCOMPARE(widget<QTableWidget>("sourceTable")->columnCount(), 5);
}

void TestMainWindow::deleteKeyRemovesFromHistory()
{
    const QString first = m_work->path() + QStringLiteral("/first");
    const QString second = m_work->path() + QStringLiteral("/second");
    QVERIFY(QDir().mkpath(first) && QDir().mkpath(second));
    const QString history = m_config->path() + QStringLiteral("/qxj/history.cfg");
    writeTestFile(history, (first + u'\n' + second + u'\n').toUtf8());
    newWindow();
    auto *list = widget<QListWidget>("historyList");
    QCOMPARE(list->count(), 2);
    list->setCurrentRow(0);
    list->setFocus();

    Prompts::setNextAnswers({false, true});
    QTest::keyClick(list, Qt::Key_Delete);
    QCOMPARE(list->count(), 2);
    QTest::keyClick(list, Qt::Key_Delete);
    QCOMPARE(list->count(), 1);
    QCOMPARE(list->item(0)->text(), second);
    QCOMPARE(readTestFile(history), (second + u'\n').toUtf8());
    QVERIFY(QFileInfo(first).isDir());  // only the entry goes, never the folder
    const QStringList asked = Prompts::takeAsked();
    QCOMPARE(asked.size(), 2);
    QCOMPARE(asked.first(), QStringLiteral("移除竞赛\n您确定要将此竞赛从列表中移除吗？"));
}

void TestMainWindow::drop_data()
{
    QTest::addColumn<QStringList>("present");
    QTest::addColumn<bool>("answer");
    QTest::addColumn<QString>("asked");
    QTest::addColumn<bool>("opens");

    QTest::newRow("empty, created") << QStringList() << true
                                    << QStringLiteral("找不到试题目录和选手目录") << true;
    QTest::newRow("src only, declined") << QStringList{QStringLiteral("src")} << false
                                        << QStringLiteral("找不到试题目录") << false;
    QTest::newRow("data only, created") << QStringList{QStringLiteral("data")} << true
                                        << QStringLiteral("找不到选手目录") << true;
    QTest::newRow("whole contest") << QStringList{QStringLiteral("data"), QStringLiteral("src")}
                                   << false << QString() << true;
}

void TestMainWindow::drop()
{
    QFETCH(QStringList, present);
    QFETCH(bool, answer);
    QFETCH(QString, asked);
    QFETCH(bool, opens);

    const QString root = m_work->path() + QStringLiteral("/dropped");
    QVERIFY(QDir().mkpath(root));
    for (const QString &sub : present)
        QVERIFY(QDir().mkpath(root + u'/' + sub));
    newWindow();
    Prompts::setNextAnswers({answer});

    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(root)});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(m_window.get(), &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent dropped(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(m_window.get(), &dropped);

    const QStringList shown = Prompts::takeAsked();
    if (asked.isEmpty()) {
        QVERIFY(shown.isEmpty());
    } else {
        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown.first().section(u'\n', 0, 0), asked);
        QCOMPARE(shown.first().section(u'\n', 1), QStringLiteral("确定继续打开并创建子目录吗？"));
    }
    QCOMPARE(onContestPage(), opens);
    QCOMPARE(QFileInfo(root + QStringLiteral("/data")).isDir(), opens || present.contains(QStringLiteral("data")));
    QCOMPARE(QFileInfo(root + QStringLiteral("/src")).isDir(), opens || present.contains(QStringLiteral("src")));

    // An open contest refuses further drops.
    QDragEnterEvent again(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(m_window.get(), &again);
    QCOMPARE(again.isAccepted(), !opens);
}

void TestMainWindow::judgeSampleLikeConsoleJudge()
{
    const QString byConsole = m_work->path() + QStringLiteral("/console");
    const QString byWindow = m_work->path() + QStringLiteral("/window");
    QVERIFY(copyTree(SampleContest, byConsole));
    QVERIFY(copyTree(SampleContest, byWindow));
    QProcess judge;
    judge.start(JudgeProgram, {byConsole});
    QVERIFY(judge.waitForFinished(RunTimeout));
    QCOMPARE(judge.exitCode(), 0);

    newWindow();
    m_window->openContest(byWindow);
    trigger("action_3");
    QVERIFY(m_window->isJudging());
    QVERIFY(!action("action_3")->isEnabled());
    QVERIFY(!action("action_A")->isEnabled());
    QVERIFY(action("action_4")->isEnabled());
    waitForRunEnd();
    QVERIFY(action("action_3")->isEnabled());
    QVERIFY(action("action_A")->isEnabled());
    QVERIFY(!QFileInfo::exists(byWindow + QStringLiteral("/tmp")));
    QVERIFY(QFileInfo::exists(byWindow + QStringLiteral("/result/.reslist")));

    Contest console;
    console.rootDir = byConsole;
    console.loadResultList();
    Contest window;
    window.rootDir = byWindow;
    window.loadResultList();
    QCOMPARE(window.cachedResults.size(), 21);
    QCOMPARE(window.cachedResults.keys(), console.cachedResults.keys());
    for (auto it = console.cachedResults.cbegin(); it != console.cachedResults.cend(); ++it) {
        const ScoreInfo shown = window.cachedResults.value(it.key());
        QVERIFY2(shown.score == it->score && shown.state == it->state, qPrintable(it.key()));
        const SiteItem *item = cell(it.key().section(u'/', 0, 0), it.key().section(u'/', 1));
        QVERIFY(item);
        QCOMPARE(item->info.score, it->score);
        QCOMPARE(item->info.state, it->state);
    }
    // The log shows the run's last row.
    auto *log = widget<QTableWidget>("pointTable");
    QVERIFY(log->rowCount() > 21);
    QCOMPARE(log->item(log->rowCount() - 1, 0)->text(), QStringLiteral("- 测评结束 -"));
}

void TestMainWindow::stopRestoresEveryUnfinishedCell()
{
    const QString root = threeProblemContest();
    newWindow();
    m_window->openContest(root);
    trigger("action_3");
    waitForRunEnd();
    for (const char *problem : {"a", "b", "c"})
        QCOMPARE(cell(QStringLiteral("p1"), QLatin1String(problem))->info.score, 10);
    const QByteArray storedB = readTestFile(root + QStringLiteral("/result/b/p1.res"));

    // Re-judge the row with a program that never ends in the first cell.
    writeTestFile(root + QStringLiteral("/src/p1/a/a.c"), program(QStringLiteral("a"), true));
    SiteItem *first = cell(QStringLiteral("p1"), QStringLiteral("a"));
    auto *table = widget<QTableWidget>("sourceTable");
    QTableWidgetItem *head = table->item(first->row(), 1);
    QVERIFY(head);
    emit table->itemDoubleClicked(head);
    QVERIFY(m_window->isJudging());
    QTRY_VERIFY_WITH_TIMEOUT(descendants(QStringLiteral("a")) == 1, 30000);

    QTest::keyClick(m_window.get(), Qt::Key_Escape);
    QVERIFY(!m_window->isJudging());
    QCOMPARE(descendants(), 0);
    for (const char *problem : {"a", "b", "c"}) {
        const SiteItem *item = cell(QStringLiteral("p1"), QLatin1String(problem));
        QCOMPARE(item->info.score, 10);
        QCOMPARE(item->info.state, TaskState::Normal);
    }
    QCOMPARE(readTestFile(root + QStringLiteral("/result/b/p1.res")), storedB);
    QVERIFY(!QFileInfo::exists(root + QStringLiteral("/tmp")));
    Contest reread;
    reread.rootDir = root;
    reread.loadResultList();
    QCOMPARE(reread.cachedResults.value(QStringLiteral("p1/c")).score, 10);
    QVERIFY(action("action_3")->isEnabled());
}

void TestMainWindow::closeTwice()
{
    const QString root = threeProblemContest();
    newWindow();
    m_window->openContest(root);
    QVERIFY(onContestPage());
    QVERIFY(QDir().mkpath(root + QStringLiteral("/tmp/test_thread_0")));
    const QString geometry = m_window->settingsFolder() + QStringLiteral("/geo.cfg");

    QVERIFY(!m_window->close());
    QVERIFY(!onContestPage());
    QVERIFY(m_window->isVisible());
    QVERIFY(!QFileInfo::exists(root + QStringLiteral("/tmp")));
    QVERIFY(QFileInfo::exists(root + QStringLiteral("/result/.reslist")));
    QVERIFY(!QFileInfo::exists(geometry));

    QVERIFY(m_window->close());
    QVERIFY(QFileInfo::exists(geometry));
}

void TestMainWindow::playerListAndExport()
{
    const QString root = m_work->path() + QStringLiteral("/contest");
    QVERIFY(copyTree(SampleContest, root));
    const QString list = root + QStringLiteral("/.list");
    const QString csv = m_work->path() + QStringLiteral("/scores.csv");
    const auto exported = [&] {
        Prompts::setNextFileNames({csv});
        trigger("action_8");
        return QString(QStringDecoder("GB18030").decode(readTestFile(csv)));
    };
    const auto nameCell = [&](const QString &player) -> SourceItem * {
        for (AllSiteItem *head : m_window->grid().rows())
            if (head->nameItem->playerName == player)
                return head->nameItem;
        return nullptr;
    };
    newWindow();
    m_window->openContest(root);

    // Without a list the table has no name column.
    trigger("action_7");
    QVERIFY(!QFileInfo::exists(list));
    QVERIFY(exported().startsWith(QStringLiteral("选手,总分,\"sum\",\"guess\",\"split\",\n")));

    // A list is copied byte for byte; a second comma belongs to the name.
    const QByteArray bytes = QStringEncoder("GB18030").encode(QStringLiteral("p01,张三\np02,李,四\n"));
    const QString chosen = m_work->path() + QStringLiteral("/names.csv");
    writeTestFile(chosen, bytes);
    Prompts::setNextFileNames({chosen});
    trigger("action_N");
    QCOMPARE(readTestFile(list), bytes);
    QCOMPARE(nameCell(QStringLiteral("p01"))->text(), QStringLiteral("\u3000p01 [张\u3000三]\u3000"));
    QCOMPARE(nameCell(QStringLiteral("p02"))->listedName, QStringLiteral("李,四"));
    QCOMPARE(nameCell(QStringLiteral("p03"))->foreground().color(), QColor(255, 0, 0));
    const QString table = exported();
    QVERIFY(table.startsWith(QStringLiteral("编号,姓名,总分,")));
    QVERIFY(table.contains(QStringLiteral("\n\"p03\",\"\",")));

    // Failures are told and leave what was there.
    Prompts::takeAsked();
    Prompts::setNextFileNames({m_work->path() + QStringLiteral("/missing.csv")});
    trigger("action_N");
    QCOMPARE(readTestFile(list), bytes);
    const QString throughFile = chosen + QStringLiteral("/scores.csv");
    Prompts::setNextFileNames({throughFile});
    trigger("action_8");
    QVERIFY(!QFileInfo::exists(throughFile));
    const QStringList told = Prompts::takeAsked();
    QCOMPARE(told.size(), 4);  // two file dialogs, two messages
    QVERIFY(told.at(1).startsWith(QStringLiteral("导入失败\n")));
    QVERIFY(told.at(3).startsWith(QStringLiteral("导出失败\n")));

    // Cancelling changes nothing.
    Prompts::setNextFileNames({QString()});
    trigger("action_N");
    QCOMPARE(readTestFile(list), bytes);
}

void TestMainWindow::configureProblems()
{
    const QString root = threeProblemContest();
    writeTestFile(root + QStringLiteral("/data/d/d1.in"), "1\n");
    writeTestFile(root + QStringLiteral("/data/d/d1.ans"), "1\n");
    newWindow();
    m_window->openContest(root);
    const QStringList before = m_window->contest().problemNames;

    // F4 runs the dialog modally; done is pressed after dragging c to the front,
    // or the dialog is closed.
    const auto runDialog = [&](bool done) {
        QTimer::singleShot(0, this, [done] {
            QWidget *dialog = QApplication::activeModalWidget();
            if (!dialog || dialog->objectName() != QStringLiteral("PCDialog"))
                return;
            if (done) {
                dialog->findChild<QTableWidget *>(QStringLiteral("tableWidget"))->horizontalHeader()->moveSection(2, 0);
                dialog->findChild<QPushButton *>(QStringLiteral("pushButton"))->click();
            } else {
                dialog->close();
            }
        });
        trigger("action_P");
    };
    runDialog(false);
    QCOMPARE(m_window->contest().problemNames, before);
    QVERIFY(!QFileInfo::exists(root + QStringLiteral("/data/d/.prb")));

    runDialog(true);
    QVERIFY(QFileInfo::exists(root + QStringLiteral("/data/d/.prb")));
    const QStringList order{QStringLiteral("c"), QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("d")};
    QCOMPARE(m_window->contest().problemNames, order);
    QVERIFY(cell(QStringLiteral("p1"), QStringLiteral("d")));
}

void TestMainWindow::jobsSetting_data()
{
    QTest::addColumn<int>("prompts");
    QTest::addColumn<QList<int>>("numbers");  // the prompts' answers; none: cancelled
    QTest::addColumn<int>("jobs");

    QTest::newRow("never set") << 0 << QList<int>() << 1;
    QTest::newRow("cancelled") << 1 << QList<int>() << 1;
    QTest::newRow("two") << 1 << QList<int>{2} << 2;
    QTest::newRow("two, then one again") << 2 << QList<int>{2, 1} << 1;
}

// The setting outlives the window, and with one cell at a time a run is
// what it always was: rows shown as they come, the program in
// tmp/test_thread_0. With two, a cell's rows wait for its end.
void TestMainWindow::jobsSetting()
{
    QFETCH(int, prompts);
    QFETCH(QList<int>, numbers);
    QFETCH(int, jobs);

    const QString root = threeProblemContest();
    writeTestFile(root + QStringLiteral("/src/p1/a/a.c"), program(QStringLiteral("a"), true));
    newWindow();
    m_window->openContest(root);
    const QString file = m_window->settingsFolder() + QStringLiteral("/jobs.cfg");
    Prompts::setNextNumbers(numbers);
    for (int i = 0; i < prompts; ++i)
        trigger("action_J");
    const QStringList asked = Prompts::takeAsked();
    QCOMPARE(asked.size(), prompts);
    for (const QString &text : asked)
        QVERIFY2(text.startsWith(QStringLiteral("同时测评数\n同时测评的项目数 (1-")), qPrintable(text));
    QCOMPARE(QFileInfo::exists(file), !numbers.isEmpty());
    if (!numbers.isEmpty())
        QCOMPARE(readTestFile(file), QByteArray::number(jobs) + '\n');

    m_window.reset();
    newWindow();
    QCOMPARE(m_window->session().jobs(), jobs);
    m_window->openContest(root);
    trigger("action_3");
    QTRY_VERIFY_WITH_TIMEOUT(descendants(QStringLiteral("a")) == 1, 30000);
    QCoreApplication::processEvents();
    auto *log = widget<QTableWidget>("pointTable");
    bool headingShown = false;
    for (int row = 0; row < log->rowCount(); ++row)
        headingShown = headingShown || (log->item(row, 0) && log->item(row, 0)->text() == QStringLiteral("p1 - a"));
    QCOMPARE(headingShown, jobs == 1);
    QCOMPARE(QFileInfo::exists(root + QStringLiteral("/tmp/test_thread_0/a")), jobs == 1);
    QCOMPARE(QFileInfo::exists(root + QStringLiteral("/tmp/0/test_thread_0/a"))
                 || QFileInfo::exists(root + QStringLiteral("/tmp/1/test_thread_0/a")),
             jobs == 2);
    QCOMPARE(cell(QStringLiteral("p1"), QStringLiteral("a"))->info.state, TaskState::Judging);

    QTest::keyClick(m_window.get(), Qt::Key_Escape);
    QVERIFY(!m_window->isJudging());
    QCOMPARE(descendants(), 0);
    QCOMPARE(cell(QStringLiteral("p1"), QStringLiteral("a"))->info.state, TaskState::NotJudged);
    QVERIFY(!QFileInfo::exists(root + QStringLiteral("/tmp")));
}

// A prepared problem folder with its own .prb copied into an open contest:
// F4 shows its limits, and 完成 leaves its file as it was, byte for byte.
void TestMainWindow::configureFolderCopiedIn()
{
    const QString root = threeProblemContest();
    newWindow();
    m_window->openContest(root);
    const QByteArray prepared =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<problem type=\"TRA_0_4\">\n"
        "    <source dir=\"e\" file=\"e\" code=\"64\"><language file=\"e.c\" cmd=\"gcc -O2 -o e e.c\"/></source>\n"
        "    <task input=\"e.in\" output=\"e.out\" checker=\"全文比较\">\n"
        "        <subtask score=\"100\"><point in=\"e1.in\" out=\"e1.ans\" time=\"3\" mem=\"512\"/></subtask>\n"
        "    </task>\n</problem>\n";
    const QString file = root + QStringLiteral("/data/e/.prb");
    writeTestFile(file, prepared);
    writeTestFile(root + QStringLiteral("/data/e/e1.in"), "1\n");
    writeTestFile(root + QStringLiteral("/data/e/e1.ans"), "1\n");

    QStringList shown;
    configure([&](QWidget *dialog) {
        auto *table = dialog->findChild<QTableWidget *>(QStringLiteral("tableWidget"));
        for (int column = 0; column < table->columnCount(); ++column)
            shown.append(table->horizontalHeaderItem(column)->text() + u' ' + table->item(0, column)->text()
                         + u' ' + table->item(1, column)->text());
        dialog->findChild<QPushButton *>(QStringLiteral("pushButton"))->click();
    });
    QVERIFY2(shown.contains(QStringLiteral("e 3 512")), qPrintable(shown.join(u',')));
    QCOMPARE(readTestFile(file), prepared);
    QVERIFY(m_window->contest().problemNames.contains(QStringLiteral("e")));
    QVERIFY(cell(QStringLiteral("p1"), QStringLiteral("e")));
}

void TestMainWindow::refreshFindsProblemFolders()
{
    const QString root = threeProblemContest();
    newWindow();
    m_window->openContest(root);
    QCOMPARE(headerTexts(), QStringList({QStringLiteral("选手"), QStringLiteral("总分"), QStringLiteral("a"),
                                         QStringLiteral("b"), QStringLiteral("c")}));
    writeTestFile(root + QStringLiteral("/data/d/.prb"), traditionalConfig(QStringLiteral("d"), 10, QStringLiteral("1")));
    QVERIFY(QDir(root + QStringLiteral("/data/b")).removeRecursively());
    trigger("action_2");
    QCOMPARE(headerTexts(), QStringList({QStringLiteral("选手"), QStringLiteral("总分"), QStringLiteral("a"),
                                         QStringLiteral("c"), QStringLiteral("d")}));
    QVERIFY(cell(QStringLiteral("p1"), QStringLiteral("d")));
    QVERIFY(!cell(QStringLiteral("p1"), QStringLiteral("b")));
}

void TestMainWindow::dropWithFileInTheWay_data()
{
    QTest::addColumn<QString>("file");  // a plain file where a sub-directory goes
    QTest::addColumn<QString>("told");

    QTest::newRow("a file named data") << QStringLiteral("data") << QStringLiteral("data: 已有同名的文件");
    // data is made first, then src fails: data must go again.
    QTest::newRow("a file named src") << QStringLiteral("src") << QStringLiteral("src: 已有同名的文件");
}

void TestMainWindow::dropWithFileInTheWay()
{
    QFETCH(QString, file);
    QFETCH(QString, told);

    const QString root = m_work->path() + QStringLiteral("/dropped");
    writeTestFile(root + u'/' + file, "not a folder\n");
    const QStringList before = treeSnapshot(root);
    newWindow();
    Prompts::setNextAnswers({true});
    m_window->openFolder(root);

    const QStringList asked = Prompts::takeAsked();
    QCOMPARE(asked.size(), 2);
    QCOMPARE(asked.at(1).section(u'\n', 0, 0), QStringLiteral("无法创建子目录"));
    QVERIFY2(asked.at(1).contains(root + u'/' + told), qPrintable(asked.at(1)));
    QVERIFY(!onContestPage());
    QVERIFY(m_window->contest().rootDir.isEmpty());
    QCOMPARE(treeSnapshot(root), before);
}

void TestMainWindow::fileDialogsStartInContestFolder()
{
    const QString root = threeProblemContest();
    const QString lists = m_work->path() + QStringLiteral("/lists");
    writeTestFile(lists + QStringLiteral("/names.csv"), "p1,Alice\n");
    newWindow();
    m_window->openContest(root);
    const auto proposed = [&](const char *action, const QString &answer = QString()) {
        Prompts::setNextFileNames({answer});
        trigger(action);
        return Prompts::takeAsked().value(0).section(u'\n', 1);
    };
    QCOMPARE(proposed("action_N"), root + QStringLiteral("/list.csv"));
    QCOMPARE(proposed("action_8"), root + QStringLiteral("/成绩.csv"));
    // A list chosen elsewhere: that folder comes next, for both.
    QCOMPARE(proposed("action_N", lists + QStringLiteral("/names.csv")), root + QStringLiteral("/list.csv"));
    QCOMPARE(proposed("action_N"), lists + QStringLiteral("/list.csv"));
    QCOMPARE(proposed("action_8"), lists + QStringLiteral("/成绩.csv"));
    // Another contest starts from its own folder again.
    trigger("action_C");
    m_window->openContest(root);
    QCOMPARE(proposed("action_N"), root + QStringLiteral("/list.csv"));
}

void TestMainWindow::closingWithFolderGone_data()
{
    QTest::addColumn<bool>("judged");
    QTest::addColumn<QStringList>("told");

    QTest::newRow("nothing judged: nothing to save") << false << QStringList();
    QTest::newRow("a run stopped: its results are lost")
        << true << QStringList{QStringLiteral("保存失败")};
}

// A history entry opened and its folder deleted meanwhile.
void TestMainWindow::closingWithFolderGone()
{
    QFETCH(bool, judged);
    QFETCH(QStringList, told);

    const QString root = threeProblemContest();
    newWindow();
    m_window->openContest(root);
    if (judged) {
        writeTestFile(root + QStringLiteral("/src/p1/a/a.c"), program(QStringLiteral("a"), true));
        trigger("action_3");
        QTRY_VERIFY_WITH_TIMEOUT(descendants(QStringLiteral("a")) == 1, 30000);
    }
    QVERIFY(QDir(root).removeRecursively());
    Prompts::takeAsked();
    QVERIFY(!m_window->close());
    QVERIFY(!onContestPage());
    QStringList titles;
    for (const QString &asked : Prompts::takeAsked())
        titles.append(asked.section(u'\n', 0, 0));
    QCOMPARE(titles, told);
    QVERIFY(!QFileInfo::exists(root));
}

// A .prb that does not parse to its end: said when the contest opens, shown
// in its column's head, and its cells are never judged.
void TestMainWindow::faultyConfigurationNotJudged()
{
    const QString root = threeProblemContest();
    const QByteArray whole = traditionalConfig(QStringLiteral("b"), 10, QStringLiteral("30"));
    writeTestFile(root + QStringLiteral("/data/b/.prb"), whole.left(whole.indexOf("<subtask") + 20));
    const QString fault = QStringLiteral("试题 b 不测评 — data/b/.prb 第 7 行:\nXML 格式错误: ");
    const auto faultShown = [&] {
        for (const QString &text : logTexts())
            if (text.startsWith(fault))
                return true;
        return false;
    };
    newWindow();
    m_window->openContest(root);
    QVERIFY2(faultShown(), qPrintable(logTexts().join(u'\n')));
    auto *grid = widget<QTableWidget>("sourceTable");
    QCOMPARE(headerTexts().at(3), QStringLiteral("b"));
    QVERIFY(grid->horizontalHeaderItem(3)->toolTip().startsWith(QStringLiteral("不测评: data/b/.prb 第 7 行: ")));
    QVERIFY(!grid->horizontalHeaderItem(3)->icon().isNull());
    QVERIFY(grid->horizontalHeaderItem(2)->icon().isNull());

    trigger("action_3");
    QVERIFY(faultShown());
    waitForRunEnd();
    QCOMPARE(cell(QStringLiteral("p1"), QStringLiteral("a"))->info.score, 10);
    QCOMPARE(cell(QStringLiteral("p1"), QStringLiteral("c"))->info.score, 10);
    QCOMPARE(cell(QStringLiteral("p1"), QStringLiteral("b"))->info.state, TaskState::NotJudged);
    QVERIFY(!QFileInfo::exists(root + QStringLiteral("/result/b/p1.res")));

    // Mended, it is judged again from the next refresh on.
    writeTestFile(root + QStringLiteral("/data/b/.prb"), whole);
    trigger("action_2");
    QVERIFY(grid->horizontalHeaderItem(3)->icon().isNull());
    QVERIFY(!faultShown());
    trigger("action_3");
    waitForRunEnd();
    QCOMPARE(cell(QStringLiteral("p1"), QStringLiteral("b"))->info.score, 10);
}

void TestMainWindow::translationLocales_data()
{
    QTest::addColumn<QString>("system");
    QTest::addColumn<QStringList>("tried");

    QTest::newRow("C") << QStringLiteral("C") << QStringList{QStringLiteral("zh_CN")};
    QTest::newRow("simplified Chinese") << QStringLiteral("zh_CN") << QStringList{QStringLiteral("zh_CN")};
    QTest::newRow("traditional Chinese")
        << QStringLiteral("zh_TW") << QStringList{QStringLiteral("zh_TW"), QStringLiteral("zh_CN")};
    QTest::newRow("English") << QStringLiteral("en_US") << QStringList{QStringLiteral("zh_CN")};
    QTest::newRow("Japanese") << QStringLiteral("ja_JP") << QStringList{QStringLiteral("zh_CN")};
}

void TestMainWindow::translationLocales()
{
    QFETCH(QString, system);
    QFETCH(QStringList, tried);
    QStringList names;
    for (const QLocale &locale : qtTranslationLocales(QLocale(system)))
        names.append(locale.name());
    QCOMPARE(names, tried);
}

void TestMainWindow::qtTextsInChinese()
{
    QVERIFY(installQtTranslation());
    QDialogButtonBox buttons(QDialogButtonBox::Open | QDialogButtonBox::Cancel);
    QCOMPARE(buttons.button(QDialogButtonBox::Cancel)->text(), QStringLiteral("取消"));
    QVERIFY(buttons.button(QDialogButtonBox::Open)->text().startsWith(QStringLiteral("打开")));
    // What Qt's own translation lacks: the file dialog's type of a folder.
    QCOMPARE(QCoreApplication::translate("QAbstractFileIconProvider", "Folder"), QStringLiteral("文件夹"));
}

QTEST_MAIN(TestMainWindow)
// 统计 opens the statistics of the open contest, read from its files.
void TestMainWindow::statisticsFromTheMenu()
{
    const QString root = m_work->path() + QStringLiteral("/judged");
    QVERIFY(copyTree(SampleContest, root));
    QProcess judge;
    judge.start(JudgeProgram, {root});
    QVERIFY(judge.waitForFinished(RunTimeout));
    QCOMPARE(judge.exitCode(), 0);
    newWindow();
    QVERIFY(!action("action_A")->isEnabled() || !widget<QMenuBar>("menuBar")->isEnabled());
    m_window->openContest(root);
    int shownRows = -1;
    QString title;
    QTimer::singleShot(0, this, [&] {
        auto *dialog = qobject_cast<StatsDialog *>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        title = dialog->windowTitle();
        shownRows = dialog->findChild<QTableWidget *>(QStringLiteral("summaryTable"))->rowCount();
        dialog->reject();
    });
    trigger("action_A");
    QCOMPARE(shownRows, 1 + int(m_window->contest().problemNames.size()));
    QVERIFY(title.endsWith(QDir::toNativeSeparators(root)));
    QVERIFY(!m_window->isJudging());
}

#include "tst_mainwindow.moc"
