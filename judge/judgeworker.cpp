#include "judgeworker.h"

#include "contestfiles.h"
#include "dirs.h"
#include "gridcells.h"
#include "htmlreport.h"
#include "problemfile.h"
#include "runner.h"
#include "stopsignal.h"
#include "testcore.h"

#include <QProcess>
#include <QScopeGuard>
#include <QThread>

using namespace Qt::StringLiterals;

namespace {

// How long after a process of the cell the judge's own stop may come, when
// both are stopped by one signal to the whole process tree.
constexpr int StopSignalGraceMs = 200;

} // namespace

JudgeWorker::JudgeWorker(TestCore &core, int slot, int jobs, int cpu)
    : slot(slot),
      contest(core.contest),
      scratchDir(jobs == 1 ? core.contest.tmpDir()
                           : core.contest.tmpDir() + u'/' + QString::number(slot)),
      workDir(scratchDir + u"/test_thread_0"_s),
      m_core(core),
      m_keepRows(jobs > 1)
{
    QMutexLocker locker(&judgeMutex);
    this->cpu = cpu;
    childProcess = ChildProcess();
    keepRunning = true;
}

JudgeWorker::~JudgeWorker() = default;

bool JudgeWorker::judgeAll()
{
    const auto release = qScopeGuard([this] { releaseProcesses(); });
    for (;;) {
        const QList<qsizetype> entries = m_core.takePlayer();
        if (entries.isEmpty())
            break;
        for (const qsizetype entry : entries) {
            if (stopped() || !judgeCell(m_core.workQueue.at(entry)))
                return false;
            m_core.markFinished(entry);
        }
    }
    QMutexLocker locker(&judgeMutex);
    currentItem = nullptr;
    return keepRunning;
}

bool JudgeWorker::judgeCell(SiteItem *item)
{
    {
        QMutexLocker locker(&judgeMutex);
        if (!item)
            return true;
        currentItem = item;
        currentPlayer = item->player;
        currentProblem = item->problem;
        currentDisplayName = item->displayName;
        if (!m_core.problemConfigs)
            return true;
        const auto config = m_core.problemConfigs->constFind(currentProblem);
        // What was read of a faulty configuration would give wrong scores.
        if (config == m_core.problemConfigs->cend() || contest.problemFaults.contains(currentProblem))
            return true;
        problemConfig = &config.value();
        lastState = TaskState::Judging;
    }

    m_rows.clear();
    send(headerRow(currentPlayer, currentProblem, currentDisplayName));
    emit m_core.setItem(currentItem, ScoreInfo{0, 0.0, TaskState::Judging});

    const QString kind = problemKind(problemConfig->document);
    if (kind == KindTraditional)
        judgeTraditionalProblem();
    else if (kind == KindAnswer)
        judgeAnswerProblem();

    if (stopped())
        return false;
    flushRows();
    emit m_core.setSelect(currentItem, lastState == TaskState::JudgeError);
    return true;
}

void JudgeWorker::halt()
{
    QMutexLocker locker(&judgeMutex);
    keepRunning = false;
}

void JudgeWorker::stop()
{
    QMutexLocker locker(&judgeMutex);
    keepRunning = false;
    stopRunningProgram(*this);
    killProcessTree(compilerPid);
    killChecker();
}

bool JudgeWorker::stopped()
{
    if (stopSignalled())
        return true;
    QMutexLocker locker(&judgeMutex);
    return !keepRunning;
}

bool JudgeWorker::stopFollows()
{
    for (int waited = 0; waited < StopSignalGraceMs && !stopped(); waited += 10)
        QThread::msleep(10);
    return stopped();
}

void JudgeWorker::ensureScratchDir()
{
    if (scratchDir != contest.tmpDir())
        ensureDir(contest.tmpDir());
    ensureDir(scratchDir);
}

void JudgeWorker::send(const ViewInfo &row)
{
    if (m_keepRows)
        m_rows.append(row);
    else
        emit m_core.sendInfo(row);
}

void JudgeWorker::flushRows()
{
    if (m_rows.isEmpty())
        return;
    m_core.sendBlock(m_rows);
    m_rows.clear();
}

void JudgeWorker::resetResultDoc()
{
    resultDoc = newDocument();
    taskElement = resultDoc.createElement(ResultXml::Task);
    resultDoc.appendChild(taskElement);
}

bool JudgeWorker::failProblem(char state, QString note)
{
    if (note.endsWith(u'\n'))
        note.chop(1);
    note = xmlSafeText(note);
    taskElement.setAttribute(ResultXml::Score, u"0"_s);
    taskElement.setAttribute(ResultXml::Time, u"0"_s);
    taskElement.setAttribute(ResultXml::State, QString(QLatin1Char(state)));
    QDomElement noteElement = resultDoc.createElement(ResultXml::Note);
    noteElement.appendChild(resultDoc.createTextNode(note));
    taskElement.appendChild(noteElement);

    if (stopped())
        return false;
    send(messageRow(note, state == TaskState::JudgeError ? 3 : 1));
    finishCell(ScoreInfo{0, 0.0, state});
    return true;
}

bool JudgeWorker::saveResult()
{
    QMutexLocker locker(&judgeMutex);
    const QString resultPath = contest.resultFilePath(currentPlayer, currentProblem);
    makePath(contest.resultProblemDir(currentProblem));
    const bool saved = saveDocument(resultDoc, resultPath, 0);
    if (!saved)
        m_core.addUnwritten(resultPath);
    // Regenerated all the same: it shows what is stored.
    const bool reported = writeHtmlReport();
    if (!reported)
        m_core.addUnwritten(htmlReportPath(contest, currentPlayer));
    locker.unlock();

    if (!saved)
        send(messageRow(u"结果文件无法写入: "_s + resultPath, 3));
    if (!reported)
        send(messageRow(u"报告文件无法写入: "_s + htmlReportPath(contest, currentPlayer), 3));
    return saved;
}

void JudgeWorker::finishCell(ScoreInfo info)
{
    if (!saveResult())
        info = ScoreInfo{0, 0.0, TaskState::JudgeError};
    lastState = info.state;
    flushRows();
    emit m_core.setItem(currentItem, info);
}

QString JudgeWorker::storageFault(const QStringList &dirs)
{
    for (const QString &dir : dirs) {
        switch (storageState(dir)) {
        case StorageState::Fine:
            break;
        case StorageState::Short:
            return u"测评机磁盘空间不足: "_s + dir;
        case StorageState::ReadOnly:
            return u"测评机磁盘只读: "_s + dir;
        case StorageState::Unreachable:
            return u"测评机磁盘无法访问: "_s + dir;
        }
    }
    return QString();
}

QString JudgeWorker::scratchFault(const char *code, const QString &reason)
{
    QString note = u"临时目录无法清空: "_s + QLatin1String(code);
    if (!reason.isEmpty())
        note += u'\n' + xmlSafeText(reason);
    return note;
}

bool JudgeWorker::writeHtmlReport()
{
    QStringList problems;
    if (currentItem && currentItem->rowHead) {
        for (const SiteItem *cell : std::as_const(currentItem->rowHead->cells))
            problems.append(cell->problem);
    } else {
        problems = m_core.problemNames;
    }
    return ::writeHtmlReport(contest, currentPlayer, problems, m_core.problemConfigs);
}

void JudgeWorker::trace(const char *tag, const char *text) const
{
    Q_UNUSED(tag);
    Q_UNUSED(text);
}

QProcess &JudgeWorker::compiler()
{
    if (!m_compilerProcess)
        m_compilerProcess = std::make_unique<QProcess>();
    return *m_compilerProcess;
}

void JudgeWorker::releaseProcesses()
{
    m_compilerProcess.reset();
}
