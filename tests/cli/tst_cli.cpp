// End to end: qxj-judge on copies of the sample contest and on small
// contests made here.

#include "clitestutil.h"
#include "contest.h"
#include "mixedcontest.h"
#include "scoreinfo.h"
#include "xmlfile.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QStringDecoder>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <climits>

#include <sys/stat.h>
#include <unistd.h>

#include <signal.h>

namespace {

const QString JudgeProgram = QStringLiteral(QXJ_JUDGE);
const QString SampleContest = QStringLiteral(QXJ_SAMPLE);

struct Run
{
    int exitCode = -1;
    QProcess::ExitStatus status = QProcess::CrashExit;
    QString out;
    QString err;
};

Run runJudge(const QString &workDir, const QStringList &arguments)
{
    QProcess process;
    process.setWorkingDirectory(workDir);
    process.start(JudgeProgram, arguments);
    Run run;
    if (!process.waitForFinished(600000)) {
        process.kill();
        process.waitForFinished();
        run.err = QStringLiteral("<timed out>");
        return run;
    }
    run.exitCode = process.exitCode();
    run.status = process.exitStatus();
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

// What the sample contest is built to give, cell by cell: the score, the
// cell's state and the states of its test points in judging order.
struct Outcome
{
    const char *player;
    const char *problem;
    int score;
    char state;
    const char *points;
};
const Outcome SampleOutcomes[] = {
    {"p01", "sum", 100, 'N', "AAAA"}, {"p01", "guess", 60, 'N', "AAW"},  {"p01", "split", 50, 'N', "PPPPP"},
    {"p02", "sum", 100, 'N', "AAAA"}, {"p02", "guess", 70, 'N', "AUA"},  {"p02", "split", 100, 'N', "AAAAA"},
    {"p03", "sum", 40, 'N', "AAWI"},  {"p03", "guess", 100, 'N', "AAA"}, {"p03", "split", 0, 'R', "RIRRI"},
    {"p04", "sum", 40, 'N', "AATI"},  {"p04", "guess", 0, 'N', "WUU"},   {"p04", "split", 0, 'R', "MIMMI"},
    {"p05", "sum", 0, 'C', ""},       {"p05", "guess", 100, 'N', "AAA"}, {"p05", "split", 0, 'F', ""},
    {"p06", "sum", 0, 'F', ""},       {"p06", "guess", 0, 'N', "UUU"},   {"p06", "split", 30, 'N', "AATAT"},
    {"std", "sum", 100, 'N', "AAAA"}, {"std", "guess", 100, 'N', "AAA"}, {"std", "split", 100, 'N', "AAAAA"},
};
const QStringList SampleProblems = {QStringLiteral("sum"), QStringLiteral("guess"),
                                    QStringLiteral("split")};

// The grid's name of a sample player, as the player list gives it.
QString sampleName(const QString &player)
{
    static const QHash<QString, QString> names = {{QStringLiteral("p01"), QStringLiteral("张晓伟")},
                                                  {QStringLiteral("p02"), QStringLiteral("王芳")},
                                                  {QStringLiteral("p03"), QStringLiteral("李娜")},
                                                  {QStringLiteral("p04"), QStringLiteral("刘洋")},
                                                  {QStringLiteral("p05"), QStringLiteral("陈静")},
                                                  {QStringLiteral("p06"), QStringLiteral("赵磊")}};
    return player == QStringLiteral("std")
               ? QStringLiteral("标准程序")
               : player + QStringLiteral(" [") + names.value(player) + u']';
}

// The files below dir with their sizes and times, the result list left out
// (every run rewrites it).
QStringList filesBelow(const QString &dir)
{
    QStringList files = treeSnapshot(dir);
    files.removeIf([&dir](const QString &entry) {
        const QString path = entry.section(u' ', 0, -3);
        return path == QStringLiteral(".reslist") || QFileInfo(dir + u'/' + path).isDir();
    });
    return files;
}

const Outcome &sampleOutcome(const QString &player, const QString &problem)
{
    return *std::find_if(
        std::begin(SampleOutcomes), std::end(SampleOutcomes), [&](const Outcome &o) {
            return QString::fromUtf8(o.player) == player && QString::fromUtf8(o.problem) == problem;
        });
}

// A contest of one problem of one point (input and answer "1") and player
// "a" with the given C source.
bool writeOnePointContest(const QString &root, const QString &name, const QString &time,
                          const QByteArray &source)
{
    const QString data = root + QStringLiteral("/data/") + name + u'/' + name;
    return writeTestFile(root + QStringLiteral("/data/") + name + QStringLiteral("/.prb"),
                         traditionalConfig(name, 100, time))
           && writeTestFile(data + QStringLiteral(".in"), "1\n")
           && writeTestFile(data + QStringLiteral(".ans"), "1\n")
           && writeTestFile(root + QStringLiteral("/src/a/") + name + u'/' + name
                                + QStringLiteral(".c"),
                            source);
}

// A C program for the problem "name" that writes the answer.
QByteArray answering(const QString &name, const char *answer = "1")
{
    return QStringLiteral("#include <stdio.h>\nint main(void)\n{\n"
                          "    FILE *f = fopen(\"%1.out\", \"w\");\n"
                          "    fputs(\"%2\\n\", f);\n    fclose(f);\n    return 0;\n}\n")
        .arg(name, QLatin1String(answer))
        .toUtf8();
}

bool anyProcessWorksIn(const QString &dir)
{
    const QStringList pids = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString &pid : pids) {
        bool number = false;
        pid.toInt(&number);
        if (!number || pid.toLongLong() == QCoreApplication::applicationPid())
            continue;
        const QString proc = QStringLiteral("/proc/") + pid;
        const QString cwd = QFileInfo(proc + QStringLiteral("/cwd")).symLinkTarget();
        if (cwd.startsWith(dir) || carriesRunMark(proc, dir))
            return true;
    }
    return false;
}

// Starts the judge on root, marked, and waits until the program of its one
// cell has written slow.out in the scratch folder.
bool startSlowRun(QProcess &process, const QString &root)
{
    process.setWorkingDirectory(root);
    markRun(process, root);
    process.start(JudgeProgram, {root});
    if (!process.waitForStarted())
        return false;
    // Its output is made in the program's own folder, laid over the work
    // folder in its sandbox (or, without one, in the work folder itself).
    const QString started = root + QStringLiteral("/tmp/test_thread_0/slow.out");
    const auto running = [&started] {
        if (QFileInfo::exists(started))
            return true;
        for (const QString &pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
            if (pid.toLongLong() > 0 && QFileInfo::exists(QStringLiteral("/proc/") + pid + QStringLiteral("/cwd/slow.out")))
                return true;
        }
        return false;
    };
    for (int waited = 0; waited < 1200 && !running(); ++waited)
        QTest::qWait(100);
    return running();
}

}  // namespace

class TestCli : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void sampleRunEnds();
    void cells_data();
    void cells();
    void resultList();
    void reports();
    void scratchRemoved();
    void hiddenLeftoversDoNotKeepScratch();
    void detailRows();
    void gridPrinted();
    void secondRunJudgesNothing();
    void rejudgeOneCell();
    void stop_data();
    void stop();
    void killedJudgeLeavesNothing();
    void stoppedRejudgeKeepsEveryResult_data();
    void stoppedRejudgeKeepsEveryResult();
    void unusableFolderNames();
    void hugeScores();
    void notAContest_data();
    void notAContest();
    void help();
    void exportTable_data();
    void exportTable();
    void unwritableFiles();
    void twoJobsGiveTheSameVerdicts();

private:
    QString sampleRoot() const { return m_work.path() + QStringLiteral("/contest"); }

    QTemporaryDir m_work;
    Run m_sample;
};

// Judges a fresh copy of the sample once; the tests below look at what it left.
void TestCli::initTestCase()
{
    QVERIFY2(QFileInfo(JudgeProgram).isExecutable(), qPrintable(JudgeProgram));
    QVERIFY(m_work.isValid());
    QVERIFY(copyTree(SampleContest, sampleRoot()));
    QElapsedTimer timer;
    timer.start();
    // A relative contest path: it must be resolved before the judge moves to its own directory.
    m_sample = runJudge(m_work.path(), {QStringLiteral("contest")});
    qInfo("sample contest judged in %.2f s", double(timer.elapsed()) / 1000);
}

void TestCli::sampleRunEnds()
{
    QCOMPARE(m_sample.status, QProcess::NormalExit);
    QVERIFY2(m_sample.exitCode == 0, qPrintable(m_sample.err));
}

void TestCli::cells_data()
{
    QTest::addColumn<QString>("player");
    QTest::addColumn<QString>("problem");
    QTest::addColumn<int>("score");
    QTest::addColumn<char>("state");
    QTest::addColumn<QString>("points");
    for (const Outcome &o : SampleOutcomes) {
        QTest::addRow("%s/%s", o.player, o.problem)
            << QString::fromUtf8(o.player) << QString::fromUtf8(o.problem) << o.score << o.state
            << QString::fromUtf8(o.points);
    }
}

void TestCli::cells()
{
    QFETCH(QString, player);
    QFETCH(QString, problem);
    QFETCH(int, score);
    QFETCH(char, state);
    QFETCH(QString, points);

    Contest contest;
    contest.rootDir = sampleRoot();
    XmlFile file;
    QVERIFY(file.load(contest.resultFilePath(player, problem)));
    const ScoreInfo info = readScoreInfo(file.document);
    QCOMPARE(info.state, state);
    QCOMPARE(info.score, score);
    QCOMPARE(pointStates(file), points);
}

void TestCli::resultList()
{
    Contest contest;
    contest.rootDir = sampleRoot();
    const QStringList lines =
        QString::fromUtf8(readTestFile(contest.resultListPath())).split(u'\n');
    const int cellCount = int(std::size(SampleOutcomes));
    QCOMPARE(lines.size(), cellCount + 1);
    QCOMPARE(lines.last(), QString());
    // Nothing was judged before, so the grid, and the list, is in name order.
    for (int i = 0; i < cellCount; ++i) {
        const Outcome &o = SampleOutcomes[i];
        const QString player = QString::fromUtf8(o.player);
        const QString problem = QString::fromUtf8(o.problem);
        XmlFile file;
        QVERIFY(file.load(contest.resultFilePath(player, problem)));
        const ScoreInfo info = readScoreInfo(file.document);
        const QString expected = player + u'/' + problem + u'/' + QString::number(info.score) + u'/'
                                 + realText(info.time) + u'/' + QLatin1Char(info.state) + u'/';
        QCOMPARE(lines[i], expected);
    }
}

void TestCli::reports()
{
    for (const QString &player :
         QDir(sampleRoot() + QStringLiteral("/src")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QString report =
            sampleRoot() + QStringLiteral("/src/") + player + QStringLiteral("/result.html");
        QVERIFY2(QFileInfo::exists(report), qPrintable(report));
        QVERIFY(QString::fromUtf8(readTestFile(report))
                    .contains(player + QStringLiteral("的测评结果")));
    }
}

void TestCli::scratchRemoved()
{
    QVERIFY(!QFileInfo::exists(sampleRoot() + QStringLiteral("/tmp")));
}

// A program that leaves hidden files in the work directory and in the
// scratch directory above it: the scratch directory still goes at the end.
void TestCli::hiddenLeftoversDoNotKeepScratch()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString root = dir.path();
    QVERIFY(writeOnePointContest(root, QStringLiteral("hide"), QStringLiteral("1"),
                                 "#include <stdio.h>\n"
                                 "#include <sys/stat.h>\n"
                                 "int main(void)\n{\n"
                                 "    mkdir(\"d\", 0755);\n"
                                 "    fclose(fopen(\".x\", \"w\"));\n"
                                 "    fclose(fopen(\"d/.x\", \"w\"));\n"
                                 "    FILE *above = fopen(\"../.x\", \"w\");\n"
                                 "    if (above)\n"
                                 "        fclose(above);\n"
                                 "    FILE *f = fopen(\"hide.out\", \"w\");\n"
                                 "    fputs(\"1\\n\", f);\n"
                                 "    fclose(f);\n"
                                 "    return 0;\n}\n"));

    const Run run = runJudge(root, {root});
    QVERIFY2(run.exitCode == 0, qPrintable(run.err));
    XmlFile file;
    QVERIFY(file.load(root + QStringLiteral("/result/hide/a.res")));
    QCOMPARE(pointStates(file), QStringLiteral("A"));
    QVERIFY2(!QFileInfo::exists(root + QStringLiteral("/tmp")),
             qPrintable(treeOf(root + QStringLiteral("/tmp")).join(u' ')));
}

// Every judged cell shows its heading and one row per point whose letter is
// the state stored in its result file.
void TestCli::detailRows()
{
    static const QRegularExpression pointRow(QStringLiteral("^  +(\\d+)  ([A-Z])  "));
    QStringList headings;
    QHash<QString, QString> letters;
    QHash<QString, QString> numbers;
    for (const QString &line : m_sample.out.split(u'\n')) {
        const QRegularExpressionMatch match = pointRow.match(line);
        if (match.hasMatch() && !headings.isEmpty()) {
            letters[headings.last()] += match.captured(2);
            numbers[headings.last()] += match.captured(1) + u' ';
        } else if (!line.isEmpty() && !line.startsWith(u' ')) {
            headings << line;
        }
    }
    const int end = int(headings.indexOf(QStringLiteral("- 测评结束 -")));
    QCOMPARE(end, int(std::size(SampleOutcomes)));

    Contest contest;
    contest.rootDir = sampleRoot();
    for (int i = 0; i < end; ++i) {
        const Outcome &o = SampleOutcomes[i];
        const QString player = QString::fromUtf8(o.player);
        const QString problem = QString::fromUtf8(o.problem);
        const QString heading = player == QStringLiteral("std")
                                    ? u'"' + problem + QStringLiteral("\"的标程")
                                    : sampleName(player) + QStringLiteral(" - ") + problem;
        QCOMPARE(headings[i], heading);
        XmlFile file;
        QVERIFY(file.load(contest.resultFilePath(player, problem)));
        QCOMPARE(letters.value(heading), pointStates(file));
        QString expectedNumbers;
        for (int n = 1; n <= pointStates(file).size(); ++n)
            expectedNumbers += QString::number(n) + u' ';
        QCOMPARE(numbers.value(heading), expectedNumbers);
    }
}

void TestCli::gridPrinted()
{
    const QStringList lines =
        m_sample.out.section(QStringLiteral("- 测评结束 -\n"), 1).split(u'\n', Qt::SkipEmptyParts);
    QHash<QString, int> totals;
    for (const Outcome &o : SampleOutcomes)
        totals[QString::fromUtf8(o.player)] += o.score;
    QStringList players = totals.keys();
    std::sort(players.begin(), players.end(),
              [&](const QString &a, const QString &b) { return totals[a] > totals[b]; });

    QCOMPARE(lines.size(), players.size() + 1);
    static const QRegularExpression gap(QStringLiteral("  +"));
    QCOMPARE(lines[0].split(gap),
             (QStringList{QStringLiteral("选手"), QStringLiteral("总分")} + SampleProblems));
    for (int i = 0; i < players.size(); ++i) {
        const QString &player = players[i];
        const QString line = lines[i + 1];
        QVERIFY2(line.startsWith(sampleName(player) + QStringLiteral("  ")), qPrintable(line));
        const QStringList fields = line.mid(sampleName(player).size()).trimmed().split(gap);
        QCOMPARE(fields.size(), 1 + SampleProblems.size());
        QCOMPARE(fields[0], QString::number(totals[player]));
        for (int j = 0; j < SampleProblems.size(); ++j) {
            const Outcome &o = sampleOutcome(player, SampleProblems[j]);
            const QString score = QString::number(o.score);
            QVERIFY2(fields[j + 1].trimmed().startsWith(score + u' '), qPrintable(fields[j + 1]));
            if (o.state != 'N')
                QCOMPARE(fields[j + 1].trimmed(), score + u' ' + TaskState::text(o.state, 0));
            else
                QVERIFY(fields[j + 1].contains(QStringLiteral("用时: ")));
        }
    }
}

void TestCli::secondRunJudgesNothing()
{
    Contest contest;
    contest.rootDir = sampleRoot();
    const QStringList before = filesBelow(contest.resultDir());
    QStringList listBefore = QString::fromUtf8(readTestFile(contest.resultListPath())).split(u'\n');
    const Run run = runJudge(m_work.path(), {sampleRoot()});
    QCOMPARE(run.exitCode, 0);
    QVERIFY(!run.out.contains(QStringLiteral(" - ")));
    QCOMPARE(filesBelow(contest.resultDir()), before);
    // Written again from the grid, now in the order of the totals.
    QStringList listAfter = QString::fromUtf8(readTestFile(contest.resultListPath())).split(u'\n');
    listBefore.sort();
    listAfter.sort();
    QCOMPARE(listAfter, listBefore);
}

void TestCli::rejudgeOneCell()
{
    Contest contest;
    contest.rootDir = sampleRoot();
    const QString cell = contest.resultFilePath(QStringLiteral("p01"), QStringLiteral("split"));
    QStringList others = filesBelow(contest.resultDir());
    others.removeIf(
        [](const QString &entry) { return entry.startsWith(QStringLiteral("split/p01.res")); });

    const Run run = runJudge(m_work.path(), {QStringLiteral("--all"), QStringLiteral("--player"),
                                             QStringLiteral("p01"), QStringLiteral("--problem"),
                                             QStringLiteral("split"), sampleRoot()});
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.out.count(QStringLiteral(" - split\n")), 1);
    QVERIFY(run.out.contains(QStringLiteral("p01 [张晓伟] - split\n")));
    QStringList after = filesBelow(contest.resultDir());
    after.removeIf(
        [](const QString &entry) { return entry.startsWith(QStringLiteral("split/p01.res")); });
    QCOMPARE(after, others);
    XmlFile file;
    QVERIFY(file.load(cell));
    const Outcome &expected = sampleOutcome(QStringLiteral("p01"), QStringLiteral("split"));
    QCOMPARE(readScoreInfo(file.document).score, expected.score);
    QCOMPARE(pointStates(file), QString::fromUtf8(expected.points));
}

void TestCli::stop_data()
{
    QTest::addColumn<int>("signalNumber");
    QTest::newRow("SIGINT") << int(SIGINT);
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGHUP (terminal closed)") << int(SIGHUP);
}

// A program that never ends is stopped by the signal: its cell keeps the
// result it had, and the run leaves nothing behind.
void TestCli::stop()
{
    QFETCH(int, signalNumber);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString root = dir.path();
    QVERIFY(writeOnePointContest(root, QStringLiteral("slow"), QStringLiteral("60"),
                                 "#include <stdio.h>\n"
                                 "int main(void)\n{\n"
                                 "    FILE *f = fopen(\"slow.out\", \"w\");\n"
                                 "    fputs(\"started\\n\", f);\n"
                                 "    fclose(f);\n"
                                 "    for (;;) {}\n}\n"));
    const QByteArray previous =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<task score=\"7\" time=\"0.5\" state=\"N\"><subtask score=\"7\">"
        "<point ratio=\"0.07\" state=\"P\" note=\"earlier\"/></subtask></task>\n";
    const QString resultPath = root + QStringLiteral("/result/slow/a.res");
    QVERIFY(writeTestFile(resultPath, previous));
    // The list says untested, so the cell is queued although its file exists.
    QVERIFY(writeTestFile(root + QStringLiteral("/result/.reslist"), "a/slow/0/0/ /\n"));

    QProcess process;
    QVERIFY(startSlowRun(process, root));
    QVERIFY(::kill(pid_t(process.processId()), signalNumber) == 0);
    QVERIFY(process.waitForFinished(120000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 130);

    QCOMPARE(readTestFile(resultPath), previous);
    QVERIFY(!QFileInfo::exists(root + QStringLiteral("/tmp")));
    QCOMPARE(readTestFile(root + QStringLiteral("/result/.reslist")),
             QByteArray("a/slow/7/0.5/N/\n"));
    QVERIFY(!QFileInfo::exists(root + QStringLiteral("/src/a/result.html")));
    QTRY_VERIFY_WITH_TIMEOUT(!anyProcessWorksIn(root), 30000);
}

// Killed outright, the judge takes its contestant's processes with it, even
// one that left its session and its parent.
void TestCli::killedJudgeLeavesNothing()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString root = dir.path();
    QVERIFY(writeOnePointContest(root, QStringLiteral("slow"), QStringLiteral("60"),
                                 "#include <stdio.h>\n#include <unistd.h>\n"
                                 "int main(void)\n{\n"
                                 "    if (fork() == 0) {\n"
                                 "        setsid();\n"
                                 "        if (fork() == 0) {\n"
                                 "            FILE *f = fopen(\"slow.out\", \"w\");\n"
                                 "            fputs(\"started\\n\", f);\n"
                                 "            fclose(f);\n"
                                 "            for (;;) {}\n"
                                 "        }\n"
                                 "        return 0;\n"
                                 "    }\n"
                                 "    for (;;) {}\n}\n"));
    QProcess process;
    QVERIFY(startSlowRun(process, root));
    QVERIFY(anyProcessWorksIn(root));
    QVERIFY(::kill(pid_t(process.processId()), SIGKILL) == 0);
    QVERIFY(process.waitForFinished(120000));
    if (process.readAllStandardError().contains("沙箱不可用"))
        QSKIP("without a sandbox, a detached grandchild outlives a killed judge");
    QTRY_VERIFY_WITH_TIMEOUT(!anyProcessWorksIn(root), 10000);
}

void TestCli::stoppedRejudgeKeepsEveryResult_data()
{
    QTest::addColumn<int>("signalNumber");
    QTest::newRow("SIGINT") << int(SIGINT);
    QTest::newRow("SIGKILL") << int(SIGKILL);
}

// Judging everything again, ended in the fourth cell: every cell still has
// a complete result file, old or new (the same here), and after a stop the
// result list shows them all.
void TestCli::stoppedRejudgeKeepsEveryResult()
{
    QFETCH(int, signalNumber);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString root = dir.path() + QStringLiteral("/contest");
    QVERIFY(copyTree(sampleRoot(), root));
    QProcess process;
    QByteArray out;
    connect(&process, &QProcess::readyReadStandardOutput, this,
            [&] { out += process.readAllStandardOutput(); });
    markRun(process, root);
    process.start(JudgeProgram, {QStringLiteral("--all"), root});
    static const QRegularExpression heading(QStringLiteral("^\\S"));
    QTRY_VERIFY_WITH_TIMEOUT(QString::fromUtf8(out).split(u'\n').filter(heading).size() >= 4, 120000);
    QVERIFY(::kill(pid_t(process.processId()), signalNumber) == 0);
    QVERIFY(process.waitForFinished(120000));
    QVERIFY2(!out.contains("- 测评结束 -"), "the run ended before the signal");
    QCOMPARE(process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
             signalNumber == SIGKILL ? -1 : 130);

    Contest contest;
    contest.rootDir = root;
    contest.loadResultList();
    for (const Outcome &o : SampleOutcomes) {
        XmlFile file;
        const QString player = QString::fromUtf8(o.player);
        const QString problem = QString::fromUtf8(o.problem);
        QVERIFY2(file.load(contest.resultFilePath(player, problem)), o.player);
        QCOMPARE(pointStates(file), QString::fromUtf8(o.points));
        const ScoreInfo info = readScoreInfo(file.document);
        QCOMPARE(info, (ScoreInfo{o.score, info.time, o.state}));
        if (signalNumber != SIGKILL)
            QCOMPARE(contest.cachedResults.value(Contest::cellKey(player, problem)), info);
    }
    QTRY_VERIFY_WITH_TIMEOUT(!anyProcessWorksIn(root), 30000);
}

// Folders whose names the contest's files cannot carry are neither judged
// nor listed, and each is named on standard error.
void TestCli::unusableFolderNames()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString root = dir.path();
    QVERIFY(writeOnePointContest(root, QStringLiteral("sum"), QStringLiteral("1"),
                                 answering(QStringLiteral("sum"))));
    QVERIFY(writeTestFile(root + QStringLiteral("/src/line/sum/sum.c"),
                          answering(QStringLiteral("sum"), "2")));
    // Made through the bytes, which a QString cannot carry; removed the same way.
    const auto tidy = qScopeGuard([&root] { emptyTreeByBytes(root); });
    const QByteArray bytes = QFile::encodeName(root);
    QStringEncoder gb("GB18030");
    for (const QByteArray &name : {QByteArray("new\nline"),
                                   QByteArray(gb.encode(QStringLiteral("张三"))),
                                   QByteArray("tab\there")}) {
        QVERIFY(::mkdir(bytes + "/src/" + name, 0755) == 0);
        QVERIFY(::mkdir(bytes + "/src/" + name + "/sum", 0755) == 0);
        QVERIFY(::link(bytes + "/src/a/sum/sum.c", bytes + "/src/" + name + "/sum/sum.c") == 0);
    }
    QVERIFY(::mkdir(bytes + "/data/bad\x01", 0755) == 0);
    QVERIFY(::link(bytes + "/data/sum/.prb", bytes + "/data/bad\x01/.prb") == 0);

    const Run run = runJudge(root, {root});
    QVERIFY2(run.exitCode == 0, qPrintable(run.err));
    QStringList skipped = run.err.split(u'\n', Qt::SkipEmptyParts);
    skipped.sort();
    const QString prefix = QStringLiteral("qxj-judge: skipped ");
    QCOMPARE(skipped, (QStringList{prefix + QStringLiteral("data/bad\\x01: 名称含有控制字符"),
                                   prefix + QStringLiteral("src/\\xd5\\xc5\\xc8\\xfd: 名称不是有效的 UTF-8 编码"),
                                   prefix + QStringLiteral("src/new\\nline: 名称含有换行符"),
                                   prefix + QStringLiteral("src/tab\\there: 名称含有控制字符")}));
    QCOMPARE(readTestFile(root + QStringLiteral("/result/.reslist")).count('\n'), 2);
    Contest contest;
    contest.rootDir = root;
    contest.loadResultList();
    QCOMPARE(contest.cachedResults.value(QStringLiteral("a/sum")).score, 100);
    QCOMPARE(contest.cachedResults.value(QStringLiteral("line/sum")).score, 0);
    QCOMPARE(treeOf(root + QStringLiteral("/result")),
             (QStringList{QStringLiteral(".reslist"), QStringLiteral("sum"),
                          QStringLiteral("sum/a.res"), QStringLiteral("sum/line.res")}));
}

// A problem "one" with a subtask of 2000000000 and "two" with two: neither a
// cell nor the row's total may wrap round to a negative number.
void TestCli::hugeScores()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString root = dir.path();
    for (const QString &name : {QStringLiteral("one"), QStringLiteral("two")}) {
        QVERIFY(writeOnePointContest(root, name, QStringLiteral("1"), answering(name)));
        QByteArray config = traditionalConfig(name, 2000000000, QStringLiteral("1"));
        const qsizetype from = config.indexOf("<subtask");
        const qsizetype to = config.indexOf("</task>");
        if (name == QStringLiteral("two"))
            config.insert(to, config.mid(from, to - from));
        QVERIFY(writeTestFile(root + QStringLiteral("/data/") + name + QStringLiteral("/.prb"),
                              config));
    }

    const Run run = runJudge(root, {QStringLiteral("--export"), QStringLiteral("scores.csv"), root});
    QVERIFY2(run.exitCode == 0, qPrintable(run.err));
    XmlFile file;
    QVERIFY(file.load(root + QStringLiteral("/result/two/a.res")));
    QCOMPARE(pointStates(file), QStringLiteral("AA"));
    QCOMPARE(readScoreInfo(file.document).score, INT_MAX);
    const QByteArray list = readTestFile(root + QStringLiteral("/result/.reslist"));
    QVERIFY2(list.contains("a/one/2000000000/") && list.contains("a/two/2147483647/"), list);
    static const QRegularExpression gap(QStringLiteral("  +"));
    QCOMPARE(run.out.section(u'\n', -2, -2).split(gap).mid(0, 2),
             (QStringList{QStringLiteral("a"), QStringLiteral("2147483647")}));
    QCOMPARE(readTestFile(root + QStringLiteral("/scores.csv")).split('\n').value(1),
             QByteArray("\"a\",2147483647,2000000000,2147483647,"));
}

void TestCli::notAContest_data()
{
    QTest::addColumn<QStringList>("arguments");
    const auto s = [](const char *text) { return QString::fromUtf8(text); };
    QTest::newRow("empty directory") << QStringList{s("empty")};
    QTest::newRow("data but no src") << QStringList{s("onlydata")};
    QTest::newRow("src but no data") << QStringList{s("onlysrc")};
    QTest::newRow("missing path") << QStringList{s("nothere")};
    QTest::newRow("regular file") << QStringList{s("plain.txt")};
    QTest::newRow("path through a regular file") << QStringList{s("plain.txt/contest")};
    QTest::newRow("unknown option") << QStringList{s("--bogus"), s("valid")};
    QTest::newRow("option without its value") << QStringList{s("valid"), s("--player")};
    QTest::newRow("no contest given") << QStringList{};
    QTest::newRow("two contests") << QStringList{s("valid"), s("empty")};
    QTest::newRow("unknown player") << QStringList{s("--player"), s("nobody"), s("valid")};
    QTest::newRow("unknown problem") << QStringList{s("--problem"), s("nothing"), s("valid")};
    QTest::newRow("export into a missing directory")
        << QStringList{s("--export"), s("nodir/out.csv"), s("valid")};
    QTest::newRow("export onto a directory") << QStringList{s("--export"), s("empty"), s("valid")};
    QTest::newRow("negative jobs") << QStringList{s("--jobs"), s("-1"), s("valid")};
    QTest::newRow("jobs not a number") << QStringList{s("--jobs"), s("two"), s("valid")};
    QTest::newRow("jobs given twice") << QStringList{s("--jobs"), s("1"), s("--jobs"), s("2"), s("valid")};
    QTest::newRow("too many jobs") << QStringList{s("--jobs"), s("100000"), s("valid")};
}

void TestCli::notAContest()
{
    QFETCH(QStringList, arguments);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString root = dir.path();
    QVERIFY(QDir(root).mkpath(QStringLiteral("empty")));
    QVERIFY(QDir(root).mkpath(QStringLiteral("onlydata/data")));
    QVERIFY(QDir(root).mkpath(QStringLiteral("onlysrc/src")));
    QVERIFY(writeTestFile(root + QStringLiteral("/plain.txt"), "text"));
    QVERIFY(writeTestFile(root + QStringLiteral("/valid/data/a/.prb"),
                          traditionalConfig(QStringLiteral("a"), 100, QStringLiteral("1"))));
    QVERIFY(QDir(root).mkpath(QStringLiteral("valid/src/x")));
    const QStringList before = treeSnapshot(root);

    const Run run = runJudge(root, arguments);
    QCOMPARE(run.status, QProcess::NormalExit);
    QCOMPARE(run.exitCode, 2);
    QCOMPARE(run.out, QString());
    QCOMPARE(run.err.count(u'\n'), 1);
    QVERIFY(run.err.endsWith(u'\n') && run.err.size() > 1);
    QCOMPARE(treeSnapshot(root), before);
}

void TestCli::help()
{
    const Run run = runJudge(m_work.path(), {QStringLiteral("--help")});
    QCOMPARE(run.exitCode, 0);
    for (const char *option : {"--all", "--player", "--problem", "--export", "--jobs", "CONTEST_DIR"})
        QVERIFY2(run.out.contains(QLatin1String(option)), option);
    QCOMPARE(run.err, QString());
}

void TestCli::exportTable_data()
{
    QTest::addColumn<bool>("withList");
    QTest::addColumn<QString>("expected");
    // Rows best first: x2 and x1 tie on 150, x2 took less time.
    QTest::newRow("with player list") << true
                                      << QStringLiteral("编号,姓名,总分,\"a\",\"b\",\n"
                                                        "\"x2\",\"李\"\"四\"\"\",150,50,100,\n"
                                                        "\"x1\",\"张三\",150,100,50,\n"
                                                        "\"x,3\",\"\",20,0,20,\n"
                                                        "\"q\"\"4\",\"王五\",0,0,0,\n");
    QTest::newRow("without player list") << false
                                         << QStringLiteral("选手,总分,\"a\",\"b\",\n"
                                                           "\"x2\",150,50,100,\n"
                                                           "\"x1\",150,100,50,\n"
                                                           "\"x,3\",20,0,20,\n"
                                                           "\"q\"\"4\",0,0,0,\n");
}

void TestCli::exportTable()
{
    QFETCH(bool, withList);
    QFETCH(QString, expected);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString root = dir.path() + QStringLiteral("/contest");
    QVERIFY(writeTestFile(root + QStringLiteral("/data/a/.prb"),
                          traditionalConfig(QStringLiteral("a"), 100, QStringLiteral("1"))));
    QVERIFY(writeTestFile(root + QStringLiteral("/data/b/.prb"),
                          traditionalConfig(QStringLiteral("b"), 100, QStringLiteral("1"))));
    for (const QString &player : {QStringLiteral("x1"), QStringLiteral("x2"), QStringLiteral("x,3"),
                                  QStringLiteral("q\"4")})
        QVERIFY(QDir(root).mkpath(QStringLiteral("src/") + player));
    // Every cell judged already: nothing is queued.
    QVERIFY(writeTestFile(root + QStringLiteral("/result/.reslist"),
                          "x1/a/100/1/N/\nx1/b/50/0.5/N/\nx2/a/50/0.5/N/\nx2/b/100/0.5/N/\n"
                          "x,3/a/0/0/C/\nx,3/b/20/0.1/N/\nq\"4/a/0/0/F/\nq\"4/b/0/0/N/\n"));
    QStringEncoder gb("GB18030");
    if (withList) {
        QVERIFY(writeTestFile(root + QStringLiteral("/.list"),
                              gb.encode(QStringLiteral("x1,张三\nx2,李\"四\"\nq\"4,王五\n"))));
    }

    const Run run = runJudge(dir.path(), {QStringLiteral("--export"), QStringLiteral("成绩.csv"),
                                          QStringLiteral("contest")});
    QVERIFY2(run.exitCode == 0, qPrintable(run.err));
    const QByteArray bytes = readTestFile(dir.path() + QStringLiteral("/成绩.csv"));
    QStringDecoder decoder("GB18030");
    QCOMPARE(QString(decoder.decode(bytes)), expected);
    QVERIFY(!decoder.hasError());
    if (withList) {
        QVERIFY(bytes.contains(QByteArray(gb.encode(QStringLiteral("张三")))));
        QVERIFY(!bytes.contains(QStringLiteral("张三").toUtf8()));
    }
}

// Each file the judge cannot write is told on its cell's rows and on
// standard error, and the run fails. A cell whose result is not stored is a
// judge error, to be judged again; a missing report costs no verdict.
void TestCli::unwritableFiles()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString root = dir.path();
    const QByteArray answer = "#include <stdio.h>\nint main(void)\n{\n"
                              "    FILE *f = fopen(\"one.out\", \"w\");\n"
                              "    fputs(\"1\\n\", f);\n    fclose(f);\n    return 0;\n}\n";
    QVERIFY(writeOnePointContest(root, QStringLiteral("one"), QStringLiteral("1"), answer));
    QVERIFY(writeTestFile(root + QStringLiteral("/src/c/one/one.c"), answer));
    QVERIFY(QDir().mkpath(root + QStringLiteral("/src/b")));  // hands in nothing
    const QStringList blocked{root + QStringLiteral("/result/one/a.res"),
                              root + QStringLiteral("/result/one/b.res"),
                              root + QStringLiteral("/src/c/result.html")};
    for (const QString &path : blocked)
        QVERIFY(QDir().mkpath(path + QStringLiteral("/x")));

    const Run run = runJudge(root, {root});
    QCOMPARE(run.exitCode, 1);
    QCOMPARE(run.err.count(u'\n'), 3);
    for (const QString &path : blocked)
        QVERIFY2(run.err.contains(QStringLiteral("qxj-judge: cannot write ") + path + u'\n'),
                 qPrintable(run.err));
    QVERIFY(run.out.contains(QStringLiteral("结果文件无法写入: ") + blocked[0]));
    QVERIFY(run.out.contains(QStringLiteral("结果文件无法写入: ") + blocked[1]));
    QVERIFY(run.out.contains(QStringLiteral("报告文件无法写入: ") + blocked[2]));
    const QString list = QString::fromUtf8(readTestFile(root + QStringLiteral("/result/.reslist")));
    QVERIFY2(list.contains(QStringLiteral("a/one/0/0/E/\n"))
                 && list.contains(QStringLiteral("b/one/0/0/E/\n"))
                 && list.contains(QStringLiteral("\nc/one/100/")),
             qPrintable(list));
}

// The same contest judged one cell at a time and two at a time: the same
// verdicts, and on standard output each cell's rows together under its heading.
void TestCli::twoJobsGiveTheSameVerdicts()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString one = dir.path() + QStringLiteral("/one");
    const QString two = dir.path() + QStringLiteral("/two");
    QVERIFY(writeMixedContest(SampleContest, one, 2));
    QVERIFY(copyTree(one, two));

    const Run single = runJudge(dir.path(), {QStringLiteral("--jobs"), QStringLiteral("1"), one});
    QVERIFY2(single.exitCode == 0, qPrintable(single.err));
    const Run pair = runJudge(dir.path(), {QStringLiteral("--jobs"), QStringLiteral("2"), two});
    QVERIFY2(pair.exitCode == 0, qPrintable(pair.err));
    QVERIFY(!QFileInfo::exists(two + QStringLiteral("/tmp")));

    const QMap<QString, QString> verdicts = verdictsBelow(one);
    QCOMPARE(verdicts.size(), 22 * 4);
    QCOMPARE(verdictsBelow(two), verdicts);
    QString letters;
    for (const QString &verdict : verdicts)
        letters += verdict.section(u'|', 0, 0);
    for (const QChar letter : QStringLiteral("AWPTMROIUCF"))
        QVERIFY2(letters.contains(letter), qPrintable(QString(letter)));

    // Under each heading exactly the points of that cell's result file.
    static const QRegularExpression pointRow(QStringLiteral("^  +\\d+  ([A-Z])  "));
    QStringList headings;
    QHash<QString, QString> shown;
    for (const QString &line : pair.out.section(QStringLiteral("- 测评结束 -"), 0, 0).split(u'\n')) {
        const QRegularExpressionMatch match = pointRow.match(line);
        if (match.hasMatch() && !headings.isEmpty())
            shown[headings.last()] += match.captured(1);
        else if (!line.isEmpty() && !line.startsWith(u' '))
            headings.append(line);
    }
    QCOMPARE(headings.size(), verdicts.size());
    for (auto it = verdicts.cbegin(); it != verdicts.cend(); ++it) {
        const QString problem = it.key().section(u'/', 0, 0);
        const QString player = it.key().section(u'/', 1);
        const QString heading =
            player == QStringLiteral("std") ? u'"' + problem + QStringLiteral("\"的标程")
            : player.size() == 3 && player != QStringLiteral("std")
                ? sampleName(player) + QStringLiteral(" - ") + problem
                : player + QStringLiteral(" - ") + problem;
        QVERIFY2(headings.contains(heading), qPrintable(heading));
        QCOMPARE(shown.value(heading), it.value().section(u'|', 0, 0).section(u' ', 2));
    }
}

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
