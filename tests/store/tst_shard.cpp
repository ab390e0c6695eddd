// Shards: how players are dealt out, the record each shard leaves, and the
// result files read as the final word on every cell.

#include "contest.h"
#include "contestfiles.h"
#include "resultcheck.h"
#include "shard.h"
#include "shardrecord.h"
#include "testfiles.h"

#include <QDateTime>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>

#include <sys/stat.h>

using namespace Qt::StringLiterals;

namespace {

QByteArray resultXml(const char *task)
{
    return QByteArray("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n") + task + '\n';
}

const QByteArray GoodResult = resultXml(
    "<task score=\"60\" time=\"0.25\" state=\"N\"><subtask score=\"60\">"
    "<point ratio=\"1\" state=\"A\" note=\"\"/></subtask></task>");

ShardRecord sampleRecord(ShardPart part)
{
    ShardRecord record;
    record.shard = part;
    record.host = u"node-%1"_s.arg(part.index);
    record.cpuModel = u"AMD EPYC 7B13 \"64-Core\""_s;
    record.version = u"0.5.0"_s;
    record.calibration = 0.0251;
    record.state = ShardRecord::State::Done;
    record.started = QDateTime(QDate(2026, 3, 1), QTime(8, 30, 5), Qt::UTC);
    record.finished = record.started.addSecs(95);
    record.cells = 12;
    record.judged = 11;
    record.cpuSeconds = 31.5;
    record.wallSeconds = 95.25;
    return record;
}

} // namespace

class TestShard : public QObject, public ContestFixture
{
    Q_OBJECT

private slots:
    void init() { QVERIFY(renewContest()); }

    void parse_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<int>("index");
        QTest::addColumn<int>("count");
        QTest::newRow("first of three") << u"0/3"_s << true << 0 << 3;
        QTest::newRow("last of three") << u"2/3"_s << true << 2 << 3;
        QTest::newRow("the only one") << u"0/1"_s << true << 0 << 1;
        QTest::newRow("leading zeros") << u"007/010"_s << true << 7 << 10;
        QTest::newRow("the most shards") << u"999999/1000000"_s << true << 999999 << 1000000;
        QTest::newRow("index equal to count") << u"3/3"_s << false << 0 << 0;
        QTest::newRow("index beyond count") << u"5/3"_s << false << 0 << 0;
        QTest::newRow("no shards") << u"0/0"_s << false << 0 << 0;
        QTest::newRow("negative index") << u"-1/3"_s << false << 0 << 0;
        QTest::newRow("negative count") << u"1/-3"_s << false << 0 << 0;
        QTest::newRow("plus sign") << u"+1/3"_s << false << 0 << 0;
        QTest::newRow("too many shards") << u"0/1000001"_s << false << 0 << 0;
        QTest::newRow("beyond an int") << u"0/99999999999"_s << false << 0 << 0;
        QTest::newRow("letters") << u"a/b"_s << false << 0 << 0;
        QTest::newRow("hexadecimal") << u"0x1/3"_s << false << 0 << 0;
        QTest::newRow("no count") << u"1/"_s << false << 0 << 0;
        QTest::newRow("no index") << u"/3"_s << false << 0 << 0;
        QTest::newRow("a number alone") << u"3"_s << false << 0 << 0;
        QTest::newRow("three numbers") << u"1/3/4"_s << false << 0 << 0;
        QTest::newRow("space before") << u" 1/3"_s << false << 0 << 0;
        QTest::newRow("space inside") << u"1 /3"_s << false << 0 << 0;
        QTest::newRow("line break after") << u"1/3\n"_s << false << 0 << 0;
        QTest::newRow("Slurm's unset variables") << u"/"_s << false << 0 << 0;
        QTest::newRow("a fraction") << u"1.0/3"_s << false << 0 << 0;
        QTest::newRow("full-width digits") << u"１/３"_s << false << 0 << 0;
        QTest::newRow("empty") << QString() << false << 0 << 0;
    }

    void parse()
    {
        QFETCH(QString, text);
        QFETCH(bool, valid);
        QFETCH(int, index);
        QFETCH(int, count);
        ShardPart part{42, 43};
        QCOMPARE(parseShard(text, part), valid);
        if (valid) {
            QCOMPARE(part, (ShardPart{index, count}));
            QCOMPARE(shardText(part), u"%1/%2"_s.arg(index).arg(count));
        } else {
            QCOMPARE(part, (ShardPart{42, 43}));  // untouched
        }
    }

    // Whatever the players and the number of shards: every player in exactly
    // one shard, shards as even as can be, each in name order, and the same
    // shards for the players listed in any order.
    void assignment_data()
    {
        QTest::addColumn<QStringList>("players");
        QTest::addColumn<int>("count");
        QStringList forty;
        for (int i = 1; i <= 40; ++i)
            forty.append(u"p%1"_s.arg(i, 2, 10, QLatin1Char('0')));
        QTest::newRow("40 players, 3 shards") << forty << 3;
        QTest::newRow("40 players, 1 shard") << forty << 1;
        QTest::newRow("40 players, 40 shards") << forty << 40;
        QTest::newRow("more shards than players") << forty.mid(0, 5) << 8;
        QTest::newRow("no players") << QStringList() << 3;
        QTest::newRow("names equal but for case")
            << QStringList{u"b"_s, u"A"_s, u"c"_s, u"B"_s, u"a"_s} << 2;
        QTest::newRow("Chinese and spaces")
            << QStringList{u"张三"_s, u"李 四"_s, u"std"_s, u"王五"_s, u"p 01"_s, u"Ω"_s, u"p01"_s} << 3;
    }

    void assignment()
    {
        QFETCH(QStringList, players);
        QFETCH(int, count);
        QStringList sorted = players;
        std::sort(sorted.begin(), sorted.end(), folderNameBefore);
        QStringList shuffled = players;
        std::shuffle(shuffled.begin(), shuffled.end(), *QRandomGenerator::global());

        QStringList dealt;
        qsizetype least = players.size();
        qsizetype most = 0;
        for (int k = 0; k < count; ++k) {
            const QStringList mine = shardPlayers(players, ShardPart{k, count});
            QCOMPARE(shardPlayers(shuffled, ShardPart{k, count}), mine);
            QStringList inOrder = mine;
            std::sort(inOrder.begin(), inOrder.end(), folderNameBefore);
            QCOMPARE(mine, inOrder);
            // Round robin over the name order: the k-th name is the shard's first.
            if (!mine.isEmpty())
                QCOMPARE(mine.first(), sorted.at(k));
            dealt += mine;
            least = qMin(least, mine.size());
            most = qMax(most, mine.size());
        }
        QVERIFY2(most - least <= 1, qPrintable(u"%1 to %2 players a shard"_s.arg(least).arg(most)));
        std::sort(dealt.begin(), dealt.end(), folderNameBefore);
        QCOMPARE(dealt, sorted);
    }

    void caseOrderDeal()
    {
        // A before a-with-capital B before b: the folder listing's order.
        const QStringList players{u"b"_s, u"A"_s, u"c"_s, u"B"_s};
        QCOMPARE(shardPlayers(players, ShardPart{0, 2}), (QStringList{u"A"_s, u"b"_s}));
        QCOMPARE(shardPlayers(players, ShardPart{1, 2}), (QStringList{u"B"_s, u"c"_s}));
    }

    void names()
    {
        m_contest.tmpDirName = u"elsewhere"_s;  // the lock stays in the contest's tmp/
        const ShardPart part{2, 12};
        QCOMPARE(shardScratchName(part), u"tmp/shard-2-of-12"_s);
        QCOMPARE(shardLockPath(m_contest, part), m_dir->path() + u"/tmp/shard-2-of-12.lock"_s);
        QCOMPARE(shardRecordPath(m_contest, part), m_dir->path() + u"/result/.shard-2-of-12.xml"_s);
    }

    void recordRoundTrip_data()
    {
        QTest::addColumn<int>("state");
        QTest::newRow("done") << int(ShardRecord::State::Done);
        QTest::newRow("stopped") << int(ShardRecord::State::Stopped);
        QTest::newRow("running") << int(ShardRecord::State::Running);
    }

    void recordRoundTrip()
    {
        QFETCH(int, state);
        ShardRecord record = sampleRecord(ShardPart{1, 3});
        record.state = ShardRecord::State(state);
        if (record.state == ShardRecord::State::Running)
            record.finished = QDateTime();
        QVERIFY(writeShardRecord(m_contest, record));
        ShardRecord read;
        QCOMPARE(readShardRecord(shardRecordPath(m_contest, record.shard), read), QString());
        QCOMPARE(read, record);
        // Nothing of where the contest lies on this machine.
        QVERIFY(!readTestFile(shardRecordPath(m_contest, record.shard)).contains(m_dir->path().toUtf8()));
    }

    void unknownCalibration()
    {
        ShardRecord record = sampleRecord(ShardPart{0, 1});
        record.calibration = -1.0;
        QVERIFY(writeShardRecord(m_contest, record));
        ShardRecord read;
        QCOMPARE(readShardRecord(shardRecordPath(m_contest, record.shard), read), QString());
        QVERIFY(read.calibration < 0);
    }

    // Records are read by shard count, then index; a file under a record's
    // name that holds none, or another shard's, is named and left out.
    void recordListing()
    {
        for (const ShardPart part : {ShardPart{2, 3}, ShardPart{0, 3}, ShardPart{1, 2}, ShardPart{1, 3}})
            QVERIFY(writeShardRecord(m_contest, sampleRecord(part)));
        const QString results = m_contest.resultDir() + u'/';
        QVERIFY(writeTestFile(results + u".shard-0-of-2.xml"_s, "<shard index=\"0\""));
        QVERIFY(writeTestFile(results + u".shard-4-of-5.xml"_s, "<?xml version=\"1.0\"?>\n<task/>\n"));
        QVERIFY(QFile::copy(results + u".shard-2-of-3.xml"_s, results + u".shard-3-of-4.xml"_s));
        QVERIFY(writeTestFile(results + u".shard-7-of-8.xml"_s,
                              readTestFile(results + u".shard-2-of-3.xml"_s)
                                  .replace("index=\"2\"", "index=\"9\"")
                                  .replace("count=\"3\"", "count=\"8\"")));
        QVERIFY(writeTestFile(results + u"shard-0-of-9.xml"_s, "not a record's name"));

        QStringList unreadable;
        const QList<ShardRecord> records = readShardRecords(m_contest, &unreadable);
        QStringList shards;
        for (const ShardRecord &record : records)
            shards.append(shardText(record.shard));
        QCOMPARE(shards, (QStringList{u"1/2"_s, u"0/3"_s, u"1/3"_s, u"2/3"_s}));
        unreadable.sort();
        QCOMPARE(unreadable, (QStringList{u".shard-0-of-2.xml"_s, u".shard-3-of-4.xml"_s,
                                          u".shard-4-of-5.xml"_s, u".shard-7-of-8.xml"_s}));
    }

    void recordFaults_data()
    {
        QTest::addColumn<QByteArray>("content");
        const QByteArray good = "<shard index=\"0\" count=\"1\" host=\"h\" cpu=\"c\" version=\"v\" "
                                "calibration=\"0.02\" state=\"done\" started=\"\" finished=\"\" "
                                "cells=\"1\" judged=\"1\" cputime=\"1\" walltime=\"2\"/>";
        QTest::newRow("cut short") << good.left(40);
        QTest::newRow("count zero") << QByteArray(good).replace("count=\"1\"", "count=\"0\"");
        QTest::newRow("index beyond") << QByteArray(good).replace("index=\"0\"", "index=\"1\"");
        QTest::newRow("no calibration") << QByteArray(good).replace("calibration=\"0.02\"", "");
        QTest::newRow("calibration not a number") << QByteArray(good).replace("0.02", "fast");
        QTest::newRow("infinite CPU time") << QByteArray(good).replace("cputime=\"1\"", "cputime=\"inf\"");
        QTest::newRow("negative cells") << QByteArray(good).replace("cells=\"1\"", "cells=\"-1\"");
        QTest::newRow("unknown state") << QByteArray(good).replace("done", "finished");
        QTest::newRow("empty") << QByteArray();
    }

    void recordFaults()
    {
        QFETCH(QByteArray, content);
        const QString path = m_contest.resultDir() + u"/.shard-0-of-1.xml"_s;
        QVERIFY(writeTestFile(path, content));
        ShardRecord record = sampleRecord(ShardPart{0, 1});
        const ShardRecord before = record;
        QVERIFY(!readShardRecord(path, record).isEmpty());
        QCOMPARE(record, before);
    }

    void resultFaults_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("usable");
        QTest::addColumn<int>("score");
        QTest::addColumn<char>("state");
        QTest::newRow("judged") << GoodResult << true << 60 << 'N';
        QTest::newRow("compile error")
            << resultXml("<task score=\"0\" time=\"0\" state=\"C\"><note>编译错误</note></task>") << true << 0 << 'C';
        QTest::newRow("judge error") << resultXml("<task score=\"0\" time=\"0\" state=\"E\"/>") << true << 0 << 'E';
        QTest::newRow("empty file") << QByteArray() << false << 0 << ' ';
        QTest::newRow("cut off mid-write") << GoodResult.left(GoodResult.size() / 2) << false << 0 << ' ';
        QTest::newRow("not XML") << QByteArray("score 60\n") << false << 0 << ' ';
        QTest::newRow("another root") << resultXml("<problem score=\"60\" time=\"0\" state=\"N\"/>") << false
                                      << 0 << ' ';
        QTest::newRow("no state") << resultXml("<task score=\"60\" time=\"0\"/>") << false << 0 << ' ';
        QTest::newRow("being judged") << resultXml("<task score=\"0\" time=\"0\" state=\"?\"/>") << false << 0 << ' ';
        QTest::newRow("untested") << resultXml("<task score=\"0\" time=\"0\" state=\" \"/>") << false << 0 << ' ';
        QTest::newRow("state of two letters") << resultXml("<task score=\"0\" time=\"0\" state=\"NN\"/>") << false
                                              << 0 << ' ';
        QTest::newRow("a point's state") << resultXml("<task score=\"0\" time=\"0\" state=\"A\"/>") << false << 0
                                         << ' ';
        QTest::newRow("score not a number") << resultXml("<task score=\"many\" time=\"0\" state=\"N\"/>") << false
                                            << 0 << ' ';
        QTest::newRow("no score") << resultXml("<task time=\"0\" state=\"N\"/>") << false << 0 << ' ';
        QTest::newRow("negative time") << resultXml("<task score=\"1\" time=\"-1\" state=\"N\"/>") << false << 0
                                       << ' ';
        QTest::newRow("time not finite") << resultXml("<task score=\"1\" time=\"nan\" state=\"N\"/>") << false
                                         << 0 << ' ';
    }

    void resultFaults()
    {
        QFETCH(QByteArray, content);
        QFETCH(bool, usable);
        QFETCH(int, score);
        QFETCH(char, state);
        const QString path = m_contest.resultFilePath(u"p"_s, u"a"_s);
        QVERIFY(writeTestFile(path, content));
        ScoreInfo info{-5, -5.0, 'x'};
        const QString fault = resultFileFault(path, info);
        QCOMPARE(fault.isEmpty(), usable);
        if (usable) {
            QCOMPARE(info.score, score);
            QCOMPARE(info.state, state);
        } else {
            QCOMPARE(info, (ScoreInfo{-5, -5.0, 'x'}));
        }
    }

    // Never opened: a FIFO would hold the merge up for good.
    void resultIsNoFile_data()
    {
        QTest::addColumn<bool>("fifo");
        QTest::addColumn<QString>("reason");
        QTest::newRow("a folder") << false << u"不是普通文件（目录）"_s;
        QTest::newRow("a FIFO") << true << u"不是普通文件（命名管道）"_s;
    }

    void resultIsNoFile()
    {
        QFETCH(bool, fifo);
        QFETCH(QString, reason);
        const QString path = m_contest.resultFilePath(u"p"_s, u"a"_s);
        QVERIFY(QDir().mkpath(fifo ? m_contest.resultProblemDir(u"a"_s) : path));
        if (fifo)
            QVERIFY(::mkfifo(QFile::encodeName(path).constData(), 0644) == 0);
        ScoreInfo info;
        QCOMPARE(resultFileFault(path, info), reason);
        QVERIFY(writeShardRecord(m_contest, sampleRecord(ShardPart{0, 1})));
        const QString record = shardRecordPath(m_contest, ShardPart{1, 2});
        QVERIFY(::mkfifo(QFile::encodeName(record).constData(), 0644) == 0);
        QStringList unreadable;
        QCOMPARE(readShardRecords(m_contest, &unreadable).size(), 1);
        QCOMPARE(unreadable, QStringList{u".shard-1-of-2.xml"_s});
        // Nor is a FIFO at the list's name read: it is replaced.
        QVERIFY(::mkfifo(QFile::encodeName(m_contest.resultListPath()).constData(), 0644) == 0);
        QVERIFY(replaceResultList(m_contest, {{u"p"_s, u"a"_s, ScoreInfo()}}));
        QCOMPARE(readTestFile(m_contest.resultListPath()), QByteArray("p/a/0/0/ /\n"));
    }

    // Cells missing, unusable or present, and what lies under result/ besides.
    void check()
    {
        m_contest.playerNames = {u"z"_s, u"A"_s, u"m"_s};
        m_contest.problemNames = {u"two"_s, u"one"_s};
        const QString results = m_contest.resultDir() + u'/';
        QVERIFY(writeTestFile(results + u"two/A.res"_s, GoodResult));
        QVERIFY(writeTestFile(results + u"one/A.res"_s, resultXml("<task score=\"0\" time=\"0\" state=\"C\"/>")));
        QVERIFY(writeTestFile(results + u"two/m.res"_s, "<task score=\"5\""));
        QVERIFY(writeTestFile(results + u"one/z.res"_s, GoodResult));
        // Not the contest's cells, or not whole: all extra.
        QVERIFY(writeTestFile(results + u"one/ghost.res"_s, GoodResult));
        QVERIFY(writeTestFile(results + u"one/z.res.3kq9x1"_s, GoodResult.left(20)));
        QVERIFY(writeTestFile(results + u"old/z.res"_s, GoodResult));
        QVERIFY(writeTestFile(results + u"notes.txt"_s, "mine"));
        // The judge's own.
        QVERIFY(writeTestFile(results + u".reslist"_s, "A/two/60/0.25/N/\n"));
        QVERIFY(writeShardRecord(m_contest, sampleRecord(ShardPart{0, 2})));

        const ResultCheck check = checkResultFiles(m_contest);
        QStringList cells;
        for (const CellResult &cell : check.cells)
            cells.append(u"%1/%2/%3/%4"_s.arg(cell.player, cell.problem).arg(cell.info.score).arg(QLatin1Char(cell.info.state)));
        // Players in name order, problems in contest order; unusable and missing ones untested.
        QCOMPARE(cells, (QStringList{u"A/two/60/N"_s, u"A/one/0/C"_s, u"m/two/0/ "_s, u"m/one/0/ "_s,
                                     u"z/two/0/ "_s, u"z/one/60/N"_s}));
        QCOMPARE(check.missing, (QStringList{u"m/one"_s, u"z/two"_s}));
        QCOMPARE(check.unreadable.size(), 1);
        QCOMPARE(check.unreadable.first().cell, u"m/two"_s);
        QVERIFY(check.unreadable.first().reason.startsWith(u"XML 格式错误"_s));
        QStringList extra = check.extra;
        extra.sort();
        QCOMPARE(extra, (QStringList{u"notes.txt"_s, u"old"_s, u"one/ghost.res"_s, u"one/z.res.3kq9x1"_s}));
        QVERIFY(!check.complete());
        QCOMPARE(check.summaries().value(u"A/two"_s), (ScoreInfo{60, 0.25, 'N'}));
        QCOMPARE(check.summaries().size(), 6);
    }

    void completeCheck()
    {
        m_contest.playerNames = {u"a"_s};
        m_contest.problemNames = {u"x"_s};
        QVERIFY(writeTestFile(m_contest.resultFilePath(u"a"_s, u"x"_s), GoodResult));
        const ResultCheck check = checkResultFiles(m_contest);
        QVERIFY(check.complete());
        QVERIFY(check.extra.isEmpty());
    }

    // Written only when the lines change; a link at the list's name is
    // replaced, never written through.
    void replaceList()
    {
        const QList<CellResult> cells{{u"a"_s, u"x"_s, ScoreInfo{60, 0.25, 'N'}},
                                      {u"b"_s, u"x"_s, ScoreInfo()}};
        const QByteArray expected = "a/x/60/0.25/N/\nb/x/0/0/ /\n";
        bool changed = false;
        QVERIFY(replaceResultList(m_contest, cells, &changed));
        QVERIFY(changed);
        QCOMPARE(readTestFile(m_contest.resultListPath()), expected);

        const QByteArray name = QFile::encodeName(m_contest.resultListPath());
        struct stat before;
        QVERIFY(::stat(name.constData(), &before) == 0);
        QVERIFY(replaceResultList(m_contest, cells, &changed));
        QVERIFY(!changed);
        struct stat after;
        QVERIFY(::stat(name.constData(), &after) == 0);
        QCOMPARE(after.st_ino, before.st_ino);  // not replaced
        QCOMPARE(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);

        QVERIFY(writeTestFile(m_contest.resultListPath(), "a/x/0/0/ /\n"));
        QVERIFY(replaceResultList(m_contest, cells, &changed));
        QVERIFY(changed);
        QCOMPARE(readTestFile(m_contest.resultListPath()), expected);

        const QString elsewhere = m_dir->path() + u"/elsewhere"_s;
        QVERIFY(writeTestFile(elsewhere, expected));
        QVERIFY(QFile::remove(m_contest.resultListPath()));
        QVERIFY(QFile::link(elsewhere, m_contest.resultListPath()));
        QVERIFY(replaceResultList(m_contest, {cells.first()}, &changed));
        QVERIFY(changed);
        QVERIFY(!QFileInfo(m_contest.resultListPath()).isSymLink());
        QCOMPARE(readTestFile(elsewhere), expected);
        QCOMPARE(readTestFile(m_contest.resultListPath()), QByteArray("a/x/60/0.25/N/\n"));
    }

    void unwritableList()
    {
        // The result folder's place is taken by a file.
        QVERIFY(writeTestFile(m_contest.resultDir(), "a file"));
        QVERIFY(!replaceResultList(m_contest, {{u"a"_s, u"x"_s, ScoreInfo()}}));
    }
};

QTEST_GUILESS_MAIN(TestShard)
#include "tst_shard.moc"
