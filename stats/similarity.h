#pragma once

#include "scoreinfo.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>

class Contest;
class QProcess;
class QTemporaryDir;

// Similarity between players' sources, found by Debian's similarity tester
// (sim_c, sim_c++, sim_pasc): for every traditional problem, every pair of
// sources in the same language. A pair's figure is the share of the smaller
// source's tokens that sim finds in runs shared with the other.

struct SimLanguage
{
    QString name;  // as the organiser reads it: "C", "C++", "Pascal"
    QString tool;  // the sim program
    QStringList suffixes;  // of sources, lower case; the first names the copies
    QStringList templateSuffixes;  // of shared files in the problem's folder
};
// By the source file's suffix (any case); nullptr when sim has no lexer for it.
const SimLanguage *simLanguageOf(const QString &fileName);

struct SimSource
{
    QString player;
    QString problem;
    QString path;     // the player's file
    const SimLanguage *language = nullptr;
    QByteArray text;  // what is compared: the file, or its first part (truncated)
    qint64 size = 0;  // of the whole file
    bool truncated = false;
    int tokens = 0;         // as sim counts them, shared template lines left out
    int templateLines = 0;  // lines left out as copies of the problem's shared files
    ScoreInfo result;       // the player's result on the problem
};

// Line ranges (from 1, both ends included) of one run of matching tokens.
struct SimRun
{
    int firstFrom = 0;
    int firstTo = 0;
    int secondFrom = 0;
    int secondTo = 0;
    int tokens = 0;
};

struct SimPair
{
    int first = 0;   // indexes into SimilarityReport::sources, first < second
    int second = 0;
    double percent = 0.0;
    int sharedTokens = 0;
    QList<SimRun> runs;  // first* lines are in the first source
};

struct SimilarityOptions
{
    double threshold = 60.0;      // percent: pairs below it are not kept
    qint64 sizeLimit = 64 * 1024;  // bytes of a source compared at most
    int runTimeoutMs = 60'000;    // one sim process at most
    int parallel = 2;             // sim processes at once
    QString toolDirectory;        // where the sim programs are; empty: the search path
};

struct SimilarityReport
{
    QString contestName;
    double threshold = 60.0;
    QList<SimSource> sources;
    QList<SimPair> pairs;  // most similar first
    QStringList notes;     // what was left out or cut short
    qint64 totalPairs = 0;
    qint64 comparedPairs = 0;
    bool complete = false;  // every comparison ran to its end
    bool stopped = false;
};

// The sources to compare: the first of the problem's languages each player
// has, as the judge picks it; the standard program, missing and empty files,
// and languages sim cannot read are left out, each kind counted in notes.
QList<SimSource> collectSimSources(const Contest &contest, qint64 sizeLimit, QStringList &notes);

// Files in the problem's folder that contestants are given to copy or fill
// in (a grader, a template): sources of the language's template suffixes.
QStringList sharedTemplateFiles(const Contest &contest, const QString &problem,
                                const SimLanguage &language);

// Runs the comparisons as child processes, a few at a time, each with its
// own time-out; reports progress and ends with finished(), also after stop().
class SimilarityRun : public QObject
{
    Q_OBJECT

public:
    explicit SimilarityRun(QObject *parent = nullptr);
    ~SimilarityRun() override;

    // contest needs rootDir and its problems; players and results are read afresh.
    void start(const Contest &contest, const SimilarityOptions &options = {});
    // Ends every sim process; the pairs found so far are kept.
    void stop();
    bool isRunning() const { return m_running; }
    const SimilarityReport &report() const { return m_report; }

signals:
    void progress(qint64 done, qint64 total);
    void finished();

private:
    struct Group;
    struct Task;

    void prepareGroups(const Contest &contest);
    void queueCompareTasks(int group);
    void launch();
    void taskEnded(QProcess *process, bool timedOut);
    void stripTemplates(const Task &task, const QByteArray &output);
    void collectPairs(const Task &task, const QByteArray &output);
    void finish();

    SimilarityOptions m_options;
    SimilarityReport m_report;
    std::unique_ptr<QTemporaryDir> m_work;
    QList<Group> m_groups;
    QList<Task> m_queue;
    QHash<QProcess *, Task> m_runningTasks;
    int m_templatesRunning = 0;
    bool m_running = false;
    bool m_incomplete = false;
};
