#include "judgingsession.h"

#include "contest.h"
#include "runsteps.h"
#include "testcore.h"


JudgingSession::JudgingSession(Contest &contest, QObject *parent)
    : QObject(parent), m_contest(contest)
{
    recreateJudge();
}

JudgingSession::~JudgingSession()
{
    if (m_judge && m_judge->isRunning())
        m_judge->requestStop();
}

void JudgingSession::recreateJudge()
{
    m_judge.reset();  // its destructor stops and waits if it still runs
    m_judge = std::make_unique<TestCore>(m_contest, m_jobs);
}

bool JudgingSession::isJudging() const
{
    return m_judge->isRunActive();
}

void JudgingSession::start(const QList<SiteItem *> &cells, bool rejudge,
                           const std::function<void(TestCore *)> &connect)
{
    recreateJudge();
    queueCells(*m_judge, cells, rejudge);
    connect(m_judge.get());
    beginRun(*m_judge, m_contest);
}

QList<SiteItem *> JudgingSession::stop()
{
    m_judge->requestStop();
    const QList<SiteItem *> restored = restoreUnfinishedCells(m_contest, *m_judge);
    recreateJudge();
    return restored;
}

bool JudgingSession::finish(const QList<AllSiteItem *> &rows)
{
    return finishRun(m_contest, rows);
}
