#include "scoreinfo.h"

#include <QTest>

#include <climits>

using namespace Qt::StringLiterals;

class TestScoreInfo : public QObject
{
    Q_OBJECT

private slots:
    void stateFromPoints_data()
    {
        QTest::addColumn<QString>("points");
        QTest::addColumn<char>("state");

        QTest::newRow("no points") << QString() << 'N';
        QTest::newRow("only ignored") << u"III"_s << 'N';
        QTest::newRow("accepted, accepted, memory") << u"AAM"_s << 'N';
        QTest::newRow("memory, run-time error, memory") << u"MRM"_s << 'R';
        QTest::newRow("run-time error, ignored") << u"RI"_s << 'R';
        QTest::newRow("no output, ignored, no output") << u"OIO"_s << 'O';
        QTest::newRow("no output and memory") << u"OM"_s << 'N';
        QTest::newRow("accepted, checker failure") << u"AC"_s << 'E';
        QTest::newRow("judge error among run-time errors") << u"RER"_s << 'E';
        QTest::newRow("checker failure among no output") << u"OCO"_s << 'E';
        QTest::newRow("ignored around a judge error") << u"IEI"_s << 'E';
        QTest::newRow("time limit only") << u"TT"_s << 'N';
        QTest::newRow("wrong and partial") << u"WP"_s << 'N';
        QTest::newRow("not submitted") << u"UU"_s << 'N';
    }

    void stateFromPoints()
    {
        QFETCH(QString, points);
        QFETCH(char, state);
        QCOMPARE(problemStateFromPoints(points), state);
    }

    void stateText_data()
    {
        QTest::addColumn<char>("state");
        QTest::addColumn<double>("time");
        QTest::addColumn<QString>("text");

        QTest::newRow("not judged") << ' ' << 0.0 << u"未测评"_s;
        QTest::newRow("being judged") << '?' << 0.0 << QString();
        QTest::newRow("normal, two decimals") << 'N' << 1.5 << u"用时: 1.50s"_s;
        QTest::newRow("normal, rounded") << 'N' << 0.333 << u"用时: 0.33s"_s;
        QTest::newRow("normal, whole") << 'N' << 12.0 << u"用时: 12.00s"_s;
        QTest::newRow("no output") << 'O' << 0.0 << u"无输出"_s;
        QTest::newRow("run error") << 'R' << 0.0 << u"超过内存限制或运行时错误"_s;
        QTest::newRow("judge error") << 'E' << 0.0 << u"测评器或校验器出错"_s;
        QTest::newRow("compile error") << 'C' << 0.0 << u"编译错误"_s;
        QTest::newRow("compile timeout") << 'T' << 0.0 << u"编译超时"_s;
        QTest::newRow("code too large") << 'S' << 0.0 << u"超过代码限制"_s;
        QTest::newRow("file missing") << 'F' << 0.0 << u"找不到文件"_s;
        QTest::newRow("no state") << '\0' << 0.0 << QString();
        QTest::newRow("unknown") << 'x' << 0.0 << QString();
    }

    void stateText()
    {
        QFETCH(char, state);
        QFETCH(double, time);
        QFETCH(QString, text);
        QCOMPARE(TaskState::text(state, time), text);
    }

    void subtaskScore_data()
    {
        QTest::addColumn<double>("minimum");
        QTest::addColumn<int>("full");
        QTest::addColumn<int>("score");

        QTest::newRow("0.29 of 100, just below 29 in binary") << 0.29 << 100 << 29;
        QTest::newRow("0.58 of 100, just below 58 in binary") << 0.58 << 100 << 58;
        QTest::newRow("0.07 of 100, just above 7 in binary") << 0.07 << 100 << 7;
        QTest::newRow("half of 15 is truncated") << 0.5 << 15 << 7;
        QTest::newRow("0.999989 of 100 is not rounded up") << 0.999989 << 100 << 99;
        QTest::newRow("0.999999 of 100 is not rounded up") << 0.999999 << 100 << 99;
        QTest::newRow("nothing of 10") << 0.0 << 10 << 0;
        QTest::newRow("nothing of 0") << 0.0 << 0 << 0;
        QTest::newRow("all of 10") << 1.0 << 10 << 10;
        QTest::newRow("all of 0") << 1.0 << 0 << 0;
        QTest::newRow("all of the largest score") << 1.0 << INT_MAX << INT_MAX;
        QTest::newRow("0.000005 of 100000 is half a point") << 0.000005 << 100000 << 0;
        QTest::newRow("negative full score, toward zero") << 0.5 << -15 << -7;
        QTest::newRow("over the largest score is capped") << 1.00001 << INT_MAX << INT_MAX;
    }

    void subtaskScore()
    {
        QFETCH(double, minimum);
        QFETCH(int, full);
        QFETCH(int, score);
        QCOMPARE(::subtaskScore(minimum, full), score);
    }

    void defaultsAndMetaType()
    {
        const ScoreInfo info;
        QCOMPARE(info.score, 0);
        QCOMPARE(info.time, 0.0);
        QCOMPARE(info.state, TaskState::NotJudged);
        QCOMPARE(QByteArray(QMetaType::fromType<ScoreInfo>().name()), QByteArray("ScoreInfo"));
        const QVariant carried = QVariant::fromValue(ScoreInfo{7, 1.5, 'N'});
        QCOMPARE(carried.value<ScoreInfo>(), (ScoreInfo{7, 1.5, 'N'}));
    }
};

QTEST_GUILESS_MAIN(TestScoreInfo)
#include "tst_scoreinfo.moc"
