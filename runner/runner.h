#pragma once

// The process runner: starts a contestant's program, confines it, measures
// it, says how it ended and leaves nothing of it behind. Read this first;
// a run's steps are runstart_linux, runwatch_linux, runoutcome_linux and
// runcleanup_linux, its sandbox sandbox_linux.

#include <QMutex>
#include <QString>
#include <QStringList>

#include <array>
#include <functional>
#include <memory>
#include <optional>

#include <sys/types.h>
#include <sys/wait.h>

class QProcess;

namespace sandbox {
class Identity;
}

// ---- a run ----------------------------------------------------------------

// Where one of the program's standard streams leads.
struct RunStream
{
    // A regular file as the judge names it, opened by the judge: the
    // program needs no way to it (its sandbox hides all but the work folder).
    // Standard input reads it; standard output creates or empties it.
    // Empty: /dev/null.
    QString file;
    // Or a descriptor of the judge's (a pipe's end, say), given to the
    // program as it is; the judge keeps its own. -1: none.
    int fd = -1;
};

// What a run may use. Time and memory are strict: a figure equal to its
// limit passes.
struct RunLimits
{
    double time = 1.0;  // s of user CPU
    // MB (1024 * 1024 bytes): the peak of what the run owns, its private
    // writable memory (of a thread's stack only the part it has touched) and
    // the shared memory it maps or holds in memfd files, not the pages of
    // files it maps to read.
    double memory = 128.0;
    // Processes the program may start (more fail with EAGAIN) and, in a
    // sandbox, processes and threads alive at once.
    int processes = 64;
    // The most a file it writes may hold; more is "运行时错误: 输出文件过大".
    qint64 outputBytes = qint64(256) << 20;
    int cpu = -1;  // the one CPU it runs on; -1: any
};

// What to start: workDir/executable, directly (no shell), with no arguments,
// workDir as its current directory, in a session of its own.
struct RunRequest
{
    QString workDir;
    QString executable;  // a file name in workDir
    RunStream input;
    RunStream output;    // standard error always goes to /dev/null
    RunLimits limits;
    // While this says yes, the program may be waiting for a peer that is
    // still at work (the other end of its pipes): the idle rule holds off
    // and the clock decides. Unset: no peer.
    std::function<bool()> peerRunning;
    // Files of the work folder the judge reads after the run, by name. In a
    // sandbox the program works in a bounded folder of its own laid over the
    // work folder (whose files it reads there, read-only), and only these
    // come back from it (standard output is written in place); nullopt:
    // every regular file it made or changed.
    std::optional<QStringList> results;
};

// How a run ended. A failure's value is the letter a test point records for it.
enum class RunStatus : char {
    Passed = 0,          // exit code 0 within every limit
    TimeLimit = 'T',     // user time over the limit, or far too long by the clock
    MemoryLimit = 'M',   // over the memory limit, or exec failed with ENOMEM, EBADF or ENOENT
    RuntimeError = 'R',  // another exit code, a signal, output too large, idle
    StartFailed = 'E',   // the judge could not start it
    Stopped = 1,         // ended by the stop request; nothing else below holds
};

// What comes back from a run.
struct RunRecord
{
    RunStatus status = RunStatus::StartFailed;
    // Whether the program was started: only then do time and memory hold.
    bool started = false;
    double time = 0.0;    // s of user CPU, of every process of the run
    double memory = 0.0;  // MB, the peak of what the run owned
    int exitCode = -1;    // when it exited
    int signal = 0;       // when a signal ended it (SIGKILL: the judge did)
    // "时间: 0.03s 内存: 1.25MB" for a passed run, else why it failed.
    QString note;

    // The result in the judge's long-standing terms: true only for a passed
    // run (note: time and memory); otherwise state and note say why. False
    // without touching anything when stopped; time and memory are only
    // written by a program that was started.
    bool unpack(double &timeUsed, double &memoryUsed, char &state, QString &note) const;

    // "key:value" lines (status, time, memory, exitcode, exitsig, note), one
    // record a tool reads without parsing prose; time and memory only for a
    // started run, exitcode and exitsig only where they hold.
    QString toText() const;
    // nullopt when the text is not such a record.
    static std::optional<RunRecord> fromText(QStringView text);
};

// ---- a slot: one run at a time, and its stop request ---------------------

// The program the runner has started. pid 0: none runs.
struct ChildProcess
{
    pid_t pid = 0;
    int pidfd = -1;
};

// What a slot's runs share with its stop request. Every member is read and
// written only under judgeMutex. Slots run side by side: in its sandbox a
// run has its own user and process tree, so that no run can touch another's
// processes.
struct RunSlot
{
    RunSlot();
    ~RunSlot();

    bool keepRunning = true;
    QMutex judgeMutex;
    ChildProcess childProcess;
    QString runningExePath;

    // Used only by the thread that runs the slot's programs, not under
    // judgeMutex: the user a sandboxed run gets as root, kept from run to run
    // with the network namespace and root prebuilt for it (without root,
    // these alone), so that two slots never trade theirs.
    std::unique_ptr<sandbox::Identity> identity;
};

// Runs the request's program on this slot and waits for its end. The
// executable is deleted afterwards, and nothing the program started is left
// running. Status Stopped when judging is stopped: if keepRunning is already
// false nothing is started; during the run the stop request
// (stopRunningProgram) ends the program and owns the clean-up.
RunRecord runProgram(RunSlot &slot, const RunRequest &request);

// The same, unpacked (RunRecord::unpack), with no CPU of its own.
bool runProgram(RunSlot &slot, const QString &workDir, const QString &exeName,
                double &timeUsed, double &memoryUsed, char &state, QString &note,
                double timeLimit, double memoryLimit);

// Stop request side, called with judgeMutex held after keepRunning was
// cleared: ends the running program and everything it started, reaps it,
// closes and clears childProcess, and deletes runningExePath. The runner
// sees the cleared record at its next sample and returns Stopped; it never
// uses the released pid or descriptor.
void stopRunningProgram(RunSlot &slot);

// "沙箱不可用: <reason>。…" when contestants' programs run without a sandbox
// on this machine, for the judge to say once, with what that means (what a
// program can reach, what of its children is counted); empty otherwise.
QString sandboxWarning();
// Benchmarks compare runs with and without it.
void setProgramSandboxForTesting(bool enabled);

// ---- checkers: the organiser's programs, started directly ----------------

// How a SpawnedProcess starts its program, beyond the plain start.
struct SpawnSetup
{
    int cpu = -1;  // the one CPU it runs on; -1: any
    // In the compilers' sandbox (startSandboxed): workDir at /box, read-write,
    // the program a file in it, under the compilers' user, the init of a
    // process tree of its own (signals it does not handle reach it only from
    // the judge or the kernel's faults, so it dies of a crash or a kill but
    // not of SIGPIPE or SIGXCPU); without namespaces (or with the compiler
    // sandbox off for tests), as it is.
    bool sandboxed = false;
    qint64 addressSpace = 0;  // RLIMIT_AS in bytes; 0: none
    // RLIMIT_CPU, soft and hard: SIGKILL when used up; 0: none.
    int cpuSeconds = 0;
    // The judge's descriptors that become its standard input, output and
    // error; -1: /dev/null.
    std::array<int, 3> streams{-1, -1, -1};
    // Writes to a pipe whose reader is gone fail with EPIPE instead of
    // killing it.
    bool ignorePipeSignal = false;
};

// A program started with posix_spawn in a session of its own (so that
// killProcessTree ends all it starts), /dev/null as its standard streams,
// the judge's environment, pinned to one CPU or not (-1). Cheaper than a
// QProcess, which a checker run for every test point would pay again and again.
class SpawnedProcess
{
public:
    SpawnedProcess() = default;
    // Kills what still runs and reaps it.
    ~SpawnedProcess();
    SpawnedProcess(const SpawnedProcess &) = delete;
    SpawnedProcess &operator=(const SpawnedProcess &) = delete;

    // False with the reason in error() when it could not be started (exec
    // failures included).
    bool start(const QString &program, const QStringList &arguments, const QString &workDir, int cpu = -1);
    // The same, as setup says; in a sandbox program is a file name in workDir.
    bool start(const QString &program, const QStringList &arguments, const QString &workDir,
               const SpawnSetup &setup);
    pid_t pid() const { return m_pid; }
    int error() const { return m_error; }
    bool running() const { return m_pid > 0; }
    // Waits up to timeoutMs (-1: for ever) for its end and reaps it. True
    // once it has ended; false while it still runs. Another thread may kill
    // it meanwhile (killProcessTree): it is still reaped here. beforeReap runs
    // when it has ended but its pid is still its own, so that whoever records
    // the pid can let go of it before the pid can be given to another.
    bool waitForFinished(int timeoutMs, const std::function<void()> &beforeReap = {});
    // After it has ended: whether it exited with code 0.
    bool exitedCleanly() const { return m_ended && WIFEXITED(m_status) && WEXITSTATUS(m_status) == 0; }
    int waitStatus() const { return m_status; }

private:
    // Ends what an earlier start left running and forgets it.
    void reset();
    void releaseStack();

    pid_t m_pid = 0;
    int m_pidfd = -1;
    void *m_stack = nullptr;  // of the process between the judge and a sandboxed program, until it is reaped
    size_t m_stackBytes = 0;
    int m_status = 0;
    int m_error = 0;
    bool m_ended = false;
};

// ---- two programs talking through pipes ---------------------------------

// A contestant's program and the organiser's interactor run together: the
// program's standard output is the interactor's standard input and the
// interactor's standard output the program's standard input.
struct PairRequest
{
    // The contestant's program, run and measured as any other run; its
    // input and output are the pipes.
    RunRequest program;
    // The interactor: an executable file in peerDir, started with
    // peerArguments in the compilers' sandbox with peerDir at /box (the
    // program never sees it), on the program's CPU.
    QString peerDir;
    QString peer;
    QStringList peerArguments;
};

// The interactor's fixed limits: CPU seconds, address space, and how long it
// may go on by the clock once the program has ended.
inline constexpr int PeerCpuSeconds = 10;
inline constexpr qint64 PeerAddressSpace = qint64(1) << 30;
inline constexpr int PeerGraceMs = 10000;

struct PairRecord
{
    // The program's record; Stopped when judging was stopped at any time
    // during the pair's run.
    RunRecord program;
    bool peerStarted = false;
    int peerError = 0;          // why it could not be started
    bool peerTimedOut = false;  // still running after its grace: killed
    int peerWaitStatus = 0;     // its wait status once it has ended
};

// Runs both on this slot, started and stopped together: the interactor
// first, then the program as runProgram does; then the interactor is waited
// for (PeerGraceMs at most) and whatever of it is left is killed. A program
// blocked reading from a living interactor is waiting, not idle; both
// blocked reading from each other end at the program's clock limit.
PairRecord runPair(RunSlot &slot, const PairRequest &request);

// ---- compilers, started through QProcess ---------------------------------

// Kills a process and everything it started, leaving none alive: the process,
// the members of its session and process group, and their descendants. The
// process itself is left for its owner (QProcess) to reap. processId 0 (or
// any id below 2, the judge or one of its ancestors) does nothing.
void killProcessTree(qint64 processId);

// Makes a QProcess start its program in a session of its own, so that
// killProcessTree can end the whole tree. A positive addressSpace bounds the
// address space (RLIMIT_AS, bytes) of the program and all it starts.
void startInOwnSession(QProcess &process, qint64 addressSpace = 0);

// The same for a compiler, in a sandbox of its own: the system's compilers,
// headers and libraries read-only, workDir (its sources and its output) at
// /box, read-write, as current directory, and a private /tmp. Without
// namespaces, as startInOwnSession.
void startSandboxed(QProcess &process, const QString &workDir, qint64 addressSpace);
// Tests whose stand-in compilers are scripts beside the contest turn it off.
void setCompilerSandboxForTesting(bool enabled);
