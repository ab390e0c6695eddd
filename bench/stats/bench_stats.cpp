// Statistics of a generated 1000 players x 10 problems contest (10 points a
// problem): computed, computed and shown in the window's dialog, and
// written as result/statistics.html; then the similarity of 500 generated
// sources of one problem (8 programs each handed in 6 times, disguised, and
// 452 programs of their own), with the copies found and the highest figure
// of any pair that is no copy.
// Usage: bench_stats [rounds [stats|similarity]]   (default 5 rounds, both;
// QT_QPA_PLATFORM=offscreen is set if unset)

#include "contest.h"
#include "contestfiles.h"
#include "conteststats.h"
#include "dirs.h"
#include "similarity.h"
#include "sourcegen.h"
#include "statsdialog.h"
#include "statspage.h"
#include "xmlfile.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTextStream>

#include <algorithm>
#include <cstdio>
#include <ctime>

#include <sys/resource.h>

using namespace Qt::StringLiterals;

namespace {

constexpr int Players = 1000;
constexpr int Problems = 10;
constexpr int Points = 10;
constexpr int Programs = 8;
constexpr int Copies = 6;
constexpr int Sources = 500;

void say(const QString &text)
{
    std::fputs(text.toUtf8().constData(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

QString load()
{
    QFile file(u"/proc/loadavg"_s);
    return file.open(QIODevice::ReadOnly) ? QString::fromLatin1(file.readAll()).section(u' ', 0, 2)
                                          : u"?"_s;
}

QString playerName(int i)
{
    return i == 0 ? u"std"_s : u"p%1"_s.arg(i, 4, 10, QLatin1Char('0'));
}

void writeConfig(const Contest &contest, const QString &problem)
{
    QString xml = u"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<problem type=\"TRA_0_4\">\n"
                  "<source dir=\"%1\" file=\"%1\" code=\"64\"><language file=\"%1.cpp\" cmd=\"g++ -o %1 %1.cpp\"/></source>\n"
                  "<task input=\"%1.in\" output=\"%1.out\" checker=\"全文比较\">\n"_s.arg(problem);
    for (int s = 0; s < 2; ++s) {
        xml += u"<subtask score=\"50\">\n"_s;
        for (int p = 0; p < Points / 2; ++p)
            xml += u"<point in=\"%1.in\" out=\"%1.ans\" time=\"1\" mem=\"256\"/>\n"_s.arg(p);
        xml += u"</subtask>\n"_s;
    }
    xml += u"</task>\n</problem>\n"_s;
    makePath(contest.problemDir(problem));
    writeFileAtomically(contest.problemConfigPath(problem), xml.toUtf8());
}

void generateResults(Contest &contest)
{
    QList<CellResult> cells;
    static const char states[] = "AAAAAWWTRMP";
    for (int q = 0; q < Problems; ++q) {
        const QString problem = u"prob%1"_s.arg(q);
        writeConfig(contest, problem);
        makePath(contest.resultProblemDir(problem));
    }
    for (int p = 0; p < Players; ++p) {
        makePath(contest.playerDir(playerName(p)));
        for (int q = 0; q < Problems; ++q) {
            const QString problem = u"prob%1"_s.arg(q);
            QDomDocument document = newDocument();
            QDomElement task = document.createElement(u"task"_s);
            document.appendChild(task);
            int score = 0;
            for (int s = 0; s < 2; ++s) {
                QDomElement subtask = document.createElement(u"subtask"_s);
                bool passed = true;
                for (int k = 0; k < Points / 2; ++k) {
                    const int n = (p * 7 + q * 13 + s * 5 + k * 3) % 11;
                    const char state = p == 0 ? 'A' : states[n];
                    passed = passed && state == 'A';
                    QDomElement point = document.createElement(u"point"_s);
                    point.setAttribute(u"ratio"_s, state == 'A' ? u"1"_s : u"0"_s);
                    point.setAttribute(u"state"_s, QString(QLatin1Char(state)));
                    point.setAttribute(u"note"_s, u"时间: 0.12s 内存: 3.40MB"_s);
                    point.setAttribute(u"time"_s, realText(0.01 * ((p + k) % 90)));
                    subtask.appendChild(point);
                }
                subtask.setAttribute(u"score"_s, passed ? 50 : 0);
                score += passed ? 50 : 0;
                task.appendChild(subtask);
            }
            const ScoreInfo info{score, 0.5, 'N'};
            task.setAttribute(u"score"_s, score);
            task.setAttribute(u"time"_s, u"0.5"_s);
            task.setAttribute(u"state"_s, u"N"_s);
            // Plain writes: a synced file each would make the set-up the longest part.
            QFile out(contest.resultFilePath(playerName(p), problem));
            if (out.open(QIODevice::WriteOnly))
                out.write(document.toByteArray(0));
            cells.append({playerName(p), problem, info});
        }
    }
    writeResultList(contest, cells);
}

// CPU seconds of this process: what the work costs whatever else runs.
double cpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return now.tv_sec + now.tv_nsec / 1e9;
}

double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

void benchStatistics(int rounds)
{
    QTemporaryDir dir;
    Contest contest;
    contest.rootDir = dir.path();
    QElapsedTimer clock;
    clock.start();
    generateResults(contest);
    contest.loadProblems();
    say(u"generated %1 players x %2 problems (%3 points each) in %4 s"_s.arg(Players)
            .arg(Problems)
            .arg(Points)
            .arg(clock.elapsed() / 1000.0, 0, 'f', 1));

    QList<double> computed, shown, written, computedCpu, shownCpu, writtenCpu;
    for (int r = 0; r < rounds; ++r) {
        // Interleaved, so that a load on the machine weighs on all three alike.
        clock.restart();
        double cpu = cpuSeconds();
        const ContestStats stats = computeContestStats(contest);
        computed.append(clock.nsecsElapsed() / 1e9);
        computedCpu.append(cpuSeconds() - cpu);

        clock.restart();
        cpu = cpuSeconds();
        {
            StatsDialog dialog(contest);
            dialog.show();
            dialog.resize(1120, 690);
            QApplication::processEvents();
            dialog.grab();  // everything painted once
        }
        shown.append(clock.nsecsElapsed() / 1e9);
        shownCpu.append(cpuSeconds() - cpu);

        clock.restart();
        cpu = cpuSeconds();
        const bool ok = writeStatisticsPage(contest, computeContestStats(contest));
        written.append(clock.nsecsElapsed() / 1e9);
        writtenCpu.append(cpuSeconds() - cpu);
        if (!ok || stats.totals.count != Players - 1)
            say(u"FAILED: page not written or wrong player count"_s);
    }
    const auto line = [](const QString &what, const QList<double> &wall, const QList<double> &cpu) {
        say(what + u": median %1 s, max %2 s; CPU median %3 s"_s
                       .arg(median(wall), 0, 'f', 3)
                       .arg(*std::max_element(wall.cbegin(), wall.cend()), 0, 'f', 3)
                       .arg(median(cpu), 0, 'f', 3));
    };
    line(u"statistics computed"_s, computed, computedCpu);
    line(u"statistics computed and shown (limit 1 s)"_s, shown, shownCpu);
    line(u"statistics.html computed and written (limit 2 s, %1 KB)"_s
             .arg(QFileInfo(contest.resultDir() + u"/statistics.html"_s).size() / 1024),
         written, writtenCpu);
}

void benchSimilarity(int rounds)
{
    QTemporaryDir dir;
    Contest contest;
    contest.rootDir = dir.path();
    const QString problem = u"copy"_s;
    writeConfig(contest, problem);
    contest.loadProblems();
    SourceGenerator generator(20240601);
    QHash<QString, int> family;  // player -> program copied, -1 for his own
    int player = 0;
    for (int program = 0; program < Programs; ++program) {
        const QString original = generator.program();
        for (int copy = 0; copy < Copies; ++copy) {
            const QString name = u"c%1"_s.arg(player++, 3, 10, QLatin1Char('0'));
            const QString text = copy == 0 ? original : generator.disguised(original);
            makePath(contest.playerSubDir(name, problem));
            writeFileAtomically(contest.playerFile(name, problem, problem + u".cpp"_s), text.toUtf8());
            family.insert(name, program);
        }
    }
    while (player < Sources) {
        const QString name = u"u%1"_s.arg(player++, 3, 10, QLatin1Char('0'));
        makePath(contest.playerSubDir(name, problem));
        writeFileAtomically(contest.playerFile(name, problem, problem + u".cpp"_s),
                            generator.program().toUtf8());
        family.insert(name, -1);
    }
    const int known = Programs * Copies * (Copies - 1) / 2;

    for (int r = 0; r < rounds; ++r) {
        SimilarityRun run;
        QObject::connect(&run, &SimilarityRun::finished, qApp, &QCoreApplication::quit);
        SimilarityOptions options;
        options.threshold = 0;  // every pair with a run, to see how far the others stay
        QElapsedTimer clock;
        clock.start();
        run.start(contest, options);
        QApplication::exec();
        const double seconds = clock.nsecsElapsed() / 1e9;
        rusage children{};
        getrusage(RUSAGE_CHILDREN, &children);
        const SimilarityReport &report = run.report();
        int found = 0;
        double lowestCopy = 100.0;
        double highestOther = 0.0;
        for (const SimPair &pair : report.pairs) {
            const int a = family.value(report.sources[pair.first].player);
            const int b = family.value(report.sources[pair.second].player);
            if (a >= 0 && a == b) {
                lowestCopy = std::min(lowestCopy, pair.percent);
                found += pair.percent >= 60.0;
            } else {
                highestOther = std::max(highestOther, pair.percent);
            }
        }
        say(u"similarity of %1 sources (%2 pairs): %3 s (limit 30 s); copies found at 60%: "
            "%4 of %5, lowest copy %6%, highest other pair %7%, complete %8; sim CPU so far %9 s"_s
                .arg(report.sources.size())
                .arg(report.totalPairs)
                .arg(seconds, 0, 'f', 2)
                .arg(found)
                .arg(known)
                .arg(lowestCopy, 0, 'f', 1)
                .arg(highestOther, 0, 'f', 1)
                .arg(report.complete ? u"yes"_s : u"no"_s)
                .arg(children.ru_utime.tv_sec + children.ru_stime.tv_sec
                     + (children.ru_utime.tv_usec + children.ru_stime.tv_usec) / 1e6, 0, 'f', 2));
    }
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(1, QString::fromLocal8Bit(argv[1]).toInt()) : 5;
    say(u"load average at start: "_s + load());
    const QString part = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QString();
    if (part != u"similarity"_s)
        benchStatistics(rounds);
    if (part != u"stats"_s)
        benchSimilarity(std::max(1, rounds / 2));
    say(u"load average at end: "_s + load());
    return 0;
}
