// The store's own files read only when they are regular files: a FIFO or a
// device where one should be is answered at once, as an unreadable file.

#include "contestfiles.h"
#include "fileread.h"
#include "settings.h"
#include "testfiles.h"

#include <QTest>

using namespace Qt::StringLiterals;

namespace {

QString statusName(FileRead::Status status)
{
    switch (status) {
    case FileRead::Read:
        return u"read"_s;
    case FileRead::Missing:
        return u"missing"_s;
    case FileRead::NotRegular:
        return u"not regular"_s;
    case FileRead::Failed:
        return u"failed"_s;
    }
    return QString();
}

}  // namespace

class TestFileRead : public QObject, public ContestFixture
{
    Q_OBJECT

private slots:
    void init() { QVERIFY(renewContest()); }

    void readRegularFile_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("status");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("reason");

        QTest::newRow("regular file") << u"file"_s << u"read"_s << QByteArray("a\nb") << QString();
        QTest::newRow("empty file") << u"empty"_s << u"read"_s << QByteArray() << QString();
        QTest::newRow("link to a file") << u"link"_s << u"read"_s << QByteArray("a\nb") << QString();
        QTest::newRow("nothing there") << u"missing"_s << u"missing"_s << QByteArray() << u"文件不存在"_s;
        QTest::newRow("dangling link") << u"dangling"_s << u"missing"_s << QByteArray() << u"文件不存在"_s;
        QTest::newRow("path through a file") << u"through"_s << u"missing"_s << QByteArray()
                                             << u"文件不存在"_s;
        QTest::newRow("directory") << u"directory"_s << u"not regular"_s << QByteArray()
                                   << u"不是普通文件（目录）"_s;
        QTest::newRow("FIFO") << u"fifo"_s << u"not regular"_s << QByteArray()
                              << u"不是普通文件（命名管道）"_s;
        QTest::newRow("device") << u"device"_s << u"not regular"_s << QByteArray()
                                << u"不是普通文件（设备文件）"_s;
        QTest::newRow("name too long") << u"long"_s << u"failed"_s << QByteArray()
                                       << u"无法读取: 名称过长"_s;
    }

    void readRegularFile()
    {
        QFETCH(QString, kind);
        QFETCH(QString, status);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, reason);

        const QString file = m_dir->filePath(u"file"_s);
        QVERIFY(writeTestFile(file, "a\nb"));
        QString path = m_dir->filePath(kind);
        if (kind == u"empty"_s)
            QVERIFY(writeTestFile(path, QByteArray()));
        else if (kind == u"link"_s)
            QVERIFY(QFile::link(file, path));
        else if (kind == u"dangling"_s)
            QVERIFY(QFile::link(m_dir->filePath(u"gone"_s), path));
        else if (kind == u"through"_s)
            path = file + u"/inside"_s;
        else if (kind == u"directory"_s)
            QVERIFY(QDir().mkpath(path));
        else if (kind == u"fifo"_s)
            QVERIFY(makeFifo(path));
        else if (kind == u"device"_s)
            path = u"/dev/null"_s;
        else if (kind == u"long"_s)
            path = m_dir->filePath(overlongName());

        FileRead read;
        QVERIFY(returnsAtOnce(path, [&] { read = ::readRegularFile(path); }));
        QCOMPARE(statusName(read.status), status);
        QCOMPARE(read.bytes, bytes);
        QCOMPARE(read.reason(), reason);
    }

    // Every file the store reads, with a FIFO in its place: nothing waits,
    // and each reader answers as for a file it cannot read.
    void fifoInPlace_data()
    {
        QTest::addColumn<QString>("place");
        QTest::addColumn<QString>("answer");

        QTest::newRow("result file") << u"res"_s << u"untested"_s;
        QTest::newRow("problem configuration") << u"prb"_s << u"a: 不是普通文件（命名管道）"_s;
        QTest::newRow("result list") << u"reslist"_s << u"0 cached"_s;
        QTest::newRow("contest file") << u"qxj"_s << u"order a; rewritten as a file"_s;
        QTest::newRow("player list") << u"list"_s << u"list, 0 names"_s;
        QTest::newRow("imported player list") << u"import"_s << u"refused"_s;
        QTest::newRow("history") << u"history"_s << u"0 entries"_s;
        QTest::newRow("last contest") << u"last"_s << u"none"_s;
        QTest::newRow("jobs") << u"jobs"_s << u"1"_s;
        QTest::newRow("geometry") << u"geometry"_s << u"none; left alone"_s;
    }

    void fifoInPlace()
    {
        QFETCH(QString, place);
        QFETCH(QString, answer);

        const QString prb = u"<problem type=\"TRA_0_4\"><task/></problem>"_s;
        if (place != u"prb"_s)
            QVERIFY(writeTestFile(m_contest.problemConfigPath(u"a"_s), prb.toUtf8()));
        else
            QVERIFY(QDir().mkpath(m_contest.problemDir(u"a"_s)));
        const QString settings = m_dir->filePath(u"config"_s);
        const QHash<QString, QString> paths{
            {u"res"_s, m_contest.resultFilePath(u"p"_s, u"a"_s)},
            {u"prb"_s, m_contest.problemConfigPath(u"a"_s)},
            {u"reslist"_s, m_contest.resultListPath()},
            {u"qxj"_s, m_contest.contestFilePath()},
            {u"list"_s, m_contest.playerListPath()},
            {u"import"_s, m_dir->filePath(u"names.csv"_s)},
            {u"history"_s, settings + u"/history.cfg"_s},
            {u"last"_s, settings + u"/last.cfg"_s},
            {u"jobs"_s, settings + u"/jobs.cfg"_s},
            {u"geometry"_s, settings + u"/geo.cfg"_s},
        };
        const QString fifo = paths.value(place);
        QVERIFY(makeFifo(fifo));

        QString got;
        const auto read = [&] {
            if (place == u"res"_s) {
                got = m_contest.cellSummary(u"p"_s, u"a"_s).state == ScoreInfo().state ? u"untested"_s : u"?"_s;
            } else if (place == u"prb"_s) {
                m_contest.loadProblems();
                got = m_contest.problemNames.join(u',') + u": "_s
                      + m_contest.problemFaults.value(u"a"_s).reason;
            } else if (place == u"reslist"_s) {
                m_contest.loadResultList();
                got = QString::number(m_contest.cachedResults.size()) + u" cached"_s;
            } else if (place == u"qxj"_s) {
                m_contest.loadProblems();
                writeContestFile(m_contest, m_contest.problemNames);
                got = u"order "_s + m_contest.problemNames.join(u',')
                      + (QFileInfo(fifo).isFile() ? u"; rewritten as a file"_s : u"; still a FIFO"_s);
            } else if (place == u"list"_s) {
                m_contest.loadRealNames();
                got = (m_contest.hasPlayerList ? u"list, "_s : u"no list, "_s)
                      + QString::number(m_contest.realNames.size()) + u" names"_s;
            } else if (place == u"import"_s) {
                got = importPlayerList(m_contest, fifo) ? u"imported"_s : u"refused"_s;
                if (QFileInfo::exists(m_contest.playerListPath()))
                    got += u"; a list was made"_s;
            } else if (place == u"history"_s) {
                got = QString::number(Settings::readHistory(fifo).size()) + u" entries"_s;
            } else if (place == u"last"_s) {
                const QString last = Settings::readLastContest(fifo);
                got = last.isEmpty() ? u"none"_s : last;
            } else if (place == u"jobs"_s) {
                got = QString::number(Settings::readJobs(fifo));
            } else if (place == u"geometry"_s) {
                got = Settings::readGeometry(fifo).isEmpty() ? u"none"_s : u"some"_s;
                Settings::writeGeometry("g", fifo);
                struct stat info;
                got += ::stat(QFile::encodeName(fifo).constData(), &info) == 0 && S_ISFIFO(info.st_mode)
                           ? u"; left alone"_s
                           : u"; replaced"_s;
            }
        };
        QVERIFY2(returnsAtOnce(fifo, read), qPrintable(place));
        QCOMPARE(got, answer);
    }
};

QTEST_GUILESS_MAIN(TestFileRead)
#include "tst_fileread.moc"
