// What a problem folder says about its configuration: packages read from
// their problem.xml, testlib checkers, interactors and grader files found
// among its files, and what the configuration file then holds.

#include "contest.h"
#include "package.h"
#include "packagefixture.h"
#include "problemsetup.h"

#include <QTemporaryDir>
#include <QtTest>

using namespace packagefixture;

using Subtasks = QList<QPair<int, QList<int>>>;

namespace {

const QByteArray TestlibChecker = "#include \"testlib.h\"\nint main(int c, char **v) { registerTestlibCmd(c, v); }\n";

QByteArray package(const QByteArray &testset, const QByteArray &judging = "input-file=\"\" output-file=\"\"")
{
    return "<problem><judging " + judging + "><testset name=\"tests\"><time-limit>2500</time-limit>"
           "<memory-limit>67108864</memory-limit>" + testset + "</testset></judging></problem>";
}

}  // namespace

class ProblemSetupTest : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void pathPattern_data();
    void pathPattern();
    void limitTexts_data();
    void limitTexts();
    void faultyPackage_data();
    void faultyPackage();
    void packageSubtasks_data();
    void packageSubtasks();
    void wholePackage_data();
    void wholePackage();
    void missingTestData();
    void testlibSources_data();
    void testlibSources();
    void graders_data();
    void graders();
    void plainFolder();
    void writtenConfiguration_data();
    void writtenConfiguration();
    void packageStreams_data();
    void packageStreams();

private:
    QString dir() const { return m_dir->path(); }
    std::unique_ptr<QTemporaryDir> m_dir;
};

void ProblemSetupTest::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void ProblemSetupTest::pathPattern_data()
{
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("expected");
    QTest::newRow("%02d") << QStringLiteral("tests/%02d") << 7 << QStringLiteral("tests/07");
    QTest::newRow("%02d past two digits") << QStringLiteral("tests/%02d.a") << 123 << QStringLiteral("tests/123.a");
    QTest::newRow("%03d") << QStringLiteral("t/%03d.in") << 5 << QStringLiteral("t/005.in");
    QTest::newRow("%d") << QStringLiteral("tests/%d") << 12 << QStringLiteral("tests/12");
    QTest::newRow("%3d pads with spaces") << QStringLiteral("%3d") << 4 << QStringLiteral("  4");
    QTest::newRow("%%") << QStringLiteral("a%%%d") << 1 << QStringLiteral("a%1");
    QTest::newRow("%s is no test number") << QStringLiteral("tests/%s") << 1 << QString();
    QTest::newRow("% at the end") << QStringLiteral("tests/%") << 1 << QString();
    QTest::newRow("no conversion") << QStringLiteral("tests/input") << 3 << QStringLiteral("tests/input");
}

void ProblemSetupTest::pathPattern()
{
    QFETCH(QString, pattern);
    QFETCH(int, index);
    QFETCH(QString, expected);
    QCOMPARE(expandPathPattern(pattern, index), expected);
}

void ProblemSetupTest::limitTexts_data()
{
    QTest::addColumn<double>("milliseconds");
    QTest::addColumn<double>("bytes");
    QTest::addColumn<QString>("seconds");
    QTest::addColumn<QString>("megabytes");
    QTest::newRow("1 s, 256 MB") << 1000.0 << 268435456.0 << QStringLiteral("1") << QStringLiteral("256");
    QTest::newRow("2.5 s, 64 MB") << 2500.0 << 67108864.0 << QStringLiteral("2.5") << QStringLiteral("64");
    QTest::newRow("1 ms, a decimal megabyte") << 1.0 << 1000000.0 << QStringLiteral("0.001")
                                              << QStringLiteral("0.953674");
    QTest::newRow("15 s, 1 GB") << 15000.0 << 1073741824.0 << QStringLiteral("15") << QStringLiteral("1024");
}

void ProblemSetupTest::limitTexts()
{
    QFETCH(double, milliseconds);
    QFETCH(double, bytes);
    QFETCH(QString, seconds);
    QFETCH(QString, megabytes);
    QCOMPARE(secondsText(milliseconds), seconds);
    QCOMPARE(megabytesText(bytes), megabytes);
}

void ProblemSetupTest::faultyPackage_data()
{
    QTest::addColumn<QByteArray>("xml");
    QTest::addColumn<QString>("fault");  // a part of it
    QTest::addColumn<int>("line");
    QTest::newRow("cut short") << QByteArray("<problem>\n<judging>\n<testset>") << QStringLiteral("格式错误") << 3;
    QTest::newRow("unclosed element") << QByteArray("<problem>\n<judging></testset></problem>")
                                      << QStringLiteral("格式错误") << 2;
    QTest::newRow("entity declarations")
        << QByteArray("<!DOCTYPE problem [<!ENTITY a \"aaaaaaaaaa\">]>\n<problem>&a;</problem>")
        << QStringLiteral("DOCTYPE") << 1;
    QTest::newRow("another root") << QByteArray("<contest/>") << QStringLiteral("根元素") << 1;
    QTest::newRow("no testset") << QByteArray("<problem><judging/></problem>") << QStringLiteral("testset") << 0;
    QTest::newRow("time limit no number")
        << QByteArray("<problem><judging><testset>\n<time-limit>fast</time-limit></testset></judging></problem>")
        << QStringLiteral("时间限制") << 2;
    QTest::newRow("negative memory limit")
        << QByteArray("<problem><judging><testset><time-limit>1000</time-limit>"
                      "<memory-limit>-1</memory-limit></testset></judging></problem>")
        << QStringLiteral("内存限制") << 1;
    QTest::newRow("no memory limit")
        << QByteArray("<problem><judging><testset><time-limit>1000</time-limit></testset></judging></problem>")
        << QStringLiteral("内存限制") << 0;
    QTest::newRow("points no number") << package("<tests><test points=\"ten\"/></tests>") << QStringLiteral("points")
                                      << 1;
    QTest::newRow("test count no number") << package("<test-count>many</test-count>")
                                          << QStringLiteral("test-count") << 1;
}

void ProblemSetupTest::faultyPackage()
{
    QFETCH(QByteArray, xml);
    QFETCH(QString, fault);
    QFETCH(int, line);
    const PackageRead read = parseProblemPackage(xml);
    QVERIFY(read.found);
    QVERIFY2(read.fault.contains(fault), qPrintable(read.fault));
    QCOMPARE(read.line, line);

    // Nothing is configured from it, and the organiser learns where.
    QVERIFY(write(dir() + QStringLiteral("/problem.xml"), xml));
    const ProblemSetup setup = detectProblemSetup(dir(), QStringLiteral("sum"));
    QVERIFY(setup.package);
    QVERIFY(setup.fault.contains(fault));
    QVERIFY(setup.plan.pairs.isEmpty());
    if (line > 0)
        QVERIFY2(setup.fault.contains(QStringLiteral("第 %1 行").arg(line)), qPrintable(setup.fault));
}

void ProblemSetupTest::packageSubtasks_data()
{
    QTest::addColumn<QByteArray>("tests");
    QTest::addColumn<Subtasks>("expected");
    QTest::newRow("no points, no groups: a point each, shared out") << QByteArray("<test/><test/><test/>")
                                                                     << Subtasks();
    QTest::newRow("points, no groups")
        << QByteArray("<test points=\"30\"/><test points=\"70\"/><test points=\"0\"/>")
        << Subtasks{{30, {0}}, {70, {1}}, {0, {2}}};
    QTest::newRow("fractions rounded") << QByteArray("<test points=\"33.4\"/><test points=\"66.6\"/>")
                                       << Subtasks{{33, {0}}, {67, {1}}};
    QTest::newRow("groups of tests' points")
        << QByteArray("<test points=\"5\" group=\"a\"/><test points=\"5\" group=\"a\"/><test points=\"90\" group=\"b\"/>")
        << Subtasks{{10, {0, 1}}, {90, {2}}};
    QTest::newRow("group's own points win")
        << QByteArray("<test group=\"a\"/><test group=\"a\"/><test group=\"b\"/>"
                      "</tests><groups><group name=\"a\" points=\"25\"/><group name=\"b\" points=\"75\"/></groups><tests>")
        << Subtasks{{25, {0, 1}}, {75, {2}}};
    QTest::newRow("each-test group")
        << QByteArray("<test points=\"50\" group=\"a\"/><test points=\"50\" group=\"a\"/>"
                      "</tests><groups><group name=\"a\" points-policy=\"each-test\"/></groups><tests>")
        << Subtasks{{50, {0}}, {50, {1}}};
    QTest::newRow("groups without points share 100")
        << QByteArray("<test group=\"1\"/><test group=\"1\"/><test group=\"2\"/><test group=\"3\"/>")
        << Subtasks{{33, {0, 1}}, {33, {2}}, {34, {3}}};
    QTest::newRow("a group met again later joins its first place")
        << QByteArray("<test points=\"10\" group=\"x\"/><test points=\"20\" group=\"y\"/><test points=\"30\" group=\"x\"/>")
        << Subtasks{{40, {0, 2}}, {20, {1}}};
}

void ProblemSetupTest::packageSubtasks()
{
    QFETCH(QByteArray, tests);
    QFETCH(Subtasks, expected);
    const int count = int(tests.count("<test ") + tests.count("<test/>"));
    for (int k = 1; k <= count; ++k) {
        QVERIFY(write(dir() + QStringLiteral("/tests/%1").arg(k, 2, 10, QLatin1Char('0')), "1 1\n"));
        QVERIFY(write(dir() + QStringLiteral("/tests/%1.a").arg(k, 2, 10, QLatin1Char('0')), "2\n"));
    }
    QVERIFY(write(dir() + QStringLiteral("/problem.xml"), package("<tests>" + tests + "</tests>")));
    const ProblemSetup setup = detectProblemSetup(dir(), QStringLiteral("p"));
    QVERIFY2(setup.fault.isEmpty(), qPrintable(setup.fault));
    QCOMPARE(setup.plan.pairs.size(), count);
    QCOMPARE(setup.plan.subtasks, expected);
    QCOMPARE(setup.plan.time, QStringLiteral("2.5"));
    QCOMPARE(setup.plan.mem, QStringLiteral("64"));
}

void ProblemSetupTest::wholePackage_data()
{
    QTest::addColumn<bool>("interactive");
    QTest::newRow("checker") << false;
    QTest::newRow("checker and interactor") << true;
}

void ProblemSetupTest::wholePackage()
{
    QFETCH(bool, interactive);
    QVERIFY(writePackage(dir(), interactive));
    // The usual copy of the checker at the top stays second to what <assets> names.
    QVERIFY(write(dir() + QStringLiteral("/check.cpp"), TestlibChecker));
    const ProblemSetup setup = detectProblemSetup(dir(), QStringLiteral("sum"));
    QVERIFY2(setup.fault.isEmpty(), qPrintable(setup.fault));
    QVERIFY(setup.package);
    const ProblemPlan &plan = setup.plan;
    QCOMPARE(plan.time, QStringLiteral("1"));
    QCOMPARE(plan.mem, QStringLiteral("256"));
    QCOMPARE(plan.checker, QStringLiteral("files/check.cpp"));
    QCOMPARE(plan.checkerType, CheckerTestlib);
    QVERIFY(plan.stdio);
    QCOMPARE(plan.interactor, interactive ? QStringLiteral("files/interactor.cpp") : QString());
    QVERIFY(plan.graders.isEmpty());
    const QList<DataPair> pairs{{QStringLiteral("tests/01"), QStringLiteral("tests/01.a")},
                                {QStringLiteral("tests/02"), QStringLiteral("tests/02.a")},
                                {QStringLiteral("tests/03"), QStringLiteral("tests/03.a")},
                                {QStringLiteral("tests/04"), QStringLiteral("tests/04.a")}};
    QCOMPARE(plan.pairs, pairs);
    QCOMPARE(plan.subtasks, (Subtasks{{20, {0, 1}}, {40, {2}}, {40, {3}}}));

    // Without the tests, as the dialog first shows it: the same limits.
    const ProblemSetup shown = detectProblemSetup(dir(), QStringLiteral("sum"), false);
    QCOMPARE(shown.plan.time, plan.time);
    QCOMPARE(shown.plan.checker, plan.checker);
    QVERIFY(shown.plan.pairs.isEmpty());
}

void ProblemSetupTest::missingTestData()
{
    QVERIFY(writePackage(dir()));
    QVERIFY(QFile::remove(dir() + QStringLiteral("/tests/03.a")));
    const ProblemSetup setup = detectProblemSetup(dir(), QStringLiteral("sum"));
    QCOMPARE(setup.fault, QStringLiteral("缺少测试数据 tests/03.a"));
    // A test named but missing is a fault, not a point fewer.
    QVERIFY(write(dir() + QStringLiteral("/tests/03.a"), "12\n"));
    QVERIFY(QFile::remove(dir() + QStringLiteral("/files/check.cpp")));
    QCOMPARE(detectProblemSetup(dir(), QStringLiteral("sum")).fault, QStringLiteral("找不到校验器 files/check.cpp"));
}

void ProblemSetupTest::testlibSources_data()
{
    QTest::addColumn<QStringList>("files");  // each "path:content"; content t: testlib checker
    QTest::addColumn<QStringList>("checkers");
    QTest::addColumn<QString>("interactor");
    QTest::newRow("checker names first, the folder before files/")
        << QStringList{QStringLiteral("a.cpp:t"), QStringLiteral("files/checker.cpp:t"), QStringLiteral("chk.cc:t")}
        << QStringList{QStringLiteral("chk.cc"), QStringLiteral("files/checker.cpp"), QStringLiteral("a.cpp")}
        << QString();
    QTest::newRow("no testlib, no checker")
        << QStringList{QStringLiteral("check.cpp:int main() {}"), QStringLiteral("check:x")} << QStringList()
        << QString();
    QTest::newRow("validator and generator are none")
        << QStringList{QStringLiteral("files/val.cpp:v"), QStringLiteral("files/gen.cpp:g"),
                       QStringLiteral("files/check.cpp:t")}
        << QStringList{QStringLiteral("files/check.cpp")} << QString();
    QTest::newRow("interactor by its call")
        << QStringList{QStringLiteral("files/talk.cpp:i"), QStringLiteral("check.cpp:t")}
        << QStringList{QStringLiteral("check.cpp")} << QStringLiteral("files/talk.cpp");
    QTest::newRow("interactor by its name, C too")
        << QStringList{QStringLiteral("interactor.c:int main() {}")} << QStringList()
        << QStringLiteral("interactor.c");
    QTest::newRow("include with a path") << QStringList{QStringLiteral("check.cpp:#include <../files/testlib.h>\n")}
                                         << QStringList{QStringLiteral("check.cpp")} << QString();
    QTest::newRow("a header is no source") << QStringList{QStringLiteral("check.h:t")} << QStringList() << QString();
}

void ProblemSetupTest::testlibSources()
{
    QFETCH(QStringList, files);
    QFETCH(QStringList, checkers);
    QFETCH(QString, interactor);
    for (const QString &file : files) {
        const QString path = file.section(u':', 0, 0);
        QByteArray content = file.section(u':', 1).toUtf8();
        if (content == "t")
            content = TestlibChecker;
        else if (content == "v")
            content = Validator;
        else if (content == "i")
            content = Interactor;
        else if (content == "g")
            content = "#include \"testlib.h\"\nint main(int c, char **v) { registerGen(c, v, 1); }\n";
        QVERIFY(write(dir() + u'/' + path, content));
    }
    QCOMPARE(testlibCheckersIn(dir()), checkers);
    QCOMPARE(interactorIn(dir()), interactor);
}

void ProblemSetupTest::graders_data()
{
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QStringList>("graders");
    QTest::newRow("grader with the problem's header")
        << QStringList{QStringLiteral("grader.cpp"), QStringLiteral("sum.h"), QStringLiteral("sum1.in")}
        << QStringList{QStringLiteral("grader.cpp"), QStringLiteral("sum.h")};
    QTest::newRow("C grader and its header")
        << QStringList{QStringLiteral("grader.h"), QStringLiteral("grader.c")}
        << QStringList{QStringLiteral("grader.c"), QStringLiteral("grader.h")};
    QTest::newRow("a header alone leaves the problem's own")
        << QStringList{QStringLiteral("grader.h"), QStringLiteral("sum.h")} << QStringList{QStringLiteral("grader.h")};
    QTest::newRow("names beginning with grader, any case")
        << QStringList{QStringLiteral("Grader_lib.cpp"), QStringLiteral("grader2.cc")}
        << QStringList{QStringLiteral("grader2.cc"), QStringLiteral("Grader_lib.cpp")};
    QTest::newRow("others are none")
        << QStringList{QStringLiteral("stub.cpp"), QStringLiteral("grader.txt"), QStringLiteral("mygrader.cpp"),
                       QStringLiteral("files/grader.cpp")}
        << QStringList();
}

void ProblemSetupTest::graders()
{
    QFETCH(QStringList, files);
    QFETCH(QStringList, graders);
    for (const QString &file : files)
        QVERIFY(write(dir() + u'/' + file, "int f();\n"));
    QCOMPARE(graderFilesIn(dir(), QStringLiteral("sum")), graders);
    QCOMPARE(detectProblemSetup(dir(), QStringLiteral("sum")).plan.graders, graders);
}

void ProblemSetupTest::plainFolder()
{
    for (int k = 1; k <= 3; ++k) {
        QVERIFY(write(dir() + QStringLiteral("/sum%1.in").arg(k), "1 2\n"));
        QVERIFY(write(dir() + QStringLiteral("/sum%1.ans").arg(k), "3\n"));
    }
    ProblemSetup setup = detectProblemSetup(dir(), QStringLiteral("sum"));
    QVERIFY(!setup.package);
    QCOMPARE(setup.plan.time, QStringLiteral("1"));
    QCOMPARE(setup.plan.mem, QStringLiteral("128"));
    QCOMPARE(setup.plan.checker, QStringLiteral("全文比较"));
    QCOMPARE(setup.plan.checkerType, CheckerVerdictFile);
    QVERIFY(!setup.plan.stdio);
    QCOMPARE(setup.plan.pairs.size(), 3);
    QVERIFY(setup.plan.subtasks.isEmpty());

    // A testlib checker and an interactor among the files are taken.
    QVERIFY(write(dir() + QStringLiteral("/chk.cpp"), TestlibChecker));
    QVERIFY(write(dir() + QStringLiteral("/interactor.cpp"), Interactor));
    setup = detectProblemSetup(dir(), QStringLiteral("sum"));
    QCOMPARE(checkerChoiceText(setup.plan.checker, setup.plan.checkerType), QStringLiteral("chk.cpp (testlib)"));
    QCOMPARE(setup.plan.interactor, QStringLiteral("interactor.cpp"));
    QVERIFY(setup.plan.stdio);
    QCOMPARE(setup.plan.pairs.size(), 3);
}

void ProblemSetupTest::writtenConfiguration_data()
{
    QTest::addColumn<bool>("interactive");
    QTest::newRow("checker") << false;
    QTest::newRow("interactor") << true;
}

// The plan as the judge reads it back from the file written.
void ProblemSetupTest::writtenConfiguration()
{
    QFETCH(bool, interactive);
    Contest contest;
    contest.rootDir = dir();
    QVERIFY(writePackage(contest.problemDir(QStringLiteral("sum")), interactive));
    QVERIFY(write(contest.problemDir(QStringLiteral("sum")) + QStringLiteral("/grader.cpp"), "int main() {}\n"));
    const ProblemSetup setup = detectProblemSetup(contest.problemDir(QStringLiteral("sum")), QStringLiteral("sum"));
    QVERIFY(setup.fault.isEmpty());
    QVERIFY(writeProblemConfig(contest, QStringLiteral("sum"), setup.plan));

    XmlFile file;
    QVERIFY(file.load(contest.problemConfigPath(QStringLiteral("sum"))));
    QVERIFY(configFault(file).isNull());
    const TaskSpec task = problemTask(file.document);
    QVERIFY(task.stdio);
    QVERIFY(task.input.isEmpty() && task.output.isEmpty());
    QCOMPARE(task.checker, QStringLiteral("files/check.cpp"));
    QCOMPARE(task.checkerType, CheckerTestlib);
    QCOMPARE(task.subtasks.size(), 3);
    QCOMPARE(task.subtasks[0].score, 20);
    QCOMPARE(task.subtasks[0].points.size(), 2);
    QCOMPARE(task.subtasks[0].points[1].in, QStringLiteral("tests/02"));
    QCOMPARE(task.subtasks[0].points[1].out, QStringLiteral("tests/02.a"));
    QCOMPARE(task.subtasks[2].score, 40);
    QCOMPARE(task.subtasks[2].points[0].time, 1.0);
    QCOMPARE(task.subtasks[2].points[0].mem, 256.0);
    const ElementQuery interactors = queryUnder(file.document, QStringLiteral("interactor"));
    QCOMPARE(interactors.count(), interactive ? 1 : 0);
    if (interactive) {
        QCOMPARE(interactors.item(0).parentNode().nodeName(), QStringLiteral("task"));
        QCOMPARE(interactors.item(0).attribute(QStringLiteral("path")), QStringLiteral("files/interactor.cpp"));
    }
    const SourceSpec source = problemSource(file.document);
    QCOMPARE(source.graders, QStringList{QStringLiteral("grader.cpp")});
    const QList<LanguageSpec> languages = problemLanguages(file.document);
    QCOMPARE(languages.size(), 1);
    QCOMPARE(languages[0].cmd, QStringLiteral("g++ -o sum sum.cpp grader.cpp -lm"));
}

void ProblemSetupTest::packageStreams_data()
{
    QTest::addColumn<QByteArray>("judging");
    QTest::addColumn<QString>("input");  // as written in the task; "-" when nothing is written
    QTest::addColumn<QString>("output");
    QTest::addColumn<bool>("stdio");
    QTest::newRow("standard streams") << QByteArray("input-file=\"\" output-file=\"\"") << QString() << QString()
                                      << true;
    QTest::newRow("no names at all") << QByteArray() << QString() << QString() << true;
    QTest::newRow("named files") << QByteArray("input-file=\"data.txt\" output-file=\"result.txt\"")
                                 << QStringLiteral("data.txt") << QStringLiteral("result.txt") << false;
    QTest::newRow("one of each: reported") << QByteArray("input-file=\"\" output-file=\"sum.out\"")
                                           << QStringLiteral("-") << QStringLiteral("-") << false;
}

void ProblemSetupTest::packageStreams()
{
    QFETCH(QByteArray, judging);
    QFETCH(QString, input);
    QFETCH(QString, output);
    QFETCH(bool, stdio);
    Contest contest;
    contest.rootDir = dir();
    const QString folder = contest.problemDir(QStringLiteral("sum"));
    QVERIFY(write(folder + QStringLiteral("/tests/01"), "1 2\n"));
    QVERIFY(write(folder + QStringLiteral("/tests/01.a"), "3\n"));
    QVERIFY(write(folder + QStringLiteral("/problem.xml"), package("<test-count>1</test-count>", judging)));
    const ProblemSetup setup = detectProblemSetup(folder, QStringLiteral("sum"));
    if (input == u"-") {
        QVERIFY2(setup.fault.contains(QStringLiteral("标准输入输出")), qPrintable(setup.fault));
        return;
    }
    QVERIFY2(setup.fault.isEmpty(), qPrintable(setup.fault));
    QVERIFY(writeProblemConfig(contest, QStringLiteral("sum"), setup.plan));
    XmlFile file;
    QVERIFY(file.load(contest.problemConfigPath(QStringLiteral("sum"))));
    const TaskSpec task = problemTask(file.document);
    QCOMPARE(task.stdio, stdio);
    QCOMPARE(task.input, input);
    QCOMPARE(task.output, output);
}

QTEST_GUILESS_MAIN(ProblemSetupTest)
#include "tst_problemsetup.moc"
