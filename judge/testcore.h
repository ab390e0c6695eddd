#pragma once

#include "contest.h"
#include "judgeworker.h"
#include "platform.h"
#include "scoreinfo.h"
#include "testlibchecker.h"
#include "viewinfo.h"

#include <QList>
#include <QMap>
#include <QMutex>
#include <QStringList>
#include <QThread>
#include <QVector>
#include <QWaitCondition>

#include <memory>
#include <vector>

class SiteItem;

// The text with every character that XML 1.0 cannot carry (control
// characters, lone surrogates) replaced by U+FFFD: written raw, such a
// character would make the whole result file unreadable.
QString xmlSafeText(const QString &text);

// The judge thread: one object per run. It reports only through its four
// signals; the window connects to them and never looks inside.
// The cells are judged by its slots (JudgeWorker), each on a thread of its
// own, slot 0 on this one. A slot takes all queued cells of one player at a
// time, in queue order, so that two slots never judge the same player.
class TestCore : public QThread
{
    Q_OBJECT

public:
    // Copies the contest's five directory strings; nothing else of it.
    // jobs: how many cells are judged at once (1 to MaxJobs).
    explicit TestCore(const Contest &contestDirs, int jobs = 1);
    ~TestCore() override;

    // Filled by the window before startJudging().
    QVector<SiteItem *> workQueue;
    const QMap<QString, XmlFile> *problemConfigs = nullptr;
    QStringList problemNames;

    // GUI side: start() with the handshake; returns once run() holds runMutex.
    void startJudging();
    // GUI side: whether a run is active (tryLock on runMutex).
    bool isRunActive();
    // GUI side, the stop request: every slot clears keepRunning, kills
    // whatever it runs and deletes its running executable; then waits for
    // the threads.
    void requestStop();

    int jobs() const { return int(m_workers.size()); }
    JudgeWorker &worker(int slot) { return *m_workers.at(size_t(slot)); }

    // Whether the slots are done with workQueue entry i (judged to the end,
    // or passed by for want of a configuration). After a stop, the entries
    // not done were not completed.
    bool isEntryFinished(qsizetype entry);

    // Judge side: the next player's queued entries, in queue order; empty
    // when every player has been handed out.
    QList<qsizetype> takePlayer();
    void markFinished(qsizetype entry);
    void addUnwritten(const QString &path);
    // Sends a cell's rows together: no other slot's rows come between them.
    void sendBlock(const QList<ViewInfo> &rows);

    QMutex runMutex;
    QMutex startMutex;
    QWaitCondition startCondition;

    Contest contest;
    CheckerBuilds checkerBuilds;
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
    bool judgeOnAllSlots();

    std::vector<std::unique_ptr<JudgeWorker>> m_workers;
    // Under m_queueMutex: the queue's entries grouped by player, the next
    // group to hand out, and the entries done with.
    QMutex m_queueMutex;
    QList<QList<qsizetype>> m_players;
    qsizetype m_nextPlayer = 0;
    QList<bool> m_finished;
    bool threadStarted = false;  // under startMutex
};
