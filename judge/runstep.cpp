#include "contestfiles.h"
#include "dirs.h"
#include "problemfile.h"
#include "runner.h"
#include "stopsignal.h"
#include "testcore.h"

#include <QFileInfo>

namespace {

const QString StandardOutputName = QStringLiteral("stdout.txt");

} // namespace

bool JudgeWorker::runTestPoints(const QString &exeName)
{
    trace("core", "M4");
    if (!prepareTestlibChecker() || !prepareInteractor())
        return false;
    const TaskSpec task = problemTask(problemConfig->document);
    // The organiser's checker or interactor cannot judge: no point is the
    // contestant's, and none is passed over.
    const QString organiserFault = m_interactorFault.isEmpty() ? m_checkerFault : m_interactorFault;
    const QString problemDir = contest.problemDir(currentProblem) + u'/';
    const QString exeSource = scratchDir + u'/' + exeName;
    const QString exeCopy = workDir + u'/' + exeName;
    const QString inputCopy = workDir + u'/' + task.input;
    // Standard output goes to a file of the work folder, read as the output.
    const QString outputFile = workDir + u'/' + (task.stdio ? StandardOutputName : task.output);
    const QString verdictFile = workDir + QStringLiteral("/check_info.txt");

    qint64 totalScore = 0;
    double totalTime = 0.0;
    QString pointStates;
    int pointNumber = 0;

    for (const SubtaskSpec &subtask : task.subtasks) {
        QDomElement subtaskElement = resultDoc.createElement(ResultXml::Subtask);
        taskElement.appendChild(subtaskElement);
        double minRatio = 1.0;
        double timeSum = 0.0;
        bool skipRest = false;

        for (const PointSpec &point : subtask.points) {
            trace("core", "P1");
            PointOutcome p;
            if (!organiserFault.isEmpty()) {
                p.state = PointState::CheckerError;
                p.note = organiserFault;
            } else if (skipRest) {
                p.state = PointState::Ignored;
                p.note = QStringLiteral("忽略");
            } else {
                trace("core", "P2");
                bool prepared = false;
                {
                    QMutexLocker lock(&judgeMutex);
                    ensureDir(workDir);
                    QString reason;
                    if (!emptyScratchDir(workDir, &reason)) {
                        p.note = scratchFault("003", reason);
                    } else if (!copyWritable(exeSource, exeCopy)) {
                        p.note = QStringLiteral("可执行文件拷贝失败: 001");
                    } else if (!QFileInfo::exists(exeCopy)) {
                        p.note = QStringLiteral("可执行文件拷贝失败: 002");
                    } else {
                        // A missing input file leaves the program without
                        // input; one that a full disk kept out is no fault of
                        // the contestant's. Standard input reads the data
                        // folder's file itself: the judge opens it, and the
                        // program never gets a way to write to it.
                        if (!task.stdio && !copyWritable(problemDir + point.in, inputCopy))
                            p.note = storageFault({workDir});
                        prepared = p.note.isEmpty();
                    }
                }
                if (prepared && task.interactive()) {
                    if (stopped() || !runInteractivePoint(exeName, task, point, p))
                        return false;
                } else if (prepared) {
                    if (stopped())
                        return false;
                    trace("core", "P3");
                    p.ran = true;
                    RunRequest request;
                    request.workDir = workDir;
                    request.executable = exeName;
                    request.limits.time = point.time;
                    request.limits.memory = point.mem;
                    request.limits.cpu = cpu;
                    if (task.stdio) {
                        // The runner opens no link: a linked data file is
                        // named by its target. A missing one reads as empty.
                        const QFileInfo input(problemDir + point.in);
                        if (input.isFile())
                            request.input.file = input.canonicalFilePath();
                        request.output.file = outputFile;
                    }
                    // The output alone comes back from the program's work
                    // folder: nothing else it writes reaches the contest's disk.
                    request.results = task.stdio ? QStringList() : QStringList{task.output};
                    const RunRecord record = runProgram(*this, request);
                    const bool ran = record.unpack(p.timeUsed, p.memoryUsed, p.state, p.note);
                    // Stopped with the judge, it is no verdict.
                    if (record.status == RunStatus::RuntimeError && isTreeStopSignal(record.signal)
                        && stopFollows())
                        return false;
                    if (ran) {
                        // Only a regular file is output: the checker, with the
                        // judge's rights, would read what a link points to (the
                        // answer, say), and a pipe or device could stall it.
                        const QFileInfo output(outputFile);
                        if (output.isSymLink() || !output.isFile()) {
                            p.state = PointState::NoOutput;
                            p.note = QStringLiteral("无输出");
                        } else {
                            // A stop is caught by the test below.
                            runChecker(workDir, problemDir + point.in, problemDir + point.out,
                                       outputFile, verdictFile, p.note, p.state, p.ratio);
                        }
                    }
                }
            }
            if (stopped())
                return false;
            trace("core", "P4");
            if (p.ratio < FailedRatio && organiserFault.isEmpty())
                skipRest = true;
            minRatio = qMin(minRatio, p.ratio);
            timeSum += p.timeUsed;

            QDomElement pointElement = resultDoc.createElement(ResultXml::Point);
            pointElement.setAttribute(ResultXml::Ratio, realText(p.ratio));
            pointElement.setAttribute(ResultXml::State, QString(QLatin1Char(p.state)));
            pointElement.setAttribute(ResultXml::Note, p.note);
            // CPU seconds, whatever the verdict: the statistics compare it
            // with the limit, and the note keeps it only for passed runs.
            if (p.ran)
                pointElement.setAttribute(ResultXml::Time, realText(p.timeUsed));
            subtaskElement.appendChild(pointElement);
            pointStates.append(QLatin1Char(p.state));

            trace("core", "P5");
            send(pointRow(p.note, p.state, ++pointNumber));
            trace("core", "P5_");
        }
        if (stopped())
            return false;
        const int score = subtaskScore(minRatio, subtask.score);
        totalScore += score;
        totalTime += timeSum * minRatio;
        subtaskElement.setAttribute(ResultXml::Score, QString::number(score));
        send(subtaskRow(score, subtask.score));
    }

    const char state = problemStateFromPoints(pointStates);
    const int score = saturatedScore(totalScore);
    taskElement.setAttribute(ResultXml::Score, QString::number(score));
    taskElement.setAttribute(ResultXml::Time, realText(totalTime));
    taskElement.setAttribute(ResultXml::State, QString(QLatin1Char(state)));
    if (stopped())
        return false;
    finishCell(ScoreInfo{score, totalTime, state});
    return true;
}
