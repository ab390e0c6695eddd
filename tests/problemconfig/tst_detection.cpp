#include "detection.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>

namespace {

QString s(const char *text)
{
    return QString::fromUtf8(text);
}

QStringList list(std::initializer_list<const char *> texts)
{
    QStringList out;
    for (const char *t : texts)
        out.append(s(t));
    return out;
}

QList<DataPair> pairs(std::initializer_list<std::pair<const char *, const char *>> texts)
{
    QList<DataPair> out;
    for (const auto &[in, ans] : texts)
        out.append(DataPair(s(in), s(ans)));
    return out;
}

// Readable on failure, unlike a list of pairs.
QStringList render(const QList<DataPair> &result)
{
    QStringList out;
    for (const DataPair &p : result)
        out.append(p.first + QStringLiteral(" -> ") + p.second);
    return out;
}

// The order a directory listing gives: by name ignoring case.
QStringList listingOrder(QStringList names)
{
    std::sort(names.begin(), names.end(), [](const QString &a, const QString &b) {
        return a.compare(b, Qt::CaseInsensitive) < 0;
    });
    return names;
}

// A numbered scheme such as "data%1.in" / "data%1.ans" for 1 … count: the
// names in listing order and the pairs in test point order.
struct Scheme
{
    QStringList names;
    QList<DataPair> pairs;
};

Scheme numbered(const char *input, const char *answer, int count, const QStringList &extra = {})
{
    Scheme scheme;
    for (int i = 1; i <= count; ++i) {
        const DataPair p(s(input).arg(i), s(answer).arg(i));
        scheme.pairs.append(p);
        scheme.names << p.first << p.second;
    }
    scheme.names = listingOrder(scheme.names + extra);
    return scheme;
}

// Straightforward version of the detection (whole matrix, string patterns),
// against which the fast one is checked.
QList<DataPair> referenceDetection(const QStringList &names)
{
    const qsizetype n = names.size();
    QList<QStringList> matrix(n, QStringList(n));
    QHash<QString, int> counts;
    QStringList firstSeen;
    int largest = 0;
    for (qsizetype r = 0; r < n; ++r) {
        for (qsizetype c = 0; c < n; ++c) {
            if (r == c)
                continue;
            matrix[r][c] = nameDifference(names[r], names[c]);
            if (!counts.contains(matrix[r][c]))
                firstSeen.append(matrix[r][c]);
            largest = std::max(largest, ++counts[matrix[r][c]]);
        }
    }
    auto entriesOf = [&](const QString &pattern) {
        QList<DataPair> found;
        for (qsizetype r = 0; r < n; ++r) {
            for (qsizetype c = 0; c < n; ++c) {
                if (r != c && matrix[r][c] == pattern)
                    found.append(DataPair(names[r], names[c]));
            }
        }
        return found;
    };
    if (largest < 2) {
        const QStringList templates = list({"*.in", "*.out", "*.in", "*.ans", "input.in", "output.out",
                                            "*.in*", "*.ou*", "*.in", "*.an", "*.in", "*.res",
                                            "*.in", "*.sol", "*.in", "*.ok"});
        for (qsizetype t = 0; t < templates.size(); t += 2) {
            const QList<DataPair> found = entriesOf(nameDifference(templates[t], templates[t + 1]));
            if (!found.isEmpty())
                return {found.first()};
        }
        return {};
    }
    QString chosen;
    int best = -1;
    for (const QString &pattern : firstSeen) {
        if (counts[pattern] <= 0.618033 * largest)
            continue;
        int score = 0x3F3F3F3F;
        for (const DataPair &p : entriesOf(pattern))
            score = std::min(score, inputLikeness(p.first));
        if (score > best) {
            best = score;
            chosen = pattern;
        }
    }
    QList<DataPair> result = entriesOf(chosen);
    for (qsizetype k = 1; k < result.size(); ++k) {
        for (qsizetype j = k; j > 0 && !naturalLessOrEqual(result[j - 1].first, result[j].first); --j)
            result.swapItemsAt(j - 1, j);
    }
    return result;
}

bool makeFiles(const QString &dir, const QStringList &files, const QStringList &dirs)
{
    for (const QString &d : dirs) {
        if (!QDir(dir).mkpath(d))
            return false;
    }
    for (const QString &f : files) {
        QFile file(dir + u'/' + f);
        if (!file.open(QIODevice::WriteOnly) || file.write("1\n") != 2)
            return false;
    }
    return true;
}

}  // namespace

class TestDetection : public QObject
{
    Q_OBJECT

private slots:
    void nameDifferenceOfTwoNames_data();
    void nameDifferenceOfTwoNames();
    void inputLikenessScores_data();
    void inputLikenessScores();
    void naturalOrder_data();
    void naturalOrder();
    void detection_data();
    void detection();
    void listing_data();
    void listing();
    void listingFailures_data();
    void listingFailures();
    void listingOfContestProblem();
    void directorySchemes_data();
    void directorySchemes();
    void matchesStraightforwardDetection();
    void tooManyNames();
};

void TestDetection::nameDifferenceOfTwoNames_data()
{
    QTest::addColumn<QString>("a");
    QTest::addColumn<QString>("b");
    QTest::addColumn<QString>("expected");
    QTest::newRow("extensions") << s("12.in") << s("12.out") << s("in/out");
    QTest::newRow("numbers") << s("a1.in") << s("a2.in") << s("1/2");
    QTest::newRow("shared final letter") << s("x.in") << s("x.an") << s("i/a");
    QTest::newRow("input and output") << s("input3.txt") << s("output3.txt") << s("in/out");
    QTest::newRow("equal names") << s("1.in") << s("1.in") << QString();
    QTest::newRow("one contains the other") << s("ab") << s("abab") << s("/");
    // Prefix and suffix overlap in the shorter name: its middle runs to the end.
    QTest::newRow("overlapping prefix and suffix") << s("abc") << s("abxbc") << s("c/x");
    QTest::newRow("empty name") << QString() << s("x") << s("/x");
    QTest::newRow("nothing shared") << s("a.in") << s("b.txt") << s("a.in/b.txt");
}

void TestDetection::nameDifferenceOfTwoNames()
{
    QFETCH(QString, a);
    QFETCH(QString, b);
    QFETCH(QString, expected);
    QCOMPARE(nameDifference(a, b), expected);
}

void TestDetection::inputLikenessScores_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("expected");
    QTest::newRow("input1.txt") << s("input1.txt") << 32;
    QTest::newRow("1.in") << s("1.in") << 16;
    QTest::newRow("min.in") << s("min.in") << 32;
    QTest::newRow("1.ans") << s("1.ans") << 0;
    QTest::newRow("1.out") << s("1.out") << 0;
    QTest::newRow("io.dat") << s("io.dat") << 1;
    QTest::newRow("x.ini") << s("x.ini") << 8;
    QTest::newRow(".ini wins over input") << s("input.ini") << 8;
    QTest::newRow("input and in") << s("input.in") << 48;
    // "in" is counted only after every "input" is gone.
    QTest::newRow("in left by removing input") << s("iinputn") << 48;
    QTest::newRow("empty") << QString() << 0;
}

void TestDetection::inputLikenessScores()
{
    QFETCH(QString, name);
    QFETCH(int, expected);
    QCOMPARE(inputLikeness(name), expected);
}

void TestDetection::naturalOrder_data()
{
    QTest::addColumn<QString>("a");
    QTest::addColumn<QString>("b");
    QTest::addColumn<bool>("expected");
    QTest::newRow("2 before 10") << s("2") << s("10") << true;
    QTest::newRow("10 after 2") << s("10") << s("2") << false;
    QTest::newRow("names with numbers") << s("data2.in") << s("data10.in") << true;
    QTest::newRow("names with numbers, reversed") << s("data10.in") << s("data2.in") << false;
    QTest::newRow("007 equals 7") << s("007") << s("7") << true;
    QTest::newRow("7 equals 007") << s("7") << s("007") << true;
    QTest::newRow("leading zeros then text") << s("x09b") << s("x9a") << false;
    QTest::newRow("equal") << s("a.in") << s("a.in") << true;
    QTest::newRow("prefix first") << s("a") << s("ab") << true;
    QTest::newRow("longer after prefix") << s("ab") << s("a") << false;
    QTest::newRow("empty first") << QString() << s("a") << true;
    QTest::newRow("case-sensitive codes") << s("B") << s("a") << true;
    QTest::newRow("case-sensitive codes, reversed") << s("a") << s("B") << false;
    QTest::newRow("digit against letter") << s("1") << s("a") << true;
    QTest::newRow("letter against digit") << s("a") << s("1") << false;
    QTest::newRow("second number decides") << s("sub2-9.in") << s("sub2-10.in") << true;
    QTest::newRow("19 digits") << s("9999999999999999998") << s("9999999999999999999") << true;
}

void TestDetection::naturalOrder()
{
    QFETCH(QString, a);
    QFETCH(QString, b);
    QFETCH(bool, expected);
    QCOMPARE(naturalLessOrEqual(a, b), expected);
}

void TestDetection::detection_data()
{
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QList<DataPair>>("expected");

    QTest::newRow("no file") << QStringList() << QList<DataPair>();
    QTest::newRow("one file") << list({"1.in"}) << QList<DataPair>();
    QTest::newRow("1.in 1.out 2.in 2.out") << list({"1.in", "1.out", "2.in", "2.out"})
                                          << pairs({{"1.in", "1.out"}, {"2.in", "2.out"}});
    const Scheme data = numbered("data%1.in", "data%1.ans", 10);
    QTest::newRow("data1 to data10, sorted by number") << data.names << data.pairs;
    QTest::newRow("readme.txt in no pair")
        << list({"1.in", "1.out", "2.in", "2.out", "readme.txt"}) << pairs({{"1.in", "1.out"}, {"2.in", "2.out"}});
    QTest::newRow("007 equals 7, order kept") << list({"7.in", "7.out", "007.in", "007.out"})
                                             << pairs({{"7.in", "7.out"}, {"007.in", "007.out"}});

    // Too few files: the templates, in their order.
    QTest::newRow("sum.in sum.out") << list({"sum.in", "sum.out"}) << pairs({{"sum.in", "sum.out"}});
    QTest::newRow("answer listed first") << list({"z.out", "z.in"}) << pairs({{"z.in", "z.out"}});
    QTest::newRow("input.in output.out") << list({"input.in", "output.out"})
                                        << pairs({{"input.in", "output.out"}});
    QTest::newRow("in/out before in/ans") << list({"x.ans", "x.in", "x.out"}) << pairs({{"x.in", "x.out"}});
    QTest::newRow("in/ou") << list({"1.inp", "1.oup"}) << pairs({{"1.inp", "1.oup"}});
    QTest::newRow("i/a") << list({"x.in", "x.an"}) << pairs({{"x.in", "x.an"}});
    QTest::newRow("in/res") << list({"q.res", "q.in"}) << pairs({{"q.in", "q.res"}});
    QTest::newRow("in/sol") << list({"q.in", "q.sol"}) << pairs({{"q.in", "q.sol"}});
    QTest::newRow("in/ok") << list({"q.in", "q.ok"}) << pairs({{"q.in", "q.ok"}});
    QTest::newRow("no template") << list({"a.txt", "b.dat"}) << QList<DataPair>();
    QTest::newRow("one pair and a stray file") << list({"1.in", "1.out", "readme.txt"})
                                              << pairs({{"1.in", "1.out"}});

    // Real-world schemes.
    const Scheme problem = numbered("problem%1.in", "problem%1.ans", 12);
    QTest::newRow("problem1.in/problem1.ans") << problem.names << problem.pairs;
    const Scheme input = numbered("input%1.txt", "output%1.txt", 15);
    QTest::newRow("input7.txt/output7.txt") << input.names << input.pairs;
    const Scheme ok = numbered("a%1.in", "a%1.ok", 5);
    QTest::newRow("a1.in/a1.ok") << ok.names << ok.pairs;
    const Scheme checker = numbered("%1.in", "%1.ans", 11, list({"checker"}));
    QTest::newRow("1.in/1.ans beside a built checker") << checker.names << checker.pairs;
    Scheme sub;
    for (int t = 1; t <= 3; ++t) {
        const Scheme part = numbered(qPrintable(QStringLiteral("sub%1-%2.in").arg(t)),
                                     qPrintable(QStringLiteral("sub%1-%2.out").arg(t)), 10);
        sub.names += part.names;
        sub.pairs += part.pairs;
    }
    QTest::newRow("sub2-10.in/sub2-10.out") << listingOrder(sub.names) << sub.pairs;

    // A pattern of lower count wins on its score: 1/2 occurs three times.
    QTest::newRow("two kinds of answers")
        << list({"1.ans", "1.in", "1.out", "2.ans", "2.in", "2.out"})
        << pairs({{"1.in", "1.ans"}, {"2.in", "2.ans"}});
    // Equal scores: the pattern whose first entry comes first wins.
    QTest::newRow("equal scores, x/y met first") << list({"1.x", "1.y", "2.x", "2.y"})
                                                << pairs({{"1.x", "1.y"}, {"2.x", "2.y"}});
    QTest::newRow("equal scores, 1/2 met first") << list({"1.x", "2.x", "1.y", "2.y"})
                                                << pairs({{"1.x", "2.x"}, {"1.y", "2.y"}});
}

void TestDetection::detection()
{
    QFETCH(QStringList, names);
    QFETCH(QList<DataPair>, expected);
    QCOMPARE(render(detectTestData(names)), render(expected));
}

void TestDetection::listing_data()
{
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QStringList>("dirs");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("empty directory") << QStringList() << QStringList() << QStringList();
    QTest::newRow("sorted ignoring case") << list({"B.in", "a.in", "c.IN"}) << QStringList()
                                          << list({"a.in", "b.in", "c.in"});
    QTest::newRow("lower-cased") << list({"a.IN", "a.OUT"}) << QStringList() << list({"a.in", "a.out"});
    QTest::newRow("programs and stray files left out")
        << list({"t.cpp", "t.exe", "t.c", "t.pas", "t.bat", "T.CPP", "u.C", "~t.in", "t.in", "t.out",
                 "readme.txt", "noext", "t.cpp.in"})
        << QStringList() << list({"noext", "readme.txt", "t.cpp.in", "t.in", "t.out"});
    QTest::newRow("hidden files and directories left out") << list({".prb", ".hidden", "1.in"})
                                                           << list({"sub", "2.in"}) << list({"1.in"});
    QTest::newRow("names equal but for case listed once") << list({"A.in", "a.in", "a.out"}) << QStringList()
                                                         << list({"a.in", "a.out"});
}

void TestDetection::listing()
{
    QFETCH(QStringList, files);
    QFETCH(QStringList, dirs);
    QFETCH(QStringList, expected);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(makeFiles(dir.path(), files, dirs));
    QCOMPARE(listDataFilesIn(dir.path()), expected);
}

void TestDetection::listingFailures_data()
{
    QTest::addColumn<QString>("relative");
    QTest::newRow("missing directory") << s("missing");
    QTest::newRow("path through a regular file") << s("file/sub");
    QTest::newRow("regular file") << s("file");
    QTest::newRow("name too long") << QString(300, u'x');
}

void TestDetection::listingFailures()
{
    QFETCH(QString, relative);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(makeFiles(dir.path(), list({"file"}), {}));
    QCOMPARE(listDataFilesIn(dir.path() + u'/' + relative), QStringList());
    QCOMPARE(listDataFilesIn(QString()), QStringList());
}

void TestDetection::listingOfContestProblem()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    Contest contest;
    contest.rootDir = dir.path();
    QVERIFY(QDir().mkpath(contest.problemDir(s("sum"))));
    QVERIFY(makeFiles(contest.problemDir(s("sum")), list({"sum.in", "sum.out", "sum.cpp"}), {}));
    QCOMPARE(listDataFiles(contest, s("sum")), list({"sum.in", "sum.out"}));
    QCOMPARE(listDataFiles(contest, s("other")), QStringList());
}

void TestDetection::directorySchemes_data()
{
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QList<DataPair>>("expected");
    QTest::addColumn<QList<DataPair>>("onDisk");
    const Scheme checker = numbered("%1.in", "%1.ans", 3, list({"checker.cpp", "checker.exe"}));
    QTest::newRow("1.in/1.ans beside checker.cpp") << checker.names << checker.pairs << checker.pairs;
    QTest::newRow("upper-case names") << list({"a.IN", "a.OUT"}) << pairs({{"a.in", "a.out"}})
                                      << pairs({{"a.IN", "a.OUT"}});
    QTest::newRow("mixed case")
        << list({"Sum1.IN", "sum1.ans", "SUM2.in", "Sum2.Ans"})
        << pairs({{"sum1.in", "sum1.ans"}, {"sum2.in", "sum2.ans"}})
        << pairs({{"Sum1.IN", "sum1.ans"}, {"SUM2.in", "Sum2.Ans"}});
    QTest::newRow("only programs, ~ files and .prb")
        << list({"t.cpp", "t.exe", "~t.in", ".prb"}) << QList<DataPair>() << QList<DataPair>();
    QTest::newRow("sum and its source") << list({"sum.in", "sum.out", "sum.cpp", "sum.pas"})
                                       << pairs({{"sum.in", "sum.out"}})
                                       << pairs({{"sum.in", "sum.out"}});
}

void TestDetection::directorySchemes()
{
    QFETCH(QStringList, files);
    QFETCH(QList<DataPair>, expected);
    QFETCH(QList<DataPair>, onDisk);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(makeFiles(dir.path(), files, {}));
    QCOMPARE(render(detectTestData(listDataFilesIn(dir.path()))), render(expected));
    // The judge opens these names on a case-sensitive file system.
    QCOMPARE(render(detectTestDataIn(dir.path())), render(onDisk));
}

void TestDetection::matchesStraightforwardDetection()
{
    // Short names from few letters share many differences; "/" in a name can
    // make two different splits read the same.
    const QStringList pieces = list({"1", "2", "10", "0", "i", "in", "n", "out", "ans", ".", "/", "a"});
    QRandomGenerator random(20240607);
    for (int round = 0; round < 3000; ++round) {
        QStringList names;
        const int count = random.bounded(13);
        for (int k = 0; k < count; ++k) {
            QString name;
            for (int parts = random.bounded(5); parts > 0; --parts)
                name += pieces[random.bounded(int(pieces.size()))];
            names.append(name);
        }
        const QList<DataPair> expected = referenceDetection(names);
        const QList<DataPair> actual = detectTestData(names);
        if (actual != expected) {
            qWarning() << "names:" << names;
            QCOMPARE(render(actual), render(expected));
        }
    }
}

void TestDetection::tooManyNames()
{
    // Detected, the list would give one pair per number.
    const Scheme many = numbered("d%1.in", "d%1.out", int(MaxDetectedNames / 2 + 1));
    QVERIFY(many.names.size() > MaxDetectedNames);
    QCOMPARE(detectTestData(many.names), QList<DataPair>());
}

QTEST_GUILESS_MAIN(TestDetection)
#include "tst_detection.moc"
