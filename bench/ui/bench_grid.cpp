// Grid fill of a generated 1000 players x 10 problems contest through
// GridView::refresh, as the window does it: players, the result list, rows
// with their pictures, column widths and the sort by total. Cell pictures are
// uncached at the start of every round. Two score mixes: steps of 10 (what
// contests give) and every score from 0 to 100 (most distinct pictures).

#include "contest.h"
#include "contestfiles.h"
#include "dirs.h"
#include "gridview.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QPixmapCache>
#include <QProgressBar>
#include <QStackedWidget>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTextStream>
#include <QVBoxLayout>

#include <algorithm>
#include <ctime>

using namespace Qt::StringLiterals;

namespace {
constexpr int Players = 1000;
constexpr int Problems = 10;
constexpr int Rounds = 7;

QString playerName(int i)
{
    const QString number = u"%1"_s.arg(i, 4, 10, QLatin1Char('0'));
    return i % 10 == 0 ? u"选手 "_s + number : u'p' + number;
}

ScoreInfo resultOf(int player, int problem, bool everyScore)
{
    const int n = player * Problems + problem;
    const char states[] = {'N', 'N', 'N', 'N', 'N', 'C', 'R', 'E', ' ', 'N'};
    const int score = everyScore ? (n * 37) % 101 : ((n * 7) % 11) * 10;
    return ScoreInfo{score, (n % 997) / 100.0, states[n % 10]};
}

bool generate(Contest &contest, bool everyScore)
{
    const QByteArray subtask = "<subtask score=\"10\"><point time=\"1\" mem=\"64\"/></subtask>";
    const QByteArray config = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<problem type=\"TRA_0_4\">"
                              "<source dir=\"%1\" file=\"%1\"><language file=\"%1.cpp\"/></source><task>"
                              + subtask.repeated(10) + "</task></problem>\n";
    QList<CellResult> cells;
    for (int q = 0; q < Problems; ++q) {
        const QString problem = u"prob%1"_s.arg(q);
        makePath(contest.problemDir(problem));
        QFile file(contest.problemConfigPath(problem));
        const QByteArray text = QByteArray(config).replace("%1", problem.toUtf8());
        if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size())
            return false;
    }
    for (int p = 0; p < Players; ++p) {
        makePath(contest.playerDir(playerName(p)));
        for (int q = 0; q < Problems; ++q)
            cells.append({playerName(p), u"prob%1"_s.arg(q), resultOf(p, q, everyScore)});
    }
    return writeResultList(contest, cells);
}

// Processor time of the whole process: on a loaded machine the wall clock
// also counts other people's work.
double cpuMs()
{
    timespec now;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
}

double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTextStream out(stdout);

    // The window's arrangement: grid page, white page, progress bar below.
    QWidget window;
    window.resize(829, 531);
    auto *layout = new QVBoxLayout(&window);
    auto *pages = new QStackedWidget;
    auto *table = new QTableWidget;
    table->setIconSize(QSize(78, 28));
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setSelectionMode(QAbstractItemView::NoSelection);
    pages->addWidget(table);
    pages->addWidget(new QWidget);
    auto *progress = new QProgressBar;
    progress->hide();
    layout->addWidget(pages);
    layout->addWidget(progress);
    window.show();

    for (const bool everyScore : {false, true}) {
        QTemporaryDir dir;
        Contest contest;
        contest.rootDir = dir.path();
        if (!dir.isValid() || !generate(contest, everyScore)) {
            out << "could not write the contest\n";
            return 1;
        }
        contest.loadProblems();
        contest.loadRealNames();
        GridView view(table, progress, pages, contest);

        QList<double> times;
        QList<double> cpuTimes;
        int rows = 0;
        for (int round = 0; round < Rounds; ++round) {
            QPixmapCache::clear();
            QElapsedTimer clock;
            clock.start();
            const double cpuStart = cpuMs();
            view.refresh([] { return true; });
            times.append(clock.nsecsElapsed() / 1e6);
            cpuTimes.append(cpuMs() - cpuStart);
            rows = table->rowCount();
        }
        out << (everyScore ? "every score 0..100" : "scores in steps of 10") << ": " << rows << " x "
            << contest.problemNames.size() << " grid fill median " << Qt::fixed
            << qSetRealNumberPrecision(1) << median(times) << " ms, min "
            << *std::min_element(times.cbegin(), times.cend()) << " ms, max "
            << *std::max_element(times.cbegin(), times.cend()) << " ms; processor time median "
            << median(cpuTimes) << " ms (" << Rounds << " rounds)\n";
        view.clear();
    }
    return 0;
}
