// End to end through the built qxj-judge: the judge's own files and its
// output around a run.

#include "clitestutil.h"
#include "contest.h"
#include "scoreinfo.h"
#include "xmlfile.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

const QString JudgeProgram = QStringLiteral(QXJ_JUDGE);
constexpr int JudgeTimeoutMs = 300000;

struct Run
{
    int exitCode = -1;
    QByteArray out;
    QString err;
};

Run runProgram(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    Run run;
    if (!process.waitForFinished(JudgeTimeoutMs)) {
        process.kill();
        process.waitForFinished();
        run.err = u"<timed out>"_s;
        return run;
    }
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = process.readAllStandardOutput();
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

// An answer-submission problem "guess" of one point, judged by the default
// checker; player "a" answers it.
bool writeAnswerContest(const QString &root)
{
    return writeTestFile(root + u"/data/guess/.prb"_s,
                         R"(<?xml version="1.0" encoding="UTF-8"?>
<problem type="ANS_0_4">
    <source dir="guess"/>
    <task checker="全文比较">
        <subtask score="100"><point in="g.in" out="g.ans" sub="g.out"/></subtask>
    </task>
</problem>
)")
           && writeTestFile(root + u"/data/guess/g.in"_s, "")
           && writeTestFile(root + u"/data/guess/g.ans"_s, "42\n")
           && writeTestFile(root + u"/src/a/guess/g.out"_s, "42\n");
}

ScoreInfo storedResult(const QString &root, const QString &player, const QString &problem,
                       QString *note = nullptr)
{
    XmlFile file;
    if (!file.load(root + u"/result/"_s + problem + u'/' + player + u".res"_s))
        return ScoreInfo();
    if (note)
        *note = queryUnder(file.document, u"note"_s).item(0).text();
    return readScoreInfo(file.document);
}

} // namespace

class TestJudgeFiles : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void leftTemporaries_data();
    void leftTemporaries();
    void compilerOutputOnTheTerminal_data();
    void compilerOutputOnTheTerminal();
    void diskFullForThePrograms_data();
    void diskFullForThePrograms();
};

void TestJudgeFiles::initTestCase()
{
    QVERIFY2(QFileInfo(JudgeProgram).isExecutable(), qPrintable(JudgeProgram));
}

// The temporary files of a judge killed while writing (kill -9, a power
// cut) go at the start of the next run; those of a judge writing right now,
// and files of the same look that the judge did not make, stay.
void TestJudgeFiles::leftTemporaries_data()
{
    QTest::addColumn<QString>("path");  // below the contest
    QTest::addColumn<int>("age");  // seconds since it was last written
    QTest::addColumn<bool>("removed");

    QTest::newRow("player's report") << u"src/a/result.html.qxj-1k2j3h"_s << 3600 << true;
    QTest::newRow("report of a player without results") << u"src/b/result.html.qxj-9z"_s << 600 << true;
    QTest::newRow("result file") << u"result/guess/a.res.qxj-abc12"_s << 3600 << true;
    QTest::newRow("result file of a problem gone") << u"result/old/a.res.qxj-abc12"_s << 3600 << true;
    QTest::newRow("result list") << u"result/.reslist.qxj-x1"_s << 3600 << true;
    QTest::newRow("contest file") << u".qxj.qxj-7"_s << 3600 << true;
    QTest::newRow("problem configuration") << u"data/guess/.prb.qxj-2"_s << 3600 << true;
    QTest::newRow("report being written now") << u"src/a/result.html.qxj-1k2j3h"_s << 0 << false;
    QTest::newRow("a contestant's own file") << u"src/a/result.html.bak"_s << 3600 << false;
    QTest::newRow("inside a contestant's folder") << u"src/a/guess/x.qxj-1"_s << 3600 << false;
}

void TestJudgeFiles::leftTemporaries()
{
    QFETCH(QString, path);
    QFETCH(int, age);
    QFETCH(bool, removed);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString root = dir.path();
    QVERIFY(writeAnswerContest(root));
    QVERIFY(QDir().mkpath(root + u"/src/b"_s));
    const QString left = root + u'/' + path;
    QVERIFY(writeTestFile(left, "<half written"));
    QVERIFY(setAge(left, age));

    const Run run = runProgram(JudgeProgram, {root});
    QVERIFY2(run.exitCode == 0, qPrintable(run.err));
    QCOMPARE(storedResult(root, u"a"_s, u"guess"_s).score, 100);
    QCOMPARE(QFileInfo::exists(left), !removed);
}

// What a compiler prints reaches the cell's note and qxj-judge's standard
// output; escape sequences in it (as ESC or as a C1 control: U+009B is CSI
// to a terminal that takes 8-bit controls) must not reach the terminal.
void TestJudgeFiles::compilerOutputOnTheTerminal_data()
{
    QTest::addColumn<QString>("printed");  // printf's octal escapes
    QTest::addColumn<QString>("shown");  // in the note on standard output

    QTest::newRow("CSI as a C1 control") << u"a\\302\\2332Jb"_s << u"a\uFFFD2Jb"_s;
    QTest::newRow("OSC as a C1 control") << u"a\\302\\2350;t\\302\\234b"_s << u"a\uFFFD0;t\uFFFDb"_s;
    QTest::newRow("DCS and NEL") << u"a\\302\\220q\\302\\205b"_s << u"a\uFFFDq\uFFFDb"_s;
    QTest::newRow("CSI with ESC") << u"a\\033[2Jb"_s << u"a\uFFFD[2Jb"_s;
    QTest::newRow("DEL and a carriage return") << u"a\\177b\\rc"_s << u"a\uFFFDb\uFFFDc"_s;
    QTest::newRow("Chinese kept") << u"错误\\tx"_s << u"错误\tx"_s;
}

void TestJudgeFiles::compilerOutputOnTheTerminal()
{
    QFETCH(QString, printed);
    QFETCH(QString, shown);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString root = dir.path();
    QByteArray config = traditionalConfig(u"sum"_s, 100, u"1"_s);
    config.replace("gcc -o sum sum.c", "printf " + printed.toUtf8());
    QVERIFY(writeTestFile(root + u"/data/sum/.prb"_s, config));
    QVERIFY(writeTestFile(root + u"/data/sum/sum.in"_s, "1\n"));
    QVERIFY(writeTestFile(root + u"/data/sum/sum.ans"_s, "1\n"));
    QVERIFY(writeTestFile(root + u"/src/a/sum/sum.c"_s, "int main(void) { return 0; }\n"));

    const Run run = runProgram(JudgeProgram, {root});
    QVERIFY2(run.exitCode == 0, qPrintable(run.err));
    QCOMPARE(storedResult(root, u"a"_s, u"sum"_s).state, TaskState::CompileError);
    const QString out = QString::fromUtf8(run.out);
    QVERIFY2(out.contains(u"编译错误:\n  "_s + shown + u'\n'), qPrintable(out));
    for (const char32_t c : out.toUcs4()) {
        const bool control = (c < 0x20 && c != u'\n' && c != u'\t') || (c >= 0x7F && c <= 0x9F);
        QVERIFY2(!control, qPrintable(QString::number(uint(c), 16)));
    }
}

// The judge's disk probe must measure what compilers and programs may use:
// they run under users of their own, who cannot use the blocks an ext4 disk
// keeps back for root. On a disk that is full to them but not to root, a
// compile that builds nothing is the judge's failure, not a compile error.
// The disk is a small ext4 file system mounted as the contest's scratch
// area, in a mount namespace of its own: it goes away with the run, whatever
// happens.
void TestJudgeFiles::diskFullForThePrograms_data()
{
    QTest::addColumn<bool>("ordinaryUser");
    QTest::newRow("judge as root") << false;
    QTest::newRow("judge as an ordinary user") << true;
}

void TestJudgeFiles::diskFullForThePrograms()
{
    QFETCH(bool, ordinaryUser);
    if (::geteuid() != 0)
        QSKIP("mounting a file system needs root");
    for (const QString &tool : {u"unshare"_s, u"mount"_s, u"mkfs.ext4"_s, u"setpriv"_s, u"gcc"_s}) {
        if (QStandardPaths::findExecutable(tool).isEmpty()
            && QStandardPaths::findExecutable(tool, {u"/usr/sbin"_s, u"/sbin"_s}).isEmpty())
            QSKIP(qPrintable(tool + u" is not installed"_s));
    }

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString root = dir.path() + u"/contest"_s;
    QVERIFY(writeTestFile(root + u"/data/sum/.prb"_s, traditionalConfig(u"sum"_s, 100, u"1"_s)));
    QVERIFY(writeTestFile(root + u"/data/sum/sum.in"_s, "1\n"));
    QVERIFY(writeTestFile(root + u"/data/sum/sum.ans"_s, "1\n"));
    QVERIFY(writeTestFile(root + u"/src/a/sum/sum.c"_s, "int main(void) { return 0; }\n"));
    QVERIFY(QDir().mkpath(root + u"/tmp"_s));
    // 100 MB, half kept back for root: once an ordinary user has filled it,
    // root still has far more than the judge's reserve of 32 MB.
    const QString image = dir.path() + u"/disk.img"_s;
    QVERIFY(QFile(image).open(QIODevice::WriteOnly) && QFile::resize(image, 100 << 20));
    const Run made = runProgram(u"mkfs.ext4"_s, {u"-q"_s, u"-F"_s, u"-m"_s, u"50"_s, image});
    QVERIFY2(made.exitCode == 0, qPrintable(made.err));

    const QString user = QString::number(OrdinaryUser);
    const QString asUser = u"setpriv --reuid=%1 --regid=%1 --clear-groups"_s.arg(user);
    if (ordinaryUser)
        QVERIFY(runProgram(u"chown"_s, {u"-R"_s, user + u':' + user, dir.path()}).exitCode == 0);
    // The ordinary user fills the disk, so it must reach it.
    QVERIFY(::chmod(QFile::encodeName(dir.path()).constData(), 0755) == 0);
    constexpr int NoLoopDevice = 77;
    const QString script =
        u"set -e\n"
        "mkdir -p \"$1/disk\"\n"
        "mount -o loop \"$1/disk.img\" \"$1/disk\" || exit %5\n"
        "trap 'umount \"$2/tmp\" 2>/dev/null; umount \"$1/disk\"' EXIT\n"
        "mkdir \"$1/disk/scratch\"\n"
        "chmod 1777 \"$1/disk\"\n"
        "chown %1:%1 \"$1/disk/scratch\"\n"
        "%2 dd if=/dev/zero of=\"$1/disk/fill\" bs=1M 2>/dev/null || true\n"
        "sync\n"
        "%2 dd if=/dev/zero of=\"$1/disk/rest\" bs=1k 2>/dev/null || true\n"
        "sync\n"
        "mount --bind \"$1/disk/scratch\" \"$2/tmp\"\n"
        "stat -f -c 'free %f available %a block %S' \"$2/tmp\" >&2\n"
        "%3 \"%4\" \"$2\"\n"_s.arg(ordinaryUser ? user : u"0"_s, asUser,
                                   ordinaryUser ? asUser : QString(), JudgeProgram)
            .arg(NoLoopDevice);
    const Run run = runProgram(u"unshare"_s, {u"--mount"_s, u"--propagation"_s, u"private"_s,
                                              u"sh"_s, u"-c"_s, script, u"sh"_s, dir.path(), root});
    if (run.exitCode == NoLoopDevice)
        QSKIP(qPrintable(u"no file system can be mounted here: "_s + run.err));
    QVERIFY2(run.exitCode == 0, qPrintable(run.err + QString::fromUtf8(run.out)));

    QString note;
    const ScoreInfo result = storedResult(root, u"a"_s, u"sum"_s, &note);
    QVERIFY2(result.state == TaskState::JudgeError, qPrintable(note + u'\n' + run.err));
    QVERIFY2(note.startsWith(u"测评机磁盘空间不足: "_s + root + u"/tmp\n"_s), qPrintable(note));
    // Gone with its namespace: nothing is mounted there any more.
    QVERIFY(!QFileInfo::exists(dir.path() + u"/disk/fill"_s));
}

QTEST_GUILESS_MAIN(TestJudgeFiles)
#include "tst_judgefiles.moc"
