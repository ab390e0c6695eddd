// Times qxj-judge --configure on a contest of problem packages (default 100
// folders of 20 tests each, testlib checker, a validator and generator beside
// it): the whole command, process start included, as a script would run it.
// Run with: <build>/bench/problemconfig/bench_configure [PACKAGES] [RUNS]

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr int Tests = 20;

bool write(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(path.section(u'/', 0, -2));
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

bool writePackage(const QString &dir)
{
    QByteArray tests;
    for (int k = 1; k <= Tests; ++k) {
        tests += "<test method=\"manual\" points=\"5\" group=\"" + QByteArray::number((k - 1) / 5) + "\"/>";
        const QString test = dir + QStringLiteral("/tests/%1").arg(k, 2, 10, QLatin1Char('0'));
        if (!write(test, "1 2\n") || !write(test + QStringLiteral(".a"), "3\n"))
            return false;
    }
    const QByteArray xml = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<problem><judging input-file=\"\" "
                           "output-file=\"\"><testset name=\"tests\"><time-limit>2000</time-limit>"
                           "<memory-limit>268435456</memory-limit><test-count>"
                           + QByteArray::number(Tests)
                           + "</test-count><input-path-pattern>tests/%02d</input-path-pattern>"
                             "<answer-path-pattern>tests/%02d.a</answer-path-pattern><tests>"
                           + tests
                           + "</tests></testset></judging><assets><checker type=\"testlib\"><source "
                             "path=\"files/check.cpp\"/></checker></assets></problem>\n";
    return write(dir + QStringLiteral("/problem.xml"), xml)
           && write(dir + QStringLiteral("/files/check.cpp"),
                    "#include \"testlib.h\"\nint main(int c, char **v) { registerTestlibCmd(c, v); }\n")
           && write(dir + QStringLiteral("/files/val.cpp"),
                    "#include \"testlib.h\"\nint main(int c, char **v) { registerValidation(c, v); }\n")
           && write(dir + QStringLiteral("/files/gen.cpp"),
                    "#include \"testlib.h\"\nint main(int c, char **v) { registerGen(c, v, 1); }\n")
           && write(dir + QStringLiteral("/files/testlib.h"), QByteArray(4096, ' '));
}

}  // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int packages = argc > 1 ? std::max(1, std::atoi(argv[1])) : 100;
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    QTemporaryDir root;
    if (!root.isValid() || !QDir().mkpath(root.filePath(QStringLiteral("src"))))
        return 1;
    for (int p = 0; p < packages; ++p) {
        if (!writePackage(root.filePath(QStringLiteral("data/p%1").arg(p, 3, 10, QLatin1Char('0')))))
            return 1;
    }

    std::vector<double> times;
    for (int run = 0; run < runs; ++run) {
        for (int p = 0; p < packages; ++p)
            QFile::remove(root.filePath(QStringLiteral("data/p%1/.prb").arg(p, 3, 10, QLatin1Char('0'))));
        QProcess judge;
        judge.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        QElapsedTimer timer;
        timer.start();
        judge.start(QStringLiteral(QXJ_JUDGE), {QStringLiteral("--configure"), root.path()});
        judge.waitForFinished(-1);
        times.push_back(double(timer.nsecsElapsed()) / 1e6);
        const QByteArray out = judge.readAllStandardOutput();
        if (judge.exitCode() != 0 || out.count("configured ") != packages) {
            std::fprintf(stderr, "qxj-judge --configure failed:\n%s\n", out.constData());
            return 1;
        }
    }
    std::sort(times.begin(), times.end());
    std::printf("qxj-judge --configure, %d packages x %d tests, %d runs: min %.1f ms, median %.1f ms, max %.1f ms "
                "(%.2f ms a package at the median)\n",
                packages, Tests, runs, times.front(), times[times.size() / 2], times.back(),
                times[times.size() / 2] / packages);
    return 0;
}
