// Scratch and work directories the judge cannot empty, what earlier runs
// left in them, and answers it cannot copy.

#include "answersfixture.h"

#include "contest.h"
#include "dirs.h"
#include "gridcells.h"
#include "testcore.h"
#include "viewinfo.h"

#include <QDomDocument>
#include <QFile>
#include <QTest>

#include <cerrno>
#include <cstring>

using namespace Qt::StringLiterals;
using namespace answersfixture;

namespace {

// Stands for a file that cannot be deleted (held open elsewhere, say).
bool keepStuckFiles(const QString &path)
{
    if (!path.endsWith(u"/stuck"_s))
        return QFile::remove(path);
    errno = EBUSY;
    return false;
}

QString busy()
{
    return u": "_s + QString::fromLocal8Bit(std::strerror(EBUSY));
}

} // namespace

void TestAnswers::tmpDirectoryNotClearable_data()
{
    QTest::addColumn<bool>("tmpIsAFile");
    QTest::newRow("a file that stays") << false;
    QTest::newRow("a regular file in its place") << true;
}

void TestAnswers::tmpDirectoryNotClearable()
{
    QFETCH(bool, tmpIsAFile);
    // The note names what stayed and why.
    const QString note = u"临时目录无法清空: 011\n"_s
                         + (tmpIsAFile ? contest.tmpDir() + u": 路径中有一段不是目录"_s
                                       : contest.tmpDir() + u"/stuck"_s + busy());
    if (tmpIsAFile) {
        writeFile(contest.tmpDir(), "x");
    } else {
        writeFile(contest.tmpDir() + u"/stuck"_s, "x");
        setFileRemoverForTesting(keepStuckFiles);
    }
    submit(answerName(1, 1), "1\n");
    configure({10}, {1});
    judge();
    if (QTest::currentTestFailed())
        return;

    const QDomElement task = resultDocument().documentElement();
    QCOMPARE(task.attribute(u"score"_s), u"0"_s);
    QCOMPARE(task.attribute(u"time"_s), u"0"_s);
    QCOMPARE(task.attribute(u"state"_s), u"E"_s);
    QCOMPARE(task.firstChildElement(u"note"_s).text(), note);
    QVERIFY(task.firstChildElement(u"subtask"_s).isNull());
    QVERIFY(checkedAnswers().isEmpty());
    QCOMPARE(recorder->items.last(), (ScoreInfo{0, 0.0, 'E'}));
    QCOMPARE(recorder->rows.size(), 3);  // heading, failure, end of run
    QCOMPARE(recorder->rows[1].text, note);
}

// Hidden files, and directories holding them, left in the scratch directory
// by an earlier run are no reason to fail.
void TestAnswers::hiddenLeftoversInTmpRemoved()
{
    writeFile(contest.tmpDir() + u"/left/.stays"_s, "x");
    writeFile(contest.tmpDir() + u"/.x"_s, "x");
    submit(answerName(1, 1), "1\n");
    configure({10}, {1});
    judge();
    if (QTest::currentTestFailed())
        return;

    QCOMPARE(pointStates(), u"A"_s);
    QCOMPARE(recorder->items.last(), (ScoreInfo{10, 0.0, 'N'}));
    QVERIFY(!QFileInfo::exists(contest.tmpDir() + u"/left"_s));
    QVERIFY(!QFileInfo::exists(contest.tmpDir() + u"/.x"_s));
}

void TestAnswers::workDirectoryNotClearable()
{
    // The first point's checker leaves a file the judge cannot delete.
    setFileRemoverForTesting(keepStuckFiles);
    submit(answerName(1, 1), "1\nstuck\n");
    submit(answerName(1, 2), "1\n");
    submit(answerName(1, 3), "1\n");
    submit(answerName(2, 1), "1\n");
    configure({10, 5}, {3, 1});
    judge();
    if (QTest::currentTestFailed())
        return;

    const QList<ResultPoint> points = resultPoints();
    const QString note = u"临时目录无法清空: 012\n"_s + contest.threadWorkDir(0) + u"/stuck"_s + busy();
    QCOMPARE(pointStates(), u"AEIE"_s);
    QCOMPARE(points[1].note, note);
    QCOMPARE(points[1].ratio, u"0"_s);
    QCOMPARE(points[2].note, u"忽略"_s);
    QCOMPARE(points[3].note, note);
    QCOMPARE(checkedAnswers(), QStringList{answerName(1, 1)});
    QCOMPARE(recorder->items.last(), (ScoreInfo{0, 0.0, 'E'}));
}

// The first point's checker leaves hidden files (one inside a directory):
// the next point still starts from an empty work directory.
void TestAnswers::hiddenLeftoversInWorkDirectoryRemoved()
{
    submit(answerName(1, 1), "1\nhide\n");
    submit(answerName(1, 2), "0.5\n");
    submit(answerName(2, 1), "1\n");
    configure({10, 5}, {2, 1});
    judge();
    if (QTest::currentTestFailed())
        return;

    QCOMPARE(pointStates(), u"APA"_s);
    QCOMPARE(checkedAnswers(), (QStringList{answerName(1, 1), answerName(1, 2), answerName(2, 1)}));
    QCOMPARE(recorder->items.last(), (ScoreInfo{10, 0.0, 'N'}));
}

void TestAnswers::answerNotCopyable()
{
    // An answer named below a folder is found, but the work directory has
    // no such folder to take the copy.
    submit(answerName(1, 1), "1\n", u"in"_s);
    submit(answerName(1, 2), "1\n");
    submit(answerName(2, 1), "0.5\n");
    configure({10, 8}, {2, 1});
    const QString config = contest.problemConfigPath(Problem);
    QFile file(config);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray nested = file.readAll().replace("sub=\"1-1.out\"", "sub=\"in/1-1.out\"");
    file.close();
    writeFile(config, nested);
    judge();
    if (QTest::currentTestFailed())
        return;

    const QList<ResultPoint> points = resultPoints();
    QCOMPARE(pointStates(), u"EIP"_s);
    QCOMPARE(points[0].note, u"答案文件拷贝失败: 011"_s);
    QCOMPARE(points[0].ratio, u"0"_s);
    QCOMPARE(checkedAnswers(), QStringList{answerName(2, 1)});
    QCOMPARE(recorder->items.last(), (ScoreInfo{4, 0.0, 'E'}));
}
