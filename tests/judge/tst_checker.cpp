#include "checker.h"
#include "checkerfixture.h"
#include "testcore.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QStringEncoder>
#include <QTest>

#include <cmath>

using namespace Qt::StringLiterals;

namespace {

QByteArray gb18030(const QString &text)
{
    QStringEncoder encoder("GB18030");
    return encoder.encode(text);
}

struct Outcome
{
    bool returned = false;
    char state = '-';
    QString note;
    double ratio = 0;
};

} // namespace

class TestChecker : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void verdict_data();
    void verdict();
    void hugeRatioIsTooLarge();
    void checkerPrograms_data();
    void checkerPrograms();
    void commandLineAndWorkingDirectory();
    void checkerLookup_data();
    void checkerLookup();
    void stoppedBeforeStartRunsNothing();
    void checkerPastTimeLimitIsKilled();

private:
    Outcome check(TestCore &core, CheckerContest &fixture, const QString &noteIn = QString(),
                  double ratioIn = 0.25);
    QString m_startDir;
};

void TestChecker::initTestCase()
{
    QVERIFY(QStringDecoder("GB18030").isValid());
    m_startDir = QDir::currentPath();
}

void TestChecker::verdict_data()
{
    QTest::addColumn<QByteArray>("line1");
    QTest::addColumn<QByteArray>("line2");
    QTest::addColumn<QString>("noteIn");
    QTest::addColumn<char>("state");
    QTest::addColumn<double>("ratio");
    QTest::addColumn<QString>("note");

    const double untouched = 0.25;  // the ratio handed in
    const QString formatError = u"校验器输出格式错误 第1行: \""_s;

    QTest::newRow("1") << "1"_ba << ""_ba << QString() << 'A' << 1.0 << u"答案正确"_s;
    QTest::newRow("0.99999") << "0.99999"_ba << ""_ba << QString() << 'A' << 0.99999
                             << u"答案正确"_s;
    QTest::newRow("0.999989") << "0.999989"_ba << ""_ba << QString() << 'P' << 0.999989
                              << u"部分正确"_s;
    QTest::newRow("0.00001") << "0.00001"_ba << ""_ba << QString() << 'W' << 0.00001
                             << u"答案错误"_s;
    QTest::newRow("0.000011") << "0.000011"_ba << ""_ba << QString() << 'P' << 0.000011
                              << u"部分正确"_s;
    QTest::newRow("0") << "0"_ba << ""_ba << QString() << 'W' << 0.0 << u"答案错误"_s;
    QTest::newRow("P:0.5") << "P:0.5"_ba << ""_ba << QString() << 'P' << 0.5 << u"部分正确"_s;
    QTest::newRow("letter decides: W:1") << "W:1"_ba << ""_ba << QString() << 'W' << 1.0
                                         << u"答案错误"_s;
    QTest::newRow("letter decides: A:0") << "A:0"_ba << ""_ba << QString() << 'A' << 0.0
                                         << u"答案正确"_s;
    QTest::newRow("white space around") << " \t1 \r\n"_ba << ""_ba << QString() << 'A' << 1.0
                                        << u"答案正确"_s;
    QTest::newRow("lower-case letter") << "p:0.5"_ba << ""_ba << QString() << 'C' << untouched
                                       << formatError + u"p:0.5\""_s;
    QTest::newRow("blank after colon") << "P: 0.5"_ba << ""_ba << QString() << 'C' << untouched
                                       << formatError + u"P: 0.5\""_s;
    QTest::newRow("no leading digit") << "P:.5"_ba << ""_ba << QString() << 'C' << untouched
                                      << formatError + u"P:.5\""_s;
    QTest::newRow("sign") << "-1"_ba << ""_ba << QString() << 'C' << untouched
                          << formatError + u"-1\""_s;
    QTest::newRow("exponent") << "1e3"_ba << ""_ba << QString() << 'C' << untouched
                              << formatError + u"1e3\""_s;
    QTest::newRow("empty line") << ""_ba << "ok"_ba << u"0.01s"_s << 'C' << untouched
                                << formatError + u"\""_s;
    QTest::newRow("other letter") << "C:1"_ba << ""_ba << QString() << 'C' << untouched
                                  << formatError + u"C:1\""_s;
    QTest::newRow("A:1.00001") << "A:1.00001"_ba << ""_ba << QString() << 'C' << 1.00001
                               << u"校验器输出错误: 分数 = 1.000 > 1.000"_s;
    QTest::newRow("1.5") << "1.5"_ba << "fine"_ba << QString() << 'C' << 1.5
                         << u"校验器输出错误: 分数 = 1.500 > 1.000"_s;
    QTest::newRow("1.000009") << "1.000009"_ba << ""_ba << QString() << 'A' << 1.000009
                              << u"答案正确"_s;
    QTest::newRow("13 characters cut") << "abcdefghijklm"_ba << ""_ba << QString() << 'C'
                                       << untouched << formatError + u"abcdefghij…\""_s;
    QTest::newRow("12 characters whole") << "abcdefghijkl"_ba << ""_ba << QString() << 'C'
                                         << untouched << formatError + u"abcdefghijkl\""_s;
    QTest::newRow("13 GB18030 characters cut")
        << gb18030(u"一二三四五六七八九十百千万"_s) << ""_ba << QString() << 'C' << untouched
        << formatError + u"一二三四五六七八九十…\""_s;
    QTest::newRow("W:0 without line 2") << "W:0"_ba << ""_ba << u"0.12s"_s << 'W' << 0.0
                                        << u"答案错误"_s;
    QTest::newRow("line 2 replaces the note") << "W:0"_ba << "  too short \r\n"_ba << u"0.12s"_s
                                              << 'W' << 0.0 << u"too short"_s;
    QTest::newRow("partial with line 2") << "0.5"_ba << "half"_ba << u"x"_s << 'P' << 0.5
                                         << u"half"_s;
    QTest::newRow("accepted, ok, empty note") << "A:1"_ba << "ok"_ba << QString() << 'A' << 1.0
                                              << u"ok "_s;
    QTest::newRow("accepted, ok, run note") << "1"_ba << "ok\n"_ba << u"0.01s 1.2MB"_s << 'A'
                                            << 1.0 << u"ok 0.01s 1.2MB"_s;
    QTest::newRow("accepted keeps the run note") << "1"_ba << " \n"_ba << u"0.01s"_s << 'A'
                                                 << 1.0 << u"0.01s"_s;
    QTest::newRow("control character in line 2") << "W:0"_ba << "a\x01z"_ba << QString() << 'W'
                                                 << 0.0 << u"a\uFFFDz"_s;
    QTest::newRow("control character in line 1") << "1\x02"_ba << ""_ba << QString() << 'C'
                                                 << untouched << formatError + u"1\uFFFD\""_s;
    QTest::newRow("GB18030 line 2") << "W:0"_ba << gb18030(u"第3行应为“你好”"_s) << QString()
                                    << 'W' << 0.0 << u"第3行应为“你好”"_s;
}

void TestChecker::verdict()
{
    QFETCH(QByteArray, line1);
    QFETCH(QByteArray, line2);
    QFETCH(QString, noteIn);
    QFETCH(char, state);
    QFETCH(double, ratio);
    QFETCH(QString, note);

    QString gotNote = noteIn;
    char gotState = '-';
    double gotRatio = 0.25;
    parseVerdict(line1, line2, gotNote, gotState, gotRatio);
    QCOMPARE(gotState, state);
    QCOMPARE(gotRatio, ratio);
    QCOMPARE(gotNote, note);
}

// A number too long for a double is still a number, and far too large.
void TestChecker::hugeRatioIsTooLarge()
{
    QString note;
    char state = '-';
    double ratio = 0.25;
    parseVerdict("1" + QByteArray(400, '0'), QByteArray(), note, state, ratio);
    QCOMPARE(state, 'C');
    QVERIFY(ratio > 1.00001);
    QVERIFY(note.startsWith(u"校验器输出错误: 分数 = "_s));

    note.clear();
    parseVerdict("0." + QByteArray(400, '0') + "1", QByteArray(), note, state, ratio);
    QCOMPARE(state, 'W');
    QCOMPARE(ratio, 0.0);
}

Outcome TestChecker::check(TestCore &core, CheckerContest &fixture, const QString &noteIn,
                           double ratioIn)
{
    const QString work = fixture.workDir();
    JudgeWorker &worker = core.worker(0);
    const QString problemDir = fixture.contest.problemDir(worker.currentProblem);
    Outcome outcome;
    outcome.note = noteIn;
    outcome.ratio = ratioIn;
    outcome.returned = worker.runChecker(work, problemDir + u"/a1.in"_s, problemDir + u"/a1.out"_s,
                                         work + u"/a.out"_s, work + u"/check_info.txt"_s,
                                         outcome.note, outcome.state, outcome.ratio);
    return outcome;
}

void TestChecker::checkerPrograms_data()
{
    QTest::addColumn<QByteArray>("script");
    QTest::addColumn<QString>("noteIn");
    QTest::addColumn<char>("state");
    QTest::addColumn<double>("ratio");
    QTest::addColumn<QString>("note");

    const QString cut = QString(65536, u'x') + u"…"_s;
    QTest::newRow("exit code 3") << "printf '1\\n' > \"$4\"; exit 3"_ba << u"0.1s"_s << 'C'
                                 << 0.25 << u"校验器崩溃"_s;
    QTest::newRow("killed by a signal") << "printf '1\\n' > \"$4\"; kill -9 $$"_ba << u"0.1s"_s
                                        << 'C' << 0.25 << u"校验器崩溃"_s;
    QTest::newRow("no verdict file") << "exit 0"_ba << u"0.1s"_s << 'C' << 0.25
                                     << u"找不到校验器输出"_s;
    QTest::newRow("verdict cannot be opened") << "mkdir \"$4\""_ba << u"0.1s"_s << 'E' << 0.25
                                              << u"校验器输出打开失败"_s;
    QTest::newRow("accepted") << "printf '1\\nok\\n' > \"$4\""_ba << u"0.1s"_s << 'A' << 1.0
                              << u"ok 0.1s"_s;
    QTest::newRow("partial") << "printf 'P:0.3\\n' > \"$4\""_ba << u"0.1s"_s << 'P' << 0.3
                             << u"部分正确"_s;
    QTest::newRow("malformed") << "printf 'yes\\n' > \"$4\""_ba << u"0.1s"_s << 'C' << 0.25
                               << u"校验器输出格式错误 第1行: \"yes\""_s;
    QTest::newRow("GB18030 message, CR LF, extra lines")
        << "printf 'W:0\\r\\n\\304\\343\\272\\303\\r\\nthird\\n' > \"$4\""_ba << u"0.1s"_s
        << 'W' << 0.0 << u"你好"_s;
    QTest::newRow("reads its standard input to the end")
        << "cat > /dev/null; printf '1\\n' > \"$4\""_ba << QString() << 'A' << 1.0
        << u"答案正确"_s;
    QTest::newRow("prints a lot") << "head -c 2000000 /dev/zero; head -c 2000000 /dev/zero >&2; "
                                     "printf '0\\n' > \"$4\""_ba
                                  << QString() << 'W' << 0.0 << u"答案错误"_s;
    QTest::newRow("over-long message is cut")
        << "{ echo 0; head -c 100000 /dev/zero | tr '\\0' x; echo; echo next; } > \"$4\""_ba
        << QString() << 'W' << 0.0 << cut;
    QTest::newRow("over-long first line")
        << "{ head -c 100000 /dev/zero | tr '\\0' 1; echo; echo fine; } > \"$4\""_ba
        << QString() << 'C' << 0.25 << u"校验器输出格式错误 第1行: \"1111111111…\""_s;
}

void TestChecker::checkerPrograms()
{
    QFETCH(QByteArray, script);
    QFETCH(QString, noteIn);
    QFETCH(char, state);
    QFETCH(double, ratio);
    QFETCH(QString, note);

    CheckerContest fixture;
    QVERIFY(fixture.dir.isValid());
    fixture.addProblem(u"sum"_s, u"chk"_s);
    QVERIFY(fixture.writeProblemChecker(u"sum"_s, u"chk"_s, script));
    TestCore core(fixture.contest);
    fixture.aim(core, u"sum"_s);

    const Outcome outcome = check(core, fixture, noteIn);
    QVERIFY(outcome.returned);
    QCOMPARE(outcome.state, state);
    QCOMPARE(outcome.ratio, ratio);
    QCOMPARE(outcome.note, note);
    QMutexLocker locker(&core.worker(0).judgeMutex);
    QCOMPARE(core.worker(0).checkerPid, 0);
}

void TestChecker::commandLineAndWorkingDirectory()
{
    CheckerContest fixture;
    fixture.addProblem(u"sum"_s, u"chk"_s);
    QVERIFY(fixture.writeProblemChecker(
        u"sum"_s, u"chk"_s,
        "printf '1\\n%s|%s|%s|%s|%s|%s\\n' \"$#\" \"$1\" \"$2\" \"$3\" \"$4\" \"$(pwd -P)\" "
        "> \"$4\""));
    TestCore core(fixture.contest);
    fixture.aim(core, u"sum"_s);

    const Outcome outcome = check(core, fixture);
    QVERIFY(outcome.returned);
    QCOMPARE(outcome.state, 'A');
    const QString work = fixture.workDir();
    const QString problemDir = fixture.contest.problemDir(u"sum"_s);
    const QStringList expected = {u"4"_s,
                                  problemDir + u"/a1.in"_s,
                                  problemDir + u"/a1.out"_s,
                                  work + u"/a.out"_s,
                                  work + u"/check_info.txt"_s,
                                  QFileInfo(work).canonicalFilePath()};
    QCOMPARE(outcome.note, expected.join(u'|') + u' ');
}

// A checker in the problem's directory wins over one of the same name in
// "checker/", which is relative to the judge's directory, not to the work
// directory the checker starts in. No name finds nothing, not the
// directories themselves.
void TestChecker::checkerLookup_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("inProblem");
    QTest::addColumn<bool>("inShared");
    QTest::addColumn<QString>("found");

    QTest::newRow("both: the problem's") << u"全文比较"_s << true << true << u"problem"_s;
    QTest::newRow("problem only") << u"chk"_s << true << false << u"problem"_s;
    QTest::newRow("shared only") << u"chk"_s << false << true << u"shared"_s;
    QTest::newRow("neither") << u"chk"_s << false << false << QString();
    QTest::newRow("no name") << QString() << false << false << QString();
}

void TestChecker::checkerLookup()
{
    QFETCH(QString, name);
    QFETCH(bool, inProblem);
    QFETCH(bool, inShared);
    QFETCH(QString, found);

    CheckerContest fixture;
    fixture.addProblem(u"sum"_s, name);
    QVERIFY(QDir::setCurrent(fixture.dir.path()));
    const auto back = qScopeGuard([this] { QDir::setCurrent(m_startDir); });
    QVERIFY(QDir().mkpath(u"checker"_s));
    const QString file = name + ExecutableSuffix;
    if (inShared)
        QVERIFY(CheckerContest::writeScript(u"checker/"_s + file, "printf '1\\nshared\\n' > \"$4\""));
    if (inProblem)
        QVERIFY(fixture.writeProblemChecker(u"sum"_s, file, "printf '1\\nproblem\\n' > \"$4\""));
    TestCore core(fixture.contest);
    fixture.aim(core, u"sum"_s);

    QString lookedUp = name;
    QString path;
    QCOMPARE(core.worker(0).findChecker(lookedUp, path), !found.isEmpty());
    QCOMPARE(lookedUp, file);
    if (found == u"problem"_s)
        QCOMPARE(path, fixture.contest.problemDir(u"sum"_s) + u'/' + file);
    else if (found == u"shared"_s)
        QCOMPARE(path, u"checker/"_s + file);

    const Outcome outcome = check(core, fixture);
    QVERIFY(outcome.returned);
    if (found.isEmpty()) {
        QCOMPARE(outcome.state, 'C');
        QCOMPARE(outcome.note, u"找不到校验器"_s);
        QCOMPARE(outcome.ratio, 0.25);
    } else {
        QCOMPARE(outcome.state, 'A');
        QCOMPARE(outcome.note, found + u' ');
    }
}

void TestChecker::stoppedBeforeStartRunsNothing()
{
    CheckerContest fixture;
    fixture.addProblem(u"sum"_s, u"chk"_s);
    const QString marker = fixture.dir.filePath(u"ran"_s);
    QVERIFY(fixture.writeProblemChecker(u"sum"_s, u"chk"_s,
                                        "touch '" + marker.toUtf8() + "'; printf '1\\n' > \"$4\""));
    TestCore core(fixture.contest);
    fixture.aim(core, u"sum"_s);
    core.requestStop();

    const Outcome outcome = check(core, fixture, u"kept"_s);
    QVERIFY(!outcome.returned);
    QCOMPARE(outcome.state, '-');
    QCOMPARE(outcome.note, u"kept"_s);
    QCOMPARE(outcome.ratio, 0.25);
    QVERIFY(!QFileInfo::exists(marker));
}

void TestChecker::checkerPastTimeLimitIsKilled()
{
    CheckerContest fixture;
    fixture.addProblem(u"sum"_s, u"chk"_s);
    const QString pidFile = fixture.dir.filePath(u"checker.pid"_s);
    QVERIFY(fixture.writeProblemChecker(u"sum"_s, u"chk"_s,
                                        "echo $$ > '" + pidFile.toUtf8() + "'; exec sleep 40"));
    TestCore core(fixture.contest);
    fixture.aim(core, u"sum"_s);

    QElapsedTimer timer;
    timer.start();
    const Outcome outcome = check(core, fixture);
    const qint64 elapsed = timer.elapsed();
    QVERIFY(outcome.returned);
    QCOMPARE(outcome.state, 'C');
    QCOMPARE(outcome.note, u"校验器超时或崩溃"_s);
    QCOMPARE(outcome.ratio, 0.25);
    QVERIFY2(elapsed >= 9900 && elapsed < 35000, qPrintable(QString::number(elapsed)));
    QVERIFY(!processAlive(readPid(pidFile)));
}

QTEST_GUILESS_MAIN(TestChecker)
#include "tst_checker.moc"
