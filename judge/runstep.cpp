#include "contestfiles.h"
#include "dirs.h"
#include "problemfile.h"
#include "runner.h"
#include "testcore.h"

#include <QFileInfo>

namespace {

// Whether the program ended by a signal that stops whole process trees.
bool endedByStopSignal(char state, const QString &note)
{
    if (state != PointState::RunError)
        return false;
    for (const char *signal : {"SIGTERM", "SIGINT", "SIGHUP", "SIGKILL"}) {
        if (note == QStringLiteral("运行时错误: ") + QLatin1String(signal))
            return true;
    }
    return false;
}

struct PointOutcome
{
    double timeUsed = 0.0;
    double memoryUsed = 0.0;
    double ratio = 0.0;
    char state = PointState::JudgeError;
    QString note;
    bool ran = false;
};

} // namespace

bool JudgeWorker::runTestPoints(const QString &exeName)
{
    trace("core", "M4");
    const TaskSpec task = problemTask(problemConfig->document);
    const QString problemDir = contest.problemDir(currentProblem) + u'/';
    const QString exeSource = scratchDir + u'/' + exeName;
    const QString exeCopy = workDir + u'/' + exeName;
    const QString inputCopy = workDir + u'/' + task.input;
    const QString outputFile = workDir + u'/' + task.output;
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
            if (skipRest) {
                p.state = PointState::Ignored;
                p.note = QStringLiteral("忽略");
            } else {
                trace("core", "P2");
                bool prepared = false;
                {
                    QMutexLocker lock(&judgeMutex);
                    ensureDir(workDir);
                    if (!emptyScratchDir(workDir)) {
                        p.note = QStringLiteral("临时目录无法清空: 003");
                    } else if (!copyWritable(exeSource, exeCopy)) {
                        p.note = QStringLiteral("可执行文件拷贝失败: 001");
                    } else if (!QFileInfo::exists(exeCopy)) {
                        p.note = QStringLiteral("可执行文件拷贝失败: 002");
                    } else {
                        // A missing input file leaves the program without
                        // input; one that a full disk kept out is no fault of
                        // the contestant's.
                        if (!copyWritable(problemDir + point.in, inputCopy))
                            p.note = storageFault({workDir});
                        prepared = p.note.isEmpty();
                    }
                }
                if (prepared) {
                    if (stopped())
                        return false;
                    trace("core", "P3");
                    p.ran = true;
                    const bool ran = runProgram(*this, workDir, exeName, p.timeUsed,
                                                p.memoryUsed, p.state, p.note, point.time, point.mem);
                    // Stopped with the judge, it is no verdict.
                    if (!ran && endedByStopSignal(p.state, p.note) && stopFollows())
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
            if (p.ratio < FailedRatio)
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
