// The problem configuration dialog on the offscreen platform, driven through
// its menus as an organiser does it, checked against the files it leaves.

#include "contest.h"
#include "packagefixture.h"
#include "pcdialog.h"
#include "problemfile.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QInputDialog>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <memory>

namespace {

const QString BadNumber = QStringLiteral("数字格式错误（整数最多12位，小数点后最多6位）");

QStringList strings(std::initializer_list<const char *> texts)
{
    QStringList out;
    for (const char *text : texts)
        out.append(QString::fromUtf8(text));
    return out;
}

bool writeFile(const QString &path, const QByteArray &bytes, bool executable = false)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        return false;
    return !executable || file.setPermissions(file.permissions() | QFile::ExeOwner);
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<none>");
}

XmlFile loadXml(const QString &path)
{
    XmlFile file;
    file.load(path);
    return file;
}

QStringList menuTexts(const QMenu *menu)
{
    QStringList texts;
    for (const QAction *action : menu->actions())
        texts.append(action->isSeparator() ? QStringLiteral("|") : action->text());
    return texts;
}

QAction *entry(QMenu *menu, const QString &text)
{
    for (QAction *action : menu->actions())
        if (action->text() == text)
            return action;
    return nullptr;
}

}

class PCDialogTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void windowSize_data();
    void windowSize();
    void columnsAndValues();
    void newFolderGetsConfiguration();
    void movedColumnOrdersContestFile();
    void customValue_data();
    void customValue();
    void checkerChoice_data();
    void checkerChoice();
    void handWrittenConfigKept();
    void filesChangedSinceLoading_data();
    void filesChangedSinceLoading();
    void closingWritesNothing();
    void vanishedFolderSkipped();
    void standardStreams_data();
    void standardStreams();
    void testlibChecker_data();
    void testlibChecker();
    void package_data();
    void package();
    void faultyPackage();
    void graders();

private:
    // A fresh dialog over the current contest, shown so that the table has its
    // geometry; with reload false, over what the contest had loaded before.
    PCDialog *open(bool reload = true);
    QTableWidget *table() const { return m_dialog->findChild<QTableWidget *>(QStringLiteral("tableWidget")); }
    QLabel *label() const { return m_dialog->findChild<QLabel *>(QStringLiteral("label")); }
    QStringList row(int row) const;
    void rightClickCell(int row, int column);
    void rightClickRow(int row);
    void finish() { m_dialog->findChild<QPushButton *>(QStringLiteral("pushButton"))->click(); }
    void addProblem(const QString &name, int points);

    QTemporaryDir m_work;
    std::unique_ptr<QTemporaryDir> m_root;
    Contest m_contest;
    std::unique_ptr<PCDialog> m_dialog;
};

void PCDialogTest::initTestCase()
{
    QVERIFY(m_work.isValid());
    // The shared checkers are found in "checker" under the working directory.
    QVERIFY(QDir::setCurrent(m_work.path()));
    QVERIFY(writeFile(QStringLiteral("checker/全文比较"), "#!/bin/sh\n", true));
    QVERIFY(writeFile(QStringLiteral("checker/a&b"), "#!/bin/sh\n", true));
    QVERIFY(writeFile(QStringLiteral("checker/readme.txt"), "not a program\n"));
    QVERIFY(QDir().mkpath(QStringLiteral("checker/folder")));
}

void PCDialogTest::init()
{
    m_root = std::make_unique<QTemporaryDir>();
    QVERIFY(m_root->isValid());
    m_contest = Contest();
    m_contest.rootDir = m_root->path();
}

void PCDialogTest::cleanup()
{
    m_dialog.reset();
}

void PCDialogTest::addProblem(const QString &name, int points)
{
    for (int i = 1; i <= points; ++i) {
        QVERIFY(writeFile(m_contest.problemDir(name) + QStringLiteral("/%1%2.in").arg(name).arg(i), "1\n"));
        QVERIFY(writeFile(m_contest.problemDir(name) + QStringLiteral("/%1%2.ans").arg(name).arg(i), "1\n"));
    }
    QVERIFY(QDir().mkpath(m_contest.problemDir(name)));
}

PCDialog *PCDialogTest::open(bool reload)
{
    if (reload)
        m_contest.loadProblems();
    m_dialog = std::make_unique<PCDialog>();
    m_dialog->contestDirs.rootDir = m_contest.rootDir;
    m_dialog->problemConfigs = &m_contest.problemConfigs;
    m_dialog->problemNames = m_contest.problemNames;
    m_dialog->init();
    m_dialog->show();
    QCoreApplication::processEvents();
    return m_dialog.get();
}

QStringList PCDialogTest::row(int row) const
{
    QStringList texts;
    for (int column = 0; column < table()->columnCount(); ++column)
        texts.append(m_dialog->value(row, column));
    return texts;
}

void PCDialogTest::rightClickCell(int row, int column)
{
    const QPoint pos = table()->visualItemRect(table()->item(row, column)).center();
    emit table()->customContextMenuRequested(pos);
}

void PCDialogTest::rightClickRow(int row)
{
    QHeaderView *header = table()->verticalHeader();
    emit header->customContextMenuRequested(
        QPoint(header->width() / 2, header->sectionViewportPosition(row) + header->sectionSize(row) / 2));
}

void PCDialogTest::windowSize_data()
{
    QTest::addColumn<int>("problems");
    QTest::addColumn<int>("visibleColumns");
    QTest::addColumn<int>("height");
    QTest::newRow("2 problems: room for 4") << 2 << 4 << 218;
    QTest::newRow("4 problems") << 4 << 4 << 218;
    QTest::newRow("13 problems") << 13 << 13 << 218;
    QTest::newRow("20 problems: 13 and a scroll bar") << 20 << 13 << 235;
}

void PCDialogTest::windowSize()
{
    QFETCH(int, problems);
    QFETCH(int, visibleColumns);
    QFETCH(int, height);
    for (int i = 0; i < problems; ++i)
        QVERIFY(QDir().mkpath(m_contest.problemDir(QStringLiteral("p%1").arg(i, 2, 10, QLatin1Char('0')))));
    open();
    const QSize expected(64 + 88 * visibleColumns, height);
    QCOMPARE(m_dialog->minimumSize(), expected);
    QCOMPARE(m_dialog->maximumSize(), expected);
    QCOMPARE(table()->columnCount(), problems);
}

void PCDialogTest::columnsAndValues()
{
    // Configured problems in the contest's order, then new folders by name.
    for (const char *name : {"zeta", "alpha", "Mid", "beta"})
        addProblem(QString::fromLatin1(name), 1);
    Contest writer = m_contest;
    QVERIFY(writeProblemConfig(writer, QStringLiteral("zeta"), QStringLiteral("2.5"), QStringLiteral("512"),
                               QStringLiteral("a&b"), {{QStringLiteral("zeta1.in"), QStringLiteral("zeta1.ans")}}));
    QVERIFY(writeProblemConfig(writer, QStringLiteral("beta"), QStringLiteral("3"), QStringLiteral("256"),
                               QStringLiteral("全文比较"), {}));
    open();
    m_dialog->problemNames.clear();
    QStringList headers;
    for (int column = 0; column < table()->columnCount(); ++column)
        headers.append(table()->horizontalHeaderItem(column)->text());
    QCOMPARE(headers, strings({"beta", "zeta", "alpha", "Mid"}));
    // beta has no test point, so its limits stay the defaults.
    QCOMPARE(row(0), strings({"1", "2.5", "1", "1"}));
    QCOMPARE(row(1), strings({"128", "512", "128", "128"}));
    QCOMPARE(row(2), strings({"全文比较", "a&b", "全文比较", "全文比较"}));
    QCOMPARE(row(3), strings({"文件", "文件", "文件", "文件"}));
    QCOMPARE(row(4), strings({"", "", "", ""}));
    QVERIFY(label()->text().isEmpty());
}

void PCDialogTest::newFolderGetsConfiguration()
{
    addProblem(QStringLiteral("fresh"), 3);
    open();
    QVERIFY(!QFileInfo::exists(m_contest.problemConfigPath(QStringLiteral("fresh"))));
    finish();
    QVERIFY(m_dialog->accepted);
    QVERIFY(!m_dialog->isVisible());

    Contest reloaded = m_contest;
    reloaded.loadProblems();
    QCOMPARE(reloaded.problemNames, strings({"fresh"}));
    const TaskSpec task = problemTask(reloaded.problemConfigs.value(QStringLiteral("fresh")).document);
    QCOMPARE(task.checker, QStringLiteral("全文比较"));
    QCOMPARE(task.subtasks.size(), 3);
    QCOMPARE(task.subtasks[0].points.value(0).in, QStringLiteral("fresh1.in"));
    QCOMPARE(task.subtasks[0].points.value(0).time, 1.0);
    QCOMPARE(task.subtasks[0].points.value(0).mem, 128.0);
    // The window's map gained the new configuration too.
    QVERIFY(m_contest.problemConfigs.contains(QStringLiteral("fresh")));
}

void PCDialogTest::movedColumnOrdersContestFile()
{
    for (const char *name : {"a", "b", "c"})
        addProblem(QString::fromLatin1(name), 1);
    open();
    table()->horizontalHeader()->moveSection(0, 2);
    finish();
    const QStringList order = queryUnder(loadXml(m_contest.contestFilePath()).document,
                                         QStringLiteral("problem")).texts();
    QCOMPARE(order, strings({"b", "c", "a"}));
    Contest reloaded = m_contest;
    reloaded.loadProblems();
    QCOMPARE(reloaded.problemNames, order);
}

void PCDialogTest::customValue_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("valid");
    QTest::newRow("half") << QStringLiteral("0.5") << true;
    QTest::newRow("12 digits, 6 decimals") << QStringLiteral("123456789012.123456") << true;
    QTest::newRow("exponent") << QStringLiteral("1e3") << false;
    QTest::newRow("sign") << QStringLiteral("-1") << false;
    QTest::newRow("7 decimals") << QStringLiteral("1.1234567") << false;
    QTest::newRow("no integer part") << QStringLiteral(".5") << false;
    QTest::newRow("13 digits") << QStringLiteral("1234567890123") << false;
    QTest::newRow("space") << QStringLiteral(" 2") << false;
}

void PCDialogTest::customValue()
{
    QFETCH(QString, typed);
    QFETCH(bool, valid);
    addProblem(QStringLiteral("a"), 1);
    addProblem(QStringLiteral("b"), 1);
    open();
    rightClickCell(0, 1);
    m_dialog->timeMenu->hide();

    QString shown;
    QTimer::singleShot(0, this, [&] {
        auto *input = qobject_cast<QInputDialog *>(QApplication::activeModalWidget());
        if (!input)
            return;
        shown = input->windowTitle() + u'|' + input->labelText() + u'|' + input->textValue();
        input->setTextValue(typed);
        input->accept();
    });
    entry(m_dialog->timeMenu, QStringLiteral("其他(&A)..."))->trigger();
    QCOMPARE(shown, QStringLiteral("其他|设置为（支持实数）|4"));
    QCOMPARE(row(0), QStringList({QStringLiteral("1"), valid ? typed : QStringLiteral("1")}));
    QCOMPARE(label()->text(), valid ? QString() : BadNumber);

    // The next menu opening clears the message.
    rightClickRow(1);
    QVERIFY(label()->text().isEmpty());
}

void PCDialogTest::checkerChoice_data()
{
    QTest::addColumn<bool>("fromHeader");
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<QStringList>("checkers");
    QTest::newRow("row header: every problem, shared checkers only")
        << true << strings({"a&&b", "全文比较"}) << strings({"a&b", "a&b"});
    QTest::newRow("cell: that problem, its own checkers after a separator")
        << false << strings({"a&&b", "全文比较", "|", "Own", "spj"}) << strings({"a&b", "全文比较"});
}

void PCDialogTest::checkerChoice()
{
    QFETCH(bool, fromHeader);
    QFETCH(QStringList, entries);
    QFETCH(QStringList, checkers);
    addProblem(QStringLiteral("p"), 1);
    addProblem(QStringLiteral("q"), 1);
    QVERIFY(writeFile(m_contest.problemDir(QStringLiteral("p")) + QStringLiteral("/spj"), "x", true));
    QVERIFY(writeFile(m_contest.problemDir(QStringLiteral("p")) + QStringLiteral("/Own"), "x", true));
    open();
    if (fromHeader)
        rightClickRow(2);
    else
        rightClickCell(2, 0);
    QCOMPARE(menuTexts(m_dialog->checkerMenu), entries);
    m_dialog->checkerMenu->hide();
    entry(m_dialog->checkerMenu, QStringLiteral("a&&b"))->trigger();
    QCOMPARE(row(2), checkers);

    finish();
    for (int column = 0; column < checkers.size(); ++column) {
        const QString problem = strings({"p", "q"})[column];
        const XmlFile file = loadXml(m_contest.problemConfigPath(problem));
        QCOMPARE(problemTask(file.document).checker, checkers[column]);
    }
}

void PCDialogTest::handWrittenConfigKept()
{
    addProblem(QStringLiteral("own"), 1);
    const QByteArray handWritten =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<problem type=\"TRA_0_4\" maker=\"someone\">"
        "<task checker=\"mine\"><subtask score=\"100\"><point in=\"own1.in\" out=\"own1.ans\" time=\"7\" mem=\"64\"/>"
        "</subtask></task></problem>\n";
    QVERIFY(writeFile(m_contest.problemConfigPath(QStringLiteral("own")), handWritten));
    open();
    QCOMPARE(row(0), strings({"7"}));
    QCOMPARE(row(1), strings({"64"}));
    QCOMPARE(row(2), strings({"mine"}));

    rightClickCell(1, 0);
    m_dialog->memoryMenu->hide();
    entry(m_dialog->memoryMenu, QStringLiteral("512"))->trigger();
    QCOMPARE(row(1), strings({"512"}));
    finish();
    QVERIFY(m_dialog->accepted);
    QCOMPARE(readFile(m_contest.problemConfigPath(QStringLiteral("own"))), handWritten);
}

void PCDialogTest::filesChangedSinceLoading_data()
{
    QTest::addColumn<QByteArray>("loaded");  // the .prb when the window loaded the contest; empty: none
    QTest::addColumn<QByteArray>("now");
    QTest::addColumn<QStringList>("shown");  // time, memory, checker
    QTest::addColumn<bool>("kept");

    const QByteArray prepared = "<?xml version=\"1.0\"?>\n<problem type=\"TRA_0_4\"><task checker=\"spj\">"
                                "<subtask score=\"100\"><point in=\"x1.in\" out=\"x1.ans\" time=\"3\" mem=\"512\"/>"
                                "</subtask></task></problem>\n";
    QByteArray ours = prepared;
    ours.replace("type=\"TRA_0_4\"", "type=\"TRA_0_4\" maker=\"pcdialog\"");
    QTest::newRow("hand-written, copied in since") << QByteArray() << prepared << strings({"3", "512", "spj"}) << true;
    QTest::newRow("the dialog's, replaced by a hand-written one")
        << ours << prepared << strings({"3", "512", "spj"}) << true;
    QTest::newRow("hand-written, replaced by the dialog's") << prepared << ours << strings({"3", "512", "spj"})
                                                            << false;
    QTest::newRow("hand-written, now cut short") << prepared << prepared.left(prepared.indexOf("<point"))
                                                 << strings({"1", "128", "spj"}) << true;
}

// The window's configurations may be older than the files: the dialog shows
// and guards what is on disk when it opens.
void PCDialogTest::filesChangedSinceLoading()
{
    QFETCH(QByteArray, loaded);
    QFETCH(QByteArray, now);
    QFETCH(QStringList, shown);
    QFETCH(bool, kept);

    addProblem(QStringLiteral("x"), 1);
    const QString file = m_contest.problemConfigPath(QStringLiteral("x"));
    if (!loaded.isEmpty())
        QVERIFY(writeFile(file, loaded));
    m_contest.loadProblems();
    QVERIFY(writeFile(file, now));
    open(false);
    QCOMPARE(table()->columnCount(), 1);
    QCOMPARE((QStringList{row(0).value(0), row(1).value(0), row(2).value(0)}), shown);
    finish();
    QVERIFY(m_dialog->accepted);
    if (kept) {
        QCOMPARE(readFile(file), now);
    } else {
        const XmlFile written = loadXml(file);
        QCOMPARE(problemTask(written.document).subtasks.value(0).points.value(0).in, QStringLiteral("x1.in"));
        QCOMPARE(problemDialogDefaults(written.document).time, QStringLiteral("3"));
    }
}

void PCDialogTest::closingWritesNothing()
{
    addProblem(QStringLiteral("a"), 2);
    open();
    rightClickRow(0);
    m_dialog->timeMenu->hide();
    entry(m_dialog->timeMenu, QStringLiteral("3"))->trigger();
    QCOMPARE(row(0), strings({"3"}));
    m_dialog->close();
    QVERIFY(!m_dialog->accepted);
    QVERIFY(!QFileInfo::exists(m_contest.problemConfigPath(QStringLiteral("a"))));
    QVERIFY(!QFileInfo::exists(m_contest.contestFilePath()));
    QVERIFY(m_contest.problemConfigs.isEmpty());
}

void PCDialogTest::vanishedFolderSkipped()
{
    addProblem(QStringLiteral("gone"), 1);
    addProblem(QStringLiteral("kept"), 1);
    // A name the contest file cannot hold gets no column at all.
    QVERIFY(QDir().mkpath(m_contest.problemDir(QStringLiteral("bad\x01name"))));
    open();
    QCOMPARE(table()->columnCount(), 2);
    QVERIFY(label()->text().contains(QStringLiteral("bad")));

    QVERIFY(QDir(m_contest.problemDir(QStringLiteral("gone"))).removeRecursively());
    finish();
    QVERIFY(m_dialog->accepted);
    QVERIFY(label()->text().contains(QStringLiteral("gone")));
    QVERIFY(!QFileInfo::exists(m_contest.problemDir(QStringLiteral("gone"))));
    QVERIFY(QFileInfo::exists(m_contest.problemConfigPath(QStringLiteral("kept"))));
    const QStringList order = queryUnder(loadXml(m_contest.contestFilePath()).document,
                                         QStringLiteral("problem")).texts();
    QCOMPARE(order, strings({"kept"}));
}


void PCDialogTest::standardStreams_data()
{
    QTest::addColumn<bool>("wholeRow");
    QTest::newRow("one cell") << false;
    QTest::newRow("row title") << true;
}

void PCDialogTest::standardStreams()
{
    QFETCH(bool, wholeRow);
    addProblem(QStringLiteral("a"), 1);
    addProblem(QStringLiteral("b"), 1);
    open();
    if (wholeRow)
        rightClickRow(3);
    else
        rightClickCell(3, 1);
    QCOMPARE(menuTexts(m_dialog->streamsMenu), strings({"文件", "标准输入输出"}));
    entry(m_dialog->streamsMenu, QStringLiteral("标准输入输出"))->trigger();
    m_dialog->streamsMenu->hide();
    QCOMPARE(row(3), wholeRow ? strings({"标准输入输出", "标准输入输出"}) : strings({"文件", "标准输入输出"}));
    finish();

    const TaskSpec a = problemTask(loadXml(m_contest.problemConfigPath(QStringLiteral("a"))).document);
    const TaskSpec b = problemTask(loadXml(m_contest.problemConfigPath(QStringLiteral("b"))).document);
    QCOMPARE(a.stdio, wholeRow);
    QCOMPARE(a.input, wholeRow ? QString() : QStringLiteral("a.in"));
    QVERIFY(b.stdio);
    QVERIFY(b.input.isEmpty() && b.output.isEmpty());
    // Opened again, the dialog shows what it wrote.
    open();
    QCOMPARE(row(3), wholeRow ? strings({"标准输入输出", "标准输入输出"}) : strings({"文件", "标准输入输出"}));
}

void PCDialogTest::testlibChecker_data()
{
    QTest::addColumn<QString>("chosen");
    QTest::addColumn<QString>("checker");
    QTest::addColumn<QString>("type");
    QTest::newRow("the folder's testlib checker") << QStringLiteral("check.cpp (testlib)") << QStringLiteral("check.cpp")
                                                  << QStringLiteral("testlib");
    QTest::newRow("one under files/") << QStringLiteral("files/chk.cpp (testlib)") << QStringLiteral("files/chk.cpp")
                                      << QStringLiteral("testlib");
    QTest::newRow("a shared checker instead") << QStringLiteral("全文比较") << QStringLiteral("全文比较") << QString();
}

void PCDialogTest::testlibChecker()
{
    QFETCH(QString, chosen);
    QFETCH(QString, checker);
    QFETCH(QString, type);
    addProblem(QStringLiteral("p"), 2);
    const QByteArray source = "#include \"testlib.h\"\nint main(int c, char **v) { registerTestlibCmd(c, v); }\n";
    const QString dir = m_contest.problemDir(QStringLiteral("p"));
    QVERIFY(writeFile(dir + QStringLiteral("/check.cpp"), source));
    QVERIFY(writeFile(dir + QStringLiteral("/files/chk.cpp"), source));
    QVERIFY(writeFile(dir + QStringLiteral("/files/val.cpp"), packagefixture::Validator));
    QVERIFY(writeFile(dir + QStringLiteral("/spj"), "x", true));
    open();
    // The folder's own testlib checker is the one it starts with.
    QCOMPARE(row(2), strings({"check.cpp (testlib)"}));
    rightClickCell(2, 0);
    QCOMPARE(menuTexts(m_dialog->checkerMenu),
             strings({"a&&b", "全文比较", "|", "spj", "check.cpp (testlib)", "files/chk.cpp (testlib)"}));
    m_dialog->checkerMenu->hide();
    entry(m_dialog->checkerMenu, chosen)->trigger();
    QCOMPARE(row(2), QStringList{chosen});
    // The column shows the file's name; the whole choice is its tip.
    const QTableWidgetItem *cell = table()->item(2, 0);
    QCOMPARE(cell->text(), type.isEmpty() ? chosen : checker.section(u'/', -1));
    QCOMPARE(cell->toolTip(), type.isEmpty() ? QString() : chosen);
    finish();

    const TaskSpec task = problemTask(loadXml(m_contest.problemConfigPath(QStringLiteral("p"))).document);
    QCOMPARE(task.checker, checker);
    QCOMPARE(task.checkerType, type);
    QCOMPARE(task.subtasks.size(), 2);
    // Opened again, the choice shows as it was made.
    open();
    QCOMPARE(row(2), QStringList{chosen});
}

void PCDialogTest::package_data()
{
    QTest::addColumn<bool>("interactive");
    QTest::newRow("checker") << false;
    QTest::newRow("checker and interactor") << true;
}

// A package copied into data/, F4 and 完成: configured from its problem.xml.
void PCDialogTest::package()
{
    QFETCH(bool, interactive);
    addProblem(QStringLiteral("plain"), 1);
    QVERIFY(packagefixture::writePackage(m_contest.problemDir(QStringLiteral("sum")), interactive));
    open();
    const QString streams = interactive ? QStringLiteral("交互") : QStringLiteral("标准输入输出");
    QCOMPARE(row(0), strings({"1", "1"}));
    QCOMPARE(row(1), strings({"128", "256"}));
    QCOMPARE(row(2), (QStringList{QStringLiteral("全文比较"), QStringLiteral("files/check.cpp (testlib)")}));
    QCOMPARE(row(3), (QStringList{QStringLiteral("文件"), streams}));
    QVERIFY(label()->text().isEmpty());
    rightClickCell(3, 1);
    QCOMPARE(menuTexts(m_dialog->streamsMenu).contains(QStringLiteral("交互")), interactive);
    m_dialog->streamsMenu->hide();
    finish();
    QVERIFY(!m_dialog->isVisible());

    const XmlFile file = loadXml(m_contest.problemConfigPath(QStringLiteral("sum")));
    QVERIFY(configFault(file).isNull());
    const TaskSpec task = problemTask(file.document);
    QVERIFY(task.stdio);
    QCOMPARE(task.checker, QStringLiteral("files/check.cpp"));
    QCOMPARE(task.checkerType, CheckerTestlib);
    QStringList points;
    QList<int> scores;
    for (const SubtaskSpec &subtask : task.subtasks) {
        scores.append(subtask.score);
        for (const PointSpec &point : subtask.points)
            points.append(point.in + u'|' + point.out + u'|' + QString::number(point.time) + u'|'
                          + QString::number(point.mem));
    }
    QCOMPARE(scores, (QList<int>{20, 40, 40}));
    QCOMPARE(points, strings({"tests/01|tests/01.a|1|256", "tests/02|tests/02.a|1|256", "tests/03|tests/03.a|1|256",
                              "tests/04|tests/04.a|1|256"}));
    const QDomElement interactor = queryUnder(file.document, QStringLiteral("interactor")).item(0);
    QCOMPARE(interactor.attribute(QStringLiteral("path")), interactive ? QStringLiteral("files/interactor.cpp")
                                                                        : QString());
    // Opened again, the dialog shows what it wrote.
    open();
    QCOMPARE(row(2), (QStringList{QStringLiteral("全文比较"), QStringLiteral("files/check.cpp (testlib)")}));
    QCOMPARE(row(3), (QStringList{QStringLiteral("文件"), streams}));
}

void PCDialogTest::faultyPackage()
{
    addProblem(QStringLiteral("plain"), 1);
    const QString dir = m_contest.problemDir(QStringLiteral("sum"));
    QVERIFY(packagefixture::writePackage(dir));
    QVERIFY(writeFile(dir + QStringLiteral("/problem.xml"), "<problem>\n<judging>\n<testset>\n</judging>"));
    open();
    QVERIFY2(label()->text().contains(QStringLiteral("试题 sum：problem.xml 第 4 行")), qPrintable(label()->text()));
    finish();
    // The others are written; the package is not, and the dialog stays to say so.
    QVERIFY(m_dialog->accepted);
    QVERIFY(m_dialog->isVisible());
    QVERIFY(label()->text().contains(QStringLiteral("试题 sum 未配置")));
    QVERIFY(!QFileInfo::exists(m_contest.problemConfigPath(QStringLiteral("sum"))));
    QVERIFY(QFileInfo::exists(m_contest.problemConfigPath(QStringLiteral("plain"))));
}

void PCDialogTest::graders()
{
    addProblem(QStringLiteral("sum"), 2);
    const QString dir = m_contest.problemDir(QStringLiteral("sum"));
    QVERIFY(writeFile(dir + QStringLiteral("/grader.cpp"), "int sum(int, int);\nint main() {}\n"));
    QVERIFY(writeFile(dir + QStringLiteral("/sum.h"), "int sum(int, int);\n"));
    open();
    finish();
    const XmlFile file = loadXml(m_contest.problemConfigPath(QStringLiteral("sum")));
    QCOMPARE(problemSource(file.document).graders, strings({"grader.cpp", "sum.h"}));
    QStringList commands;
    for (const LanguageSpec &language : problemLanguages(file.document))
        commands.append(language.cmd);
    QCOMPARE(commands, strings({"g++ -o sum sum.cpp grader.cpp -lm"}));
    QCOMPARE(problemTask(file.document).subtasks.size(), 2);
}

QTEST_MAIN(PCDialogTest)
#include "tst_pcdialog.moc"
