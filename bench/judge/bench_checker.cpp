// Cost of one runChecker call with a trivial checker (it writes "1" and
// exits), against the bare cost of starting and reaping the same program
// with posix_spawn: the difference is what the checker contract adds.
//
// Usage: bench_checker [CALLS]   (default 400)

#include "checker.h"
#include "contest.h"
#include "dirs.h"
#include "testcore.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

using namespace Qt::StringLiterals;

namespace {

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

void report(const char *what, const std::vector<double> &ms)
{
    std::printf("  %-28s median %7.3f ms   min %7.3f   max %7.3f\n", what, median(ms),
                *std::min_element(ms.begin(), ms.end()), *std::max_element(ms.begin(), ms.end()));
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int calls = argc > 1 ? std::max(1, std::atoi(argv[1])) : 400;

    QTemporaryDir dir;
    Contest contest;
    contest.rootDir = dir.path();
    const QString problem = u"sum"_s;
    makePath(contest.problemDir(problem));
    const QString checkerPath = contest.problemDir(problem) + u"/chk"_s;
    if (!QFile::copy(QString::fromUtf8(TRIVIAL_CHECKER), checkerPath)) {
        std::fprintf(stderr, "cannot copy the trivial checker\n");
        return 1;
    }
    QMap<QString, XmlFile> configs;
    XmlFile config(contest.problemConfigPath(problem));
    config.document.setContent(u"<problem type=\"TRA_0_4\"><task checker=\"chk\"/></problem>"_s);
    configs.insert(problem, config);

    const QString work = contest.threadWorkDir(0);
    makePath(work);
    const QString in = contest.problemDir(problem) + u"/1.in"_s;
    const QString ans = contest.problemDir(problem) + u"/1.ans"_s;
    const QString out = work + u"/sum.out"_s;
    const QString verdict = work + u"/check_info.txt"_s;

    TestCore core(contest);
    core.problemConfigs = &configs;
    core.worker(0).problemConfig = &configs[problem];
    core.worker(0).currentProblem = problem;

    const QByteArray program = checkerPath.toLocal8Bit();
    const QByteArray args[4] = {in.toLocal8Bit(), ans.toLocal8Bit(), out.toLocal8Bit(),
                                verdict.toLocal8Bit()};
    char *spawnArgv[] = {const_cast<char *>(program.data()), const_cast<char *>(args[0].data()),
                         const_cast<char *>(args[1].data()), const_cast<char *>(args[2].data()),
                         const_cast<char *>(args[3].data()), nullptr};

    // Interleaved, so that the load of the machine weighs on both alike.
    std::vector<double> checkerMs;
    std::vector<double> spawnMs;
    std::vector<double> parseMs;
    QElapsedTimer timer;
    for (int i = 0; i < calls + 10; ++i) {
        QFile::remove(verdict);
        QString note;
        char state = 0;
        double ratio = 0;
        timer.start();
        core.worker(0).runChecker(work, in, ans, out, verdict, note, state, ratio);
        const double checkerCall = timer.nsecsElapsed() / 1e6;
        if (state != 'A') {
            std::fprintf(stderr, "unexpected verdict %c %s\n", state, qPrintable(note));
            return 1;
        }

        timer.start();
        pid_t pid = 0;
        if (posix_spawn(&pid, program.data(), nullptr, nullptr, spawnArgv, environ) != 0)
            return 1;
        int status = 0;
        waitpid(pid, &status, 0);
        const double spawnCall = timer.nsecsElapsed() / 1e6;

        if (i >= 10) {  // the first calls warm caches and create the process object
            checkerMs.push_back(checkerCall);
            spawnMs.push_back(spawnCall);
        }
    }

    for (int i = 0; i < calls; ++i) {
        QString note = u"0.01s 1.2MB"_s;
        char state = 0;
        double ratio = 0;
        timer.start();
        parseVerdict("0.5\n", "partly right\n", note, state, ratio);
        parseMs.push_back(timer.nsecsElapsed() / 1e6);
    }

    std::printf("checker contract, %d calls each\n", calls);
    report("runChecker (trivial checker)", checkerMs);
    report("posix_spawn + waitpid", spawnMs);
    report("parseVerdict alone", parseMs);
    std::printf("  overhead of runChecker over a bare spawn: %.3f ms (median difference)\n",
                median(checkerMs) - median(spawnMs));
    return 0;
}
