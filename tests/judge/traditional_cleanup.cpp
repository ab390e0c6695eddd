// What a run leaves behind, a judge that cannot clean up, and stops.

#include "traditionalsite.h"

#include "dirs.h"
#include "testfiles.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QScopeGuard>

#include <cerrno>
#include <cstring>

#include <unistd.h>

using namespace traditional;

// Scratch directories that cannot be emptied (a file that will not go away):
// in the run step, then, once that has happened, in the scratch area before
// the next player's prepared program and source.
static bool stuckSeen = false;
static bool keepStuckFiles(const QString &path)
{
    if (path.endsWith(u"/sum.out"_s) && readFile(path).contains(" stuck"))
        stuckSeen = true;
    else if (!(stuckSeen && QFileInfo(path).dir().dirName() == u"tmp"_s))
        return QFile::remove(path);
    errno = EBUSY;
    return false;
}

void TestTraditional::judgeErrors()
{
    Site site;
    QVERIFY(site.configureActor(u"100:1,2"_s, {"stuck", "burn 0"}));
    QVERIFY(site.handIn(u"jan"_s, m_actor));
    QVERIFY(site.handIn(u"kim"_s, m_actor));
    QVERIFY(site.submit(u"lou"_s, u"sum.c"_s, SumC));

    stuckSeen = false;
    setFileRemoverForTesting(keepStuckFiles);
    Outcome run;
    judge(site, {u"jan"_s, u"kim"_s, u"lou"_s}, run);
    setFileRemoverForTesting(nullptr);
    QVERIFY(run.ended);

    // Each note names a file that stayed, below the directory, and why.
    const QString busy = u": "_s + QString::fromLocal8Bit(std::strerror(EBUSY));
    const QString work = site.contest.threadWorkDir(0);
    const QString tmp = site.contest.tmpDir() + u'/';
    const QStringList notes{u"临时目录无法清空: 003\n"_s + work + u"/sum.out"_s + busy,
                            u"临时目录无法清空: 001\n"_s + tmp, u"临时目录无法清空: 002\n"_s + tmp};
    for (int cell = 0; cell < 3; ++cell) {
        QDomDocument result;
        checkCell(site, run, cell, result);
        if (QTest::currentTestFailed())
            return;
        QCOMPARE(readScoreInfo(result).state, TaskState::JudgeError);
        if (cell == 0) {
            QCOMPARE(pointStates(result), u"AE"_s);
            QCOMPARE(pointAttributes(result, ResultXml::Note).value(1), notes[0]);
        } else {
            const QString note = queryUnder(result, ResultXml::Note).item(0).text();
            QVERIFY2(note.startsWith(notes[cell]) && note.endsWith(busy), qPrintable(note));
        }
    }
    QCOMPARE(run.selects, (QList<bool>{true, true, true}));
}

// Hidden files and directories holding them, in the work directory and in
// the scratch area: the next point starts from a clean work directory, the
// next player from a clean scratch area, and judging goes on normally.
void TestTraditional::leftoversRemoved()
{
    Site site;
    QVERIFY(site.configureActor(u"100:1,2"_s, {"hide", "burn 0"}));
    QVERIFY(site.handIn(u"oda"_s, m_actor));
    QVERIFY(site.handIn(u"pia"_s, m_actor));

    Outcome run;
    judge(site, {u"oda"_s, u"pia"_s}, run);
    QVERIFY(run.ended);
    for (int cell = 0; cell < 2; ++cell) {
        QDomDocument result;
        checkCell(site, run, cell, result);
        if (QTest::currentTestFailed())
            return;
        QCOMPARE(pointStates(result), u"AA"_s);
        const QStringList notes = pointAttributes(result, ResultXml::Note);
        for (const QString &note : notes)
            QVERIFY2(!note.contains(u"leftover"_s), qPrintable(note));
        // Each player's first point runs before that player's own "hide".
        QVERIFY2(!notes.value(0).contains(u"above"_s), qPrintable(notes.value(0)));
        QCOMPARE(readScoreInfo(result).score, 100);
    }
}

void TestTraditional::scratchAreaNotADirectory()
{
    Site site;
    QVERIFY(site.configureOnePoint(ProblemSetup()));
    QVERIFY(site.submit(u"quin"_s, u"sum.c"_s, SumC));
    QVERIFY(writeFile(site.contest.tmpDir(), "a file where the scratch area belongs"));

    QDomDocument result;
    if (!judgeCell(site, u"quin"_s, result))
        return;
    QCOMPARE(readScoreInfo(result).state, TaskState::JudgeError);
    QCOMPARE(queryUnder(result, ResultXml::Note).item(0).text(),
             u"临时目录无法清空: 002\n"_s + site.contest.tmpDir() + u": 路径中有一段不是目录"_s);
}

void TestTraditional::stopDuringRun()
{
    Site site;
    ProblemSetup setup = actorProblem(u"100:1"_s);
    setup.time = u"60"_s;
    QVERIFY(site.configure(setup));
    QVERIFY(site.writePoint(1, "loop", "1\n"));
    QVERIFY(site.handIn(u"max"_s, m_actor));

    // The program works in a folder of its own laid over the work folder:
    // it is found by that, and by the output it has begun there.
    const QString workDir = site.contest.threadWorkDir(0);
    const auto working = [&workDir] {
        // Made by the judge once it starts.
        const QByteArray work = QFile::encodeName(QFileInfo(workDir).canonicalFilePath()).replace(' ', "\\040");
        for (const QString &pid : QDir(u"/proc"_s).entryList(QDir::Dirs)) {
            if (pid.toLongLong() <= 0 || !processAlive(pid.toLongLong())
                || !readFile(u"/proc/"_s + pid + u"/cwd/sum.out"_s).startsWith("pid="))
                continue;
            for (const QByteArray &line : readFile(u"/proc/"_s + pid + u"/mountinfo"_s).split('\n')) {
                const QList<QByteArray> fields = line.split(' ');
                if (fields.size() > 4 && fields[4] == "/box" && fields[3] != "/" && work.endsWith(fields[3]))
                    return true;
            }
        }
        return false;
    };
    judgeAndStop(site, u"max"_s, working);
    if (QTest::currentTestFailed())
        return;
    QTRY_VERIFY_WITH_TIMEOUT(!working(), 10000);
}

void TestTraditional::stopDuringCompile()
{
    Site site;
    QVERIFY(site.configureSlowCompile(u"ned"_s));

    const QString pids = site.path(u"pids"_s);
    judgeAndStop(site, u"ned"_s, [&] { return pidsIn(pids).size() == 3; });
    if (QTest::currentTestFailed())
        return;
    for (qint64 pid : pidsIn(pids))
        QTRY_VERIFY2_WITH_TIMEOUT(!processAlive(pid), qPrintable(QString::number(pid)), 10000);
}

namespace {
// The storage probe: the file system of faultyDir has faultySpace, every
// other one plenty.
QString faultyDir;
StorageSpace faultySpace;
constexpr quint64 Plenty = quint64(1) << 40;
bool fakeStorage(const QString &path, StorageSpace &space)
{
    space = path == faultyDir ? faultySpace : StorageSpace{false, Plenty, Plenty, Plenty};
    return true;
}
} // namespace

// A compile that builds nothing, or an input that is not copied: the
// contestant's doing unless the disk it happened on is full or read-only.
void TestTraditional::storageFaults_data()
{
    QTest::addColumn<bool>("compileStage");
    QTest::addColumn<QString>("faulty");  // the directory whose disk fails; empty: none
    QTest::addColumn<bool>("readOnly");
    QTest::addColumn<char>("state");
    QTest::addColumn<QString>("points");
    QTest::addColumn<QString>("note");  // start of the cell's note, or of its point's

    const QString linkFailed = u"\nld: final link failed: No space left on device"_s;
    const char E = TaskState::JudgeError;
    QTest::newRow("compile fails, disks fine")
        << true << QString() << false << TaskState::CompileError << QString()
        << u"编译错误:"_s + linkFailed;
    QTest::newRow("compile fails, scratch area full")
        << true << u"{tmp}"_s << false << E << QString()
        << u"测评机磁盘空间不足: {tmp}"_s + linkFailed;
    QTest::newRow("compile fails, compiler's temporary directory full")
        << true << u"{system}"_s << false << E << QString()
        << u"测评机磁盘空间不足: {system}"_s + linkFailed;
    QTest::newRow("compile fails, scratch area read-only")
        << true << u"{tmp}"_s << true << E << QString() << u"测评机磁盘只读: {tmp}"_s + linkFailed;
    QTest::newRow("input missing, disks fine")
        << false << QString() << false << TaskState::Normal << u"A"_s << u"cpu="_s;
    QTest::newRow("input not copied, work directory full")
        << false << u"{work}"_s << false << E << u"E"_s << u"测评机磁盘空间不足: {work}"_s;
}

void TestTraditional::storageFaults()
{
    QFETCH(bool, compileStage);
    QFETCH(QString, faulty);
    QFETCH(bool, readOnly);
    QFETCH(char, state);
    QFETCH(QString, points);
    QFETCH(QString, note);

    Site site;
    ProblemSetup setup = actorProblem(u"100:1"_s);
    setup.languages = {{u"sum.c"_s, u"sh ../build.sh"_s}};
    // The point's input is missing: the program runs without it.
    QVERIFY(site.configure(setup) && site.writePoint(1, QByteArray(), "1\n"));
    // What a linker prints on a full disk; the text alone decides nothing.
    QVERIFY(writeFile(site.path(u"build.sh"_s),
                      "echo 'ld: final link failed: No space left on device' >&2\nexit 1\n"));
    QVERIFY(compileStage ? site.submit(u"vic"_s, u"sum.c"_s, SumC) : site.handIn(u"vic"_s, m_actor));
    for (const auto &[name, path] : {std::pair{u"{tmp}"_s, site.contest.tmpDir()},
                                     std::pair{u"{system}"_s, QDir::tempPath()},
                                     std::pair{u"{work}"_s, site.contest.threadWorkDir(0)}}) {
        faulty.replace(name, path);
        note.replace(name, path);
    }
    faultyDir = faulty;
    faultySpace = StorageSpace{readOnly, readOnly ? Plenty : StorageReserve - 1, Plenty, Plenty};
    setStorageProbeForTesting(fakeStorage);
    const auto restore = qScopeGuard([] { setStorageProbeForTesting(nullptr); });

    QDomDocument result;
    if (!judgeCell(site, u"vic"_s, result))
        return;
    QCOMPARE(readScoreInfo(result).state, state);
    QCOMPARE(pointStates(result), points);
    const QString saved = compileStage ? queryUnder(result, ResultXml::Note).item(0).text()
                                       : pointAttributes(result, ResultXml::Note).value(0);
    QVERIFY2(saved.startsWith(note), qPrintable(saved));
}

// A program leaves folders and files without their owner's rights in its
// work folder. The next point, the next player and the end of the run must
// still find it emptied: a judge that is no root needs the rights back
// first. Two players, each with a point that leaves them last and one that
// follows; each subtask one point, so that every point is run.
void TestTraditional::lockedLeftovers_data()
{
    QTest::addColumn<QString>("leave");  // the actor's command
    QTest::addColumn<bool>("ordinaryUser");
    for (const char *leave : {"lockdir", "lockfile", "readonly", "deep", "lockverdict"}) {
        QTest::addRow("%s, judge as it is started", leave) << QString::fromLatin1(leave) << false;
        if (::geteuid() == 0)
            QTest::addRow("%s, judge as an ordinary user", leave) << QString::fromLatin1(leave) << true;
    }
}

void TestTraditional::lockedLeftovers()
{
    QFETCH(QString, leave);
    QFETCH(bool, ordinaryUser);

    Site site;
    const QByteArray command = leave.toLatin1();
    QVERIFY(site.configureActor(u"25:1;25:2;25:3;25:4"_s, {"burn 0", command, "burn 0", command}));
    const QStringList players{u"una"_s, u"vera"_s};
    for (const QString &player : players)
        QVERIFY(site.handIn(player, m_actor));

    QStringList lines;
    if (ordinaryUser) {
        QVERIFY(chownTree(site.dir.path(), OrdinaryUser));
        QProcess judge;
        judge.start(u"setpriv"_s, QStringList{u"--reuid=%1"_s.arg(OrdinaryUser),
                                              u"--regid=%1"_s.arg(OrdinaryUser), u"--clear-groups"_s,
                                              QCoreApplication::applicationFilePath(), u"--judge"_s,
                                              site.dir.path()}
                                      + players);
        QVERIFY(judge.waitForFinished(JudgeTimeoutMs));
        lines = QString::fromUtf8(judge.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
        QVERIFY2(judge.exitCode() == 0, judge.readAllStandardError().constData());
    } else {
        lines = judgeAndEmpty(site.dir.path(), players);
    }
    QCOMPARE(lines, (QStringList{u"una AAAA 100 N"_s, u"vera AAAA 100 N"_s, u"emptied"_s}));
}
