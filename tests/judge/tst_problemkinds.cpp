// Problems in the shapes they come in today, judged end to end through
// TestCore with real compilers and the real runner: standard input and
// output.

#include "contest.h"
#include "contestfiles.h"
#include "gridcells.h"
#include "problemfile.h"
#include "runner.h"
#include "testcore.h"
#include "viewinfo.h"
#include "xmlfile.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QRegularExpression>
#include <QTest>

#include <memory>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

constexpr int JudgeTimeoutMs = 120000;

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// A+B from standard input to standard output.
const QByteArray StdioSum = R"(#include <stdio.h>
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
        Q_UNUSED(builds);
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
QString verdicts(const QDomDocument &result)
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

} // namespace

class TestProblemKinds : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void standardStreams_data();
    void standardStreams();
};

void TestProblemKinds::initTestCase()
{
    registerJudgeMetaTypes();
    QVERIFY(QDir::setCurrent(QStringLiteral(QXJ_BUILD_DIR)));
    QVERIFY2(QFileInfo(u"checker/全文比较"_s).isExecutable(), "the built full-text checker is missing");
}

void TestProblemKinds::standardStreams_data()
{
    QTest::addColumn<QByteArray>("source");
    QTest::addColumn<bool>("withInput");
    QTest::addColumn<QString>("expected");

    QTest::newRow("standard streams") << StdioSum << true << u"A:时间 A:时间 = 100"_s;
    QTest::newRow("wrong sum")
        << QByteArray(StdioSum).replace("a + b", "a - b") << true
        << u"W:标准输出:\"3\" 选手输出:\"-1\" W:标准输出:\"300\" 选手输出:\"-100\" = 0"_s;
    // Nothing named sum.in is there to read, and sum.out is not read.
    QTest::newRow("named files")
        << QByteArray(R"(#include <stdio.h>
int main(void) { long long a = 0, b = 0; FILE *in = fopen("sum.in", "r"), *out = fopen("sum.out", "w");
  if (in) fscanf(in, "%lld %lld", &a, &b); fprintf(out, "%lld\n", a + b); return in ? 0 : 4; })")
        << true << u"R:运行时错误: 4 R:运行时错误: 4 = 0"_s;
    QTest::newRow("missing input reads as empty")
        << QByteArray("#include <stdio.h>\nint main(void) { int c = getchar(); printf(\"%d\\n\", c); return 0; }\n")
        << false << u"A:时间 A:时间 = 100"_s;
}

void TestProblemKinds::standardStreams()
{
    QFETCH(QByteArray, source);
    QFETCH(bool, withInput);
    QFETCH(QString, expected);

    Site site;
    site.taskAttributes = u"input=\"\" output=\"\" stdio=\"1\" checker=\"全文比较\""_s;
    site.layout = u"50:1;50:2"_s;
    QVERIFY(site.writeConfig());
    QVERIFY(site.writePoint(1, withInput ? QByteArray("1 2\n") : QByteArray(), withInput ? "3\n" : "-1\n"));
    QVERIFY(site.writePoint(2, withInput ? QByteArray("100 200\n") : QByteArray(), withInput ? "300\n" : "-1\n"));
    QVERIFY(site.submit(u"p1"_s, u"sum.c"_s, source));
    QCOMPARE(verdicts(site.judge(u"p1"_s)), expected);
}

QTEST_GUILESS_MAIN(TestProblemKinds)
#include "tst_problemkinds.moc"
