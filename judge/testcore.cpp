#include "testcore.h"

#include "cpus.h"
#include "gridcells.h"

#include <QHash>
#include <QScopeGuard>

#include <algorithm>

using namespace Qt::StringLiterals;

QString xmlSafeText(const QString &text)
{
    QString safe = text;
    for (qsizetype i = 0; i < safe.size(); ++i) {
        const char16_t c = safe.at(i).unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < safe.size() && safe.at(i + 1).isLowSurrogate()) {
            ++i;
            continue;
        }
        const bool allowed = c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF)
                             || (c >= 0xE000 && c <= 0xFFFD);
        if (!allowed)
            safe[i] = QChar::ReplacementCharacter;
    }
    return safe;
}

TestCore::TestCore(const Contest &contestDirs, int jobs)
{
    contest.rootDir = contestDirs.rootDir;
    contest.dataDirName = contestDirs.dataDirName;
    contest.srcDirName = contestDirs.srcDirName;
    contest.resultDirName = contestDirs.resultDirName;
    contest.tmpDirName = contestDirs.tmpDirName;

    jobs = qBound(1, jobs, MaxJobs);
    const QList<int> cpus = jobs > 1 ? allowedCpus() : QList<int>();
    for (int slot = 0; slot < jobs; ++slot)
        m_workers.push_back(std::make_unique<JudgeWorker>(*this, slot, jobs, slotCpu(cpus, jobs, slot)));
}

TestCore::~TestCore()
{
    // The window waits for the thread before deleting it; should it ever not,
    // destroying a running thread would abort the program.
    if (isRunning())
        requestStop();
    QtTsan::futexAcquire(this);
    for (const auto &worker : m_workers)
        worker->releaseProcesses();
}

void TestCore::startJudging()
{
    QMutexLocker locker(&startMutex);
    start();
    // isRunning() turns false only if the thread could not be created.
    while (!threadStarted && isRunning()) {
        // The wait gives the mutex up and takes it back inside QtCore, out of
        // sight of a thread-sanitizer build; these tell it (no-ops otherwise).
        QtTsan::mutexPreUnlock(&startMutex, 0u);
        QtTsan::mutexPostUnlock(&startMutex, 0u);
        startCondition.wait(&startMutex);
        QtTsan::mutexPreLock(&startMutex, 0u);
        QtTsan::mutexPostLock(&startMutex, 0u, 0);
    }
}

bool TestCore::isRunActive()
{
    if (!runMutex.tryLock())
        return true;
    runMutex.unlock();
    return false;
}

void TestCore::requestStop()
{
    // Every slot is told first: a slot whose program ends while another's
    // are being killed must take that for the stop, not for a verdict.
    for (const auto &worker : m_workers)
        worker->halt();
    for (const auto &worker : m_workers)
        worker->stop();
    wait();
    QtTsan::futexAcquire(this);  // pairs with the release at the end of run()
}

bool TestCore::isEntryFinished(qsizetype entry)
{
    QMutexLocker locker(&m_queueMutex);
    return m_finished.value(entry, false);
}

QList<qsizetype> TestCore::takePlayer()
{
    QMutexLocker locker(&m_queueMutex);
    if (m_nextPlayer >= m_players.size())
        return {};
    return m_players.at(m_nextPlayer++);
}

void TestCore::markFinished(qsizetype entry)
{
    QMutexLocker locker(&m_queueMutex);
    m_finished[entry] = true;
}

void TestCore::addUnwritten(const QString &path)
{
    QMutexLocker locker(&m_queueMutex);
    unwrittenFiles.append(path);
}

void TestCore::sendBlock(const QList<ViewInfo> &rows)
{
    // Queued events keep the order in which they were posted.
    QMutexLocker locker(&m_queueMutex);
    for (const ViewInfo &row : rows)
        emit sendInfo(row);
}

void TestCore::run()
{
    // The thread's end as seen by wait(), for a thread-sanitizer build.
    const auto ended = qScopeGuard([this] { QtTsan::futexRelease(this); });
    // Held for the whole run and released on every way out: a stopped run is
    // over once wait() returns, and a mutex must not die locked.
    QMutexLocker runLocker(&runMutex);
    {
        QMutexLocker startLocker(&startMutex);
        threadStarted = true;
        startCondition.wakeAll();
    }

    if (!judgeOnAllSlots())
        return;
    runLocker.unlock();
    emit sendInfo(messageRow(u"- 测评结束 -"_s, 2));
    emit testEnd();
}

// False when judging was stopped.
bool TestCore::judgeOnAllSlots()
{
    {
        QMutexLocker locker(&m_queueMutex);
        m_players.clear();
        m_nextPlayer = 0;
        m_finished = QList<bool>(workQueue.size(), false);
        QHash<QString, qsizetype> groupOf;
        for (qsizetype i = 0; i < workQueue.size(); ++i) {
            // An empty entry goes with nobody; it is passed by.
            const QString player = workQueue[i] ? workQueue[i]->player : QString();
            const auto group = workQueue[i] ? groupOf.constFind(player) : groupOf.cend();
            if (group != groupOf.cend()) {
                m_players[group.value()].append(i);
            } else {
                if (workQueue[i])
                    groupOf.insert(player, m_players.size());
                m_players.append(QList<qsizetype>{i});
            }
        }
    }

    std::vector<std::unique_ptr<QThread>> threads;
    // A slot whose thread could not be made judged nothing and stopped nothing:
    // the others took its share.
    std::vector<char> completed(m_workers.size(), 1);
    for (size_t slot = 1; slot < m_workers.size(); ++slot) {
        JudgeWorker *worker = m_workers[slot].get();
        char *done = &completed[slot];
        threads.emplace_back(QThread::create([worker, done] {
            *done = worker->judgeAll();
            QtTsan::futexRelease(worker);
        }));
        threads.back()->start();
    }
    completed[0] = m_workers[0]->judgeAll();
    for (size_t i = 0; i < threads.size(); ++i) {
        threads[i]->wait();
        QtTsan::futexAcquire(m_workers[i + 1].get());
    }
    return std::all_of(completed.cbegin(), completed.cend(), [](char done) { return done != 0; });
}
