#pragma once

// Hand-made contests for the statistics and similarity tests: problem
// configurations, result files point by point, and players' sources.

#include "contest.h"
#include "testfiles.h"

#include <QDirIterator>
#include <QFile>
#include <QString>
#include <QStringList>

#include <initializer_list>

struct FixturePoint
{
    FixturePoint(char state, double time = -1.0, const QString &note = QString())
        : state(state), time(time), note(note)
    {
    }
    char state;
    double time;  // written as the "time" attribute when not negative
    QString note;
};

class StatsFixture
{
public:
    explicit StatsFixture(const QString &root) { contest.rootDir = root; }

    // A traditional problem: subtasks of the given point counts, each worth
    // 100 / subtasks, every point with the time limit given; sources
    // <problem>.cpp, <problem>.c and <problem>.pas in folder <problem>.
    void addProblem(const QString &name, std::initializer_list<int> subtaskPoints,
                    double timeLimit = 1.0, const QString &type = QStringLiteral("TRA_0_4"))
    {
        QString xml = QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<problem type=\"%1\">\n"
                                     "<source dir=\"%2\" file=\"%2\" code=\"64\">"
                                     "<language file=\"%2.cpp\" cmd=\"g++ -o %2 %2.cpp\"/>"
                                     "<language file=\"%2.c\" cmd=\"gcc -o %2 %2.c\"/>"
                                     "<language file=\"%2.pas\" cmd=\"fpc %2.pas\"/></source>\n"
                                     "<task input=\"%2.in\" output=\"%2.out\" checker=\"全文比较\">\n")
                          .arg(type, name);
        const int score = 100 / int(subtaskPoints.size());
        for (const int points : subtaskPoints) {
            xml += QStringLiteral("<subtask score=\"%1\">\n").arg(score);
            for (int p = 0; p < points; ++p)
                xml += QStringLiteral("<point in=\"%1.in\" out=\"%1.ans\" time=\"%2\" mem=\"64\"/>\n")
                           .arg(p)
                           .arg(timeLimit);
            xml += QStringLiteral("</subtask>\n");
        }
        xml += QStringLiteral("</task>\n</problem>\n");
        QVERIFY(writeTestFile(contest.problemConfigPath(name), xml.toUtf8()));
    }

    void addPlayer(const QString &player) { QDir().mkpath(contest.playerDir(player)); }

    // A result file: the task's summary, then one subtask per list of points.
    void addResult(const QString &player, const QString &problem, int score, char state,
                   const QList<QList<FixturePoint>> &subtasks = {})
    {
        addPlayer(player);
        QString xml = QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                                     "<task score=\"%1\" time=\"0.5\" state=\"%2\">")
                          .arg(score)
                          .arg(QLatin1Char(state));
        for (const QList<FixturePoint> &points : subtasks) {
            xml += QStringLiteral("<subtask score=\"0\">");
            for (const FixturePoint &point : points) {
                xml += QStringLiteral("<point ratio=\"%1\" state=\"%2\" note=\"%3\"")
                           .arg(point.state == 'A' ? 1 : 0)
                           .arg(QLatin1Char(point.state))
                           .arg(point.note.toHtmlEscaped());
                if (point.time >= 0)
                    xml += QStringLiteral(" time=\"%1\"").arg(point.time);
                xml += QStringLiteral("/>");
            }
            xml += QStringLiteral("</subtask>");
        }
        xml += QStringLiteral("</task>\n");
        QVERIFY(writeTestFile(contest.resultFilePath(player, problem), xml.toUtf8()));
    }

    void addSource(const QString &player, const QString &problem, const QString &file,
                   const QByteArray &text)
    {
        QVERIFY(writeTestFile(contest.playerFile(player, problem, file), text));
    }

    // The contest as the window holds it once opened.
    Contest &opened()
    {
        contest.loadProblems();
        contest.loadRealNames();
        contest.loadPlayers();
        contest.loadResultList();
        return contest;
    }

    Contest contest;
};

// The children of this process, from every thread's list: a similarity run
// must leave none behind.
inline QStringList childProcesses()
{
    QStringList children;
    QDirIterator tasks(QStringLiteral("/proc/self/task"), QDir::Dirs | QDir::NoDotAndDotDot);
    while (tasks.hasNext()) {
        QFile file(tasks.next() + QStringLiteral("/children"));
        if (file.open(QIODevice::ReadOnly))
            children += QString::fromLatin1(file.readAll()).split(u' ', Qt::SkipEmptyParts);
    }
    return children;
}
