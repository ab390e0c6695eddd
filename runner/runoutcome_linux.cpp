#include "runoutcome_linux.h"

#include <algorithm>
#include <cerrno>
#include <limits>
#include <csignal>
#include <cstring>

#include <sys/wait.h>

using namespace Qt::StringLiterals;

namespace {

RunOutcome fail(char &state, QString &note, char newState, const QString &newNote)
{
    state = newState;
    note = newNote;
    return RunOutcome::Failed;
}

} // namespace

RunOutcome judgeSample(const RunSample &sample, double timeLimit, double memoryLimit,
                       char &state, QString &note)
{
    if (sample.memory > memoryLimit)
        return fail(state, note, 'M', u"超过内存限制"_s);
    if (sample.time > timeLimit)
        return fail(state, note, 'T', u"超过时间限制"_s);
    if (!sample.ended) {
        if (sample.idle)
            return fail(state, note, 'R', u"运行时错误: 未知"_s);
        if (sample.pastClock)
            return fail(state, note, 'T', u"超过时间限制"_s);
        return RunOutcome::Running;
    }
    const int status = sample.waitStatus;
    if (WIFSIGNALED(status)) {
        const int signal = WTERMSIG(status);
        if (signal == SIGXCPU)
            return fail(state, note, 'T', u"超过时间限制"_s);
        if (signal == SIGXFSZ)
            return fail(state, note, 'R', u"运行时错误: 输出文件过大"_s);
        return fail(state, note, 'R', u"运行时错误: "_s + signalName(signal));
    }
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (code != 0)
        return fail(state, note, 'R', u"运行时错误: "_s + QString::number(code));
    note = u"时间: "_s + QString::number(sample.time, 'f', 2) + u"s 内存: "_s
        + QString::number(sample.memory, 'f', 2) + u"MB"_s;
    return RunOutcome::Passed;
}

long long wallClockLimitNs(double timeLimit)
{
    const double ns = (3.0 * std::max(timeLimit, 0.0) + 2.0) * 1e9;
    if (!(ns < 9.0e18))
        return std::numeric_limits<long long>::max();
    return static_cast<long long>(ns);
}

void execFailure(int error, char &state, QString &note)
{
    if (error == ENOMEM || error == EBADF || error == ENOENT) {
        state = 'M';
        note = u"超过内存限制"_s;
        return;
    }
    startFailure(error, state, note);
}

void startFailure(int error, char &state, QString &note)
{
    state = 'E';
    note = u"线程创建失败: "_s + QString::number(error);
}

QString signalName(int signal)
{
    if (const char *name = ::sigabbrev_np(signal))
        return u"SIG"_s + QLatin1String(name);
    return u"SIG"_s + QString::number(signal);
}

void recordExit(RunRecord &record, int waitStatus)
{
    if (WIFEXITED(waitStatus))
        record.exitCode = WEXITSTATUS(waitStatus);
    else if (WIFSIGNALED(waitStatus))
        record.signal = WTERMSIG(waitStatus);
}
