// Interactive problems judged end to end through TestCore with real
// compilers and the real runner: the contestant's program and an interactor
// of our own (testlib's argument order and exit codes) talk through pipes.

#include "problemsite.h"

#include "runner.h"
#include "stopsignal.h"
#include "testlibchecker.h"

#include <QDirIterator>
#include <QElapsedTimer>
#include <QTest>

#include <sys/stat.h>

using namespace Qt::StringLiterals;
using namespace problemsite;

namespace {

QByteArray guessInteractor()
{
    return readFile(QStringLiteral(QXJ_SOURCE_DIR "/tests/programs/guessinteractor.cpp"));
}

// Halves the range until told "=".
const QByteArray BinarySearch = R"(#include <stdio.h>
int main(void) {
    long long lo = 1, hi = 1000000000;
    char reply[8];
    for (;;) {
        long long mid = lo + (hi - lo) / 2;
        printf("%lld\n", mid);
        fflush(stdout);
        if (scanf("%7s", reply) != 1 || reply[0] == '=') return 0;
        if (reply[0] == '>') lo = mid + 1; else hi = mid - 1;
    }
}
)";

// 1, 2, 3 … whatever it hears, and on after its partner has gone.
const QByteArray Linear = R"(#include <stdio.h>
int main(void) {
    char reply[8] = "";
    for (long long guess = 1;; ++guess) {
        printf("%lld\n", guess);
        fflush(stdout);
        if (scanf("%7s", reply) == 1 && reply[0] == '=') return 0;
    }
}
)";

// The interactor ends as the answer's first line says ("<exit code>
// <message>", 99: abort) once it has read the program's first word.
const QByteArray ExitInteractor = R"(#include "testlib.h"
int main(int argc, char **argv) {
    registerInteraction(argc, argv);
    const long long code = ans.readLong();
    const std::string message = ans.readLine();
    ouf.readLong();
    std::fprintf(tout, "%s\n", message.c_str());
    if (code == 99) std::abort();
    quitf(TResult(code), "%s", message.c_str());
}
)";

// Judges the interactor's output (the number of guesses) against the
// answer (the most allowed).
const QByteArray GuessChecker = R"(#include "testlib.h"
int main(int argc, char **argv) {
    registerTestlibCmd(argc, argv);
    const long long limit = ans.readLong(), guesses = ouf.readLong();
    if (guesses > limit) quitf(_wa, "%lld guesses, more than %lld", guesses, limit);
    quitf(_ok, "%lld guesses are few enough", guesses);
}
)";

const QString InteractiveTask = u"input=\"\" output=\"\" checker=\"\"><interactor path=\"files/interactor.cpp\"/"_s;
const QString CheckedTask = u"input=\"\" output=\"\" checkertype=\"testlib\" checker=\"files/check.cpp\">"
                            u"<interactor path=\"files/interactor.cpp\"/"_s;

// A site with problem "sum" made interactive, our testlib.h in files/.
struct InteractiveSite : Site
{
    explicit InteractiveSite(const QByteArray &interactor, const QString &task = InteractiveTask)
    {
        taskAttributes = task;
        ok = writeFile(problemDir() + u"/files/testlib.h"_s, miniTestlib())
             && (interactor.isNull() || writeFile(problemDir() + u"/files/interactor.cpp"_s, interactor));
    }
    bool ok = false;
};

// The processes of this test still alive below it.
QStringList childProcesses()
{
    QStringList children;
    QDirIterator tasks(QStringLiteral("/proc/self/task"), QDir::Dirs | QDir::NoDotAndDotDot);
    while (tasks.hasNext()) {
        QFile file(tasks.next() + QStringLiteral("/children"));
        if (file.open(QIODevice::ReadOnly))
            children += QString::fromLatin1(file.readAll()).split(u' ', Qt::SkipEmptyParts);
    }
    return children;
}

// Whether a process runs the file, known by its inode (a sandboxed
// process names its file by the sandbox's path).
bool fileRuns(const QString &path)
{
    struct stat file;
    if (::stat(QFile::encodeName(path).constData(), &file) != 0)
        return false;
    QDirIterator processes(QStringLiteral("/proc"), QDir::Dirs | QDir::NoDotAndDotDot);
    while (processes.hasNext()) {
        struct stat exe;
        if (::stat(QFile::encodeName(processes.next() + u"/exe"_s).constData(), &exe) == 0 && exe.st_ino == file.st_ino
            && exe.st_dev == file.st_dev)
            return true;
    }
    return false;
}

} // namespace

class TestInteractive : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void verdicts_data();
    void verdicts();
    void interactorBuild_data();
    void interactorBuild();
    void interactorFilesOutOfReach();
    void stopDuringPair();

private:
    QTemporaryDir m_cache;
};

void TestInteractive::initTestCase()
{
    registerJudgeMetaTypes();
    // Built programs go to a cache of this test's own: the tests of checkers
    // count what theirs holds.
    QVERIFY(m_cache.isValid());
    qputenv("XDG_CACHE_HOME", QFile::encodeName(m_cache.path()));
    QVERIFY(checkerCacheDir().startsWith(m_cache.path()));
    QVERIFY(QDir::setCurrent(QStringLiteral(QXJ_BUILD_DIR)));
}

// One point judged: the program against the interactor and, where there is
// one, the checker of the interactor's output.
void TestInteractive::verdicts_data()
{
    QTest::addColumn<QByteArray>("interactor");
    QTest::addColumn<QByteArray>("checker");  // null: none
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QByteArray>("source");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<int>("atLeastMs");

    const QByteArray guess = guessInteractor();
    const auto guessing = [&guess](const char *name, const QByteArray &source, const QByteArray &secret,
                                   const QString &expected, int atLeastMs = 0) {
        QTest::addRow("%s", name) << guess << QByteArray() << secret + '\n' << QByteArray("30\n") << source << expected
                                  << atLeastMs;
    };
    guessing("binary search", BinarySearch, "500000000", u"A:1 guesses 时间 = 100"_s);
    guessing("binary search, two points", BinarySearch, "250000000", u"A:2 guesses 时间 = 100"_s);
    guessing("linear, found", Linear, "3", u"A:3 guesses 时间 = 100"_s);
    // Told it was wrong, it writes to an interactor that has ended: the
    // interactor's verdict, not a crash.
    guessing("writes after the interactor's verdict", Linear, "500", u"W:more than 100 guesses = 0"_s);
    guessing("exits without a word", "int main(void) { return 0; }\n", "7", u"W:unexpected end of file = 0"_s);
    guessing("answers in words", "#include <stdio.h>\nint main(void) { puts(\"seven\"); return 0; }\n", "7",
             u"W:格式错误: expected an integer, found \"seven\" = 0"_s);
    // The program's own failure wins, whatever the interactor says.
    guessing("endless loop", "int main(void) { for (;;) {} }\n", "7", u"T:超过时间限制 = 0"_s);
    guessing("memory",
             "#include <stdlib.h>\n#include <string.h>\n#include <stdio.h>\n"
             "int main(void) { char *p = malloc(300 << 20); memset(p, 1, 300 << 20); printf(\"%d\\n\", p[7]); return 0; }\n",
             "1", u"M:超过内存限制 = 0"_s);
    guessing("crash after a guess",
             "#include <stdio.h>\nint main(void) { printf(\"1\\n\"); fflush(stdout); *(volatile int *)0 = 0; return 0; }\n",
             "7", u"R:运行时错误: SIGSEGV = 0"_s);
    guessing("exit code after the right guess",
             "#include <stdio.h>\nint main(void) { char r[8]; printf(\"7\\n\"); fflush(stdout); scanf(\"%7s\", r); return 3; }\n",
             "7", u"R:运行时错误: 3 = 0"_s);
    // Both read first: the program's clock ends it (1 s limit: 5 s by the
    // clock), not the idle rule.
    guessing("deadlock", "#include <stdio.h>\nint main(void) { long long x; return scanf(\"%lld\", &x) == 1 ? 0 : 2; }\n",
             "7", u"T:超过时间限制 = 0"_s, 5000);

    // The interactor's exit codes, as testlib's.
    const auto exiting = [](const char *code, const QByteArray &answer, const QString &expected) {
        QTest::addRow("interactor exit code %s", code)
            << ExitInteractor << QByteArray() << QByteArray("\n") << answer
            << QByteArray("#include <stdio.h>\nint main(void) { puts(\"1\"); return 0; }\n") << expected << 0;
    };
    exiting("0", "0 fine\n", u"A:fine 时间 = 100"_s);
    exiting("1", "1 no\n", u"W:no = 0"_s);
    exiting("2", "2 spaces\n", u"W:格式错误: spaces = 0"_s);
    exiting("3", "3 broken\n", u"C:交互器失败: broken = 0"_s);
    exiting("4", "4 dirt\n", u"W:格式错误: dirt = 0"_s);
    exiting("7 half", "7 0.5 half\n", u"P:half = 50"_s);
    exiting("7 above one", "7 1.5\n", u"C:交互器输出错误: 分数 = 1.500 > 1.000 = 0"_s);
    exiting("8", "8 eof\n", u"W:eof = 0"_s);
    exiting("5", "5 odd\n", u"C:交互器退出码 5: odd = 0"_s);
    exiting("crash", "99\n", u"C:交互器崩溃 = 0"_s);

    // The interactor accepts both; the checker holds the second to the
    // answer's 5 guesses. The binary search needs 1 guess for 500000000, the
    // linear one 9 for 9.
    QTest::newRow("checker: few guesses") << guess << GuessChecker << QByteArray("500000000\n") << QByteArray("5\n")
                                          << BinarySearch << u"A:1 guesses are few enough 时间 = 100"_s << 0;
    QTest::newRow("checker: too many guesses") << guess << GuessChecker << QByteArray("9\n") << QByteArray("5\n")
                                               << Linear << u"W:9 guesses, more than 5 = 0"_s << 0;
}

void TestInteractive::verdicts()
{
    QFETCH(QByteArray, interactor);
    QFETCH(QByteArray, checker);
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, answer);
    QFETCH(QByteArray, source);
    QFETCH(QString, expected);
    QFETCH(int, atLeastMs);

    InteractiveSite site(interactor, checker.isNull() ? InteractiveTask : CheckedTask);
    QVERIFY(site.ok);
    if (!checker.isNull())
        QVERIFY(writeFile(site.problemDir() + u"/files/check.cpp"_s, checker));
    QVERIFY(site.writeConfig());
    QVERIFY(site.writePoint(1, input, answer));
    QVERIFY(site.submit(u"p1"_s, u"sum.c"_s, source));
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(problemsite::verdicts(site.judge(u"p1"_s)), expected);
    QVERIFY2(clock.elapsed() >= atLeastMs, qPrintable(QString::number(clock.elapsed())));
    // Nothing of either is left.
    QVERIFY(childProcesses().isEmpty());
}

void TestInteractive::interactorBuild_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QByteArray>("interactor");
    QTest::addColumn<QString>("noteHolds");  // empty: the points judged

    QTest::newRow("built from C++") << u"files/interactor.cpp"_s << guessInteractor() << QString();
    QTest::newRow("compile error") << u"files/interactor.cpp"_s
                                   << QByteArray(guessInteractor()).replace("quitf(_ok", "quitf(_ok_not_there")
                                   << u"交互器编译错误:\n"_s;
    QTest::newRow("missing") << u"files/interactor.cpp"_s << QByteArray() << u"找不到交互器: files/interactor.cpp"_s;
    // Any other name is a ready executable: a shell script here.
    QTest::newRow("executable") << u"interact.sh"_s
                                << QByteArray("#!/bin/sh\nread guess\necho =\necho \"right $guess\" > \"$4\"\n")
                                << QString();
}

void TestInteractive::interactorBuild()
{
    QFETCH(QString, path);
    QFETCH(QByteArray, interactor);
    QFETCH(QString, noteHolds);
    InteractiveSite site(QByteArray(), QString(InteractiveTask).replace(u"files/interactor.cpp"_s, path));
    QVERIFY(site.ok);
    if (!interactor.isNull()) {
        QVERIFY(writeFile(site.problemDir() + u'/' + path, interactor));
        QFile::setPermissions(site.problemDir() + u'/' + path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner
                                                                   | QFile::ReadOther | QFile::ExeOther);
    }
    site.layout = u"50:1;50:2"_s;
    QVERIFY(site.writeConfig());
    QVERIFY(site.writePoint(1, "500000000\n", "\n"));
    QVERIFY(site.writePoint(2, "500000000\n", "\n"));
    QVERIFY(site.submit(u"p1"_s, u"sum.c"_s, BinarySearch));
    const QDomDocument result = site.judge(u"p1"_s);
    if (noteHolds.isEmpty()) {
        const QString verdicts = problemsite::verdicts(result);
        QVERIFY2(verdicts.startsWith(u"A:"_s) && verdicts.endsWith(u" = 100"_s), qPrintable(verdicts));
        return;
    }
    // Every point is the organiser's failure, none passed over.
    const ElementQuery points = queryUnder(result, ResultXml::Point);
    QCOMPARE(points.count(), 2);
    for (int i = 0; i < points.count(); ++i) {
        QCOMPARE(attributeText(points.item(i), ResultXml::State), u"C"_s);
        QVERIFY2(attributeText(points.item(i), ResultXml::Note).startsWith(noteHolds),
                 qPrintable(attributeText(points.item(i), ResultXml::Note)));
    }
}

void TestInteractive::interactorFilesOutOfReach()
{
    if (!sandboxWarning().isEmpty())
        QSKIP("without the sandbox a program reaches what its user may read");
    // A hostile program plays right, but first tries every way to the
    // interactor's input and answer: any it opens makes it fail.
    InteractiveSite site(guessInteractor());
    QVERIFY(site.ok);
    QVERIFY(site.writeConfig());
    QVERIFY(site.writePoint(1, "500000000\n", "31\n"));
    const QString tmp = site.contest.tmpDir();
    QByteArray paths;
    for (const QString &path : {tmp + u"/interactor_work/input.txt"_s, tmp + u"/interactor_work/answer.txt"_s,
                                u"../interactor_work/answer.txt"_s, u"/box/../interactor_work/input.txt"_s,
                                site.problemDir() + u"/tests/1"_s, site.problemDir() + u"/tests/1.a"_s,
                                u"/proc/1/root/box/input.txt"_s})
        paths += '"' + path.toUtf8() + "\", ";
    const QByteArray source = "#include <stdio.h>\nint main(void) {\n    const char *paths[] = {" + paths
                              + "0};\n    for (int i = 0; paths[i]; ++i) if (fopen(paths[i], \"r\")) return 10 + i;\n"
                                "    char r[8]; printf(\"500000000\\n\"); fflush(stdout); scanf(\"%7s\", r); return 0;\n}\n";
    QVERIFY(site.submit(u"p1"_s, u"sum.c"_s, source));
    QCOMPARE(problemsite::verdicts(site.judge(u"p1"_s)), u"A:1 guesses 时间 = 100"_s);
}

void TestInteractive::stopDuringPair()
{
    // Stopped while both wait on each other: no verdict, nothing left.
    InteractiveSite site(guessInteractor());
    QVERIFY(site.ok);
    QVERIFY(site.writeConfig());
    QVERIFY(site.writePoint(1, "7\n", "\n"));
    QVERIFY(site.submit(u"p1"_s, u"sum.c"_s,
                        "#include <stdio.h>\nint main(void) { long long x; return scanf(\"%lld\", &x) == 1 ? 0 : 2; }\n"));
    site.contest.loadProblems();
    TestCore core(site.contest);
    SiteItem cell;
    cell.player = u"p1"_s;
    cell.problem = u"sum"_s;
    cell.displayName = u"p1"_s;
    core.workQueue << &cell;
    core.problemConfigs = &site.contest.problemConfigs;
    core.problemNames = site.contest.problemNames;
    QSignalSpy rows(&core, &TestCore::sendInfo);
    core.startJudging();
    // Once the interactor runs, stop.
    QTRY_VERIFY_WITH_TIMEOUT(fileRuns(site.contest.tmpDir() + u"/interactor_work/interactor"_s), JudgeTimeoutMs);
    core.requestStop();
    QVERIFY(core.wait(JudgeTimeoutMs));
    QVERIFY(!QFileInfo::exists(site.contest.resultFilePath(u"p1"_s, u"sum"_s)));
    QTRY_VERIFY(childProcesses().isEmpty());
}

QTEST_GUILESS_MAIN(TestInteractive)
#include "tst_interactive.moc"
