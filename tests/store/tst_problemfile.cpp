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
        QTest::newRow("malformed without problem element") << QByteArray("<<<not xml") << true;
        QTest::newRow("doctype with entities") << QByteArray("<!DOCTYPE c [<!ENTITY e \"x\">]><c>&e;</c>") << true;
    }

    void guard()
    {
        QFETCH(QByteArray, existing);
        QFETCH(bool, rewritten);

        const QString problem = u"p"_s;
        QVERIFY(writeTestFile(m_contest.problemConfigPath(problem), existing));
        m_contest.loadProblems();
        QCOMPARE(m_contest.problemNames, QStringList{problem});
        QCOMPARE(mayRewriteConfig(m_contest.problemConfigs[problem].document), rewritten);

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
        // No problem, and nothing can be written there: no crash, nothing lost.
        QVERIFY(QDir().mkpath(m_contest.problemConfigPath(u"p"_s) + u"/inside"_s));
        m_contest.loadProblems();
        QVERIFY(m_contest.problemConfigs.isEmpty());
        QVERIFY(!::writeProblemConfig(m_contest, u"p"_s, u"1"_s, u"1"_s, u"c"_s, {}));
        QVERIFY(QFileInfo(m_contest.problemConfigPath(u"p"_s) + u"/inside"_s).isDir());
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
