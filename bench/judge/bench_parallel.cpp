// Judging several cells at once, against one at a time:
// - verdicts: the sample contest and a generated one (every outcome) judged
//   with 1 and with 2 slots give the same results;
// - steadiness: a program calibrated to 0.5 s of CPU, judged 20 times alone
//   and 20 times while a second slot runs CPU- and memory-bound programs;
// - throughput: 40 players x 2 problems of CPU-bound points of about 0.2 s,
//   with 1 and with 2 slots.
// Meant for a quiet machine: the load average is printed before and after.
//
// Usage: bench_parallel   (finds checker/全文比较 in the build directory)

#include "contest.h"
#include "contestgrid.h"
#include "cpus.h"
#include "mixedcontest.h"
#include "runsteps.h"
#include "testcore.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

constexpr double SteadySeconds = 0.5;
constexpr int SteadyRuns = 20;
// Alone and beside a busy slot by turns, a few runs at a time, so that a
// change in the machine's own load weighs on both alike.
constexpr int SteadyBlock = 5;
constexpr int NoisePoints = 10;      // outlasts a block of steady runs
constexpr int MemorySweeps = 6;      // a noise point of about half a second
constexpr int Players = 40;
constexpr int PointsPerProblem = 3;
constexpr double PointSeconds = 0.2;

QString loadAverage()
{
    QFile file(u"/proc/loadavg"_s);
    if (!file.open(QIODevice::ReadOnly))
        return u"?"_s;
    return QString::fromLatin1(file.readAll()).section(u' ', 0, 2);
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    return writeTestFile(path, bytes);
}

// A traditional problem whose points read the given inputs; the answers are
// "ok". A prepared executable when runexe is set, else compiled from C.
QByteArray problemXml(const QString &name, const QString &runexe, int points, int memoryMb)
{
    QString xml = u"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<problem type=\"TRA_0_4\">\n"_s
                  + u"<source dir=\"%1\" file=\"%2\" code=\"64\" runexe=\"%3\">"_s.arg(
                      name, runexe.isEmpty() ? name : runexe, runexe)
                  + u"<language file=\"%1.c\" cmd=\"gcc -O2 -o %1 %1.c\"/></source>\n"_s.arg(name)
                  + u"<task input=\"%1.in\" output=\"%1.out\" checker=\"全文比较\">\n"_s.arg(
                      runexe.isEmpty() ? name : runexe);
    for (int k = 1; k <= points; ++k)
        xml += u"<subtask score=\"1\"><point in=\"%1.in\" out=\"%1.ans\" time=\"10\" mem=\"%2\"/></subtask>\n"_s
                   .arg(k)
                   .arg(memoryMb);
    return (xml + u"</task>\n</problem>\n"_s).toUtf8();
}

bool writeInputs(const QString &dir, const QList<QByteArray> &inputs)
{
    for (int k = 0; k < inputs.size(); ++k) {
        if (!writeFile(dir + u"/%1.in"_s.arg(k + 1), inputs[k])
            || !writeFile(dir + u"/%1.ans"_s.arg(k + 1), "ok\n"))
            return false;
    }
    return true;
}

// Judges the chosen cells of the contest at root (all when no filter) with
// `jobs` slots, as qxj-judge does. Seconds taken.
double judge(const QString &root, int jobs,
             const std::function<bool(const SiteItem *)> &take = nullptr)
{
    Contest contest;
    contest.rootDir = root;
    contest.loadProblems();
    contest.loadRealNames();
    contest.loadPlayers();
    contest.loadResultList();
    QList<AllSiteItem *> rows = buildGridRows(contest);
    QList<SiteItem *> cells = allCells(rows);
    if (take)
        cells.removeIf([&](const SiteItem *cell) { return !take(cell); });
    TestCore core(contest, jobs);
    queueCells(core, cells, true);
    QObject::connect(&core, &TestCore::setItem, &core,
                     [](SiteItem *cell, ScoreInfo info) { cell->setInfo(info); });
    QObject::connect(&core, &TestCore::testEnd, qApp, &QCoreApplication::quit);
    QElapsedTimer clock;
    clock.start();
    beginRun(core, contest);
    QCoreApplication::exec();
    core.wait();
    const double seconds = clock.nsecsElapsed() / 1e9;
    finishRun(contest, rows);
    deleteGridRows(rows);
    return seconds;
}

bool compile(const QString &source, const QString &executable)
{
    QProcess gcc;
    gcc.start(u"gcc"_s, {u"-O2"_s, u"-o"_s, executable, source});
    return gcc.waitForFinished(60000) && gcc.exitCode() == 0;
}

// The cell's stored CPU time per point, when every point was accepted (a
// one-point cell: the program's own time); -1 otherwise.
double storedTime(const QString &root, const QString &player, const QString &problem, int points = 1)
{
    Contest contest;
    contest.rootDir = root;
    XmlFile file;
    if (!file.load(contest.resultFilePath(player, problem)))
        return -1;
    const ScoreInfo info = readScoreInfo(file.document);
    return info.state == TaskState::Normal && info.score == points ? info.time / points : -1;
}

struct Spread
{
    double mean = 0;
    double deviation = 0;
    double low = 0;
    double high = 0;
};

Spread spreadOf(const std::vector<double> &values)
{
    Spread s;
    if (values.empty())
        return s;
    for (double v : values)
        s.mean += v;
    s.mean /= double(values.size());
    for (double v : values)
        s.deviation += (v - s.mean) * (v - s.mean);
    s.deviation = std::sqrt(s.deviation / double(values.size()));
    s.low = *std::min_element(values.begin(), values.end());
    s.high = *std::max_element(values.begin(), values.end());
    return s;
}

bool verdicts(const QString &name, const QString &original, const QString &work)
{
    const QString one = work + u"/one"_s;
    const QString two = work + u"/two"_s;
    if (!copyTree(original, one) || !copyTree(original, two))
        return false;
    const double single = judge(one, 1);
    const double pair = judge(two, 2);
    const QMap<QString, QString> expected = verdictsBelow(one);
    const bool same = !expected.isEmpty() && verdictsBelow(two) == expected;
    std::printf("  %-10s %3d cells  %-9s  jobs 1 %6.1f s, jobs 2 %6.1f s\n", qPrintable(name),
                int(expected.size()), same ? "identical" : "DIFFERENT", single, pair);
    return same;
}

// Rounds of steady.c that take SteadySeconds alone: the mean of five timed
// runs through the judge, scaled, until it is within 2 %.
long long calibrate(const QString &work, const QString &executable)
{
    constexpr int Probes = 5;
    long long rounds = 200'000'000;
    for (int attempt = 0; attempt < 4; ++attempt) {
        const QString root = work + u"/probe%1"_s.arg(attempt);
        if (!writeFile(root + u"/data/probe/.prb"_s, problemXml(u"probe"_s, u"steady"_s, Probes, 64))
            || !writeInputs(root + u"/data/probe"_s,
                            QList<QByteArray>(Probes, QByteArray::number(rounds) + '\n'))
            || !QDir().mkpath(root + u"/src/s/probe"_s)
            || !QFile::copy(executable, root + u"/src/s/probe/steady"_s))
            return 0;
        judge(root, 1);
        const double seconds = storedTime(root, u"s"_s, u"probe"_s, Probes);
        if (seconds <= 0)
            return 0;
        if (std::abs(seconds - SteadySeconds) < SteadySeconds / 50)
            break;
        rounds = std::llround(double(rounds) * SteadySeconds / seconds);
    }
    return rounds;
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    registerJudgeMetaTypes();
    if (!QDir::setCurrent(QStringLiteral(QXJ_BUILD_DIR)) || !QFile::exists(u"checker/全文比较"_s)) {
        std::fprintf(stderr, "checker/全文比较 is missing in %s\n", QXJ_BUILD_DIR);
        return 1;
    }
    const QString programs = QStringLiteral(QXJ_PROGRAMS);
    QTemporaryDir work;
    std::printf("bench_parallel: %d CPUs allowed, load average %s\n", int(allowedCpus().size()),
                qPrintable(loadAverage()));

    // Verdicts.
    std::printf("verdicts, jobs 1 against jobs 2:\n");
    const QString mixed = work.filePath(u"mixed"_s);
    bool same = writeMixedContest(QStringLiteral(QXJ_SAMPLE), mixed, 2);
    same = verdicts(u"sample"_s, QStringLiteral(QXJ_SAMPLE), work.filePath(u"sample"_s)) && same;
    same = verdicts(u"generated"_s, mixed, work.filePath(u"generated"_s)) && same;

    // Steadiness.
    const QString steadyExe = work.filePath(u"steady"_s);
    const QString noiseExe = work.filePath(u"noise"_s);
    if (!compile(programs + u"/steady.c"_s, steadyExe) || !compile(programs + u"/noise.c"_s, noiseExe)) {
        std::fprintf(stderr, "cannot compile the benchmark's programs\n");
        return 1;
    }
    const long long rounds = calibrate(work.path(), steadyExe);
    if (rounds <= 0) {
        std::fprintf(stderr, "calibration failed\n");
        return 1;
    }
    const QString steady = work.filePath(u"steady-contest"_s);
    for (int k = 1; k <= SteadyRuns; ++k) {
        const QString name = u"steady%1"_s.arg(k, 2, 10, QLatin1Char('0'));
        if (!writeFile(steady + u"/data/"_s + name + u"/.prb"_s, problemXml(name, u"steady"_s, 1, 64))
            || !writeInputs(steady + u"/data/"_s + name, {QByteArray::number(rounds) + '\n'})
            || !QDir().mkpath(steady + u"/src/s/"_s + name)
            || !QFile::copy(steadyExe, steady + u"/src/s/"_s + name + u"/steady"_s))
            return 1;
    }
    QList<QByteArray> noiseInputs;
    for (int k = 0; k < NoisePoints; ++k)
        noiseInputs.append(k % 2 ? "mem " + QByteArray::number(MemorySweeps) + '\n'
                                 : "cpu " + QByteArray::number(rounds) + '\n');
    if (!writeFile(steady + u"/data/noise/.prb"_s, problemXml(u"noise"_s, u"noise"_s, NoisePoints, 512))
        || !writeInputs(steady + u"/data/noise"_s, noiseInputs) || !QDir().mkpath(steady + u"/src/n/noise"_s)
        || !QFile::copy(noiseExe, steady + u"/src/n/noise/noise"_s))
        return 1;
    std::vector<double> aloneTimes;
    std::vector<double> besideTimes;
    for (int first = 1; first <= SteadyRuns; first += SteadyBlock) {
        const auto inBlock = [first](const SiteItem *cell) {
            const int k = cell->problem.mid(6).toInt();
            return cell->player == u"s"_s && k >= first && k < first + SteadyBlock;
        };
        const auto collect = [&](std::vector<double> &times) {
            for (int k = first; k < first + SteadyBlock; ++k)
                times.push_back(storedTime(steady, u"s"_s, u"steady%1"_s.arg(k, 2, 10, QLatin1Char('0'))));
        };
        judge(steady, 1, inBlock);
        collect(aloneTimes);
        judge(steady, 2, [&](const SiteItem *cell) {
            return inBlock(cell) || (cell->player == u"n"_s && cell->problem == u"noise"_s);
        });
        collect(besideTimes);
        if (!verdictsBelow(steady).value(u"noise/n"_s).startsWith(u"%1 N "_s.arg(NoisePoints))) {
            std::fprintf(stderr, "the busy slot's programs failed: %s\n",
                         qPrintable(verdictsBelow(steady).value(u"noise/n"_s)));
            return 1;
        }
    }
    if (std::count(aloneTimes.begin(), aloneTimes.end(), -1.0) + std::count(besideTimes.begin(), besideTimes.end(), -1.0) > 0) {
        std::fprintf(stderr, "a steady run failed\n");
        return 1;
    }
    const Spread alone = spreadOf(aloneTimes);
    const Spread beside = spreadOf(besideTimes);
    const double difference = (beside.mean - alone.mean) / alone.mean * 100;
    std::printf("steadiness: %d runs of a program calibrated to %.1f s of CPU (%lld rounds):\n",
                SteadyRuns, SteadySeconds, rounds);
    std::printf("  alone (jobs 1)          mean %.4f s  sd %.4f  min %.4f  max %.4f\n", alone.mean,
                alone.deviation, alone.low, alone.high);
    std::printf("  beside a busy slot      mean %.4f s  sd %.4f  min %.4f  max %.4f\n", beside.mean,
                beside.deviation, beside.low, beside.high);
    std::printf("  means differ by %+.2f %%\n", difference);

    // Throughput.
    const QString busy = work.filePath(u"throughput"_s);
    QList<QByteArray> pointInputs;
    for (int k = 0; k < PointsPerProblem; ++k)
        pointInputs.append(QByteArray::number(std::llround(double(rounds) * PointSeconds / SteadySeconds)) + '\n');
    QFile source(programs + u"/steady.c"_s);
    if (!source.open(QIODevice::ReadOnly))
        return 1;
    QByteArray program = source.readAll();
    for (const QString &problem : {u"left"_s, u"right"_s}) {
        if (!writeFile(busy + u"/data/"_s + problem + u"/.prb"_s,
                       problemXml(problem, QString(), PointsPerProblem, 64))
            || !writeInputs(busy + u"/data/"_s + problem, pointInputs))
            return 1;
        QByteArray own = program;
        own.replace("steady.", problem.toUtf8() + '.');
        for (int p = 1; p <= Players; ++p) {
            if (!writeFile(busy + u"/src/p%1/%2/%2.c"_s.arg(p, 2, 10, QLatin1Char('0')).arg(problem), own))
                return 1;
        }
    }
    const QString busyTwo = work.filePath(u"throughput2"_s);
    if (!copyTree(busy, busyTwo))
        return 1;
    const double single = judge(busy, 1);
    const double pair = judge(busyTwo, 2);
    const QMap<QString, QString> busyVerdicts = verdictsBelow(busy);
    const bool allAccepted = busyVerdicts.size() == 2 * Players
                             && std::all_of(busyVerdicts.cbegin(), busyVerdicts.cend(), [](const QString &v) {
                                    return v.startsWith(u"3 N AAA"_s);
                                });
    if (!allAccepted && !busyVerdicts.isEmpty())
        std::fprintf(stderr, "for one: %s\n", qPrintable(busyVerdicts.first()));
    same = same && verdictsBelow(busyTwo) == busyVerdicts && allAccepted;
    std::printf("throughput: %d players x 2 problems x %d points of %.1f s, compiled by gcc -O2:\n",
                Players, PointsPerProblem, PointSeconds);
    std::printf("  jobs 1 %6.1f s   jobs 2 %6.1f s   speed-up %.2f   (%s)\n", single, pair, single / pair,
                allAccepted ? "every cell accepted" : "NOT every cell accepted");
    std::printf("load average at the end %s\n", qPrintable(loadAverage()));
    return same ? 0 : 2;
}
