#include "runner.h"

#include "procfs_linux.h"
#include "runcleanup_linux.h"
#include "runoutcome_linux.h"
#include "runprocess_linux.h"
#include "runstart_linux.h"
#include "runwatch_linux.h"
#include "sandbox_linux.h"

#include <QFile>
#include <QMutexLocker>

#include <atomic>
#include <cerrno>
#include <optional>

#include <sys/resource.h>
#include <unistd.h>

// The life of one run: plan, start, watch, classify, clean up.

using namespace runner;

namespace {
std::atomic<bool> programSandbox{true};
}

RunSlot::RunSlot() = default;
RunSlot::~RunSlot() = default;

RunRecord runProgram(RunSlot &slot, const RunRequest &request)
{
    RunRecord record;
    // Opened before the hand-over below, which gives a new output file in
    // the work folder to the program's user with the rest.
    const StandardStreams streams(request);
    // As root, a user of its own for this run; without root, the judge's user
    // in a user namespace of the run's own.
    // Where no user is left in the reserved range, the program runs as before.
    bool sandboxed = programSandbox && sandbox::available();
    sandbox::Identity *identity = nullptr;
    if (sandboxed) {
        if (!slot.identity)
            slot.identity = std::make_unique<sandbox::Identity>();
        if (::geteuid() == 0)
            sandboxed = slot.identity->valid();
        if (slot.identity->valid() || slot.identity->inJudgeUsers())
            identity = slot.identity.get();
        else
            slot.identity.reset();  // the range was used up: try again next run
    }
    ChildPlan plan = makePlan(request, streams.fds, sandboxed, identity);
    // By the judge's own path: in a sandbox, plan.exePath is the program's.
    const ExecutableHold executable(QFile::encodeName(request.workDir + u'/' + request.executable));
    // Static data is committed before the first instruction, and exec maps it
    // after the judge has been told that exec succeeded.
    const long long staticKb = executable.fd < 0 ? 0 : static_cast<long long>(elfWritableBytes(executable.fd) / 1024);
    std::optional<SubreaperScope> adoptOrphans;
    if (!plan.sandboxed)
        adoptOrphans.emplace();  // a sandbox's init adopts them instead
    Run run;
    run.maxCreated = request.limits.processes;
    char state = 0;
    for (int attempt = 1;; ++attempt) {
        QMutexLocker lock(&slot.judgeMutex);
        if (!slot.keepRunning) {
            record.status = RunStatus::Stopped;  // a stop has already been served: start nothing
            return record;
        }
        slot.runningExePath = request.workDir + u'/' + request.executable;
        const Started started = streams.error ? Started{false, false, streams.error} : startProgram(slot, plan, run);
        if (started.ok)
            break;
        run.release();
        if (!started.execFailed && plan.root.judgeUsers >= 0) {
            // The namespaces kept in the judge's user namespace were refused:
            // every run is started as before from now on.
            sandbox::refuseJudgeUserNamespace();
            slot.identity.reset();
            plan = makePlan(request, streams.fds, sandboxed, nullptr);
            continue;
        }
        // A process another slot is starting may hold the executable open
        // for writing until its own exec: the judge's doing, not the program's.
        if (started.execFailed && started.error == ETXTBSY && attempt < 100) {
            lock.unlock();
            sleepNs(2'000'000);
            continue;
        }
        removeExecutable(slot);
        if (started.execFailed)
            execFailure(started.error, state, record.note);
        else
            startFailure(started.error, state, record.note);
        record.status = RunStatus(state);
        return record;
    }
    record.started = true;
    run.peakKb = staticKb;
    run.startNs = monotonicNs();
    const long long clockLimitNs = wallClockLimitNs(request.limits.time);
    const long long idleNotBeforeNs = idleFloorNs(request.limits.time);
    // Unsandboxed, what the program left orphaned has come to the judge.
    auto searchAdopted = [&] { return !plan.sandboxed && (run.spawned || !run.filtered); };

    bool ended = false;
    long long dueNs = monotonicNs();
    for (;;) {
        if (!ended)
            ended = waitForSample(run, dueNs, record.memory);
        const long long now = monotonicNs();
        dueNs += samplePeriodNs;
        if (dueNs <= now)
            dueNs = now + samplePeriodNs;  // late: no burst of samples

        QMutexLocker lock(&slot.judgeMutex);
        if (!slot.keepRunning || slot.childProcess.pid != run.reapPid) {
            record.status = RunStatus::Stopped;  // the stop request has ended the program and owns the clean-up
            return record;
        }
        const long long cpuNs = sample(run, record.time, record.memory);
        if (!ended && run.waitFd < 0)
            ended = hasEnded(run.reapPid);

        RunSample figures{record.time, record.memory, false, 0};
        figures.idle = idle(run, cpuNs, now - run.startNs, idleNotBeforeNs)
                       && !(request.peerRunning && request.peerRunning());
        figures.pastClock = now - run.startNs > clockLimitNs;
        if (ended) {
            rusage usage{};
            endProgramTree(run.reapPid, searchAdopted(), &figures.waitStatus, &usage);
            releaseRecord(slot);
            if (plan.sandboxed)
                figures.waitStatus = plan.programStatus;
            record.time = static_cast<double>(usage.ru_utime.tv_sec) + usage.ru_utime.tv_usec / 1e6;
            figures.time = record.time;
            figures.ended = true;
            recordExit(record, figures.waitStatus);
        }
        const RunOutcome outcome = judgeSample(figures, request.limits.time, request.limits.memory, state, record.note);
        if (outcome == RunOutcome::Running)
            continue;
        if (!ended) {
            int waitStatus = 0;
            endProgramTree(run.reapPid, searchAdopted(), &waitStatus, nullptr);
            releaseRecord(slot);
            recordExit(record, plan.sandboxed ? plan.programStatus : waitStatus);
        }
        removeExecutable(slot);
        record.status = outcome == RunOutcome::Passed ? RunStatus::Passed : RunStatus(state);
        return record;
    }
}

bool runProgram(RunSlot &slot, const QString &workDir, const QString &exeName,
                double &timeUsed, double &memoryUsed, char &state, QString &note,
                double timeLimit, double memoryLimit)
{
    RunRequest request;
    request.workDir = workDir;
    request.executable = exeName;
    request.limits.time = timeLimit;
    request.limits.memory = memoryLimit;
    return runProgram(slot, request).unpack(timeUsed, memoryUsed, state, note);
}

QString sandboxWarning()
{
    const QString reason = sandbox::unavailableReason();
    if (reason.isEmpty())
        return {};
    return QStringLiteral("沙箱不可用: ") + reason
        + QStringLiteral("。选手程序能读取比赛的其他文件和网络；其子进程的内存不计入，用时在进程结束后才计入");
}

void setProgramSandboxForTesting(bool enabled)
{
    programSandbox = enabled;
}
