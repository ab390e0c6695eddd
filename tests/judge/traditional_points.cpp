// Points run, checked and scored.

#include "traditionalsite.h"

using namespace traditional;

void TestTraditional::programFailures_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QByteArray>("source");
    QTest::addColumn<QString>("pointState");
    QTest::addColumn<QString>("note");
    QTest::addColumn<char>("problemState");

    QTest::newRow("wrong answer") << u"sum.cpp"_s << WrongCpp << u"W"_s
                                  << u"标准输出:\"3\" 选手输出:\"4\""_s << TaskState::Normal;
    QTest::newRow("endless loop")
        << u"sum.c"_s << QByteArray("int main(void) { for (volatile int i = 0;; ++i) {} }\n")
        << u"T"_s << u"超过时间限制"_s << TaskState::Normal;
    QTest::newRow("memory hog")
        << u"sum.c"_s
        << QByteArray("#include <stdlib.h>\n#include <string.h>\n"
                      "int main(void) { size_t n = 512u << 20; char *p = malloc(n);\n"
                      "  if (p) memset(p, 1, n); return p ? p[n / 2] - 1 : 0; }\n")
        << u"M"_s << u"超过内存限制"_s << TaskState::RunError;
    QTest::newRow("crash")
        << u"sum.c"_s << QByteArray("int main(void) { *(volatile int *)0 = 1; return 0; }\n")
        << u"R"_s << u"运行时错误: SIGSEGV"_s << TaskState::RunError;
    QTest::newRow("exit code") << u"sum.c"_s << QByteArray("int main(void) { return 3; }\n")
                               << u"R"_s << u"运行时错误: 3"_s << TaskState::RunError;
    QTest::newRow("no output") << u"sum.c"_s << QByteArray("int main(void) { return 0; }\n")
                               << u"O"_s << u"无输出"_s << TaskState::NoOutput;
}

void TestTraditional::programFailures()
{
    QFETCH(QString, file);
    QFETCH(QByteArray, source);
    QFETCH(QString, pointState);
    QFETCH(QString, note);
    QFETCH(char, problemState);

    Site site;
    QVERIFY(site.configureOnePoint(ProblemSetup()));
    QVERIFY(site.submit(u"bob"_s, file, source));

    QDomDocument result;
    if (!judgeCell(site, u"bob"_s, result))
        return;
    QCOMPARE(pointStates(result), pointState);
    QCOMPARE(pointAttributes(result, ResultXml::Note), QStringList{note});
    QCOMPARE(pointAttributes(result, ResultXml::Ratio), QStringList{u"0"_s});
    const ScoreInfo saved = readScoreInfo(result);
    QCOMPARE(saved.score, 0);
    QCOMPARE(saved.state, problemState);
    QCOMPARE(saved.time, 0.0);
}

// Every point runs the actor and the ratio checker: the answer file's first
// line is the verdict.
void TestTraditional::scoring_data()
{
    QTest::addColumn<QString>("layout");
    QTest::addColumn<QStringList>("inputs");
    QTest::addColumn<QStringList>("verdicts");
    QTest::addColumn<QString>("time");
    QTest::addColumn<QString>("states");
    QTest::addColumn<QStringList>("ratios");
    QTest::addColumn<QList<int>>("subtaskScores");
    QTest::addColumn<char>("problemState");

    const QString second = u"1"_s;
    QTest::newRow("failed point ignores the rest of its subtask")
        << u"20:1,2,3;50:4"_s << QStringList(4, u"burn 0"_s)
        << QStringList{u"1"_s, u"0"_s, u"1"_s, u"1"_s} << second << u"AWIA"_s
        << QStringList{u"1"_s, u"0"_s, u"0"_s, u"1"_s} << QList{0, 50} << TaskState::Normal;
    // 0.29 x 100 is 28.999999999999996 in binary.
    QTest::newRow("0.29 of 100 gives 29")
        << u"100:1"_s << QStringList{u"burn 0"_s} << QStringList{u"0.29"_s} << second << u"P"_s
        << QStringList{u"0.29"_s} << QList{29} << TaskState::Normal;
    QTest::newRow("ratios 1 and 0.5 of 15")
        << u"15:1,2"_s << QStringList(2, u"burn 0.2"_s) << QStringList{u"1"_s, u"0.5"_s}
        << second << u"AP"_s << QStringList{u"1"_s, u"0.5"_s} << QList{7}
        << TaskState::Normal;
    QTest::newRow("0.000005 counts as failed")
        << u"100:1,2"_s << QStringList(2, u"burn 0"_s) << QStringList{u"0.000005"_s, u"1"_s}
        << second << u"WI"_s << QStringList{u"5e-06"_s, u"0"_s} << QList{0}
        << TaskState::Normal;
    QTest::newRow("tiny ratio as the last point")
        << u"100000:1"_s << QStringList{u"burn 0"_s} << QStringList{u"0.000005"_s} << second
        << u"W"_s << QStringList{u"5e-06"_s} << QList{0} << TaskState::Normal;
    QTest::newRow("subtask without points scores full")
        << u"30:;70:1"_s << QStringList{u"burn 0.1"_s} << QStringList{u"1"_s} << second
        << u"A"_s << QStringList{u"1"_s} << QList{30, 70} << TaskState::Normal;
    QTest::newRow("no subtasks") << QString() << QStringList() << QStringList() << second
                                 << QString() << QStringList() << QList<int>()
                                 << TaskState::Normal;
    QTest::newRow("ratio above one") << u"10:1"_s << QStringList{u"burn 0"_s}
                                     << QStringList{u"1.234567"_s} << second << u"C"_s
                                     << QStringList{u"1.23457"_s} << QList{10}
                                     << TaskState::JudgeError;
    QTest::newRow("every point over time")
        << u"10:1;10:2"_s << QStringList(2, u"loop"_s) << QStringList(2, u"1"_s) << u"0.2"_s
        << u"TT"_s << QStringList(2, u"0"_s) << QList{0, 0} << TaskState::Normal;
    QTest::newRow("no output anywhere")
        << u"10:1;10:2"_s << QStringList(2, u"none"_s) << QStringList(2, u"1"_s) << second
        << u"OO"_s << QStringList(2, u"0"_s) << QList{0, 0} << TaskState::NoOutput;
    QTest::newRow("no output once") << u"10:1;10:2"_s << QStringList{u"none"_s, u"burn 0"_s}
                                    << QStringList(2, u"1"_s) << second << u"OA"_s
                                    << QStringList{u"0"_s, u"1"_s} << QList{0, 10}
                                    << TaskState::Normal;
}

void TestTraditional::scoring()
{
    QFETCH(QString, layout);
    QFETCH(QStringList, inputs);
    QFETCH(QStringList, verdicts);
    QFETCH(QString, time);
    QFETCH(QString, states);
    QFETCH(QStringList, ratios);
    QFETCH(QList<int>, subtaskScores);
    QFETCH(char, problemState);

    Site site;
    ProblemSetup setup = actorProblem(layout);
    setup.time = time;
    QVERIFY(site.configure(setup));
    for (int k = 0; k < inputs.size(); ++k)
        QVERIFY(site.writePoint(k + 1, inputs[k].toUtf8(), verdicts[k].toUtf8() + '\n'));
    QVERIFY(site.handIn(u"hal"_s, m_actor));

    QDomDocument result;
    if (!judgeCell(site, u"hal"_s, result))
        return;

    QCOMPARE(pointStates(result), states);
    QCOMPARE(pointAttributes(result, ResultXml::Ratio), ratios);
    QList<int> scores;
    const ElementQuery subtasks = queryUnder(result, ResultXml::Subtask);
    for (int i = 0; i < subtasks.count(); ++i)
        scores << attributeInt(subtasks.item(i), ResultXml::Score);
    QCOMPARE(scores, subtaskScores);
    const ScoreInfo saved = readScoreInfo(result);
    QCOMPARE(saved.state, problemState);
    const QStringList notes = pointAttributes(result, ResultXml::Note);
    for (int i = 0; i < states.size(); ++i)
        if (states[i] == u'I')
            QCOMPARE(notes[i], u"忽略"_s);

    // Time: each subtask's CPU time weighted by its smallest ratio. The actor
    // reports its own CPU time, which the judge measures a little later.
    static const QRegularExpression cpu(u"cpu=([0-9.]+)"_s);
    double expected = 0;
    int pointIndex = 0;
    for (int i = 0; i < subtasks.count(); ++i) {
        const ElementQuery points = queryWithin(subtasks.item(i), ResultXml::Point);
        double minRatio = 1, sum = 0;
        for (int p = 0; p < points.count(); ++p, ++pointIndex) {
            minRatio = qMin(minRatio, ratios[pointIndex].toDouble());
            sum += cpu.match(notes[pointIndex]).captured(1).toDouble();
        }
        expected += minRatio * sum;
    }
    QVERIFY2(qAbs(saved.time - expected) <= 0.05,
             qPrintable(u"time %1, expected %2"_s.arg(saved.time).arg(expected)));
    if (layout.isEmpty())
        QCOMPARE(queryUnder(result, ResultXml::Task).item(0).attribute(ResultXml::Time), u"0"_s);
}

void TestTraditional::missingInputData()
{
    Site site;
    QVERIFY(site.configureActor(u"100:1"_s, {QByteArray()}));
    QVERIFY(site.handIn(u"ida"_s, m_actor));

    QDomDocument result;
    if (!judgeCell(site, u"ida"_s, result))
        return;
    QCOMPARE(pointStates(result), u"A"_s);
    QVERIFY(pointAttributes(result, ResultXml::Note).value(0).contains(u"noinput"_s));
    QCOMPARE(readScoreInfo(result).score, 100);
}

// What a program leaves for the checker, which runs after it with the
// judge's rights: a link or a pipe in place of the output is no output, and
// whatever sits at the verdict file's name is replaced, never written through.
void TestTraditional::plantedFiles_data()
{
    QTest::addColumn<QByteArray>("plant");
    QTest::addColumn<QString>("pointState");
    QTest::addColumn<QString>("noteStart");
    const QByteArray answer =
        "FILE *out = fopen(\"sum.out\", \"w\");\n    fputs(\"3\\n\", out);\n    fclose(out);\n";
    QTest::newRow("output links to the answer")
        << QByteArray("symlink(\"../../data/sum/p1.ans\", \"sum.out\");\n") << u"O"_s
        << u"无输出"_s;
    QTest::newRow("output is a named pipe")
        << QByteArray("mkfifo(\"sum.out\", 0666);\n") << u"O"_s << u"无输出"_s;
    QTest::newRow("verdict file links to the configuration")
        << "symlink(\"../../data/sum/.prb\", \"check_info.txt\");\n    " + answer << u"A"_s
        << u"时间: "_s;
    QTest::newRow("verdict file is a directory")
        << "mkdir(\"check_info.txt\", 0777);\n    " + answer << u"A"_s << u"时间: "_s;
}

void TestTraditional::plantedFiles()
{
    QFETCH(QByteArray, plant);
    QFETCH(QString, pointState);
    QFETCH(QString, noteStart);

    Site site;
    QVERIFY(site.configureOnePoint(ProblemSetup()));
    QVERIFY(site.submit(u"eve"_s, u"sum.c"_s,
                        "#include <stdio.h>\n#include <sys/stat.h>\n#include <unistd.h>\n"
                        "int main(void)\n{\n    "
                            + plant + "    return 0;\n}\n"));
    QHash<QString, QByteArray> data;
    for (const QString &name : {u".prb"_s, u"p1.in"_s, u"p1.ans"_s})
        data.insert(name, readFile(site.problemDir() + u'/' + name));

    QDomDocument result;
    if (!judgeCell(site, u"eve"_s, result))
        return;
    QCOMPARE(pointStates(result), pointState);
    const QString note = pointAttributes(result, ResultXml::Note).value(0);
    QVERIFY2(note.startsWith(noteStart), qPrintable(note));
    for (auto file = data.cbegin(); file != data.cend(); ++file)
        QVERIFY2(readFile(site.problemDir() + u'/' + file.key()) == file.value(),
                 qPrintable(file.key()));
}
