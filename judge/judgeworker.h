#pragma once

#include "contest.h"
#include "judgestate.h"
#include "problemfile.h"
#include "scoreinfo.h"
#include "viewinfo.h"

#include <QDomDocument>
#include <QList>
#include <QString>
#include <QStringList>

#include <memory>

class QProcess;
class SubmittedFile;
class SiteItem;
class TestCore;
class XmlFile;

// What one test point came to.
struct PointOutcome
{
    double timeUsed = 0.0;
    double memoryUsed = 0.0;
    double ratio = 0.0;
    char state = PointState::JudgeError;
    QString note;
    bool ran = false;
};

// One judging slot of a TestCore: judges the cells it is handed one after
// another, on one thread, with its own stop state, scratch folder and process
// objects. It reports through its TestCore's signals.
class JudgeWorker : public JudgeState
{
public:
    // Slot `slot` of core's `jobs` slots; its programs run on `cpu` (-1: anywhere).
    JudgeWorker(TestCore &core, int slot, int jobs, int cpu);
    ~JudgeWorker();
    JudgeWorker(const JudgeWorker &) = delete;
    JudgeWorker &operator=(const JudgeWorker &) = delete;

    // The worker's thread body: takes a player's queued cells at a time from
    // the core until none are left. False when judging was stopped.
    bool judgeAll();
    // False when judging was stopped; a cell without configuration is passed by.
    bool judgeCell(SiteItem *item);
    // The stop request for this slot (any thread), in two steps: halt()
    // clears keepRunning; stop() does too, and ends whatever the slot runs,
    // under judgeMutex.
    void halt();
    void stop();

    // Shared operations of the judging steps (the worker's thread).
    void resetResultDoc();
    bool failProblem(char state, QString note);
    // Writes the result file, then the player's report. Each file that cannot
    // be written gets a row and joins the core's unwrittenFiles; false when
    // the result file is one of them.
    bool saveResult();
    // Saves the cell and sends its summary; a cell whose result could not be
    // stored ends as a judge error instead, to be judged again.
    void finishCell(ScoreInfo info);
    bool writeHtmlReport();
    // When a compile or a copy failed: a note saying that the file system of
    // one of the directories is full, read-only or gone, so that the failure
    // is the judge's and not the contestant's; empty when they are fine.
    static QString storageFault(const QStringList &dirs);
    // The note of a scratch directory that could not be emptied: the fixed
    // text with its code, then what stayed and why (emptyScratchDir).
    static QString scratchFault(const char *code, const QString &reason);
    void trace(const char *tag, const char *text) const;
    bool stopped();  // keepRunning tested under judgeMutex
    // After a process of the cell ended by a signal that stops whole process
    // trees: waits a moment for the judge's own stop, which may come just
    // after; true when judging was stopped.
    bool stopFollows();
    // Makes scratchDir when missing (tmp/ first, when it lies in it).
    void ensureScratchDir();
    // A detail row of the current cell: sent at once when this is the only
    // slot, otherwise kept until the cell ends, so that a cell's rows reach
    // the log together.
    void send(const ViewInfo &row);

    // The process objects, created on first use on the calling thread, which
    // must also be the one that releases them (judgeAll does so when it ends).
    QProcess &compiler();
    void releaseProcesses();

    // Traditional problems: compile step, then run step.
    bool judgeTraditionalProblem();
    // The first language whose source is a regular file, opened in
    // sourceFile; -1 when none is. Candidates refused (links, directories)
    // are described in refusals.
    int findSource(SubmittedFile &sourceFile, QStringList &refusals);
    bool runTestPoints(const QString &exeName);
    // An interactive problem's point: the program (already in workDir) run
    // with the interactor, then judged. False when judging was stopped.
    bool runInteractivePoint(const QString &exeName, const TaskSpec &task, const PointSpec &point,
                             PointOutcome &outcome);

    // Answer-submission problems.
    bool judgeAnswerProblem();

    // Checker contract.
    // A testlib checker's build (or its fault) for the current problem; false
    // when judging was stopped.
    bool prepareTestlibChecker();
    // The current problem's interactor, built or found, or why there is none.
    bool prepareInteractor();
    // An organiser's program named file in the problem folder: a source
    // (built once per run, kept in the cache) or an executable. built is its
    // path, or fault says why there is none in the words of what it is
    // ("校验器"). False when judging was stopped.
    bool buildOrganiserProgram(const QString &file, bool source, const QString &what, QString &built,
                               QString &fault);
    bool runTestlibChecker(const QString &inputFile, const QString &answerFile, const QString &outputFile,
                           QString &note, char &state, double &ratio);
    bool findChecker(QString &name, QString &path);
    bool runChecker(const QString &workDir, const QString &inputFile, const QString &answerFile,
                    const QString &outputFile, const QString &verdictFile, QString &note,
                    char &state, double &ratio);

    const int slot;
    const Contest &contest;  // the core's copy of the directories
    // Where sources are compiled, and below it where each point runs: the
    // contest's tmp/ and tmp/test_thread_0 for a lone slot, tmp/<slot>/ and
    // tmp/<slot>/test_thread_0 when several judge side by side.
    const QString scratchDir;
    const QString workDir;

    SiteItem *currentItem = nullptr;
    QString currentPlayer;
    QString currentProblem;
    QString currentDisplayName;
    const XmlFile *problemConfig = nullptr;
    char lastState = TaskState::NotJudged;
    QDomDocument resultDoc;
    QDomElement taskElement;

private:
    // Sends the rows kept back for the current cell as one block.
    void flushRows();
    // Kills the checker's process tree; the caller holds judgeMutex.
    void killChecker();

    TestCore &m_core;
    const bool m_keepRows;
    QList<ViewInfo> m_rows;
    // Created on the thread that uses them (QProcess has thread affinity).
    std::unique_ptr<QProcess> m_compilerProcess;
    // The current problem's testlib checker, or why there is none.
    bool m_testlib = false;
    QString m_testlibChecker;
    QString m_checkerFault;
    bool m_checkerCopied = false;  // into the checker's folder, this cell
    QString m_interactor;
    QString m_interactorFault;
    bool m_interactorCopied = false;  // into the interactor's folder, this cell
};
