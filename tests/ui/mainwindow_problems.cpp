// The main window with the problems of a contest: their configuration, the
// folders they come from, and contests whose folder changes under it.

#include "mainwindowfixture.h"

using namespace mainwindowfixture;

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
