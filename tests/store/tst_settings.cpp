#include "settings.h"
#include "testfiles.h"

#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

class TestSettings : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;

    QString path(const QString &name) const { return m_dir->filePath(name); }

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
    }

    void readLines_data()
    {
        QTest::addColumn<QByteArray>("content");  // empty: no file
        QTest::addColumn<QStringList>("lines");

        QTest::newRow("no file") << QByteArray() << QStringList{};
        QTest::newRow("empty file") << QByteArray("", 0) << QStringList{};
        QTest::newRow("lines ended by breaks") << QByteArray("/a\n/b\n") << QStringList{u"/a"_s, u"/b"_s};
        QTest::newRow("last line without break") << QByteArray("/a\n/b") << QStringList{u"/a"_s, u"/b"_s};
        QTest::newRow("empty lines kept") << QByteArray("/a\n\n \n/b\n") << QStringList{u"/a"_s, u""_s, u""_s, u"/b"_s};
        QTest::newRow("white space trimmed, CRLF") << QByteArray("  /a b  \r\n\t/c\r\n")
                                                   << QStringList{u"/a b"_s, u"/c"_s};
        QTest::newRow("cut at NUL") << QByteArray("/a\0junk\n\0\n", 10) << QStringList{u"/a"_s, u""_s};
        QTest::newRow("UTF-8") << u"/比赛/一\n"_s.toUtf8() << QStringList{u"/比赛/一"_s};
    }

    void readLines()
    {
        QFETCH(QByteArray, content);
        QFETCH(QStringList, lines);
        const QString file = path(u"lines.cfg"_s);
        if (!content.isNull())
            QVERIFY(writeTestFile(file, content));
        QCOMPARE(Settings::readLines(file), lines);
        QCOMPARE(Settings::readHistory(file), lines);
        QCOMPARE(Settings::readLastContest(file), lines.value(0));
    }

    void readLinesFromDirectory()
    {
        QVERIFY(Settings::readLines(m_dir->path()).isEmpty());
        QVERIFY(Settings::readGeometry(m_dir->path()).isEmpty());
    }

    void writeLines()
    {
        const QString file = path(u"history.cfg"_s);
        const QStringList entries{u"/c/两"_s, QString(), u"/c/b "_s};
        QVERIFY(Settings::writeHistory(entries, file));
        QCOMPARE(readTestFile(file), u"/c/两\n\n/c/b \n"_s.toUtf8());
        QVERIFY(Settings::writeLines(file, {}));
        QCOMPARE(readTestFile(file), QByteArray());
    }

    void recordHistory_data()
    {
        QTest::addColumn<QByteArray>("content");  // empty: no file
        QTest::addColumn<QString>("entry");
        QTest::addColumn<bool>("rewritten");
        QTest::addColumn<QByteArray>("after");

        QTest::newRow("first entry") << QByteArray() << u"/c/a"_s << true << QByteArray("/c/a\n");
        QTest::newRow("new entry goes first") << QByteArray("/c/a\n/c/b\n") << u"/c/n"_s << true
                                              << QByteArray("/c/n\n/c/a\n/c/b\n");
        QTest::newRow("known entry keeps its place, file untouched")
            << QByteArray("/c/a\n  /c/b  \n") << u"/c/b"_s << false << QByteArray("/c/a\n  /c/b  \n");
        QTest::newRow("letter case makes another entry") << QByteArray("/c/A\n") << u"/c/a"_s << true
                                                         << QByteArray("/c/a\n/c/A\n");
        QTest::newRow("trailing separator makes another entry") << QByteArray("/c/a\n") << u"/c/a/"_s << true
                                                                << QByteArray("/c/a/\n/c/a\n");
    }

    void recordHistory()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, entry);
        QFETCH(bool, rewritten);
        QFETCH(QByteArray, after);
        const QString file = path(u"history.cfg"_s);
        if (!content.isEmpty())
            QVERIFY(writeTestFile(file, content));
        QCOMPARE(Settings::recordHistory(entry, file), rewritten);
        QCOMPARE(readTestFile(file), after);
    }

    void lastContest()
    {
        const QString file = path(u"last.cfg"_s);
        QCOMPARE(Settings::readLastContest(file), QString());
        Settings::writeLastContest(u"/c/比赛 1"_s, file);
        QCOMPARE(readTestFile(file), u"/c/比赛 1"_s.toUtf8());
        QCOMPARE(Settings::readLastContest(file), u"/c/比赛 1"_s);
        Settings::writeLastContest(u"/d"_s, file);
        QCOMPARE(Settings::readLastContest(file), u"/d"_s);
    }

    void jobs_data()
    {
        QTest::addColumn<QByteArray>("content");  // null: no file
        QTest::addColumn<int>("jobs");

        QTest::newRow("no file") << QByteArray() << 1;
        QTest::newRow("written by the window") << QByteArray("2\n") << 2;
        QTest::newRow("white space, no break") << QByteArray(" 16 ") << 16;
        QTest::newRow("zero") << QByteArray("0\n") << 1;
        QTest::newRow("negative") << QByteArray("-3\n") << 1;
        QTest::newRow("not a number") << QByteArray("two\n") << 1;
        QTest::newRow("fraction") << QByteArray("1.5\n") << 1;
        QTest::newRow("beyond int") << QByteArray("99999999999\n") << 1;
        QTest::newRow("empty first line") << QByteArray("\n4\n") << 1;
    }

    void jobs()
    {
        QFETCH(QByteArray, content);
        QFETCH(int, jobs);
        const QString file = path(u"jobs.cfg"_s);
        if (!content.isNull())
            QVERIFY(writeTestFile(file, content));
        QCOMPARE(Settings::readJobs(file), jobs);
        QVERIFY(Settings::writeJobs(3, file));
        QCOMPARE(Settings::readJobs(file), 3);
    }

    void geometry_data()
    {
        QTest::addColumn<QByteArray>("geometry");

        QTest::newRow("plain") << QByteArray("\x01\xd9\xd0\xcb\x00\x03", 6);
        QTest::newRow("every byte") << [] {
            QByteArray all;
            for (int i = 0; i < 256; ++i)
                all += char(i);
            return all;
        }();
        QTest::newRow("empty") << QByteArray();
    }

    void geometry()
    {
        QFETCH(QByteArray, geometry);
        const QString file = path(u"geo.cfg"_s);
        QCOMPARE(Settings::readGeometry(file), QByteArray());
        Settings::writeGeometry(geometry, file);
        QCOMPARE(Settings::readGeometry(file), geometry);
        // The INI general section, readable by any QSettings.
        QSettings ini(file, QSettings::IniFormat);
        QCOMPARE(ini.childGroups(), QStringList{});
        QCOMPARE(ini.value(u"geometry"_s).toByteArray(), geometry);
        QVERIFY(readTestFile(file).startsWith("[General]\ngeometry="));
    }

    void writeFailuresAreQuiet()
    {
        QVERIFY(writeTestFile(path(u"plain"_s), "x"));
        const QString inside = path(u"plain/f.cfg"_s);
        QVERIFY(!Settings::writeLines(inside, {u"a"_s}));
        QVERIFY(!Settings::recordHistory(u"/c"_s, inside));
        Settings::writeLastContest(u"/c"_s, inside);
        Settings::writeGeometry("g", inside);
        QVERIFY(!Settings::writeJobs(2, inside));
        QCOMPARE(Settings::readJobs(inside), 1);
        QCOMPARE(Settings::readLastContest(inside), QString());
        QCOMPARE(Settings::readGeometry(inside), QByteArray());
        QCOMPARE(treeOf(m_dir->path()), QStringList{u"plain"_s});

        // A history that cannot be rewritten stays as it was.
        const QString history = path(u"history.cfg"_s);
        QVERIFY(writeTestFile(history, "/c/a\n"));
        const QString big(8192, u'n');
        QVERIFY(!withFullDisk([&] { return Settings::recordHistory(big, history); }));
        QCOMPARE(readTestFile(history), QByteArray("/c/a\n"));
    }
};

QTEST_GUILESS_MAIN(TestSettings)
#include "tst_settings.moc"
