// What starting an organiser's program (a checker, an interactor) costs.
//   bench_organiser [STARTS]   (default 300)
// A trivial program started STARTS times through SpawnedProcess and waited
// for, three ways interleaved: in the compilers' sandbox in the same folder
// every time (as a slot's checker runs point after point), in the sandbox in
// a new folder every time (its root built anew), and without a sandbox.

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

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// CPU milliseconds, the judge's and its children's, user and system.
double cpuMs()
{
    double total = 0;
    for (int who : {RUSAGE_SELF, RUSAGE_CHILDREN}) {
        rusage usage;
        ::getrusage(who, &usage);
        total += usage.ru_utime.tv_sec * 1e3 + usage.ru_utime.tv_usec / 1e3 + usage.ru_stime.tv_sec * 1e3
                 + usage.ru_stime.tv_usec / 1e3;
    }
    return total;
}

// Milliseconds from start to reaped, or -1 when it did not exit with 0;
// *cpu: the CPU milliseconds it took, all processes counted.
double startOnce(const QString &dir, bool sandboxed, double *cpu)
{
    const double cpuBefore = cpuMs();
    SpawnSetup setup;
    setup.sandboxed = sandboxed;
    QElapsedTimer clock;
    clock.start();
    SpawnedProcess process;
    if (!process.start(u"trivial"_s, {}, dir, setup))
        return -1.0;
    if (!process.waitForFinished(-1) || !process.exitedCleanly())
        return -1.0;
    *cpu = cpuMs() - cpuBefore;
    return static_cast<double>(clock.nsecsElapsed()) / 1e6;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int starts = argc > 1 ? std::max(1, std::atoi(argv[1])) : 300;
    QTemporaryDir dir(QDir::tempPath() + u"/qxj bench XXXXXX"_s);
    const QString program = QString::fromUtf8(QXJ_PROGRAMS_DIR) + u"/trivial"_s;
    const QString same = dir.filePath(u"same"_s);
    QDir().mkpath(same);
    QFile::copy(program, same + u"/trivial"_s);

    double load[3] = {};
    ::getloadavg(load, 3);
    std::printf("bench_organiser: %d starts each, euid %d, load average %.2f %.2f %.2f\n", starts,
                int(::geteuid()), load[0], load[1], load[2]);
    std::vector<double> kept, fresh, bare;
    double cpu[3] = {};
    int failures = 0;
    for (int i = 0; i < starts; ++i) {
        const QString own = dir.filePath(u"fresh"_s + QString::number(i));
        QDir().mkpath(own);
        QFile::copy(program, own + u"/trivial"_s);
        const std::tuple<QString, bool, std::vector<double> *> ways[3] = {{same, true, &kept}, {own, true, &fresh},
                                                                         {same, false, &bare}};
        // Each way in turn goes first: what one start leaves behind (a
        // namespace being torn down) must not be counted to the next one.
        for (int k = 0; k < 3; ++k) {
            const int way = (i + k) % 3;
            const auto &[folder, sandboxed, figures] = ways[way];
            double used = 0;
            const double ms = startOnce(folder, sandboxed, &used);
            cpu[way] += used;
            if (ms < 0)
                ++failures;
            else
                figures->push_back(ms);
        }
        QDir(own).removeRecursively();
    }
    if (kept.empty() || fresh.empty() || bare.empty()) {
        std::printf("no start succeeded\n");
        return 1;
    }
    std::printf("sandboxed, same folder:  median %.3f ms, CPU %.3f ms a start\n", median(kept), cpu[0] / starts);
    std::printf("sandboxed, new folder:   median %.3f ms, CPU %.3f ms a start\n", median(fresh), cpu[1] / starts);
    std::printf("without sandbox:         median %.3f ms, CPU %.3f ms a start\n", median(bare), cpu[2] / starts);
    std::printf("  same folder / without: %.2f, new folder / without: %.2f%s\n", median(kept) / median(bare),
                median(fresh) / median(bare), failures ? " (SOME STARTS FAILED)" : "");
    return failures ? 1 : 0;
}
