#include "testcore.h"

#include "contestfiles.h"
#include "dirs.h"
#include "problemfile.h"
#include "submittedfile.h"

#include <QFileInfo>
#include <QMutexLocker>

#include <algorithm>

using namespace Qt::StringLiterals;

bool JudgeWorker::judgeAnswerProblem()
{
    if (stopped())
        return false;
    resetResultDoc();

    {
        QMutexLocker lock(&judgeMutex);
        ensureScratchDir();
        QString reason;
        if (!emptyScratchDir(scratchDir, &reason)) {
            lock.unlock();
            return failProblem(TaskState::JudgeError, scratchFault("011", reason));
        }
    }

    const QDomDocument &config = problemConfig->document;
    const QString answerDir = problemSource(config).dir;
    const TaskSpec task = problemTask(config);
    const QString verdictFile = workDir + u"/check_info.txt"_s;
    const QString dataDir = contest.problemDir(currentProblem);

    qint64 total = 0;
    int pointNumber = 0;
    QString pointStates;
    for (const SubtaskSpec &subtask : task.subtasks) {
        QDomElement subtaskElement = resultDoc.createElement(ResultXml::Subtask);
        taskElement.appendChild(subtaskElement);
        double minimum = 1.0;
        bool failed = false;

        for (const PointSpec &point : subtask.points) {
            double ratio = 0.0;
            QString note;
            char state = PointState::Ignored;
            if (failed) {
                note = u"忽略"_s;
            } else {
                // Only a regular file reached without a link is an answer;
                // anything else is no submission, as a missing file is.
                const SubmittedFile submitted(contest.playerDir(currentPlayer),
                                              answerDir + u'/' + point.sub);
                const QString workCopy = workDir + u'/' + point.sub;
                bool prepared = false;
                {
                    QMutexLocker lock(&judgeMutex);
                    ensureDir(workDir);
                    QString reason;
                    if (!emptyScratchDir(workDir, &reason)) {
                        state = PointState::JudgeError;
                        note = scratchFault("012", reason);
                    } else if (submitted.isRegular() && !submitted.copyTo(workCopy)) {
                        state = PointState::JudgeError;
                        note = u"答案文件拷贝失败: 011"_s;
                    } else {
                        prepared = true;
                    }
                }
                if (prepared) {
                    if (stopped())
                        return false;
                    if (submitted.isRegular() && QFileInfo::exists(workCopy)) {
                        // A stop during the checker is caught by the test below.
                        runChecker(workDir, dataDir + u'/' + point.in, dataDir + u'/' + point.out,
                                   workCopy, verdictFile, note, state, ratio);
                    } else {
                        state = PointState::NotSubmitted;
                        note = u"未提交"_s;
                        if (!submitted.isMissing())
                            note += u": "_s + submitted.refusal();
                    }
                }
            }
            if (stopped())
                return false;

            if (ratio < FailedRatio)
                failed = true;
            minimum = std::min(minimum, ratio);

            QDomElement pointElement = resultDoc.createElement(ResultXml::Point);
            pointElement.setAttribute(ResultXml::Ratio, realText(ratio));
            pointElement.setAttribute(ResultXml::State, QString(QLatin1Char(state)));
            pointElement.setAttribute(ResultXml::Note, note);
            subtaskElement.appendChild(pointElement);
            pointStates += QLatin1Char(state);
            send(pointRow(note, state, ++pointNumber));
        }
        if (stopped())
            return false;

        const int score = subtaskScore(minimum, subtask.score);
        total += score;
        subtaskElement.setAttribute(ResultXml::Score, score);
        send(subtaskRow(score, subtask.score));
    }

    const char problemState = problemStateFromPoints(pointStates);
    const int score = saturatedScore(total);
    taskElement.setAttribute(ResultXml::Score, score);
    taskElement.setAttribute(ResultXml::Time, 0);
    taskElement.setAttribute(ResultXml::State, QString(QLatin1Char(problemState)));

    if (stopped())
        return false;
    finishCell(ScoreInfo{score, 0.0, problemState});
    return true;
}
