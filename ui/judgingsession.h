#pragma once

#include <QList>
#include <QObject>

#include <functional>
#include <memory>

class AllSiteItem;
class Contest;
class SiteItem;
class TestCore;

// One judging run after another for the window: owns the judge thread object
// and the start and stop protocol, through the run steps qxj-judge uses too.
class JudgingSession : public QObject
{
    Q_OBJECT

public:
    explicit JudgingSession(Contest &contest, QObject *parent = nullptr);
    ~JudgingSession() override;

    TestCore *judge() const { return m_judge.get(); }
    // How many cells the next runs judge at once.
    int jobs() const { return m_jobs; }
    void setJobs(int jobs) { m_jobs = jobs; }

    // A fresh judge with the open contest's directories.
    void recreateJudge();
    bool isJudging() const;

    // Queues the cells on a fresh judge, lets connect() wire its signals, then
    // starts it. Re-judged cells show untested (their stored results stay on
    // disk until new ones replace them).
    void start(const QList<SiteItem *> &cells, bool rejudge,
               const std::function<void(TestCore *)> &connect);

    // Stops whatever runs and waits for the thread; every queued cell the run
    // did not complete gets its stored result back. Returns those cells, whose
    // looks the caller refreshes. A fresh judge is ready afterwards.
    QList<SiteItem *> stop();

    // End of a run: scratch directory gone, result list written from the rows
    // when missing. False when the result list could not be written.
    bool finish(const QList<AllSiteItem *> &rows);

private:
    Contest &m_contest;
    std::unique_ptr<TestCore> m_judge;
    int m_jobs = 1;
};
