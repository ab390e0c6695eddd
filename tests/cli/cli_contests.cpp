// End to end: qxj-judge stopped, killed, and on small contests made here
// to hold what a contest should not.

#include "clifixture.h"

#include "contest.h"
#include "mixedcontest.h"
#include "scoreinfo.h"
#include "xmlfile.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QStringDecoder>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <climits>

#include <sys/stat.h>
#include <unistd.h>

#include <signal.h>

using namespace clifixture;

void TestCli::stop_data()
{
    QTest::addColumn<int>("signalNumber");
    QTest::newRow("SIGINT") << int(SIGINT);
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGHUP (terminal closed)") << int(SIGHUP);
}

// A program that never ends is stopped by the signal: its cell keeps the
// result it had, and the run leaves nothing behind.
void TestCli::stop()
{
    QFETCH(int, signalNumber);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString root = dir.path();
    QVERIFY(writeOnePointContest(root, QStringLiteral("slow"), QStringLiteral("60"),
                                 "#include <stdio.h>\n"
                                 "int main(void)\n{\n"
                                 "    FILE *f = fopen(\"slow.out\", \"w\");\n"
                                 "    fputs(\"started\\n\", f);\n"
                                 "    fclose(f);\n"
                                 "    for (;;) {}\n}\n"));
    const QByteArray previous =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<task score=\"7\" time=\"0.5\" state=\"N\"><subtask score=\"7\">"
        "<point ratio=\"0.07\" state=\"P\" note=\"earlier\"/></subtask></task>\n";
    const QString resultPath = root + QStringLiteral("/result/slow/a.res");
    QVERIFY(writeTestFile(resultPath, previous));
    // The list says untested, so the cell is queued although its file exists.
    QVERIFY(writeTestFile(root + QStringLiteral("/result/.reslist"), "a/slow/0/0/ /\n"));

    QProcess process;
    QVERIFY(startSlowRun(process, root));
    QVERIFY(::kill(pid_t(process.processId()), signalNumber) == 0);
    QVERIFY(process.waitForFinished(120000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 130);

    QCOMPARE(readTestFile(resultPath), previous);
    QVERIFY(!QFileInfo::exists(root + QStringLiteral("/tmp")));
    QCOMPARE(readTestFile(root + QStringLiteral("/result/.reslist")),
             QByteArray("a/slow/7/0.5/N/\n"));
    QVERIFY(!QFileInfo::exists(root + QStringLiteral("/src/a/result.html")));
    QTRY_VERIFY_WITH_TIMEOUT(!anyProcessWorksIn(root), 30000);
}

// Killed outright, the judge takes its contestant's processes with it, even
// one that left its session and its parent.
void TestCli::killedJudgeLeavesNothing()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString root = dir.path();
    QVERIFY(writeOnePointContest(root, QStringLiteral("slow"), QStringLiteral("60"),
                                 "#include <stdio.h>\n#include <unistd.h>\n"
                                 "int main(void)\n{\n"
                                 "    if (fork() == 0) {\n"
                                 "        setsid();\n"
                                 "        if (fork() == 0) {\n"
                                 "            FILE *f = fopen(\"slow.out\", \"w\");\n"
                                 "            fputs(\"started\\n\", f);\n"
                                 "            fclose(f);\n"
                                 "            for (;;) {}\n"
                                 "        }\n"
                                 "        return 0;\n"
                                 "    }\n"
                                 "    for (;;) {}\n}\n"));
    QProcess process;
    QVERIFY(startSlowRun(process, root));
    QVERIFY(anyProcessWorksIn(root));
    QVERIFY(::kill(pid_t(process.processId()), SIGKILL) == 0);
    QVERIFY(process.waitForFinished(120000));
    if (process.readAllStandardError().contains("沙箱不可用"))
        QSKIP("without a sandbox, a detached grandchild outlives a killed judge");
    QTRY_VERIFY_WITH_TIMEOUT(!anyProcessWorksIn(root), 10000);
}

// Folders whose names the contest's files cannot carry are neither judged
// nor listed, and each is named on standard error.
void TestCli::unusableFolderNames()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString root = dir.path();
    QVERIFY(writeOnePointContest(root, QStringLiteral("sum"), QStringLiteral("1"),
                                 answering(QStringLiteral("sum"))));
    QVERIFY(writeTestFile(root + QStringLiteral("/src/line/sum/sum.c"),
                          answering(QStringLiteral("sum"), "2")));
    // Made through the bytes, which a QString cannot carry; removed the same way.
    const auto tidy = qScopeGuard([&root] { emptyTreeByBytes(root); });
    const QByteArray bytes = QFile::encodeName(root);
    QStringEncoder gb("GB18030");
    for (const QByteArray &name : {QByteArray("new\nline"),
                                   QByteArray(gb.encode(QStringLiteral("张三"))),
                                   QByteArray("tab\there")}) {
        QVERIFY(::mkdir(bytes + "/src/" + name, 0755) == 0);
        QVERIFY(::mkdir(bytes + "/src/" + name + "/sum", 0755) == 0);
        QVERIFY(::link(bytes + "/src/a/sum/sum.c", bytes + "/src/" + name + "/sum/sum.c") == 0);
    }
    QVERIFY(::mkdir(bytes + "/data/bad\x01", 0755) == 0);
    QVERIFY(::link(bytes + "/data/sum/.prb", bytes + "/data/bad\x01/.prb") == 0);

    const CommandRun run = runJudge(root, {root});
    QVERIFY2(run.exitCode == 0, qPrintable(run.err));
    QStringList skipped = run.err.split(u'\n', Qt::SkipEmptyParts);
    skipped.sort();
    const QString prefix = QStringLiteral("qxj-judge: skipped ");
    QCOMPARE(skipped, (QStringList{prefix + QStringLiteral("data/bad\\x01: 名称含有控制字符"),
                                   prefix + QStringLiteral("src/\\xd5\\xc5\\xc8\\xfd: 名称不是有效的 UTF-8 编码"),
                                   prefix + QStringLiteral("src/new\\nline: 名称含有换行符"),
                                   prefix + QStringLiteral("src/tab\\there: 名称含有控制字符")}));
    QCOMPARE(readTestFile(root + QStringLiteral("/result/.reslist")).count('\n'), 2);
    Contest contest;
    contest.rootDir = root;
    contest.loadResultList();
    QCOMPARE(contest.cachedResults.value(QStringLiteral("a/sum")).score, 100);
    QCOMPARE(contest.cachedResults.value(QStringLiteral("line/sum")).score, 0);
    QCOMPARE(treeOf(root + QStringLiteral("/result")),
             (QStringList{QStringLiteral(".reslist"), QStringLiteral("sum"),
                          QStringLiteral("sum/a.res"), QStringLiteral("sum/line.res")}));
}

// A problem "one" with a subtask of 2000000000 and "two" with two: neither a
// cell nor the row's total may wrap round to a negative number.
void TestCli::hugeScores()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString root = dir.path();
    for (const QString &name : {QStringLiteral("one"), QStringLiteral("two")}) {
        QVERIFY(writeOnePointContest(root, name, QStringLiteral("1"), answering(name)));
        QByteArray config = traditionalConfig(name, 2000000000, QStringLiteral("1"));
        const qsizetype from = config.indexOf("<subtask");
        const qsizetype to = config.indexOf("</task>");
        if (name == QStringLiteral("two"))
            config.insert(to, config.mid(from, to - from));
        QVERIFY(writeTestFile(root + QStringLiteral("/data/") + name + QStringLiteral("/.prb"),
                              config));
    }

    const CommandRun run = runJudge(root, {QStringLiteral("--export"), QStringLiteral("scores.csv"), root});
    QVERIFY2(run.exitCode == 0, qPrintable(run.err));
    XmlFile file;
    QVERIFY(file.load(root + QStringLiteral("/result/two/a.res")));
    QCOMPARE(pointStates(file), QStringLiteral("AA"));
    QCOMPARE(readScoreInfo(file.document).score, INT_MAX);
    const QByteArray list = readTestFile(root + QStringLiteral("/result/.reslist"));
    QVERIFY2(list.contains("a/one/2000000000/") && list.contains("a/two/2147483647/"), list);
    static const QRegularExpression gap(QStringLiteral("  +"));
    QCOMPARE(run.out.section(u'\n', -2, -2).split(gap).mid(0, 2),
             (QStringList{QStringLiteral("a"), QStringLiteral("2147483647")}));
    QCOMPARE(readTestFile(root + QStringLiteral("/scores.csv")).split('\n').value(1),
             QByteArray("\"a\",2147483647,2000000000,2147483647,"));
}

void TestCli::notAContest_data()
{
    QTest::addColumn<QStringList>("arguments");
    const auto s = [](const char *text) { return QString::fromUtf8(text); };
    QTest::newRow("empty directory") << QStringList{s("empty")};
    QTest::newRow("data but no src") << QStringList{s("onlydata")};
    QTest::newRow("src but no data") << QStringList{s("onlysrc")};
    QTest::newRow("missing path") << QStringList{s("nothere")};
    QTest::newRow("regular file") << QStringList{s("plain.txt")};
    QTest::newRow("path through a regular file") << QStringList{s("plain.txt/contest")};
    QTest::newRow("unknown option") << QStringList{s("--bogus"), s("valid")};
    QTest::newRow("option without its value") << QStringList{s("valid"), s("--player")};
    QTest::newRow("no contest given") << QStringList{};
    QTest::newRow("two contests") << QStringList{s("valid"), s("empty")};
    QTest::newRow("unknown player") << QStringList{s("--player"), s("nobody"), s("valid")};
    QTest::newRow("unknown problem") << QStringList{s("--problem"), s("nothing"), s("valid")};
    QTest::newRow("export into a missing directory")
        << QStringList{s("--export"), s("nodir/out.csv"), s("valid")};
    QTest::newRow("export onto a directory") << QStringList{s("--export"), s("empty"), s("valid")};
    QTest::newRow("negative jobs") << QStringList{s("--jobs"), s("-1"), s("valid")};
    QTest::newRow("jobs not a number") << QStringList{s("--jobs"), s("two"), s("valid")};
    QTest::newRow("jobs given twice") << QStringList{s("--jobs"), s("1"), s("--jobs"), s("2"), s("valid")};
    QTest::newRow("too many jobs") << QStringList{s("--jobs"), s("100000"), s("valid")};
}

void TestCli::notAContest()
{
    QFETCH(QStringList, arguments);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString root = dir.path();
    QVERIFY(QDir(root).mkpath(QStringLiteral("empty")));
    QVERIFY(QDir(root).mkpath(QStringLiteral("onlydata/data")));
    QVERIFY(QDir(root).mkpath(QStringLiteral("onlysrc/src")));
    QVERIFY(writeTestFile(root + QStringLiteral("/plain.txt"), "text"));
    QVERIFY(writeTestFile(root + QStringLiteral("/valid/data/a/.prb"),
                          traditionalConfig(QStringLiteral("a"), 100, QStringLiteral("1"))));
    QVERIFY(QDir(root).mkpath(QStringLiteral("valid/src/x")));
    const QStringList before = treeSnapshot(root);

    const CommandRun run = runJudge(root, arguments);
    QCOMPARE(run.exitCode, 2);  // -1 had it crashed
    QCOMPARE(run.out, QString());
    QCOMPARE(run.err.count(u'\n'), 1);
    QVERIFY(run.err.endsWith(u'\n') && run.err.size() > 1);
    QCOMPARE(treeSnapshot(root), before);
}

void TestCli::help()
{
    const CommandRun run = runJudge(m_work.path(), {QStringLiteral("--help")});
    QCOMPARE(run.exitCode, 0);
    for (const char *option : {"--all", "--player", "--problem", "--export", "--jobs", "CONTEST_DIR"})
        QVERIFY2(run.out.contains(QLatin1String(option)), option);
    QCOMPARE(run.err, QString());
}

void TestCli::exportTable_data()
{
    QTest::addColumn<bool>("withList");
    QTest::addColumn<QString>("expected");
    // Rows best first: x2 and x1 tie on 150, x2 took less time.
    QTest::newRow("with player list") << true
                                      << QStringLiteral("编号,姓名,总分,\"a\",\"b\",\n"
                                                        "\"x2\",\"李\"\"四\"\"\",150,50,100,\n"
                                                        "\"x1\",\"张三\",150,100,50,\n"
                                                        "\"x,3\",\"\",20,0,20,\n"
                                                        "\"q\"\"4\",\"王五\",0,0,0,\n");
    QTest::newRow("without player list") << false
                                         << QStringLiteral("选手,总分,\"a\",\"b\",\n"
                                                           "\"x2\",150,50,100,\n"
                                                           "\"x1\",150,100,50,\n"
                                                           "\"x,3\",20,0,20,\n"
                                                           "\"q\"\"4\",0,0,0,\n");
}

void TestCli::exportTable()
{
    QFETCH(bool, withList);
    QFETCH(QString, expected);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString root = dir.path() + QStringLiteral("/contest");
    QVERIFY(writeTestFile(root + QStringLiteral("/data/a/.prb"),
                          traditionalConfig(QStringLiteral("a"), 100, QStringLiteral("1"))));
    QVERIFY(writeTestFile(root + QStringLiteral("/data/b/.prb"),
                          traditionalConfig(QStringLiteral("b"), 100, QStringLiteral("1"))));
    for (const QString &player : {QStringLiteral("x1"), QStringLiteral("x2"), QStringLiteral("x,3"),
                                  QStringLiteral("q\"4")})
        QVERIFY(QDir(root).mkpath(QStringLiteral("src/") + player));
    // Every cell judged already: nothing is queued.
    QVERIFY(writeTestFile(root + QStringLiteral("/result/.reslist"),
                          "x1/a/100/1/N/\nx1/b/50/0.5/N/\nx2/a/50/0.5/N/\nx2/b/100/0.5/N/\n"
                          "x,3/a/0/0/C/\nx,3/b/20/0.1/N/\nq\"4/a/0/0/F/\nq\"4/b/0/0/N/\n"));
    QStringEncoder gb("GB18030");
    if (withList) {
        QVERIFY(writeTestFile(root + QStringLiteral("/.list"),
                              gb.encode(QStringLiteral("x1,张三\nx2,李\"四\"\nq\"4,王五\n"))));
    }

    const CommandRun run = runJudge(dir.path(), {QStringLiteral("--export"), QStringLiteral("成绩.csv"),
                                          QStringLiteral("contest")});
    QVERIFY2(run.exitCode == 0, qPrintable(run.err));
    const QByteArray bytes = readTestFile(dir.path() + QStringLiteral("/成绩.csv"));
    QStringDecoder decoder("GB18030");
    QCOMPARE(QString(decoder.decode(bytes)), expected);
    QVERIFY(!decoder.hasError());
    if (withList) {
        QVERIFY(bytes.contains(QByteArray(gb.encode(QStringLiteral("张三")))));
        QVERIFY(!bytes.contains(QStringLiteral("张三").toUtf8()));
    }
}

// Each file the judge cannot write is told on its cell's rows and on
// standard error, and the run fails. A cell whose result is not stored is a
// judge error, to be judged again; a missing report costs no verdict.
void TestCli::unwritableFiles()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString root = dir.path();
    const QByteArray answer = "#include <stdio.h>\nint main(void)\n{\n"
                              "    FILE *f = fopen(\"one.out\", \"w\");\n"
                              "    fputs(\"1\\n\", f);\n    fclose(f);\n    return 0;\n}\n";
    QVERIFY(writeOnePointContest(root, QStringLiteral("one"), QStringLiteral("1"), answer));
    QVERIFY(writeTestFile(root + QStringLiteral("/src/c/one/one.c"), answer));
    QVERIFY(QDir().mkpath(root + QStringLiteral("/src/b")));  // hands in nothing
    const QStringList blocked{root + QStringLiteral("/result/one/a.res"),
                              root + QStringLiteral("/result/one/b.res"),
                              root + QStringLiteral("/src/c/result.html")};
    for (const QString &path : blocked)
        QVERIFY(QDir().mkpath(path + QStringLiteral("/x")));

    const CommandRun run = runJudge(root, {root});
    QCOMPARE(run.exitCode, 1);
    QCOMPARE(run.err.count(u'\n'), 3);
    for (const QString &path : blocked)
        QVERIFY2(run.err.contains(QStringLiteral("qxj-judge: cannot write ") + path + u'\n'),
                 qPrintable(run.err));
    QVERIFY(run.out.contains(QStringLiteral("结果文件无法写入: ") + blocked[0]));
    QVERIFY(run.out.contains(QStringLiteral("结果文件无法写入: ") + blocked[1]));
    QVERIFY(run.out.contains(QStringLiteral("报告文件无法写入: ") + blocked[2]));
    const QString list = QString::fromUtf8(readTestFile(root + QStringLiteral("/result/.reslist")));
    QVERIFY2(list.contains(QStringLiteral("a/one/0/0/E/\n"))
                 && list.contains(QStringLiteral("b/one/0/0/E/\n"))
                 && list.contains(QStringLiteral("\nc/one/100/")),
             qPrintable(list));
}
