// Traditional problems judged end to end through TestCore: real compilers,
// the real runner and the built full-text checker, in a temporary contest.

#include "contest.h"
#include "contestfiles.h"
#include "dirs.h"
#include "gridcells.h"
#include "runner.h"
#include "testcore.h"
#include "viewinfo.h"
#include "testfiles.h"
#include "xmlfile.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>

#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

const QString Problem = u"sum"_s;
const QString DefaultChecker = u"全文比较"_s;
constexpr int JudgeTimeoutMs = 120000;

// A+B in every language; the wrong ones add one.
const QByteArray SumC = R"(#include <stdio.h>
int main(void) {
    long long a = 0, b = 0;
    FILE *in = fopen("sum.in", "r"), *out = fopen("sum.out", "w");
    if (in && fscanf(in, "%lld %lld", &a, &b) != 2) return 1;
    fprintf(out, "%lld\n", a + b);
    return 0;
}
)";
const QByteArray SumCpp = R"(#include <fstream>
int main() {
    std::ifstream in("sum.in");
    std::ofstream out("sum.out");
    long long a, b;
    in >> a >> b;
    out << a + b << "\n";
}
)";
const QByteArray SumPas = R"(var a, b: longint; f, g: text;
begin
  assign(f, 'sum.in'); reset(f); read(f, a, b); close(f);
  assign(g, 'sum.out'); rewrite(g); writeln(g, a + b); close(g);
end.
)";
QByteArray wrong(QByteArray source, const QByteArray &sum, const QByteArray &sumPlusOne)
{
    return source.replace(sum, sumPlusOne);
}
const QByteArray WrongCpp = wrong(SumCpp, "a + b", "a + b + 1");
const QByteArray WrongPas = wrong(SumPas, "a + b", "a + b + 1");

// One program for every run outcome, steered by its input file:
// "burn s" uses s seconds of CPU, "loop" writes its pid and spins, "none"
// writes nothing, "stuck" marks its output as one the judge cannot remove, "hide"
// leaves hidden files there and, where it may, in the directory above;
// "lockdir", "lockfile", "readonly" and "deep" leave folders and files
// without their owner's rights there, "lockverdict" such a folder inside a
// folder where the checker writes its verdict. The first output line is
// cpu=<its own CPU time>, plus " noinput" when it found no input file,
// " leftover" when it found a hidden file in its directory and " above" when
// it found one in the directory above.
const QByteArray ActorC = R"(#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
static void touch(const char *path) {
    FILE *f = fopen(path, "w");
    if (f) fclose(f);
}
static double cpu(void) {
    struct rusage u;
    getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_utime.tv_usec / 1e6;
}
int main(void) {
    char cmd[64] = "burn";
    double arg = 0;
    FILE *in = fopen("sum.in", "r");
    if (in) {
        if (fscanf(in, "%63s %lf", cmd, &arg) < 1) strcpy(cmd, "burn");
        fclose(in);
    }
    const int leftover = access(".left", F_OK) == 0, above = access("../.left", F_OK) == 0;
    if (!strcmp(cmd, "none")) return 0;
    if (!strcmp(cmd, "hide")) {
        mkdir("d", 0755);
        touch(".left");
        touch("d/.left");
        touch("../.left");
    }
    if (!strcmp(cmd, "lockdir")) {
        mkdir("d", 0755);
        touch("d/f");
        chmod("d", 0);
    }
    if (!strcmp(cmd, "lockfile")) {
        touch("f");
        chmod("f", 0);
    }
    if (!strcmp(cmd, "readonly")) {
        mkdir("d", 0755);
        mkdir("d/e", 0755);
        touch("d/f");
        touch("d/e/g");
        chmod("d/e", 0);
        chmod("d", 0500);
    }
    if (!strcmp(cmd, "lockverdict")) {
        mkdir("check_info.txt", 0755);
        mkdir("check_info.txt/d", 0755);
        touch("check_info.txt/d/f");
        chmod("check_info.txt/d", 0);
    }
    if (!strcmp(cmd, "deep")) {
        char path[256] = "n";
        for (int i = 0; i < 30; ++i, strcat(path, "/n"))
            mkdir(path, 0755);
        path[strlen(path) - 2] = 0;
        touch(strcat(path, "/f"));
        path[strlen(path) - 2] = 0;
        chmod(path, 0);
        path[15] = 0;
        chmod(path, 0);
    }
    FILE *out = fopen("sum.out", "w");
    if (!strcmp(cmd, "loop")) {
        fprintf(out, "pid=%d\n", (int)getpid());
        fclose(out);
        for (volatile int i = 0;; ++i) {}
    }
    // Mostly arithmetic: asking for the time is a system call.
    volatile double x = 0;
    while (cpu() < arg)
        for (int i = 0; i < 1000000; ++i) x += 1;
    fprintf(out, "cpu=%.6f%s%s%s%s\n", cpu(), in ? "" : " noinput", leftover ? " leftover" : "",
            above ? " above" : "", strcmp(cmd, "stuck") ? "" : " stuck");
    fclose(out);
    return 0;
}
)";

// A checker that takes the answer file's first line as its verdict and the
// program's first line as its message.
const QString RatioCheckerName = u"ratio"_s;
const QByteArray RatioChecker = "#!/bin/sh\n{ head -n 1 \"$2\"; head -n 1 \"$3\"; } > \"$4\"\n";

struct Language
{
    QString file;
    QString cmd;
};
} // namespace
Q_DECLARE_METATYPE(Language)
namespace {
const QList<Language> DefaultLanguages = {
    {u"sum.pas"_s, u"fpc sum.pas"_s},
    {u"sum.cpp"_s, u"g++ -o sum sum.cpp -lm"_s},
    {u"sum.c"_s, u"gcc -o sum sum.c -lm"_s},
};

struct ProblemSetup
{
    QString code = u"100"_s;
    QString runexe;
    QList<Language> languages = DefaultLanguages;
    QString checker = DefaultChecker;
    // Subtasks separated by ";", each "score:points" with points "1,2,…";
    // point k reads p<k>.in and is checked against p<k>.ans.
    QString layout;
    QString time = u"1"_s;
    QString mem = u"64"_s;
};

// The actor handed in as the program, judged by the ratio checker.
ProblemSetup actorProblem(const QString &layout)
{
    ProblemSetup setup;
    setup.runexe = Problem;
    setup.checker = RatioCheckerName;
    setup.layout = layout;
    return setup;
}

// A compile command that sleeps with a child and a grandchild in a session of
// its own, noting every pid in <root>/pids.
const QByteArray SlowScript = "echo $$ >> ../pids\n"
                              "sleep 300 &\necho $! >> ../pids\n"
                              "setsid sh -c 'echo $$ >> ../pids; exec sleep 300' &\n"
                              "sleep 300\n";

QByteArray configXml(const ProblemSetup &setup)
{
    QDomDocument doc = newDocument();
    QDomElement problem = doc.createElement(u"problem"_s);
    problem.setAttribute(u"type"_s, u"TRA_0_4"_s);
    doc.appendChild(problem);
    QDomElement source = doc.createElement(u"source"_s);
    source.setAttribute(u"dir"_s, Problem);
    source.setAttribute(u"file"_s, Problem);
    source.setAttribute(u"code"_s, setup.code);
    if (!setup.runexe.isEmpty())
        source.setAttribute(u"runexe"_s, setup.runexe);
    for (const Language &language : setup.languages) {
        QDomElement element = doc.createElement(u"language"_s);
        element.setAttribute(u"file"_s, language.file);
        element.setAttribute(u"cmd"_s, language.cmd);
        source.appendChild(element);
    }
    problem.appendChild(source);
    QDomElement task = doc.createElement(u"task"_s);
    task.setAttribute(u"input"_s, u"sum.in"_s);
    task.setAttribute(u"output"_s, u"sum.out"_s);
    task.setAttribute(u"checker"_s, setup.checker);
    for (const QString &subtaskText : setup.layout.split(u';', Qt::SkipEmptyParts)) {
        const QString scoreText = subtaskText.section(u':', 0, 0);
        const QStringList points = subtaskText.section(u':', 1).split(u',', Qt::SkipEmptyParts);
        QDomElement subtask = doc.createElement(u"subtask"_s);
        subtask.setAttribute(u"score"_s, scoreText);
        for (const QString &k : points) {
            QDomElement point = doc.createElement(u"point"_s);
            point.setAttribute(u"in"_s, u"p"_s + k + u".in"_s);
            point.setAttribute(u"out"_s, u"p"_s + k + u".ans"_s);
            point.setAttribute(u"time"_s, setup.time);
            point.setAttribute(u"mem"_s, setup.mem);
            subtask.appendChild(point);
        }
        task.appendChild(subtask);
    }
    problem.appendChild(task);
    return doc.toByteArray(4);
}

bool writeFile(const QString &path, const QByteArray &bytes, bool executable = false)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        return false;
    file.close();
    if (executable)
        return file.setPermissions(file.permissions() | QFile::ExeOwner | QFile::ExeUser);
    return true;
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Alive means present and not a zombie.
bool processAlive(qint64 pid)
{
    const QByteArray stat = readFile(u"/proc/%1/stat"_s.arg(pid));
    if (stat.isEmpty())
        return false;
    const qsizetype close = stat.lastIndexOf(')');
    return close < 0 || stat.mid(close + 2, 1) != "Z";
}

QList<qint64> pidsIn(const QString &path)
{
    QList<qint64> pids;
    for (const QByteArray &line : readFile(path).split('\n'))
        if (!line.trimmed().isEmpty())
            pids << line.trimmed().toLongLong();
    return pids;
}

} // namespace

// What the judge reports, received on the test's thread in arrival order,
// exactly as the window receives it.
class Recorder : public QObject
{
    Q_OBJECT
public:
    QList<ViewInfo> rows;
    QList<ScoreInfo> items;
    QList<SiteItem *> itemCells;
    QList<bool> selects;
public slots:
    void info(ViewInfo row) { rows << row; }
    void item(SiteItem *cell, ScoreInfo info)
    {
        itemCells << cell;
        items << info;
    }
    void select(SiteItem *, bool selected) { selects << selected; }
    void end() { emit ended(); }
signals:
    void ended();
};

// One temporary contest with problem "sum".
struct Site
{
    QTemporaryDir dir;
    Contest contest;

    Site()
    {
        contest.rootDir = dir.path();
        QDir(dir.path()).mkpath(u"data/sum"_s);
        QDir(dir.path()).mkpath(u"src"_s);
    }
    QString path(const QString &relative) const { return dir.path() + u'/' + relative; }
    QString problemDir() const { return contest.problemDir(Problem); }
    QString submissionDir(const QString &player) const
    {
        return contest.playerSubDir(player, Problem);
    }
    bool configure(const ProblemSetup &setup)
    {
        return writeFile(contest.problemConfigPath(Problem), configXml(setup))
               && (setup.checker != RatioCheckerName
                   || writeFile(problemDir() + u'/' + RatioCheckerName, RatioChecker, true));
    }
    // One subtask of one point: 1 2 gives 3.
    bool configureOnePoint(ProblemSetup setup)
    {
        setup.layout = u"100:1"_s;
        return configure(setup) && writePoint(1, "1 2\n", "3\n");
    }
    // A null input leaves the point's input file missing.
    bool writePoint(int k, const QByteArray &input, const QByteArray &answer)
    {
        const QString base = problemDir() + u"/p"_s + QString::number(k);
        return (input.isNull() || writeFile(base + u".in"_s, input))
               && writeFile(base + u".ans"_s, answer);
    }
    bool submit(const QString &player, const QString &file, const QByteArray &bytes,
                bool executable = false)
    {
        return writeFile(submissionDir(player) + u'/' + file, bytes, executable);
    }
    // A compile command that never ends by itself (SlowScript).
    bool configureSlowCompile(const QString &player)
    {
        ProblemSetup setup;
        setup.languages = {{u"sum.c"_s, u"sh ../slow.sh"_s}};
        return configureOnePoint(setup) && submit(player, u"sum.c"_s, SumC)
               && writeFile(path(u"slow.sh"_s), SlowScript);
    }
    // A prepared executable named as the program.
    bool handIn(const QString &player, const QString &binary)
    {
        return QDir().mkpath(submissionDir(player))
               && QFile::copy(binary, submissionDir(player) + u'/' + Problem);
    }
    QString resultPath(const QString &player) const
    {
        return contest.resultFilePath(player, Problem);
    }
};

struct Outcome
{
    bool ended = false;
    QList<ViewInfo> rows;
    QList<ScoreInfo> items;
    QList<SiteItem *> itemCells;
    QList<bool> selects;
    std::vector<std::unique_ptr<SiteItem>> cells;
};

class TestTraditional : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void languages_data();
    void languages();
    void programFailures_data();
    void programFailures();
    void compileFailures_data();
    void compileFailures();
    void codeLimit_data();
    void codeLimit();
    void compileTimeoutKillsTree();
    void secondAttemptAfterPause();
    void preparedExecutable();
    void scoring_data();
    void scoring();
    void missingInputData();
    void judgeErrors();
    void leftoversRemoved();
    void plantedFiles_data();
    void plantedFiles();
    void scratchAreaNotADirectory();
    void stopDuringRun();
    void stopDuringCompile();
    void storageFaults_data();
    void storageFaults();
    void submissionLinks_data();
    void submissionLinks();
    void lockedLeftovers_data();
    void lockedLeftovers();

private:
    // Judges the players' cells of "sum"; whileRunning, when given, replaces
    // the wait for the end of the run.
    void judge(Site &site, const QStringList &players, Outcome &run,
               const std::function<void(TestCore &)> &whileRunning = {});
    // Judges one player's cell to the end and checks it; result: its saved file.
    void judgeCell(Site &site, const QString &player, QDomDocument &result);
    // Judges one cell and stops the run once ready() holds: nothing of the
    // cell may be saved or reported.
    void judgeAndStop(Site &site, const QString &player, const std::function<bool()> &ready);
    // The saved result against the rows and summaries of one judged cell.
    void checkCell(const Site &site, const Outcome &run, int cell, QDomDocument &result);
    bool compileTool(const QByteArray &source, const QString &name);

    QTemporaryDir m_tools;
    QString m_actor;
    QString m_sumBinary;
};

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

void TestTraditional::judgeCell(Site &site, const QString &player, QDomDocument &result)
{
    Outcome run;
    judge(site, {player}, run);
    QVERIFY2(run.ended, "the run did not end");
    QCOMPARE(run.rows.last().kind, int(ViewInfo::End));
    QCOMPARE(run.rows.last().text, u"- 测评结束 -"_s);
    checkCell(site, run, 0, result);
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

// Point states and notes of a saved result, in order.
static QString pointStates(const QDomDocument &result)
{
    QString states;
    const ElementQuery points = queryUnder(result, ResultXml::Point);
    for (int i = 0; i < points.count(); ++i)
        states += attributeText(points.item(i), ResultXml::State);
    return states;
}

static QStringList pointAttributes(const QDomDocument &result, const QString &name)
{
    QStringList values;
    const ElementQuery points = queryUnder(result, ResultXml::Point);
    for (int i = 0; i < points.count(); ++i)
        values << attributeText(points.item(i), name);
    return values;
}

static double noteSeconds(const QString &note)
{
    static const QRegularExpression time(u"时间: ([0-9.]+)s"_s);
    return time.match(note).captured(1).toDouble();
}

// Three points in two subtasks, checked by the full-text checker.
static bool writeSumData(Site &site)
{
    return site.writePoint(1, "1 2\n", "3\n") && site.writePoint(2, "100 200\n", "300\n")
           && site.writePoint(3, "-5 5\n", "0\n");
}

void TestTraditional::languages_data()
{
    QTest::addColumn<QList<Language>>("languages");
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QList<QByteArray>>("sources");
    QTest::addColumn<int>("score");

    QTest::newRow("c") << DefaultLanguages << QStringList{u"sum.c"_s} << QList{SumC} << 100;
    QTest::newRow("c++") << DefaultLanguages << QStringList{u"sum.cpp"_s} << QList{SumCpp} << 100;
    QTest::newRow("pascal") << DefaultLanguages << QStringList{u"sum.pas"_s} << QList{SumPas}
                            << 100;
    const QStringList both{u"sum.cpp"_s, u"sum.pas"_s};
    QTest::newRow("c++ listed first wins") << QList{DefaultLanguages[1], DefaultLanguages[0]}
                                           << both << QList{SumCpp, WrongPas} << 100;
    QTest::newRow("pascal listed first wins") << DefaultLanguages << both
                                              << QList{SumCpp, WrongPas} << 0;
}

void TestTraditional::languages()
{
    QFETCH(QList<Language>, languages);
    QFETCH(QStringList, files);
    QFETCH(QList<QByteArray>, sources);
    QFETCH(int, score);

    Site site;
    ProblemSetup setup;
    setup.languages = languages;
    setup.layout = u"40:1,2;60:3"_s;
    QVERIFY(site.configure(setup));
    QVERIFY(writeSumData(site));
    for (int i = 0; i < files.size(); ++i)
        QVERIFY(site.submit(u"alice"_s, files[i], sources[i]));

    QDomDocument result;
    judgeCell(site, u"alice"_s, result);
    if (QTest::currentTestFailed())
        return;

    const ScoreInfo saved = readScoreInfo(result);
    QCOMPARE(saved.score, score);
    QCOMPARE(saved.state, TaskState::Normal);
    if (score == 100) {
        QCOMPARE(pointStates(result), u"AAA"_s);
        QCOMPARE(pointAttributes(result, ResultXml::Ratio), QStringList(3, u"1"_s));
        // Full subtasks count all their time; the notes show it to 2 decimals.
        double noted = 0;
        for (const QString &note : pointAttributes(result, ResultXml::Note)) {
            QVERIFY2(note.startsWith(u"时间: "_s), qPrintable(note));
            noted += noteSeconds(note);
        }
        QVERIFY(qAbs(saved.time - noted) <= 0.016);
    } else {
        QCOMPARE(pointStates(result), u"WIW"_s);
    }
}

void TestTraditional::programFailures_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QByteArray>("source");
    QTest::addColumn<QString>("pointState");
    QTest::addColumn<QString>("note");
    QTest::addColumn<char>("problemState");

    QTest::newRow("wrong answer") << u"sum.cpp"_s << WrongCpp << u"W"_s
                                  << u"标准输出:\"3\" 选手输出:\"4\""_s << TaskState::Normal;
    QTest::newRow("endless loop")
        << u"sum.c"_s << QByteArray("int main(void) { for (volatile int i = 0;; ++i) {} }\n")
        << u"T"_s << u"超过时间限制"_s << TaskState::Normal;
    QTest::newRow("memory hog")
        << u"sum.c"_s
        << QByteArray("#include <stdlib.h>\n#include <string.h>\n"
                      "int main(void) { size_t n = 512u << 20; char *p = malloc(n);\n"
                      "  if (p) memset(p, 1, n); return p ? p[n / 2] - 1 : 0; }\n")
        << u"M"_s << u"超过内存限制"_s << TaskState::RunError;
    QTest::newRow("crash")
        << u"sum.c"_s << QByteArray("int main(void) { *(volatile int *)0 = 1; return 0; }\n")
        << u"R"_s << u"运行时错误: SIGSEGV"_s << TaskState::RunError;
    QTest::newRow("exit code") << u"sum.c"_s << QByteArray("int main(void) { return 3; }\n")
                               << u"R"_s << u"运行时错误: 3"_s << TaskState::RunError;
    QTest::newRow("no output") << u"sum.c"_s << QByteArray("int main(void) { return 0; }\n")
                               << u"O"_s << u"无输出"_s << TaskState::NoOutput;
}

void TestTraditional::programFailures()
{
    QFETCH(QString, file);
    QFETCH(QByteArray, source);
    QFETCH(QString, pointState);
    QFETCH(QString, note);
    QFETCH(char, problemState);

    Site site;
    QVERIFY(site.configureOnePoint(ProblemSetup()));
    QVERIFY(site.submit(u"bob"_s, file, source));

    QDomDocument result;
    judgeCell(site, u"bob"_s, result);
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(pointStates(result), pointState);
    QCOMPARE(pointAttributes(result, ResultXml::Note), QStringList{note});
    QCOMPARE(pointAttributes(result, ResultXml::Ratio), QStringList{u"0"_s});
    const ScoreInfo saved = readScoreInfo(result);
    QCOMPARE(saved.score, 0);
    QCOMPARE(saved.state, problemState);
    QCOMPARE(saved.time, 0.0);
}

void TestTraditional::compileFailures_data()
{
    QTest::addColumn<QList<Language>>("languages");
    QTest::addColumn<QString>("runexe");
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QByteArray>("content");  // of every submitted file
    QTest::addColumn<QByteArray>("script");  // written as build.sh beside the contest
    QTest::addColumn<char>("state");
    QTest::addColumn<QString>("note");
    QTest::addColumn<int>("compilerRuns");  // as counted by build.sh; -1: not counted

    const QList<Language> script{{u"sum.c"_s, u"sh ../build.sh"_s}};
    const QStringList source{u"sum.c"_s};

    QTest::newRow("no source") << DefaultLanguages << QString() << QStringList() << SumC
                               << QByteArray() << TaskState::FileMissing << u"找不到文件"_s << -1;
    QTest::newRow("prepared executable absent")
        << DefaultLanguages << u"sum"_s << QStringList() << SumC << QByteArray()
        << TaskState::FileMissing << u"找不到文件"_s << -1;
    QTest::newRow("source is a directory")
        << DefaultLanguages << QString() << QStringList{u"sum.c/"_s} << SumC << QByteArray()
        << TaskState::FileMissing << u"找不到文件\nsum/sum.c 是目录，不是普通文件"_s << -1;
    QTest::newRow("compiler missing")
        << QList<Language>{{u"sum.c"_s, u"qxj-no-such-compiler -o sum sum.c"_s}} << QString()
        << source << SumC << QByteArray() << TaskState::JudgeError << u"找不到编译器"_s << -1;
    QTest::newRow("empty command") << QList<Language>{{u"sum.c"_s, QString()}} << QString()
                                   << source << SumC << QByteArray() << TaskState::JudgeError
                                   << u"找不到编译器"_s << -1;
    QTest::newRow("output of both channels, tried twice")
        << script << QString() << source << SumC
        << QByteArray("echo run >> ../runs\necho out-line\necho err-line >&2\nexit 1\n")
        << TaskState::CompileError << u"编译错误:\nout-line\nerr-line"_s << 2;
    QTest::newRow("g++ reports an error")
        << QList<Language>{DefaultLanguages[1]} << QString() << QStringList{u"sum.cpp"_s}
        << QByteArray("int main( {\n") << QByteArray() << TaskState::CompileError << QString() << -1;
    QTest::newRow("output cut at NUL")
        << script << QString() << source << SumC << QByteArray("printf 'abc\\000def'\n")
        << TaskState::CompileError << u"编译错误:\nabc"_s << -1;
    // 100000 three-byte characters: cut to whole characters within 64 KiB.
    QTest::newRow("output capped")
        << script << QString() << source << SumC
        << QByteArray("awk 'BEGIN { for (i = 0; i < 100000; i++) printf \"中\" }'\n")
        << TaskState::CompileError
        << u"编译错误:\n"_s + QString(65536 / 3, u'中') + u'…' << -1;
    // The compiler and all it starts share one bound of the address space.
    QTest::newRow("compiler's memory bounded")
        << script << QString() << source << SumC << QByteArray("sh -c 'ulimit -v'\n")
        << TaskState::CompileError << u"编译错误:\n2097152"_s << -1;
    QTest::newRow("prepared executable of another name")
        << DefaultLanguages << u"other"_s << QStringList{u"other"_s} << SumC << QByteArray()
        << TaskState::CompileError << u"编译错误:"_s << -1;
}

void TestTraditional::compileFailures()
{
    QFETCH(QList<Language>, languages);
    QFETCH(QString, runexe);
    QFETCH(QStringList, files);
    QFETCH(QByteArray, content);
    QFETCH(QByteArray, script);
    QFETCH(char, state);
    QFETCH(QString, note);
    QFETCH(int, compilerRuns);

    Site site;
    ProblemSetup setup;
    setup.languages = languages;
    setup.runexe = runexe;
    QVERIFY(site.configureOnePoint(setup));
    for (const QString &file : files) {
        if (file.endsWith(u'/'))
            QVERIFY(QDir().mkpath(site.submissionDir(u"carol"_s) + u'/' + file));
        else
            QVERIFY(site.submit(u"carol"_s, file, content, true));
    }
    // The command runs in <root>/tmp, so ".." is the contest directory.
    if (!script.isNull())
        QVERIFY(writeFile(site.path(u"build.sh"_s), script));

    QDomDocument result;
    judgeCell(site, u"carol"_s, result);
    if (QTest::currentTestFailed())
        return;
    const ScoreInfo saved = readScoreInfo(result);
    QCOMPARE(saved.state, state);
    const QString savedNote = queryUnder(result, ResultXml::Note).item(0).text();
    if (note.isEmpty()) {
        // The compiler's own words, in whatever language: they name the file.
        QVERIFY2(savedNote.startsWith(u"编译错误:\n"_s) && savedNote.contains(u"sum.cpp:"_s),
                 qPrintable(savedNote));
    } else {
        QCOMPARE(savedNote, note);
    }
    if (compilerRuns >= 0)
        QCOMPARE(readFile(site.path(u"runs"_s)).count("run"), compilerRuns);
}

void TestTraditional::codeLimit_data()
{
    QTest::addColumn<QString>("code");
    QTest::addColumn<int>("size");
    QTest::addColumn<char>("state");
    QTest::addColumn<QString>("note");

    QTest::newRow("exactly the limit") << u"64"_s << 65536 << TaskState::Normal << QString();
    QTest::newRow("one byte more") << u"64"_s << 65537 << TaskState::CodeTooLarge
                                   << u"超过代码限制:\n文件大小 = 64.00 KB > 64 KB"_s;
    QTest::newRow("limit shown as written") << u"064"_s << 70000 << TaskState::CodeTooLarge
                                            << u"超过代码限制:\n文件大小 = 68.36 KB > 064 KB"_s;
    QTest::newRow("missing limit") << QString() << SumC.size() << TaskState::CodeTooLarge
                                   << u"超过代码限制:\n文件大小 = "_s + QString::number(SumC.size() / 1024.0, 'f', 2)
                                          + u" KB >  KB"_s;
    // 4194304 KB is 2^32 bytes: a 32-bit product would wrap round to 0.
    QTest::newRow("limit beyond 32 bits") << u"4194304"_s << 1000 << TaskState::Normal
                                          << QString();
}

void TestTraditional::codeLimit()
{
    QFETCH(QString, code);
    QFETCH(int, size);
    QFETCH(char, state);
    QFETCH(QString, note);

    QByteArray source = SumC + "/*";
    QVERIFY(source.size() + 3 <= size || size == SumC.size());
    if (size == SumC.size())
        source = SumC;
    else
        source += QByteArray(size - source.size() - 3, 'x') + "*/\n";
    QCOMPARE(source.size(), size);

    Site site;
    ProblemSetup setup;
    setup.code = code;
    QVERIFY(site.configureOnePoint(setup));
    QVERIFY(site.submit(u"dave"_s, u"sum.c"_s, source));

    QDomDocument result;
    judgeCell(site, u"dave"_s, result);
    if (QTest::currentTestFailed())
        return;
    const ScoreInfo saved = readScoreInfo(result);
    QCOMPARE(saved.state, state);
    if (state == TaskState::Normal) {
        QCOMPARE(saved.score, 100);
    } else {
        QCOMPARE(queryUnder(result, ResultXml::Note).item(0).text(), note);
    }
}

void TestTraditional::compileTimeoutKillsTree()
{
    Site site;
    QVERIFY(site.configureSlowCompile(u"erin"_s));

    QElapsedTimer timer;
    timer.start();
    QDomDocument result;
    judgeCell(site, u"erin"_s, result);
    if (QTest::currentTestFailed())
        return;
    QVERIFY(timer.elapsed() >= 9500);
    QCOMPARE(readScoreInfo(result).state, TaskState::CompileTimeout);
    QCOMPARE(queryUnder(result, ResultXml::Note).item(0).text(), u"编译超时"_s);

    const QList<qint64> pids = pidsIn(site.path(u"pids"_s));
    QCOMPARE(pids.size(), 3);
    for (qint64 pid : pids)
        QTRY_VERIFY2_WITH_TIMEOUT(!processAlive(pid), qPrintable(QString::number(pid)), 10000);
}

void TestTraditional::secondAttemptAfterPause()
{
    Site site;
    ProblemSetup setup;
    setup.languages = {{u"sum.c"_s, u"sh ../flaky.sh"_s}};
    QVERIFY(site.configureOnePoint(setup));
    QVERIFY(site.submit(u"fay"_s, u"sum.c"_s, SumC));
    // First run builds nothing and notes when it ended; the second compiles.
    QVERIFY(writeFile(site.path(u"flaky.sh"_s),
                      "if [ -f ../first ]; then date +%s%N > ../second; exec gcc -o sum sum.c;"
                      " fi\ndate +%s%N > ../first\n"));

    QDomDocument result;
    judgeCell(site, u"fay"_s, result);
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(readScoreInfo(result).score, 100);
    const qint64 first = readFile(site.path(u"first"_s)).trimmed().toLongLong();
    const qint64 second = readFile(site.path(u"second"_s)).trimmed().toLongLong();
    QVERIFY(first > 0);
    QVERIFY2(second - first >= 230'000'000, qPrintable(QString::number(second - first)));
}

void TestTraditional::preparedExecutable()
{
    Site site;
    ProblemSetup setup;
    setup.runexe = u"sum"_s;
    setup.code = u"1"_s;  // the prepared program is far larger: no size check
    setup.layout = u"50:1;50:2"_s;
    QVERIFY(site.configure(setup));
    QVERIFY(site.writePoint(1, "1 2\n", "3\n"));
    QVERIFY(site.writePoint(2, "20 22\n", "42\n"));
    QVERIFY(site.handIn(u"gus"_s, m_sumBinary));
    QVERIFY(QFileInfo(m_sumBinary).size() > 1024);

    QDomDocument result;
    judgeCell(site, u"gus"_s, result);
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(readScoreInfo(result).score, 100);
    QCOMPARE(pointStates(result), u"AA"_s);
    // Nothing was compiled: the scratch area holds only the copied program.
    QDir tmp(site.contest.tmpDir());
    QCOMPARE(tmp.entryList(QDir::Files), QStringList{u"sum"_s});
}

// Every point runs the actor and the ratio checker: the answer file's first
// line is the verdict.
void TestTraditional::scoring_data()
{
    QTest::addColumn<QString>("layout");
    QTest::addColumn<QStringList>("inputs");
    QTest::addColumn<QStringList>("verdicts");
    QTest::addColumn<QString>("time");
    QTest::addColumn<QString>("states");
    QTest::addColumn<QStringList>("ratios");
    QTest::addColumn<QList<int>>("subtaskScores");
    QTest::addColumn<char>("problemState");

    const QString second = u"1"_s;
    QTest::newRow("failed point ignores the rest of its subtask")
        << u"20:1,2,3;50:4"_s << QStringList(4, u"burn 0"_s)
        << QStringList{u"1"_s, u"0"_s, u"1"_s, u"1"_s} << second << u"AWIA"_s
        << QStringList{u"1"_s, u"0"_s, u"0"_s, u"1"_s} << QList{0, 50} << TaskState::Normal;
    // 0.29 x 100 is 28.999999999999996 in binary.
    QTest::newRow("0.29 of 100 gives 29")
        << u"100:1"_s << QStringList{u"burn 0"_s} << QStringList{u"0.29"_s} << second << u"P"_s
        << QStringList{u"0.29"_s} << QList{29} << TaskState::Normal;
    QTest::newRow("ratios 1 and 0.5 of 15")
        << u"15:1,2"_s << QStringList(2, u"burn 0.2"_s) << QStringList{u"1"_s, u"0.5"_s}
        << second << u"AP"_s << QStringList{u"1"_s, u"0.5"_s} << QList{7}
        << TaskState::Normal;
    QTest::newRow("0.000005 counts as failed")
        << u"100:1,2"_s << QStringList(2, u"burn 0"_s) << QStringList{u"0.000005"_s, u"1"_s}
        << second << u"WI"_s << QStringList{u"5e-06"_s, u"0"_s} << QList{0}
        << TaskState::Normal;
    QTest::newRow("tiny ratio as the last point")
        << u"100000:1"_s << QStringList{u"burn 0"_s} << QStringList{u"0.000005"_s} << second
        << u"W"_s << QStringList{u"5e-06"_s} << QList{0} << TaskState::Normal;
    QTest::newRow("subtask without points scores full")
        << u"30:;70:1"_s << QStringList{u"burn 0.1"_s} << QStringList{u"1"_s} << second
        << u"A"_s << QStringList{u"1"_s} << QList{30, 70} << TaskState::Normal;
    QTest::newRow("no subtasks") << QString() << QStringList() << QStringList() << second
                                 << QString() << QStringList() << QList<int>()
                                 << TaskState::Normal;
    QTest::newRow("ratio above one") << u"10:1"_s << QStringList{u"burn 0"_s}
                                     << QStringList{u"1.234567"_s} << second << u"C"_s
                                     << QStringList{u"1.23457"_s} << QList{10}
                                     << TaskState::JudgeError;
    QTest::newRow("every point over time")
        << u"10:1;10:2"_s << QStringList(2, u"loop"_s) << QStringList(2, u"1"_s) << u"0.2"_s
        << u"TT"_s << QStringList(2, u"0"_s) << QList{0, 0} << TaskState::Normal;
    QTest::newRow("no output anywhere")
        << u"10:1;10:2"_s << QStringList(2, u"none"_s) << QStringList(2, u"1"_s) << second
        << u"OO"_s << QStringList(2, u"0"_s) << QList{0, 0} << TaskState::NoOutput;
    QTest::newRow("no output once") << u"10:1;10:2"_s << QStringList{u"none"_s, u"burn 0"_s}
                                    << QStringList(2, u"1"_s) << second << u"OA"_s
                                    << QStringList{u"0"_s, u"1"_s} << QList{0, 10}
                                    << TaskState::Normal;
}

void TestTraditional::scoring()
{
    QFETCH(QString, layout);
    QFETCH(QStringList, inputs);
    QFETCH(QStringList, verdicts);
    QFETCH(QString, time);
    QFETCH(QString, states);
    QFETCH(QStringList, ratios);
    QFETCH(QList<int>, subtaskScores);
    QFETCH(char, problemState);

    Site site;
    ProblemSetup setup = actorProblem(layout);
    setup.time = time;
    QVERIFY(site.configure(setup));
    for (int k = 0; k < inputs.size(); ++k)
        QVERIFY(site.writePoint(k + 1, inputs[k].toUtf8(), verdicts[k].toUtf8() + '\n'));
    QVERIFY(site.handIn(u"hal"_s, m_actor));

    QDomDocument result;
    judgeCell(site, u"hal"_s, result);
    if (QTest::currentTestFailed())
        return;

    QCOMPARE(pointStates(result), states);
    QCOMPARE(pointAttributes(result, ResultXml::Ratio), ratios);
    QList<int> scores;
    const ElementQuery subtasks = queryUnder(result, ResultXml::Subtask);
    for (int i = 0; i < subtasks.count(); ++i)
        scores << attributeInt(subtasks.item(i), ResultXml::Score);
    QCOMPARE(scores, subtaskScores);
    const ScoreInfo saved = readScoreInfo(result);
    QCOMPARE(saved.state, problemState);
    const QStringList notes = pointAttributes(result, ResultXml::Note);
    for (int i = 0; i < states.size(); ++i)
        if (states[i] == u'I')
            QCOMPARE(notes[i], u"忽略"_s);

    // Time: each subtask's CPU time weighted by its smallest ratio. The actor
    // reports its own CPU time, which the judge measures a little later.
    static const QRegularExpression cpu(u"cpu=([0-9.]+)"_s);
    double expected = 0;
    int pointIndex = 0;
    for (int i = 0; i < subtasks.count(); ++i) {
        const ElementQuery points = queryWithin(subtasks.item(i), ResultXml::Point);
        double minRatio = 1, sum = 0;
        for (int p = 0; p < points.count(); ++p, ++pointIndex) {
            minRatio = qMin(minRatio, ratios[pointIndex].toDouble());
            sum += cpu.match(notes[pointIndex]).captured(1).toDouble();
        }
        expected += minRatio * sum;
    }
    QVERIFY2(qAbs(saved.time - expected) <= 0.05,
             qPrintable(u"time %1, expected %2"_s.arg(saved.time).arg(expected)));
    if (layout.isEmpty())
        QCOMPARE(queryUnder(result, ResultXml::Task).item(0).attribute(ResultXml::Time), u"0"_s);
}

void TestTraditional::missingInputData()
{
    Site site;
    QVERIFY(site.configure(actorProblem(u"100:1"_s)));
    QVERIFY(site.writePoint(1, QByteArray(), "1\n"));
    QVERIFY(site.handIn(u"ida"_s, m_actor));

    QDomDocument result;
    judgeCell(site, u"ida"_s, result);
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(pointStates(result), u"A"_s);
    QVERIFY(pointAttributes(result, ResultXml::Note).value(0).contains(u"noinput"_s));
    QCOMPARE(readScoreInfo(result).score, 100);
}

// Scratch directories that cannot be emptied (a file that will not go away):
// in the run step, then, once that has happened, in the scratch area before
// the next player's prepared program and source.
static bool stuckSeen = false;
static bool keepStuckFiles(const QString &path)
{
    if (path.endsWith(u"/sum.out"_s) && readFile(path).contains(" stuck"))
        stuckSeen = true;
    else if (!(stuckSeen && QFileInfo(path).dir().dirName() == u"tmp"_s))
        return QFile::remove(path);
    errno = EBUSY;
    return false;
}

void TestTraditional::judgeErrors()
{
    Site site;
    QVERIFY(site.configure(actorProblem(u"100:1,2"_s)));
    QVERIFY(site.writePoint(1, "stuck", "1\n"));
    QVERIFY(site.writePoint(2, "burn 0", "1\n"));
    QVERIFY(site.handIn(u"jan"_s, m_actor));
    QVERIFY(site.handIn(u"kim"_s, m_actor));
    QVERIFY(site.submit(u"lou"_s, u"sum.c"_s, SumC));

    stuckSeen = false;
    setFileRemoverForTesting(keepStuckFiles);
    Outcome run;
    judge(site, {u"jan"_s, u"kim"_s, u"lou"_s}, run);
    setFileRemoverForTesting(nullptr);
    QVERIFY(run.ended);

    // Each note names a file that stayed, below the directory, and why.
    const QString busy = u": "_s + QString::fromLocal8Bit(std::strerror(EBUSY));
    const QString work = site.contest.threadWorkDir(0);
    const QString tmp = site.contest.tmpDir() + u'/';
    const QStringList notes{u"临时目录无法清空: 003\n"_s + work + u"/sum.out"_s + busy,
                            u"临时目录无法清空: 001\n"_s + tmp, u"临时目录无法清空: 002\n"_s + tmp};
    for (int cell = 0; cell < 3; ++cell) {
        QDomDocument result;
        checkCell(site, run, cell, result);
        if (QTest::currentTestFailed())
            return;
        QCOMPARE(readScoreInfo(result).state, TaskState::JudgeError);
        if (cell == 0) {
            QCOMPARE(pointStates(result), u"AE"_s);
            QCOMPARE(pointAttributes(result, ResultXml::Note).value(1), notes[0]);
        } else {
            const QString note = queryUnder(result, ResultXml::Note).item(0).text();
            QVERIFY2(note.startsWith(notes[cell]) && note.endsWith(busy), qPrintable(note));
        }
    }
    QCOMPARE(run.selects, (QList<bool>{true, true, true}));
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

// Hidden files and directories holding them, in the work directory and in
// the scratch area: the next point starts from a clean work directory, the
// next player from a clean scratch area, and judging goes on normally.
void TestTraditional::leftoversRemoved()
{
    Site site;
    QVERIFY(site.configure(actorProblem(u"100:1,2"_s)));
    QVERIFY(site.writePoint(1, "hide", "1\n"));
    QVERIFY(site.writePoint(2, "burn 0", "1\n"));
    QVERIFY(site.handIn(u"oda"_s, m_actor));
    QVERIFY(site.handIn(u"pia"_s, m_actor));

    Outcome run;
    judge(site, {u"oda"_s, u"pia"_s}, run);
    QVERIFY(run.ended);
    for (int cell = 0; cell < 2; ++cell) {
        QDomDocument result;
        checkCell(site, run, cell, result);
        if (QTest::currentTestFailed())
            return;
        QCOMPARE(pointStates(result), u"AA"_s);
        const QStringList notes = pointAttributes(result, ResultXml::Note);
        for (const QString &note : notes)
            QVERIFY2(!note.contains(u"leftover"_s), qPrintable(note));
        // Each player's first point runs before that player's own "hide".
        QVERIFY2(!notes.value(0).contains(u"above"_s), qPrintable(notes.value(0)));
        QCOMPARE(readScoreInfo(result).score, 100);
    }
}

// What a program leaves for the checker, which runs after it with the
// judge's rights: a link or a pipe in place of the output is no output, and
// whatever sits at the verdict file's name is replaced, never written through.
void TestTraditional::plantedFiles_data()
{
    QTest::addColumn<QByteArray>("plant");
    QTest::addColumn<QString>("pointState");
    QTest::addColumn<QString>("noteStart");
    const QByteArray answer =
        "FILE *out = fopen(\"sum.out\", \"w\");\n    fputs(\"3\\n\", out);\n    fclose(out);\n";
    QTest::newRow("output links to the answer")
        << QByteArray("symlink(\"../../data/sum/p1.ans\", \"sum.out\");\n") << u"O"_s
        << u"无输出"_s;
    QTest::newRow("output is a named pipe")
        << QByteArray("mkfifo(\"sum.out\", 0666);\n") << u"O"_s << u"无输出"_s;
    QTest::newRow("verdict file links to the configuration")
        << "symlink(\"../../data/sum/.prb\", \"check_info.txt\");\n    " + answer << u"A"_s
        << u"时间: "_s;
    QTest::newRow("verdict file is a directory")
        << "mkdir(\"check_info.txt\", 0777);\n    " + answer << u"A"_s << u"时间: "_s;
}

void TestTraditional::plantedFiles()
{
    QFETCH(QByteArray, plant);
    QFETCH(QString, pointState);
    QFETCH(QString, noteStart);

    Site site;
    QVERIFY(site.configureOnePoint(ProblemSetup()));
    QVERIFY(site.submit(u"eve"_s, u"sum.c"_s,
                        "#include <stdio.h>\n#include <sys/stat.h>\n#include <unistd.h>\n"
                        "int main(void)\n{\n    "
                            + plant + "    return 0;\n}\n"));
    QHash<QString, QByteArray> data;
    for (const QString &name : {u".prb"_s, u"p1.in"_s, u"p1.ans"_s})
        data.insert(name, readFile(site.problemDir() + u'/' + name));

    QDomDocument result;
    judgeCell(site, u"eve"_s, result);
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(pointStates(result), pointState);
    const QString note = pointAttributes(result, ResultXml::Note).value(0);
    QVERIFY2(note.startsWith(noteStart), qPrintable(note));
    for (auto file = data.cbegin(); file != data.cend(); ++file)
        QVERIFY2(readFile(site.problemDir() + u'/' + file.key()) == file.value(),
                 qPrintable(file.key()));
}

void TestTraditional::scratchAreaNotADirectory()
{
    Site site;
    QVERIFY(site.configureOnePoint(ProblemSetup()));
    QVERIFY(site.submit(u"quin"_s, u"sum.c"_s, SumC));
    QVERIFY(writeFile(site.contest.tmpDir(), "a file where the scratch area belongs"));

    QDomDocument result;
    judgeCell(site, u"quin"_s, result);
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(readScoreInfo(result).state, TaskState::JudgeError);
    QCOMPARE(queryUnder(result, ResultXml::Note).item(0).text(),
             u"临时目录无法清空: 002\n"_s + site.contest.tmpDir() + u": 路径中有一段不是目录"_s);
}

void TestTraditional::stopDuringRun()
{
    Site site;
    ProblemSetup setup = actorProblem(u"100:1"_s);
    setup.time = u"60"_s;
    QVERIFY(site.configure(setup));
    QVERIFY(site.writePoint(1, "loop", "1\n"));
    QVERIFY(site.handIn(u"max"_s, m_actor));

    // The program works in a folder of its own laid over the work folder:
    // it is found by that, and by the output it has begun there.
    const QString workDir = site.contest.threadWorkDir(0);
    const auto working = [&workDir] {
        // Made by the judge once it starts.
        const QByteArray work = QFile::encodeName(QFileInfo(workDir).canonicalFilePath()).replace(' ', "\\040");
        for (const QString &pid : QDir(u"/proc"_s).entryList(QDir::Dirs)) {
            if (pid.toLongLong() <= 0 || !processAlive(pid.toLongLong())
                || !readFile(u"/proc/"_s + pid + u"/cwd/sum.out"_s).startsWith("pid="))
                continue;
            for (const QByteArray &line : readFile(u"/proc/"_s + pid + u"/mountinfo"_s).split('\n')) {
                const QList<QByteArray> fields = line.split(' ');
                if (fields.size() > 4 && fields[4] == "/box" && fields[3] != "/" && work.endsWith(fields[3]))
                    return true;
            }
        }
        return false;
    };
    judgeAndStop(site, u"max"_s, working);
    if (QTest::currentTestFailed())
        return;
    QTRY_VERIFY_WITH_TIMEOUT(!working(), 10000);
}

void TestTraditional::stopDuringCompile()
{
    Site site;
    QVERIFY(site.configureSlowCompile(u"ned"_s));

    const QString pids = site.path(u"pids"_s);
    judgeAndStop(site, u"ned"_s, [&] { return pidsIn(pids).size() == 3; });
    if (QTest::currentTestFailed())
        return;
    for (qint64 pid : pidsIn(pids))
        QTRY_VERIFY2_WITH_TIMEOUT(!processAlive(pid), qPrintable(QString::number(pid)), 10000);
}

namespace {
// The storage probe: the file system of faultyDir has faultySpace, every
// other one plenty.
QString faultyDir;
StorageSpace faultySpace;
constexpr quint64 Plenty = quint64(1) << 40;
bool fakeStorage(const QString &path, StorageSpace &space)
{
    space = path == faultyDir ? faultySpace : StorageSpace{false, Plenty, Plenty, Plenty};
    return true;
}
} // namespace

// A compile that builds nothing, or an input that is not copied: the
// contestant's doing unless the disk it happened on is full or read-only.
void TestTraditional::storageFaults_data()
{
    QTest::addColumn<bool>("compileStage");
    QTest::addColumn<QString>("faulty");  // the directory whose disk fails; empty: none
    QTest::addColumn<bool>("readOnly");
    QTest::addColumn<char>("state");
    QTest::addColumn<QString>("points");
    QTest::addColumn<QString>("note");  // start of the cell's note, or of its point's

    const QString linkFailed = u"\nld: final link failed: No space left on device"_s;
    const char E = TaskState::JudgeError;
    QTest::newRow("compile fails, disks fine")
        << true << QString() << false << TaskState::CompileError << QString()
        << u"编译错误:"_s + linkFailed;
    QTest::newRow("compile fails, scratch area full")
        << true << u"{tmp}"_s << false << E << QString()
        << u"测评机磁盘空间不足: {tmp}"_s + linkFailed;
    QTest::newRow("compile fails, compiler's temporary directory full")
        << true << u"{system}"_s << false << E << QString()
        << u"测评机磁盘空间不足: {system}"_s + linkFailed;
    QTest::newRow("compile fails, scratch area read-only")
        << true << u"{tmp}"_s << true << E << QString() << u"测评机磁盘只读: {tmp}"_s + linkFailed;
    QTest::newRow("input missing, disks fine")
        << false << QString() << false << TaskState::Normal << u"A"_s << u"cpu="_s;
    QTest::newRow("input not copied, work directory full")
        << false << u"{work}"_s << false << E << u"E"_s << u"测评机磁盘空间不足: {work}"_s;
}

void TestTraditional::storageFaults()
{
    QFETCH(bool, compileStage);
    QFETCH(QString, faulty);
    QFETCH(bool, readOnly);
    QFETCH(char, state);
    QFETCH(QString, points);
    QFETCH(QString, note);

    Site site;
    ProblemSetup setup = actorProblem(u"100:1"_s);
    setup.languages = {{u"sum.c"_s, u"sh ../build.sh"_s}};
    // The point's input is missing: the program runs without it.
    QVERIFY(site.configure(setup) && site.writePoint(1, QByteArray(), "1\n"));
    // What a linker prints on a full disk; the text alone decides nothing.
    QVERIFY(writeFile(site.path(u"build.sh"_s),
                      "echo 'ld: final link failed: No space left on device' >&2\nexit 1\n"));
    QVERIFY(compileStage ? site.submit(u"vic"_s, u"sum.c"_s, SumC) : site.handIn(u"vic"_s, m_actor));
    for (const auto &[name, path] : {std::pair{u"{tmp}"_s, site.contest.tmpDir()},
                                     std::pair{u"{system}"_s, QDir::tempPath()},
                                     std::pair{u"{work}"_s, site.contest.threadWorkDir(0)}}) {
        faulty.replace(name, path);
        note.replace(name, path);
    }
    faultyDir = faulty;
    faultySpace = StorageSpace{readOnly, readOnly ? Plenty : StorageReserve - 1, Plenty, Plenty};
    setStorageProbeForTesting(fakeStorage);
    const auto restore = qScopeGuard([] { setStorageProbeForTesting(nullptr); });

    QDomDocument result;
    judgeCell(site, u"vic"_s, result);
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(readScoreInfo(result).state, state);
    QCOMPARE(pointStates(result), points);
    const QString saved = compileStage ? queryUnder(result, ResultXml::Note).item(0).text()
                                       : pointAttributes(result, ResultXml::Note).value(0);
    QVERIFY2(saved.startsWith(note), qPrintable(saved));
}

// A submission is read only when it is a regular file reached without a
// link below the player's folder; the player's folder itself may be a link.
// A link would have the judge compile another player's source, or a file
// only the judge may read, as this player's own.
void TestTraditional::submissionLinks_data()
{
    // Below the contest: "f:path=name" a file holding the source of that
    // name, "x:path" the compiled A+B, "d:path" a directory, "l:path>target"
    // a link ("{root}": the contest).
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<bool>("prepared");  // the problem takes a prepared program
    QTest::addColumn<char>("state");
    QTest::addColumn<int>("score");
    QTest::addColumn<QString>("note");  // of a cell that failed as a whole

    const char F = TaskState::FileMissing;
    const char N = TaskState::Normal;
    QTest::newRow("source links to another player's")
        << QStringList{u"f:src/std/sum/sum.c=SumC"_s, u"d:src/carol/sum"_s,
                       u"l:src/carol/sum/sum.c>../../std/sum/sum.c"_s}
        << false << F << 0 << u"找不到文件\nsum/sum.c 是符号链接，不是普通文件"_s;
    QTest::newRow("source links to a file only the judge may read")
        << QStringList{u"f:secret/answers=Secret"_s, u"d:src/carol/sum"_s,
                       u"l:src/carol/sum/sum.c>{root}/secret/answers"_s}
        << false << F << 0 << u"找不到文件\nsum/sum.c 是符号链接，不是普通文件"_s;
    QTest::newRow("source folder links to another player's")
        << QStringList{u"f:src/std/sum/sum.c=SumC"_s, u"d:src/carol"_s, u"l:src/carol/sum>../std/sum"_s}
        << false << F << 0 << u"找不到文件\nsum 是符号链接，不是普通文件"_s;
    QTest::newRow("prepared program links to another player's")
        << QStringList{u"x:src/std/sum/sum"_s, u"d:src/carol/sum"_s,
                       u"l:src/carol/sum/sum>../../std/sum/sum"_s}
        << true << F << 0 << u"找不到文件\nsum/sum 是符号链接，不是普通文件"_s;
    QTest::newRow("a linked source is passed by for the player's own")
        << QStringList{u"f:elsewhere/sum.pas=WrongPas"_s, u"f:src/carol/sum/sum.c=SumC"_s,
                       u"l:src/carol/sum/sum.pas>{root}/elsewhere/sum.pas"_s}
        << false << N << 100 << QString();
    QTest::newRow("player's folder itself a link")
        << QStringList{u"f:elsewhere/carol/sum/sum.c=SumC"_s, u"l:src/carol>../elsewhere/carol"_s}
        << false << N << 100 << QString();
}

void TestTraditional::submissionLinks()
{
    QFETCH(QStringList, entries);
    QFETCH(bool, prepared);
    QFETCH(char, state);
    QFETCH(int, score);
    QFETCH(QString, note);

    const QHash<QString, QByteArray> sources{
        {u"SumC"_s, SumC}, {u"WrongPas"_s, WrongPas}, {u"Secret"_s, "secret line one\nsecret line two\n"}};
    Site site;
    ProblemSetup setup;
    if (prepared)
        setup.runexe = Problem;
    QVERIFY(site.configureOnePoint(setup));
    for (QString entry : entries) {
        entry.replace(u"{root}"_s, site.dir.path());
        const QString path = site.path(entry.mid(2).section(u'>', 0, 0).section(u'=', 0, 0));
        QVERIFY(QDir().mkpath(QFileInfo(path).path()));
        switch (entry.at(0).unicode()) {
        case 'f':
            QVERIFY(writeFile(path, sources.value(entry.section(u'=', 1))));
            break;
        case 'x':
            QVERIFY(QFile::copy(m_sumBinary, path));
            break;
        case 'd':
            QVERIFY(QDir().mkpath(path));
            break;
        case 'l':
            QVERIFY(QFile::link(entry.section(u'>', 1), path));
            break;
        }
    }

    QDomDocument result;
    judgeCell(site, u"carol"_s, result);
    if (QTest::currentTestFailed())
        return;
    const ScoreInfo saved = readScoreInfo(result);
    QCOMPARE(saved.state, state);
    QCOMPARE(saved.score, score);
    const QString savedNote = queryUnder(result, ResultXml::Note).item(0).text();
    QCOMPARE(savedNote, note);
    QVERIFY2(!savedNote.contains(u"secret"_s), qPrintable(savedNote));
}

namespace {

// One run of the players' cells of "sum" in the contest at root: the lines
// "<player> <point states> <score> <state>" and a last line telling whether
// the scratch area could then be emptied ("emptied", or what stayed and why).
QStringList judgeAndEmpty(const QString &root, const QStringList &players)
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

} // namespace

// A program leaves folders and files without their owner's rights in its
// work folder. The next point, the next player and the end of the run must
// still find it emptied: a judge that is no root needs the rights back
// first. Two players, each with a point that leaves them last and one that
// follows; each subtask one point, so that every point is run.
void TestTraditional::lockedLeftovers_data()
{
    QTest::addColumn<QString>("leave");  // the actor's command
    QTest::addColumn<bool>("ordinaryUser");
    for (const char *leave : {"lockdir", "lockfile", "readonly", "deep", "lockverdict"}) {
        QTest::addRow("%s, judge as it is started", leave) << QString::fromLatin1(leave) << false;
        if (::geteuid() == 0)
            QTest::addRow("%s, judge as an ordinary user", leave) << QString::fromLatin1(leave) << true;
    }
}

void TestTraditional::lockedLeftovers()
{
    QFETCH(QString, leave);
    QFETCH(bool, ordinaryUser);

    Site site;
    QVERIFY(site.configure(actorProblem(u"25:1;25:2;25:3;25:4"_s)));
    const QByteArray command = leave.toLatin1();
    QVERIFY(site.writePoint(1, "burn 0", "1\n") && site.writePoint(2, command, "1\n")
            && site.writePoint(3, "burn 0", "1\n") && site.writePoint(4, command, "1\n"));
    const QStringList players{u"una"_s, u"vera"_s};
    for (const QString &player : players)
        QVERIFY(site.handIn(player, m_actor));

    QStringList lines;
    if (ordinaryUser) {
        QVERIFY(chownTree(site.dir.path(), OrdinaryUser));
        QProcess judge;
        judge.start(u"setpriv"_s, QStringList{u"--reuid=%1"_s.arg(OrdinaryUser),
                                              u"--regid=%1"_s.arg(OrdinaryUser), u"--clear-groups"_s,
                                              QCoreApplication::applicationFilePath(), u"--judge"_s,
                                              site.dir.path()}
                                      + players);
        QVERIFY(judge.waitForFinished(JudgeTimeoutMs));
        lines = QString::fromUtf8(judge.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
        QVERIFY2(judge.exitCode() == 0, judge.readAllStandardError().constData());
    } else {
        lines = judgeAndEmpty(site.dir.path(), players);
    }
    QCOMPARE(lines, (QStringList{u"una AAAA 100 N"_s, u"vera AAAA 100 N"_s, u"emptied"_s}));
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

#include "tst_traditional.moc"
