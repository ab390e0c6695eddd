#pragma once

#include "contest.h"
#include "judgestate.h"
#include "platform.h"
#include "scoreinfo.h"
#include "viewinfo.h"

#include <QDomDocument>
#include <QMap>
#include <QMutex>
#include <QStringList>
#include <QThread>
#include <QVector>
#include <QWaitCondition>

#include <memory>

class QProcess;
class SiteItem;

// The text with every character that XML 1.0 cannot carry (control
// characters, lone surrogates) replaced by U+FFFD: written raw, such a
// character would make the whole result file unreadable.
QString xmlSafeText(const QString &text);

// The judge thread: one object per run. It reports only through its four
// signals; the window connects to them and never looks inside.
class TestCore : public QThread, public JudgeState
{
    Q_OBJECT

public:
    // Copies the contest's five directory strings; nothing else of it.
    explicit TestCore(const Contest &contestDirs);
    ~TestCore() override;

    // Filled by the window before startJudging().
    QVector<SiteItem *> workQueue;
    const QMap<QString, XmlFile> *problemConfigs = nullptr;
    QStringList problemNames;

    // GUI side: start() with the handshake; returns once run() holds runMutex.
    void startJudging();
    // GUI side: whether a run is active (tryLock on runMutex).
    bool isRunActive();
    // GUI side, the stop request: clears keepRunning, kills whatever runs,
    // deletes the running executable, then waits for the thread.
    void requestStop();

    // Shared operations of the judging steps (judge thread).
    void resetResultDoc();
    bool failProblem(char state, QString note);
    // Writes the result file, then the player's report. Each file that cannot
    // be written gets a row and joins unwrittenFiles; false when the result
    // file is one of them.
    bool saveResult();
    // Saves the cell and sends its summary; a cell whose result could not be
    // stored ends as a judge error instead, to be judged again.
    void finishCell(ScoreInfo info);
    bool writeHtmlReport();
    // When a compile or a copy failed: a note saying that the file system of
    // one of the directories is full, read-only or gone, so that the failure
    // is the judge's and not the contestant's; empty when they are fine.
    static QString storageFault(const QStringList &dirs);
    void trace(const char *tag, const char *text) const;
    bool stopped();  // keepRunning tested under judgeMutex

    // The process objects, created on first use on the calling thread, which
    // must also be the one that releases them (run() does so when it ends).
    // The compiler's comes bare; the checker's is set up for runChecker.
    QProcess &compiler();
    QProcess &checker();
    void releaseProcesses();

    // Traditional problems: compile step, then run step.
    bool judgeTraditionalProblem();
    int findSource(QString &sourcePath);
    bool runTestPoints(const QString &exeName);

    // Answer-submission problems.
    bool judgeAnswerProblem();

    // Checker contract.
    bool findChecker(QString &name, QString &path);
    bool runChecker(const QString &workDir, const QString &inputFile, const QString &answerFile,
                    const QString &outputFile, const QString &verdictFile, QString &note,
                    char &state, double &ratio);

    SiteItem *currentItem = nullptr;
    QString currentPlayer;
    QString currentProblem;
    QString currentDisplayName;
    const XmlFile *problemConfig = nullptr;
    char lastState = TaskState::NotJudged;
    // How many workQueue entries, from the front, the thread is done with
    // (judged to the end, or passed by for want of a configuration); under
    // judgeMutex. After a stop, the entries from here on were not completed.
    qsizetype finishedCells = 0;

    QMutex runMutex;
    QMutex startMutex;
    QWaitCondition startCondition;

    Contest contest;
    QDomDocument resultDoc;
    QDomElement taskElement;
    // Files the run could not write, in order; for the front end once the
    // thread has ended.
    QStringList unwrittenFiles;

signals:
    void sendInfo(ViewInfo info);
    void setItem(SiteItem *item, ScoreInfo info);
    void testEnd();
    void setSelect(SiteItem *item, bool selected);

protected:
    void run() override;

private:
    bool judgeQueue();
    bool judgeCell(SiteItem *item);
    // Kills the checker's process tree; the caller holds judgeMutex.
    void killChecker();

    // Created on the thread that uses them (QProcess has thread affinity).
    std::unique_ptr<QProcess> compilerProcess;
    std::unique_ptr<QProcess> checkerProcess;
    bool threadStarted = false;  // under startMutex
};
