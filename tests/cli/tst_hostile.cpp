// End to end: one contest whose players hand in hostile programs, judged once
// by the built qxj-judge. Every cell must end as expected, the run must
// finish, and nothing a contestant started may outlive it or change the
// contest or the judge's own files.

#include "clitestutil.h"
#include "contest.h"
#include "scoreinfo.h"
#include "xmlfile.h"

#include <QCryptographicHash>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <vector>

#include <signal.h>
#include <unistd.h>

namespace {

const QString JudgeProgram = QStringLiteral(QXJ_JUDGE);
const QString Problem = QStringLiteral("hostile");
const QString BrokenProblem = QStringLiteral("broken");
constexpr int JudgeTimeoutMs = 240000;
// The work area may hold what a program writes within its CPU and wall-clock
// limits (1.5 to 2 GB measured here), never an unbounded amount.
constexpr qint64 ScratchBound = qint64(8) << 30;

#define ANSWER "    FILE *out = fopen(\"hostile.out\", \"w\");\n    fputs(\"1\\n\", out);\n    fclose(out);\n"

const char *const Correct = "#include <stdio.h>\nint main(void)\n{\n" ANSWER "    return 0;\n}\n";

// One way a cell may end: the point's state and note (a pattern), and the
// cell's state and score.
struct Verdict
{
    char point;
    const char *note;
    char cell;
    int score;
};

const char *const Accepted = "时间: \\d+\\.\\d\\ds 内存: \\d+\\.\\d\\dMB";

struct Hostile
{
    const char *player;
    const char *source;
    std::vector<Verdict> verdicts;
    bool asRootOnly = false;  // as an ordinary user it would harm the test's own processes and files
};

const Hostile Players[] = {
    {"loop", "int main(void)\n{\n    for (volatile unsigned long n = 0;; ++n) {}\n}\n",
     {{'T', "超过时间限制", 'N', 0}}},
    {"memory",
     "#include <stdlib.h>\n#include <string.h>\n"
     "int main(void)\n{\n    size_t size = (size_t)1 << 30;\n    char *p = malloc(size);\n"
     "    if (!p)\n        return 3;\n    memset(p, 1, size);\n    return p[size / 2] - 1;\n}\n",
     {{'M', "超过内存限制", 'R', 0}}},
    {"forkbomb", "#include <unistd.h>\nint main(void)\n{\n    for (;;)\n        fork();\n}\n",
     {{'T', "超过时间限制", 'N', 0}}},
    // Linux spares the caller of kill(-1): the program goes on and answers.
    {"killer",
     "#include <signal.h>\n#include <stdio.h>\n#include <unistd.h>\n"
     "int main(void)\n{\n    kill(-1, SIGKILL);\n    kill(getppid(), SIGKILL);\n" ANSWER
     "    return 0;\n}\n",
     {{'A', Accepted, 'N', 100}, {'R', "运行时错误: SIGKILL", 'R', 0}},
     true},
    // Answers correctly only when every attack failed.
    {"vandal",
     "#define _XOPEN_SOURCE 700\n"
     "#include <fcntl.h>\n#include <ftw.h>\n#include <stdio.h>\n#include <sys/stat.h>\n"
     "#include <unistd.h>\n"
     "static int done;\n"
     "static void tried(int succeeded)\n{\n    done += succeeded;\n}\n"
     "static int removeOne(const char *path, const struct stat *s, int type, struct FTW *w)\n{\n"
     "    (void)s;\n    (void)type;\n    (void)w;\n    tried(remove(path) == 0);\n    return 0;\n}\n"
     "int main(void)\n{\n"
     "    tried(unlink(\"../../data/hostile/.prb\") == 0);\n"
     "    tried(open(\"../../data/hostile/hostile.ans\", O_WRONLY | O_TRUNC) >= 0);\n"
     "    tried(open(\"../../result/.reslist\", O_WRONLY | O_CREAT | O_TRUNC, 0666) >= 0);\n"
     "    tried(open(\"../../result/hostile/crash.res\", O_WRONLY | O_TRUNC) >= 0);\n"
     "    tried(rename(\"../../data\", \"../../stolen\") == 0);\n"
     "    tried(chmod(\"../../data/hostile\", 0777) == 0);\n"
     "    tried(mkdir(\"../../src/intruder\", 0777) == 0);\n"
     "    tried(open(\"../planted\", O_WRONLY | O_CREAT, 0666) >= 0);\n"
     "    nftw(\"../../src\", removeOne, 16, FTW_DEPTH | FTW_PHYS);\n"
     "    FILE *out = fopen(\"hostile.out\", \"w\");\n"
     "    fputs(done ? \"0\\n\" : \"1\\n\", out);\n    fclose(out);\n    return 0;\n}\n",
     {{'A', Accepted, 'N', 100}},
     true},
    // The checker writes its verdict as root: through this link it would
    // overwrite the problem's configuration.
    {"planter",
     "#include <stdio.h>\n#include <unistd.h>\n"
     "int main(void)\n{\n    symlink(\"../../data/hostile/.prb\", \"check_info.txt\");\n" ANSWER
     "    return 0;\n}\n",
     {{'A', Accepted, 'N', 100}}},
    {"linker",
     "#include <unistd.h>\n"
     "int main(void)\n{\n    return symlink(\"../../data/hostile/hostile.ans\", \"hostile.out\");\n}\n",
     {{'O', "无输出", 'O', 0}}},
    {"sleeper", "#include <unistd.h>\nint main(void)\n{\n    sleep(100);\n    return 0;\n}\n",
     {{'T', "超过时间限制", 'N', 0}}},
    {"crash", "int main(void)\n{\n    *(volatile int *)0 = 1;\n    return 0;\n}\n",
     {{'R', "运行时错误: SIGSEGV", 'R', 0}}},
    {"flood",
     "#include <stdio.h>\n#include <string.h>\n"
     "int main(void)\n{\n    static char line[1 << 16];\n    memset(line, 'x', sizeof line - 1);\n"
     "    line[sizeof line - 1] = '\\n';\n    FILE *out = fopen(\"hostile.out\", \"w\");\n"
     "    for (;;)\n        fwrite(line, 1, sizeof line, out);\n}\n",
     {{'R', "运行时错误: 输出文件过大", 'R', 0}, {'T', "超过时间限制", 'N', 0}}},
    {"filler",
     "#include <stdio.h>\n"
     "int main(void)\n{\n    static char block[1 << 20];\n    char name[32];\n"
     "    for (int i = 0;; ++i) {\n        snprintf(name, sizeof name, \"f%d\", i);\n"
     "        FILE *f = fopen(name, \"w\");\n        if (!f)\n            return 5;\n"
     "        for (int j = 0; j < 100; ++j)\n            fwrite(block, 1, sizeof block, f);\n"
     "        fclose(f);\n    }\n}\n",
     // Its own space runs out, names and all: the contest's disk is untouched.
     {{'R', "运行时错误: 5", 'R', 0}}},
    {"chatter",
     "#include <stdio.h>\n#include <unistd.h>\n"
     "int main(void)\n{\n    close(0);\n    getchar();\n    static char block[1 << 16];\n"
     "    for (int i = 0; i < 1600; ++i)\n        fwrite(block, 1, sizeof block, stdout);\n"
     "    return 0;\n}\n",
     {{'O', "无输出", 'O', 0}}},
    // Answers and ends, leaving a grandchild in a session of its own outside
    // the work directory.
    {"escaper",
     "#include <stdio.h>\n#include <unistd.h>\n"
     "int main(void)\n{\n    if (fork() == 0) {\n        setsid();\n        if (fork() == 0) {\n"
     "            chdir(\"/\");\n            for (;;)\n                pause();\n        }\n"
     "        return 0;\n    }\n" ANSWER "    usleep(200000);\n    return 0;\n}\n",
     {{'A', Accepted, 'N', 100}}},
    // Answers, then nests directories far beyond the longest path.
    {"nester",
     "#include <stdio.h>\n#include <sys/stat.h>\n#include <unistd.h>\n"
     "int main(void)\n{\n" ANSWER
     "    for (int i = 0; i < 3000 && mkdir(\"dd\", 0777) == 0 && chdir(\"dd\") == 0; ++i) {}\n"
     "    return 0;\n}\n",
     {{'A', Accepted, 'N', 100}}},
    // Answers, then leaves names that are no UTF-8 or hold a line break.
    {"oddnames",
     "#include <stdio.h>\n#include <sys/stat.h>\n"
     "static void touch(const char *name)\n{\n    FILE *f = fopen(name, \"w\");\n"
     "    if (f)\n        fclose(f);\n}\n"
     "int main(void)\n{\n" ANSWER
     "    touch(\"\\xff\\xfe\");\n    touch(\".\\xff\");\n    touch(\"new\\nline\");\n"
     "    mkdir(\"d\\xff\", 0777);\n    touch(\"d\\xff/\\xfe\");\n    return 0;\n}\n",
     {{'A', Accepted, 'N', 100}}},
    {"sane", Correct, {{'A', Accepted, 'N', 100}}},
};

// Its result file is garbage: the cell reads as NUL state and is left alone.
const QString Garbled = QStringLiteral("garbled");
const QByteArray GarbageResult("\x00\xff<task score=\"7\" <<>> &&& \xfe\x01", 29);

const Hostile &hostile(const QString &player)
{
    for (const Hostile &h : Players) {
        if (QString::fromUtf8(h.player) == player)
            return h;
    }
    qFatal("no such player");
}

bool runsAsRoot()
{
    return ::geteuid() == 0;
}

QString fileHash(const QString &path)
{
    QFile file(path);
    QCryptographicHash hash(QCryptographicHash::Sha1);
    if (!file.open(QIODevice::ReadOnly) || !hash.addData(&file))
        return QStringLiteral("<unreadable>");
    return QString::fromLatin1(hash.result().toHex());
}

// Every entry below data/ and src/ with its kind, permissions and content, the
// players' reports left out (the judge writes them).
QStringList contestState(const QString &root)
{
    QStringList entries;
    for (const QString &top : {QStringLiteral("data"), QStringLiteral("src")}) {
        QDirIterator it(root + u'/' + top,
                        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QFileInfo info(it.next());
            const QString path = QDir(root).relativeFilePath(info.filePath());
            if (top == QStringLiteral("src") && info.fileName() == QStringLiteral("result.html")
                && path.count(u'/') == 2)
                continue;
            const QString kind = info.isSymLink() ? QStringLiteral("link")
                                 : info.isDir()   ? QStringLiteral("dir")
                                                  : fileHash(info.filePath());
            entries.append(path + u' ' + QString::number(int(info.permissions()), 16) + u' ' + kind);
        }
    }
    entries.sort();
    return entries;
}

qint64 bytesBelow(const QString &dir)
{
    qint64 total = 0;
    QDirIterator it(dir, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext())
        total += QFileInfo(it.next()).size();
    return total;
}

struct Process
{
    qint64 pid;
    QString description;
};

// Live processes of the contestants: working in the contest or running one of
// its programs (a child that moved away still runs its parent's executable).
QList<Process> contestantProcesses(const QString &root)
{
    QList<Process> found;
    const QString self = QString::number(QCoreApplication::applicationPid());
    for (const QString &pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool number = false;
        pid.toLongLong(&number);
        if (!number || pid == self)
            continue;
        const QString proc = QStringLiteral("/proc/") + pid;
        const QByteArray stat = readTestFile(proc + QStringLiteral("/stat"));
        const qsizetype close = stat.lastIndexOf(')');
        if (close < 0 || stat.mid(close + 2, 1) == "Z")
            continue;
        const QString cwd = QFileInfo(proc + QStringLiteral("/cwd")).symLinkTarget();
        const QString exe = QFileInfo(proc + QStringLiteral("/exe")).symLinkTarget();
        const auto inside = [&root](const QString &path) {
            return path == root || path.startsWith(root + u'/');
        };
        // Sandboxed programs have other names for their folders; they carry
        // the judge's mark.
        const bool marked = carriesRunMark(proc, root);
        if (inside(cwd) || inside(exe) || marked)
            found.append({pid.toLongLong(), pid + u' ' + cwd + u' ' + exe});
    }
    return found;
}

}  // namespace

class TestHostile : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void runFinishes();
    void cells_data();
    void cells();
    void garbledCellLeftAlone();
    void brokenProblemJudgesNothing();
    void resultListComplete();
    void gridComplete();
    void noContestantSurvives();
    void contestIntact();
    void judgeFilesIntact();
    void scratchBounded();

private:
    QString root() const { return m_work.path() + QStringLiteral("/contest"); }
    QString resultPath(const QString &player, const QString &problem) const
    {
        return root() + QStringLiteral("/result/") + problem + u'/' + player + QStringLiteral(".res");
    }
    QStringList players() const;
    QHash<QString, QString> judgeFiles() const;

    QTemporaryDir m_work;
    QStringList m_contestBefore;
    QHash<QString, QString> m_judgeFilesBefore;
    int m_exitCode = -1;
    QProcess::ExitStatus m_exitStatus = QProcess::CrashExit;
    bool m_finished = false;
    QString m_out;
    QString m_err;
    qint64 m_peakScratch = 0;
};

QStringList TestHostile::players() const
{
    QStringList names{Garbled};
    for (const Hostile &h : Players) {
        if (!h.asRootOnly || runsAsRoot())
            names.append(QString::fromUtf8(h.player));
    }
    names.sort();
    return names;
}

QHash<QString, QString> TestHostile::judgeFiles() const
{
    const QString checker = QFileInfo(JudgeProgram).absolutePath() + QStringLiteral("/checker/全文比较");
    return {{JudgeProgram, fileHash(JudgeProgram)}, {checker, fileHash(checker)}};
}

// Builds the contest and judges it once; the tests below look at what is left.
void TestHostile::initTestCase()
{
    QVERIFY2(QFileInfo(JudgeProgram).isExecutable(), qPrintable(JudgeProgram));
    QVERIFY(m_work.isValid());
    // Open like a contest directory of an organiser's, so that only ownership
    // stops a program run as nobody.
    const auto open = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup
                      | QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther;
    QVERIFY(QFile::setPermissions(m_work.path(), open));

    const QString data = root() + QStringLiteral("/data/");
    QVERIFY(writeTestFile(data + Problem + QStringLiteral("/.prb"),
                          traditionalConfig(Problem, 100, QStringLiteral("1"))));
    QVERIFY(writeTestFile(data + Problem + QStringLiteral("/hostile.in"), "1\n"));
    QVERIFY(writeTestFile(data + Problem + QStringLiteral("/hostile.ans"), "1\n"));
    // Not well-formed: the problem's type is unknown, so nothing is judged.
    QVERIFY(writeTestFile(data + BrokenProblem + QStringLiteral("/.prb"),
                          "<?xml version=\"1.0\"?>\n<problem type=<<\x01\xff broken &&"));
    for (const QString &player : players()) {
        const QByteArray source =
            player == Garbled ? QByteArray(Correct) : QByteArray(hostile(player).source);
        QVERIFY(writeTestFile(root() + QStringLiteral("/src/") + player + u'/' + Problem + u'/'
                                  + Problem + QStringLiteral(".c"),
                              source));
    }
    // A report written through this link would replace the answer.
    QVERIFY(QFile::link(QStringLiteral("../../data/hostile/hostile.ans"),
                        root() + QStringLiteral("/src/planter/result.html")));
    // Would be judged if the broken problem were.
    QVERIFY(writeTestFile(root() + QStringLiteral("/src/sane/broken/broken.c"), Correct));
    QVERIFY(writeTestFile(resultPath(Garbled, Problem), GarbageResult));
    m_contestBefore = contestState(root());
    m_judgeFilesBefore = judgeFiles();

    QProcess judge;
    judge.setWorkingDirectory(m_work.path());
    QSignalSpy finished(&judge, &QProcess::finished);
    QTimer sampler;
    connect(&sampler, &QTimer::timeout, this, [this] {
        m_peakScratch = qMax(m_peakScratch, bytesBelow(root() + QStringLiteral("/tmp")));
    });
    sampler.start(100);
    QElapsedTimer timer;
    timer.start();
    markRun(judge, root());
    judge.start(JudgeProgram, {root()});
    QVERIFY(judge.waitForStarted());
    m_finished = finished.wait(JudgeTimeoutMs);
    sampler.stop();
    if (!m_finished) {
        judge.kill();
        judge.waitForFinished();
    }
    m_exitCode = judge.exitCode();
    m_exitStatus = judge.exitStatus();
    m_out = QString::fromUtf8(judge.readAllStandardOutput());
    m_err = QString::fromUtf8(judge.readAllStandardError());
    qInfo("%lld cells judged in %.2f s; work area peak %.0f MB", qint64(players().size()) * 2,
          double(timer.elapsed()) / 1000, double(m_peakScratch) / (1 << 20));
}

// A contestant's process found after all is ended here, by its id, so that
// a failure leaves no fork bomb behind.
void TestHostile::cleanupTestCase()
{
    for (const Process &p : contestantProcesses(root()))
        ::kill(pid_t(p.pid), SIGKILL);
}

void TestHostile::runFinishes()
{
    QVERIFY2(m_finished, "qxj-judge did not finish");
    QCOMPARE(m_exitStatus, QProcess::NormalExit);
    // The broken problem is the only failure, and it is named.
    QVERIFY2(m_exitCode == 1, qPrintable(m_err));
    QVERIFY2(m_err.contains(QStringLiteral("qxj-judge: data/broken/.prb:1: XML 格式错误: ")), qPrintable(m_err));
    QVERIFY2(m_err.endsWith(QStringLiteral("qxj-judge: not judged (a fault in the .prb, see above): broken\n")),
             qPrintable(m_err));
    QVERIFY(m_out.contains(QStringLiteral("\n- 测评结束 -\n")));
    // The programs' standard output went to /dev/null, not to the judge's.
    QVERIFY2(m_out.size() < 100000, qPrintable(QString::number(m_out.size())));
}

void TestHostile::cells_data()
{
    QTest::addColumn<QString>("player");
    for (const Hostile &h : Players)
        QTest::newRow(h.player) << QString::fromUtf8(h.player);
}

void TestHostile::cells()
{
    QFETCH(QString, player);
    const Hostile &expected = hostile(player);
    if (expected.asRootOnly && !runsAsRoot())
        QSKIP("only safe when the judge runs as root and the program as nobody");

    XmlFile file;
    QVERIFY2(file.load(resultPath(player, Problem)), "no result file");
    const ScoreInfo info = readScoreInfo(file.document);
    const QString points = pointStates(file);
    const QString note =
        attributeText(queryUnder(file.document, QStringLiteral("point")).item(0),
                      QStringLiteral("note"));
    QString seen = points + u' ' + note + u' ' + QLatin1Char(info.state) + u' '
                   + QString::number(info.score);
    bool matched = false;
    for (const Verdict &v : expected.verdicts) {
        const QRegularExpression pattern(
            QRegularExpression::anchoredPattern(QString::fromUtf8(v.note)));
        matched = matched
                  || (points == QString(QLatin1Char(v.point)) && pattern.match(note).hasMatch()
                      && info.state == v.cell && info.score == v.score);
    }
    QVERIFY2(matched, qPrintable(seen));
    // The detail rows show the same.
    QVERIFY2(m_out.contains(player + QStringLiteral(" - ") + Problem + QStringLiteral("\n    1  ")
                            + points + QStringLiteral("  ") + note + u'\n'),
             qPrintable(seen));
}

// A result file that is no XML reads as NUL state: the cell is not untested,
// so it is not judged, and its file stays as it was.
void TestHostile::garbledCellLeftAlone()
{
    QCOMPARE(readTestFile(resultPath(Garbled, Problem)), GarbageResult);
    QVERIFY(!m_out.contains(Garbled + QStringLiteral(" - ") + Problem + u'\n'));
    const QStringList lines =
        QString::fromUtf8(readTestFile(root() + QStringLiteral("/result/.reslist"))).split(u'\n');
    QVERIFY(lines.contains(Garbled + u'/' + Problem + QStringLiteral("/0/0//")));
}

void TestHostile::brokenProblemJudgesNothing()
{
    QVERIFY(!QFileInfo::exists(root() + QStringLiteral("/result/") + BrokenProblem));
    const QString reslist =
        QString::fromUtf8(readTestFile(root() + QStringLiteral("/result/.reslist")));
    for (const QString &player : players()) {
        const QString prefix = player + u'/' + BrokenProblem + u'/';
        const QStringList lines = reslist.split(u'\n').filter(
            QRegularExpression(u'^' + QRegularExpression::escape(prefix)));
        QCOMPARE(lines.size(), 1);
        // Left untested or as being judged: never a judged state.
        const QString rest = lines[0].mid(prefix.size());
        QVERIFY2(rest == QStringLiteral("0/0/?/") || rest == QStringLiteral("0/0/ /")
                     || rest == QStringLiteral("0/0//"),
                 qPrintable(lines[0]));
    }
}

// One line per cell, each matching the cell's result file.
void TestHostile::resultListComplete()
{
    const QStringList lines =
        QString::fromUtf8(readTestFile(root() + QStringLiteral("/result/.reslist"))).split(u'\n');
    QCOMPARE(lines.size(), players().size() * 2 + 1);
    QCOMPARE(lines.last(), QString());
    for (const QString &player : players()) {
        if (player == Garbled)
            continue;
        XmlFile file;
        QVERIFY(file.load(resultPath(player, Problem)));
        const ScoreInfo info = readScoreInfo(file.document);
        const QString line = player + u'/' + Problem + u'/' + QString::number(info.score) + u'/'
                             + realText(info.time) + u'/' + QLatin1Char(info.state) + u'/';
        QVERIFY2(lines.contains(line), qPrintable(line));
    }
}

// The grid: a header and one line per player with the player's total.
void TestHostile::gridComplete()
{
    const QStringList lines =
        m_out.section(QStringLiteral("- 测评结束 -\n"), 1).split(u'\n', Qt::SkipEmptyParts);
    static const QRegularExpression gap(QStringLiteral("  +"));
    QVERIFY(!lines.isEmpty());
    QCOMPARE(lines[0].split(gap), (QStringList{QStringLiteral("选手"), QStringLiteral("总分"),
                                               BrokenProblem, Problem}));
    QCOMPARE(lines.size(), players().size() + 1);
    QStringList shown;
    for (const QString &line : lines.mid(1)) {
        const QStringList fields = line.split(gap);
        QVERIFY2(fields.size() >= 3, qPrintable(line));
        const QString player = fields[0];
        shown.append(player);
        XmlFile file;
        const int score = file.load(resultPath(player, Problem))
                              ? readScoreInfo(file.document).score
                              : -1;
        QCOMPARE(fields[1], QString::number(qMax(score, 0)));
    }
    shown.sort();
    QCOMPARE(shown, players());
}

void TestHostile::noContestantSurvives()
{
    QStringList survivors;
    const auto look = [&] {
        survivors.clear();
        for (const Process &p : contestantProcesses(root()))
            survivors.append(p.description);
        return survivors.isEmpty();
    };
    // Time for init to reap what the judge left as zombies.
    QTRY_VERIFY2_WITH_TIMEOUT(look(), qPrintable(survivors.join(QStringLiteral("; "))), 10000);
}

void TestHostile::contestIntact()
{
    QCOMPARE(contestState(root()), m_contestBefore);
    QVERIFY(!QFileInfo::exists(root() + QStringLiteral("/stolen")));
    QVERIFY(!QFileInfo::exists(root() + QStringLiteral("/tmp")));
    // Each judged player got a report, a file of its own.
    for (const QString &player : players()) {
        const QFileInfo report(root() + QStringLiteral("/src/") + player
                               + QStringLiteral("/result.html"));
        if (player != Garbled)
            QVERIFY2(report.isFile() && !report.isSymLink(), qPrintable(player));
    }
}

void TestHostile::judgeFilesIntact()
{
    QCOMPARE(judgeFiles(), m_judgeFilesBefore);
}

void TestHostile::scratchBounded()
{
    QVERIFY2(m_peakScratch < ScratchBound, qPrintable(QString::number(m_peakScratch)));
}

QTEST_GUILESS_MAIN(TestHostile)
#include "tst_hostile.moc"
