#include "testfiles.h"
#include "xmlfile.h"

#include <QStringDecoder>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>


using namespace Qt::StringLiterals;

class TestXmlFile : public QObject
{
    Q_OBJECT

private:
    static QDomDocument parse(const QString &xml)
    {
        QDomDocument document;
        document.setContent(xml);
        return document;
    }

    // The element a query starts from: "document", "root", or the first element with that tag.
    static ElementQuery queryFrom(const QDomDocument &document, const QString &start, const QString &tag)
    {
        if (start == u"document")
            return queryUnder(document, tag);
        if (start == u"root")
            return queryWithin(document.documentElement(), tag);
        if (start.startsWith(u"under:"))
            return queryUnder(document.elementsByTagName(start.mid(6)).item(0), tag);
        return queryWithin(document.elementsByTagName(start).item(0).toElement(), tag);
    }

private slots:
    void query_data()
    {
        QTest::addColumn<QString>("xml");
        QTest::addColumn<QString>("start");
        QTest::addColumn<QString>("tag");
        QTest::addColumn<QStringList>("texts");

        QTest::newRow("root itself counts") << u"<p>x<p>y</p></p>"_s << u"document"_s << u"p"_s
                                            << QStringList{u"xy"_s, u"y"_s};
        QTest::newRow("depth first, parent before children")
            << u"<r><p>1<p>2</p><q><p>3</p></q></p><p>4</p></r>"_s << u"document"_s << u"p"_s
            << QStringList{u"123"_s, u"2"_s, u"3"_s, u"4"_s};
        QTest::newRow("within stops at the element's own subtree")
            << u"<r><s><p>1</p></s><p>2</p><s><p>3</p></s></r>"_s << u"s"_s << u"p"_s
            << QStringList{u"1"_s};
        QTest::newRow("under starts at the first child element")
            << u"<r><s><p>1</p><p>2</p></s></r>"_s << u"under:s"_s << u"p"_s << QStringList{u"1"_s};
        QTest::newRow("under an element skips its text")
            << u"<r><s>text<!--c--><p>1</p></s></r>"_s << u"under:s"_s << u"p"_s << QStringList{u"1"_s};
        QTest::newRow("tags are case-sensitive") << u"<r><P>1</P><p>2</p></r>"_s << u"root"_s << u"p"_s
                                                 << QStringList{u"2"_s};
        QTest::newRow("no such tag") << u"<r><a/></r>"_s << u"document"_s << u"p"_s << QStringList{};
        QTest::newRow("empty document") << QString() << u"document"_s << u"p"_s << QStringList{};
        QTest::newRow("deep nesting") << QString(u"<p>"_s.repeated(3000) + u"x"_s + u"</p>"_s.repeated(3000))
                                      << u"document"_s << u"none"_s << QStringList{};
    }

    void query()
    {
        QFETCH(QString, xml);
        QFETCH(QString, start);
        QFETCH(QString, tag);
        QFETCH(QStringList, texts);

        const QDomDocument document = parse(xml);
        const ElementQuery query = queryFrom(document, start, tag);
        QCOMPARE(query.count(), texts.size());
        QCOMPARE(query.texts(), texts);
        QCOMPARE(query.elements().size(), texts.size());
        for (int i = 0; i < texts.size(); ++i) {
            QCOMPARE(query.item(i).tagName(), tag);
            QCOMPARE(query.item(i).text(), texts.at(i));
            QCOMPARE(query.elements().at(i), query.item(i));
        }
        QVERIFY(query.item(int(texts.size())).isNull());
        QVERIFY(query.item(-1).isNull());
    }

    void defaultQueryIsEmpty()
    {
        const ElementQuery query;
        QCOMPARE(query.count(), 0);
        QVERIFY(query.item(0).isNull());
        QVERIFY(query.texts().isEmpty());
        QVERIFY(query.attributeValues(u"x"_s).isEmpty());
    }

    void attributeValues_data()
    {
        QTest::addColumn<QString>("xml");
        QTest::addColumn<QString>("start");
        QTest::addColumn<QStringList>("values");

        QTest::newRow("any tag, document order, root included")
            << u"<r score='1'><a score='2'><b score='3'/></a><c/><a score='4'/></r>"_s << u"document"_s
            << QStringList{u"1"_s, u"2"_s, u"3"_s, u"4"_s};
        QTest::newRow("empty values kept") << u"<r><a score=''/></r>"_s << u"document"_s
                                           << QStringList{QString()};
        QTest::newRow("only the subtree") << u"<r><a score='1'><b score='2'/></a><a score='3'/></r>"_s
                                          << u"a"_s << QStringList{u"1"_s, u"2"_s};
        QTest::newRow("none") << u"<r><a other='1'/></r>"_s << u"document"_s << QStringList{};
    }

    void attributeValues()
    {
        QFETCH(QString, xml);
        QFETCH(QString, start);
        QFETCH(QStringList, values);
        const QDomDocument document = parse(xml);
        QCOMPARE(queryFrom(document, start, u"any"_s).attributeValues(u"score"_s), values);
    }

    void attributeReaders_data()
    {
        QTest::addColumn<QString>("element");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("integer");
        QTest::addColumn<double>("real");

        QTest::newRow("absent") << u"<e/>"_s << QString() << 0 << 0.0;
        QTest::newRow("empty") << u"<e v=''/>"_s << QString() << 0 << 0.0;
        QTest::newRow("integer") << u"<e v='42'/>"_s << u"42"_s << 42 << 42.0;
        QTest::newRow("negative") << u"<e v='-7'/>"_s << u"-7"_s << -7 << -7.0;
        QTest::newRow("real is no integer") << u"<e v='1.5'/>"_s << u"1.5"_s << 0 << 1.5;
        QTest::newRow("exponent") << u"<e v='2e3'/>"_s << u"2e3"_s << 0 << 2000.0;
        QTest::newRow("hexadecimal is no integer") << u"<e v='0x10'/>"_s << u"0x10"_s << 0 << 0.0;
        QTest::newRow("words") << u"<e v='abc'/>"_s << u"abc"_s << 0 << 0.0;
        QTest::newRow("beyond int") << u"<e v='99999999999'/>"_s << u"99999999999"_s << 0 << 99999999999.0;
        QTest::newRow("not a number") << u"<e v='nan'/>"_s << u"nan"_s << 0 << 0.0;
        QTest::newRow("infinity") << u"<e v='inf'/>"_s << u"inf"_s << 0 << 0.0;
        QTest::newRow("null element") << QString() << QString() << 0 << 0.0;
    }

    void attributeReaders()
    {
        QFETCH(QString, element);
        QFETCH(QString, text);
        QFETCH(int, integer);
        QFETCH(double, real);
        const QDomElement e = parse(element).documentElement();
        const QString name = u"v"_s;
        QCOMPARE(attributeText(e, name), text);
        QCOMPARE(attributeInt(e, name), integer);
        QCOMPARE(attributeReal(e, name), real);
    }

    void realText_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("text");

        QTest::newRow("zero") << 0.0 << u"0"_s;
        QTest::newRow("whole") << 3.0 << u"3"_s;
        QTest::newRow("no trailing zeros") << 0.5 << u"0.5"_s;
        QTest::newRow("six significant digits") << 3.14159265 << u"3.14159"_s;
        QTest::newRow("rounded") << 123.456789 << u"123.457"_s;
        QTest::newRow("large in exponent form") << 1234567.0 << u"1.23457e+06"_s;
        QTest::newRow("small in fixed form") << 0.0001 << u"0.0001"_s;
        QTest::newRow("smaller in exponent form") << 0.00001 << u"1e-05"_s;
    }

    void realText()
    {
        QFETCH(double, value);
        QFETCH(QString, text);
        QCOMPARE(::realText(value), text);
    }

    void load_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("content");  // empty: no file at all
        QTest::addColumn<bool>("opened");
        QTest::addColumn<QString>("rootTag");
        QTest::addColumn<int>("outcome");
        QTest::addColumn<int>("line");  // where the parser stopped; 0: it did not

        const auto outcome = [](XmlFile::Outcome o) { return int(o); };
        QTest::newRow("well-formed") << u"a.xml"_s << QByteArray("<?xml version=\"1.0\"?><r><a/></r>") << true
                                     << u"r"_s << outcome(XmlFile::Outcome::Whole) << 0;
        QTest::newRow("malformed keeps what was read")
            << u"b.xml"_s << QByteArray("<r>\n<a x='1'/>\n<b>") << true << u"r"_s
            << outcome(XmlFile::Outcome::Malformed) << 3;
        QTest::newRow("not XML at all") << u"c.xml"_s << QByteArray("\x01\x02 garbage") << true << QString()
                                        << outcome(XmlFile::Outcome::Malformed) << 1;
        QTest::newRow("empty file") << u"d.xml"_s << QByteArray("\n") << true << QString()
                                    << outcome(XmlFile::Outcome::Empty) << 0;
        QTest::newRow("missing file") << u"missing.xml"_s << QByteArray() << false << u"old"_s
                                      << outcome(XmlFile::Outcome::Missing) << 0;
        QTest::newRow("a directory") << u"dir"_s << QByteArray() << false << u"old"_s
                                     << outcome(XmlFile::Outcome::Unreadable) << 0;
        QTest::newRow("a FIFO") << u"fifo"_s << QByteArray() << false << u"old"_s
                                << outcome(XmlFile::Outcome::Unreadable) << 0;
    }

    void load()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, content);
        QFETCH(bool, opened);
        QFETCH(QString, rootTag);
        QFETCH(int, outcome);
        QFETCH(int, line);

        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QVERIFY(QDir(dir.path()).mkdir(u"dir"_s));
        QCOMPARE(::mkfifo(QFile::encodeName(dir.filePath(u"fifo"_s)).constData(), 0644), 0);
        const QString path = dir.filePath(name);
        if (!content.isEmpty())
            QVERIFY(writeTestFile(path, content));

        XmlFile file;
        file.document = parse(u"<old/>"_s);
        QCOMPARE(file.load(path), opened);
        QCOMPARE(file.path, path);
        QCOMPARE(file.document.documentElement().tagName(), rootTag);
        QCOMPARE(int(file.outcome), outcome);
        QCOMPARE(file.errorLine, line);
        QCOMPARE(file.error.isEmpty(), outcome == int(XmlFile::Outcome::Whole));
    }

    void copiesShareTheDocument()
    {
        XmlFile a;
        a.document = parse(u"<r/>"_s);
        const XmlFile b = a;
        a.document.documentElement().setAttribute(u"x"_s, u"1"_s);
        QCOMPARE(attributeText(b.document.documentElement(), u"x"_s), u"1"_s);
    }

    void saveRoundTrip_data()
    {
        QTest::addColumn<QString>("declaration");  // data of the xml declaration; empty: none
        QTest::addColumn<QString>("encoding");     // what the bytes must decode from
        QTest::addColumn<bool>("readable");

        QTest::newRow("UTF-8 declared") << u"version=\"1.0\" encoding=\"UTF-8\""_s << u"UTF-8"_s << true;
        QTest::newRow("no declaration") << QString() << u"UTF-8"_s << true;
        QTest::newRow("declaration without encoding") << u"version=\"1.0\""_s << u"UTF-8"_s << true;
        QTest::newRow("GB18030 declared") << u"version=\"1.0\" encoding=\"GB18030\""_s << u"GB18030"_s << true;
        // Nothing can read it back, but no character is lost either.
        QTest::newRow("unknown encoding written as UTF-8")
            << u"version=\"1.0\" encoding=\"no-such\""_s << u"UTF-8"_s << false;
    }

    void saveRoundTrip()
    {
        QFETCH(QString, declaration);
        QFETCH(QString, encoding);
        QFETCH(bool, readable);

        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        XmlFile file(dir.filePath(u"doc.xml"_s));
        if (!declaration.isEmpty())
            file.document.appendChild(file.document.createProcessingInstruction(u"xml"_s, declaration));
        QDomElement root = file.document.createElement(u"r"_s);
        root.setAttribute(u"name"_s, u"李四…"_s);
        root.appendChild(file.document.createElement(u"child"_s));
        file.document.appendChild(root);
        QVERIFY(file.save(4));

        const QByteArray bytes = readTestFile(file.path);
        QStringDecoder decoder(encoding.toLatin1().constData());
        const QString text = decoder(bytes);
        QVERIFY(!decoder.hasError());
        QVERIFY2(text.contains(u"李四…"_s), qPrintable(text));
        QVERIFY2(text.contains(u"\n    <child/>"_s), qPrintable(text));
        if (!readable)
            return;

        XmlFile again;
        QVERIFY(again.load(file.path));
        QCOMPARE(attributeText(again.document.documentElement(), u"name"_s), u"李四…"_s);
        QCOMPARE(queryUnder(again.document, u"child"_s).count(), 1);
    }

    void newDocumentDeclaresUtf8()
    {
        QDomDocument document = newDocument();
        document.appendChild(document.createElement(u"task"_s));
        QVERIFY(document.toString(0).startsWith(u"<?xml version=\"1.0\" encoding=\"UTF-8\"?>"_s));
        QCOMPARE(queryUnder(document, u"task"_s).count(), 1);
    }

    void saveFailureKeepsOldFile_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("oldFile");
        QTest::addColumn<bool>("diskFull");

        QTest::newRow("parent is a regular file") << u"plain/doc.xml"_s << false << false;
        QTest::newRow("old file, disk full") << u"doc.xml"_s << true << true;
        QTest::newRow("target is a directory") << u"sub"_s << false << false;
    }

    void saveFailureKeepsOldFile()
    {
        QFETCH(QString, name);
        QFETCH(bool, oldFile);
        QFETCH(bool, diskFull);

        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QVERIFY(writeTestFile(dir.filePath(u"plain"_s), "plain file"));
        QVERIFY(QDir(dir.path()).mkdir(u"sub"_s));
        const QByteArray old = "<old/>\n";
        if (oldFile)
            QVERIFY(writeTestFile(dir.filePath(name), old));
        const QStringList before = treeOf(dir.path());

        XmlFile file(dir.filePath(name));
        file.document = newDocument();
        QDomElement root = file.document.createElement(u"new"_s);
        root.setAttribute(u"filler"_s, QString(5000, u'f'));
        file.document.appendChild(root);

        const auto save = [&] { return file.save(0); };
        const bool saved = diskFull ? withFullDisk(save) : save();
        QVERIFY(!saved);
        QCOMPARE(treeOf(dir.path()), before);  // nothing new, no temporary left behind
        if (oldFile)
            QCOMPARE(readTestFile(dir.filePath(name)), old);
    }
};

QTEST_GUILESS_MAIN(TestXmlFile)
#include "tst_xmlfile.moc"
