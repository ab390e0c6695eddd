// Grid fill of a generated 1000 players x 10 problems contest: loadPlayers,
// the result list, then cellSummary of every cell; once from the result list
// and once from the 10,000 result files alone.

#include "contest.h"
#include "contestfiles.h"
#include "dirs.h"
#include "xmlfile.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTextStream>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace {
constexpr int Players = 1000;
constexpr int Problems = 10;
constexpr int Rounds = 7;

QString playerName(int i)
{
    // Some ids with spaces and Chinese, as real contests have.
    return i % 10 == 0 ? u"选手 %1"_s.arg(i, 4, 10, QLatin1Char('0')) : u"p%1"_s.arg(i, 4, 10, QLatin1Char('0'));
}

ScoreInfo resultOf(int player, int problem)
{
    const int n = player * Problems + problem;
    const char states[] = {'N', 'N', 'N', 'C', 'R', 'O', 'E', 'F', 'S', 'T'};
    return ScoreInfo{n % 101, (n % 997) / 100.0, states[n % 10]};
}

void generate(Contest &contest)
{
    QList<CellResult> cells;
    for (int p = 0; p < Players; ++p) {
        makePath(contest.playerDir(playerName(p)));
        for (int q = 0; q < Problems; ++q) {
            const QString problem = u"prob%1"_s.arg(q);
            const ScoreInfo info = resultOf(p, q);
            cells.append({playerName(p), problem, info});
            if (p == 0)
                makePath(contest.resultProblemDir(problem));
            QDomDocument document = newDocument();
            QDomElement task = document.createElement(u"task"_s);
            task.setAttribute(u"score"_s, info.score);
            task.setAttribute(u"time"_s, realText(info.time));
            task.setAttribute(u"state"_s, QString(QLatin1Char(info.state)));
            for (int s = 0; s < 5; ++s) {
                QDomElement subtask = document.createElement(u"subtask"_s);
                subtask.setAttribute(u"score"_s, info.score / 5);
                QDomElement point = document.createElement(u"point"_s);
                point.setAttribute(u"ratio"_s, u"1"_s);
                point.setAttribute(u"state"_s, u"A"_s);
                point.setAttribute(u"note"_s, u"用时: 0.01s 内存: 1.2MB"_s);
                subtask.appendChild(point);
                task.appendChild(subtask);
            }
            document.appendChild(task);
            // Plain writes: the safe writer's sync per file would make generating slow.
            QFile file(contest.resultFilePath(playerName(p), problem));
            if (file.open(QIODevice::WriteOnly))
                file.write(document.toByteArray(0));
        }
    }
    writeResultList(contest, cells);
}

struct Fill
{
    double ms = 0;
    qint64 checksum = 0;
};

Fill fillGrid(Contest &contest, const QStringList &problems)
{
    QElapsedTimer timer;
    timer.start();
    contest.loadPlayers();
    contest.loadResultList();
    Fill fill;
    for (const QString &player : std::as_const(contest.playerNames)) {
        for (const QString &problem : problems) {
            const ScoreInfo info = contest.cellSummary(player, problem);
            fill.checksum += info.score + info.state;
        }
    }
    fill.ms = timer.nsecsElapsed() / 1e6;
    return fill;
}

QString figures(QList<double> ms)
{
    std::sort(ms.begin(), ms.end());
    return u"median %1 ms, min %2 ms, max %3 ms"_s.arg(ms[ms.size() / 2], 0, 'f', 1)
        .arg(ms.first(), 0, 'f', 1)
        .arg(ms.last(), 0, 'f', 1);
}
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    QTemporaryDir dir;
    if (!dir.isValid())
        return 1;
    Contest contest;
    contest.rootDir = dir.path();
    QStringList problems;
    for (int q = 0; q < Problems; ++q)
        problems.append(u"prob%1"_s.arg(q));

    QElapsedTimer timer;
    timer.start();
    generate(contest);
    out << "generated " << Players << " players x " << Problems << " problems in "
        << timer.elapsed() << " ms (" << dir.path() << ")\n";

    qint64 expected = 0;
    for (int p = 0; p < Players; ++p)
        for (int q = 0; q < Problems; ++q)
            expected += resultOf(p, q).score + resultOf(p, q).state;

    const auto measure = [&](const char *label) {
        QList<double> ms;
        fillGrid(contest, problems);  // warm the page cache
        for (int r = 0; r < Rounds; ++r) {
            const Fill fill = fillGrid(contest, problems);
            if (fill.checksum != expected) {
                out << label << ": wrong cells read\n";
                return false;
            }
            ms.append(fill.ms);
        }
        out << label << ": " << figures(ms) << " over " << Rounds << " rounds\n";
        out.flush();
        return true;
    };

    if (!measure("grid fill from the result list"))
        return 1;
    removeFile(contest.resultListPath());
    if (!measure("grid fill from 10,000 result files"))
        return 1;
    return 0;
}
