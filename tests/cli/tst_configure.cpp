// End to end: qxj-judge --configure writes the configurations of a
// contest's problem folders (a problem package from its problem.xml), keeps
// every file that is not the dialog's own, and the package then judges with
// its testlib checker as its own platform would.

#include "clitestutil.h"
#include "commandrun.h"
#include "contest.h"
#include "packagefixture.h"
#include "problemfile.h"

#include <QTemporaryDir>
#include <QTest>

namespace {

const QString JudgeProgram = QStringLiteral(QXJ_JUDGE);

const QByteArray HandWritten = traditionalConfig(QStringLiteral("sum"), 100, QStringLiteral("3"));

QByteArray dialogMade()
{
    QByteArray bytes = HandWritten;
    return bytes.replace("type=\"TRA_0_4\"", "type=\"TRA_0_4\" maker=\"pcdialog\"");
}

CommandRun qxjJudge(const QStringList &arguments, const QString &root)
{
    return runCommand(JudgeProgram, arguments, root, QProcessEnvironment::systemEnvironment(), 300000);
}

}  // namespace

class TestConfigure : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void configure_data();
    void configure();
    void usage_data();
    void usage();
    void judgePackage();

private:
    QString root() const { return m_root->path(); }
    QString prb(const QString &problem) const { return root() + QStringLiteral("/data/") + problem + QStringLiteral("/.prb"); }
    std::unique_ptr<QTemporaryDir> m_root;
};

void TestConfigure::init()
{
    m_root = std::make_unique<QTemporaryDir>();
    QVERIFY(m_root->isValid());
    QVERIFY(QDir().mkpath(root() + QStringLiteral("/src")));
    QVERIFY(packagefixture::writePackage(root() + QStringLiteral("/data/sum")));
    // A folder of plain test data beside the package.
    QVERIFY(writeTestFile(root() + QStringLiteral("/data/copy/copy1.in"), "x\n"));
    QVERIFY(writeTestFile(root() + QStringLiteral("/data/copy/copy1.ans"), "x\n"));
}

void TestConfigure::configure_data()
{
    QTest::addColumn<QByteArray>("existing");  // the package's .prb before; empty: none
    QTest::addColumn<QByteArray>("problemXml");  // replaces the package's; empty: as it is
    QTest::addColumn<bool>("all");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("said");  // a line of standard output, or of standard error
    QTest::addColumn<QString>("outcome");  // "written", "kept" or "none"

    QTest::newRow("package configured")
        << QByteArray() << QByteArray() << false << 0
        << QStringLiteral("configured sum (problem.xml): 4 test points in 3 subtasks, 1 s, 256 MB, "
                          "checker files/check.cpp (testlib), standard input/output")
        << QStringLiteral("written");
    QTest::newRow("an empty file is none") << QByteArray("\n") << QByteArray() << false << 0
                                           << QStringLiteral("configured sum (problem.xml)")
                                           << QStringLiteral("written");
    QTest::newRow("hand-written kept") << HandWritten << QByteArray() << false << 0
                                       << QStringLiteral("kept sum: data/sum/.prb is there")
                                       << QStringLiteral("kept");
    QTest::newRow("hand-written kept with --all")
        << HandWritten << QByteArray() << true << 0
        << QStringLiteral("kept sum: data/sum/.prb is not the dialog's own") << QStringLiteral("kept");
    QTest::newRow("the dialog's own kept") << dialogMade() << QByteArray() << false << 0
                                           << QStringLiteral("kept sum: data/sum/.prb is there")
                                           << QStringLiteral("kept");
    QTest::newRow("the dialog's own written again with --all")
        << dialogMade() << QByteArray() << true << 0 << QStringLiteral("configured sum (problem.xml)")
        << QStringLiteral("written");
    QTest::newRow("malformed problem.xml reported")
        << QByteArray() << QByteArray("<problem>\n<judging input-file=\"\">\n</problem>\n") << false << 1
        << QStringLiteral("qxj-judge: sum not configured: problem.xml 第 3 行: XML 格式错误: ")
        << QStringLiteral("none");
    QTest::newRow("test data missing reported")
        << QByteArray() << QByteArray(packagefixture::ProblemXml).replace("<test-count>4", "<test-count>5").replace("%1", "")
        << false << 1
        << QStringLiteral("qxj-judge: sum not configured: 缺少测试数据 tests/05") << QStringLiteral("none");
}

void TestConfigure::configure()
{
    QFETCH(QByteArray, existing);
    QFETCH(QByteArray, problemXml);
    QFETCH(bool, all);
    QFETCH(int, exitCode);
    QFETCH(QString, said);
    QFETCH(QString, outcome);
    if (!existing.isEmpty())
        QVERIFY(writeTestFile(prb(QStringLiteral("sum")), existing));
    if (!problemXml.isEmpty())
        QVERIFY(writeTestFile(root() + QStringLiteral("/data/sum/problem.xml"), problemXml));

    QStringList arguments{QStringLiteral("--configure"), root()};
    if (all)
        arguments.prepend(QStringLiteral("--all"));
    const CommandRun run = qxjJudge(arguments, root());
    QCOMPARE(run.exitCode, exitCode);
    const QStringList lines = (run.out + run.err).split(u'\n');
    QVERIFY2(std::any_of(lines.cbegin(), lines.cend(), [&said](const QString &line) { return line.startsWith(said); }),
             qPrintable(run.out + run.err));
    // The plain folder beside it is configured whatever became of the package.
    QVERIFY2(run.out.contains(QStringLiteral("configured copy: 1 test points in 1 subtasks, 1 s, 128 MB, checker 全文比较\n")),
             qPrintable(run.out));
    // Configured problems keep their place before the new ones.
    Contest contest;
    contest.rootDir = root();
    XmlFile contestFile;
    QVERIFY(contestFile.load(contest.contestFilePath()));
    QCOMPARE(queryUnder(contestFile.document, QStringLiteral("problem")).texts(),
             existing.isEmpty() ? (QStringList{QStringLiteral("copy"), QStringLiteral("sum")})
                                : (QStringList{QStringLiteral("sum"), QStringLiteral("copy")}));

    const QByteArray now = readTestFile(prb(QStringLiteral("sum")));
    if (outcome == u"kept") {
        QCOMPARE(now, existing);
        return;
    }
    if (outcome == u"none") {
        QVERIFY(!QFileInfo::exists(prb(QStringLiteral("sum"))));
        return;
    }
    contest.loadProblems();
    QVERIFY(contest.problemFaults.isEmpty());
    const QDomDocument &document = contest.problemConfigs.value(QStringLiteral("sum")).document;
    QVERIFY(mayRewriteConfig(document));
    const TaskSpec task = problemTask(document);
    QVERIFY(task.stdio);
    QCOMPARE(task.checker, QStringLiteral("files/check.cpp"));
    QCOMPARE(task.checkerType, CheckerTestlib);
    QCOMPARE(task.subtasks.size(), 3);
    QCOMPARE(task.subtasks[0].score + task.subtasks[1].score + task.subtasks[2].score, 100);
    QCOMPARE(task.subtasks[0].points.size(), 2);
    QCOMPARE(task.subtasks[2].points.value(0).in, QStringLiteral("tests/04"));
    QCOMPARE(task.subtasks[2].points.value(0).mem, 256.0);

    // Run again, it keeps what it wrote.
    const CommandRun again = qxjJudge({QStringLiteral("--configure"), root()}, root());
    QCOMPARE(again.exitCode, 0);
    QVERIFY(again.out.contains(QStringLiteral("kept sum: data/sum/.prb is there\n")));
    QCOMPARE(readTestFile(prb(QStringLiteral("sum"))), now);
}

void TestConfigure::usage_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("message");
    QTest::newRow("with --merge") << QStringList{QStringLiteral("--configure"), QStringLiteral("--merge")}
                                  << QStringLiteral("--configure judges nothing and takes no --merge");
    QTest::newRow("with --problem") << QStringList{QStringLiteral("--configure"), QStringLiteral("--problem=sum")}
                                    << QStringLiteral("--configure judges nothing and takes no --problem");
    QTest::newRow("with --shard") << QStringList{QStringLiteral("--shard=0/2"), QStringLiteral("--configure")}
                                  << QStringLiteral("--configure judges nothing and takes no --shard");
}

void TestConfigure::usage()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, message);
    const QStringList before = treeSnapshot(root());
    const CommandRun run = qxjJudge(arguments << root(), root());
    QCOMPARE(run.exitCode, 2);
    QVERIFY2(run.err.contains(message), qPrintable(run.err));
    QCOMPARE(treeSnapshot(root()), before);
}

// Copied into data/, configured, judged: the package's checker decides.
void TestConfigure::judgePackage()
{
    const auto player = [this](const char *name, const char *source) {
        return writeTestFile(root() + QStringLiteral("/src/") + QLatin1String(name) + QStringLiteral("/sum/sum.cpp"),
                             source);
    };
    QVERIFY(player("right", "#include <cstdio>\nint main(){long long a,b;std::scanf(\"%lld%lld\",&a,&b);"
                            "std::printf(\"%lld\\n\",a+b);}\n"));
    // Wrong on the third test only: its group of one loses its 40 points.
    QVERIFY(player("five", "#include <cstdio>\nint main(){long long a,b;std::scanf(\"%lld%lld\",&a,&b);"
                           "std::printf(\"%lld\\n\",a==5?0:a+b);}\n"));
    // Wrong on the first: the rest of its group is skipped, the group lost.
    QVERIFY(player("first", "#include <cstdio>\nint main(){long long a,b;std::scanf(\"%lld%lld\",&a,&b);"
                            "std::printf(\"%lld\\n\",a==1?7:a+b);}\n"));
    // Nothing printed: the checker's unexpected end of the output.
    QVERIFY(player("silent", "int main(){}\n"));

    const CommandRun configured = qxjJudge({QStringLiteral("--configure"), root()}, root());
    QCOMPARE(configured.exitCode, 0);
    const CommandRun judged = qxjJudge({root()}, root());
    QVERIFY2(judged.exitCode == 0, qPrintable(judged.out + judged.err));

    const QList<std::tuple<QString, QString, int>> expected{{QStringLiteral("right"), QStringLiteral("AAAA"), 100},
                                                           {QStringLiteral("five"), QStringLiteral("AAWA"), 60},
                                                           {QStringLiteral("first"), QStringLiteral("WIAA"), 80},
                                                           {QStringLiteral("silent"), QStringLiteral("WIWW"), 0}};
    for (const auto &[name, states, score] : expected) {
        XmlFile result;
        QVERIFY(result.load(root() + QStringLiteral("/result/sum/") + name + QStringLiteral(".res")));
        QCOMPARE(pointStates(result), states);
        QCOMPARE(readScoreInfo(result.document).score, score);
    }
}

QTEST_GUILESS_MAIN(TestConfigure)
#include "tst_configure.moc"
