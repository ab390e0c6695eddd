// The real window on the offscreen platform: opening, judging and stopping as
// an organiser does it, checked against the files the judge leaves.

#include "mainwindowfixture.h"

using namespace mainwindowfixture;

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
