// End to end: qxj-judge on contests whose own files are bad. A .prb that
// does not parse to its end, or sets what no run can have, is a problem that
// is not judged, said on standard error; a FIFO where the store keeps a file
// neither blocks the start nor stops the run.

#include "clitestutil.h"
#include "contest.h"
#include "xmlfile.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString JudgeProgram = QStringLiteral(QXJ_JUDGE);
// Far beyond what these small contests take: only a judge that waits for
// ever gets there.
constexpr int JudgeTimeoutMs = 120000;

struct Run
{
    int exitCode = -1;
    bool finished = false;
    QString out;
    QString err;
};

Run judge(const QString &root)
{
    QProcess process;
    process.start(JudgeProgram, {root});
    Run run;
    run.finished = process.waitForFinished(JudgeTimeoutMs);
    if (!run.finished) {
        process.kill();
        process.waitForFinished();
    }
    run.exitCode = process.exitCode();
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

// Problems "sum" and "bad" alike, one point each, player "a" answering both.
bool writeContest(const QString &root)
{
    for (const QString &name : {QStringLiteral("sum"), QStringLiteral("bad")}) {
        const QString data = root + QStringLiteral("/data/") + name + u'/';
        const QByteArray answer = QStringLiteral("#include <stdio.h>\nint main(void){FILE*f=fopen(\"%1.out\",\"w\");"
                                                 "fputs(\"1\\n\",f);fclose(f);return 0;}\n")
                                      .arg(name)
                                      .toUtf8();
        if (!writeTestFile(data + QStringLiteral(".prb"), traditionalConfig(name, 100, QStringLiteral("1")))
            || !writeTestFile(data + name + QStringLiteral(".in"), "1\n")
            || !writeTestFile(data + name + QStringLiteral(".ans"), "1\n")
            || !writeTestFile(root + QStringLiteral("/src/a/") + name + u'/' + name + QStringLiteral(".c"), answer))
            return false;
    }
    return true;
}

ScoreInfo stored(const QString &root, const QString &problem)
{
    XmlFile file;
    if (!file.load(root + QStringLiteral("/result/") + problem + QStringLiteral("/a.res")))
        return ScoreInfo();
    return readScoreInfo(file.document);
}

}  // namespace

class TestBadFiles : public QObject
{
    Q_OBJECT

private slots:
    void faultyConfiguration_data();
    void faultyConfiguration();
    void fifoInPlace_data();
    void fifoInPlace();
};

void TestBadFiles::faultyConfiguration_data()
{
    QTest::addColumn<QString>("change");  // what becomes of bad's .prb
    QTest::addColumn<QByteArray>("from");  // "replace": this text of it ...
    QTest::addColumn<QByteArray>("to");    // ... becomes this
    QTest::addColumn<QString>("said");    // after "qxj-judge: data/bad/.prb"

    const QString notJudged = QStringLiteral("; problem bad is not judged\n");
    QTest::newRow("truncated") << QStringLiteral("truncated") << QByteArray() << QByteArray()
                               << QStringLiteral(":7: XML 格式错误: ");
    QTest::newRow("empty") << QStringLiteral("empty") << QByteArray() << QByteArray()
                           << QStringLiteral(": 文件为空") + notJudged;
    QTest::newRow("garbage") << QStringLiteral("garbage") << QByteArray() << QByteArray()
                             << QStringLiteral(":1: XML 格式错误: ");
    QTest::newRow("entity expansion") << QStringLiteral("laughs") << QByteArray() << QByteArray()
                                      << QStringLiteral(":9: XML 格式错误: ");
    QTest::newRow("FIFO") << QStringLiteral("fifo") << QByteArray() << QByteArray()
                          << QStringLiteral(": 不是普通文件（命名管道）") + notJudged;
    QTest::newRow("memory limit 0") << QStringLiteral("replace") << QByteArray("mem=\"64\"") << QByteArray("mem=\"0\"")
                                    << QStringLiteral(":7: 第 1 个测试点的内存限制 0 不是正数") + notJudged;
    QTest::newRow("negative time limit")
        << QStringLiteral("replace") << QByteArray("time=\"1\"") << QByteArray("time=\"-1\"")
        << QStringLiteral(":7: 第 1 个测试点的时间限制 -1 不是正数") + notJudged;
    QTest::newRow("score beyond an int")
        << QStringLiteral("replace") << QByteArray("score=\"100\"") << QByteArray("score=\"4294967396\"")
        << QStringLiteral(":7: 子任务分值 4294967396 超出整数范围") + notJudged;
}

void TestBadFiles::faultyConfiguration()
{
    QFETCH(QString, change);
    QFETCH(QByteArray, from);
    QFETCH(QByteArray, to);
    QFETCH(QString, said);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString root = dir.path();
    QVERIFY(writeContest(root));
    const QString prb = root + QStringLiteral("/data/bad/.prb");
    QByteArray config = readTestFile(prb);
    QVERIFY(QFile::remove(prb));
    if (change == u"truncated")
        config.truncate(config.indexOf("<point") + 10);
    else if (change == u"empty")
        config.clear();
    else if (change == u"garbage")
        config = "\x7f" "ELF garbage\n";
    else if (change == u"laughs")
        config = "<?xml version=\"1.0\"?>\n<!DOCTYPE p [\n<!ENTITY a \"aaaaaaaaaaaaaaaa\">\n"
                 "<!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\">\n"
                 "<!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;\">\n"
                 "<!ENTITY d \"&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;\">\n"
                 "<!ENTITY e \"&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;\">\n]>\n"
                 "<problem type=\"TRA_0_4\">&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;</problem>\n";
    else if (change == u"replace")
        QVERIFY(config.contains(from) && !config.replace(from, to).contains(from));
    if (change == u"fifo")
        QVERIFY(makeFifo(prb));
    else
        QVERIFY(writeTestFile(prb, config));

    const Run run = judge(root);
    QVERIFY2(run.finished, "the judge did not end");
    QCOMPARE(run.exitCode, 1);
    const QString prefix = QStringLiteral("qxj-judge: data/bad/.prb");
    QVERIFY2(run.err.startsWith(prefix + said), qPrintable(run.err));
    QVERIFY2(run.err.endsWith(QStringLiteral("qxj-judge: not judged (a fault in the .prb, see above): bad\n")),
             qPrintable(run.err));
    // The other problem is judged as always; the faulty one not at all.
    QCOMPARE(stored(root, QStringLiteral("sum")).score, 100);
    QVERIFY(!QFileInfo::exists(root + QStringLiteral("/result/bad")));
    Contest contest;
    contest.rootDir = root;
    contest.loadResultList();
    QCOMPARE(contest.cachedResults.value(QStringLiteral("a/bad")).state, ScoreInfo().state);
}

void TestBadFiles::fifoInPlace_data()
{
    QTest::addColumn<QString>("file");  // under the contest folder
    QTest::addColumn<bool>("replaced");  // by a regular file when the run ends

    QTest::newRow("result list") << QStringLiteral("result/.reslist") << true;
    QTest::newRow("result file") << QStringLiteral("result/sum/a.res") << true;
    QTest::newRow("contest file") << QStringLiteral(".qxj") << false;
    QTest::newRow("player list") << QStringLiteral(".list") << false;
}

void TestBadFiles::fifoInPlace()
{
    QFETCH(QString, file);
    QFETCH(bool, replaced);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString root = dir.path();
    QVERIFY(writeContest(root));
    const QString path = root + u'/' + file;
    QVERIFY(makeFifo(path));

    const Run run = judge(root);
    QVERIFY2(run.finished, "the judge did not end");
    QVERIFY2(run.exitCode == 0, qPrintable(run.err));
    QCOMPARE(stored(root, QStringLiteral("sum")).score, 100);
    QCOMPARE(stored(root, QStringLiteral("bad")).score, 100);
    QCOMPARE(QFileInfo(path).isFile(), replaced);
    QVERIFY(QFileInfo::exists(path));
}

QTEST_GUILESS_MAIN(TestBadFiles)
#include "tst_badfiles.moc"
