#include "runner.h"

#include "runprocess_linux.h"
#include "runwatch_linux.h"

#include <QMutexLocker>

#include <fcntl.h>
#include <unistd.h>

// A program and its interactor, joined by two pipes.

using runner::closeFd;

namespace {

struct Pipe
{
    int read = -1;
    int write = -1;
    Pipe()
    {
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC) == 0) {
            read = ends[0];
            write = ends[1];
        }
    }
    ~Pipe()
    {
        closeFd(read);
        closeFd(write);
    }
    Pipe(const Pipe &) = delete;
    Pipe &operator=(const Pipe &) = delete;
    bool valid() const { return read >= 0 && write >= 0; }
};

bool keepRunning(RunSlot &slot)
{
    QMutexLocker lock(&slot.judgeMutex);
    return slot.keepRunning;
}

} // namespace

PairRecord runPair(RunSlot &slot, const PairRequest &request)
{
    PairRecord record;
    Pipe toPeer;     // the program writes, the interactor reads
    Pipe toProgram;  // the interactor writes, the program reads
    if (!toPeer.valid() || !toProgram.valid()) {
        record.peerError = errno;
        return record;
    }
    SpawnedProcess peer;
    {
        QMutexLocker lock(&slot.judgeMutex);
        if (!slot.keepRunning) {
            record.program.status = RunStatus::Stopped;
            return record;
        }
        SpawnSetup setup;
        setup.cpu = request.program.limits.cpu;  // the two take turns: one core for both
        setup.sandboxed = true;
        setup.addressSpace = PeerAddressSpace;
        setup.cpuSeconds = PeerCpuSeconds;
        setup.streams = {toPeer.read, toProgram.write, -1};
        // Its writes to a program that has ended fail; it judges what it has.
        setup.ignorePipeSignal = true;
        record.peerStarted = peer.start(request.peer, request.peerArguments, request.peerDir, setup);
        record.peerError = peer.error();
    }
    // Only the two programs hold the ends now: each sees the other's end as
    // soon as the other ends.
    closeFd(toPeer.read);
    closeFd(toProgram.write);
    if (!record.peerStarted)
        return record;

    RunRequest program = request.program;
    program.input = RunStream{QString(), toProgram.read};
    program.output = RunStream{QString(), toPeer.write};
    const pid_t peerPid = peer.pid();
    program.peerRunning = [peerPid] { return !runner::hasEnded(peerPid); };
    record.program = runProgram(slot, program);
    closeFd(toProgram.read);
    closeFd(toPeer.write);

    // The interactor has seen the program's end; it has its grace to say
    // what it thinks, and a stop ends it at once.
    const long long dueNs = runner::monotonicNs() + PeerGraceMs * 1'000'000LL;
    bool ended = false;
    while (record.program.status != RunStatus::Stopped && runner::monotonicNs() < dueNs) {
        if ((ended = peer.waitForFinished(10)))
            break;
        if (!keepRunning(slot))
            record.program.status = RunStatus::Stopped;
    }
    if (!ended) {
        record.peerTimedOut = record.program.status != RunStatus::Stopped;
        killProcessTree(peer.pid());
        peer.waitForFinished(-1);
    }
    record.peerWaitStatus = peer.waitStatus();
    return record;
}
