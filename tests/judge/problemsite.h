#pragma once

// A contest with one problem, "sum", whose .prb is written from its parts,
// judged end to end through TestCore with real compilers and the real
// runner; and what the tests of problem kinds share.

#include "contest.h"
#include "contestfiles.h"
#include "gridcells.h"
#include "problemfile.h"
#include "testcore.h"
#include "viewinfo.h"
#include "xmlfile.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <memory>
#include <vector>

namespace problemsite {

using namespace Qt::StringLiterals;

inline constexpr int JudgeTimeoutMs = 120000;

inline bool writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// A+B from standard input to standard output.
inline const QByteArray StdioSum = R"(#include <stdio.h>
int main(void) {
    long long a = 0, b = 0;
    if (scanf("%lld %lld", &a, &b) != 2) return 1;
    printf("%lld\n", a + b);
    fprintf(stderr, "ignored\n");
    return 0;
}
)";

// One contest with problem "sum", whose .prb is written from its parts.
struct Site
{
    QTemporaryDir dir;
    Contest contest;
    QString taskAttributes = u"input=\"sum.in\" output=\"sum.out\" checker=\"全文比较\""_s;
    QString sourceExtra;
    QString languages = u"<language file=\"sum.c\" cmd=\"gcc -o sum sum.c -lm\"/>"
                        u"<language file=\"sum.cpp\" cmd=\"g++ -o sum sum.cpp -lm\"/>"_s;
    // Subtasks separated by ";", points by ","; point k is tests/k with tests/k.a.
    QString layout = u"100:1"_s;

    Site() { contest.rootDir = dir.path(); }
    QString problemDir() const { return contest.problemDir(u"sum"_s); }

    bool writeConfig() const
    {
        QString subtasks;
        for (const QString &subtask : layout.split(u';')) {
            subtasks += u"<subtask score=\"%1\">"_s.arg(subtask.section(u':', 0, 0));
            for (const QString &k : subtask.section(u':', 1).split(u',', Qt::SkipEmptyParts))
                subtasks += u"<point in=\"tests/%1\" out=\"tests/%1.a\" time=\"1\" mem=\"64\"/>"_s.arg(k);
            subtasks += u"</subtask>"_s;
        }
        const QString xml = u"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<problem type=\"TRA_0_4\">"
                            u"<source dir=\"sum\" file=\"sum\" code=\"100\">%1%2</source>"
                            u"<task %3>%4</task></problem>\n"_s.arg(languages, sourceExtra, taskAttributes, subtasks);
        return writeFile(contest.problemConfigPath(u"sum"_s), xml.toUtf8());
    }
    bool writePoint(int k, const QByteArray &input, const QByteArray &answer) const
    {
        const QString base = problemDir() + u"/tests/"_s + QString::number(k);
        return (input.isNull() || writeFile(base, input)) && writeFile(base + u".a"_s, answer);
    }
    bool submit(const QString &player, const QString &file, const QByteArray &source) const
    {
        return writeFile(contest.playerSubDir(player, u"sum"_s) + u'/' + file, source);
    }

    // Judges the players' cells in one run, to its end; the first one's
    // stored result. builds: how many checkers the run built or found.
    QDomDocument judge(const QStringList &players, qsizetype *builds = nullptr)
    {
        contest.loadProblems();
        TestCore core(contest);
        std::vector<std::unique_ptr<SiteItem>> cells;
        for (const QString &player : players) {
            cells.push_back(std::make_unique<SiteItem>());
            cells.back()->player = player;
            cells.back()->problem = u"sum"_s;
            cells.back()->displayName = player;
            core.workQueue << cells.back().get();
        }
        core.problemConfigs = &contest.problemConfigs;
        core.problemNames = contest.problemNames;
        QSignalSpy ended(&core, &TestCore::testEnd);
        core.startJudging();
        ended.wait(JudgeTimeoutMs);
        core.wait();
        if (builds)
            *builds = core.checkerBuilds.builds.size();
        return result(players.value(0));
    }
    QDomDocument judge(const QString &player) { return judge(QStringList{player}); }
    QDomDocument result(const QString &player) const
    {
        XmlFile file;
        file.load(contest.resultFilePath(player, u"sum"_s));
        return file.document;
    }
};

// "state:note" of every point (a run's time and memory shown as "时间"),
// then the cell's score.
inline QString verdicts(const QDomDocument &result)
{
    static const QRegularExpression used(u"时间: [0-9.]+s 内存: [0-9.]+MB"_s);
    QStringList points;
    const ElementQuery found = queryUnder(result, ResultXml::Point);
    for (int i = 0; i < found.count(); ++i) {
        const QDomElement point = found.item(i);
        const QString note = attributeText(point, ResultXml::Note).replace(used, u"时间"_s);
        points << attributeText(point, ResultXml::State) + u':' + note;
    }
    return points.join(u' ') + u" = "_s + QString::number(readScoreInfo(result).score);
}


inline QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A testlib checker for A+B, from the source tree.
inline QByteArray sumChecker()
{
    return readFile(QStringLiteral(QXJ_SOURCE_DIR "/tests/programs/testlibsum.cpp"));
}

// Our own stand-in for testlib.h, as a package ships it in files/.
inline QByteArray miniTestlib()
{
    return readFile(QStringLiteral(QXJ_SOURCE_DIR "/tests/programs/minitestlib.h"));
}

} // namespace problemsite
