#include "similarity.h"
#include "simoutput.h"
#include "sourcegen.h"
#include "statsfixture.h"

#include <QDirIterator>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

// sim is a dependency of the package: CI must have it, a developer may not.
bool haveSim()
{
    return !QStandardPaths::findExecutable(u"sim_c++"_s).isEmpty()
           && !QStandardPaths::findExecutable(u"sim_c"_s).isEmpty();
}

#define REQUIRE_SIM()                                                                  \
    do {                                                                               \
        if (!haveSim()) {                                                              \
            if (qEnvironmentVariableIsSet("QXJ_CI"))                                   \
                QFAIL("similarity-tester is not installed");                          \
            QSKIP("similarity-tester is not installed");                               \
        }                                                                              \
    } while (false)

const SimPair *findPair(const SimilarityReport &report, const QString &a, const QString &b)
{
    for (const SimPair &pair : report.pairs) {
        const QString first = report.sources[pair.first].player;
        const QString second = report.sources[pair.second].player;
        if ((first == a && second == b) || (first == b && second == a))
            return &pair;
    }
    return nullptr;
}

bool runToEnd(SimilarityRun &run, const Contest &contest, const SimilarityOptions &options)
{
    QSignalSpy finished(&run, &SimilarityRun::finished);
    run.start(contest, options);
    return finished.wait(120'000) || finished.count() == 1;
}

} // namespace

class TestSimilarity : public QObject
{
    Q_OBJECT

private slots:
    void parseOutput_data();
    void parseOutput();
    void languages_data();
    void languages();
    void sourcesLeftOut();
    void sizeBound();
    void copiesFoundOthersNot();
    void sharedTemplate_data();
    void sharedTemplate();
    void timeOut();
    void stopEndsEverything();
    void missingTool();
};

void TestSimilarity::parseOutput_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QString>("parsed");  // files "name tokens", runs "a from to b from to tokens"
    QTest::newRow("file") << QByteArray("File s12.cpp: 1282 tokens, 155 lines") << u"s12.cpp 1282"_s;
    QTest::newRow("one line") << QByteArray("File s1.c: 78 tokens, 1 line") << u"s1.c 78"_s;
    QTest::newRow("run") << QByteArray("s0.cpp: line 3-25                  |s7.cpp: line 4-26     [213]")
                         << u"s0.cpp 3 25 s7.cpp 4 26 213"_s;
    QTest::newRow("run in one line") << QByteArray("s0.c: line 9      |s1.c: line 1-1   [30]")
                                     << u"s0.c 9 9 s1.c 1 1 30"_s;
    QTest::newRow("the total") << QByteArray("Total input: 3 files (3 new, 0 old), 505 tokens")
                               << QString();
    QTest::newRow("a range backwards") << QByteArray("a: line 5-2 |b: line 1-2 [24]") << QString();
    QTest::newRow("no token count") << QByteArray("a: line 1-2 |b: line 1-2") << QString();
    QTest::newRow("nothing") << QByteArray() << QString();
}

void TestSimilarity::parseOutput()
{
    QFETCH(QByteArray, line);
    QFETCH(QString, parsed);
    const SimOutput output = parseSimOutput(line + "\n\n" + line);
    QStringList seen;
    for (const SimFileInfo &file : output.files)
        seen.append(file.name + u' ' + QString::number(file.tokens));
    for (const SimRunLine &run : output.runs)
        seen.append(u"%1 %2 %3 %4 %5 %6 %7"_s.arg(run.first)
                        .arg(run.firstFrom)
                        .arg(run.firstTo)
                        .arg(run.second)
                        .arg(run.secondFrom)
                        .arg(run.secondTo)
                        .arg(run.tokens));
    QCOMPARE(seen, parsed.isEmpty() ? QStringList() : (QStringList{parsed, parsed}));
}

void TestSimilarity::languages_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("tool");
    QTest::newRow("c") << u"a.c"_s << u"sim_c"_s;
    QTest::newRow("c++") << u"a.cpp"_s << u"sim_c++"_s;
    QTest::newRow("c++ upper case") << u"A.CC"_s << u"sim_c++"_s;
    QTest::newRow("pascal") << u"a.pas"_s << u"sim_pasc"_s;
    QTest::newRow("python: no lexer") << u"a.py"_s << QString();
    QTest::newRow("no suffix") << u"cpp"_s << QString();
}

void TestSimilarity::languages()
{
    QFETCH(QString, file);
    QFETCH(QString, tool);
    const SimLanguage *language = simLanguageOf(file);
    QCOMPARE(language ? language->tool : QString(), tool);
}

void TestSimilarity::sourcesLeftOut()
{
    QTemporaryDir dir;
    StatsFixture f(dir.path());
    f.addProblem(u"copy"_s, {1});
    f.addProblem(u"answers"_s, {1}, 1.0, u"ANS_0_4"_s);
    const QByteArray program = "int main() { return 0; }\n";
    f.addSource(u"std"_s, u"copy"_s, u"copy.cpp"_s, program);
    f.addSource(u"a"_s, u"copy"_s, u"copy.cpp"_s, program);
    f.addSource(u"b"_s, u"copy"_s, u"copy.c"_s, program);
    f.addSource(u"blank"_s, u"copy"_s, u"copy.cpp"_s, " \n\t\n");
    f.addPlayer(u"none"_s);
    f.addSource(u"dir"_s, u"copy"_s, u"copy.cpp/inside"_s, program);  // a folder is no source
    // Links are no sources either: not another player's, not one to a file
    // only the judge may read, not through a linked folder.
    f.addSource(u"linker"_s, u"secret"_s, u"answer.cpp"_s, "int secret;\n");
    QVERIFY(QDir().mkpath(f.contest.playerSubDir(u"linker"_s, u"copy"_s)));
    QVERIFY(QFile::link(u"../../a/copy/copy.cpp"_s, f.contest.playerFile(u"linker"_s, u"copy"_s, u"copy.cpp"_s)));
    QVERIFY(QFile::link(f.contest.playerFile(u"linker"_s, u"secret"_s, u"answer.cpp"_s),
                        f.contest.playerFile(u"linker"_s, u"copy"_s, u"copy.c"_s)));
    f.addPlayer(u"folder"_s);
    QVERIFY(QFile::link(u"../b/copy"_s, f.contest.playerSubDir(u"folder"_s, u"copy"_s)));
    f.addResult(u"a"_s, u"copy"_s, 40, 'N');
    QStringList notes;
    const QList<SimSource> sources = collectSimSources(f.opened(), 64 * 1024, notes);
    QStringList seen;
    for (const SimSource &source : sources)
        seen.append(source.player + u' ' + source.language->name + u' '
                    + QString::number(source.result.score));
    QCOMPARE(seen, (QStringList{u"a C++ 40"_s, u"b C 0"_s}));
    QCOMPARE(notes, (QStringList{u"answers: 不是传统题, 不比较"_s,
                                 u"copy: 比较 1 份 C、1 份 C++ 源程序; 4 名选手没有源程序; 1 份源程序是空的"_s}));
}

void TestSimilarity::sizeBound()
{
    QTemporaryDir dir;
    StatsFixture f(dir.path());
    f.addProblem(u"big"_s, {1});
    QByteArray table = "int t[] = {\n";
    while (table.size() < 5000)
        table += "1, 2, 3, 4, 5, 6, 7, 8, 9, 10,\n";
    table += "};\nint main() { return t[0]; }\n";
    f.addSource(u"p"_s, u"big"_s, u"big.cpp"_s, table);
    QStringList notes;
    const QList<SimSource> sources = collectSimSources(f.opened(), 1000, notes);
    QCOMPARE(sources.size(), 1);
    const SimSource &source = sources.first();
    QVERIFY(source.truncated);
    QCOMPARE(source.size, qint64(table.size()));
    QVERIFY(source.text.size() <= 1000);
    QVERIFY(source.text.size() > 900);
    QVERIFY(source.text.endsWith('\n'));  // no line compared half
    QVERIFY(table.startsWith(source.text));
    QCOMPARE(notes.first(), u"p 的 big 源程序有 5 KB, 只比较了前 %1 字节"_s.arg(source.text.size()));
}

void TestSimilarity::copiesFoundOthersNot()
{
    REQUIRE_SIM();
    QTemporaryDir dir;
    StatsFixture f(dir.path());
    f.addProblem(u"copy"_s, {1});
    SourceGenerator generator(7);
    const QString original = generator.program();
    f.addSource(u"a"_s, u"copy"_s, u"copy.cpp"_s, original.toUtf8());
    f.addSource(u"b"_s, u"copy"_s, u"copy.cpp"_s, generator.disguised(original).toUtf8());
    f.addSource(u"c"_s, u"copy"_s, u"copy.cpp"_s, generator.program().toUtf8());
    f.addSource(u"d"_s, u"copy"_s, u"copy.cpp"_s, generator.program().toUtf8());
    // The same program in C is another language: never compared with C++.
    f.addSource(u"e"_s, u"copy"_s, u"copy.c"_s, original.toUtf8());
    f.addSource(u"std"_s, u"copy"_s, u"copy.cpp"_s, original.toUtf8());
    SimilarityRun run;
    SimilarityOptions options;
    options.threshold = 60;
    QVERIFY(runToEnd(run, f.opened(), options));
    const SimilarityReport &report = run.report();
    QVERIFY(report.complete);
    QCOMPARE(report.totalPairs, qint64(6));  // a b c d in C++; e alone in C
    QCOMPARE(report.comparedPairs, report.totalPairs);
    QCOMPARE(report.pairs.size(), 1);
    const SimPair *pair = findPair(report, u"a"_s, u"b"_s);
    QVERIFY(pair);
    QVERIFY2(pair->percent >= 90, qPrintable(QString::number(pair->percent)));
    QVERIFY(!pair->runs.isEmpty());
    // The runs' lines lie inside both sources.
    const SimSource &first = report.sources[pair->first];
    const SimSource &second = report.sources[pair->second];
    for (const SimRun &r : pair->runs) {
        QVERIFY(r.firstFrom >= 1 && r.firstTo <= first.text.count('\n') + 1);
        QVERIFY(r.secondFrom >= 1 && r.secondTo <= second.text.count('\n') + 1);
    }

    // The unrelated ones are found well below the threshold.
    SimilarityRun low;
    options.threshold = 0;
    QVERIFY(runToEnd(low, f.contest, options));
    for (const SimPair &other : low.report().pairs) {
        if (&other == findPair(low.report(), u"a"_s, u"b"_s))
            continue;
        QVERIFY2(other.percent < 40, qPrintable(QString::number(other.percent)));
    }
}

void TestSimilarity::sharedTemplate_data()
{
    QTest::addColumn<bool>("templateGiven");
    QTest::newRow("the grader is in the problem's folder: no finding") << true;
    QTest::newRow("without it the same two sources are alike") << false;
}

void TestSimilarity::sharedTemplate()
{
    REQUIRE_SIM();
    QFETCH(bool, templateGiven);
    QTemporaryDir dir;
    StatsFixture f(dir.path());
    f.addProblem(u"grade"_s, {1});
    SourceGenerator generator(11);
    // The grader: helper functions everyone's main calls; a short main of one's own.
    QString grader = generator.program();
    grader.replace(u"int main() {"_s, u"int grader_main() {"_s);
    if (templateGiven)
        QVERIFY(writeTestFile(f.contest.problemDir(u"grade"_s) + u"/grader.cpp"_s, grader.toUtf8()));
    const auto own = [&generator] {
        QString text = generator.program();
        return text.mid(text.indexOf(u"int main() {"_s));
    };
    f.addSource(u"a"_s, u"grade"_s, u"grade.cpp"_s, (grader + own()).toUtf8());
    f.addSource(u"b"_s, u"grade"_s, u"grade.cpp"_s, (grader + own()).toUtf8());
    SimilarityRun run;
    QVERIFY(runToEnd(run, f.opened(), SimilarityOptions()));
    const SimilarityReport &report = run.report();
    QVERIFY(report.complete);
    QCOMPARE(findPair(report, u"a"_s, u"b"_s) != nullptr, !templateGiven);
    for (const SimSource &source : report.sources)
        QCOMPARE(source.templateLines > 0, templateGiven);
}

void TestSimilarity::timeOut()
{
    QTemporaryDir dir;
    StatsFixture f(dir.path());
    f.addProblem(u"slow"_s, {1});
    f.addSource(u"a"_s, u"slow"_s, u"slow.cpp"_s, "int main() {}\n");
    f.addSource(u"b"_s, u"slow"_s, u"slow.cpp"_s, "int main() {}\n");
    QVERIFY(writeTestFile(dir.filePath(u"tools/sim_c++"_s), "#!/bin/sh\nexec sleep 60\n"));
    QVERIFY(QFile::setPermissions(dir.filePath(u"tools/sim_c++"_s), QFile::ExeOwner | QFile::ReadOwner));
    SimilarityRun run;
    SimilarityOptions options;
    options.toolDirectory = dir.filePath(u"tools"_s);
    options.runTimeoutMs = 300;
    QVERIFY(runToEnd(run, f.opened(), options));
    const SimilarityReport &report = run.report();
    QVERIFY(!report.complete);
    QVERIFY(!report.stopped);
    QVERIFY2(report.notes.last().contains(u"超时"_s), qPrintable(report.notes.join(u'\n')));
    QTRY_VERIFY(childProcesses().isEmpty());
}

void TestSimilarity::stopEndsEverything()
{
    QTemporaryDir dir;
    StatsFixture f(dir.path());
    f.addProblem(u"slow"_s, {1});
    // Ten sources: three processes' work, of which two run at once.
    for (int i = 0; i < 10; ++i)
        f.addSource(u"p%1"_s.arg(i), u"slow"_s, u"slow.cpp"_s, "int main() {}\n");
    QVERIFY(writeTestFile(dir.filePath(u"tools/sim_c++"_s), "#!/bin/sh\nexec sleep 60\n"));
    QVERIFY(QFile::setPermissions(dir.filePath(u"tools/sim_c++"_s), QFile::ExeOwner | QFile::ReadOwner));
    SimilarityRun run;
    QSignalSpy finished(&run, &SimilarityRun::finished);
    SimilarityOptions options;
    options.toolDirectory = dir.filePath(u"tools"_s);
    run.start(f.opened(), options);
    QVERIFY(run.isRunning());
    QTRY_COMPARE(childProcesses().size(), 2);  // two at a time
    run.stop();
    QCOMPARE(finished.count(), 1);
    QVERIFY(!run.isRunning());
    QVERIFY(run.report().stopped);
    QVERIFY(!run.report().complete);
    QTRY_VERIFY(childProcesses().isEmpty());
}

void TestSimilarity::missingTool()
{
    QTemporaryDir dir;
    StatsFixture f(dir.path());
    f.addProblem(u"p"_s, {1});
    f.addSource(u"a"_s, u"p"_s, u"p.pas"_s, "begin end.\n");
    f.addSource(u"b"_s, u"p"_s, u"p.pas"_s, "begin end.\n");
    QDir().mkpath(dir.filePath(u"empty"_s));
    SimilarityRun run;
    SimilarityOptions options;
    options.toolDirectory = dir.filePath(u"empty"_s);
    QVERIFY(runToEnd(run, f.opened(), options));
    QVERIFY(!run.report().complete);
    QVERIFY(run.report().notes.last().contains(u"找不到 sim_pasc"_s));
}

QTEST_GUILESS_MAIN(TestSimilarity)
#include "tst_similarity.moc"
