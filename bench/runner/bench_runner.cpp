// Runner overhead and measurement accuracy.
//   bench_runner [RUNS]   (default 500 runs of a trivial program)
// Prints the median and 95th percentile of runProgram's wall time for a
// program that does nothing, in its sandbox and without, beside a bare
// posix_spawn and waitpid, the three interleaved; then how close the reported CPU time and memory
// come to what calibrated programs use, and how soon an endless loop dies
// after its time limit.

#include "runner.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include <spawn.h>
#include <sys/wait.h>

extern char **environ;

using namespace Qt::StringLiterals;

namespace {

const QString programsDir = QString::fromUtf8(QXJ_PROGRAMS_DIR);

struct Run
{
    bool ok = false;
    double time = 0.0;
    double memory = 0.0;
    char state = '?';
    QString note;
    double wallMs = 0.0;
};

Run runOnce(const QString &workDir, const QString &program, double timeLimit, double memoryLimit)
{
    Run run;
    const QString exe = workDir + u"/prog"_s;
    QFile::remove(exe);
    if (!QFile::copy(programsDir + u'/' + program, exe)) {
        std::fprintf(stderr, "cannot copy %s\n", qPrintable(program));
        std::exit(1);
    }
    RunSlot judge;
    QElapsedTimer clock;
    clock.start();
    run.ok = runProgram(judge, workDir, u"prog"_s, run.time, run.memory, run.state, run.note,
                        timeLimit, memoryLimit);
    run.wallMs = static_cast<double>(clock.nsecsElapsed()) / 1e6;
    return run;
}

double percentile(std::vector<double> values, double p)
{
    std::sort(values.begin(), values.end());
    const size_t index = std::min(values.size() - 1, static_cast<size_t>(std::ceil(p * values.size())) - 1);
    return values[index];
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 500;
    QTemporaryDir dir(QDir::tempPath() + u"/qxj bench XXXXXX"_s);

    std::printf("%s\n", sandboxWarning().isEmpty() ? "sandbox available" : qPrintable(sandboxWarning()));
    std::vector<double> sandboxed, bare, spawned;
    int failures = 0;
    const QByteArray trivial = QFile::encodeName(programsDir + u"/trivial"_s);
    for (int i = 0; i < runs; ++i) {
        setProgramSandboxForTesting(true);
        Run run = runOnce(dir.path(), u"trivial"_s, 1.0, 64.0);
        failures += run.ok ? 0 : 1;
        sandboxed.push_back(run.wallMs);
        setProgramSandboxForTesting(false);
        run = runOnce(dir.path(), u"trivial"_s, 1.0, 64.0);
        failures += run.ok ? 0 : 1;
        bare.push_back(run.wallMs);
        setProgramSandboxForTesting(true);

        QElapsedTimer clock;
        clock.start();
        char *args[] = {const_cast<char *>(trivial.constData()), nullptr};
        pid_t pid = 0;
        int status = 0;
        if (::posix_spawn(&pid, trivial.constData(), nullptr, nullptr, args, environ) == 0)
            ::waitpid(pid, &status, 0);
        spawned.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e6);
    }
    auto report = [&](const char *label, const std::vector<double> &wall) {
        std::printf("trivial program, %d runs, %s: median %.3f ms, p95 %.3f ms, min %.3f ms, max %.3f ms\n", runs,
                    label, percentile(wall, 0.5), percentile(wall, 0.95), *std::min_element(wall.begin(), wall.end()),
                    *std::max_element(wall.begin(), wall.end()));
    };
    report("sandboxed", sandboxed);
    report("without sandbox", bare);
    report("posix_spawn + waitpid", spawned);
    std::printf("  sandboxed / bare spawn: %.2f, sandboxed / unsandboxed: %.2f%s\n",
                percentile(sandboxed, 0.5) / percentile(spawned, 0.5), percentile(sandboxed, 0.5) / percentile(bare, 0.5),
                failures ? " (SOME RUNS FAILED)" : "");

    // Ten runs of a calibrated program: each figure, and the worst distance from target.
    auto accuracy = [&](const QString &program, double timeLimit, double memoryLimit,
                        double Run::*figure, double target, const char *label) {
        double worst = 0.0;
        std::printf("%s, reported:", label);
        for (int i = 0; i < 10; ++i) {
            const Run run = runOnce(dir.path(), program, timeLimit, memoryLimit);
            std::printf(" %.3f", run.*figure);
            worst = std::max(worst, std::abs(run.*figure - target));
        }
        return worst;
    };
    const double worstCpu = accuracy(u"cpu500"_s, 3.0, 64.0, &Run::time, 0.5, "0.5 s of user CPU (s)");
    std::printf("\n  worst error %.1f ms (goal within 20 ms)\n", worstCpu * 1000.0);
    const double worstMemory = accuracy(u"hog100"_s, 5.0, 256.0, &Run::memory, 100.0, "100 MB touched (MB)");
    std::printf("\n  worst error %.2f %% (goal within 5 %%)\n", worstMemory);

    std::printf("endless loop, limit 1 s:");
    for (int i = 0; i < 5; ++i) {
        const Run run = runOnce(dir.path(), u"loop"_s, 1.0, 64.0);
        std::printf(" [%c, reported %.2f s, returned after %.0f ms]", run.state, run.time, run.wallMs);
    }
    std::printf("\n");
    return 0;
}
