#include "testcore.h"

#include "contestfiles.h"
#include "dirs.h"
#include "gridcells.h"
#include "htmlreport.h"
#include "problemfile.h"
#include "runner.h"

#include <QProcess>
#include <QScopeGuard>

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

TestCore::TestCore(const Contest &contestDirs)
{
    contest.rootDir = contestDirs.rootDir;
    contest.dataDirName = contestDirs.dataDirName;
    contest.srcDirName = contestDirs.srcDirName;
    contest.resultDirName = contestDirs.resultDirName;
    contest.tmpDirName = contestDirs.tmpDirName;

    QMutexLocker locker(&judgeMutex);
    currentItem = nullptr;
    childProcess = ChildProcess();
    keepRunning = true;
}

TestCore::~TestCore()
{
    // The window waits for the thread before deleting it; should it ever not,
    // destroying a running thread would abort the program.
    if (isRunning())
        requestStop();
    QtTsan::futexAcquire(this);
    releaseProcesses();
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
    {
        QMutexLocker locker(&judgeMutex);
        keepRunning = false;
        stopRunningProgram(*this);
        killProcessTree(compilerPid);
        killChecker();
    }
    wait();
    QtTsan::futexAcquire(this);  // pairs with the release at the end of run()
}

bool TestCore::stopped()
{
    QMutexLocker locker(&judgeMutex);
    return !keepRunning;
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
    const auto release = qScopeGuard([this] { releaseProcesses(); });

    if (!judgeQueue())
        return;
    {
        QMutexLocker locker(&judgeMutex);
        currentItem = nullptr;
    }
    runLocker.unlock();
    emit sendInfo(messageRow(u"- 测评结束 -"_s, 2));
    emit testEnd();
}

// False when judging was stopped.
bool TestCore::judgeQueue()
{
    for (SiteItem *item : std::as_const(workQueue)) {
        if (stopped() || !judgeCell(item))
            return false;
        QMutexLocker locker(&judgeMutex);
        ++finishedCells;
    }
    return !stopped();
}

// False when judging was stopped; a cell without configuration is passed by.
bool TestCore::judgeCell(SiteItem *item)
{
    {
        QMutexLocker locker(&judgeMutex);
        if (!item)
            return true;
        currentItem = item;
        currentPlayer = item->player;
        currentProblem = item->problem;
        currentDisplayName = item->displayName;
        if (!problemConfigs)
            return true;
        const auto config = problemConfigs->constFind(currentProblem);
        if (config == problemConfigs->cend())
            return true;
        problemConfig = &config.value();
        lastState = TaskState::Judging;
    }

    emit sendInfo(headerRow(currentPlayer, currentProblem, currentDisplayName));
    emit setItem(currentItem, ScoreInfo{0, 0.0, TaskState::Judging});

    const QString kind = problemKind(problemConfig->document);
    if (kind == KindTraditional)
        judgeTraditionalProblem();
    else if (kind == KindAnswer)
        judgeAnswerProblem();

    if (stopped())
        return false;
    emit setSelect(currentItem, lastState == TaskState::JudgeError);
    return true;
}

void TestCore::resetResultDoc()
{
    resultDoc = newDocument();
    taskElement = resultDoc.createElement(ResultXml::Task);
    resultDoc.appendChild(taskElement);
}

bool TestCore::failProblem(char state, QString note)
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
    emit sendInfo(messageRow(note, state == TaskState::JudgeError ? 3 : 1));
    finishCell(ScoreInfo{0, 0.0, state});
    return true;
}

bool TestCore::saveResult()
{
    QMutexLocker locker(&judgeMutex);
    const QString resultPath = contest.resultFilePath(currentPlayer, currentProblem);
    makePath(contest.resultProblemDir(currentProblem));
    const bool saved = saveDocument(resultDoc, resultPath, 0);
    if (!saved)
        unwrittenFiles.append(resultPath);
    // Regenerated all the same: it shows what is stored.
    const bool reported = writeHtmlReport();
    if (!reported)
        unwrittenFiles.append(htmlReportPath(contest, currentPlayer));
    locker.unlock();

    if (!saved)
        emit sendInfo(messageRow(u"结果文件无法写入: "_s + resultPath, 3));
    if (!reported)
        emit sendInfo(messageRow(u"报告文件无法写入: "_s + htmlReportPath(contest, currentPlayer), 3));
    return saved;
}

void TestCore::finishCell(ScoreInfo info)
{
    if (!saveResult())
        info = ScoreInfo{0, 0.0, TaskState::JudgeError};
    lastState = info.state;
    emit setItem(currentItem, info);
}

QString TestCore::storageFault(const QStringList &dirs)
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

bool TestCore::writeHtmlReport()
{
    QStringList problems;
    if (currentItem && currentItem->rowHead) {
        for (const SiteItem *cell : std::as_const(currentItem->rowHead->cells))
            problems.append(cell->problem);
    } else {
        problems = problemNames;
    }
    return ::writeHtmlReport(contest, currentPlayer, problems, problemConfigs);
}

void TestCore::trace(const char *tag, const char *text) const
{
    Q_UNUSED(tag);
    Q_UNUSED(text);
}

QProcess &TestCore::compiler()
{
    if (!compilerProcess)
        compilerProcess = std::make_unique<QProcess>();
    return *compilerProcess;
}

void TestCore::releaseProcesses()
{
    compilerProcess.reset();
    checkerProcess.reset();
}
