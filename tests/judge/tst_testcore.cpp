#include "checkerfixture.h"
#include "contest.h"
#include "contestfiles.h"
#include "cpus.h"
#include "gridcells.h"
#include "runsteps.h"
#include "testfiles.h"
#include "testcore.h"
#include "viewinfo.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTest>

#include <memory>
#include <vector>

#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

// Lives on the test's thread: the judge's signals reach it queued, as they
// reach the window.
class Recorder : public QObject
{
    Q_OBJECT

public:
    explicit Recorder(TestCore *core) : m_core(core)
    {
        connect(core, &TestCore::sendInfo, this, &Recorder::onInfo);
        connect(core, &TestCore::setItem, this, &Recorder::onItem);
        connect(core, &TestCore::testEnd, this, &Recorder::onEnd);
        connect(core, &TestCore::setSelect, this, &Recorder::onSelect);
    }

    QStringList events;
    QList<ViewInfo> infos;
    QHash<SiteItem *, char> lastItemState;
    QHash<SiteItem *, bool> selectFlag;
    bool ended = false;
    bool activeAtEnd = true;

public slots:
    void onInfo(ViewInfo info)
    {
        infos.append(info);
        events.append(u"info %1 %2"_s.arg(info.kind).arg(info.text));
    }
    void onItem(SiteItem *item, ScoreInfo info)
    {
        lastItemState[item] = info.state;
        events.append(u"item %1 %2"_s.arg(item->cellKey(), QChar::fromLatin1(info.state)));
    }
    void onEnd()
    {
        ended = true;
        activeAtEnd = m_core->isRunActive();
        events.append(u"end"_s);
    }
    void onSelect(SiteItem *item, bool selected)
    {
        selectFlag[item] = selected;
        events.append(u"select %1 %2"_s.arg(item->cellKey()).arg(selected));
    }

private:
    TestCore *m_core;
};

// One row of the grid: a head and its cells.
struct Row
{
    explicit Row(const QString &player, const QStringList &problems)
    {
        for (const QString &problem : problems) {
            auto cell = std::make_unique<SiteItem>();
            cell->player = player;
            cell->problem = problem;
            cell->displayName = player;
            cell->rowHead = &head;
            head.cells.append(cell.get());
            cells.push_back(std::move(cell));
        }
    }
    SiteItem *cell(int n) { return cells.at(n).get(); }

    AllSiteItem head;
    std::vector<std::unique_ptr<SiteItem>> cells;
};

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

const QString EndText = u"- 测评结束 -"_s;

// The CPUs a process may run on, as the kernel lists them ("0-1", "3").
QString cpusAllowed(const QString &statusFile = u"/proc/self/status"_s)
{
    QFile status(statusFile);
    if (!status.open(QIODevice::ReadOnly))
        return QString();
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("Cpus_allowed_list:"))
            return QString::fromLatin1(line.mid(18).trimmed());
    }
    return QString();
}

// Processes whose parent is this one and that have not ended.
int liveChildren()
{
    int count = 0;
    for (const QString &entry : QDir(u"/proc"_s).entryList(QDir::Dirs)) {
        bool number = false;
        const qint64 pid = entry.toLongLong(&number);
        if (!number || !processAlive(pid))
            continue;
        QFile stat(u"/proc/%1/stat"_s.arg(pid));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray text = stat.readAll();
        const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
        count += fields.value(1).toLongLong() == ::getpid();
    }
    return count;
}

} // namespace

class TestTestCore : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void emptyQueue();
    void cellWithoutConfigurationIsSkipped();
    void unknownKind_data();
    void unknownKind();
    void selectedExactlyWhenEndingInE();
    void startHandshake();
    void stopBeforeFirstCell();
    void stopWhileCheckerRuns();
    void stopLandsAnywhere();
    void failProblem_data();
    void failProblem();
    void failProblemAfterStop();
    void xmlSafeText_data();
    void xmlSafeText();
    void resetResultDocStartsAfresh();
    void saveResultIntoBlockedPath();
    void reportFollowsTheRow_data();
    void reportFollowsTheRow();
    void slotCpu_data();
    void slotCpu();
    void slotsTakeWholePlayers_data();
    void slotsTakeWholePlayers();
    void stopEverySlot_data();
    void stopEverySlot();
    void programsRunOnTheSlotCpu_data();
    void programsRunOnTheSlotCpu();
};

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
    core.startJudging();
    QTRY_VERIFY_WITH_TIMEOUT(recorder.ended, 30000);
    QVERIFY(core.wait(30000));
    QCoreApplication::processEvents();
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
    core.startJudging();
    QTRY_VERIFY_WITH_TIMEOUT(recorder.ended, 30000);
    QVERIFY(core.wait(30000));
    QCoreApplication::processEvents();
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
    core.startJudging();
    QTRY_VERIFY_WITH_TIMEOUT(recorder.ended, 30000);
    QVERIFY(core.wait(30000));
    QCoreApplication::processEvents();
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
    core.startJudging();
    QTRY_VERIFY_WITH_TIMEOUT(recorder.ended, 60000);
    QVERIFY(core.wait(30000));
    QCoreApplication::processEvents();

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

void TestTestCore::slotCpu_data()
{
    QTest::addColumn<QList<int>>("cpus");
    QTest::addColumn<int>("jobs");
    QTest::addColumn<QList<int>>("pinned");  // slot by slot
    QTest::addColumn<int>("allCpus");        // what --jobs 0 means with cpus

    QTest::newRow("one slot is never pinned") << QList<int>{0, 1} << 1 << QList<int>{-1} << 2;
    QTest::newRow("two of two") << QList<int>{0, 1} << 2 << QList<int>{0, 1} << 2;
    QTest::newRow("a gappy mask") << QList<int>{2, 5, 7, 9} << 3 << QList<int>{2, 5, 7} << 3;
    QTest::newRow("more slots than CPUs") << QList<int>{0, 1} << 3 << QList<int>{-1, -1, -1} << 2;
    QTest::newRow("one CPU") << QList<int>{3} << 2 << QList<int>{-1, -1} << 1;
    QTest::newRow("mask unknown") << QList<int>() << 2 << QList<int>{-1, -1} << 1;
    QTest::newRow("sixteen") << [] {
        QList<int> all;
        for (int cpu = 0; cpu < 16; ++cpu)
            all.append(cpu);
        return all;
    }() << 2 << QList<int>{0, 1} << 15;
}

void TestTestCore::slotCpu()
{
    QFETCH(QList<int>, cpus);
    QFETCH(int, jobs);
    QFETCH(QList<int>, pinned);
    QFETCH(int, allCpus);
    for (int slot = 0; slot < jobs; ++slot)
        QCOMPARE(::slotCpu(cpus, jobs, slot), pinned.at(slot));
    QCOMPARE(::slotCpu(cpus, jobs, jobs), -1);
    QCOMPARE(jobsForAllCpus(int(cpus.size())), allCpus);
}

void TestTestCore::slotsTakeWholePlayers_data()
{
    QTest::addColumn<int>("jobs");
    QTest::newRow("one slot") << 1;
    QTest::newRow("two slots") << 2;
    QTest::newRow("more slots than players") << 6;
}

// Every cell of a player is judged by one slot, in queue order, in that
// slot's folder and with its checker on that slot's CPU; each cell's rows
// reach the log together.
void TestTestCore::slotsTakeWholePlayers()
{
    QFETCH(int, jobs);
    CheckerContest fixture;
    const QStringList problems{u"x"_s, u"y"_s, u"z"_s};
    for (const QString &problem : problems) {
        fixture.addProblem(problem, u"chk"_s, u"ANS_0_4"_s);
        QVERIFY(fixture.writeProblemChecker(
            problem, u"chk"_s,
            "sleep 0.05; printf '1\\n%s %s\\n' \"$(pwd -P)\" "
            "\"$(grep Cpus_allowed_list /proc/self/status | cut -f2)\" > \"$4\""));
    }
    std::vector<std::unique_ptr<Row>> rows;
    TestCore core(fixture.contest, jobs);
    QCOMPARE(core.jobs(), jobs);
    core.problemConfigs = &fixture.configs;
    core.problemNames = problems;
    for (const QString &player : {u"p1"_s, u"p2"_s, u"p3"_s, u"p4"_s}) {
        QVERIFY(writeTestFile(fixture.contest.playerFile(player, QString(), u"a1.ans"_s), "1\n"));
        rows.push_back(std::make_unique<Row>(player, problems));
        for (SiteItem *cell : rows.back()->head.cells)
            core.workQueue.append(cell);
    }
    Recorder recorder(&core);
    core.startJudging();
    QTRY_VERIFY_WITH_TIMEOUT(recorder.ended, 60000);
    QVERIFY(core.wait(30000));
    QCoreApplication::processEvents();

    // Heading, point, subtask score: never another cell's row between them.
    const qsizetype cells = core.workQueue.size();
    QCOMPARE(recorder.infos.size(), 3 * cells + 1);
    QHash<QString, QString> folderOf;
    QHash<QString, QString> cpusOf;
    for (qsizetype i = 0; i < cells; ++i) {
        QCOMPARE(recorder.infos[3 * i].kind, int(ViewInfo::Heading));
        QCOMPARE(recorder.infos[3 * i + 1].kind, int(ViewInfo::Point));
        QCOMPARE(recorder.infos[3 * i + 2].kind, int(ViewInfo::Subtask));
        const QString player = recorder.infos[3 * i].text.section(u" - "_s, 0, 0);
        const QStringList seen = recorder.infos[3 * i + 1].text.split(u' ', Qt::SkipEmptyParts);
        QCOMPARE(seen.size(), 2);
        QVERIFY2(folderOf.value(player, seen[0]) == seen[0], qPrintable(player));
        folderOf[player] = seen[0];
        cpusOf[player] = seen[1];
    }
    QCOMPARE(recorder.infos.last().text, EndText);

    const QString tmp = QFileInfo(fixture.contest.tmpDir()).canonicalFilePath();
    const QList<int> cpus = allowedCpus();
    QSet<QString> folders;
    for (auto it = folderOf.cbegin(); it != folderOf.cend(); ++it) {
        folders.insert(it.value());
        int slot = 0;
        if (jobs == 1) {
            QCOMPARE(it.value(), tmp + u"/test_thread_0"_s);
        } else {
            static const QRegularExpression slotFolder(u"/(\\d+)/test_thread_0$"_s);
            const QRegularExpressionMatch match = slotFolder.match(it.value());
            QVERIFY2(match.hasMatch() && it.value().startsWith(tmp + u'/'), qPrintable(it.value()));
            slot = match.captured(1).toInt();
            QVERIFY(slot < jobs);
        }
        const int cpu = ::slotCpu(cpus, jobs, slot);
        QCOMPARE(cpusOf.value(it.key()), cpu < 0 ? cpusAllowed() : QString::number(cpu));
    }
    QCOMPARE(folderOf.size(), 4);
    if (jobs > 1)
        QVERIFY2(folders.size() > 1, "one slot did all the work");

    // Per player: one cell after the other, in queue order.
    for (const auto &row : rows) {
        QStringList expected;
        for (const SiteItem *cell : row->head.cells)
            expected << u"item "_s + cell->cellKey() + u" ?"_s << u"item "_s + cell->cellKey() + u" N"_s;
        QStringList got = recorder.events.filter(u"item "_s + row->head.cells.first()->player + u'/');
        QCOMPARE(got, expected);
    }
}

void TestTestCore::stopEverySlot_data()
{
    QTest::addColumn<int>("jobs");
    QTest::newRow("one slot") << 1;
    QTest::newRow("two slots") << 2;
}

// A stop while every slot runs a program that never ends: nothing runs on,
// and every cell the run did not complete, interrupted or never reached,
// shows its stored result again, which stays as it was.
void TestTestCore::stopEverySlot()
{
    QFETCH(int, jobs);
    CheckerContest fixture;
    fixture.addRawProblem(
        u"loop"_s,
        u"<problem type=\"TRA_0_4\"><source dir=\"loop\" file=\"loop\" code=\"64\">"
        "<language file=\"loop.c\" cmd=\"gcc -o loop loop.c\"/></source>"
        "<task input=\"loop.in\" output=\"loop.out\" checker=\"chk\"><subtask score=\"10\">"
        "<point in=\"loop.in\" out=\"loop.ans\" time=\"60\" mem=\"64\"/></subtask></task>"
        "</problem>"_s);
    const QByteArray stored = "<task score=\"7\" time=\"0.5\" state=\"N\"/>\n";
    std::vector<std::unique_ptr<Row>> rows;
    QList<AllSiteItem *> heads;
    TestCore core(fixture.contest, jobs);
    core.problemConfigs = &fixture.configs;
    core.problemNames = {u"loop"_s};
    for (const QString &player : {u"p1"_s, u"p2"_s, u"p3"_s}) {
        QVERIFY(writeTestFile(fixture.contest.playerFile(player, u"loop"_s, u"loop.c"_s),
                              "int main(void){for(;;);}\n"));
        QVERIFY(writeTestFile(fixture.contest.resultFilePath(player, u"loop"_s), stored));
        rows.push_back(std::make_unique<Row>(player, QStringList{u"loop"_s}));
        heads.append(&rows.back()->head);
        core.workQueue.append(rows.back()->cell(0));
    }
    Recorder recorder(&core);
    core.startJudging();

    QList<qint64> programs;
    const auto running = [&] {
        programs.clear();
        for (int slot = 0; slot < jobs; ++slot) {
            QMutexLocker locker(&core.worker(slot).judgeMutex);
            if (core.worker(slot).childProcess.pid > 0)
                programs.append(core.worker(slot).childProcess.pid);
        }
        return programs.size() == jobs;
    };
    QTRY_VERIFY_WITH_TIMEOUT(running(), 60000);
    core.requestStop();
    QVERIFY(core.isFinished());
    for (const qint64 pid : std::as_const(programs))
        QVERIFY(!processAlive(pid));
    QCOMPARE(liveChildren(), 0);

    QCOMPARE(restoreUnfinishedCells(fixture.contest, core).size(), 3);
    for (const auto &row : rows) {
        QCOMPARE(row->cell(0)->info, (ScoreInfo{7, 0.5, 'N'}));
        QCOMPARE(readTestFile(fixture.contest.resultFilePath(row->cell(0)->player, u"loop"_s)), stored);
    }
    QVERIFY(!recorder.ended);
    QVERIFY(finishRun(fixture.contest, heads));
    QVERIFY(!QFileInfo::exists(fixture.contest.tmpDir()));
}

void TestTestCore::programsRunOnTheSlotCpu_data()
{
    QTest::addColumn<int>("jobs");
    QTest::newRow("one slot") << 1;
    QTest::newRow("two slots") << 2;
}

// The contestant's program sees the CPUs of its slot: all the judge's with
// one slot, the slot's own with several.
void TestTestCore::programsRunOnTheSlotCpu()
{
    QFETCH(int, jobs);
    CheckerContest fixture;
    fixture.addRawProblem(
        u"cpus"_s,
        u"<problem type=\"TRA_0_4\"><source dir=\"cpus\" file=\"cpus\" code=\"64\">"
        "<language file=\"cpus.c\" cmd=\"gcc -o cpus cpus.c\"/></source>"
        "<task input=\"cpus.in\" output=\"cpus.out\" checker=\"chk\"><subtask score=\"10\">"
        "<point in=\"cpus.in\" out=\"cpus.ans\" time=\"5\" mem=\"64\"/></subtask></task>"
        "</problem>"_s);
    QVERIFY(fixture.writeProblemChecker(u"cpus"_s, u"chk"_s,
                                        "printf '1\\n%s %s\\n' \"$(pwd -P)\" \"$(cat \"$3\")\" > \"$4\""));
    const QByteArray program = "#define _GNU_SOURCE\n#include <sched.h>\n#include <stdio.h>\n"
                               "int main(void)\n{\n    cpu_set_t set;\n    CPU_ZERO(&set);\n"
                               "    sched_getaffinity(0, sizeof set, &set);\n"
                               "    FILE *f = fopen(\"cpus.out\", \"w\");\n"
                               "    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu)\n"
                               "        if (CPU_ISSET(cpu, &set))\n            fprintf(f, \"%d,\", cpu);\n"
                               "    fclose(f);\n    return 0;\n}\n";
    std::vector<std::unique_ptr<Row>> rows;
    TestCore core(fixture.contest, jobs);
    core.problemConfigs = &fixture.configs;
    core.problemNames = {u"cpus"_s};
    for (const QString &player : {u"p1"_s, u"p2"_s, u"p3"_s}) {
        QVERIFY(writeTestFile(fixture.contest.playerFile(player, u"cpus"_s, u"cpus.c"_s), program));
        rows.push_back(std::make_unique<Row>(player, QStringList{u"cpus"_s}));
        core.workQueue.append(rows.back()->cell(0));
    }
    Recorder recorder(&core);
    core.startJudging();
    QTRY_VERIFY_WITH_TIMEOUT(recorder.ended, 120000);
    QVERIFY(core.wait(30000));
    QCoreApplication::processEvents();

    const QList<int> cpus = allowedCpus();
    QString all;
    for (const int cpu : cpus)
        all += QString::number(cpu) + u',';
    int points = 0;
    for (const ViewInfo &info : std::as_const(recorder.infos)) {
        if (info.kind != ViewInfo::Point)
            continue;
        ++points;
        const QStringList seen = info.text.split(u' ', Qt::SkipEmptyParts);
        QVERIFY2(seen.size() >= 2, qPrintable(info.text));  // then time and memory
        static const QRegularExpression slotFolder(u"/(\\d+)/test_thread_0$"_s);
        const int slot = jobs == 1 ? 0 : slotFolder.match(seen[0]).captured(1).toInt();
        const int cpu = ::slotCpu(cpus, jobs, slot);
        QCOMPARE(seen[1], cpu < 0 ? all : QString::number(cpu) + u',');
    }
    QCOMPARE(points, 3);
}

QTEST_GUILESS_MAIN(TestTestCore)
#include "tst_testcore.moc"
