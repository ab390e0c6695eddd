// Traditional problems judged end to end: the judging and checks every
// case of this suite shares, and the judging as an ordinary user.

#include "traditionalsite.h"

#include "dirs.h"
#include "runner.h"

#include <QProcess>
#include <QSignalSpy>

#include <cstdio>
#include <cstring>

using namespace traditional;

bool TestTraditional::compileTool(const QByteArray &source, const QString &name)
{
    const QString sourcePath = m_tools.path() + u'/' + name + u".c"_s;
    if (!writeFile(sourcePath, source))
        return false;
    QProcess gcc;
    gcc.start(u"gcc"_s, {u"-O1"_s, u"-o"_s, m_tools.path() + u'/' + name, sourcePath});
    return gcc.waitForFinished(60000) && gcc.exitStatus() == QProcess::NormalExit
           && gcc.exitCode() == 0;
}

void TestTraditional::initTestCase()
{
    registerJudgeMetaTypes();
    // The stand-in compilers here are scripts beside the contest, out of a
    // sandboxed compiler's sight.
    setCompilerSandboxForTesting(false);
    QVERIFY(m_tools.isValid());
    QVERIFY(QDir::setCurrent(QStringLiteral(QXJ_BUILD_DIR)));
    QVERIFY2(QFileInfo(u"checker/"_s + DefaultChecker).isExecutable(),
             "the built full-text checker is missing from the build directory");
    QVERIFY(compileTool(ActorC, u"actor"_s));
    QVERIFY(compileTool(SumC, u"sumbin"_s));
    m_actor = m_tools.path() + u"/actor"_s;
    m_sumBinary = m_tools.path() + u"/sumbin"_s;
}

void TestTraditional::judge(Site &site, const QStringList &players, Outcome &run,
                            const std::function<void(TestCore &)> &whileRunning)
{
    site.contest.loadProblems();
    QVERIFY2(site.contest.problemConfigs.contains(Problem), "problem configuration not loaded");
    TestCore core(site.contest);
    for (const QString &player : players) {
        // Players are the folders under src.
        QVERIFY(QDir().mkpath(site.contest.playerDir(player)));
        auto cell = std::make_unique<SiteItem>();
        cell->player = player;
        cell->problem = Problem;
        cell->displayName = player;
        core.workQueue << cell.get();
        run.cells.push_back(std::move(cell));
    }
    core.problemConfigs = &site.contest.problemConfigs;
    core.problemNames = site.contest.problemNames;

    Recorder recorder;
    connect(&core, &TestCore::sendInfo, &recorder, &Recorder::info);
    connect(&core, &TestCore::setItem, &recorder, &Recorder::item);
    connect(&core, &TestCore::setSelect, &recorder, &Recorder::select);
    connect(&core, &TestCore::testEnd, &recorder, &Recorder::end);
    QSignalSpy ended(&recorder, &Recorder::ended);

    core.startJudging();
    if (whileRunning) {
        whileRunning(core);
        if (QTest::currentTestFailed())
            core.requestStop();
    } else {
        ended.wait(JudgeTimeoutMs);
    }
    core.wait();
    QCoreApplication::sendPostedEvents();
    run.ended = ended.count() == 1;
    run.rows = recorder.rows;
    run.items = recorder.items;
    run.itemCells = recorder.itemCells;
    run.selects = recorder.selects;
}

bool TestTraditional::judgeCell(Site &site, const QString &player, QDomDocument &result)
{
    [&] {
        Outcome run;
        judge(site, {player}, run);
        QVERIFY2(run.ended, "the run did not end");
        QCOMPARE(run.rows.last().kind, int(ViewInfo::End));
        QCOMPARE(run.rows.last().text, u"- 测评结束 -"_s);
        checkCell(site, run, 0, result);
    }();
    return !QTest::currentTestFailed();
}

void TestTraditional::checkCell(const Site &site, const Outcome &run, int cell,
                                QDomDocument &result)
{
    // Rows of this cell: from its heading to the next heading or the end row.
    int first = -1;
    for (int i = 0, seen = -1; i < run.rows.size(); ++i) {
        if (run.rows[i].kind == ViewInfo::Heading && ++seen == cell) {
            first = i;
            break;
        }
    }
    QVERIFY2(first >= 0, "no heading row for the cell");
    const QString player = run.cells[cell]->player;
    QVERIFY(run.rows[first].text.contains(player));
    QList<ViewInfo> rows;
    for (int i = first + 1; i < run.rows.size() && run.rows[i].kind != ViewInfo::Heading
                            && run.rows[i].kind != ViewInfo::End;
         ++i)
        rows << run.rows[i];

    // Summaries: "?" first, then the final one matching the saved file.
    QList<ScoreInfo> items;
    for (int i = 0; i < run.items.size(); ++i)
        if (run.itemCells[i] == run.cells[cell].get())
            items << run.items[i];
    QCOMPARE(items.size(), 2);
    QCOMPARE(items[0], (ScoreInfo{0, 0.0, TaskState::Judging}));

    XmlFile file;
    QVERIFY2(file.load(site.resultPath(player)), "no result file");
    result = file.document;
    const ScoreInfo saved = readScoreInfo(result);
    QCOMPARE(saved.score, items[1].score);
    QCOMPARE(saved.state, items[1].state);
    QVERIFY(qAbs(saved.time - items[1].time) <= 1e-5 * qMax(1.0, items[1].time));
    QCOMPARE(run.selects.value(cell), saved.state == TaskState::JudgeError);

    const QDomElement task = result.documentElement();
    QCOMPARE(task.tagName(), ResultXml::Task);
    const ElementQuery notes = queryWithin(task, ResultXml::Note);
    if (notes.count() > 0) {
        // Failed before any point: one message row holding the note.
        QCOMPARE(queryWithin(task, ResultXml::Subtask).count(), 0);
        QCOMPARE(rows.size(), 1);
        QCOMPARE(rows[0].kind, int(ViewInfo::Message));
        QCOMPARE(rows[0].text, notes.item(0).text());
        const int style = saved.state == TaskState::JudgeError ? 3 : 1;
        QCOMPARE(rows[0].background, messageRow(rows[0].text, style).background);
        QCOMPARE(saved.score, 0);
        QCOMPARE(saved.time, 0.0);
        return;
    }
    // Point rows numbered across subtasks, each subtask closed by its row.
    int row = 0;
    int number = 0;
    int total = 0;
    const ElementQuery subtasks = queryWithin(task, ResultXml::Subtask);
    for (int s = 0; s < subtasks.count(); ++s) {
        const QDomElement subtask = subtasks.item(s);
        const ElementQuery points = queryWithin(subtask, ResultXml::Point);
        for (int p = 0; p < points.count(); ++p) {
            const QDomElement point = points.item(p);
            QVERIFY(row < rows.size());
            QCOMPARE(rows[row].kind, int(ViewInfo::Point));
            QCOMPARE(rows[row].number, QString::number(++number));
            QCOMPARE(rows[row].text, attributeText(point, ResultXml::Note));
            QCOMPARE(rows[row].background,
                     stateRowColour(attributeText(point, ResultXml::State).at(0).toLatin1()));
            ++row;
        }
        QVERIFY(row < rows.size());
        QCOMPARE(rows[row].kind, int(ViewInfo::Subtask));
        QCOMPARE(rows[row].text, attributeText(subtask, ResultXml::Score));
        total += attributeInt(subtask, ResultXml::Score);
        ++row;
    }
    QCOMPARE(row, rows.size());
    QCOMPARE(total, saved.score);
}

void TestTraditional::judgeAndStop(Site &site, const QString &player,
                                   const std::function<bool()> &ready)
{
    const QByteArray previous = "<task score=\"42\" time=\"1.5\" state=\"N\"/>\n";
    QVERIFY(writeFile(site.resultPath(player), previous));
    QElapsedTimer timer;
    timer.start();
    Outcome run;
    judge(site, {player}, run, [&](TestCore &core) {
        QTRY_VERIFY_WITH_TIMEOUT(ready(), 60000);
        core.requestStop();
    });
    QVERIFY2(timer.elapsed() < 9000, "the stop waited for a time-out");
    QVERIFY(!run.ended);
    QCOMPARE(readFile(site.resultPath(player)), previous);
    QCOMPARE(run.items, (QList<ScoreInfo>{{0, 0.0, TaskState::Judging}}));
    for (const ViewInfo &row : run.rows)
        QCOMPARE(row.kind, int(ViewInfo::Heading));
}

// One run of the players' cells of "sum" in the contest at root: the lines
// "<player> <point states> <score> <state>" and a last line telling whether
// the scratch area could then be emptied ("emptied", or what stayed and why).
QStringList traditional::judgeAndEmpty(const QString &root, const QStringList &players)
{
    Contest contest;
    contest.rootDir = root;
    contest.loadProblems();
    if (!contest.problemConfigs.contains(Problem))
        return {u"no problem"_s};
    TestCore core(contest);
    std::vector<std::unique_ptr<SiteItem>> cells;
    for (const QString &player : players) {
        cells.push_back(std::make_unique<SiteItem>());
        cells.back()->player = player;
        cells.back()->problem = Problem;
        core.workQueue << cells.back().get();
    }
    core.problemConfigs = &contest.problemConfigs;
    core.problemNames = contest.problemNames;
    QSignalSpy ended(&core, &TestCore::testEnd);
    core.startJudging();
    if (!ended.wait(JudgeTimeoutMs))
        core.requestStop();
    core.wait();

    QStringList lines;
    for (const QString &player : players) {
        XmlFile file;
        if (!file.load(contest.resultFilePath(player, Problem))) {
            lines << player + u" no result"_s;
            continue;
        }
        const ScoreInfo info = readScoreInfo(file.document);
        QString states;
        const ElementQuery points = queryUnder(file.document, ResultXml::Point);
        for (int i = 0; i < points.count(); ++i)
            states += attributeText(points.item(i), ResultXml::State);
        QString notes = queryUnder(file.document, ResultXml::Note).item(0).text();
        for (int i = 0; i < points.count(); ++i) {
            if (attributeText(points.item(i), ResultXml::State) == u"E")
                notes += attributeText(points.item(i), ResultXml::Note);
        }
        lines << u"%1 %2 %3 %4%5"_s.arg(player, states)
                     .arg(info.score)
                     .arg(QLatin1Char(info.state))
                     .arg(notes.isEmpty() ? QString() : u" "_s + notes.replace(u'\n', u' '));
    }
    QString reason;
    lines << (emptyScratchDir(contest.tmpDir(), &reason) ? u"emptied"_s : reason);
    return lines;
}

int main(int argc, char **argv)
{
    // The judging of lockedLeftovers, run as an ordinary user.
    if (argc >= 4 && std::strcmp(argv[1], "--judge") == 0) {
        QCoreApplication app(argc, argv);
        registerJudgeMetaTypes();
        QStringList players;
        for (int i = 3; i < argc; ++i)
            players << QString::fromLocal8Bit(argv[i]);
        for (const QString &line : judgeAndEmpty(QString::fromLocal8Bit(argv[2]), players))
            std::puts(line.toUtf8().constData());
        return 0;
    }
    QCoreApplication app(argc, argv);
    TestTraditional test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
