// One player's A+B on a standard input/output problem of POINTS test points
// (default 100), judged end to end with the default full-text checker and
// with a testlib checker built from source, interleaved, ROUNDS times
// (default 3). The testlib checker is built in the first of its runs (its
// cache emptied before) and found in the cache afterwards.
// Then the same for an interactive problem: one program that guesses a
// number, judged as a traditional point (its input says "=" at once) and
// with the interactor (the number is its first guess), interleaved.
//
// Usage: bench_kinds [POINTS] [ROUNDS] [--no-compiler-sandbox]
// (finds checker/全文比较 in the build directory; the option shows what the
// testlib checker's sandbox costs)

#include "contest.h"
#include "dirs.h"
#include "gridcells.h"
#include "runner.h"
#include "testcore.h"
#include "testlibchecker.h"
#include "viewinfo.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QEventLoop>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

#include <sys/resource.h>

using namespace Qt::StringLiterals;

namespace {

const QByteArray StdioSum = R"(#include <algorithm>
#include <cstdio>
#include <vector>
int main() { long long a, b; if (std::scanf("%lld %lld", &a, &b) != 2) return 1; std::printf("%lld\n", a + b); }
)";


bool writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Guesses by halving until told "=": one guess for 500000000.
const QByteArray Guesser = R"(#include <cstdio>
int main() {
    long long lo = 1, hi = 1000000000;
    char reply[8];
    for (;;) {
        long long mid = lo + (hi - lo) / 2;
        std::printf("%lld\n", mid);
        std::fflush(stdout);
        if (std::scanf("%7s", reply) != 1 || reply[0] == '=') return 0;
        if (reply[0] == '>') lo = mid + 1; else hi = mid - 1;
    }
}
)";

enum class Kind { Plain, Testlib, GuessTraditional, GuessInteractive };

// A testlib checker for A+B, from the source tree.
QByteArray sumChecker()
{
    return readFile(QStringLiteral(QXJ_SOURCE_DIR "/tests/programs/testlibsum.cpp"));
}

QString loadAverage()
{
    return QString::fromLatin1(readFile(u"/proc/loadavg"_s)).section(u' ', 0, 2);
}

bool makeContest(const QString &root, Kind kind, int points)
{
    const QString dir = root + u"/data/sum"_s;
    const bool guess = kind == Kind::GuessTraditional || kind == Kind::GuessInteractive;
    QString subtasks;
    for (int k = 1; k <= points; ++k) {
        const QByteArray input = kind == Kind::GuessTraditional ? QByteArray("=\n")
                                 : kind == Kind::GuessInteractive
                                     ? QByteArray("500000000\n")
                                     : QByteArray::number(k) + " " + QByteArray::number(k * 7) + "\n";
        const QByteArray answer = guess ? QByteArray("500000000\n") : QByteArray::number(k * 8) + "\n";
        if (!writeFile(dir + u"/tests/%1"_s.arg(k), input) || !writeFile(dir + u"/tests/%1.a"_s.arg(k), answer))
            return false;
        subtasks += u"<subtask score=\"1\"><point in=\"tests/%1\" out=\"tests/%1.a\" time=\"1\" mem=\"256\"/></subtask>"_s
                        .arg(k);
    }
    const QString checker = kind == Kind::Testlib ? u"checkertype=\"testlib\" checker=\"files/check.cpp\">"_s
                            : kind == Kind::GuessInteractive
                                ? u"checker=\"\"><interactor path=\"files/interactor.cpp\"/>"_s
                                : u"checker=\"全文比较\">"_s;
    const QString xml = u"<problem type=\"TRA_0_4\"><source dir=\"sum\" file=\"sum\" code=\"100\">"
                        u"<language file=\"sum.cpp\" cmd=\"g++ -O2 -o sum sum.cpp\"/></source>"
                        u"<task input=\"\" output=\"\" stdio=\"1\" %1%2</task></problem>"_s.arg(checker, subtasks);
    const QString tests = QStringLiteral(QXJ_SOURCE_DIR "/tests/programs/");
    return writeFile(dir + u"/.prb"_s, xml.toUtf8())
           && writeFile(dir + u"/files/testlib.h"_s, readFile(tests + u"minitestlib.h"_s))
           && writeFile(dir + u"/files/check.cpp"_s, sumChecker())
           && writeFile(dir + u"/files/interactor.cpp"_s, readFile(tests + u"guessinteractor.cpp"_s))
           && writeFile(root + u"/src/p1/sum/sum.cpp"_s, guess ? Guesser : StdioSum);
}

// CPU seconds of the judge and of all it has reaped, user and system: less
// disturbed than the clock on a shared machine.
double cpuSeconds()
{
    double total = 0;
    for (int who : {RUSAGE_SELF, RUSAGE_CHILDREN}) {
        rusage usage;
        ::getrusage(who, &usage);
        total += usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec
                 + usage.ru_stime.tv_usec / 1e6;
    }
    return total;
}

struct Cost
{
    double seconds = -1.0;  // negative when a point was not accepted
    double cpu = 0.0;
};

// What judging the player's cell took.
Cost judgeOnce(const QString &root)
{
    Contest contest;
    contest.rootDir = root;
    contest.loadProblems();
    TestCore core(contest);
    SiteItem cell;
    cell.player = u"p1"_s;
    cell.problem = u"sum"_s;
    core.workQueue << &cell;
    core.problemConfigs = &contest.problemConfigs;
    core.problemNames = contest.problemNames;
    QEventLoop loop;
    QObject::connect(&core, &TestCore::testEnd, &loop, &QEventLoop::quit);
    QElapsedTimer clock;
    clock.start();
    const double cpuBefore = cpuSeconds();
    core.startJudging();
    loop.exec();
    core.wait();
    Cost cost;
    cost.cpu = cpuSeconds() - cpuBefore;
    const QByteArray result = readFile(contest.resultFilePath(u"p1"_s, u"sum"_s));
    if (result.count("state=\"A\"") == result.count("<point") && result.count("<point") > 0)
        cost.seconds = clock.nsecsElapsed() / 1e9;
    return cost;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    registerJudgeMetaTypes();
    // Built programs go to a cache of this run's own, empty at first.
    QTemporaryDir cache;
    qputenv("XDG_CACHE_HOME", QFile::encodeName(cache.path()));
    const int points = argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : 100;
    const int rounds = argc > 2 ? QString::fromLocal8Bit(argv[2]).toInt() : 3;
    const bool sandboxed = !(argc > 3 && QByteArray(argv[3]) == "--no-compiler-sandbox");
    setCompilerSandboxForTesting(sandboxed);
    if (!QDir::setCurrent(QStringLiteral(QXJ_BUILD_DIR)) || !QFileInfo(u"checker/全文比较"_s).isExecutable()) {
        std::fprintf(stderr, "checker/全文比较 is missing in %s\n", QXJ_BUILD_DIR);
        return 1;
    }
    QTemporaryDir plain;
    QTemporaryDir testlib;
    QTemporaryDir guessPlain;
    QTemporaryDir guessInteractive;
    if (!makeContest(plain.path(), Kind::Plain, points) || !makeContest(testlib.path(), Kind::Testlib, points)
        || !makeContest(guessPlain.path(), Kind::GuessTraditional, points)
        || !makeContest(guessInteractive.path(), Kind::GuessInteractive, points)) {
        std::fprintf(stderr, "cannot write the contests\n");
        return 1;
    }
    std::printf("bench_kinds: 1 player x %d points, compiler sandbox %s, load average %s\n", points,
                sandboxed ? "on" : "off", qPrintable(loadAverage()));
    // Two kinds side by side, interleaved; the second one's first run
    // builds what it needs.
    const auto compare = [&](const char *what, const QString &first, const char *firstName, const QString &second,
                             const char *secondName) {
        std::vector<double> firstTimes;
        std::vector<double> secondTimes;
        std::vector<double> firstCpu;
        std::vector<double> secondCpu;
        std::printf("%s\n", what);
        for (int round = 1; round <= rounds; ++round) {
            const Cost a = judgeOnce(first);
            const Cost b = judgeOnce(second);
            if (a.seconds < 0 || b.seconds < 0) {
                std::fprintf(stderr, "a point was not accepted\n");
                return false;
            }
            std::printf("  round %d: %s %6.2f s (CPU %.2f s)   %s %6.2f s (CPU %.2f s)%s   ratio %.2f, CPU %.2f\n",
                        round, firstName, a.seconds, a.cpu, secondName, b.seconds, b.cpu,
                        round == 1 ? " (built)" : " (cached)", b.seconds / a.seconds, b.cpu / a.cpu);
            firstTimes.push_back(a.seconds);
            firstCpu.push_back(a.cpu);
            if (round > 1) {
                secondTimes.push_back(b.seconds);
                secondCpu.push_back(b.cpu);
            }
        }
        // On a shared machine the least of several runs is the least disturbed.
        if (!secondTimes.empty()) {
            const auto least = [](const std::vector<double> &v) { return *std::min_element(v.begin(), v.end()); };
            std::printf("  fastest: %s %.2f s, %s (cached) %.2f s, ratio %.2f; least CPU ratio %.2f\n", firstName,
                        least(firstTimes), secondName, least(secondTimes), least(secondTimes) / least(firstTimes),
                        least(secondCpu) / least(firstCpu));
        }
        return true;
    };
    if (!compare("testlib checker:", plain.path(), "default checker", testlib.path(), "testlib checker")
        || !compare("interactive:", guessPlain.path(), "traditional", guessInteractive.path(), "interactive"))
        return 1;
    std::printf("  load average at the end %s\n", qPrintable(loadAverage()));
    return 0;
}
