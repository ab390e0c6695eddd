#pragma once

// What the runner's tests share: the test programs, work folders with a space
// in their names, runs through the judge's interface, and the search for
// whatever a run may have left alive or open.

#include "procfs_linux.h"
#include "runner.h"
#include "runoutcome_linux.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#include <sys/types.h>

namespace runnerfixture {

QString programPath(const QString &name);
// A space in every work directory: nothing may split the path.
std::unique_ptr<QTemporaryDir> makeWorkDir();
bool copyProgram(const QString &name, const QString &workDir, const QString &exeName);

// Live processes whose current directory is dir: everything a program started
// in its work directory, however it detached itself.
QList<int> livingProcessesIn(const QString &dir);
// Children of this test process, zombies included: a runner that forgets to
// reap leaves them here.
QList<int> childrenOfTest();
pid_t runningPid(RunSlot &judge);

// Files this process holds open, and how many of them lie in dir.
QStringList openFileTargets();
int openFilesIn(const QString &dir);

struct RunResult
{
    bool ok = false;
    double time = -1.0;
    double memory = -1.0;
    char state = '?';
    QString note = QStringLiteral("untouched");
    double wall = 0.0;
};

RunResult runIn(RunSlot &judge, const QString &workDir, const QString &exeName, double timeLimit,
                double memoryLimit);
// Runs the request with the program sandboxed or not, as asked.
RunRecord runWith(bool sandboxed, RunSlot &slot, const RunRequest &request);
// The executable "prog" in dir, under the default limits.
RunRequest requestIn(const QString &dir);
QString usageNote(double time, double memory);

bool writeFile(const QString &path, const QByteArray &bytes);
QByteArray readFile(const QString &path);
// "name=value" lines, as the test programs report what they saw.
QMap<QString, QString> readReport(const QByteArray &text);
QMap<QString, QString> readReport(const QString &path);

// Rows for the judge as it is started and, where it runs as root, as an
// ordinary user it hands itself to.
void addJudgeUsers();

// A contest around the work folder, a file in the judge's home and a port
// listening on loopback: all out of the program's reach.
struct EscapeSite
{
    std::unique_ptr<QTemporaryDir> top = makeWorkDir();
    QString work = top->path() + QStringLiteral("/tmp");
    QString secret = top->path() + QStringLiteral("/data/secret.ans");
    QString homeFile;
    int listener = -1;
    int port = 0;

    EscapeSite();
    ~EscapeSite();
    bool make(const QString &program);
};

} // namespace runnerfixture

class RunnerTest : public QObject
{
    Q_OBJECT

private slots:
    // Verdicts from samples, and what the system tells of a process.
    void outcome_data();
    void outcome();
    void creationErrors_data();
    void creationErrors();
    void procStat_data();
    void procStat();
    void procStatus();
    void ownedMemory();
    void residentOnDevices_data();
    void residentOnDevices();
    void elfStaticData();

    // Programs run under their limits.
    void programs_data();
    void programs();
    void fairVerdicts_data();
    void fairVerdicts();
    void startedAsDocumented();
    void startFailures_data();
    void startFailures();
    void processFamilies_data();
    void processFamilies();
    void nothingLeaks();

    // The run as a whole, and the sandbox around it.
    void wholeRunCounts_data();
    void wholeRunCounts();
    void memoryHeldAnywhere_data();
    void memoryHeldAnywhere();
    void confined_data();
    void confined();
    void compilerConfined_data();
    void compilerConfined();
    void compilerDiesWithJudge_data();
    void compilerDiesWithJudge();
    void slotsApart_data();
    void slotsApart();
    void replacedWorkFolder();
    void boundedWorkFolder_data();
    void boundedWorkFolder();
    void results_data();
    void results();
    void fixedEnvironment_data();
    void fixedEnvironment();

    void restricted_data();
    void restricted();

    // Process trees and the stop protocol.
    void killTree_data();
    void killTree();
    void killTreeWithoutProcess();

    void stop_data();
    void stop();
    void stopBeforeStart();

    // Standard streams and the run's record.
    void standardStreams_data();
    void standardStreams();
    void streamFailures_data();
    void streamFailures();
    void recordText_data();
    void recordText();
    void recordFromBadText_data();
    void recordFromBadText();
    void recordOfRun_data();
    void recordOfRun();
};
