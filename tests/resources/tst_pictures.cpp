// The window draws with these pictures at fixed offsets, so each must load
// from the resource file at exactly its size.

#include <QImage>
#include <QImageReader>
#include <QSet>
#include <QTest>

class TestPictures : public QObject
{
    Q_OBJECT

private slots:
    void sizes_data();
    void sizes();
    void applicationIcon();
    void shadesUnderText();
};

void TestPictures::sizes_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QSize>("size");
    QTest::newRow("about") << u"T4_2.png"_qs << QSize(128, 128);
    for (int day = 1; day <= 7; ++day) {
        const QString name = QStringLiteral("dir%1.png").arg(day);
        QTest::newRow(qPrintable(name)) << name << QSize(120, 92);
    }
    QTest::newRow("history scroll track") << u"his-scroll.png"_qs << QSize(4, 57);
    QTest::newRow("remove box") << u"remove-icon.png"_qs << QSize(113, 88);
    QTest::newRow("remove menu") << u"remove.png"_qs << QSize(128, 128);
    QTest::newRow("select menu") << u"select-icon.png"_qs << QSize(128, 128);
    QTest::newRow("unselect menu") << u"unselect-icon.png"_qs << QSize(128, 128);
    QTest::newRow("selected cell") << u"select.png"_qs << QSize(443, 154);
    QTest::newRow("selected failed cell") << u"se.png"_qs << QSize(443, 154);
    QTest::newRow("cell overlay") << u"fore.png"_qs << QSize(88, 28);
    QTest::newRow("first column shadow") << u"shadow.png"_qs << QSize(88, 28);
    QTest::newRow("name shade") << u"fores.png"_qs << QSize(1, 28);
    QTest::newRow("subtask frame") << u"forest.png"_qs << QSize(44, 22);
    QTest::newRow("row shade") << u"forep.png"_qs << QSize(1, 22);
    QTest::newRow("heading shade") << u"forep_s.png"_qs << QSize(1, 22);
}

void TestPictures::sizes()
{
    QFETCH(QString, name);
    QFETCH(QSize, size);
    const QImage image(u":/icon/"_qs + name);
    QVERIFY2(!image.isNull(), qPrintable(name));
    QCOMPARE(image.size(), size);
}

void TestPictures::applicationIcon()
{
    QImageReader reader(u":/icon/T4.ico"_qs);
    QSet<int> sides;
    for (int i = 0; i < reader.imageCount(); ++i) {
        QVERIFY(reader.jumpToImage(i));
        const QImage image = reader.read();
        QVERIFY2(!image.isNull(), qPrintable(reader.errorString()));
        QCOMPARE(image.width(), image.height());
        sides.insert(image.width());
    }
    QCOMPARE(sides, (QSet<int>{256, 48, 32, 16}));
}

// Text is drawn straight on the name shade, and the detail frame must let the
// point colours show through its last column.
void TestPictures::shadesUnderText()
{
    const QImage shade = QImage(u":/icon/fores.png"_qs).convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < shade.height(); ++y)
        QCOMPARE(qAlpha(shade.pixel(0, y)), 255);

    const QImage frame = QImage(u":/icon/forest.png"_qs).convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < frame.height(); ++y)
        QCOMPARE(qAlpha(frame.pixel(43, y)), 0);
}

QTEST_GUILESS_MAIN(TestPictures)
#include "tst_pictures.moc"
