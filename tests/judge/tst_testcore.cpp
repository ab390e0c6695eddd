// The judge thread: its queue, the start and stop handshake, failed
// problems and what is saved and reported of each cell.

#include "testcorefixture.h"

#include "checkerfixture.h"
#include "contest.h"
#include "contestfiles.h"
#include "gridcells.h"
#include "testfiles.h"
#include "testcore.h"
#include "viewinfo.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTest>

#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace testcorefixture;

namespace {

// Runs only the checker on the judge thread, so that a stop can land while
// it runs.
class CheckerCore : public TestCore
{
public:
    using TestCore::TestCore;
    QString workDir;
    QString problemDir;
    QString note = u"kept"_s;
    char state = '-';
    double ratio = 0.25;
    bool returned = true;

protected:
    void run() override
    {
        // As TestCore::run(), tell a thread-sanitizer build where the thread ends.
        const auto ended = qScopeGuard([this] { QtTsan::futexRelease(this); });
        returned = worker(0).runChecker(workDir, problemDir + u"/a1.in"_s,
                                        problemDir + u"/a1.out"_s, workDir + u"/a.out"_s,
                                        workDir + u"/check_info.txt"_s, note, state, ratio);
        worker(0).releaseProcesses();
    }
};

} // namespace

void TestTestCore::initTestCase()
{
    registerJudgeMetaTypes();
}

void TestTestCore::emptyQueue()
{
    CheckerContest fixture;
    TestCore core(fixture.contest);
    core.problemConfigs = &fixture.configs;
    Recorder recorder(&core);
    judgeToEnd(core, recorder);
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(recorder.events, (QStringList{u"info 4 "_s + EndText, u"end"_s}));
    QCOMPARE(recorder.infos.at(0).foreground, QColor(51, 51, 51));
    QVERIFY(!recorder.activeAtEnd);
    QVERIFY(!core.isRunActive());
}

void TestTestCore::cellWithoutConfigurationIsSkipped()
{
    CheckerContest fixture;
    fixture.addProblem(u"odd"_s, u"chk"_s, u"XYZ_0_4"_s);
    Row row(u"p1"_s, {u"gone"_s, u"odd"_s});
    TestCore core(fixture.contest);
    core.problemConfigs = &fixture.configs;
    core.workQueue = {row.cell(0), row.cell(1)};
    Recorder recorder(&core);
    judgeToEnd(core, recorder);
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(recorder.events, (QStringList{u"info 0 p1 - odd"_s, u"item p1/odd ?"_s,
                                           u"select p1/odd 0"_s, u"info 4 "_s + EndText,
                                           u"end"_s}));
    QVERIFY(!QFileInfo::exists(fixture.contest.resultDir()));
}

void TestTestCore::unknownKind_data()
{
    QTest::addColumn<QString>("config");
    QTest::addColumn<QString>("player");
    QTest::addColumn<QString>("heading");

    QTest::newRow("unknown kind") << u"<problem type=\"TRA_0_5\"><task checker=\"c\"/></problem>"_s
                                  << u"p1"_s << u"p1 - sum"_s;
    QTest::newRow("no type attribute") << u"<problem><task checker=\"c\"/></problem>"_s << u"p1"_s
                                       << u"p1 - sum"_s;
    QTest::newRow("lower-case kind") << u"<problem type=\"tra_0_4\"/>"_s << u"p1"_s
                                     << u"p1 - sum"_s;
    QTest::newRow("malformed file") << u"<problem type=\"TRA_0_4\""_s << u"p1"_s << u"p1 - sum"_s;
    QTest::newRow("std heading") << u"<problem/>"_s << u"std"_s << u"\"sum\"的标程"_s;
}

void TestTestCore::unknownKind()
{
    QFETCH(QString, config);
    QFETCH(QString, player);
    QFETCH(QString, heading);

    CheckerContest fixture;
    fixture.addRawProblem(u"sum"_s, config);
    Row row(player, {u"sum"_s});
    TestCore core(fixture.contest);
    core.problemConfigs = &fixture.configs;
    core.workQueue = {row.cell(0)};
    Recorder recorder(&core);
    judgeToEnd(core, recorder);
    if (QTest::currentTestFailed())
        return;
    const QString key = player + u"/sum"_s;
    QCOMPARE(recorder.events, (QStringList{u"info 0 "_s + heading, u"item "_s + key + u" ?"_s,
                                           u"select "_s + key + u" 0"_s, u"info 4 "_s + EndText,
                                           u"end"_s}));
    {
        QMutexLocker locker(&core.worker(0).judgeMutex);  // the thread's last words came under it
        QCOMPARE(core.worker(0).lastState, '?');
    }
    QVERIFY(!QFileInfo::exists(fixture.contest.resultFilePath(player, u"sum"_s)));
}

// Whatever the judging steps decide, exactly the cells that end in "E" stay
// selected. An answer problem whose checker is missing always ends in "E".
void TestTestCore::selectedExactlyWhenEndingInE()
{
    CheckerContest fixture;
    fixture.addProblem(u"ans"_s, u"nowhere"_s, u"ANS_0_4"_s);
    fixture.addProblem(u"tra"_s, u"nowhere"_s, u"TRA_0_4"_s);
    fixture.addProblem(u"odd"_s, u"nowhere"_s, u"ODD"_s);
    Row row(u"p1"_s, {u"ans"_s, u"odd"_s, u"tra"_s});
    makePath(fixture.contest.playerDir(u"p1"_s));
    QFile answer(fixture.contest.playerFile(u"p1"_s, QString(), u"a1.ans"_s));
    QVERIFY(answer.open(QIODevice::WriteOnly));
    answer.write("42\n");
    answer.close();

    TestCore core(fixture.contest);
    core.problemConfigs = &fixture.configs;
    core.problemNames = {u"ans"_s, u"odd"_s, u"tra"_s};
    core.workQueue = {row.cell(0), row.cell(1), row.cell(2)};
    Recorder recorder(&core);
    judgeToEnd(core, recorder, 60000);
    if (QTest::currentTestFailed())
        return;

    for (SiteItem *cell : row.head.cells) {
        QVERIFY2(recorder.selectFlag.contains(cell), qPrintable(cell->problem));
        QCOMPARE(recorder.selectFlag.value(cell), recorder.lastItemState.value(cell) == 'E');
    }
    QCOMPARE(recorder.lastItemState.value(row.cell(0)), 'E');
    QCOMPARE(recorder.selectFlag.value(row.cell(0)), true);
    QCOMPARE(recorder.selectFlag.value(row.cell(1)), false);
    // Judged cells are stored; the one of unknown kind is not.
    XmlFile stored;
    QVERIFY(stored.load(fixture.contest.resultFilePath(u"p1"_s, u"ans"_s)));
    QCOMPARE(readScoreInfo(stored.document).state, 'E');
    QVERIFY(!QFileInfo::exists(fixture.contest.resultFilePath(u"p1"_s, u"odd"_s)));
}

// The run is active from the moment startJudging() returns, however quickly
// the thread would get through its queue.
void TestTestCore::startHandshake()
{
    CheckerContest fixture;
    for (int round = 0; round < 50; ++round) {
        TestCore core(fixture.contest);
        core.problemConfigs = &fixture.configs;
        Recorder recorder(&core);
        QVERIFY(!core.isRunActive());
        core.worker(0).judgeMutex.lock();  // holds the thread at its first flag test
        core.startJudging();
        const bool active = core.isRunActive();
        core.worker(0).judgeMutex.unlock();
        QVERIFY2(active, qPrintable(QString::number(round)));
        QTRY_VERIFY_WITH_TIMEOUT(recorder.ended, 30000);
        QVERIFY(core.wait(30000));
        QVERIFY(!core.isRunActive());
    }
}

void TestTestCore::stopBeforeFirstCell()
{
    CheckerContest fixture;
    fixture.addProblem(u"odd"_s, u"chk"_s, u"ODD"_s);
    Row row(u"p1"_s, {u"odd"_s});
    TestCore core(fixture.contest);
    JudgeWorker &worker = core.worker(0);
    core.problemConfigs = &fixture.configs;
    core.workQueue = {row.cell(0)};
    Recorder recorder(&core);
    worker.judgeMutex.lock();
    core.startJudging();
    worker.keepRunning = false;
    worker.judgeMutex.unlock();
    QVERIFY(core.wait(30000));
    QCoreApplication::processEvents();
    QVERIFY(recorder.events.isEmpty());
    QVERIFY(!core.isRunActive());
}

void TestTestCore::stopWhileCheckerRuns()
{
    CheckerContest fixture;
    fixture.addProblem(u"sum"_s, u"chk"_s);
    const QString selfPid = fixture.dir.filePath(u"self.pid"_s);
    const QString childPid = fixture.dir.filePath(u"child.pid"_s);
    QVERIFY(fixture.writeProblemChecker(u"sum"_s, u"chk"_s,
                                        "sleep 60 & echo $! > '" + childPid.toUtf8()
                                            + "'; echo $$ > '" + selfPid.toUtf8()
                                            + "'; wait"));
    CheckerCore core(fixture.contest);
    JudgeWorker &worker = core.worker(0);
    fixture.aim(core, u"sum"_s);
    core.workDir = fixture.workDir();
    core.problemDir = fixture.contest.problemDir(u"sum"_s);
    core.start();

    const auto checkerRunning = [&] {
        QMutexLocker locker(&worker.judgeMutex);
        return worker.checkerPid != 0 && readPid(childPid) != 0 && readPid(selfPid) != 0;
    };
    QTRY_VERIFY_WITH_TIMEOUT(checkerRunning(), 30000);

    QElapsedTimer timer;
    timer.start();
    core.requestStop();
    const qint64 elapsed = timer.elapsed();
    QVERIFY(core.isFinished());
    QVERIFY2(elapsed < 8000, qPrintable(QString::number(elapsed)));
    QVERIFY(!core.returned);
    QCOMPARE(core.note, u"kept"_s);
    QCOMPARE(core.state, '-');
    QCOMPARE(core.ratio, 0.25);
    QCOMPARE(worker.checkerPid, qint64(0));
    QTRY_VERIFY_WITH_TIMEOUT(!processAlive(readPid(selfPid)), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(!processAlive(readPid(childPid)), 10000);
}

// A stop at any moment of a run ends it without deadlock, and nothing
// follows the stop.
void TestTestCore::stopLandsAnywhere()
{
    CheckerContest fixture;
    fixture.addProblem(u"odd"_s, u"chk"_s, u"ODD"_s);
    fixture.addProblem(u"tra"_s, u"chk"_s, u"TRA_0_4"_s);
    Row row(u"p1"_s, {u"odd"_s, u"tra"_s});
    for (int round = 0; round < 30; ++round) {
        TestCore core(fixture.contest);
        core.problemConfigs = &fixture.configs;
        for (int i = 0; i < 20; ++i)
            core.workQueue << row.cell(0) << row.cell(1);
        Recorder recorder(&core);
        core.startJudging();
        QTest::qWait(round % 5);
        QElapsedTimer timer;
        timer.start();
        core.requestStop();
        QVERIFY2(timer.elapsed() < 10000, qPrintable(QString::number(timer.elapsed())));
        QVERIFY(core.isFinished());
        QVERIFY(!core.isRunActive());
        QTest::qWait(5);
        // Either the stop came after the end, or the run ended without its
        // end row and testEnd().
        if (recorder.ended)
            QCOMPARE(recorder.events.last(), u"end"_s);
        else
            QVERIFY(!recorder.events.contains(u"info 4 "_s + EndText));
    }
}

void TestTestCore::failProblem_data()
{
    QTest::addColumn<char>("state");
    QTest::addColumn<QString>("note");
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QColor>("background");

    const QColor failure(180, 180, 180);
    const QColor judgeError(232, 53, 223);
    QTest::newRow("one line feed removed") << 'C' << u"x\n"_s << u"x"_s << failure;
    QTest::newRow("only one removed") << 'C' << u"x\n\n"_s << u"x\n"_s << failure;
    QTest::newRow("no line feed") << 'F' << u"找不到文件"_s << u"找不到文件"_s << failure;
    QTest::newRow("just a line feed") << 'T' << u"\n"_s << QString() << failure;
    QTest::newRow("inner lines kept") << 'C' << u"编译错误:\na.cpp:1: error\n"_s
                                      << u"编译错误:\na.cpp:1: error"_s << failure;
    QTest::newRow("control characters") << 'C' << u"a.cpp:1:1: error: stray '\\1'\n\x01;\x1b[0m\n"_s
                                        << u"a.cpp:1:1: error: stray '\\1'\n\uFFFD;\uFFFD[0m"_s
                                        << failure;
    QTest::newRow("judge error") << 'E' << u"临时目录无法清空: 011"_s
                                 << u"临时目录无法清空: 011"_s << judgeError;
}

void TestTestCore::failProblem()
{
    QFETCH(char, state);
    QFETCH(QString, note);
    QFETCH(QString, stored);
    QFETCH(QColor, background);

    CheckerContest fixture;
    fixture.addProblem(u"sum"_s, u"chk"_s);
    Row row(u"p1"_s, {u"sum"_s});
    TestCore core(fixture.contest);
    JudgeWorker &worker = core.worker(0);
    fixture.aim(core, u"sum"_s);
    worker.currentItem = row.cell(0);
    QSignalSpy infos(&core, &TestCore::sendInfo);
    QSignalSpy items(&core, &TestCore::setItem);

    worker.resetResultDoc();
    QVERIFY(worker.failProblem(state, note));
    QCOMPARE(worker.lastState, state);

    XmlFile file;
    QVERIFY(file.load(fixture.contest.resultFilePath(u"p1"_s, u"sum"_s)));
    const QDomElement task = file.document.documentElement();
    QCOMPARE(task.tagName(), u"task"_s);
    QCOMPARE(task.attribute(u"score"_s), u"0"_s);
    QCOMPARE(task.attribute(u"time"_s), u"0"_s);
    QCOMPARE(task.attribute(u"state"_s), QString(QLatin1Char(state)));
    QCOMPARE(task.elementsByTagName(u"note"_s).size(), 1);
    QCOMPARE(task.firstChildElement(u"note"_s).text(), stored);

    QCOMPARE(infos.size(), 1);
    const ViewInfo row0 = infos.at(0).at(0).value<ViewInfo>();
    QCOMPARE(row0.kind, 1);
    QCOMPARE(row0.text, stored);
    QCOMPARE(row0.background, background);
    QCOMPARE(items.size(), 1);
    QCOMPARE(items.at(0).at(0).value<SiteItem *>(), row.cell(0));
    QCOMPARE(items.at(0).at(1).value<ScoreInfo>(), (ScoreInfo{0, 0.0, state}));
}

void TestTestCore::failProblemAfterStop()
{
    CheckerContest fixture;
    fixture.addProblem(u"sum"_s, u"chk"_s);
    Row row(u"p1"_s, {u"sum"_s});
    const QString resultFile = fixture.contest.resultFilePath(u"p1"_s, u"sum"_s);
    makePath(fixture.contest.resultProblemDir(u"sum"_s));
    const QByteArray previous = "<task score=\"7\" time=\"0.5\" state=\"N\"/>\n";
    {
        QFile file(resultFile);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(previous);
    }
    TestCore core(fixture.contest);
    JudgeWorker &worker = core.worker(0);
    fixture.aim(core, u"sum"_s);
    worker.currentItem = row.cell(0);
    worker.lastState = '?';
    QSignalSpy infos(&core, &TestCore::sendInfo);
    QSignalSpy items(&core, &TestCore::setItem);
    core.requestStop();

    worker.resetResultDoc();
    QVERIFY(!worker.failProblem('C', u"编译错误:\n"_s));
    QCOMPARE(worker.lastState, '?');
    QCOMPARE(infos.size(), 0);
    QCOMPARE(items.size(), 0);
    QFile file(resultFile);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), previous);
}

void TestTestCore::xmlSafeText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("safe");

    const QChar high(0xD83D);
    const QChar low(0xDE00);
    QTest::newRow("plain") << u"答案正确 ok"_s << u"答案正确 ok"_s;
    QTest::newRow("tab, line feed, carriage return") << u"a\tb\nc\rd"_s << u"a\tb\nc\rd"_s;
    QTest::newRow("NUL and escape") << QString(u"a\0b\x1b"_s) << u"a\uFFFDb\uFFFD"_s;
    QTest::newRow("surrogate pair") << QString(high) + low << QString(high) + low;
    QTest::newRow("lone high surrogate") << QString(high) + u'x' << u"\uFFFDx"_s;
    QTest::newRow("lone low surrogate") << u'x' + QString(low) << u"x\uFFFD"_s;
    QTest::newRow("non-characters") << u"\uFFFE\uFFFF"_s << u"\uFFFD\uFFFD"_s;
}

void TestTestCore::xmlSafeText()
{
    QFETCH(QString, text);
    QFETCH(QString, safe);
    QCOMPARE(::xmlSafeText(text), safe);
    // What it gives survives a round trip through a file.
    QDomDocument document;
    QDomElement root = document.createElement(u"task"_s);
    document.appendChild(root);
    root.setAttribute(u"note"_s, ::xmlSafeText(text));
    QDomDocument back;
    QVERIFY(back.setContent(document.toByteArray(0)));
}

void TestTestCore::resetResultDocStartsAfresh()
{
    CheckerContest fixture;
    TestCore core(fixture.contest);
    JudgeWorker &worker = core.worker(0);
    worker.resetResultDoc();
    worker.taskElement.appendChild(worker.resultDoc.createElement(u"subtask"_s));
    worker.taskElement.setAttribute(u"score"_s, 5);
    worker.resetResultDoc();
    QVERIFY(worker.taskElement.attributes().isEmpty());
    QVERIFY(!worker.taskElement.hasChildNodes());
    QCOMPARE(worker.resultDoc.documentElement(), worker.taskElement);
    QVERIFY(worker.resultDoc.toString(0).startsWith(
        u"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<task/>"_s));
}

// A result directory that cannot be made (a file stands in its way) loses
// the result file, nothing else.
void TestTestCore::saveResultIntoBlockedPath()
{
    CheckerContest fixture;
    fixture.addProblem(u"sum"_s, u"chk"_s);
    {
        QFile blocker(fixture.contest.resultDir());
        QVERIFY(blocker.open(QIODevice::WriteOnly));
    }
    Row row(u"p1"_s, {u"sum"_s});
    TestCore core(fixture.contest);
    JudgeWorker &worker = core.worker(0);
    fixture.aim(core, u"sum"_s);
    worker.currentItem = row.cell(0);
    QSignalSpy items(&core, &TestCore::setItem);
    worker.resetResultDoc();
    QVERIFY(worker.failProblem('F', u"找不到文件"_s));
    QCOMPARE(items.size(), 1);
    QVERIFY(QFileInfo(fixture.contest.resultDir()).isFile());
}

void TestTestCore::reportFollowsTheRow_data()
{
    QTest::addColumn<bool>("withRow");
    QTest::addColumn<QStringList>("shown");
    QTest::addColumn<QStringList>("hidden");

    // The grid's columns may differ from the contest's order (a problem
    // added since): the report follows the grid's row when there is one.
    QTest::newRow("the row's cells, in column order")
        << true << QStringList{u"zeta"_s, u"alpha"_s} << QStringList{u"extra"_s};
    QTest::newRow("no row: the contest's problems")
        << false << QStringList{u"alpha"_s, u"zeta"_s, u"extra"_s} << QStringList();
}

void TestTestCore::reportFollowsTheRow()
{
    QFETCH(bool, withRow);
    QFETCH(QStringList, shown);
    QFETCH(QStringList, hidden);

    CheckerContest fixture;
    for (const QString &problem : {u"alpha"_s, u"zeta"_s, u"extra"_s})
        fixture.addProblem(problem, u"chk"_s);
    makePath(fixture.contest.playerDir(u"p1"_s));
    Row row(u"p1"_s, {u"zeta"_s, u"alpha"_s});
    SiteItem loose;
    loose.player = u"p1"_s;
    loose.problem = u"zeta"_s;
    TestCore core(fixture.contest);
    JudgeWorker &worker = core.worker(0);
    fixture.aim(core, u"zeta"_s);
    core.problemNames = {u"alpha"_s, u"zeta"_s, u"extra"_s};
    worker.currentItem = withRow ? row.cell(0) : &loose;
    worker.resetResultDoc();
    QVERIFY(worker.failProblem('C', u"编译错误"_s));

    QFile report(fixture.contest.playerDir(u"p1"_s) + u"/result.html"_s);
    QVERIFY(report.open(QIODevice::ReadOnly));
    const QString html = QString::fromUtf8(report.readAll());
    qsizetype last = -1;
    for (const QString &problem : shown) {
        const qsizetype at = html.indexOf(problem + u": "_s);
        QVERIFY2(at > last, qPrintable(problem));
        last = at;
    }
    for (const QString &problem : hidden)
        QVERIFY2(!html.contains(problem + u": "_s), qPrintable(problem));
}

QTEST_GUILESS_MAIN(TestTestCore)
