// Times test data detection on data directories of 200, 1000 and 2000 files
// (half inputs, half answers). Goal: 1000 files in under 1 s.
#include "detection.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

struct Scheme
{
    const char *label;
    const char *input;
    const char *answer;
};

// Names in the order a directory listing gives them.
QStringList schemeNames(const Scheme &scheme, int points)
{
    QStringList names;
    for (int i = 1; i <= points; ++i)
        names << QString::fromUtf8(scheme.input).arg(i) << QString::fromUtf8(scheme.answer).arg(i);
    std::sort(names.begin(), names.end(),
              [](const QString &a, const QString &b) { return a.compare(b, Qt::CaseInsensitive) < 0; });
    return names;
}

bool expected(const QList<DataPair> &pairs, const Scheme &scheme, int points)
{
    if (pairs.size() != points)
        return false;
    for (int i = 0; i < points; ++i) {
        if (pairs[i].first != QString::fromUtf8(scheme.input).arg(i + 1)
            || pairs[i].second != QString::fromUtf8(scheme.answer).arg(i + 1))
            return false;
    }
    return true;
}

}  // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, QString::fromLocal8Bit(argv[1]).toInt()) : 5;
    const Scheme schemes[] = {
        {"data%1.in/.ans", "data%1.in", "data%1.ans"},
        {"input%1.txt/output%1.txt", "input%1.txt", "output%1.txt"},
    };
    bool ok = true;
    std::printf("%-26s %6s %12s %12s  (%d runs)\n", "scheme", "files", "median ms", "min ms", runs);
    for (const Scheme &scheme : schemes) {
        for (int files : {200, 1000, 2000}) {
            const QStringList names = schemeNames(scheme, files / 2);
            std::vector<double> times;
            for (int run = 0; run < runs; ++run) {
                QElapsedTimer timer;
                timer.start();
                const QList<DataPair> pairs = detectTestData(names);
                times.push_back(double(timer.nsecsElapsed()) / 1e6);
                if (!expected(pairs, scheme, files / 2)) {
                    std::printf("wrong result for %s with %d files\n", scheme.label, files);
                    ok = false;
                }
            }
            std::sort(times.begin(), times.end());
            const double median = times[times.size() / 2];
            std::printf("%-26s %6d %12.1f %12.1f%s\n", scheme.label, files, median, times.front(),
                        files == 1000 ? (median < 1000.0 ? "  goal < 1000 ms: met" : "  goal < 1000 ms: MISSED") : "");
            ok = ok && (files != 1000 || median < 1000.0);
        }
    }
    return ok ? 0 : 1;
}
