// Does the window slow judging? The same contest of 200 trivial test points
// (4 players × 2 problems × 25 points, C programs) judged through the window's
// F9 and through qxj-judge, alternately, ROUNDS times (default 3). Prints each
// run's wall time, the window thread's CPU time and the ratio of the medians.
//
// Usage: bench_window [ROUNDS]   (offscreen; finds qxj-judge and checker/ in the build directory)

#include "mainwindow.h"
#include "prompts.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <ctime>
#include <cstdio>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

const QByteArray CopyC = R"(#include <stdio.h>
int main(void) {
    FILE *in = fopen("%1.in", "r"), *out = fopen("%1.out", "w");
    long long a = 0;
    if (fscanf(in, "%lld", &a) != 1) return 1;
    fprintf(out, "%lld\n", a);
    return 0;
}
)";

void writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
}

void makeContest(const QString &root)
{
    for (const QString &problem : {u"p"_s, u"q"_s}) {
        QString points;
        for (int i = 1; i <= 25; ++i) {
            writeFile(root + u"/data/%1/%1%2.in"_s.arg(problem).arg(i), QByteArray::number(i) + '\n');
            writeFile(root + u"/data/%1/%1%2.ans"_s.arg(problem).arg(i), QByteArray::number(i) + '\n');
            points += u"<point in=\"%1%2.in\" out=\"%1%2.ans\" time=\"1\" mem=\"64\"/>"_s.arg(problem).arg(i);
        }
        writeFile(root + u"/data/%1/.prb"_s.arg(problem),
                  uR"(<?xml version="1.0" encoding="UTF-8"?>
<problem type="TRA_0_4"><source dir="%1" file="%1" code="64"><language file="%1.c" cmd="gcc -O2 -o %1 %1.c"/></source>
<task input="%1.in" output="%1.out" checker="全文比较"><subtask score="100">%2</subtask></task></problem>
)"_s.arg(problem, points).toUtf8());
        for (int player = 1; player <= 4; ++player)
            writeFile(root + u"/src/c%1/%2/%2.c"_s.arg(player).arg(problem),
                      QString::fromUtf8(CopyC).arg(problem).toUtf8());
    }
    writeFile(root + u"/.qxj"_s, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<contest version=\"0.4\"><order>"
                              "<problem>p</problem><problem>q</problem></order></contest>\n");
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(1, atoi(argv[1])) : 3;
    QTemporaryDir work;
    qputenv("XDG_CONFIG_HOME", (work.path() + u"/config"_s).toUtf8());
    QCoreApplication::setApplicationName(u"qxj"_s);
    QDir::setCurrent(QCoreApplication::applicationDirPath() + u"/../.."_s);
    const QString judgeProgram = QDir::currentPath() + u"/qxj-judge"_s;
    Prompts::setScripted(true);

    std::vector<double> window, console, guiCpu;
    for (int round = 0; round < rounds; ++round) {
        const QString a = work.path() + u"/w%1"_s.arg(round);
        const QString b = work.path() + u"/c%1"_s.arg(round);
        makeContest(a);
        makeContest(b);

        MainWindow main;
        main.show();
        main.openContest(a);
        QAction *f9 = main.findChild<QAction *>(u"action_3"_s);
        QElapsedTimer timer;
        timer.start();
        timespec cpuBefore, cpuAfter;
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &cpuBefore);
        f9->trigger();
        while (main.isJudging() || !QFile::exists(a + u"/result/.reslist"_s))
            QTest::qWait(1);
        window.push_back(timer.nsecsElapsed() / 1e9);
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &cpuAfter);
        guiCpu.push_back(double(cpuAfter.tv_sec - cpuBefore.tv_sec)
                         + (cpuAfter.tv_nsec - cpuBefore.tv_nsec) / 1e9);

        QProcess judge;
        judge.setStandardOutputFile(QProcess::nullDevice());
        timer.restart();
        judge.start(judgeProgram, {b});
        judge.waitForFinished(-1);
        console.push_back(timer.nsecsElapsed() / 1e9);
        std::printf("round %d: window %.3f s (window thread CPU %.3f s), qxj-judge %.3f s (exit %d)\n",
                    round + 1, window.back(), guiCpu.back(), console.back(), judge.exitCode());
    }
    std::printf("200 points, median of %d: window %.3f s, qxj-judge %.3f s, ratio %.3f\n", rounds,
                median(window), median(console), median(window) / median(console));
    return 0;
}
