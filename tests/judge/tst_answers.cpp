// Answer-file problems judged end to end: scoring, where answers are looked
// for, answers that are no regular files, stops and the full-text checker.

#include "answersfixture.h"

#include "contest.h"
#include "dirs.h"
#include "gridcells.h"
#include "testcore.h"
#include "viewinfo.h"

#include <QDir>
#include <QDomDocument>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#include <sys/stat.h>

using namespace Qt::StringLiterals;
using namespace answersfixture;

namespace {

// Writes line 1 of the submitted answer as its verdict and logs the answer's
// name, marked " leftover" when an earlier point's hidden files are still in
// its directory; line 2 may ask it to hang, to leave a file named "stuck"
// (which keepStuckFiles refuses to delete) or to leave hidden files behind.
const QByteArray EchoScript = R"(#!/bin/sh
leftover=
if [ -e .x ] || [ -e d ]; then leftover=" leftover"; fi
echo "$(basename "$3")$leftover" >> "$(dirname "$1")/checked.log"
{ read -r verdict; read -r action; } < "$3"
case "$action" in
  sleep) exec sleep 120 ;;
  stuck) : > stuck ;;
  hide) mkdir -p d && : > d/.x && : > .x ;;
esac
printf '%s\n' "$verdict" > "$4"
)";

} // namespace

void TestAnswers::initTestCase()
{
    registerJudgeMetaTypes();
    // The judge looks for shared checkers in "checker/" under its working directory.
    buildDir = QStringLiteral(QXJ_BUILD_DIR);
    QVERIFY(QDir::setCurrent(buildDir));
}

void TestAnswers::cleanup()
{
    setFileRemoverForTesting(nullptr);
}

void TestAnswers::init()
{
    recorder.reset();
    core.reset();
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
    contest = Contest();
    contest.rootDir = dir->path();
    QVERIFY(QDir().mkpath(contest.playerDir(Player)));
    writeFile(contest.problemConfigPath(OtherProblem),
              R"(<?xml version="1.0" encoding="UTF-8"?><problem type="ANS_0_4"><task/></problem>)");
    const QString script = contest.problemDir(Problem) + u'/' + EchoChecker;
    writeFile(script, EchoScript);
    QVERIFY(QFile::setPermissions(script, QFile::permissions(script) | QFile::ExeOwner));
}

void TestAnswers::writeFile(const QString &path, const QByteArray &bytes)
{
    QVERIFY(QDir().mkpath(QFileInfo(path).path()));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(bytes), bytes.size());
}

void TestAnswers::configure(const QList<int> &scores, const QList<int> &pointCounts,
                            const QString &answerDir, const QString &checker)
{
    QDomDocument doc;
    doc.appendChild(doc.createProcessingInstruction(u"xml"_s,
                                                    u"version=\"1.0\" encoding=\"UTF-8\""_s));
    QDomElement problem = doc.createElement(u"problem"_s);
    problem.setAttribute(u"type"_s, u"ANS_0_4"_s);
    doc.appendChild(problem);
    QDomElement source = doc.createElement(u"source"_s);
    if (!answerDir.isNull())
        source.setAttribute(u"dir"_s, answerDir);
    problem.appendChild(source);
    QDomElement task = doc.createElement(u"task"_s);
    task.setAttribute(u"checker"_s, checker);
    problem.appendChild(task);
    for (int i = 0; i < scores.size(); ++i) {
        QDomElement subtask = doc.createElement(u"subtask"_s);
        subtask.setAttribute(u"score"_s, scores[i]);
        for (int k = 1; k <= pointCounts[i]; ++k) {
            const QString base = answerName(i + 1, k).chopped(4);
            QDomElement point = doc.createElement(u"point"_s);
            point.setAttribute(u"in"_s, base + u".in"_s);
            point.setAttribute(u"out"_s, base + u".ans"_s);
            point.setAttribute(u"sub"_s, answerName(i + 1, k));
            subtask.appendChild(point);
        }
        task.appendChild(subtask);
    }
    writeFile(contest.problemConfigPath(Problem), doc.toByteArray(4));
}

void TestAnswers::submit(const QString &name, const QByteArray &content, const QString &subDir)
{
    writeFile(contest.playerFile(Player, subDir, name), content);
}

void TestAnswers::prepareCore()
{
    contest.loadProblems();
    QCOMPARE(contest.problemNames, (QStringList{Problem, OtherProblem}));

    cells.clear();
    rowHead.cells.clear();
    for (const QString &problem : contest.problemNames) {
        auto cell = std::make_unique<SiteItem>();
        cell->player = Player;
        cell->problem = problem;
        cell->displayName = Player;
        cell->rowHead = &rowHead;
        if (!cells.empty()) {
            cell->leftCell = cells.back().get();
            cells.back()->rightCell = cell.get();
        }
        rowHead.cells.append(cell.get());
        cells.push_back(std::move(cell));
    }

    core = std::make_unique<TestCore>(contest);
    core->workQueue = {cells.front().get()};
    core->problemConfigs = &contest.problemConfigs;
    core->problemNames = contest.problemNames;
    recorder = std::make_unique<Recorder>(core.get());
}

void TestAnswers::judge()
{
    prepareCore();
    QSignalSpy ended(recorder.get(), &Recorder::ended);
    core->startJudging();
    QVERIFY(ended.wait(Timeout));
    QVERIFY(core->wait(Timeout));
}

QDomDocument TestAnswers::resultDocument()
{
    QFile file(contest.resultFilePath(Player, Problem));
    QDomDocument doc;
    if (file.open(QIODevice::ReadOnly))
        doc.setContent(file.readAll());
    return doc;
}

QList<ResultPoint> TestAnswers::resultPoints()
{
    QList<ResultPoint> points;
    const QDomNodeList list = resultDocument().elementsByTagName(u"point"_s);
    for (int i = 0; i < list.size(); ++i) {
        const QDomElement e = list.at(i).toElement();
        points.append({e.attribute(u"ratio"_s), e.attribute(u"state"_s), e.attribute(u"note"_s)});
    }
    return points;
}

QString TestAnswers::pointStates()
{
    QString states;
    for (const ResultPoint &point : resultPoints())
        states += point.state;
    return states;
}

QStringList TestAnswers::checkedAnswers()
{
    QFile log(contest.problemDir(Problem) + u"/checked.log"_s);
    if (!log.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(log.readAll()).split(u'\n', Qt::SkipEmptyParts);
}

void TestAnswers::scoring_data()
{
    QTest::addColumn<QList<int>>("scores");
    // Per subtask, line 1 of each point's answer; a null text is not submitted.
    QTest::addColumn<QList<QStringList>>("answers");
    QTest::addColumn<QString>("states");
    QTest::addColumn<QList<int>>("subtaskScores");
    QTest::addColumn<char>("problemState");

    const QString none;
    QTest::newRow("1, 0.5 and 1 of 7 gives 3")
        << QList<int>{7} << QList<QStringList>{{u"1"_s, u"0.5"_s, u"1"_s}} << u"APA"_s
        << QList<int>{3} << 'N';
    QTest::newRow("0.000005 fails the rest of its subtask")
        << QList<int>{10, 4} << QList<QStringList>{{u"0.000005"_s, u"1"_s}, {u"1"_s}}
        << u"WIA"_s << QList<int>{0, 4} << 'N';
    QTest::newRow("subtask without points scores full")
        << QList<int>{5, 3} << QList<QStringList>{{}, {u"1"_s}} << u"A"_s << QList<int>{5, 3}
        << 'N';
    QTest::newRow("no subtasks") << QList<int>{} << QList<QStringList>{} << QString()
                                 << QList<int>{} << 'N';
    QTest::newRow("nothing submitted") << QList<int>{10, 20}
                                       << QList<QStringList>{{none}, {none}} << u"UU"_s
                                       << QList<int>{0, 0} << 'N';
    QTest::newRow("0.29 of 100 gives 29")
        << QList<int>{100} << QList<QStringList>{{u"0.29"_s}} << u"P"_s << QList<int>{29} << 'N';
    QTest::newRow("ratio above 1 does not lower the minimum")
        << QList<int>{10} << QList<QStringList>{{u"1.5"_s, u"0.5"_s}} << u"CP"_s
        << QList<int>{5} << 'E';
    QTest::newRow("malformed verdict fails the problem")
        << QList<int>{10, 2} << QList<QStringList>{{u"nonsense"_s, u"1"_s}, {u"1"_s}}
        << u"CIA"_s << QList<int>{0, 2} << 'E';
    QTest::newRow("the ratio scores, not the letter")
        << QList<int>{10} << QList<QStringList>{{u"W:1"_s}} << u"W"_s << QList<int>{10} << 'N';
}

void TestAnswers::scoring()
{
    QFETCH(QList<int>, scores);
    QFETCH(QList<QStringList>, answers);
    QFETCH(QString, states);
    QFETCH(QList<int>, subtaskScores);
    QFETCH(char, problemState);

    QList<int> counts;
    for (int i = 0; i < answers.size(); ++i) {
        counts.append(answers[i].size());
        for (int k = 0; k < answers[i].size(); ++k) {
            if (!answers[i][k].isNull())
                submit(answerName(i + 1, k + 1), answers[i][k].toUtf8() + '\n');
        }
    }
    configure(scores, counts);
    judge();
    if (QTest::currentTestFailed())
        return;

    int total = 0;
    for (int score : subtaskScores)
        total += score;

    // The result file.
    const QDomElement task = resultDocument().documentElement();
    QCOMPARE(task.tagName(), u"task"_s);
    QCOMPARE(task.attribute(u"score"_s), QString::number(total));
    QCOMPARE(task.attribute(u"time"_s), u"0"_s);
    QCOMPARE(task.attribute(u"state"_s), QString(QLatin1Char(problemState)));
    QList<int> stored;
    for (QDomElement s = task.firstChildElement(u"subtask"_s); !s.isNull();
         s = s.nextSiblingElement(u"subtask"_s))
        stored.append(s.attribute(u"score"_s).toInt());
    QCOMPARE(stored, subtaskScores);
    QCOMPARE(pointStates(), states);
    QVERIFY(task.firstChildElement(u"note"_s).isNull());

    // The detail rows: points numbered across subtasks, each subtask closed by
    // its score; a point row shows its state only by its colour.
    QStringList expectedRows;
    QStringList actualRows;
    QList<QColor> expectedColours;
    QList<QColor> actualColours;
    int number = 0;
    for (int i = 0; i < scores.size(); ++i) {
        for (int k = 0; k < counts[i]; ++k) {
            expectedRows.append(QStringLiteral("point %1").arg(++number));
            expectedColours.append(stateRowColour(states[number - 1].toLatin1()));
        }
        expectedRows.append(QStringLiteral("subtask %1").arg(subtaskScores[i]));
    }
    for (const ViewInfo &row : recorder->rows) {
        if (row.kind == ViewInfo::Point) {
            actualRows.append(u"point "_s + row.number);
            actualColours.append(row.background);
        } else if (row.kind == ViewInfo::Subtask) {
            actualRows.append(u"subtask "_s + row.text);
        }
    }
    QCOMPARE(actualRows, expectedRows);
    QCOMPARE(actualColours, expectedColours);

    QCOMPARE(recorder->items.size(), 2);
    QCOMPARE(recorder->items.last(), (ScoreInfo{total, 0.0, problemState}));

    // The report is rebuilt from the saved result, every problem of the row.
    QFile page(contest.playerDir(Player) + u"/result.html"_s);
    QVERIFY(page.open(QIODevice::ReadOnly));
    QDomDocument html;
    QVERIFY(html.setContent(page.readAll()));
    const QDomElement table = html.documentElement()
                                  .firstChildElement(u"meta"_s)
                                  .firstChildElement(u"font"_s)
                                  .firstChildElement(u"table"_s);
    QStringList wide;
    for (QDomElement tr = table.firstChildElement(); !tr.isNull(); tr = tr.nextSiblingElement()) {
        if (!tr.hasAttribute(u"height"_s))
            wide.append(tr.text());
    }
    QCOMPARE(wide, (QStringList{u"总分: "_s + QString::number(total),
                                Problem + u": "_s + QString::number(total),
                                OtherProblem + u": 0"_s, u"无测评结果"_s}));
}

void TestAnswers::notSubmittedIgnoresRestOfSubtask()
{
    submit(answerName(1, 2), "1\n");
    // Looking at it would fail the copy: ignored points must not be looked at.
    QVERIFY(QDir().mkpath(contest.playerFile(Player, QString(), answerName(1, 3))));
    submit(answerName(2, 1), "1\n");
    configure({10, 6}, {3, 1});
    judge();
    if (QTest::currentTestFailed())
        return;

    const QList<ResultPoint> points = resultPoints();
    QCOMPARE(points.size(), 4);
    QCOMPARE(points[0].state, u"U"_s);
    QCOMPARE(points[0].note, u"未提交"_s);
    QCOMPARE(points[0].ratio, u"0"_s);
    for (int i : {1, 2}) {
        QCOMPARE(points[i].state, u"I"_s);
        QCOMPARE(points[i].note, u"忽略"_s);
        QCOMPARE(points[i].ratio, u"0"_s);
    }
    QCOMPARE(points[3].state, u"A"_s);
    QCOMPARE(points[3].ratio, u"1"_s);
    QCOMPARE(checkedAnswers(), QStringList{answerName(2, 1)});
    QCOMPARE(recorder->items.last(), (ScoreInfo{6, 0.0, 'N'}));
}

void TestAnswers::answerDirectory_data()
{
    QTest::addColumn<QString>("configured");
    QTest::addColumn<QString>("location");
    QTest::addColumn<QString>("state");
    QTest::newRow("named directory is searched") << u"answers"_s << u"answers"_s << u"A"_s;
    QTest::newRow("unnamed directory is not") << QString() << u"answers"_s << u"U"_s;
    QTest::newRow("empty name is the player directory") << QString() << QString() << u"A"_s;
    QTest::newRow("named directory hides the player directory")
        << u"answers"_s << QString() << u"U"_s;
}

void TestAnswers::answerDirectory()
{
    QFETCH(QString, configured);
    QFETCH(QString, location);
    QFETCH(QString, state);
    submit(answerName(1, 1), "1\n", location);
    configure({10}, {1}, configured);
    judge();
    QCOMPARE(pointStates(), state);
}

// A submission is read only when it is a regular file reached without a
// link below the player's folder: anything else is no submission. A link
// would have the judge read, with its rights, the problem's own answers or
// another player's as this player's.
void TestAnswers::irregularAnswers_data()
{
    // Below the contest; "{player}" is the player's folder. The point's
    // answer is the data's 1-1.ans, holding "1": the echo checker accepts it.
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<QString>("answerDir");
    QTest::addColumn<QString>("note");  // when not checked
    QTest::addColumn<bool>("checked");

    const QString answer = u"data/p/1-1.ans"_s;
    QTest::newRow("link to the problem's answer")
        << QStringList{u"l:{player}/1-1.out>../../"_s + answer} << QString()
        << u"未提交: 1-1.out 是符号链接，不是普通文件"_s << false;
    QTest::newRow("link by an absolute path")
        << QStringList{u"l:{player}/1-1.out>{root}/"_s + answer} << QString()
        << u"未提交: 1-1.out 是符号链接，不是普通文件"_s << false;
    QTest::newRow("answer folder a link to another player's")
        << QStringList{u"f:src/bob/out/1-1.out"_s, u"l:{player}/out>../bob/out"_s} << u"out"_s
        << u"未提交: out 是符号链接，不是普通文件"_s << false;
    QTest::newRow("dangling link") << QStringList{u"l:{player}/1-1.out>/nonexistent/qxj"_s}
                                   << QString() << u"未提交: 1-1.out 是符号链接，不是普通文件"_s
                                   << false;
    QTest::newRow("directory") << QStringList{u"d:{player}/1-1.out"_s} << QString()
                               << u"未提交: 1-1.out 是目录，不是普通文件"_s << false;
    QTest::newRow("named pipe") << QStringList{u"p:{player}/1-1.out"_s} << QString()
                                << u"未提交: 1-1.out 是命名管道，不是普通文件"_s << false;
    QTest::newRow("player's folder itself a link")
        << QStringList{u"f:elsewhere/1-1.out"_s, u"l:{player}>../elsewhere"_s} << QString()
        << QString() << true;
}

void TestAnswers::irregularAnswers()
{
    QFETCH(QStringList, entries);
    QFETCH(QString, answerDir);
    QFETCH(QString, note);
    QFETCH(bool, checked);

    writeFile(contest.problemDir(Problem) + u"/1-1.ans"_s, "1\n");
    QVERIFY(QDir(contest.playerDir(Player)).removeRecursively());
    const QString player = contest.srcDirName + u'/' + Player;
    for (QString entry : entries) {
        entry.replace(u"{player}"_s, player).replace(u"{root}"_s, contest.rootDir);
        const QString path = contest.rootDir + u'/' + entry.mid(2).section(u'>', 0, 0);
        QVERIFY(QDir().mkpath(QFileInfo(path).path()));
        switch (entry.at(0).unicode()) {
        case 'f':
            writeFile(path, "1\n");
            break;
        case 'd':
            QVERIFY(QDir().mkpath(path));
            break;
        case 'p':
            QVERIFY(::mkfifo(QFile::encodeName(path).constData(), 0644) == 0);
            break;
        case 'l':
            QVERIFY(QFile::link(entry.section(u'>', 1), path));
            break;
        }
    }
    configure({10}, {1}, answerDir);
    judge();
    if (QTest::currentTestFailed())
        return;

    const QList<ResultPoint> points = resultPoints();
    QCOMPARE(points.size(), 1);
    if (!checked)
        QCOMPARE(points[0].note, note);
    QCOMPARE(pointStates(), checked ? u"A"_s : u"U"_s);
    QCOMPARE(checkedAnswers(), checked ? QStringList{answerName(1, 1)} : QStringList());
    QCOMPARE(recorder->items.last(), (ScoreInfo{checked ? 10 : 0, 0.0, 'N'}));
    QCOMPARE(QFileInfo(contest.problemDir(Problem) + u"/1-1.ans"_s).size(), 2);
}

void TestAnswers::stopKeepsPreviousResult()
{
    const QByteArray previous = "<task score=\"17\" time=\"0\" state=\"N\"/>\n";
    const QByteArray previousPage = "previous page";
    writeFile(contest.resultFilePath(Player, Problem), previous);
    writeFile(contest.playerDir(Player) + u"/result.html"_s, previousPage);
    submit(answerName(1, 1), "1\n");
    submit(answerName(1, 2), "1\nsleep\n");
    submit(answerName(1, 3), "1\n");
    configure({10}, {3});

    prepareCore();
    QSignalSpy shown(recorder.get(), &Recorder::pointShown);
    QSignalSpy ended(recorder.get(), &Recorder::ended);
    core->startJudging();
    QVERIFY(shown.wait(Timeout));
    // The checker of the second point hangs; wait until it has been started.
    QTRY_COMPARE_WITH_TIMEOUT(checkedAnswers().size(), 2, Timeout);
    core->requestStop();
    QVERIFY(core->isFinished());

    QCoreApplication::processEvents();
    QCOMPARE(ended.size(), 0);
    QCOMPARE(recorder->items.size(), 1);
    QCOMPARE(recorder->items.first().state, TaskState::Judging);
    QCOMPARE(shown.size(), 1);
    QCOMPARE(checkedAnswers(), (QStringList{answerName(1, 1), answerName(1, 2)}));

    QFile result(contest.resultFilePath(Player, Problem));
    QVERIFY(result.open(QIODevice::ReadOnly));
    QCOMPARE(result.readAll(), previous);
    QFile page(contest.playerDir(Player) + u"/result.html"_s);
    QVERIFY(page.open(QIODevice::ReadOnly));
    QCOMPARE(page.readAll(), previousPage);
}

void TestAnswers::fullTextChecker()
{
    const QString checker = u"全文比较"_s;
    QVERIFY2(QFileInfo(buildDir + u"/checker/"_s + checker).isExecutable(),
             "the default checker is not built");
    writeFile(contest.problemDir(Problem) + u"/1-1.ans"_s, "hello world\n");
    writeFile(contest.problemDir(Problem) + u"/2-1.ans"_s, "hello world\n");
    writeFile(contest.problemDir(Problem) + u"/1-1.in"_s, "");
    writeFile(contest.problemDir(Problem) + u"/2-1.in"_s, "");
    submit(answerName(1, 1), "hello world\n");
    submit(answerName(2, 1), "hello there\n");
    configure({30, 70}, {1, 1}, QString(), checker);
    judge();
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(pointStates(), u"AW"_s);
    QCOMPARE(recorder->items.last(), (ScoreInfo{30, 0.0, 'N'}));
}

QTEST_GUILESS_MAIN(TestAnswers)
