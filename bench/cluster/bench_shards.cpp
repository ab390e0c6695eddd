// One contest judged as one Slurm job, and as a job array of three shards
// with its merge job, on a Slurm of one node (2 CPUs) started here: the CPU
// time of all the judging (qxj-judge and every process it waited for,
// measured by `cputime` around each job's command; Slurm's own daemons left
// out), the wall time, and whether both give the same verdicts. The sample
// contest and a generated one of 43 players, each run both ways in turn,
// REPEATS times (default 2), the order swapped every time.
// The load average is printed before and after: the machine may be shared.
//
// Usage: bench_shards [REPEATS]   (needs Slurm: QXJ_SLURM=1 bash scripts/deps.sh)

#include "minislurm.h"
#include "mixedcontest.h"
#include "sameoutcome.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <cstdio>

using namespace Qt::StringLiterals;

namespace {

const QString BuildDir = QStringLiteral(QXJ_BUILD_DIR);
const QString Judge = BuildDir + u"/qxj-judge"_s;
const QString CpuTime = QStringLiteral(QXJ_CPUTIME);
const QString SampleContest = QStringLiteral(QXJ_SAMPLE);
constexpr int Shards = 3;

QString loadAverage()
{
    QFile file(u"/proc/loadavg"_s);
    return file.open(QIODevice::ReadOnly) ? QString::fromLatin1(file.readAll()).section(u' ', 0, 2) : u"?"_s;
}

struct Cost
{
    double cpu = 0.0;       // summed over the jobs
    double jobWall = 0.0;   // the longest shard's, plus the merge's
    double wall = 0.0;      // from the first submission to the end, scheduling included
    QString parts;          // each job's CPU seconds
    bool ok = false;
};

// Adds the "cpu X wall Y" lines of the files to cost; false when one is missing.
bool addFigures(Cost &cost, const QStringList &files, double &longestWall)
{
    for (const QString &path : files) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return false;
        const QStringList words = QString::fromLatin1(file.readAll()).split(u' ');
        if (words.size() < 4)
            return false;
        const double cpu = words[1].toDouble();
        cost.cpu += cpu;
        cost.parts += (cost.parts.isEmpty() ? QString() : u" + "_s) + QString::number(cpu, 'f', 2);
        longestWall = qMax(longestWall, words[3].toDouble());
    }
    return true;
}

class Bench
{
public:
    explicit Bench(MiniSlurm &slurm, const QString &work) : m_slurm(slurm), m_work(work) {}

    Cost single(const QString &root)
    {
        Cost cost;
        QElapsedTimer timer;
        timer.start();
        const QString figures = root + u".cpu"_s;
        const QString job = submit({u"--wrap"_s, command(figures, root)});
        cost.ok = !job.isEmpty() && m_slurm.waitForJob(job, 3600000) == QStringList{u"COMPLETED 0:0"_s};
        cost.wall = timer.elapsed() / 1000.0;
        cost.ok = cost.ok && addFigures(cost, {figures}, cost.jobWall);
        return cost;
    }

    Cost sharded(const QString &root)
    {
        Cost cost;
        QElapsedTimer timer;
        timer.start();
        const QString array = submit({u"--array=0-%1"_s.arg(Shards - 1), u"--wrap"_s,
                                      command(root + u".shard-$SLURM_ARRAY_TASK_ID.cpu"_s,
                                              u"--shard $SLURM_ARRAY_TASK_ID/$SLURM_ARRAY_TASK_COUNT "_s + root)});
        const QString merge = submit({u"--dependency=afterok:"_s + array, u"--wrap"_s,
                                      command(root + u".merge.cpu"_s, u"--merge "_s + root)});
        cost.ok = !array.isEmpty() && !merge.isEmpty()
                  && m_slurm.waitForJob(merge, 3600000) == QStringList{u"COMPLETED 0:0"_s};
        cost.wall = timer.elapsed() / 1000.0;
        QStringList files;
        for (int k = 0; k < Shards; ++k)
            files.append(root + u".shard-%1.cpu"_s.arg(k));
        double longestShard = 0.0;
        double mergeWall = 0.0;
        cost.ok = cost.ok && addFigures(cost, files, longestShard)
                  && addFigures(cost, {root + u".merge.cpu"_s}, mergeWall);
        cost.jobWall = longestShard + mergeWall;
        return cost;
    }

private:
    static QString command(const QString &figures, const QString &arguments)
    {
        return CpuTime + u' ' + figures + u' ' + Judge + u' ' + arguments;
    }

    QString submit(QStringList arguments)
    {
        arguments.prepend(u"--parsable"_s);
        const MiniSlurm::Result submitted = m_slurm.run(u"sbatch"_s, arguments, m_work);
        return submitted.exitCode == 0 ? submitted.out.trimmed() : QString();
    }

    MiniSlurm &m_slurm;
    QString m_work;
};

void print(const QString &text)
{
    std::printf("%s\n", text.toUtf8().constData());
    std::fflush(stdout);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int repeats = argc > 1 ? qMax(1, QString::fromLocal8Bit(argv[1]).toInt()) : 2;
    if (!MiniSlurm::missingPrograms().isEmpty()) {
        print(u"Slurm is not installed: "_s + MiniSlurm::missingPrograms().join(u", "_s));
        return 1;
    }
    QTemporaryDir work;
    MiniSlurm slurm(work.path() + u"/slurm"_s, BuildDir);
    if (const QString failure = slurm.start(); !failure.isEmpty()) {
        print(failure);
        return 1;
    }
    print(u"load average before: "_s + loadAverage() + u", CPUs: "_s + QString::number(QThread::idealThreadCount()));
    print(u"contest    repeat  run                  CPU s (jobs)                          job wall s  wall s"_s);

    Bench bench(slurm, work.path());
    const QStringList contests{u"sample"_s, u"generated"_s};
    QMap<QString, QList<double>> ratios;
    bool same = true;
    for (int repeat = 1; repeat <= repeats; ++repeat) {
        for (const QString &contest : contests) {
            const QString base = work.path() + u"/%1-%2"_s.arg(contest).arg(repeat);
            const QString alone = base + u"-single"_s;
            const QString sharded = base + u"-sharded"_s;
            const bool made = contest == u"sample"_s ? copyTree(SampleContest, alone)
                                                      : writeMixedContest(SampleContest, alone, 5);
            if (!made || !copyTree(alone, sharded)) {
                print(u"cannot make the contests in "_s + work.path());
                return 1;
            }
            Cost one;
            Cost three;
            // Alternately first, so that a drift in the machine's load weighs on both.
            if (repeat % 2 == 1) {
                one = bench.single(alone);
                three = bench.sharded(sharded);
            } else {
                three = bench.sharded(sharded);
                one = bench.single(alone);
            }
            if (!one.ok || !three.ok) {
                print(u"a job failed\n"_s + slurm.logs());
                return 1;
            }
            for (const auto &[name, cost] : {std::pair{u"1 job"_s, one}, std::pair{u"3 shards + merge"_s, three}}) {
                print(u"%1 %2 %3 %4 %5 %6"_s.arg(contest, -10)
                          .arg(repeat, -7)
                          .arg(name, -20)
                          .arg(QString::number(cost.cpu, 'f', 2) + u" ("_s + cost.parts + u')', -37)
                          .arg(cost.jobWall, -11, 'f', 1)
                          .arg(cost.wall, 0, 'f', 1));
            }
            const QString difference = outcomeDifference(alone, sharded);
            if (!difference.isEmpty()) {
                same = false;
                print(u"verdicts differ: "_s + difference);
            }
            ratios[contest].append(three.cpu / one.cpu);
        }
    }
    for (const QString &contest : contests) {
        QStringList each;
        double sum = 0.0;
        for (const double ratio : ratios[contest]) {
            each.append(QString::number(ratio, 'f', 3));
            sum += ratio;
        }
        print(u"CPU time, 3 shards / 1 job, %1: %2 (mean %3)"_s.arg(contest, each.join(u", "_s))
                  .arg(sum / ratios[contest].size(), 0, 'f', 3));
    }
    print(same ? u"verdicts and scores: the same every time (result files, reports, result list; times aside)"_s
               : u"verdicts and scores: DIFFERENT"_s);
    print(u"load average after: "_s + loadAverage());
    slurm.stop();
    return same ? 0 : 1;
}
