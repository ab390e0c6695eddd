// qxj-judge --stats and --similarity, as a terminal runs them.

#include "contestfiles.h"
#include "sourcegen.h"
#include "statsfixture.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

const QString JudgeProgram = QStringLiteral(QXJ_JUDGE);

struct Outcome
{
    int status = -1;
    QString out;
    QString err;
};

Outcome judge(const QStringList &arguments, const QProcessEnvironment &environment =
                                                QProcessEnvironment::systemEnvironment())
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(JudgeProgram, arguments);
    Outcome outcome;
    if (!process.waitForFinished(120'000)) {
        process.kill();
        process.waitForFinished();
        return outcome;
    }
    outcome.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    outcome.out = QString::fromUtf8(process.readAllStandardOutput());
    outcome.err = QString::fromUtf8(process.readAllStandardError());
    return outcome;
}

} // namespace

class TestReportCommand : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void statistics();
    void similarity();
    void similarityWithoutTool();
    void usage_data();
    void usage();

private:
    QTemporaryDir m_dir;
};

void TestReportCommand::initTestCase()
{
    StatsFixture f(m_dir.path());
    f.addProblem(u"copy"_s, {2});
    f.addResult(u"std"_s, u"copy"_s, 0, 'N', {{{'W', 0.1, u"答案错误"_s}, {'A', 0.1}}});
    f.addResult(u"a"_s, u"copy"_s, 100, 'N', {{{'A', 0.1}, {'A', 0.1}}});
    SourceGenerator generator(5);
    const QString original = generator.program();
    f.addSource(u"a"_s, u"copy"_s, u"copy.cpp"_s, original.toUtf8());
    f.addSource(u"b"_s, u"copy"_s, u"copy.cpp"_s, generator.disguised(original).toUtf8());
    f.addSource(u"c"_s, u"copy"_s, u"copy.cpp"_s, generator.program().toUtf8());
}

void TestReportCommand::statistics()
{
    const Outcome outcome = judge({u"--stats"_s, m_dir.path()});
    QCOMPARE(outcome.status, 0);
    const QString page = m_dir.path() + u"/result/statistics.html"_s;
    QVERIFY(outcome.out.startsWith(u"copy 第1个测试点: 标准程序未通过 (答案错误: 答案错误)\n"_s));
    QVERIFY(outcome.out.endsWith(u"统计: "_s + page + u'\n'));
    const QByteArray html = readTestFile(page);
    QCOMPARE(html.count("<svg"), 3);
    QVERIFY(!QFileInfo::exists(m_dir.path() + u"/result/.reslist"_s));  // nothing judged
}

void TestReportCommand::similarity()
{
    if (QStandardPaths::findExecutable(u"sim_c++"_s).isEmpty()) {
        if (qEnvironmentVariableIsSet("QXJ_CI"))
            QFAIL("similarity-tester is not installed");
        QSKIP("similarity-tester is not installed");
    }
    const Outcome outcome = judge({u"--similarity"_s, u"--threshold"_s, u"50"_s, m_dir.path()});
    QCOMPARE(outcome.status, 0);
    const QStringList lines = outcome.out.split(u'\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 3);
    QCOMPARE(lines[0], u"说明: copy: 比较 3 份 C++ 源程序"_s);
    QVERIFY2(lines[1].endsWith(u"  copy (C++)  a [100]  b [未测评]"_s), qPrintable(lines[1]));
    QCOMPARE(lines[2], u"相似度: "_s + m_dir.path() + u"/result/similarity.html"_s);
    QVERIFY(readTestFile(m_dir.path() + u"/result/similarity.html"_s).contains("id=\"pair-1\""));
}

void TestReportCommand::similarityWithoutTool()
{
    QTemporaryDir empty;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(u"PATH"_s, empty.path());
    const Outcome outcome = judge({u"--similarity"_s, m_dir.path()}, environment);
    QCOMPARE(outcome.status, 1);
    QVERIFY(outcome.out.contains(u"找不到 sim_c++"_s));
    QVERIFY(outcome.err.contains(u"incomplete"_s));
    QVERIFY(readTestFile(m_dir.path() + u"/result/similarity.html"_s).contains("比较不完整"));
}

void TestReportCommand::usage_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("says");
    QTest::newRow("threshold too high")
        << QStringList{u"--similarity"_s, u"--threshold"_s, u"101"_s, u"."_s} << u"--threshold"_s;
    QTest::newRow("threshold not a number")
        << QStringList{u"--similarity"_s, u"--threshold=half"_s, u"."_s} << u"--threshold"_s;
    QTest::newRow("no folder") << QStringList{u"--stats"_s} << u"one contest directory"_s;
    QTest::newRow("no such folder") << QStringList{u"--stats"_s, u"/nonexistent/contest"_s}
                                    << u"no such directory"_s;
    QTest::newRow("not a contest") << QStringList{u"--stats"_s, u"/"_s} << u"not a contest directory"_s;
    QTest::newRow("an unknown option") << QStringList{u"--stats"_s, u"--fast"_s, u"."_s}
                                       << u"fast"_s;
}

void TestReportCommand::usage()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, says);
    const Outcome outcome = judge(arguments);
    QCOMPARE(outcome.status, 2);
    QVERIFY2(outcome.err.contains(says), qPrintable(outcome.err));
    QVERIFY(outcome.out.isEmpty());
}

QTEST_GUILESS_MAIN(TestReportCommand)
#include "tst_reportcommand.moc"
