// Problems in the shapes they come in today, judged end to end through
// TestCore with real compilers and the real runner: standard input and
// output.

#include "problemsite.h"

#include "runner.h"
#include "testlibchecker.h"

#include <QDir>
#include <QTest>

#include <cstring>

#include <elf.h>

using namespace Qt::StringLiterals;
using namespace problemsite;

namespace {

// A testlib checker ending as the answer's first line says: "<exit code>
// <message>"; 99 aborts.
const QByteArray ExitChecker = R"(#include "testlib.h"
int main(int argc, char **argv) {
    registerTestlibCmd(argc, argv);
    const long long code = ans.readLong();
    // The token's delimiter is read with it: the rest is the message.
    const std::string message = ans.readLine();
    if (code == 99) std::abort();
    quitf(TResult(code), "%s", message.c_str());
}
)";

const QString TestlibTask = u"input=\"\" output=\"\" stdio=\"1\" checkertype=\"testlib\" checker=\"files/check.cpp\""_s;

} // namespace

class TestProblemKinds : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void standardStreams_data();
    void standardStreams();
    void testlibVerdict_data();
    void testlibVerdict();
    void testlibExitCodes_data();
    void testlibExitCodes();
    void testlibBuild_data();
    void testlibBuild();
    void testlibBuiltOnce();
    void graders_data();
    void graders();

private:
    QTemporaryDir m_cache;
};

// Whether an executable names a program interpreter (the dynamic loader).
static bool needsLoader(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return true;
    const QByteArray image = file.readAll();
    Elf64_Ehdr header;
    if (image.size() < qsizetype(sizeof header))
        return true;
    std::memcpy(&header, image.constData(), sizeof header);
    for (int i = 0; i < header.e_phnum; ++i) {
        Elf64_Phdr entry;
        const qsizetype at = qsizetype(header.e_phoff) + qsizetype(i) * header.e_phentsize;
        if (at + qsizetype(sizeof entry) > image.size())
            return true;
        std::memcpy(&entry, image.constData() + at, sizeof entry);
        if (entry.p_type == PT_INTERP)
            return true;
    }
    return false;
}

void TestProblemKinds::initTestCase()
{
    registerJudgeMetaTypes();
    // Built checkers go to a cache of this test's own: not one that the
    // same test in another build, run at the same time, empties.
    QVERIFY(m_cache.isValid());
    qputenv("XDG_CACHE_HOME", QFile::encodeName(m_cache.path()));
    QVERIFY(checkerCacheDir().startsWith(m_cache.path()));
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

void TestProblemKinds::testlibVerdict_data()
{
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("expected");  // state, ratio, note

    QTest::newRow("0 ok") << 0 << u"ok 3 numbers"_s << u"A 1 ok 3 numbers 时间"_s;
    QTest::newRow("0 silent") << 0 << QString() << u"A 1 时间"_s;
    QTest::newRow("1 wrong") << 1 << u"expected 3"_s << u"W 0 expected 3"_s;
    QTest::newRow("1 silent") << 1 << QString() << u"W 0 答案错误"_s;
    QTest::newRow("2 presentation") << 2 << u"extra tokens"_s << u"W 0 格式错误: extra tokens"_s;
    QTest::newRow("2 silent") << 2 << QString() << u"W 0 格式错误"_s;
    QTest::newRow("4 dirt") << 4 << u"x"_s << u"W 0 格式错误: x"_s;
    QTest::newRow("8 end of file") << 8 << u"unexpected end of file"_s << u"W 0 unexpected end of file"_s;
    QTest::newRow("3 checker failed") << 3 << u"answer unreadable"_s << u"C 0 校验器失败: answer unreadable"_s;
    QTest::newRow("7 half") << 7 << u"0.5 half done"_s << u"P 0.5 half done"_s;
    QTest::newRow("7 points word") << 7 << u"points 0.25"_s << u"P 0.25 部分正确"_s;
    QTest::newRow("7 leading point") << 7 << u".75 q"_s << u"P 0.75 q"_s;
    QTest::newRow("7 full") << 7 << u"1 all"_s << u"A 1 all 时间"_s;
    QTest::newRow("7 nothing") << 7 << u"0"_s << u"W 0 答案错误"_s;
    QTest::newRow("7 above one") << 7 << u"1.5 greedy"_s << u"C 0 校验器输出错误: 分数 = 1.500 > 1.000"_s;
    QTest::newRow("7 without a number") << 7 << u"many"_s << u"C 0 校验器输出格式错误: many"_s;
    QTest::newRow("7 negative") << 7 << u"-0.5"_s << u"C 0 校验器输出格式错误: -0.5"_s;
    QTest::newRow("7 empty") << 7 << QString() << u"C 0 校验器输出格式错误"_s;
    QTest::newRow("5 unknown") << 5 << u"odd"_s << u"C 0 校验器退出码 5: odd"_s;
    QTest::newRow("-1 unknown") << -1 << QString() << u"C 0 校验器退出码 -1"_s;
}

void TestProblemKinds::testlibVerdict()
{
    QFETCH(int, exitCode);
    QFETCH(QString, message);
    QFETCH(QString, expected);
    QString note = u"时间"_s;
    char state = 0;
    double ratio = -1;
    parseTestlibVerdict(exitCode, message, note, state, ratio);
    QCOMPARE(QString(QLatin1Char(state)) + u' ' + QString::number(ratio) + u' ' + note, expected);
}

void TestProblemKinds::testlibExitCodes_data()
{
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QString>("expected");

    QTest::newRow("0") << QByteArray("0 fine\n") << u"A:fine 时间 = 100"_s;
    QTest::newRow("1") << QByteArray("1 no\n") << u"W:no = 0"_s;
    QTest::newRow("2") << QByteArray("2 spaces\n") << u"W:格式错误: spaces = 0"_s;
    QTest::newRow("3") << QByteArray("3 broken\n") << u"C:校验器失败: broken = 0"_s;
    QTest::newRow("4") << QByteArray("4 dirt\n") << u"W:格式错误: dirt = 0"_s;
    QTest::newRow("7 half") << QByteArray("7 0.5 half\n") << u"P:half = 50"_s;
    QTest::newRow("7 above one") << QByteArray("7 1.5\n") << u"C:校验器输出错误: 分数 = 1.500 > 1.000 = 0"_s;
    QTest::newRow("8") << QByteArray("8 eof\n") << u"W:eof = 0"_s;
    QTest::newRow("5") << QByteArray("5 odd\n") << u"C:校验器退出码 5: odd = 0"_s;
    QTest::newRow("crash") << QByteArray("99\n") << u"C:校验器崩溃 = 0"_s;
    // UTF-8, as testlib writes it; only the first line counts.
    QTest::newRow("Chinese message") << QByteArray("1 第一行\n第二行\n") << u"W:第一行 = 0"_s;
}

void TestProblemKinds::testlibExitCodes()
{
    QFETCH(QByteArray, answer);
    QFETCH(QString, expected);
    Site site;
    site.taskAttributes = TestlibTask;
    QVERIFY(site.writeConfig());
    QVERIFY(writeFile(site.problemDir() + u"/files/testlib.h"_s, miniTestlib()));
    QVERIFY(writeFile(site.problemDir() + u"/files/check.cpp"_s, ExitChecker));
    QVERIFY(site.writePoint(1, "1 2\n", answer));
    QVERIFY(site.submit(u"p1"_s, u"sum.c"_s, StdioSum));
    QCOMPARE(verdicts(site.judge(u"p1"_s)), expected);
}

void TestProblemKinds::testlibBuild_data()
{
    QTest::addColumn<QString>("checker");   // where check.cpp lies
    QTest::addColumn<QString>("header");    // where testlib.h lies; empty: nowhere
    QTest::addColumn<QByteArray>("source");
    QTest::addColumn<QString>("expected");  // empty: built, the points judged
    QTest::addColumn<QString>("noteHolds");

    QTest::newRow("both in files/") << u"files/check.cpp"_s << u"files/testlib.h"_s << sumChecker() << QString()
                                    << QString();
    QTest::newRow("both in the folder") << u"check.cpp"_s << u"testlib.h"_s << sumChecker() << QString() << QString();
    QTest::newRow("source beside, header in files/")
        << u"chk.cpp"_s << u"files/testlib.h"_s << sumChecker() << QString() << QString();
    QTest::newRow("missing header") << u"files/check.cpp"_s << QString() << sumChecker() << u"C C = 0"_s
                                    << u"testlib.h"_s;
    QTest::newRow("compile error") << u"files/check.cpp"_s << u"files/testlib.h"_s
                                   << QByteArray(sumChecker()).replace("quitf(_ok", "quitf(_ok_not_there")
                                   << u"C C = 0"_s << u"_ok_not_there"_s;
    // Only the system's loader has it: the static link fails, the usual one works.
    QTest::newRow("cannot be linked statically")
        << u"files/check.cpp"_s << u"files/testlib.h"_s
        << sumChecker() + "extern \"C\" void __tls_get_addr();\nvoid (*volatile keepLinked)() = __tls_get_addr;\n"
        << QString() << QString();
    QTest::newRow("missing source") << u"files/check.cpp"_s << u"files/testlib.h"_s << QByteArray() << u"C C = 0"_s
                                    << u"找不到校验器: files/check.cpp"_s;
}

void TestProblemKinds::testlibBuild()
{
    QFETCH(QString, checker);
    QFETCH(QString, header);
    QFETCH(QByteArray, source);
    QFETCH(QString, expected);
    QFETCH(QString, noteHolds);

    Site site;
    site.taskAttributes = QString(TestlibTask).replace(u"files/check.cpp"_s, checker);
    site.layout = u"100:1,2"_s;
    QVERIFY(site.writeConfig());
    if (!header.isEmpty())
        QVERIFY(writeFile(site.problemDir() + u'/' + header, miniTestlib()));
    if (!source.isNull())
        QVERIFY(writeFile(site.problemDir() + u'/' + checker, source));
    QVERIFY(site.writePoint(1, "1 2\n", "3\n"));
    QVERIFY(site.writePoint(2, "5 5\n", "11\n"));
    QVERIFY(site.submit(u"p1"_s, u"sum.c"_s, StdioSum));
    const QDomDocument result = site.judge(u"p1"_s);
    if (expected.isEmpty()) {
        // The second answer is wrong on purpose: the checker really judges.
        QCOMPARE(verdicts(result), u"A:3 时间 W:expected 11, found 10 = 0"_s);
        return;
    }
    // Every point is the checker's failure, none passed over, each saying why.
    const ElementQuery points = queryUnder(result, ResultXml::Point);
    QString states;
    for (int i = 0; i < points.count(); ++i) {
        states += attributeText(points.item(i), ResultXml::State) + u' ';
        const QString note = attributeText(points.item(i), ResultXml::Note);
        QVERIFY2(note.contains(noteHolds), qPrintable(note));
    }
    QCOMPARE(states + u"= "_s + QString::number(readScoreInfo(result).score), expected);
}

void TestProblemKinds::testlibBuiltOnce()
{
    Site site;
    site.taskAttributes = TestlibTask;
    QVERIFY(site.writeConfig());
    QVERIFY(writeFile(site.problemDir() + u"/files/testlib.h"_s, miniTestlib()));
    // Unlike any other test's source, so that the cache starts without it.
    QVERIFY(writeFile(site.problemDir() + u"/files/check.cpp"_s, sumChecker() + "// once\n"));
    QVERIFY(site.writePoint(1, "1 2\n", "3\n"));
    const QStringList players{u"p1"_s, u"p2"_s, u"p3"_s};
    for (const QString &player : players)
        QVERIFY(site.submit(player, u"sum.c"_s, StdioSum));
    const QStringList before = QDir(checkerCacheDir()).entryList(QDir::Dirs | QDir::NoDotAndDotDot);

    qsizetype builds = 0;
    site.judge(players, &builds);
    QCOMPARE(builds, 1);
    for (const QString &player : players)
        QCOMPARE(verdicts(site.result(player)), u"A:3 时间 = 100"_s);
    QStringList added = QDir(checkerCacheDir()).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &old : before)
        added.removeAll(old);
    QCOMPARE(added.size(), 1);
    const QString built = checkerCacheDir() + u'/' + added[0] + u"/checker"_s;
    const QDateTime made = QFileInfo(built).lastModified();
    // Started at every point, it needs no loader.
    QVERIFY(!needsLoader(built));

    // The next run takes it from the cache; a changed header makes another.
    site.judge(players, &builds);
    QCOMPARE(QFileInfo(built).lastModified(), made);
    QVERIFY(writeFile(site.problemDir() + u"/files/testlib.h"_s, miniTestlib() + "\n// changed\n"));
    site.judge(players, &builds);
    QCOMPARE(QDir(checkerCacheDir()).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size(), before.size() + 2);
    QCOMPARE(verdicts(site.result(u"p3"_s)), u"A:3 时间 = 100"_s);
}

void TestProblemKinds::graders_data()
{
    QTest::addColumn<QByteArray>("source");
    QTest::addColumn<bool>("withGrader");
    QTest::addColumn<QString>("expected");     // point verdicts, or the cell's note
    QTest::addColumn<QString>("noteHolds");

    QTest::newRow("function only") << QByteArray("#include \"grader.h\"\nlong long add(long long a, long long b) { return a + b; }\n")
                                   << true << u"A:时间 = 100"_s << QString();
    QTest::newRow("wrong function") << QByteArray("#include \"grader.h\"\nlong long add(long long a, long long b) { return a * b; }\n")
                                    << true << u"W:标准输出:\"3\" 选手输出:\"2\" = 0"_s << QString();
    // A main of the contestant's own meets the grader's at link time.
    QTest::newRow("contestant's main")
        << QByteArray("#include <cstdio>\nlong long add(long long a, long long b) { return a + b; }\n"
                      "int main() { long long a, b; std::scanf(\"%lld %lld\", &a, &b); std::printf(\"%lld\\n\", a + b); }\n")
        << true << u"C"_s << u"main"_s;
    QTest::newRow("grader missing") << QByteArray("#include \"grader.h\"\nlong long add(long long a, long long b) { return a + b; }\n")
                                    << false << u"E"_s << u"找不到交互库文件: grader.cpp"_s;
}

void TestProblemKinds::graders()
{
    QFETCH(QByteArray, source);
    QFETCH(bool, withGrader);
    QFETCH(QString, expected);
    QFETCH(QString, noteHolds);

    Site site;
    site.taskAttributes = u"input=\"\" output=\"\" stdio=\"1\" checker=\"全文比较\""_s;
    site.languages = u"<language file=\"sum.cpp\" cmd=\"g++ -O2 -o sum sum.cpp grader.cpp\"/>"_s;
    site.sourceExtra = u"<grader file=\"grader.cpp\"/><grader file=\"grader.h\"/>"_s;
    QVERIFY(site.writeConfig());
    QVERIFY(writeFile(site.problemDir() + u"/grader.h"_s, "long long add(long long a, long long b);\n"));
    if (withGrader)
        QVERIFY(writeFile(site.problemDir() + u"/grader.cpp"_s,
                          "#include <cstdio>\n#include \"grader.h\"\n"
                          "int main() { long long a, b; if (std::scanf(\"%lld %lld\", &a, &b) != 2) return 1;\n"
                          "  std::printf(\"%lld\\n\", add(a, b)); }\n"));
    QVERIFY(site.writePoint(1, "1 2\n", "3\n"));
    QVERIFY(site.submit(u"p1"_s, u"sum.cpp"_s, source));
    const QDomDocument result = site.judge(u"p1"_s);
    if (noteHolds.isEmpty()) {
        QCOMPARE(verdicts(result), expected);
        return;
    }
    QCOMPARE(QString(QLatin1Char(readScoreInfo(result).state)), expected);
    const QString note = queryUnder(result, ResultXml::Note).item(0).text();
    QVERIFY2(note.contains(noteHolds), qPrintable(note));
}

QTEST_GUILESS_MAIN(TestProblemKinds)
#include "tst_problemkinds.moc"
