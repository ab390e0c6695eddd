#include "contest.h"
#include "contestfiles.h"
#include "testfiles.h"

#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

using CellMap = QMap<QString, ScoreInfo>;

class TestContestFiles : public QObject, public ContestFixture
{
    Q_OBJECT

    CellMap cached() const
    {
        CellMap map;
        for (auto it = m_contest.cachedResults.cbegin(); it != m_contest.cachedResults.cend(); ++it)
            map.insert(it.key(), it.value());
        return map;
    }

    // Tags, sorted attributes, texts: what two equivalent documents share.
    static QString canonical(const QDomNode &node)
    {
        if (node.isText())
            return node.nodeValue();
        const QDomElement e = node.toElement();
        QStringList attributes;
        const QDomNamedNodeMap map = e.attributes();
        for (int i = 0; i < map.count(); ++i)
            attributes.append(map.item(i).nodeName() + u'=' + map.item(i).nodeValue());
        attributes.sort();
        QString text = u'<' + e.tagName() + u' ' + attributes.join(u' ') + u'>';
        for (QDomNode child = node.firstChild(); !child.isNull(); child = child.nextSibling())
            text += canonical(child);
        return text + u"</>"_s;
    }

private slots:
    void init() { QVERIFY(renewContest()); }

    void newContestFile()
    {
        QVERIFY(writeContestFile(m_contest, {u"a"_s, u"b"_s}));
        QCOMPARE(readTestFile(m_contest.contestFilePath()),
                 QByteArray("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                            "<contest version=\"0.4\">\n"
                            "    <order>\n"
                            "        <problem>a</problem>\n"
                            "        <problem>b</problem>\n"
                            "    </order>\n"
                            "</contest>\n"));
    }

    void existingContestFile_data()
    {
        QTest::addColumn<QString>("existing");
        QTest::addColumn<QString>("expected");  // the document after writing "x", "y"; empty: file unchanged

        QTest::newRow("other elements kept, first order replaced")
            << u"<contest version='0.3' by='me'><title>T</title><order><problem>old</problem>note</order>"
               "<order><problem>second</problem></order><other/></contest>"_s
            << u"<contest version='0.3' by='me'><title>T</title><order><problem>x</problem><problem>y</problem>"
               "</order><order><problem>second</problem></order><other/></contest>"_s;
        QTest::newRow("order appended to the first contest")
            << u"<contest><title/></contest>"_s
            << u"<contest><title/><order><problem>x</problem><problem>y</problem></order></contest>"_s;
        QTest::newRow("contest below another root")
            << u"<r><contest/><contest a='2'/></r>"_s
            << u"<r><contest><order><problem>x</problem><problem>y</problem></order></contest><contest a='2'/></r>"_s;
        QTest::newRow("order anywhere")
            << u"<r><deep><order/></deep></r>"_s
            << u"<r><deep><order><problem>x</problem><problem>y</problem></order></deep></r>"_s;
        QTest::newRow("neither order nor contest") << u"<project><keep/></project>"_s << QString();
        QTest::newRow("unreadable content") << u"<<< not xml"_s << QString();
    }

    void existingContestFile()
    {
        QFETCH(QString, existing);
        QFETCH(QString, expected);

        QVERIFY(writeTestFile(m_contest.contestFilePath(), existing.toUtf8()));
        const bool written = writeContestFile(m_contest, {u"x"_s, u"y"_s});
        QCOMPARE(written, !expected.isEmpty());
        if (!written) {
            QCOMPARE(readTestFile(m_contest.contestFilePath()), existing.toUtf8());
            return;
        }
        XmlFile file;
        QVERIFY(file.load(m_contest.contestFilePath()));
        QDomDocument want;
        want.setContent(expected);
        QCOMPARE(canonical(file.document.documentElement()), canonical(want.documentElement()));
    }

    void contestFileOrdersProblems()
    {
        for (const QString &name : {u"a"_s, u"b"_s, u"c"_s})
            QVERIFY(writeTestFile(m_contest.problemConfigPath(name), "<problem/>"));
        QVERIFY(writeContestFile(m_contest, {u"c"_s, u"a"_s}));
        m_contest.loadProblems();
        QCOMPARE(m_contest.problemNames, (QStringList{u"c"_s, u"a"_s, u"b"_s}));
        QVERIFY(writeContestFile(m_contest, {u"b"_s, u"c"_s, u"a"_s}));
        m_contest.loadProblems();
        QCOMPARE(m_contest.problemNames, (QStringList{u"b"_s, u"c"_s, u"a"_s}));
    }

    void resultListRoundTrip_data()
    {
        QTest::addColumn<QString>("player");
        QTest::addColumn<QString>("problem");
        QTest::addColumn<ScoreInfo>("written");
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<ScoreInfo>("read");

        QTest::newRow("judged") << u"p1"_s << u"sum"_s << ScoreInfo{100, 1.5, 'N'}
                                << QByteArray("p1/sum/100/1.5/N/\n") << ScoreInfo{100, 1.5, 'N'};
        QTest::newRow("player id with spaces") << u"li  si "_s << u"sum"_s << ScoreInfo{7, 0.25, 'N'}
                                               << QByteArray("li  si /sum/7/0.25/N/\n")
                                               << ScoreInfo{7, 0.25, 'N'};
        QTest::newRow("not judged") << u"p"_s << u"sum"_s << ScoreInfo{} << QByteArray("p/sum/0/0/ /\n")
                                    << ScoreInfo{};
        QTest::newRow("no state: empty field") << u"p"_s << u"sum"_s << ScoreInfo{0, 0.0, '\0'}
                                               << QByteArray("p/sum/0/0//\n") << ScoreInfo{0, 0.0, '\0'};
        QTest::newRow("time to six digits") << u"p"_s << u"sum"_s << ScoreInfo{3, 123.456789, 'R'}
                                            << QByteArray("p/sum/3/123.457/R/\n") << ScoreInfo{3, 123.457, 'R'};
        QTest::newRow("tiny time") << u"p"_s << u"sum"_s << ScoreInfo{-2, 0.00001, 'C'}
                                   << QByteArray("p/sum/-2/1e-05/C/\n") << ScoreInfo{-2, 0.00001, 'C'};
        QTest::newRow("Chinese names") << u"张三"_s << u"求和"_s << ScoreInfo{50, 2.0, 'E'}
                                       << u"张三/求和/50/2/E/\n"_s.toUtf8() << ScoreInfo{50, 2.0, 'E'};
    }

    void resultListRoundTrip()
    {
        QFETCH(QString, player);
        QFETCH(QString, problem);
        QFETCH(ScoreInfo, written);
        QFETCH(QByteArray, line);
        QFETCH(ScoreInfo, read);

        const CellResult other{u"zz"_s, u"last"_s, ScoreInfo{1, 1.0, 'O'}};
        QVERIFY(writeResultList(m_contest, {{player, problem, written}, other}));
        QCOMPARE(readTestFile(m_contest.resultListPath()), line + "zz/last/1/1/O/\n");

        m_contest.cachedResults.insert(u"stale/x"_s, ScoreInfo{});
        m_contest.loadResultList();
        const CellMap expected{{Contest::cellKey(player, problem), read},
                               {Contest::cellKey(other.player, other.problem), other.info}};
        QCOMPARE(cached(), expected);
    }

    void resultListNotOverwritten()
    {
        QVERIFY(writeTestFile(m_contest.resultListPath(), "kept/a/1/1/N/\n"));
        QVERIFY(writeResultList(m_contest, {{u"p"_s, u"a"_s, ScoreInfo{2, 2.0, 'N'}}}));
        QCOMPARE(readTestFile(m_contest.resultListPath()), QByteArray("kept/a/1/1/N/\n"));
    }

    void resultListFailures_data()
    {
        QTest::addColumn<QString>("blocker");  // a regular file put where a directory is needed

        QTest::newRow("result directory is a file") << u"result"_s;
        QTest::newRow("contest directory is a file") << QString();
    }

    void resultListFailures()
    {
        QFETCH(QString, blocker);
        if (blocker.isEmpty())
            m_contest.rootDir = m_dir->filePath(u"plain"_s);
        QVERIFY(writeTestFile(blocker.isEmpty() ? m_contest.rootDir : m_dir->filePath(blocker), "file"));
        QVERIFY(!writeResultList(m_contest, {{u"p"_s, u"a"_s, ScoreInfo{}}}));
        m_contest.loadResultList();
        QVERIFY(m_contest.cachedResults.isEmpty());
    }

    void resultListCreatesResultDirectory()
    {
        QVERIFY(writeResultList(m_contest, {{u"p"_s, u"a"_s, ScoreInfo{5, 1.0, 'N'}}}));
        m_contest.loadResultList();
        QCOMPARE(m_contest.cellSummary(u"p"_s, u"a"_s), (ScoreInfo{5, 1.0, 'N'}));
    }

    void loadResultList_data()
    {
        QTest::addColumn<QByteArray>("content");  // empty: no file
        QTest::addColumn<CellMap>("cells");

        QTest::newRow("no list") << QByteArray() << CellMap{};
        QTest::newRow("fewer than five fields skipped")
            << QByteArray("a/b/1/2\na/c/1/2/N/\n") << CellMap{{u"a/c"_s, {1, 2.0, 'N'}}};
        QTest::newRow("five fields without the closing slash")
            << QByteArray("a/b/3/0.5/T") << CellMap{{u"a/b"_s, {3, 0.5, 'T'}}};
        QTest::newRow("empty state") << QByteArray("a/b/1/1//\n") << CellMap{{u"a/b"_s, {1, 1.0, '\0'}}};
        QTest::newRow("blank state kept by the closing slash")
            << QByteArray("a/b/0/0/ /\n") << CellMap{{u"a/b"_s, {0, 0.0, ' '}}};
        QTest::newRow("long state: first byte") << QByteArray("a/b/0/0/NO/\n") << CellMap{{u"a/b"_s, {0, 0.0, 'N'}}};
        QTest::newRow("surrounding white space trimmed, CRLF")
            << QByteArray("\t a b/c/1/1/N/ \r\n") << CellMap{{u"a b/c"_s, {1, 1.0, 'N'}}};
        QTest::newRow("later line wins")
            << QByteArray("a/b/1/1/N/\na/b/2/2/R/\n") << CellMap{{u"a/b"_s, {2, 2.0, 'R'}}};
        QTest::newRow("unreadable numbers")
            << QByteArray("a/b/x/y/N/\n") << CellMap{{u"a/b"_s, {0, 0.0, 'N'}}};
        QTest::newRow("extra fields ignored")
            << QByteArray("a/b/1/1/N/extra/more\n") << CellMap{{u"a/b"_s, {1, 1.0, 'N'}}};
        QTest::newRow("empty lines and no final break")
            << QByteArray("\n\na/b/1/1/N/\n\nc/d/2/2/N/") << CellMap{{u"a/b"_s, {1, 1.0, 'N'}}, {u"c/d"_s, {2, 2.0, 'N'}}};
        QTest::newRow("empty ids") << QByteArray("//1/1/N/\n") << CellMap{{u"/"_s, {1, 1.0, 'N'}}};
        QTest::newRow("binary garbage") << QByteArray("\0\xff/\x01\n///\n", 10) << CellMap{};
    }

    void loadResultList()
    {
        QFETCH(QByteArray, content);
        QFETCH(CellMap, cells);

        if (!content.isEmpty())
            QVERIFY(writeTestFile(m_contest.resultListPath(), content));
        m_contest.cachedResults.insert(u"stale/x"_s, ScoreInfo{1, 1.0, 'N'});
        m_contest.loadResultList();
        QCOMPARE(cached(), cells);
    }
};

QTEST_GUILESS_MAIN(TestContestFiles)
#include "tst_contestfiles.moc"
