// Compiling what players hand in, from their sources or ready-made.

#include "traditionalsite.h"

#include <QElapsedTimer>

using namespace traditional;

void TestTraditional::languages_data()
{
    QTest::addColumn<QList<Language>>("languages");
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QList<QByteArray>>("sources");
    QTest::addColumn<int>("score");

    QTest::newRow("c") << DefaultLanguages << QStringList{u"sum.c"_s} << QList{SumC} << 100;
    QTest::newRow("c++") << DefaultLanguages << QStringList{u"sum.cpp"_s} << QList{SumCpp} << 100;
    QTest::newRow("pascal") << DefaultLanguages << QStringList{u"sum.pas"_s} << QList{SumPas}
                            << 100;
    const QStringList both{u"sum.cpp"_s, u"sum.pas"_s};
    QTest::newRow("c++ listed first wins") << QList{DefaultLanguages[1], DefaultLanguages[0]}
                                           << both << QList{SumCpp, WrongPas} << 100;
    QTest::newRow("pascal listed first wins") << DefaultLanguages << both
                                              << QList{SumCpp, WrongPas} << 0;
}

void TestTraditional::languages()
{
    QFETCH(QList<Language>, languages);
    QFETCH(QStringList, files);
    QFETCH(QList<QByteArray>, sources);
    QFETCH(int, score);

    Site site;
    ProblemSetup setup;
    setup.languages = languages;
    setup.layout = u"40:1,2;60:3"_s;
    QVERIFY(site.configure(setup));
    QVERIFY(writeSumData(site));
    for (int i = 0; i < files.size(); ++i)
        QVERIFY(site.submit(u"alice"_s, files[i], sources[i]));

    QDomDocument result;
    if (!judgeCell(site, u"alice"_s, result))
        return;

    const ScoreInfo saved = readScoreInfo(result);
    QCOMPARE(saved.score, score);
    QCOMPARE(saved.state, TaskState::Normal);
    if (score == 100) {
        QCOMPARE(pointStates(result), u"AAA"_s);
        QCOMPARE(pointAttributes(result, ResultXml::Ratio), QStringList(3, u"1"_s));
        // Full subtasks count all their time; the notes show it to 2 decimals.
        double noted = 0;
        for (const QString &note : pointAttributes(result, ResultXml::Note)) {
            QVERIFY2(note.startsWith(u"时间: "_s), qPrintable(note));
            noted += noteSeconds(note);
        }
        QVERIFY(qAbs(saved.time - noted) <= 0.016);
    } else {
        QCOMPARE(pointStates(result), u"WIW"_s);
    }
}

void TestTraditional::compileFailures_data()
{
    QTest::addColumn<QList<Language>>("languages");
    QTest::addColumn<QString>("runexe");
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QByteArray>("content");  // of every submitted file
    QTest::addColumn<QByteArray>("script");  // written as build.sh beside the contest
    QTest::addColumn<char>("state");
    QTest::addColumn<QString>("note");
    QTest::addColumn<int>("compilerRuns");  // as counted by build.sh; -1: not counted

    const QList<Language> script{{u"sum.c"_s, u"sh ../build.sh"_s}};
    const QStringList source{u"sum.c"_s};

    QTest::newRow("no source") << DefaultLanguages << QString() << QStringList() << SumC
                               << QByteArray() << TaskState::FileMissing << u"找不到文件"_s << -1;
    QTest::newRow("prepared executable absent")
        << DefaultLanguages << u"sum"_s << QStringList() << SumC << QByteArray()
        << TaskState::FileMissing << u"找不到文件"_s << -1;
    QTest::newRow("source is a directory")
        << DefaultLanguages << QString() << QStringList{u"sum.c/"_s} << SumC << QByteArray()
        << TaskState::FileMissing << u"找不到文件\nsum/sum.c 是目录，不是普通文件"_s << -1;
    QTest::newRow("compiler missing")
        << QList<Language>{{u"sum.c"_s, u"qxj-no-such-compiler -o sum sum.c"_s}} << QString()
        << source << SumC << QByteArray() << TaskState::JudgeError << u"找不到编译器"_s << -1;
    QTest::newRow("empty command") << QList<Language>{{u"sum.c"_s, QString()}} << QString()
                                   << source << SumC << QByteArray() << TaskState::JudgeError
                                   << u"找不到编译器"_s << -1;
    QTest::newRow("output of both channels, tried twice")
        << script << QString() << source << SumC
        << QByteArray("echo run >> ../runs\necho out-line\necho err-line >&2\nexit 1\n")
        << TaskState::CompileError << u"编译错误:\nout-line\nerr-line"_s << 2;
    QTest::newRow("g++ reports an error")
        << QList<Language>{DefaultLanguages[1]} << QString() << QStringList{u"sum.cpp"_s}
        << QByteArray("int main( {\n") << QByteArray() << TaskState::CompileError << QString() << -1;
    QTest::newRow("output cut at NUL")
        << script << QString() << source << SumC << QByteArray("printf 'abc\\000def'\n")
        << TaskState::CompileError << u"编译错误:\nabc"_s << -1;
    // 100000 three-byte characters: cut to whole characters within 64 KiB.
    QTest::newRow("output capped")
        << script << QString() << source << SumC
        << QByteArray("awk 'BEGIN { for (i = 0; i < 100000; i++) printf \"中\" }'\n")
        << TaskState::CompileError
        << u"编译错误:\n"_s + QString(65536 / 3, u'中') + u'…' << -1;
    // The compiler and all it starts share one bound of the address space.
    QTest::newRow("compiler's memory bounded")
        << script << QString() << source << SumC << QByteArray("sh -c 'ulimit -v'\n")
        << TaskState::CompileError << u"编译错误:\n2097152"_s << -1;
    QTest::newRow("prepared executable of another name")
        << DefaultLanguages << u"other"_s << QStringList{u"other"_s} << SumC << QByteArray()
        << TaskState::CompileError << u"编译错误:"_s << -1;
}

void TestTraditional::compileFailures()
{
    QFETCH(QList<Language>, languages);
    QFETCH(QString, runexe);
    QFETCH(QStringList, files);
    QFETCH(QByteArray, content);
    QFETCH(QByteArray, script);
    QFETCH(char, state);
    QFETCH(QString, note);
    QFETCH(int, compilerRuns);

    Site site;
    ProblemSetup setup;
    setup.languages = languages;
    setup.runexe = runexe;
    QVERIFY(site.configureOnePoint(setup));
    for (const QString &file : files) {
        if (file.endsWith(u'/'))
            QVERIFY(QDir().mkpath(site.submissionDir(u"carol"_s) + u'/' + file));
        else
            QVERIFY(site.submit(u"carol"_s, file, content, true));
    }
    // The command runs in <root>/tmp, so ".." is the contest directory.
    if (!script.isNull())
        QVERIFY(writeFile(site.path(u"build.sh"_s), script));

    QDomDocument result;
    if (!judgeCell(site, u"carol"_s, result))
        return;
    const ScoreInfo saved = readScoreInfo(result);
    QCOMPARE(saved.state, state);
    const QString savedNote = queryUnder(result, ResultXml::Note).item(0).text();
    if (note.isEmpty()) {
        // The compiler's own words, in whatever language: they name the file.
        QVERIFY2(savedNote.startsWith(u"编译错误:\n"_s) && savedNote.contains(u"sum.cpp:"_s),
                 qPrintable(savedNote));
    } else {
        QCOMPARE(savedNote, note);
    }
    if (compilerRuns >= 0)
        QCOMPARE(readFile(site.path(u"runs"_s)).count("run"), compilerRuns);
}

void TestTraditional::codeLimit_data()
{
    QTest::addColumn<QString>("code");
    QTest::addColumn<int>("size");
    QTest::addColumn<char>("state");
    QTest::addColumn<QString>("note");

    QTest::newRow("exactly the limit") << u"64"_s << 65536 << TaskState::Normal << QString();
    QTest::newRow("one byte more") << u"64"_s << 65537 << TaskState::CodeTooLarge
                                   << u"超过代码限制:\n文件大小 = 64.00 KB > 64 KB"_s;
    QTest::newRow("limit shown as written") << u"064"_s << 70000 << TaskState::CodeTooLarge
                                            << u"超过代码限制:\n文件大小 = 68.36 KB > 064 KB"_s;
    QTest::newRow("missing limit") << QString() << SumC.size() << TaskState::CodeTooLarge
                                   << u"超过代码限制:\n文件大小 = "_s + QString::number(SumC.size() / 1024.0, 'f', 2)
                                          + u" KB >  KB"_s;
    // 4194304 KB is 2^32 bytes: a 32-bit product would wrap round to 0.
    QTest::newRow("limit beyond 32 bits") << u"4194304"_s << 1000 << TaskState::Normal
                                          << QString();
}

void TestTraditional::codeLimit()
{
    QFETCH(QString, code);
    QFETCH(int, size);
    QFETCH(char, state);
    QFETCH(QString, note);

    QByteArray source = SumC + "/*";
    QVERIFY(source.size() + 3 <= size || size == SumC.size());
    if (size == SumC.size())
        source = SumC;
    else
        source += QByteArray(size - source.size() - 3, 'x') + "*/\n";
    QCOMPARE(source.size(), size);

    Site site;
    ProblemSetup setup;
    setup.code = code;
    QVERIFY(site.configureOnePoint(setup));
    QVERIFY(site.submit(u"dave"_s, u"sum.c"_s, source));

    QDomDocument result;
    if (!judgeCell(site, u"dave"_s, result))
        return;
    const ScoreInfo saved = readScoreInfo(result);
    QCOMPARE(saved.state, state);
    if (state == TaskState::Normal) {
        QCOMPARE(saved.score, 100);
    } else {
        QCOMPARE(queryUnder(result, ResultXml::Note).item(0).text(), note);
    }
}

void TestTraditional::compileTimeoutKillsTree()
{
    Site site;
    QVERIFY(site.configureSlowCompile(u"erin"_s));

    QElapsedTimer timer;
    timer.start();
    QDomDocument result;
    if (!judgeCell(site, u"erin"_s, result))
        return;
    QVERIFY(timer.elapsed() >= 9500);
    QCOMPARE(readScoreInfo(result).state, TaskState::CompileTimeout);
    QCOMPARE(queryUnder(result, ResultXml::Note).item(0).text(), u"编译超时"_s);

    const QList<qint64> pids = pidsIn(site.path(u"pids"_s));
    QCOMPARE(pids.size(), 3);
    for (qint64 pid : pids)
        QTRY_VERIFY2_WITH_TIMEOUT(!processAlive(pid), qPrintable(QString::number(pid)), 10000);
}

void TestTraditional::secondAttemptAfterPause()
{
    Site site;
    ProblemSetup setup;
    setup.languages = {{u"sum.c"_s, u"sh ../flaky.sh"_s}};
    QVERIFY(site.configureOnePoint(setup));
    QVERIFY(site.submit(u"fay"_s, u"sum.c"_s, SumC));
    // First run builds nothing and notes when it ended; the second compiles.
    QVERIFY(writeFile(site.path(u"flaky.sh"_s),
                      "if [ -f ../first ]; then date +%s%N > ../second; exec gcc -o sum sum.c;"
                      " fi\ndate +%s%N > ../first\n"));

    QDomDocument result;
    if (!judgeCell(site, u"fay"_s, result))
        return;
    QCOMPARE(readScoreInfo(result).score, 100);
    const qint64 first = readFile(site.path(u"first"_s)).trimmed().toLongLong();
    const qint64 second = readFile(site.path(u"second"_s)).trimmed().toLongLong();
    QVERIFY(first > 0);
    QVERIFY2(second - first >= 230'000'000, qPrintable(QString::number(second - first)));
}

void TestTraditional::preparedExecutable()
{
    Site site;
    ProblemSetup setup;
    setup.runexe = u"sum"_s;
    setup.code = u"1"_s;  // the prepared program is far larger: no size check
    setup.layout = u"50:1;50:2"_s;
    QVERIFY(site.configure(setup));
    QVERIFY(site.writePoint(1, "1 2\n", "3\n"));
    QVERIFY(site.writePoint(2, "20 22\n", "42\n"));
    QVERIFY(site.handIn(u"gus"_s, m_sumBinary));
    QVERIFY(QFileInfo(m_sumBinary).size() > 1024);

    QDomDocument result;
    if (!judgeCell(site, u"gus"_s, result))
        return;
    QCOMPARE(readScoreInfo(result).score, 100);
    QCOMPARE(pointStates(result), u"AA"_s);
    // Nothing was compiled: the scratch area holds only the copied program.
    QDir tmp(site.contest.tmpDir());
    QCOMPARE(tmp.entryList(QDir::Files), QStringList{u"sum"_s});
}

// A submission is read only when it is a regular file reached without a
// link below the player's folder; the player's folder itself may be a link.
// A link would have the judge compile another player's source, or a file
// only the judge may read, as this player's own.
void TestTraditional::submissionLinks_data()
{
    // Below the contest: "f:path=name" a file holding the source of that
    // name, "x:path" the compiled A+B, "d:path" a directory, "l:path>target"
    // a link ("{root}": the contest).
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<bool>("prepared");  // the problem takes a prepared program
    QTest::addColumn<char>("state");
    QTest::addColumn<int>("score");
    QTest::addColumn<QString>("note");  // of a cell that failed as a whole

    const char F = TaskState::FileMissing;
    const char N = TaskState::Normal;
    QTest::newRow("source links to another player's")
        << QStringList{u"f:src/std/sum/sum.c=SumC"_s, u"d:src/carol/sum"_s,
                       u"l:src/carol/sum/sum.c>../../std/sum/sum.c"_s}
        << false << F << 0 << u"找不到文件\nsum/sum.c 是符号链接，不是普通文件"_s;
    QTest::newRow("source links to a file only the judge may read")
        << QStringList{u"f:secret/answers=Secret"_s, u"d:src/carol/sum"_s,
                       u"l:src/carol/sum/sum.c>{root}/secret/answers"_s}
        << false << F << 0 << u"找不到文件\nsum/sum.c 是符号链接，不是普通文件"_s;
    QTest::newRow("source folder links to another player's")
        << QStringList{u"f:src/std/sum/sum.c=SumC"_s, u"d:src/carol"_s, u"l:src/carol/sum>../std/sum"_s}
        << false << F << 0 << u"找不到文件\nsum 是符号链接，不是普通文件"_s;
    QTest::newRow("prepared program links to another player's")
        << QStringList{u"x:src/std/sum/sum"_s, u"d:src/carol/sum"_s,
                       u"l:src/carol/sum/sum>../../std/sum/sum"_s}
        << true << F << 0 << u"找不到文件\nsum/sum 是符号链接，不是普通文件"_s;
    QTest::newRow("a linked source is passed by for the player's own")
        << QStringList{u"f:elsewhere/sum.pas=WrongPas"_s, u"f:src/carol/sum/sum.c=SumC"_s,
                       u"l:src/carol/sum/sum.pas>{root}/elsewhere/sum.pas"_s}
        << false << N << 100 << QString();
    QTest::newRow("player's folder itself a link")
        << QStringList{u"f:elsewhere/carol/sum/sum.c=SumC"_s, u"l:src/carol>../elsewhere/carol"_s}
        << false << N << 100 << QString();
}

void TestTraditional::submissionLinks()
{
    QFETCH(QStringList, entries);
    QFETCH(bool, prepared);
    QFETCH(char, state);
    QFETCH(int, score);
    QFETCH(QString, note);

    const QHash<QString, QByteArray> sources{
        {u"SumC"_s, SumC}, {u"WrongPas"_s, WrongPas}, {u"Secret"_s, "secret line one\nsecret line two\n"}};
    Site site;
    ProblemSetup setup;
    if (prepared)
        setup.runexe = Problem;
    QVERIFY(site.configureOnePoint(setup));
    for (QString entry : entries) {
        entry.replace(u"{root}"_s, site.dir.path());
        const QString path = site.path(entry.mid(2).section(u'>', 0, 0).section(u'=', 0, 0));
        QVERIFY(QDir().mkpath(QFileInfo(path).path()));
        switch (entry.at(0).unicode()) {
        case 'f':
            QVERIFY(writeFile(path, sources.value(entry.section(u'=', 1))));
            break;
        case 'x':
            QVERIFY(QFile::copy(m_sumBinary, path));
            break;
        case 'd':
            QVERIFY(QDir().mkpath(path));
            break;
        case 'l':
            QVERIFY(QFile::link(entry.section(u'>', 1), path));
            break;
        }
    }

    QDomDocument result;
    if (!judgeCell(site, u"carol"_s, result))
        return;
    const ScoreInfo saved = readScoreInfo(result);
    QCOMPARE(saved.state, state);
    QCOMPARE(saved.score, score);
    const QString savedNote = queryUnder(result, ResultXml::Note).item(0).text();
    QCOMPARE(savedNote, note);
    QVERIFY2(!savedNote.contains(u"secret"_s), qPrintable(savedNote));
}
