#include "contest.h"
#include "testfiles.h"

#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

using namespace Qt::StringLiterals;

using NameMap = QMap<QString, QString>;

namespace {
const QByteArray Prb = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<problem type=\"TRA_0_4\"/>\n";

QDomDocument parse(const QString &xml)
{
    QDomDocument document;
    document.setContent(xml);
    return document;
}

QByteArray gb18030(const QString &text)
{
    QStringEncoder encoder("GB18030");
    return encoder(text);
}
}

class TestContest : public QObject, public ContestFixture
{
    Q_OBJECT

private slots:
    void init() { QVERIFY(renewContest()); }

    void paths_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("expected");

        Contest c;
        c.rootDir = u"/c/r"_s;
        QTest::newRow("data") << c.dataDir() << u"/c/r/data"_s;
        QTest::newRow("src") << c.srcDir() << u"/c/r/src"_s;
        QTest::newRow("result") << c.resultDir() << u"/c/r/result"_s;
        QTest::newRow("tmp") << c.tmpDir() << u"/c/r/tmp"_s;
        QTest::newRow("problem") << c.problemDir(u"sum"_s) << u"/c/r/data/sum"_s;
        QTest::newRow("problem config") << c.problemConfigPath(u"sum"_s) << u"/c/r/data/sum/.prb"_s;
        QTest::newRow("player") << c.playerDir(u"p 1"_s) << u"/c/r/src/p 1"_s;
        QTest::newRow("player sub-directory") << c.playerSubDir(u"p"_s, u"sum"_s) << u"/c/r/src/p/sum"_s;
        QTest::newRow("empty sub-directory") << c.playerSubDir(u"p"_s, QString()) << u"/c/r/src/p"_s;
        QTest::newRow("player file") << c.playerFile(u"p"_s, u"sum"_s, u"sum.cpp"_s) << u"/c/r/src/p/sum/sum.cpp"_s;
        QTest::newRow("player file, no sub-directory") << c.playerFile(u"p"_s, QString(), u"a.out"_s)
                                                       << u"/c/r/src/p/a.out"_s;
        QTest::newRow("contest file") << c.contestFilePath() << u"/c/r/.qxj"_s;
        QTest::newRow("player list") << c.playerListPath() << u"/c/r/.list"_s;
        QTest::newRow("result list") << c.resultListPath() << u"/c/r/result/.reslist"_s;
        QTest::newRow("result problem") << c.resultProblemDir(u"sum"_s) << u"/c/r/result/sum"_s;
        QTest::newRow("result file") << c.resultFilePath(u"p"_s, u"sum"_s) << u"/c/r/result/sum/p.res"_s;
        QTest::newRow("work directory") << c.threadWorkDir(0) << u"/c/r/tmp/test_thread_0"_s;
        QTest::newRow("work directory 12") << c.threadWorkDir(12) << u"/c/r/tmp/test_thread_12"_s;
        QTest::newRow("cell key") << Contest::cellKey(u"p q"_s, u"sum"_s) << u"p q/sum"_s;
        c.dataDirName = u"d"_s;
        QTest::newRow("renamed data") << c.problemConfigPath(u"x"_s) << u"/c/r/d/x/.prb"_s;
    }

    void paths()
    {
        QFETCH(QString, path);
        QFETCH(QString, expected);
        QCOMPARE(path, expected);
    }

    void loadProblems_data()
    {
        QTest::addColumn<QStringList>("withConfig");
        QTest::addColumn<QStringList>("withoutConfig");
        QTest::addColumn<QByteArray>("contestFile");  // empty: no file
        QTest::addColumn<QStringList>("problems");

        const QStringList abc{u"b"_s, u"A"_s, u"c"_s};
        const auto order = [](const char *names) {
            QByteArray xml = "<?xml version=\"1.0\"?><contest version=\"0.4\"><order>";
            for (const QByteArray &name : QByteArray(names).split(','))
                xml += "<problem>" + name + "</problem>";
            return xml + "</order></contest>";
        };

        QTest::newRow("no contest file: case ignored")
            << abc << QStringList{} << QByteArray() << QStringList{u"A"_s, u"b"_s, u"c"_s};
        QTest::newRow("contest order first")
            << abc << QStringList{} << order("c,A,b") << QStringList{u"c"_s, u"A"_s, u"b"_s};
        QTest::newRow("unlisted directories follow in listing order")
            << abc << QStringList{} << order("c") << QStringList{u"c"_s, u"A"_s, u"b"_s};
        QTest::newRow("listed name without directory ignored")
            << abc << QStringList{} << order("x,b") << QStringList{u"b"_s, u"A"_s, u"c"_s};
        QTest::newRow("name listed twice keeps its first place")
            << abc << QStringList{} << order("b,c,b") << QStringList{u"b"_s, u"c"_s, u"A"_s};
        QTest::newRow("names compare exactly") << abc << QStringList{} << order("C, b,a")
                                               << QStringList{u"A"_s, u"b"_s, u"c"_s};
        QTest::newRow("problem elements anywhere")
            << abc << QStringList{}
            << QByteArray("<contest><problem>c</problem><x><problem>b</problem></x></contest>")
            << QStringList{u"c"_s, u"b"_s, u"A"_s};
        QTest::newRow("directory without configuration ignored")
            << QStringList{u"a"_s} << QStringList{u"b"_s} << order("b,a") << QStringList{u"a"_s};
        QTest::newRow("hidden directory not listed")
            << QStringList{u"a"_s, u".h"_s} << QStringList{} << order(".h,a") << QStringList{u"a"_s};
        QTest::newRow("garbage contest file") << abc << QStringList{} << QByteArray("\xff\xfe not xml")
                                              << QStringList{u"A"_s, u"b"_s, u"c"_s};
        QTest::newRow("truncated contest file keeps what it read")
            << abc << QStringList{} << QByteArray("<contest><order><problem>c</problem><problem>b")
            << QStringList{u"c"_s, u"A"_s, u"b"_s};
        QTest::newRow("no data directory") << QStringList{} << QStringList{} << order("a") << QStringList{};
    }

    void loadProblems()
    {
        QFETCH(QStringList, withConfig);
        QFETCH(QStringList, withoutConfig);
        QFETCH(QByteArray, contestFile);
        QFETCH(QStringList, problems);

        for (const QString &name : withConfig)
            QVERIFY(writeTestFile(m_contest.problemConfigPath(name), Prb));
        for (const QString &name : withoutConfig)
            QVERIFY(writeTestFile(m_contest.problemDir(name) + u"/data.in"_s, "1"));
        if (!contestFile.isEmpty())
            QVERIFY(writeTestFile(m_contest.contestFilePath(), contestFile));
        m_contest.problemNames = {u"stale"_s};

        m_contest.loadProblems();
        QCOMPARE(m_contest.problemNames, problems);
        QStringList keys = problems;
        keys.sort();
        QCOMPARE(m_contest.problemConfigs.keys(), keys);
        for (const QString &name : problems) {
            const XmlFile &config = m_contest.problemConfigs[name];
            QCOMPARE(config.path, m_contest.problemConfigPath(name));
            QCOMPARE(attributeText(config.document.documentElement(), u"type"_s), u"TRA_0_4"_s);
        }
    }

    void configurationTurnsDirectoryIntoProblem()
    {
        QVERIFY(writeTestFile(m_contest.problemDir(u"a"_s) + u"/1.in"_s, "1"));
        m_contest.loadProblems();
        QVERIFY(m_contest.problemNames.isEmpty());
        QVERIFY(writeTestFile(m_contest.problemConfigPath(u"a"_s), "<broken"));
        m_contest.loadProblems();
        QCOMPARE(m_contest.problemNames, QStringList{u"a"_s});
        // Opened but malformed: a problem whose kind nobody knows.
        QVERIFY(m_contest.problemConfigs[u"a"_s].document.documentElement().attribute(u"type"_s).isEmpty());
    }

    // A problem that is not judged, for a reason the organiser is told, as
    // any .prb that cannot be read to its end.
    void configurationThatCannotBeRead_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<int>("line");
        QTest::addColumn<QString>("text");

        QTest::newRow("a directory") << u"directory"_s << 0 << u"data/a/.prb: 不是普通文件（目录）"_s;
        QTest::newRow("a FIFO") << u"fifo"_s << 0 << u"data/a/.prb: 不是普通文件（命名管道）"_s;
        QTest::newRow("empty") << u"empty"_s << 0 << u"data/a/.prb: 文件为空"_s;
        QTest::newRow("truncated") << u"truncated"_s << 3 << u"data/a/.prb 第 3 行: XML 格式错误: "_s;
        QTest::newRow("impossible limit") << u"limit"_s << 2 << u"data/a/.prb 第 2 行: 第 1 个测试点的内存限制 0 不是正数"_s;
    }

    void configurationThatCannotBeRead()
    {
        QFETCH(QString, kind);
        QFETCH(int, line);
        QFETCH(QString, text);

        const QString path = m_contest.problemConfigPath(u"a"_s);
        QVERIFY(writeTestFile(m_contest.problemConfigPath(u"b"_s), Prb));
        QVERIFY(QDir().mkpath(m_contest.problemDir(u"a"_s)));
        if (kind == u"directory"_s)
            QVERIFY(QDir().mkpath(path));
        else if (kind == u"fifo"_s)
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0644), 0);
        else if (kind == u"empty"_s)
            QVERIFY(writeTestFile(path, QByteArray()));
        else if (kind == u"truncated"_s)
            QVERIFY(writeTestFile(path, "<problem type=\"TRA_0_4\">\n<task>\n<subtask score=\"5\""));
        else
            QVERIFY(writeTestFile(path, "<problem type=\"TRA_0_4\"><task><subtask>\n"
                                        "<point in=\"1\" out=\"1\" time=\"1\" mem=\"0\"/></subtask></task></problem>"));
        m_contest.loadProblems();
        QCOMPARE(m_contest.problemNames, (QStringList{u"a"_s, u"b"_s}));
        QCOMPARE(m_contest.problemFaults.keys(), QStringList{u"a"_s});
        QCOMPARE(m_contest.problemFaults.value(u"a"_s).line, line);
        QVERIFY2(m_contest.problemFaultText(u"a"_s).startsWith(text), qPrintable(m_contest.problemFaultText(u"a"_s)));
        QVERIFY(m_contest.problemFaultText(u"b"_s).isEmpty());
    }

    void loadPlayers_data()
    {
        QTest::addColumn<QStringList>("directories");
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QStringList>("players");

        QTest::newRow("case ignored") << QStringList{u"b"_s, u"A"_s, u"c"_s} << QStringList{}
                                      << QStringList{u"A"_s, u"b"_s, u"c"_s};
        QTest::newRow("files and hidden directories are no players")
            << QStringList{u"p"_s, u".git"_s} << QStringList{u"notes.txt"_s} << QStringList{u"p"_s};
        QTest::newRow("spaces and Chinese kept")
            << QStringList{u"张三"_s, u"a b"_s, u"std"_s} << QStringList{}
            << QStringList{u"a b"_s, u"std"_s, u"张三"_s};
        QTest::newRow("names equal but for case") << QStringList{u"b"_s, u"a"_s, u"B"_s} << QStringList{}
                                                  << QStringList{u"a"_s, u"B"_s, u"b"_s};
        QTest::newRow("no src directory") << QStringList{} << QStringList{} << QStringList{};
    }

    void loadPlayers()
    {
        QFETCH(QStringList, directories);
        QFETCH(QStringList, files);
        QFETCH(QStringList, players);

        for (const QString &name : directories)
            QVERIFY(QDir().mkpath(m_contest.playerDir(name)));
        for (const QString &name : files)
            QVERIFY(writeTestFile(m_contest.playerDir(name), "x"));
        m_contest.playerNames = {u"stale"_s};
        m_contest.loadPlayers();
        QCOMPARE(m_contest.playerNames, players);
    }

    void unusableFolderNames_data()
    {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<QString>("printable");
        QTest::addColumn<QString>("reason");  // empty: a usable name

        const QString notUtf8 = u"名称不是有效的 UTF-8 编码"_s;
        const QString control = u"名称含有控制字符"_s;
        QTest::newRow("GB18030") << gb18030(u"张三"_s) << u"\\xd5\\xc5\\xc8\\xfd"_s << notUtf8;
        QTest::newRow("stray byte") << QByteArray("张\xff三") << u"张\\xff三"_s << notUtf8;
        QTest::newRow("overlong") << QByteArray("\xc0\xaf") << u"\\xc0\\xaf"_s << notUtf8;
        QTest::newRow("surrogate") << QByteArray("\xed\xa0\x80") << u"\\xed\\xa0\\x80"_s << notUtf8;
        QTest::newRow("cut short") << QByteArray("a\xe5\xbc") << u"a\\xe5\\xbc"_s << notUtf8;
        QTest::newRow("carriage return") << QByteArray("a\rb") << u"a\\rb"_s << u"名称含有换行符"_s;
        QTest::newRow("escape") << QByteArray("a\x1b[0m") << u"a\\x1b[0m"_s << control;
        QTest::newRow("C1 control") << QByteArray("a\xc2\x85") << u"a\\u0085"_s << control;
        QTest::newRow("non-character") << QByteArray("a\xef\xbf\xbf") << u"a\\uffff"_s << control;
        QTest::newRow("outside the BMP") << QByteArray("\xf0\x9f\x98\x80") << u"\U0001F600"_s
                                         << QString();
    }

    void unusableFolderNames()
    {
        QFETCH(QByteArray, name);
        QFETCH(QString, printable);
        QFETCH(QString, reason);
        QCOMPARE(unusableNameReason(name), reason);
        QCOMPARE(printableName(name), printable);
    }

    void loadRealNames_data()
    {
        QTest::addColumn<QByteArray>("list");  // empty: no file
        QTest::addColumn<bool>("hasList");
        QTest::addColumn<NameMap>("names");

        QTest::newRow("no list") << QByteArray() << false << NameMap{};
        QTest::newRow("id and name") << QByteArray("p1,Alice\np2,Bob\n") << true
                                     << NameMap{{u"p1"_s, u"Alice"_s}, {u"p2"_s, u"Bob"_s}};
        QTest::newRow("GB18030 names") << gb18030(u"p1,张三\r\np2,李四…\r\n"_s) << true
                                       << NameMap{{u"p1"_s, u"张三"_s}, {u"p2"_s, u"李四…"_s}};
        QTest::newRow("no name, no id, no comma skipped") << QByteArray("p1,\n,Bob\np3 Carol\np4,Dan") << true
                                                          << NameMap{{u"p4"_s, u"Dan"_s}};
        QTest::newRow("two commas") << QByteArray("p1,Smith, John\n") << true
                                    << NameMap{{u"p1"_s, u"Smith, John"_s}};
        QTest::newRow("outer spaces dropped, inner kept") << QByteArray("  p1 , Ann  \n\tp2,Bo\t\n") << true
                                                          << NameMap{{u"p1 "_s, u" Ann"_s}, {u"p2"_s, u"Bo"_s}};
        QTest::newRow("later line wins") << QByteArray("p1,Old\np1,New\n") << true
                                         << NameMap{{u"p1"_s, u"New"_s}};
        QTest::newRow("empty file") << QByteArray("\n") << true << NameMap{};
        QTest::newRow("invalid bytes do not stop the rest") << QByteArray("p1,\xff\xff\xff\np2,Bo\n") << true
                                                            << NameMap{{u"p1"_s, u"\ufffd"_s}, {u"p2"_s, u"Bo"_s}};
    }

    void loadRealNames()
    {
        QFETCH(QByteArray, list);
        QFETCH(bool, hasList);
        QFETCH(NameMap, names);

        if (!list.isEmpty())
            QVERIFY(writeTestFile(m_contest.playerListPath(), list));
        m_contest.realNames.insert(u"stale"_s, u"x"_s);
        m_contest.hasPlayerList = !hasList;
        m_contest.loadRealNames();
        QCOMPARE(m_contest.hasPlayerList, hasList);
        if (QTest::currentDataTag() == QByteArrayView("invalid bytes do not stop the rest")) {
            // How many replacement characters stand for the bad bytes is the decoder's business.
            QCOMPARE(m_contest.realNames.value(u"p2"_s), u"Bo"_s);
            QVERIFY(m_contest.realNames.value(u"p1"_s).startsWith(u'\ufffd'));
            return;
        }
        NameMap actual;
        for (auto it = m_contest.realNames.cbegin(); it != m_contest.realNames.cend(); ++it)
            actual.insert(it.key(), it.value());
        QCOMPARE(actual, names);
    }

    void displayName_data()
    {
        QTest::addColumn<QString>("player");
        QTest::addColumn<QString>("shown");

        QTest::newRow("listed") << u"p1"_s << u"p1 [张三]"_s;
        QTest::newRow("not listed") << u"p2"_s << u"p2"_s;
        QTest::newRow("listed with an empty name") << u"p3"_s << u"p3"_s;
    }

    void displayName()
    {
        QFETCH(QString, player);
        QFETCH(QString, shown);
        m_contest.realNames = {{u"p1"_s, u"张三"_s}, {u"p3"_s, QString()}};
        QCOMPARE(m_contest.displayName(player), shown);
    }

    void problemTotals_data()
    {
        QTest::addColumn<QString>("xml");
        QTest::addColumn<QString>("start");  // "document", or the tag of the element to sum over
        QTest::addColumn<int>("score");
        QTest::addColumn<double>("time");

        const QString config =
            u"<problem score='1'><task><subtask score='30'><point time='1.5'/><point time='0.5'/></subtask>"
            "<subtask score='70'><point time='2'/></subtask></task><extra score='5' time='0.25'/></problem>"_s;
        QTest::newRow("whole document, root included") << config << u"document"_s << 106 << 4.25;
        QTest::newRow("over one element") << config << u"subtask"_s << 30 << 2.0;
        QTest::newRow("over the root element") << config << u"problem"_s << 106 << 4.25;
        QTest::newRow("no attributes") << u"<problem><task/></problem>"_s << u"document"_s << 0 << 0.0;
        QTest::newRow("unreadable values count 0")
            << u"<p score='x' time='y'><s score='2' time='1'/></p>"_s << u"document"_s << 2 << 1.0;
        QTest::newRow("empty document") << QString() << u"document"_s << 0 << 0.0;
        QTest::newRow("sum beyond int is capped")
            << u"<p score='2147483647'><s score='2147483647'/></p>"_s << u"document"_s << 2147483647 << 0.0;
    }

    void problemTotals()
    {
        QFETCH(QString, xml);
        QFETCH(QString, start);
        QFETCH(int, score);
        QFETCH(double, time);

        const QDomDocument document = parse(xml);
        const QDomNode node = start == u"document" ? QDomNode(document)
                                                   : document.elementsByTagName(start).item(0);
        const ProblemTotals totals = ::problemTotals(node);
        QCOMPARE(totals.fullScore, score);
        QCOMPARE(totals.totalTime, time);
    }

    void readScoreInfo_data()
    {
        QTest::addColumn<QString>("xml");
        QTest::addColumn<ScoreInfo>("info");

        QTest::newRow("summary") << u"<task score='85' time='1.25' state='N'><subtask score='85'/></task>"_s
                                 << ScoreInfo{85, 1.25, 'N'};
        QTest::newRow("not judged state") << u"<task score='0' time='0' state=' '/>"_s << ScoreInfo{0, 0.0, ' '};
        QTest::newRow("no task") << u"<result score='9' time='1' state='N'/>"_s << ScoreInfo{0, 0.0, '\0'};
        QTest::newRow("no state") << u"<task score='3' time='0.5'/>"_s << ScoreInfo{3, 0.5, '\0'};
        QTest::newRow("first task anywhere") << u"<r><task score='4' state='C'/><task score='5'/></r>"_s
                                             << ScoreInfo{4, 0.0, 'C'};
        QTest::newRow("long state: first byte") << u"<task state='NO'/>"_s << ScoreInfo{0, 0.0, 'N'};
        QTest::newRow("unreadable numbers") << u"<task score='a' time='b' state='E'/>"_s
                                            << ScoreInfo{0, 0.0, 'E'};
        QTest::newRow("empty document") << QString() << ScoreInfo{0, 0.0, '\0'};
    }

    void readScoreInfo()
    {
        QFETCH(QString, xml);
        QFETCH(ScoreInfo, info);
        const ScoreInfo read = ::readScoreInfo(parse(xml));
        QCOMPARE(read.score, info.score);
        QCOMPARE(read.time, info.time);
        QCOMPARE(read.state, info.state);
    }

    void cellSummary_data()
    {
        QTest::addColumn<bool>("cached");
        QTest::addColumn<QByteArray>("file");  // empty: none
        QTest::addColumn<ScoreInfo>("info");

        const QByteArray file = "<?xml version=\"1.0\"?><task score=\"40\" time=\"2\" state=\"N\"/>";
        QTest::newRow("list wins over a differing file") << true << file << ScoreInfo{100, 0.5, 'N'};
        QTest::newRow("list without a file") << true << QByteArray() << ScoreInfo{100, 0.5, 'N'};
        QTest::newRow("file when the list lacks the cell") << false << file << ScoreInfo{40, 2.0, 'N'};
        QTest::newRow("malformed file") << false << QByteArray("<task score=") << ScoreInfo{0, 0.0, '\0'};
        QTest::newRow("neither") << false << QByteArray() << ScoreInfo{};
    }

    void cellSummary()
    {
        QFETCH(bool, cached);
        QFETCH(QByteArray, file);
        QFETCH(ScoreInfo, info);

        const QString player = u"p 1"_s, problem = u"sum"_s;
        if (cached)
            m_contest.cachedResults.insert(Contest::cellKey(player, problem), ScoreInfo{100, 0.5, 'N'});
        m_contest.cachedResults.insert(Contest::cellKey(player, u"other"_s), ScoreInfo{1, 1.0, 'R'});
        if (!file.isEmpty())
            QVERIFY(writeTestFile(m_contest.resultFilePath(player, problem), file));
        QCOMPARE(m_contest.cellSummary(player, problem), info);
    }
};

QTEST_GUILESS_MAIN(TestContest)
#include "tst_contest.moc"
