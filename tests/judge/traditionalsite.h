#pragma once

// Traditional problems judged end to end through TestCore: real compilers,
// the real runner and the built full-text checker, in a temporary contest.
// What the files of this suite share: the programs handed in, the contest
// they are judged in and the checks of what the judge reports.

#include "contest.h"
#include "contestfiles.h"
#include "gridcells.h"
#include "testcore.h"
#include "viewinfo.h"
#include "xmlfile.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <functional>
#include <memory>
#include <vector>

namespace traditional {

using namespace Qt::StringLiterals;

inline const QString Problem = u"sum"_s;
inline const QString DefaultChecker = u"全文比较"_s;
inline constexpr int JudgeTimeoutMs = 120000;

// A+B in every language; the wrong ones add one.
inline const QByteArray SumC = R"(#include <stdio.h>
int main(void) {
    long long a = 0, b = 0;
    FILE *in = fopen("sum.in", "r"), *out = fopen("sum.out", "w");
    if (in && fscanf(in, "%lld %lld", &a, &b) != 2) return 1;
    fprintf(out, "%lld\n", a + b);
    return 0;
}
)";
inline const QByteArray SumCpp = R"(#include <fstream>
int main() {
    std::ifstream in("sum.in");
    std::ofstream out("sum.out");
    long long a, b;
    in >> a >> b;
    out << a + b << "\n";
}
)";
inline const QByteArray SumPas = R"(var a, b: longint; f, g: text;
begin
  assign(f, 'sum.in'); reset(f); read(f, a, b); close(f);
  assign(g, 'sum.out'); rewrite(g); writeln(g, a + b); close(g);
end.
)";
inline QByteArray wrong(QByteArray source, const QByteArray &sum, const QByteArray &sumPlusOne)
{
    return source.replace(sum, sumPlusOne);
}
inline const QByteArray WrongCpp = wrong(SumCpp, "a + b", "a + b + 1");
inline const QByteArray WrongPas = wrong(SumPas, "a + b", "a + b + 1");

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
inline const QByteArray ActorC = R"(#include <stdio.h>
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
inline const QString RatioCheckerName = u"ratio"_s;
inline const QByteArray RatioChecker = "#!/bin/sh\n{ head -n 1 \"$2\"; head -n 1 \"$3\"; } > \"$4\"\n";

struct Language
{
    QString file;
    QString cmd;
};
} // namespace traditional
Q_DECLARE_METATYPE(traditional::Language)
namespace traditional {
inline const QList<Language> DefaultLanguages = {
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
inline ProblemSetup actorProblem(const QString &layout)
{
    ProblemSetup setup;
    setup.runexe = Problem;
    setup.checker = RatioCheckerName;
    setup.layout = layout;
    return setup;
}

// A compile command that sleeps with a child and a grandchild in a session of
// its own, noting every pid in <root>/pids.
inline const QByteArray SlowScript = "echo $$ >> ../pids\n"
                              "sleep 300 &\necho $! >> ../pids\n"
                              "setsid sh -c 'echo $$ >> ../pids; exec sleep 300' &\n"
                              "sleep 300\n";

inline QByteArray configXml(const ProblemSetup &setup)
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

inline bool writeFile(const QString &path, const QByteArray &bytes, bool executable = false)
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

inline QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Alive means present and not a zombie.
inline bool processAlive(qint64 pid)
{
    const QByteArray stat = readFile(u"/proc/%1/stat"_s.arg(pid));
    if (stat.isEmpty())
        return false;
    const qsizetype close = stat.lastIndexOf(')');
    return close < 0 || stat.mid(close + 2, 1) != "Z";
}

inline QList<qint64> pidsIn(const QString &path)
{
    QList<qint64> pids;
    for (const QByteArray &line : readFile(path).split('\n'))
        if (!line.trimmed().isEmpty())
            pids << line.trimmed().toLongLong();
    return pids;
}

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
    // The actor judged by the ratio checker: point k reads the k-th input
    // (null: none) and is given the verdict 1.
    bool configureActor(const QString &layout, const QList<QByteArray> &inputs)
    {
        bool written = configure(actorProblem(layout));
        for (int k = 0; k < inputs.size(); ++k)
            written = written && writePoint(k + 1, inputs[k], "1\n");
        return written;
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

} // namespace traditional

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
    void judge(traditional::Site &site, const QStringList &players, traditional::Outcome &run,
               const std::function<void(TestCore &)> &whileRunning = {});
    // Judges one player's cell to the end and checks it; result: its saved
    // file. False when a check failed.
    bool judgeCell(traditional::Site &site, const QString &player, QDomDocument &result);
    // Judges one cell and stops the run once ready() holds: nothing of the
    // cell may be saved or reported.
    void judgeAndStop(traditional::Site &site, const QString &player, const std::function<bool()> &ready);
    // The saved result against the rows and summaries of one judged cell.
    void checkCell(const traditional::Site &site, const traditional::Outcome &run, int cell, QDomDocument &result);
    bool compileTool(const QByteArray &source, const QString &name);

    QTemporaryDir m_tools;
    QString m_actor;
    QString m_sumBinary;
};

namespace traditional {

// Point states and notes of a saved result, in order.
inline QString pointStates(const QDomDocument &result)
{
    QString states;
    const ElementQuery points = queryUnder(result, ResultXml::Point);
    for (int i = 0; i < points.count(); ++i)
        states += attributeText(points.item(i), ResultXml::State);
    return states;
}

inline QStringList pointAttributes(const QDomDocument &result, const QString &name)
{
    QStringList values;
    const ElementQuery points = queryUnder(result, ResultXml::Point);
    for (int i = 0; i < points.count(); ++i)
        values << attributeText(points.item(i), name);
    return values;
}

inline double noteSeconds(const QString &note)
{
    static const QRegularExpression time(u"时间: ([0-9.]+)s"_s);
    return time.match(note).captured(1).toDouble();
}

// Three points in two subtasks, checked by the full-text checker.
inline bool writeSumData(Site &site)
{
    return site.writePoint(1, "1 2\n", "3\n") && site.writePoint(2, "100 200\n", "300\n")
           && site.writePoint(3, "-5 5\n", "0\n");
}

// One run of the players' cells of "sum" in the contest at root: the lines
// "<player> <point states> <score> <state>" and a last line telling whether
// the scratch area could then be emptied ("emptied", or what stayed and why).
QStringList judgeAndEmpty(const QString &root, const QStringList &players);

} // namespace traditional
