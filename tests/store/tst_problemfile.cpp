#include "contest.h"
#include "problemfile.h"
#include "testfiles.h"

#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {
QDomDocument parse(const QString &xml)
{
    QDomDocument document;
    document.setContent(xml);
    return document;
}

// Compact forms of what the readers return, for table columns.
QString summary(const SourceSpec &s)
{
    return QStringList{s.dir, s.file, QString::number(s.codeLimitKb), s.codeLimitText, s.runexe}.join(u'|');
}

QString summary(const QList<LanguageSpec> &languages)
{
    QStringList parts;
    for (const LanguageSpec &l : languages)
        parts.append(l.file + u'=' + l.cmd);
    return parts.join(u';');
}

QString summary(const TaskSpec &t)
{
    QString text = QStringList{t.input, t.output, t.checker}.join(u'|');
    for (const SubtaskSpec &sub : t.subtasks) {
        text += u" ["_s + QString::number(sub.score);
        for (const PointSpec &p : sub.points)
            text += u' ' + QStringList{p.in, p.out, p.sub, QString::number(p.time), QString::number(p.mem)}.join(u',');
        text += u']';
    }
    return text;
}

const QString HandWritten = uR"(<?xml version="1.0" encoding="UTF-8"?>
<problem type="ANS_0_4" maker="me">
  <source dir="d" file="prog" code="64" runexe="prog.bin">
    <language file="a.cpp" cmd="g++ a.cpp"/>
  </source>
  <source dir="second" file="ignored"/>
  <language file="b.c" cmd="gcc b.c"/>
  <task input="in.txt" output="out.txt" checker="mine">
    <subtask score="40">
      <point in="1.in" out="1.ans" time="0.5" mem="64" sub="1.out"/>
      <group><point in="2.in" out="2.ans" time="1" mem="32"/></group>
    </subtask>
    <wrapper><subtask score="60"/></wrapper>
  </task>
  <task input="other"><subtask score="99"><point in="x"/></subtask></task>
</problem>)"_s;
}

class TestProblemFile : public QObject, public ContestFixture
{
    Q_OBJECT

    QDomDocument reread(const QString &problem)
    {
        XmlFile file;
        file.load(m_contest.problemConfigPath(problem));
        return file.document;
    }

private slots:
    void init() { QVERIFY(renewContest()); }

    void readers_data()
    {
        QTest::addColumn<QString>("xml");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("languages");
        QTest::addColumn<QString>("task");

        QTest::newRow("hand-written, every rule")
            << HandWritten << u"ANS_0_4"_s << u"d|prog|64|64|prog.bin"_s << u"a.cpp=g++ a.cpp;b.c=gcc b.c"_s
            << u"in.txt|out.txt|mine [40 1.in,1.ans,1.out,0.5,64 2.in,2.ans,,1,32] [60]"_s;
        QTest::newRow("kind from a root of any tag")
            << u"<config type='TRA_0_4'><problem type='ANS_0_4'/></config>"_s << u"TRA_0_4"_s << u"||0||"_s
            << QString() << u"||"_s;
        QTest::newRow("absent values") << u"<problem><source/><task><subtask><point/></subtask></task></problem>"_s
                                       << QString() << u"||0||"_s << QString() << u"|| [0 ,,,0,0]"_s;
        QTest::newRow("unreadable numbers")
            << u"<problem><source code='1k'/><task><subtask score='x'><point time='fast' mem='-'/></subtask></task></problem>"_s
            << QString() << u"||0|1k|"_s << QString() << u"|| [0 ,,,0,0]"_s;
        QTest::newRow("empty document") << QString() << QString() << u"||0||"_s << QString() << u"||"_s;
    }

    void readers()
    {
        QFETCH(QString, xml);
        QFETCH(QString, kind);
        QFETCH(QString, source);
        QFETCH(QString, languages);
        QFETCH(QString, task);

        const QDomDocument document = parse(xml);
        QCOMPARE(problemKind(document), kind);
        QCOMPARE(summary(problemSource(document)), source);
        QCOMPARE(summary(problemLanguages(document)), languages);
        QCOMPARE(summary(problemTask(document)), task);
    }

    void dialogDefaults_data()
    {
        QTest::addColumn<QString>("xml");
        QTest::addColumn<QString>("time");
        QTest::addColumn<QString>("mem");
        QTest::addColumn<QString>("checker");

        QTest::newRow("first point and first task") << HandWritten << u"0.5"_s << u"64"_s << u"mine"_s;
        QTest::newRow("point outside any task")
            << u"<problem><point time='3' mem='1'/><task checker='c'/></problem>"_s << u"3"_s << u"1"_s << u"c"_s;
        QTest::newRow("nothing") << u"<problem/>"_s << QString() << QString() << QString();
    }

    void dialogDefaults()
    {
        QFETCH(QString, xml);
        QFETCH(QString, time);
        QFETCH(QString, mem);
        QFETCH(QString, checker);
        const DialogDefaults defaults = problemDialogDefaults(parse(xml));
        QCOMPARE(defaults.time, time);
        QCOMPARE(defaults.mem, mem);
        QCOMPARE(defaults.checker, checker);
    }

    void writeProblemConfig_data()
    {
        QTest::addColumn<QString>("problem");
        QTest::addColumn<int>("pairCount");
        QTest::addColumn<QList<int>>("scores");

        // n pairs share 100 points: the last (100 mod n) get one more than 100 / n.
        const auto shares = [](int low, int lowCount, int highCount) {
            QList<int> s(lowCount, low);
            s.append(QList<int>(highCount, low + 1));
            return s;
        };
        QTest::newRow("no pairs") << u"sum"_s << 0 << QList<int>{};
        QTest::newRow("1 pair") << u"sum"_s << 1 << QList<int>{100};
        QTest::newRow("3 pairs") << u"sum"_s << 3 << QList<int>{33, 33, 34};
        QTest::newRow("7 pairs") << u"sum"_s << 7 << shares(14, 5, 2);
        QTest::newRow("101 pairs") << u"sum"_s << 101 << shares(0, 1, 100);
        QTest::newRow("200 pairs") << u"sum"_s << 200 << shares(0, 100, 100);
        QTest::newRow("name holding %s") << u"a%sb"_s << 2 << QList<int>{50, 50};
        QTest::newRow("Chinese name") << u"求和"_s << 4 << QList<int>{25, 25, 25, 25};
    }

    void writeProblemConfig()
    {
        QFETCH(QString, problem);
        QFETCH(int, pairCount);
        QFETCH(QList<int>, scores);

        QVERIFY(QDir().mkpath(m_contest.problemDir(problem)));
        QList<DataPair> pairs;
        for (int i = 1; i <= pairCount; ++i)
            pairs.append({problem + QString::number(i) + u".in"_s, problem + QString::number(i) + u".out"_s});
        QVERIFY(::writeProblemConfig(m_contest, problem, u"1.5"_s, u"256"_s, u"全文比较"_s, pairs));
        QCOMPARE(m_contest.problemConfigs.value(problem).path, m_contest.problemConfigPath(problem));

        // What is in memory and what was written read the same.
        for (const QDomDocument &document : {m_contest.problemConfigs.value(problem).document, reread(problem)}) {
            QCOMPARE(problemKind(document), KindTraditional);
            QCOMPARE(document.documentElement().tagName(), u"problem"_s);
            QCOMPARE(document.documentElement().attribute(u"maker"_s), u"pcdialog"_s);
            QVERIFY(mayRewriteConfig(document));
            QCOMPARE(summary(problemSource(document)), problem + u'|' + problem + u"|100|100|"_s);
            const QString pattern = u"%1.pas=fpc %1.pas;%1.cpp=g++ -o %1 %1.cpp -lm;%1.c=gcc -o %1 %1.c -lm"_s;
            QCOMPARE(summary(problemLanguages(document)), QString(pattern).replace(u"%1"_s, problem));

            const TaskSpec task = problemTask(document);
            QCOMPARE(task.input, problem + u".in"_s);
            QCOMPARE(task.output, problem + u".out"_s);
            QCOMPARE(task.checker, u"全文比较"_s);
            QList<int> written;
            for (int i = 0; i < task.subtasks.size(); ++i) {
                const SubtaskSpec &sub = task.subtasks[i];
                written.append(sub.score);
                QCOMPARE(sub.points.size(), 1);
                QCOMPARE(sub.points[0].in, pairs[i].first);
                QCOMPARE(sub.points[0].out, pairs[i].second);
                QCOMPARE(sub.points[0].time, 1.5);
                QCOMPARE(sub.points[0].mem, 256.0);
            }
            QCOMPARE(written, scores);
            QCOMPARE(problemTotals(document).fullScore, pairCount > 0 ? 100 : 0);
            QCOMPARE(problemTotals(document).totalTime, 1.5 * pairCount);
        }
        const QString text = QString::fromUtf8(readTestFile(m_contest.problemConfigPath(problem)));
        QVERIFY2(text.startsWith(u"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<problem"_s), qPrintable(text));
        QVERIFY2(text.contains(u"\n    <source"_s), qPrintable(text));
    }

    void extensionReaders_data()
    {
        QTest::addColumn<QString>("xml");
        QTest::addColumn<bool>("stdio");
        QTest::addColumn<QString>("checkerType");
        QTest::addColumn<QStringList>("graders");

        QTest::newRow("old file") << HandWritten << false << QString() << QStringList();
        QTest::newRow("everything")
            << u"<problem><source><grader file='g.cpp'/><x><grader file='g.h'/></x></source>"
               "<task stdio='1' checkertype='testlib' checker='files/check.cpp'/></problem>"_s
            << true << u"testlib"_s << QStringList{u"g.cpp"_s, u"g.h"_s};
        QTest::newRow("stdio 0") << u"<problem><task stdio='0'/></problem>"_s << false << QString() << QStringList();
    }

    void interactorReader_data()
    {
        QTest::addColumn<QString>("xml");
        QTest::addColumn<QString>("interactor");
        QTest::addColumn<bool>("stdio");

        QTest::newRow("old file") << HandWritten << QString() << false;
        QTest::newRow("interactive, stdio implied")
            << u"<problem><task input='a.in' output='a.out'><interactor path='files/interactor.cpp'/></task></problem>"_s
            << u"files/interactor.cpp"_s << true;
        QTest::newRow("interactive, stdio 0 overruled")
            << u"<problem><task stdio='0'><interactor path='i'/></task></problem>"_s << u"i"_s << true;
        QTest::newRow("interactor outside the task is not the task's")
            << u"<problem><interactor path='i'/><task/></problem>"_s << QString() << false;
    }

    void interactorReader()
    {
        QFETCH(QString, xml);
        QFETCH(QString, interactor);
        QFETCH(bool, stdio);
        const TaskSpec task = problemTask(parse(xml));
        QCOMPARE(task.interactor, interactor);
        QCOMPARE(task.interactive(), !interactor.isEmpty());
        QCOMPARE(task.stdio, stdio);
    }

    void writeInteractivePlan()
    {
        QVERIFY(QDir().mkpath(m_contest.problemDir(u"p"_s)));
        ProblemPlan plan;
        plan.time = u"1"_s;
        plan.mem = u"256"_s;
        plan.checker = u"files/check.cpp"_s;
        plan.checkerType = CheckerTestlib;
        plan.interactor = u"files/interactor.cpp"_s;
        plan.pairs = {{u"tests/1"_s, u"tests/1.a"_s}};
        QVERIFY(::writeProblemConfig(m_contest, u"p"_s, plan));

        XmlFile file;
        QVERIFY(file.load(m_contest.problemConfigPath(u"p"_s)));
        QVERIFY2(::configFault(file).isNull(), qPrintable(::configFault(file).reason));
        const TaskSpec task = problemTask(file.document);
        QCOMPARE(task.interactor, u"files/interactor.cpp"_s);
        QVERIFY(task.stdio);
        QCOMPARE(task.checker, u"files/check.cpp"_s);
        // Written as an element of the task, stdio said plainly as well.
        const QString text = QString::fromUtf8(readTestFile(m_contest.problemConfigPath(u"p"_s)));
        QVERIFY2(text.contains(u"<interactor path=\"files/interactor.cpp\"/>"_s), qPrintable(text));
        QVERIFY2(text.contains(u"stdio=\"1\""_s), qPrintable(text));
    }

    void extensionReaders()
    {
        QFETCH(QString, xml);
        QFETCH(bool, stdio);
        QFETCH(QString, checkerType);
        QFETCH(QStringList, graders);
        const QDomDocument document = parse(xml);
        QCOMPARE(problemTask(document).stdio, stdio);
        QCOMPARE(problemTask(document).checkerType, checkerType);
        QCOMPARE(problemSource(document).graders, graders);
    }

    void writePlan_data()
    {
        QTest::addColumn<QStringList>("graders");
        QTest::addColumn<QString>("languages");

        QTest::newRow("no grader")
            << QStringList() << u"p.pas=fpc p.pas;p.cpp=g++ -o p p.cpp -lm;p.c=gcc -o p p.c -lm"_s;
        QTest::newRow("C++ grader and header")
            << QStringList{u"grader.cpp"_s, u"grader.h"_s} << u"p.cpp=g++ -o p p.cpp grader.cpp -lm"_s;
        QTest::newRow("C grader") << QStringList{u"grader.c"_s} << u"p.c=gcc -o p p.c grader.c -lm"_s;
        QTest::newRow("both") << QStringList{u"a.cpp"_s, u"b.c"_s}
                              << u"p.cpp=g++ -o p p.cpp a.cpp -lm;p.c=gcc -o p p.c b.c -lm"_s;
    }

    void writePlan()
    {
        QFETCH(QStringList, graders);
        QFETCH(QString, languages);
        QVERIFY(QDir().mkpath(m_contest.problemDir(u"p"_s)));
        ProblemPlan plan;
        plan.time = u"2"_s;
        plan.mem = u"256"_s;
        plan.checker = u"files/check.cpp"_s;
        plan.checkerType = CheckerTestlib;
        plan.stdio = true;
        plan.graders = graders;
        for (int i = 1; i <= 4; ++i)
            plan.pairs.append({u"tests/%1"_s.arg(i), u"tests/%1.a"_s.arg(i)});
        plan.subtasks = {{30, {0, 1}}, {70, {2, 3}}};
        QVERIFY(::writeProblemConfig(m_contest, u"p"_s, plan));

        XmlFile file;
        QVERIFY(file.load(m_contest.problemConfigPath(u"p"_s)));
        QVERIFY2(::configFault(file).isNull(), qPrintable(::configFault(file).reason));
        QCOMPARE(summary(problemLanguages(file.document)), languages);
        QCOMPARE(problemSource(file.document).graders, graders);
        const TaskSpec task = problemTask(file.document);
        QVERIFY(task.stdio);
        QCOMPARE(task.checkerType, CheckerTestlib);
        QCOMPARE(summary(task), u"||files/check.cpp [30 tests/1,tests/1.a,,2,256 tests/2,tests/2.a,,2,256]"
                                u" [70 tests/3,tests/3.a,,2,256 tests/4,tests/4.a,,2,256]"_s);
    }

    void dialogTextsWrittenVerbatim()
    {
        QVERIFY(QDir().mkpath(m_contest.problemDir(u"p"_s)));
        QVERIFY(::writeProblemConfig(m_contest, u"p"_s, u" 1.0 "_s, u"abc"_s, u"my <checker> & co"_s,
                                     {{u"p1.in"_s, u"p1.out"_s}}));
        const QDomDocument document = reread(u"p"_s);
        QCOMPARE(problemDialogDefaults(document).time, u" 1.0 "_s);
        QCOMPARE(problemDialogDefaults(document).mem, u"abc"_s);
        QCOMPARE(problemDialogDefaults(document).checker, u"my <checker> & co"_s);
    }

    void guard_data()
    {
        QTest::addColumn<QByteArray>("existing");
        QTest::addColumn<bool>("rewritten");

        QTest::newRow("written by the dialog")
            << QByteArray("<?xml version=\"1.0\"?><problem type=\"TRA_0_4\" maker=\"pcdialog\"/>") << true;
        QTest::newRow("maker other than the dialog")
            << QByteArray("<?xml version=\"1.0\"?><problem type=\"TRA_0_4\" maker=\"hand\"/>") << false;
        QTest::newRow("problem root without maker")
            << QByteArray("<problem type=\"TRA_0_4\"><task/></problem>") << false;
        QTest::newRow("maker compared exactly") << QByteArray("<problem maker=\"PCDialog\"/>") << false;
        QTest::newRow("root other than problem") << QByteArray("<config type=\"TRA_0_4\" maker=\"hand\"/>") << true;
        QTest::newRow("problem below another root, first one counts")
            << QByteArray("<config><problem maker=\"pcdialog\"/><problem maker=\"x\"/></config>") << true;
        QTest::newRow("doctype with entities") << QByteArray("<!DOCTYPE c [<!ENTITY e \"x\">]><c>&e;</c>") << true;
        QTest::newRow("empty file") << QByteArray("") << true;
        QTest::newRow("only white space") << QByteArray(" \n\t\n") << true;
        // A file that stops being XML is somebody's work unless it shows the dialog's mark.
        QTest::newRow("malformed without problem element") << QByteArray("<<<not xml") << false;
        QTest::newRow("truncated hand-written file")
            << QByteArray("<problem type=\"TRA_0_4\"><task><subtask score=\"50\"><point in=\"1.in\"") << false;
        QTest::newRow("truncated file of the dialog")
            << QByteArray("<problem type=\"TRA_0_4\" maker=\"pcdialog\"><task><subtask") << true;
    }

    void guard()
    {
        QFETCH(QByteArray, existing);
        QFETCH(bool, rewritten);

        const QString problem = u"p"_s;
        QVERIFY(writeTestFile(m_contest.problemConfigPath(problem), existing));
        m_contest.loadProblems();
        QCOMPARE(m_contest.problemNames, QStringList{problem});
        QCOMPARE(mayReplaceConfigFile(m_contest.problemConfigs[problem]), rewritten);

        QCOMPARE(::writeProblemConfig(m_contest, problem, u"1"_s, u"128"_s, u"c"_s, {{u"1.in"_s, u"1.out"_s}}),
                 rewritten);
        if (rewritten) {
            const QDomDocument document = reread(problem);
            QCOMPARE(document.documentElement().attribute(u"maker"_s), u"pcdialog"_s);
            QCOMPARE(problemTask(document).subtasks.size(), 1);
            QCOMPARE(document.childNodes().count(), 2);  // declaration and root, nothing left over
        } else {
            QCOMPARE(readTestFile(m_contest.problemConfigPath(problem)), existing);
        }
    }

    void configurationPathIsADirectory()
    {
        // A problem that is not judged, and nothing can be written there: no
        // crash, nothing lost.
        QVERIFY(QDir().mkpath(m_contest.problemConfigPath(u"p"_s) + u"/inside"_s));
        m_contest.loadProblems();
        QCOMPARE(m_contest.problemFaults.value(u"p"_s).reason, u"不是普通文件（目录）"_s);
        QVERIFY(!::writeProblemConfig(m_contest, u"p"_s, u"1"_s, u"1"_s, u"c"_s, {}));
        QVERIFY(QFileInfo(m_contest.problemConfigPath(u"p"_s) + u"/inside"_s).isDir());
    }

    // The window may have loaded nothing, or something else, for the
    // problem: the file on disk decides.
    void guardReadsTheFileOnDisk_data()
    {
        QTest::addColumn<QByteArray>("loaded");  // what the contest holds; empty: no entry
        QTest::addColumn<QByteArray>("onDisk");
        QTest::addColumn<bool>("rewritten");

        const QByteArray dialog = "<problem type=\"TRA_0_4\" maker=\"pcdialog\"/>";
        const QByteArray hand = "<problem type=\"TRA_0_4\"><task/></problem>";
        QTest::newRow("copied in after loading") << QByteArray() << hand << false;
        QTest::newRow("replaced by a hand-written file") << dialog << hand << false;
        QTest::newRow("made the dialog's since") << hand << dialog << true;
    }

    void guardReadsTheFileOnDisk()
    {
        QFETCH(QByteArray, loaded);
        QFETCH(QByteArray, onDisk);
        QFETCH(bool, rewritten);

        const QString problem = u"p"_s;
        QVERIFY(QDir().mkpath(m_contest.problemDir(problem)));
        if (!loaded.isEmpty()) {
            QVERIFY(writeTestFile(m_contest.problemConfigPath(problem), loaded));
            m_contest.loadProblems();
        }
        QVERIFY(writeTestFile(m_contest.problemConfigPath(problem), onDisk));
        QCOMPARE(::writeProblemConfig(m_contest, problem, u"1"_s, u"128"_s, u"c"_s, {}), rewritten);
        if (!rewritten)
            QCOMPARE(readTestFile(m_contest.problemConfigPath(problem)), onDisk);
        else
            QCOMPARE(reread(problem).documentElement().attribute(u"maker"_s), u"pcdialog"_s);
    }

    void configFault_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("line");
        QTest::addColumn<QString>("reason");  // the start of it; empty: no fault

        const auto traditional = [](const char *points, const char *score = "100") {
            return QByteArray("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                              "<problem type=\"TRA_0_4\">\n"
                              "<task input=\"a.in\" output=\"a.out\" checker=\"c\">\n"
                              "<subtask score=\"") + score + "\">\n" + points + "</subtask>\n</task>\n</problem>\n";
        };
        const QByteArray good = "<point in=\"1.in\" out=\"1.ans\" time=\"1\" mem=\"128\"/>\n";
        QTest::newRow("valid") << traditional(good) << 0 << QString();
        QTest::newRow("fractional limits") << traditional("<point in=\"1\" out=\"1\" time=\"0.05\" mem=\"0.5\"/>\n")
                                           << 0 << QString();
        QTest::newRow("subtask without points earns its score") << traditional("") << 0 << QString();
        QTest::newRow("answers without limits")
            << QByteArray("<problem type=\"ANS_0_4\"><task><subtask score=\"10\">"
                          "<point in=\"1.in\" out=\"1.ans\" sub=\"1.out\"/></subtask></task></problem>")
            << 0 << QString();
        QTest::newRow("absent score reads 0") << traditional(good).replace(" score=\"100\"", "") << 0 << QString();
        QTest::newRow("limits outside the first task are not read")
            << QByteArray("<problem type=\"TRA_0_4\"><task/><task><subtask><point mem=\"0\"/></subtask></task></problem>")
            << 0 << QString();

        QTest::newRow("empty") << QByteArray() << 0 << u"文件为空"_s;
        QTest::newRow("white space") << QByteArray("\n  \n") << 0 << u"文件为空"_s;
        QTest::newRow("garbage") << QByteArray("\x01\x02 garbage") << 1 << u"XML 格式错误: "_s;
        const QByteArray whole = traditional(good + good + good);
        QTest::newRow("truncated") << whole.left(whole.indexOf("<point", whole.indexOf("<point") + 1) + 12)
                                   << 6 << u"XML 格式错误: "_s;
        QTest::newRow("billion laughs")
            << QByteArray("<?xml version=\"1.0\"?>\n<!DOCTYPE p [\n<!ENTITY a \"aaaaaaaaaa\">\n"
                          "<!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\">\n"
                          "<!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;\">\n"
                          "<!ENTITY d \"&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;\">\n"
                          "<!ENTITY e \"&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;\">\n"
                          "<!ENTITY f \"&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;\">\n"
                          "<!ENTITY g \"&f;&f;&f;&f;&f;&f;&f;&f;&f;&f;\">\n"
                          "<!ENTITY h \"&g;&g;&g;&g;&g;&g;&g;&g;&g;&g;\">\n"
                          "<!ENTITY i \"&h;&h;&h;&h;&h;&h;&h;&h;&h;&h;\">\n"
                          "]>\n<problem type=\"TRA_0_4\">&i;</problem>\n")
            << 13 << u"XML 格式错误: "_s;
        QTest::newRow("unknown kind") << QByteArray("<?xml version=\"1.0\"?>\n<problem type=\"TRA_0_5\"/>")
                                      << 2 << u"试题类型 \"TRA_0_5\" 未知"_s;
        QTest::newRow("no kind") << QByteArray("<problem/>") << 1 << u"没有试题类型"_s;
        QTest::newRow("memory 0") << traditional("<point in=\"1\" out=\"1\" time=\"1\" mem=\"0\"/>\n")
                                  << 5 << u"第 1 个测试点的内存限制 0 不是正数"_s;
        QTest::newRow("negative memory") << traditional("<point in=\"1\" out=\"1\" time=\"1\" mem=\"-64\"/>\n")
                                         << 5 << u"第 1 个测试点的内存限制 -64 不是正数"_s;
        QTest::newRow("time not finite") << traditional("<point in=\"1\" out=\"1\" time=\"inf\" mem=\"1\"/>\n")
                                         << 5 << u"第 1 个测试点的时间限制 \"inf\" 不是数"_s;
        QTest::newRow("time not a number") << traditional("<point in=\"1\" out=\"1\" time=\"nan\" mem=\"1\"/>\n")
                                           << 5 << u"第 1 个测试点的时间限制 \"nan\" 不是数"_s;
        QTest::newRow("time with a unit") << traditional("<point in=\"1\" out=\"1\" time=\"1s\" mem=\"1\"/>\n")
                                          << 5 << u"第 1 个测试点的时间限制 \"1s\" 不是数"_s;
        QTest::newRow("time beyond any run") << traditional("<point in=\"1\" out=\"1\" time=\"1e12\" mem=\"1\"/>\n")
                                             << 5 << u"第 1 个测试点的时间限制 1e12 过大"_s;
        QTest::newRow("no memory limit") << traditional("<point in=\"1\" out=\"1\" time=\"1\"/>\n")
                                         << 5 << u"第 1 个测试点的内存限制未设置"_s;
        QTest::newRow("third point counted across subtasks")
            << traditional(good + "</subtask>\n<subtask score=\"1\">\n" + good
                           + "<point in=\"3\" out=\"3\" time=\"-1\" mem=\"1\"/>\n")
            << 9 << u"第 3 个测试点的时间限制 -1 不是正数"_s;
        QTest::newRow("score beyond an int") << traditional(good, "2147483648") << 4
                                             << u"子任务分值 2147483648 超出整数范围"_s;
        QTest::newRow("score not a number") << traditional(good, "ten") << 4 << u"子任务分值 \"ten\" 不是整数"_s;

        // The extension: what this version knows reads as valid, what it
        // does not is reported rather than judged another way.
        const auto extended = [&](const char *taskAttributes, const char *source = "") {
            return QByteArray("<problem type=\"TRA_0_4\">\n<source dir=\"a\" file=\"a\" code=\"1\">") + source
                   + "</source>\n<task checker=\"c\" " + taskAttributes + ">\n<subtask score=\"1\">\n" + good
                   + "</subtask>\n</task>\n</problem>\n";
        };
        QTest::newRow("standard input and output") << extended("stdio=\"1\" input=\"\" output=\"\"") << 0 << QString();
        QTest::newRow("named files said plainly") << extended("stdio=\"0\"") << 0 << QString();
        QTest::newRow("stdio unknown") << extended("stdio=\"yes\"") << 3 << u"标准输入输出 (stdio) \"yes\" 未知"_s;
        QTest::newRow("testlib checker in files/")
            << extended("checkertype=\"testlib\" checker=\"files/check.cpp\"").replace("checker=\"c\" ", "")
            << 0 << QString();
        QTest::newRow("testlib checker above the folder")
            << extended("checkertype=\"testlib\" checker=\"../x.cpp\"").replace("checker=\"c\" ", "") << 3
            << u"校验器 \"../x.cpp\" 不在试题目录中"_s;
        QTest::newRow("testlib checker absolute")
            << extended("checkertype=\"testlib\" checker=\"/bin/true\"").replace("checker=\"c\" ", "") << 3
            << u"校验器 \"/bin/true\" 不在试题目录中"_s;
        QTest::newRow("testlib checker unnamed")
            << extended("checkertype=\"testlib\" checker=\"\"").replace("checker=\"c\" ", "") << 3
            << u"校验器 \"\" 不在试题目录中"_s;
        QTest::newRow("graders") << extended("", "<grader file=\"grader.cpp\"/><grader file=\"grader.h\"/>") << 0
                                 << QString();
        QTest::newRow("grader in a subfolder") << extended("", "<grader file=\"lib/grader.cpp\"/>") << 2
                                               << u"交互库文件 \"lib/grader.cpp\" 不在试题目录中"_s;
        QTest::newRow("grader above the folder") << extended("", "<grader file=\"..\"/>") << 2
                                                 << u"交互库文件 \"..\" 不在试题目录中"_s;
        QTest::newRow("grader unnamed") << extended("", "<grader/>") << 2 << u"交互库文件 \"\" 不在试题目录中"_s;
        QTest::newRow("checker type unknown") << extended("checkertype=\"special\"") << 3
                                              << u"校验器类型 \"special\" 未知"_s;

        // Interactive tasks: an <interactor> in the task, stdio implied.
        const auto interactive = [&](const char *interactors, const char *kind = "TRA_0_4") {
            return QByteArray("<problem type=\"") + kind + "\">\n<task checker=\"\">\n" + interactors
                   + "\n<subtask score=\"1\">\n" + good + "</subtask>\n</task>\n</problem>\n";
        };
        QTest::newRow("interactor source") << interactive("<interactor path=\"files/interactor.cpp\"/>") << 0
                                           << QString();
        QTest::newRow("interactor executable") << interactive("<interactor path=\"interactor\"/>") << 0 << QString();
        QTest::newRow("interactor above the folder") << interactive("<interactor path=\"../i.cpp\"/>") << 3
                                                     << u"交互器 \"../i.cpp\" 不在试题目录中"_s;
        QTest::newRow("interactor absolute") << interactive("<interactor path=\"/usr/bin/yes\"/>") << 3
                                             << u"交互器 \"/usr/bin/yes\" 不在试题目录中"_s;
        QTest::newRow("interactor unnamed") << interactive("<interactor/>") << 3 << u"交互器 \"\" 不在试题目录中"_s;
        QTest::newRow("two interactors")
            << interactive("<interactor path=\"a.cpp\"/>\n<interactor path=\"b.cpp\"/>") << 4 << u"交互器多于一个"_s;
        QTest::newRow("interactor on answers")
            << QByteArray("<problem type=\"ANS_0_4\">\n<task>\n<interactor path=\"i.cpp\"/>\n<subtask score=\"1\">"
                          "<point in=\"1.in\" out=\"1.ans\" sub=\"1.out\"/></subtask></task></problem>")
            << 3 << u"提交答案题不能有交互器"_s;
    }

    void configFault()
    {
        QFETCH(QByteArray, content);
        QFETCH(int, line);
        QFETCH(QString, reason);

        const QString path = m_contest.problemConfigPath(u"p"_s);
        QVERIFY(writeTestFile(path, content));
        XmlFile file;
        QVERIFY(file.load(path));
        const ConfigFault fault = ::configFault(file);
        QVERIFY2(fault.reason.startsWith(reason), qPrintable(fault.reason));
        QCOMPARE(fault.isNull(), reason.isEmpty());
        QCOMPARE(fault.line, line);
    }

    void failedWriteKeepsOldFile()
    {
        const QString problem = u"p"_s;
        const QByteArray old = "<problem maker=\"pcdialog\" type=\"TRA_0_4\"><task/></problem>";
        QVERIFY(writeTestFile(m_contest.problemConfigPath(problem), old));
        m_contest.loadProblems();
        QList<DataPair> pairs;
        for (int i = 0; i < 200; ++i)
            pairs.append({QString(40, u'i'), QString(40, u'o')});
        const bool written = withFullDisk(
            [&] { return ::writeProblemConfig(m_contest, problem, u"1"_s, u"1"_s, u"c"_s, pairs); });
        QVERIFY(!written);
        QCOMPARE(readTestFile(m_contest.problemConfigPath(problem)), old);
    }
};

QTEST_GUILESS_MAIN(TestProblemFile)
#include "tst_problemfile.moc"
