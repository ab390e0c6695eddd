// One traditional problem of POINTS test points (default 100) of a trivial
// A+B program in C++, judged end to end: one compile, then per point a fresh
// work directory, the run and a full-text check. Then ROUNDS times (default
// 5) the same judging again, each time beside bench_point_floor, a C program
// doing the least a judge can (empty the folder, copy program and input,
// spawn the program, spawn the checker, read the verdict), interleaved.
// Then the same point phases timed one by one, to show where a point's time
// goes.
//
// Usage: bench_traditional [POINTS [ROUNDS]]   (finds checker/全文比较 in the build directory)

#include "contest.h"
#include "dirs.h"
#include "gridcells.h"
#include "runner.h"
#include "testcore.h"
#include "viewinfo.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <memory>
#include <cstdio>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

const QByteArray SumCpp = R"(#include <fstream>
int main() {
    std::ifstream in("sum.in");
    std::ofstream out("sum.out");
    long long a, b;
    in >> a >> b;
    out << a + b << "\n";
}
)";

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(path.section(u'/', 0, -2));
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

void report(const char *what, const std::vector<double> &ms)
{
    if (ms.empty())
        return;
    std::printf("  %-22s median %7.3f ms   min %7.3f   max %7.3f\n", what, median(ms),
                *std::min_element(ms.begin(), ms.end()), *std::max_element(ms.begin(), ms.end()));
}

QByteArray configXml(int points)
{
    QByteArray xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                     "<problem type=\"TRA_0_4\">\n"
                     " <source dir=\"sum\" file=\"sum\" code=\"100\">\n"
                     "  <language file=\"sum.cpp\" cmd=\"g++ -O2 -o sum sum.cpp -lm\"/>\n"
                     " </source>\n"
                     " <task input=\"sum.in\" output=\"sum.out\" checker=\"全文比较\">\n";
    for (int k = 1; k <= points; ++k)
        xml += " <subtask score=\"1\"><point in=\"" + QByteArray::number(k) + ".in\" out=\""
               + QByteArray::number(k) + ".ans\" time=\"1\" mem=\"128\"/></subtask>\n";
    return xml + " </task>\n</problem>\n";
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const int points = argc > 1 ? std::max(1, atoi(argv[1])) : 100;
    const int rounds = argc > 2 ? std::max(1, atoi(argv[2])) : 5;
    registerJudgeMetaTypes();
    if (!QDir::setCurrent(QStringLiteral(QXJ_BUILD_DIR))
        || !QFile::exists(u"checker/全文比较"_s)) {
        std::fprintf(stderr, "checker/全文比较 is missing in %s\n", QXJ_BUILD_DIR);
        return 1;
    }

    QTemporaryDir dir;
    Contest contest;
    contest.rootDir = dir.path();
    bool written = writeFile(contest.problemConfigPath(u"sum"_s), configXml(points))
                   && writeFile(contest.playerFile(u"p"_s, u"sum"_s, u"sum.cpp"_s), SumCpp);
    for (int k = 1; k <= points; ++k) {
        const QString base = contest.problemDir(u"sum"_s) + u'/' + QString::number(k);
        written = written && writeFile(base + u".in"_s, QByteArray::number(k) + " 1\n")
                  && writeFile(base + u".ans"_s, QByteArray::number(k + 1) + "\n");
    }
    if (!written) {
        std::fprintf(stderr, "cannot write the contest\n");
        return 1;
    }
    contest.loadProblems();

    // End to end, as the window runs it. Returns the median time between two
    // points' rows (ms), or a negative value when judging failed.
    bool firstRound = true;
    std::unique_ptr<TestCore> lastCore;
    auto judgeOnce = [&]() -> double {
        SiteItem cell;
        cell.player = u"p"_s;
        cell.problem = u"sum"_s;
        cell.displayName = u"p"_s;
        auto owned = std::make_unique<TestCore>(contest);
        TestCore &core = *owned;
        core.workQueue << &cell;
        core.problemConfigs = &contest.problemConfigs;
        core.problemNames = contest.problemNames;

        QElapsedTimer clock;
        std::vector<qint64> pointNs;
        ScoreInfo summary;
        QObject receiver;
        QObject::connect(&core, &TestCore::sendInfo, &receiver, [&](ViewInfo row) {
            if (row.kind == ViewInfo::Point)
                pointNs.push_back(clock.nsecsElapsed());
        });
        QObject::connect(&core, &TestCore::setItem, &receiver,
                         [&](SiteItem *, ScoreInfo info) { summary = info; });
        QObject::connect(&core, &TestCore::testEnd, &app, &QCoreApplication::quit);
        clock.start();
        core.startJudging();
        app.exec();
        core.wait();
        const double totalMs = clock.nsecsElapsed() / 1e6;

        if (int(pointNs.size()) != points || summary.score != points) {
            std::fprintf(stderr, "judging failed: %d rows, score %d, state %c\n",
                         int(pointNs.size()), summary.score, summary.state);
            return -1;
        }
        std::vector<double> perPoint;
        for (size_t i = 1; i < pointNs.size(); ++i)
            perPoint.push_back((pointNs[i] - pointNs[i - 1]) / 1e6);
        if (firstRound) {
            firstRound = false;
            const double compileMs = pointNs.front() / 1e6 - median(perPoint);
            std::printf("end to end: %d points, score %d, state %c\n", points, summary.score,
                        summary.state);
            std::printf("  total                  %8.1f ms\n", totalMs);
            std::printf("  compile (estimated)    %8.1f ms\n", compileMs);
            std::printf("  points after compile   %8.1f ms\n", totalMs - compileMs);
            report("per point", perPoint);
        }
        lastCore = std::move(owned);  // its slot's checker is timed below
        return median(perPoint);
    };
    if (judgeOnce() < 0)
        return 1;

    // The floor works on a copy of the program the judge compiled.
    const QString floorExe = dir.path() + u"/floor-sum"_s;
    QFile::copy(contest.tmpDir() + u"/sum"_s, floorExe);
    auto floorOnce = [&]() -> double {
        QProcess floor;
        floor.start(QStringLiteral(QXJ_POINT_FLOOR),
                    {contest.problemDir(u"sum"_s), floorExe, QDir::current().absoluteFilePath(u"checker/全文比较"_s),
                     dir.path() + u"/floor-work"_s, QString::number(points)});
        if (!floor.waitForFinished(600000) || floor.exitCode() != 0)
            return -1;
        const QList<QByteArray> words = floor.readAllStandardOutput().trimmed().split(' ');
        if (words.size() != 2 || words[1].toInt() != points) {
            std::fprintf(stderr, "the floor did not accept every point\n");
            return -1;
        }
        return words[0].toDouble();
    };
    std::vector<double> judgeMs, floorMs;
    std::printf("a point, judge beside the C floor (ms, medians of %d points):\n", points);
    for (int round = 0; round < rounds; ++round) {
        const double judged = judgeOnce();
        const double floored = floorOnce();
        if (judged < 0 || floored < 0)
            return 1;
        judgeMs.push_back(judged);
        floorMs.push_back(floored);
        std::printf("  round %d: judge %.3f  floor %.3f  ratio %.2f\n", round + 1, judged, floored,
                    judged / floored);
    }
    std::vector<double> ratios;
    for (size_t i = 0; i < judgeMs.size(); ++i)
        ratios.push_back(judgeMs[i] / floorMs[i]);
    std::printf("  medians over rounds: judge %.3f ms, floor %.3f ms; judge / floor %.2f (median of the rounds' ratios)\n",
                median(judgeMs), median(floorMs), median(ratios));

    // The phases of one point, timed alone with the same helpers.
    const QString work = contest.threadWorkDir(0);
    const QString exe = contest.tmpDir() + u"/sum"_s;
    std::vector<double> clearMs, copyMs, runMs, checkMs;
    JudgeState state;
    int accepted = 0;
    for (int k = 1; k <= points; ++k) {
        const QString base = contest.problemDir(u"sum"_s) + u'/' + QString::number(k);
        QElapsedTimer t;
        t.start();
        ensureDir(work);
        emptyScratchDir(work);
        clearMs.push_back(t.nsecsElapsed() / 1e6);
        t.restart();
        copyWritable(exe, work + u"/sum"_s);
        copyWritable(base + u".in"_s, work + u"/sum.in"_s);
        copyMs.push_back(t.nsecsElapsed() / 1e6);
        t.restart();
        double timeUsed = 0, memoryUsed = 0;
        char pointState = 'A';
        QString note;
        runProgram(state, work, u"sum"_s, timeUsed, memoryUsed, pointState, note, 1, 128);
        runMs.push_back(t.nsecsElapsed() / 1e6);
        t.restart();
        // The judge's own checker call, on the object that judged above.
        double ratio = 0;
        lastCore->worker(0).runChecker(work, base + u".in"_s, base + u".ans"_s, work + u"/sum.out"_s,
                        work + u"/check_info.txt"_s, note, pointState, ratio);
        accepted += pointState == 'A';
        checkMs.push_back(t.nsecsElapsed() / 1e6);
    }
    std::printf("phases alone (%d points, %d accepted):\n", points, accepted);
    report("clear work directory", clearMs);
    report("copy program + input", copyMs);
    report("run program", runMs);
    report("checker", checkMs);
    std::printf("  sum of medians         %8.3f ms\n",
                median(clearMs) + median(copyMs) + median(runMs) + median(checkMs));
    return 0;
}
