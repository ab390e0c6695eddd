#include "gridcells.h"
#include "scoreinfo.h"
#include "viewinfo.h"

#include <QMetaType>
#include <QTest>

using namespace Qt::StringLiterals;

class TestViewInfo : public QObject
{
    Q_OBJECT

private slots:
    void rows_data();
    void rows();
    void stdHeadingHasNoBackground();
    void scoreColour_data();
    void scoreColour();
    void scoreColourIsMonotonic();
    void stateRowColour_data();
    void stateRowColour();
    void metaTypesRegisteredByName();
};

static QColor grey(int n)
{
    return QColor(n, n, n);
}

void TestViewInfo::rows_data()
{
    QTest::addColumn<ViewInfo>("row");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("number");
    QTest::addColumn<QColor>("background");
    QTest::addColumn<QColor>("foreground");

    QTest::newRow("heading") << headerRow(u"p1"_s, u"sum"_s, u"p1 [张三]"_s) << 0
                             << u"p1 [张三] - sum"_s << QString() << grey(130) << grey(255);
    QTest::newRow("heading std player, other display name")
        << headerRow(u"std"_s, u"sum"_s, u"std [标程]"_s) << 0 << u"std [标程] - sum"_s
        << QString() << grey(130) << grey(255);
    QTest::newRow("heading std display name, other player")
        << headerRow(u"x"_s, u"sum"_s, u"std"_s) << 0 << u"std - sum"_s << QString()
        << grey(130) << grey(255);
    QTest::newRow("message plain") << messageRow(u"m"_s, 0) << 1 << u"m"_s << QString()
                                   << grey(225) << grey(102);
    QTest::newRow("message failure") << messageRow(u"m"_s, 1) << 1 << u"m"_s << QString()
                                     << grey(180) << grey(76);
    QTest::newRow("message end") << messageRow(u"- 测评结束 -"_s, 2) << 4 << u"- 测评结束 -"_s
                                 << QString() << grey(225) << grey(51);
    QTest::newRow("message judge error") << messageRow(u"m"_s, 3) << 1 << u"m"_s << QString()
                                         << QColor(232, 53, 223) << grey(0);
    QTest::newRow("subtask") << subtaskRow(7, 10) << 2 << u"7"_s << QString()
                             << ::scoreColour(7, 10) << grey(255);
    QTest::newRow("point") << pointRow(u"答案正确"_s, 'A', 12) << 3 << u"答案正确"_s << u"12"_s
                           << QColor(0, 192, 48) << grey(0);
    QTest::newRow("title") << titleRow(u"t"_s) << 0 << u"t"_s << QString() << grey(130)
                           << grey(255);
}

void TestViewInfo::rows()
{
    QFETCH(ViewInfo, row);
    QFETCH(int, kind);
    QFETCH(QString, text);
    QFETCH(QString, number);
    QFETCH(QColor, background);
    QFETCH(QColor, foreground);
    QCOMPARE(row.kind, kind);
    QCOMPARE(row.text, text);
    QCOMPARE(row.number, number);
    QCOMPARE(row.background, background);
    QCOMPARE(row.foreground, foreground);
    QCOMPARE(row.foreground.alpha(), 255);
    if (row.background.isValid())
        QCOMPARE(row.background.alpha(), 255);
}

void TestViewInfo::stdHeadingHasNoBackground()
{
    const ViewInfo row = headerRow(u"std"_s, u"a"_s, u"std"_s);
    QCOMPARE(row.kind, 0);
    QCOMPARE(row.text, u"\"a\"的标程"_s);
    QVERIFY(!row.background.isValid());
    QCOMPARE(row.foreground, grey(255));
}

void TestViewInfo::scoreColour_data()
{
    QTest::addColumn<int>("score");
    QTest::addColumn<int>("full");
    QTest::addColumn<QColor>("colour");

    QTest::newRow("nothing") << 0 << 100 << grey(215);
    QTest::newRow("full") << 100 << 100 << QColor(72, 153, 217);
    QTest::newRow("above full clamps") << 150 << 100 << QColor(72, 153, 217);
    QTest::newRow("no full score, nothing") << 0 << 0 << grey(215);
    QTest::newRow("no full score, some") << 5 << 0 << QColor(72, 153, 217);
    QTest::newRow("negative score") << -5 << 100 << grey(215);
}

void TestViewInfo::scoreColour()
{
    QFETCH(int, score);
    QFETCH(int, full);
    QFETCH(QColor, colour);
    QCOMPARE(::scoreColour(score, full), colour);
}

// Between the endpoints red and green fall and blue rises with the score.
void TestViewInfo::scoreColourIsMonotonic()
{
    QColor previous = ::scoreColour(0, 100);
    for (int score = 1; score <= 100; ++score) {
        const QColor colour = ::scoreColour(score, 100);
        QVERIFY2(colour.red() <= previous.red() && colour.green() <= previous.green()
                     && colour.blue() >= previous.blue(),
                 qPrintable(QString::number(score)));
        previous = colour;
    }
    QVERIFY(::scoreColour(50, 100).red() < 215 && ::scoreColour(50, 100).red() > 72);
}

void TestViewInfo::stateRowColour_data()
{
    QTest::addColumn<char>("state");
    QTest::addColumn<QColor>("colour");

    QTest::newRow("A") << 'A' << QColor(0, 192, 48);
    QTest::newRow("C") << 'C' << QColor(232, 53, 223);
    QTest::newRow("E") << 'E' << QColor(232, 53, 223);
    QTest::newRow("I") << 'I' << grey(215);
    QTest::newRow("U") << 'U' << grey(215);
    QTest::newRow("M") << 'M' << QColor(248, 67, 52);
    QTest::newRow("R") << 'R' << QColor(248, 67, 52);
    QTest::newRow("O") << 'O' << grey(175);
    QTest::newRow("P") << 'P' << QColor(136, 222, 95);
    QTest::newRow("T") << 'T' << QColor(233, 211, 16);
    QTest::newRow("W") << 'W' << QColor(240, 154, 36);
    QTest::newRow("_") << '_' << QColor(72, 153, 217);
    QTest::newRow("unknown letter") << 'X' << grey(255);
    QTest::newRow("lower case") << 'a' << grey(255);
    QTest::newRow("NUL") << '\0' << grey(255);
}

void TestViewInfo::stateRowColour()
{
    QFETCH(char, state);
    QFETCH(QColor, colour);
    QCOMPARE(::stateRowColour(state), colour);
    QCOMPARE(::pointRow(u"n"_s, state, 1).background, colour);
    QCOMPARE(::pointRow(u"n"_s, state, 1).state, state);
}

void TestViewInfo::metaTypesRegisteredByName()
{
    registerJudgeMetaTypes();
    QCOMPARE(QMetaType::fromName("ViewInfo"), QMetaType::fromType<ViewInfo>());
    QCOMPARE(QMetaType::fromName("ScoreInfo"), QMetaType::fromType<ScoreInfo>());
    QCOMPARE(QMetaType::fromName("SiteItem*"), QMetaType::fromType<SiteItem *>());
}

QTEST_GUILESS_MAIN(TestViewInfo)
#include "tst_viewinfo.moc"
