// The detail table during a long run: 10,000 point rows in cells of a heading
// and two subtasks of five points, appended to a shown table as the judge's
// rows arrive, one event loop pass after each. Prints the time per append
// (median, p95, worst), the time of the pass that follows it, and the
// resident memory after 2,000, 5,000 and 10,000 point rows.

#include "detailview.h"
#include "viewinfo.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTableWidget>
#include <QTextStream>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace {

constexpr int PointRows = 10000;

long residentKb()
{
    QFile status(u"/proc/self/status"_s);
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return -1;
}

double percentile(QList<qint64> values, double p)
{
    std::sort(values.begin(), values.end());
    return values[qsizetype(p * double(values.size() - 1))] / 1000.0;
}

} // namespace

int main(int argc, char **argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTextStream out(stdout);

    QTableWidget table;
    table.setSelectionMode(QAbstractItemView::NoSelection);
    table.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    table.setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    table.resize(342, 500);
    table.show();
    DetailView view(&table);

    QList<qint64> times;  // nanoseconds, every append
    QList<qint64> headingTimes;
    QList<qint64> passTimes;  // the event loop's pass after each append
    QElapsedTimer timer;
    auto append = [&](const ViewInfo &row) {
        timer.start();
        view.append(row);
        const qint64 t = timer.nsecsElapsed();
        times.append(t);
        if (row.kind == ViewInfo::Heading)
            headingTimes.append(t);
        // The event loop's pass between rows: the newest row made current and
        // scrolled to, layout, painting.
        timer.start();
        app.processEvents();
        passTimes.append(timer.nsecsElapsed());
    };

    const char states[] = {'A', 'A', 'A', 'W', 'A', 'T', 'A', 'A', 'R', 'A'};
    int points = 0;
    for (int cell = 0; points < PointRows; ++cell) {
        append(headerRow(u"p%1"_s.arg(cell), u"sum"_s, u"选手%1"_s.arg(cell)));
        for (int subtask = 0; subtask < 2; ++subtask) {
            for (int i = 0; i < 5; ++i) {
                const char state = states[(cell + points) % 10];
                append(pointRow(u"用时: 0.%1s 内存: %2MB"_s.arg(points % 97).arg(points % 13),
                                state, subtask * 5 + i + 1));
                ++points;
                if (points == 2000 || points == 5000 || points == 10000)
                    out << "point rows " << points << ": table rows " << table.rowCount()
                        << ", VmRSS " << residentKb() << " kB\n";
            }
            append(subtaskRow(subtask == 0 ? 50 : 30, 50));
        }
    }
    append(messageRow(u"- 测评结束 -"_s, 2));

    out << "appends " << times.size() << ": median " << percentile(times, 0.5) << " us, p95 "
        << percentile(times, 0.95) << " us, worst " << percentile(times, 1.0) << " us\n";
    out << "heading appends (trim included) " << headingTimes.size() << ": median "
        << percentile(headingTimes, 0.5) << " us, p95 " << percentile(headingTimes, 0.95)
        << " us\n";
    out << "event pass after each append (current row, scroll, paint): median "
        << percentile(passTimes, 0.5) << " us, p95 " << percentile(passTimes, 0.95) << " us\n";
    return 0;
}
