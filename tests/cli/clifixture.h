#pragma once

// End to end: qxj-judge on copies of the sample contest and on small
// contests made here. What the files of this suite share.

#include "clitestutil.h"
#include "commandrun.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <iterator>

namespace clifixture {

inline const QString JudgeProgram = QStringLiteral(QXJ_JUDGE);
inline const QString SampleContest = QStringLiteral(QXJ_SAMPLE);

// exitCode is -1 when the judge crashed or did not end within ten minutes.
inline CommandRun runJudge(const QString &workDir, const QStringList &arguments)
{
    return runCommand(JudgeProgram, arguments, workDir, QProcessEnvironment::systemEnvironment(), 600000);
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
inline const Outcome SampleOutcomes[] = {
    {"p01", "sum", 100, 'N', "AAAA"}, {"p01", "guess", 60, 'N', "AAW"},  {"p01", "split", 50, 'N', "PPPPP"},
    {"p02", "sum", 100, 'N', "AAAA"}, {"p02", "guess", 70, 'N', "AUA"},  {"p02", "split", 100, 'N', "AAAAA"},
    {"p03", "sum", 40, 'N', "AAWI"},  {"p03", "guess", 100, 'N', "AAA"}, {"p03", "split", 0, 'R', "RIRRI"},
    {"p04", "sum", 40, 'N', "AATI"},  {"p04", "guess", 0, 'N', "WUU"},   {"p04", "split", 0, 'R', "MIMMI"},
    {"p05", "sum", 0, 'C', ""},       {"p05", "guess", 100, 'N', "AAA"}, {"p05", "split", 0, 'F', ""},
    {"p06", "sum", 0, 'F', ""},       {"p06", "guess", 0, 'N', "UUU"},   {"p06", "split", 30, 'N', "AATAT"},
    {"std", "sum", 100, 'N', "AAAA"}, {"std", "guess", 100, 'N', "AAA"}, {"std", "split", 100, 'N', "AAAAA"},
};
inline const QStringList SampleProblems = {QStringLiteral("sum"), QStringLiteral("guess"),
                                    QStringLiteral("split")};

// The grid's name of a sample player, as the player list gives it.
inline QString sampleName(const QString &player)
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
inline QStringList filesBelow(const QString &dir)
{
    QStringList files = treeSnapshot(dir);
    files.removeIf([&dir](const QString &entry) {
        const QString path = entry.section(u' ', 0, -3);
        return path == QStringLiteral(".reslist") || QFileInfo(dir + u'/' + path).isDir();
    });
    return files;
}

inline const Outcome &sampleOutcome(const QString &player, const QString &problem)
{
    return *std::find_if(
        std::begin(SampleOutcomes), std::end(SampleOutcomes), [&](const Outcome &o) {
            return QString::fromUtf8(o.player) == player && QString::fromUtf8(o.problem) == problem;
        });
}

// A contest of one problem of one point (input and answer "1") and player
// "a" with the given C source.
inline bool writeOnePointContest(const QString &root, const QString &name, const QString &time,
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
inline QByteArray answering(const QString &name, const char *answer = "1")
{
    return QStringLiteral("#include <stdio.h>\nint main(void)\n{\n"
                          "    FILE *f = fopen(\"%1.out\", \"w\");\n"
                          "    fputs(\"%2\\n\", f);\n    fclose(f);\n    return 0;\n}\n")
        .arg(name, QLatin1String(answer))
        .toUtf8();
}

inline bool anyProcessWorksIn(const QString &dir)
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
inline bool startSlowRun(QProcess &process, const QString &root)
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

} // namespace clifixture

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
    CommandRun m_sample;
};
