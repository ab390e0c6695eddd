// One player's A+B on a standard input/output problem of POINTS test points
// (default 100), judged end to end with the default full-text checker and
// with a testlib checker built from source, interleaved, ROUNDS times
// (default 3). The testlib checker is built in the first of its runs (its
// cache emptied before) and found in the cache afterwards.
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
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

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

// A testlib checker for A+B, from the source tree.
QByteArray sumChecker()
{
    return readFile(QStringLiteral(QXJ_SOURCE_DIR "/tests/programs/testlibsum.cpp"));
}

QString loadAverage()
{
    return QString::fromLatin1(readFile(u"/proc/loadavg"_s)).section(u' ', 0, 2);
}

bool makeContest(const QString &root, bool testlib, int points)
{
    const QString dir = root + u"/data/sum"_s;
    QString subtasks;
    for (int k = 1; k <= points; ++k) {
        if (!writeFile(dir + u"/tests/%1"_s.arg(k), QByteArray::number(k) + " " + QByteArray::number(k * 7) + "\n")
            || !writeFile(dir + u"/tests/%1.a"_s.arg(k), QByteArray::number(k * 8) + "\n"))
            return false;
        subtasks += u"<subtask score=\"1\"><point in=\"tests/%1\" out=\"tests/%1.a\" time=\"1\" mem=\"256\"/></subtask>"_s
                        .arg(k);
    }
    const QString checker = testlib ? u"checkertype=\"testlib\" checker=\"files/check.cpp\""_s
                                    : u"checker=\"全文比较\""_s;
    const QString xml = u"<problem type=\"TRA_0_4\"><source dir=\"sum\" file=\"sum\" code=\"100\">"
                        u"<language file=\"sum.cpp\" cmd=\"g++ -O2 -o sum sum.cpp\"/></source>"
                        u"<task input=\"\" output=\"\" stdio=\"1\" %1>%2</task></problem>"_s.arg(checker, subtasks);
    return writeFile(dir + u"/.prb"_s, xml.toUtf8())
           && writeFile(dir + u"/files/testlib.h"_s, readFile(QStringLiteral(QXJ_SOURCE_DIR "/tests/programs/minitestlib.h")))
           && writeFile(dir + u"/files/check.cpp"_s, sumChecker())
           && writeFile(root + u"/src/p1/sum/sum.cpp"_s, StdioSum);
}

// Seconds to judge the player's cell; negative when a point was not accepted.
double judgeOnce(const QString &root)
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
    core.startJudging();
    loop.exec();
    core.wait();
    const double seconds = clock.nsecsElapsed() / 1e9;
    const QByteArray result = readFile(contest.resultFilePath(u"p1"_s, u"sum"_s));
    return result.count("state=\"A\"") == result.count("<point") && result.count("<point") > 0 ? seconds : -1.0;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    registerJudgeMetaTypes();
    QStandardPaths::setTestModeEnabled(true);
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
    if (!makeContest(plain.path(), false, points) || !makeContest(testlib.path(), true, points)) {
        std::fprintf(stderr, "cannot write the contests\n");
        return 1;
    }
    QDir(checkerCacheDir()).removeRecursively();
    std::printf("bench_kinds: 1 player x %d points, compiler sandbox %s, load average %s\n", points,
                sandboxed ? "on" : "off", qPrintable(loadAverage()));
    std::vector<double> plainTimes;
    std::vector<double> testlibTimes;
    for (int round = 1; round <= rounds; ++round) {
        const double a = judgeOnce(plain.path());
        const double b = judgeOnce(testlib.path());
        if (a < 0 || b < 0) {
            std::fprintf(stderr, "a point was not accepted\n");
            return 1;
        }
        std::printf("  round %d: default checker %6.2f s   testlib checker %6.2f s%s   ratio %.2f\n", round, a, b,
                    round == 1 ? " (built)" : " (cached)", b / a);
        plainTimes.push_back(a);
        if (round > 1)
            testlibTimes.push_back(b);
    }
    // On a shared machine the least of several runs is the least disturbed.
    if (!testlibTimes.empty()) {
        const double a = *std::min_element(plainTimes.begin(), plainTimes.end());
        const double b = *std::min_element(testlibTimes.begin(), testlibTimes.end());
        std::printf("  fastest: default %.2f s, testlib (cached) %.2f s, ratio %.2f\n", a, b, b / a);
    }
    std::printf("  load average at the end %s\n", qPrintable(loadAverage()));
    return 0;
}
