// An interactive problem's point: the contestant's program and the
// organiser's interactor run together, then the interactor's exit code and,
// when the problem names one, the checker judge.

#include "dirs.h"
#include "problemfile.h"
#include "runner.h"
#include "stopsignal.h"
#include "testcore.h"
#include "testlibchecker.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <csignal>

#include <sys/wait.h>

using namespace Qt::StringLiterals;

namespace {

const QString InteractorName = u"interactor"_s;
const QString What = u"交互器"_s;

} // namespace

bool JudgeWorker::prepareInteractor()
{
    m_interactor.clear();
    m_interactorFault.clear();
    m_interactorCopied = false;
    const TaskSpec task = problemTask(problemConfig->document);
    if (!task.interactive())
        return true;
    return buildOrganiserProgram(task.interactor, isInteractorSource(task.interactor), What, m_interactor,
                                 m_interactorFault);
}

bool JudgeWorker::runInteractivePoint(const QString &exeName, const TaskSpec &task, const PointSpec &point,
                                      PointOutcome &p)
{
    const QString problemDir = contest.problemDir(currentProblem) + u'/';
    // The interactor's own folder: the program never sees it, so neither
    // the input nor the answer. The interactor is copied in once a cell,
    // its files every point.
    const QString dir = scratchDir + u"/interactor_work"_s;
    m_interactorCopied = resetOrganiserFolder(dir, InteractorName, m_interactor, m_interactorCopied);
    // A missing input or answer reaches the interactor as a missing file.
    copyWritable(problemDir + point.in, dir + u"/input.txt"_s);
    copyWritable(problemDir + point.out, dir + u"/answer.txt"_s);
    // Made for it, empty: what it writes for the checker.
    QFile forChecker(dir + u"/output.txt"_s);
    if (!m_interactorCopied || !forChecker.open(QIODevice::WriteOnly)) {
        p.state = PointState::JudgeError;
        p.note = u"交互器文件拷贝失败"_s;
        return true;
    }
    forChecker.close();

    PairRequest request;
    request.program.workDir = workDir;
    request.program.executable = exeName;
    request.program.limits.time = point.time;
    request.program.limits.memory = point.mem;
    request.program.limits.cpu = cpu;
    // Everything it says goes through the pipes: nothing to bring back.
    request.program.results = QStringList();
    request.peerDir = dir;
    request.peer = InteractorName;
    request.peerArguments = {u"input.txt"_s, u"output.txt"_s, u"answer.txt"_s, u"result.txt"_s};
    const PairRecord record = runPair(*this, request);
    const RunRecord &run = record.program;
    if (run.status == RunStatus::Stopped)
        return false;
    p.ran = run.started;
    if (!record.peerStarted) {
        p.state = PointState::CheckerError;
        p.note = u"交互器无法启动: "_s + QString::number(record.peerError);
        return true;
    }
    const bool passed = run.unpack(p.timeUsed, p.memoryUsed, p.state, p.note);
    // Stopped with the judge, neither gives a verdict.
    const int peer = record.peerWaitStatus;
    if (((run.status == RunStatus::RuntimeError && isTreeStopSignal(run.signal))
         || (!record.peerTimedOut && WIFSIGNALED(peer) && isTreeStopSignal(WTERMSIG(peer))))
        && stopFollows())
        return false;

    // The program's own failure is its verdict, but for a write to an
    // interactor that had already ended and said what it thought.
    const bool peerExited = !record.peerTimedOut && WIFEXITED(peer);
    const bool wroteToEnded = run.status == RunStatus::RuntimeError && run.signal == SIGPIPE && peerExited;
    if (!passed && !wroteToEnded)
        return true;
    if (wroteToEnded)
        p.note.clear();
    const QString usage = p.note;
    // SIGKILL not sent by the judge: its CPU limit.
    if (record.peerTimedOut || (WIFSIGNALED(peer) && (WTERMSIG(peer) == SIGXCPU || WTERMSIG(peer) == SIGKILL))) {
        p.state = PointState::CheckerError;
        p.note = u"交互器超时"_s;
        return true;
    }
    if (!peerExited) {
        p.state = PointState::CheckerError;
        p.note = u"交互器崩溃"_s;
        return true;
    }
    const int code = WEXITSTATUS(peer);
    parseTestlibVerdict(code, testlibResultMessage(dir + u"/result.txt"_s), p.note, p.state, p.ratio, What);
    if (code != 0 || task.checker.isEmpty())
        return true;

    // The interactor accepts: the checker judges what it wrote, never
    // through a link it left.
    const QString output = dir + u"/output.txt"_s;
    const QFileInfo written(output);
    if (written.isSymLink() || !written.isFile()) {
        p.state = PointState::CheckerError;
        p.note = u"找不到交互器输出"_s;
        p.ratio = 0.0;
        return true;
    }
    p.note = usage;
    p.ratio = 0.0;
    // A stop is caught by the caller.
    runChecker(workDir, problemDir + point.in, problemDir + point.out, output, workDir + u"/check_info.txt"_s,
               p.note, p.state, p.ratio);
    return true;
}
