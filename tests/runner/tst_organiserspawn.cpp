// An organiser's program (a checker, an interactor) started again and again
// in its sandbox, as a slot does point after point: each start must find
// what the judge put in the folder just now, and nothing a start before it
// left outside the folder.

#include "runner.h"
#include "sandbox_linux.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <sys/wait.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

// Runs the folder's "prog" with arguments; its exit code, or -1.
int startIn(const QString &dir, const QStringList &arguments)
{
    SpawnSetup setup;
    setup.sandboxed = true;
    SpawnedProcess process;
    if (!process.start(u"prog"_s, arguments, dir, setup) || !process.waitForFinished(10000))
        return -1;
    return WIFEXITED(process.waitStatus()) ? WEXITSTATUS(process.waitStatus()) : -1;
}

bool writeFile(const QString &path, const QByteArray &bytes, bool executable = false)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        return false;
    file.close();
    return !executable || file.setPermissions(file.permissions() | QFile::ExeOwner | QFile::ExeOther);
}

// What the program does, by its first argument; exit 0 when it held.
const QByteArray Program = R"sh(#!/bin/sh
case "$1" in
    leave) echo left > /tmp/mark && echo left > /dev/shm/mark && echo result > /box/result.txt ;;
    fresh) test ! -e /tmp/mark && test ! -e /dev/shm/mark ;;
    holds) test "$(cat "/box/$2")" = "$3" ;;
    absent) test ! -e "/box/$2" ;;
    *) exit 2 ;;
esac
)sh";

QByteArray mountTable()
{
    QFile table(u"/proc/self/mountinfo"_s);
    return table.open(QIODevice::ReadOnly) ? table.readAll() : QByteArray();
}

} // namespace

class TestOrganiserSpawn : public QObject
{
    Q_OBJECT

private slots:
    void startsInOneFolder_data();
    void startsInOneFolder();
};

void TestOrganiserSpawn::startsInOneFolder_data()
{
    QTest::addColumn<bool>("ordinaryUser");
    QTest::newRow("judge as it is started") << false;
    if (::geteuid() == 0)
        QTest::newRow("judge as an ordinary user") << true;
}

void TestOrganiserSpawn::startsInOneFolder()
{
    QFETCH(bool, ordinaryUser);
    if (ordinaryUser) {
        // This test again, as "nobody", in a folder of its own.
        QTemporaryDir own;
        QVERIFY(::chown(QFile::encodeName(own.path()).constData(), 65534, 65534) == 0);
        QProcess judge;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"TMPDIR"_s, own.path());
        judge.setProcessEnvironment(environment);
        judge.start(u"setpriv"_s, {u"--reuid=65534"_s, u"--regid=65534"_s, u"--clear-groups"_s,
                                   QCoreApplication::applicationFilePath(), u"startsInOneFolder:judge as it is started"_s});
        QVERIFY(judge.waitForFinished(60000));
        QVERIFY2(judge.exitCode() == 0, judge.readAllStandardOutput().constData());
        return;
    }
    // Where it can, a judge that is not root starts them through the
    // namespaces it keeps in a user namespace of its own.
    if (::geteuid() != 0 && sandbox::available())
        QVERIFY(sandbox::judgeUserNamespace() >= 0);
    QTemporaryDir root;
    const QString dir = root.filePath(u"checker_work"_s);
    QVERIFY(QDir().mkpath(dir));
    QVERIFY(writeFile(dir + u"/prog"_s, Program, true));
    QVERIFY(writeFile(root.filePath(u"answer.txt"_s), "secret\n"));
    const QByteArray judgesView = mountTable();

    QCOMPARE(startIn(dir, {u"leave"_s}), 0);
    // Written into the folder, it reaches the judge; its scratch space does not
    // reach the next start.
    QVERIFY(QFileInfo::exists(dir + u"/result.txt"_s));
    QCOMPARE(startIn(dir, {u"fresh"_s}), 0);

    // What the judge copies in between starts is there, changed or removed.
    QVERIFY(writeFile(dir + u"/input.txt"_s, "1\n"));
    QCOMPARE(startIn(dir, {u"holds"_s, u"input.txt"_s, u"1"_s}), 0);
    QVERIFY(writeFile(dir + u"/input.txt"_s, "2\n"));
    QCOMPARE(startIn(dir, {u"holds"_s, u"input.txt"_s, u"2"_s}), 0);
    QVERIFY(QFile::remove(dir + u"/input.txt"_s));
    QCOMPARE(startIn(dir, {u"absent"_s, u"input.txt"_s}), 0);

    // A folder made anew under the same name (the next cell) is the one it sees.
    QVERIFY(QDir(dir).removeRecursively());
    QVERIFY(QDir().mkpath(dir));
    QVERIFY(writeFile(dir + u"/prog"_s, Program, true));
    QVERIFY(writeFile(dir + u"/input.txt"_s, "3\n"));
    QCOMPARE(startIn(dir, {u"holds"_s, u"input.txt"_s, u"3"_s}), 0);
    QCOMPARE(startIn(dir, {u"absent"_s, u"result.txt"_s}), 0);
    // Nothing beside the folder is in sight.
    QCOMPARE(startIn(dir, {u"absent"_s, u"../answer.txt"_s}), 0);
    QCOMPARE(startIn(dir, {u"bogus"_s}), 2);

    // The judge's own view of the file systems is as it was.
    QCOMPARE(mountTable(), judgesView);
}

QTEST_GUILESS_MAIN(TestOrganiserSpawn)
#include "tst_organiserspawn.moc"
